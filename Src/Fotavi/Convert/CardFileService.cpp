#include "CardFileService.h"

DWORD CSDCardFileService::ListFiles(const std::string& folder, std::vector<std::string>* entries) {
  if (entries) entries->clear();
  const std::vector<std::string>* list = m_Access.SD_GetFileList(folder);
  const DWORD status = m_Access.GetLastStatus();
  // An empty folder gives no list but status 0.
  if (status == 0 && list && entries) *entries = *list;
  m_Access.FreeList();
  return status;
}

DWORD CSDCardFileService::WriteFile(const std::string& cardPath, const BYTE* data, DWORD length) {
  return m_Access.SD_SetJpegFile(cardPath, data, length);
}

void CSDCardFileService::EndTransfer() { m_Access.SD_EndTransfer(); }
