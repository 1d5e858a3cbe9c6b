#include "MeasurementFiles.h"

#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "Common/TraceLog.h"
#include "MovFrameRules.h"
#include "Platform/Paths.h"

namespace {
constexpr const char* kFolderPrefix = "measurement-";

// The process a measurement's folder belongs to, from its name
// "measurement-<pid>-XXXXXX"; 0 for a name of another form.
pid_t FolderOwner(const std::string& name) {
  const size_t prefix = std::char_traits<char>::length(kFolderPrefix);
  if (name.compare(0, prefix, kFolderPrefix) != 0) return 0;
  const size_t dash = name.find('-', prefix);
  if (dash == std::string::npos || dash == prefix) return 0;
  pid_t pid = 0;
  for (size_t i = prefix; i < dash; ++i) {
    if (name[i] < '0' || name[i] > '9' || pid > 99999999) return 0;
    pid = pid * 10 + (name[i] - '0');
  }
  return pid;
}

// A program that was killed while it measured could not remove its files
// (gigabytes): the folders of processes that no longer run go now.
void RemoveLeftFolders(const std::string& parent) {
  std::error_code ec;
  for (std::filesystem::directory_iterator it(parent, ec), end; !ec && it != end; it.increment(ec)) {
    const pid_t owner = FolderOwner(it->path().filename().string());
    std::error_code typeError;
    if (owner <= 0 || owner == getpid() || !it->is_directory(typeError) || it->is_symlink(typeError)) continue;
    if (kill(owner, 0) == 0 || errno != ESRCH) continue;  // still running, or not ours to judge
    std::error_code removeError;
    std::filesystem::remove_all(it->path(), removeError);
    TraceLog(TRC_MOV, "CMeasurementFiles::Create", "The files of an ended measurement were removed. [%s]",
             it->path().c_str());
  }
}
}  // namespace

std::string CMeasurementFiles::Create() {
  Remove();
  const std::string parent = GetLargeWorkFolder();
  if (parent.empty()) {
    TraceLogText(TRC_MOV, "CMeasurementFiles::Create", "The work folder for large files cannot be used.");
    return {};
  }
  RemoveLeftFolders(parent);
  // mkdtemp makes the folder 0700 with a name nobody could have taken; the
  // name carries this process, so a later one can tell a folder left behind.
  std::string folder = parent + kFolderPrefix + std::to_string(getpid()) + "-XXXXXX";
  if (!mkdtemp(folder.data())) {
    TraceLog(TRC_MOV, "CMeasurementFiles::Create", "The measurement's folder cannot be made in %s.", parent.c_str());
    return {};
  }
  m_strFolder = folder;
  return m_strFolder + "/" + kMeasurementFileName;
}

void CMeasurementFiles::Remove() { RemoveFolder(TakeFolder()); }

std::string CMeasurementFiles::TakeFolder() {
  std::string folder;
  folder.swap(m_strFolder);
  return folder;
}

void CMeasurementFiles::RemoveFolder(const std::string& folder) {
  if (folder.empty()) return;
  std::error_code ec;
  std::filesystem::remove_all(folder, ec);
  if (ec)
    TraceLog(TRC_MOV, "CMeasurementFiles::Remove", "The measurement's files cannot all be removed. %s [%s]",
             ec.message().c_str(), folder.c_str());
}

void CMeasurementFiles::RemoveEndedFolders() {
  const std::string parent = GetLargeWorkFolder();
  if (!parent.empty()) RemoveLeftFolders(parent);
}
