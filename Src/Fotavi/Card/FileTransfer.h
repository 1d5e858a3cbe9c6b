// The file transfer to the card without its windows: collecting the
// pictures of a folder on the computer, checking the card folder, sending
// one file at a time with its checks, and the end of the batch. The dialog
// drives it file by file and pumps its progress window in between.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "TransErrEntry.h"
#include "SDAccess.h"

class CFileTransfer {
 public:
  // What CheckFolder finds.
  enum { FOLDER_OK = 0, FOLDER_EMPTY = 1, FOLDER_UNUSABLE = 2 };
  // What Prepare finds.
  enum PrepareResult { PREPARE_READY, PREPARE_NO_CARD, PREPARE_ACCESS_ERROR, PREPARE_DUPLICATE, PREPARE_NO_FILES };
  // What one file came to.
  enum FileResult { FILE_SENT, FILE_FAILED, FILE_CARD_GONE };

  explicit CFileTransfer(CDeviceInterface* device);

  // 0 usable, 1 empty path, 2 not an absolute path to a readable folder.
  static int CheckFolder(const std::string& path);
  // The DCF-named *.jpg files of the folder (no folders), in name order.
  static std::vector<std::string> CollectFiles(const std::string& folder);

  // Collects the files and lists the card folder. Nothing is sent to the
  // card unless the result is PREPARE_READY.
  PrepareResult Prepare(const std::string& srcFolder, const std::string& sdFolder);
  const std::vector<std::string>& Names() const { return m_Names; }
  // Sends file `index` unless `running` is 0; a failure adds its entry.
  FileResult TransferFile(size_t index, bool running, CErrorList* errors);
  // The end-of-batch command.
  void End();

  // The loop over every collected file, in order. `running` is read before
  // each file (Cancel clears it); `progress` (done, total, position 0..100)
  // runs after each file and pumps the progress window; `cardGone` runs
  // when a write answers "no card", which ends the loop. The end-of-batch
  // command follows in every case. Returns the number of files sent.
  struct Hooks {
    std::function<bool()> running;
    std::function<void(size_t done, size_t total, int position)> progress;
    std::function<void()> cardGone;
  };
  size_t Run(const Hooks& hooks, CErrorList* errors);

  CSDAccess& Access() { return m_Access; }
  DWORD GetLastStatus() const { return m_dwLastResult; }

 private:
  CSDAccess m_Access;
  std::string m_strSrcFolder;
  std::string m_strSDFolder;
  std::vector<std::string> m_Names;
  DWORD m_dwLastResult = 0;
};
