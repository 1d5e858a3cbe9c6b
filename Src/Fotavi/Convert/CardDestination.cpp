#include "CardDestination.h"

#include <cctype>
#include <cerrno>
#include <cstring>

#include "Card/AnsiText.h"
#include "Card/SourceFile.h"
#include "Common/CommonFunc.h"
#include "Common/TraceLog.h"
#include "Text/FotaviStrings.h"
#include "Platform/GlobalMemory.h"
#include "Platform/Paths.h"

CCardDestination::CCardDestination(ICardFileService* card, std::string sdFolder, std::string workFolder)
    : m_pCard(card), m_strSDFolder(std::move(sdFolder)), m_strWorkFolder(std::move(workFolder)) {
  while (m_strWorkFolder.size() > 1 && m_strWorkFolder.back() == '/') m_strWorkFolder.pop_back();
  while (!m_strSDFolder.empty() && m_strSDFolder.back() == '\\') m_strSDFolder.pop_back();
}

std::string CCardDestination::GetStagingFolder() const { return m_strWorkFolder + "/" + STAGING_FOLDER; }

int CCardDestination::GetMaxSDNumber(const std::vector<std::string>& entries) {
  int highest = 0;
  for (const std::string& entry : entries) {
    const size_t slash = entry.rfind('\\');
    const std::string name = slash == std::string::npos ? entry : entry.substr(slash + 1);
    if (name.size() != 12) continue;
    bool imag = true;
    for (size_t i = 0; i < 4; ++i) {
      if (std::toupper(static_cast<unsigned char>(name[i])) != "IMAG"[i]) imag = false;
    }
    if (!imag) continue;
    const int number = static_cast<int>(StringToUInt(name.substr(4, 4), 1, 9999));
    if (number > highest) highest = number;
  }
  return highest;
}

bool CCardDestination::GetMaxNumber(int* number, UINT* stopMessage) {
  std::vector<std::string> entries;
  const DWORD status = m_pCard ? m_pCard->ListFiles(m_strSDFolder, &entries) : 0x80000000u;
  if (status != 0) {
    TraceLog(TRC_PRE, "CPptDlg::GetMaxSDNumber", "The error occurred with the [SD_GetFileList()] function. Status=[0x%08X]",
             static_cast<unsigned>(status));
    *stopMessage = IDS_SD_TRANSFER_FAILED;
    return false;
  }
  *number = GetMaxSDNumber(entries);
  return true;
}

IConvertDestination::NameResult CCardDestination::MakeOutputName(int number, std::string* path, UINT* message) {
  if (!MakeFolders(m_strWorkFolder, 0700) || !MakeFolders(GetStagingFolder(), 0700)) {
    TraceLog(TRC_PRE, "CPptDlg::CreateConvFileName",
             "The error occurred with the [CreateDirectory] function. GetLastError=[0x%08X]",
             static_cast<unsigned>(errno));
    *message = IDS_INTERNAL_ERROR;
    return NAME_FATAL;
  }
  *path = GetStagingFolder() + "/" + ConvertFileName(number);
  return NAME_OK;
}

int CCardDestination::TransferToSD(const std::string& stagedPath) {
  static const char* kFunc = "CPptDlg::TransferToSD";
  HGLOBAL block = nullptr;
  DWORD size = 0;
  switch (ReadCardSourceFile(stagedPath, &block, &size)) {
    case SourceFileRead::OpenFailed:
      TraceLog(TRC_PRE, kFunc, "The error occurred with the [Open()] function.");
      return TRANSFER_UNREADABLE;
    case SourceFileRead::TooLarge:
      TraceLog(TRC_PRE, kFunc, "File exceeds the size that can be transferred.");
      return TRANSFER_TOO_LARGE;
    case SourceFileRead::NoMemory:
      TraceLogMemory(TRC_PRE, kFunc, "GlobalAlloc()");
      return TRANSFER_NO_MEMORY;
    case SourceFileRead::ShortRead:
      TraceLog(TRC_PRE, kFunc, "The error occurred with the [Read()] function.");
      return TRANSFER_UNREADABLE;
    case SourceFileRead::Ok: break;
  }
  int code = TRANSFER_OK;
  const size_t slash = stagedPath.rfind('/');
  const std::string cardPath =
      m_strSDFolder + "\\" + (slash == std::string::npos ? stagedPath : stagedPath.substr(slash + 1));
  if (!FitsCardPath(cardPath)) {
    code = TRANSFER_NAME_TOO_LONG;
  } else {
    const auto* data = static_cast<const BYTE*>(GlobalLock(block));
    const DWORD status = m_pCard ? m_pCard->WriteFile(cardPath, data, size) : 0x80000000u;
    GlobalUnlock(block);
    code = TransferCodeForStatus(status);
    if (code != TRANSFER_OK) {
      TraceLog(TRC_PRE, kFunc, "The error occurred with the [SD_SetJpegFile()] function. Status=[0x%08X]",
               static_cast<unsigned>(status));
    }
  }
  GlobalFree(block);
  return code;
}

void CCardDestination::EndOfSeries() {
  if (m_pCard) m_pCard->EndTransfer();
}
