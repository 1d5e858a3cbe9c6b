#include "MovTestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <filesystem>

#include "Common/StringTable.h"
#include "MovApp.h"
#include "MovStrings.h"
#include "Platform/Messages.h"
#include "Platform/Settings.h"
#include "TestEnv.h"

namespace movtest {

int BoxRecorder::MessageBox(HWND, const std::string& text, const std::string&, UINT type) {
  std::lock_guard<std::mutex> g(m_);
  texts_.push_back(text);
  types_.push_back(type);
  return answer;
}

FileChooserResult BoxRecorder::ChooseFile(HWND, const FileChooserRequest& request) {
  std::lock_guard<std::mutex> g(m_);
  last_ = request;
  FileChooserResult result;
  if (!chooser_.empty()) {
    const std::string path = chooser_.front();
    chooser_.pop_front();
    if (!path.empty()) {
      result.accepted = true;
      result.paths = {path};
    }
  }
  return result;
}

std::vector<std::string> BoxRecorder::Texts() {
  std::lock_guard<std::mutex> g(m_);
  return texts_;
}

std::vector<UINT> BoxRecorder::Types() {
  std::lock_guard<std::mutex> g(m_);
  return types_;
}

void BoxRecorder::AnswerChooser(const std::string& path) {
  std::lock_guard<std::mutex> g(m_);
  chooser_.push_back(path);
}

FileChooserRequest BoxRecorder::LastChooser() {
  std::lock_guard<std::mutex> g(m_);
  return last_;
}

void MovFixture::SetUp() {
  dir_ = fotavi_test::IsolateEnvironment("movapp");
  std::filesystem::create_directories(dir_ + "/Documents");
  setenv("XDG_DOCUMENTS_DIR", (dir_ + "/Documents").c_str(), 1);
  SetUserInterfaceService(&ui);
  LoadFotaviMovStrings();
}

void MovFixture::TearDown() {
  SetUserInterfaceService(nullptr);
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

namespace {
const std::string kRecKey = "SOFTWARE\\Tiryx\\Fotavi (K27)\\FotaviForMovieCreation\\RecSection";
}  // namespace

DWORD StoredRecInt(const char* name) {
  DWORD value = 0xDEADBEEF;
  SettingsReadDword(HKEY_CURRENT_USER, kRecKey, name, &value);
  return value;
}

std::string StoredRecText(const char* name) {
  std::string value = "<missing>";
  SettingsReadString(HKEY_CURRENT_USER, kRecKey, name, &value);
  return value;
}

bool WaitFor(const std::function<bool()>& done, int timeoutMs) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > timeoutMs) return done();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    DrainMessages();
    QThread::msleep(2);
  }
  return true;
}

void Pump(int ms) {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < ms) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    DrainMessages();
    QThread::msleep(2);
  }
}

}  // namespace movtest
