#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <cstdlib>
#include <filesystem>

namespace fotavi::test {

bool WaitFor(const std::function<bool()>& done, int timeoutMs) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > timeoutMs) return done();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(1);
  }
  return true;
}

void Pump(int ms) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < ms) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(1);
  }
}

IsolatedEnv::IsolatedEnv() {
  char tmpl[] = "/tmp/fotavi-test-XXXXXX";
  dir_ = mkdtemp(tmpl);
  setenv("FOTAVI_MUTEX_ROOT", (dir_ + "/mutex").c_str(), 1);
  std::filesystem::create_directories(dir_ + "/mutex");
  std::filesystem::create_directories(dir_ + "/work");
  chmod((dir_ + "/work").c_str(), 0700);
  setenv("FOTAVI_WORK_DIR", (dir_ + "/work").c_str(), 1);
  setenv("FOTAVI_CACHE_DIR", (dir_ + "/cache").c_str(), 1);
  setenv("FOTAVI_USER_SETTINGS", (dir_ + "/user.conf").c_str(), 1);
  setenv("FOTAVI_MACHINE_SETTINGS", (dir_ + "/machine.conf").c_str(), 1);
  setenv("FOTAVI_FALLBACK_ROOT", (dir_ + "/fallback/").c_str(), 1);
  setenv("XDG_STATE_HOME", (dir_ + "/state").c_str(), 1);
}

IsolatedEnv::~IsolatedEnv() {
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

void AppFixture::SetUp() {
  env = std::make_unique<IsolatedEnv>();
  SetUserInterfaceService(&ui);
  owned = std::make_unique<FakeDevice>();
  device = owned.get();
  app = std::make_unique<CFotaviApp>();
  app->SetDeviceBinding({[this](CDeviceInterface** p) {
                           *p = device;
                           return TRUE;
                         },
                         [this](CDeviceInterface** p) {
                           releaseCalled = true;
                           *p = nullptr;
                         }});
}

bool AppFixture::Start() {
  if (!app->InitInstance()) return false;
  Pump(20);  // the first posted messages (first view data)
  return true;
}

void AppFixture::TearDown() {
  if (app) app->ExitInstance();
  app.reset();
  Pump(5);
  owned.reset();
  SetUserInterfaceService(nullptr);
  env.reset();
}

}  // namespace fotavi::test
