#include "FileSelDlg.h"

#include "StringTable.h"
#include "TraceLog.h"

CFileSelDlg::CFileSelDlg(bool openFileDialog, const std::string& defaultExt, const std::string& fileName,
                         DWORD flags, const std::string& filter, HWND parent)
    : m_bOpen(openFileDialog),
      m_strDefExt(defaultExt),
      m_strFileName(fileName),
      m_dwFlags(flags),
      m_Filters(ParseFilter(filter)),
      m_hParent(parent) {}

std::vector<std::pair<std::string, std::string>> CFileSelDlg::ParseFilter(const std::string& filter) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= filter.size()) {
    const size_t bar = filter.find('|', start);
    const std::string part = filter.substr(start, bar == std::string::npos ? std::string::npos : bar - start);
    if (part.empty()) break;  // "||" ends the list
    parts.push_back(part);
    if (bar == std::string::npos) break;
    start = bar + 1;
  }
  std::vector<std::pair<std::string, std::string>> filters;
  for (size_t i = 0; i + 1 < parts.size(); i += 2) filters.emplace_back(parts[i], parts[i + 1]);
  return filters;
}

FileChooserRequest CFileSelDlg::MakeRequest(const char* title, const char* initialFolder,
                                            const std::string* fileBuffer) const {
  FileChooserRequest request;
  request.save = !m_bOpen;
  request.filters = m_Filters;
  request.defaultExtension = m_strDefExt;
  request.confirmOverwrite = (m_dwFlags & OFN_OVERWRITEPROMPT) != 0;
  request.fileName = m_strFileName;
  if (fileBuffer) {
    CFilePath start;
    start.SetPath(*fileBuffer);
    std::string text = start.GetPathNoExt();
    if (text.size() > 264) text.resize(264);
    request.fileName = text;
    request.filterIndex = m_nFilterIndex;
  }
  if (initialFolder) request.folder = initialFolder;
  if (title) request.title = title;
  return request;
}

int CFileSelDlg::CheckAnswer(const FileChooserResult& result, size_t bufferLength, HWND parent, CFilePath* checked,
                             std::string* path) {
  if (!result.accepted || result.paths.empty()) return IDCANCEL;
  const std::string& chosen = result.paths.front();
  const char* problem = nullptr;
  if (chosen.size() < bufferLength) {
    checked->SetPath(chosen);
    if (checked->IsValidFileName()) {
      *path = chosen;
      return IDOK;
    }
    problem = "Invalid File Name.";
  } else {
    problem = "Invalid File Path Length.";
  }
  TraceLogText(TRC_PRE, "CFileSelDlg::DoModal", problem);
  GetUserInterfaceService()->MessageBox(
      parent, LoadStringText(IDS_FILE_NOT_AVAILABLE, "The specified file is not available."),
      GetApplicationTitle(), MB_OK | MB_ICONEXCLAMATION);
  return IDCANCEL;
}

int CFileSelDlg::DoModal(const char* title, const char* initialFolder, std::string* fileBuffer, size_t bufferLength) {
  const FileChooserResult result =
      GetUserInterfaceService()->ChooseFile(m_hParent, MakeRequest(title, initialFolder, fileBuffer));
  std::string chosen;
  if (CheckAnswer(result, bufferLength, m_hParent, &m_FilePath, &chosen) != IDOK) return IDCANCEL;
  if (fileBuffer) *fileBuffer = chosen;
  m_nFilterIndex = result.filterIndex;
  return IDOK;
}

void CFileSelDlg::Open(const char* title, const char* initialFolder, const std::string* fileBuffer,
                       size_t bufferLength, CControlDialog* counter, Answer done) {
  if (counter) counter->BeginModal();
  const HWND parent = m_hParent;
  GetUserInterfaceService()->OpenFileChooser(
      parent, MakeRequest(title, initialFolder, fileBuffer),
      [bufferLength, parent, counter, done = std::move(done)](const FileChooserResult& result) {
        CFilePath checked;
        std::string chosen;
        // A refused path is said by a message after the box has closed: it
        // is part of this box, counted as open until it has closed too (the
        // box itself may go while the message stands).
        if (counter) counter->BeginModal();
        const int answer = CheckAnswer(result, bufferLength, parent, &checked, &chosen);
        if (counter) counter->EndModal();
        if (done) done(answer, chosen);
      },
      [counter] {
        if (counter) counter->EndModal();
      });
}
