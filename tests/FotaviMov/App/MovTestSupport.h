// Shared pieces of the movie program's tests: a user-interface service that
// records message boxes and answers choosers from a script, an isolated
// environment per test, and waits that keep the Qt and platform queues going.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "Platform/UiService.h"

namespace movtest {

class BoxRecorder : public IUserInterfaceService {
 public:
  int MessageBox(HWND, const std::string& text, const std::string& caption, UINT type) override;
  FileChooserResult ChooseFile(HWND, const FileChooserRequest& request) override;
  std::string ChooseFolder(HWND, const std::string&, const std::string&) override { return {}; }

  std::vector<std::string> Texts();
  std::vector<UINT> Types();
  // The next file chooser answers with this path ("" = cancelled).
  void AnswerChooser(const std::string& path);
  FileChooserRequest LastChooser();
  int answer = IDOK;  // message boxes answer with this

 private:
  std::mutex m_;
  std::vector<std::string> texts_;
  std::vector<UINT> types_;
  std::deque<std::string> chooser_;
  FileChooserRequest last_;
};

// Settings, mutex folder, work folder and fallback root in a fresh folder,
// the recorder installed as the user-interface service.
class MovFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  const std::string& Dir() const { return dir_; }
  BoxRecorder ui;

 private:
  std::string dir_;
};

// A number or text of "RecSection" as stored; 0xDEADBEEF / "<missing>" when absent.
DWORD StoredRecInt(const char* name);
std::string StoredRecText(const char* name);

// Runs Qt's and the platform's queues until `done` or the time is over.
bool WaitFor(const std::function<bool()>& done, int timeoutMs = 10000);
void Pump(int ms);

}  // namespace movtest
