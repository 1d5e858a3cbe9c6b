#include "FileTransfer.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "AnsiText.h"
#include "Text/FotaviStrings.h"
#include "Common/TraceLog.h"
#include "DcfNameCheck.h"
#include "SourceFile.h"
#include "Platform/GlobalMemory.h"

namespace {

bool EndsWithJpg(const std::string& name) {
  return name.size() >= 4 && strcasecmp(name.c_str() + name.size() - 4, ".jpg") == 0;
}

}  // namespace

CFileTransfer::CFileTransfer(CDeviceInterface* device) : m_Access(device) {}

int CFileTransfer::CheckFolder(const std::string& path) {
  if (path.empty()) return FOLDER_EMPTY;
  // No drives here: the folder must be given as an absolute path and be
  // there, readable and searchable.
  if (path[0] != '/') return FOLDER_UNUSABLE;
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return FOLDER_UNUSABLE;
  if (access(path.c_str(), R_OK | X_OK) != 0) return FOLDER_UNUSABLE;
  return FOLDER_OK;
}

std::vector<std::string> CFileTransfer::CollectFiles(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = opendir(folder.c_str());
  if (!dir) return names;
  const CDcfNameCheck check;
  while (dirent* e = readdir(dir)) {
    const std::string name = e->d_name;
    if (!EndsWithJpg(name)) continue;
    struct stat st;
    const std::string path = folder + "/" + name;
    if (stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) continue;
    if (!check.IsFileName(name)) continue;
    names.push_back(name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

CFileTransfer::PrepareResult CFileTransfer::Prepare(const std::string& srcFolder, const std::string& sdFolder) {
  m_strSrcFolder = srcFolder;
  while (m_strSrcFolder.size() > 1 && m_strSrcFolder.back() == '/') m_strSrcFolder.pop_back();
  m_strSDFolder = sdFolder;
  m_Names = CollectFiles(m_strSrcFolder);
  const std::vector<std::string>* list = m_Access.SD_GetFileList(m_strSDFolder);
  if (!list) {
    const DWORD status = m_Access.GetLastStatus();
    if (status == FOTAVI_SD_NOCARD) return PREPARE_NO_CARD;
    if (status != FOTAVI_SD_DONE) return PREPARE_ACCESS_ERROR;
  } else {
    const size_t skip = m_strSDFolder.size() + 1;
    for (const std::string& entry : *list) {
      if (entry.size() < skip) continue;
      const std::string name = entry.substr(skip);
      for (const std::string& collected : m_Names) {
        if (strcasecmp(name.c_str(), collected.c_str()) == 0) {
          m_Access.FreeAll();
          return PREPARE_DUPLICATE;
        }
      }
    }
  }
  m_Access.FreeAll();
  return m_Names.empty() ? PREPARE_NO_FILES : PREPARE_READY;
}

CFileTransfer::FileResult CFileTransfer::TransferFile(size_t index, bool running, CErrorList* errors) {
  if (index >= m_Names.size()) return FILE_FAILED;
  const std::string& name = m_Names[index];
  const std::string cardPath = m_strSDFolder + "\\" + name;
  const std::string localPath = m_strSrcFolder + "/" + name;
  auto fail = [&](UINT id) {
    AddTransErrEntry(FotaviText(id), name, errors);
    return FILE_FAILED;
  };
  if (!running) return fail(IDS_CANCELED);
  if (!FitsCardPath(cardPath)) return fail(IDS_NAME_TOO_LONG);

  HGLOBAL block = nullptr;
  DWORD size = 0;
  switch (ReadCardSourceFile(localPath, &block, &size)) {
    case SourceFileRead::OpenFailed:
    case SourceFileRead::ShortRead: return fail(IDS_OPEN_ERROR);
    case SourceFileRead::TooLarge: return fail(IDS_SD_OVER_2M);
    case SourceFileRead::NoMemory: return fail(IDS_NO_RESOURCE);
    case SourceFileRead::Ok: break;
  }
  const void* data = GlobalLock(block);
  const DWORD result = m_Access.SD_SetJpegFile(cardPath, data, size);
  GlobalUnlock(block);
  GlobalFree(block);
  m_dwLastResult = result;
  if (result == FOTAVI_SD_DONE) return FILE_SENT;
  if (result == FOTAVI_SD_NOCARD) return FILE_CARD_GONE;
  static const char* const kLog = "CFTransDlg::TransFiles";
  TraceLog(TRC_PRE, kLog, "TransferError FilePath : %s", cardPath.c_str());
  TraceLog(TRC_PRE, kLog, "TransferError FileSize : %d", static_cast<int>(size));
  TraceLog(TRC_PRE, kLog, "TransferError Return SD_SetJpegFile  ret : %x  ErrCode : %x", result,
           m_Access.GetLastDeviceError());
  if (result == FOTAVI_SD_LOCKED) return fail(IDS_LOCKED_IMAGE);
  if (result == FOTAVI_SD_FULL) return fail(IDS_SD_FULL);
  return fail(IDS_SD_TRANSFER_FAILED);
}

void CFileTransfer::End() { m_Access.SD_EndTransfer(); }

size_t CFileTransfer::Run(const Hooks& hooks, CErrorList* errors) {
  size_t sent = 0;
  const size_t total = m_Names.size();
  int sum = 0;
  for (size_t i = 0; i < total; ++i) {
    const bool running = !hooks.running || hooks.running();
    const FileResult result = TransferFile(i, running, errors);
    if (result == FILE_CARD_GONE) {
      if (hooks.cardGone) hooks.cardGone();
      break;
    }
    if (result == FILE_SENT) ++sent;
    sum += 100;
    if (hooks.progress) hooks.progress(i + 1, total, sum / static_cast<int>(total));
  }
  End();
  return sent;
}
