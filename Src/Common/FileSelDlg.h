// The file chooser of the programs: the platform's file chooser with the
// chosen filter remembered between calls and a check of the chosen path: a
// path too long for the caller or a name that cannot be used is refused with
// a message ("The specified file is not available.") and ends like Cancel.
// The programs open it with Open, which does not wait: the answer comes by a
// call back, and the box counts itself with the modal-box counter while it
// is open. DoModal waits for the answer (callers bracket it with the counter).
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "FilePath.h"
#include "ControlDialog.h"
#include "Platform/Types.h"
#include "Platform/UiService.h"

// Flags of the chooser.
constexpr DWORD OFN_OVERWRITEPROMPT = 0x00000002;
constexpr DWORD OFN_HIDEREADONLY = 0x00000004;

class CFileSelDlg {
 public:
  // `filter`: pairs of description and patterns separated by '|', ending
  // with "||", e.g. "JPEG (*.jpg)|*.jpg|BMP (*.bmp)|*.bmp||".
  CFileSelDlg(bool openFileDialog, const std::string& defaultExt = {}, const std::string& fileName = {},
              DWORD flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, const std::string& filter = {},
              HWND parent = nullptr);
  virtual ~CFileSelDlg() = default;

  // Shows the chooser. `fileBuffer` (in and out) starts it on that file with
  // its extension dropped; the chosen path is copied back only when it is
  // shorter than `bufferLength` bytes and its name is usable. Returns IDOK
  // or IDCANCEL.
  virtual int DoModal(const char* title, const char* initialFolder, std::string* fileBuffer, size_t bufferLength);

  // Opens the chooser and returns at once. `done(result, path)` runs once,
  // later, when the user has answered: IDOK with the chosen path (checked as
  // DoModal checks it), or IDCANCEL (also after a refused path, once its
  // message was shown). A chooser that goes with the window it belongs to
  // does not answer. `counter`, when given, counts the chooser as an open box
  // from this call until it has gone, however it goes, and a refusal
  // message until that has closed too. The chooser keeps
  // what it needs: this object may go before the answer comes.
  using Answer = std::function<void(int result, const std::string& path)>;
  void Open(const char* title, const char* initialFolder, const std::string* fileBuffer, size_t bufferLength,
            CControlDialog* counter, Answer done);

  int GetFilterIndex() const { return m_nFilterIndex; }
  void SetFilterIndex(int index) { m_nFilterIndex = index; }  // the filter a start file opens with (0-based)
  const CFilePath& GetFilePath() const { return m_FilePath; }

  static std::vector<std::pair<std::string, std::string>> ParseFilter(const std::string& filter);

 private:
  FileChooserRequest MakeRequest(const char* title, const char* initialFolder, const std::string* fileBuffer) const;
  // IDOK with `*path` set, or IDCANCEL (a refused path is said and logged).
  static int CheckAnswer(const FileChooserResult& result, size_t bufferLength, HWND parent, CFilePath* checked,
                         std::string* path);

  bool m_bOpen;
  std::string m_strDefExt;
  std::string m_strFileName;
  DWORD m_dwFlags;
  std::vector<std::pair<std::string, std::string>> m_Filters;
  HWND m_hParent;
  CFilePath m_FilePath;
  int m_nFilterIndex = 0;
};
