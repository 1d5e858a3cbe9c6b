#include "MeasurementFiles.h"

#include <stdlib.h>

#include <filesystem>
#include <system_error>

#include "Common/TraceLog.h"
#include "MovFrameRules.h"
#include "Platform/Paths.h"

std::string CMeasurementFiles::Create() {
  Remove();
  const std::string parent = GetLargeWorkFolder();
  if (parent.empty()) {
    TraceLogText(TRC_MOV, "CMeasurementFiles::Create", "The work folder for large files cannot be used.");
    return {};
  }
  // mkdtemp makes the folder 0700 with a name nobody could have taken.
  std::string folder = parent + "measurement-XXXXXX";
  if (!mkdtemp(folder.data())) {
    TraceLog(TRC_MOV, "CMeasurementFiles::Create", "The measurement's folder cannot be made in %s.", parent.c_str());
    return {};
  }
  m_strFolder = folder;
  return m_strFolder + "/" + kMeasurementFileName;
}

void CMeasurementFiles::Remove() {
  if (m_strFolder.empty()) return;
  std::error_code ec;
  std::filesystem::remove_all(m_strFolder, ec);
  if (ec)
    TraceLog(TRC_MOV, "CMeasurementFiles::Remove", "The measurement's files cannot all be removed. %s [%s]",
             ec.message().c_str(), m_strFolder.c_str());
  m_strFolder.clear();
}
