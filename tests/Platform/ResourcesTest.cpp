#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <fstream>
#include <set>
#include <string>
#include <thread>

#include "Platform/GlobalMemory.h"
#include "Platform/Ini.h"
#include "Platform/Library.h"
#include "Platform/Paths.h"
#include "Platform/Settings.h"
#include "Platform/Sync.h"
#include "Platform/Time.h"

namespace {

std::string makeTempDir() {
  char tmpl[] = "/tmp/fotavi-platform-test-XXXXXX";
  return mkdtemp(tmpl);
}

class TempEnv : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = makeTempDir();
    setenv("FOTAVI_MUTEX_ROOT", (dir_ + "/mutex").c_str(), 1);
    setenv("FOTAVI_MACHINE_SETTINGS", (dir_ + "/machine.conf").c_str(), 1);
    setenv("FOTAVI_USER_SETTINGS", (dir_ + "/user.conf").c_str(), 1);
  }
  void TearDown() override { (void)!system(("rm -rf '" + dir_ + "'").c_str()); }
  std::string dir_;
};

// ---------------------------------------------------------- global memory

TEST(GlobalMemory, AllocLockSizeFree) {
  size_t before = GlobalBlockCount();
  HGLOBAL h = GlobalAlloc(GHND, 100);
  ASSERT_NE(h, nullptr);
  auto* p = static_cast<unsigned char*>(GlobalLock(h));
  ASSERT_NE(p, nullptr);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(p[i], 0);
  EXPECT_EQ(GlobalSize(h), 100u);
  EXPECT_FALSE(GlobalUnlock(h));  // lock count back at 0
  EXPECT_EQ(GlobalBlockCount(), before + 1);
  EXPECT_EQ(GlobalFree(h), nullptr);
  EXPECT_EQ(GlobalBlockCount(), before);
}

TEST(GlobalMemory, FreeingAnUnknownOrFreedHandleIsDetected) {
  HGLOBAL h = GlobalAlloc(GPTR, 8);
  ASSERT_EQ(GlobalFree(h), nullptr);
  EXPECT_EQ(GlobalFree(h), h);  // second free: refused, nothing freed twice
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(GlobalLock(h), nullptr);
  EXPECT_EQ(GlobalSize(h), 0u);
  HGLOBAL bogus = reinterpret_cast<HGLOBAL>(0x12345);
  EXPECT_EQ(GlobalFree(bogus), bogus);
}

TEST(GlobalMemory, ImpossibleSizeFailsCleanly) {
  EXPECT_EQ(GlobalAlloc(GHND, static_cast<size_t>(1) << 62), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
}

// ------------------------------------------------------------ named mutex

using Outcome = CNamedMutex::Outcome;

// Runs `fn` in a child process and returns its exit code.
template <typename Fn>
int inChild(Fn fn) {
  pid_t pid = fork();
  if (pid == 0) _exit(fn());
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int outcomeCode(const std::string& name) {
  Outcome o;
  auto m = CNamedMutex::Create(name, false, &o);
  return static_cast<int>(o);
}

class NamedMutexTest : public TempEnv {};

TEST_F(NamedMutexTest, CreatedThenAlreadyExistsInThisAndAnotherProcess) {
  Outcome o;
  auto first = CNamedMutex::Create("Global\\TestMutexA", false, &o);
  ASSERT_TRUE(first);
  EXPECT_EQ(o, Outcome::Created);
  auto second = CNamedMutex::Create("Global\\TestMutexA", false, &o);
  EXPECT_TRUE(second);
  EXPECT_EQ(o, Outcome::AlreadyExists);
  EXPECT_EQ(inChild([] { return outcomeCode("Global\\TestMutexA"); }), static_cast<int>(Outcome::AlreadyExists));
  first.reset();
  second.reset();
  EXPECT_EQ(inChild([] { return outcomeCode("Global\\TestMutexA"); }), static_cast<int>(Outcome::Created));
}

TEST_F(NamedMutexTest, ReleasedWhenTheHoldingProcessIsKilled) {
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t pid = fork();
  if (pid == 0) {
    Outcome o;
    auto m = CNamedMutex::Create("Global\\TestMutexKill", true, &o);
    (void)!write(ready[1], "x", 1);
    pause();
    _exit(0);
  }
  char c;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  Outcome o;
  auto probe = CNamedMutex::Create("Global\\TestMutexKill", false, &o);
  EXPECT_EQ(o, Outcome::AlreadyExists);
  EXPECT_EQ(probe->Wait(50), WAIT_TIMEOUT);  // owned by the child
  probe.reset();
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  auto after = CNamedMutex::Create("Global\\TestMutexKill", false, &o);
  EXPECT_EQ(o, Outcome::Created);
  EXPECT_EQ(after->Wait(1000), WAIT_OBJECT_0);
}

TEST_F(NamedMutexTest, HeldByAnotherUserIsAccessDenied) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  chmod(dir_.c_str(), 0755);  // let the other user reach the mutex folder
  Outcome o;
  CNamedMutex::Create("Global\\TestMutexUser", false, &o);  // make the folder
  pid_t pid = fork();
  if (pid == 0) {
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(3);
    auto m = CNamedMutex::Create("Global\\TestMutexUserOther", false, &o);
    (void)!write(ready[1], m ? "y" : "n", 1);
    pause();
    _exit(0);
  }
  char c;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  ASSERT_EQ(c, 'y');
  auto mine = CNamedMutex::Create("Global\\TestMutexUserOther", false, &o);
  EXPECT_EQ(mine, nullptr);
  EXPECT_EQ(o, Outcome::AccessDenied);
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

TEST_F(NamedMutexTest, WaitExcludesAcrossProcessesAndTimesOut) {
  Outcome o;
  auto m = CNamedMutex::Create("Wait for Test", false, &o);
  ASSERT_EQ(m->Wait(1000), WAIT_OBJECT_0);
  EXPECT_EQ(inChild([] {
              Outcome o2;
              auto c = CNamedMutex::Create("Wait for Test", false, &o2);
              return c->Wait(100) == WAIT_TIMEOUT ? 0 : 1;
            }),
            0);
  EXPECT_TRUE(m->Release());
  EXPECT_FALSE(m->Release());
  EXPECT_EQ(inChild([] {
              Outcome o2;
              auto c = CNamedMutex::Create("Wait for Test", false, &o2);
              return c->Wait(1000) == WAIT_OBJECT_0 ? 0 : 1;
            }),
            0);
}

// Abstract socket addresses in the kernel's table that contain `part`.
std::set<std::string> abstractAddressesWith(const std::string& part) {
  std::set<std::string> out;
  std::ifstream in("/proc/net/unix");
  std::string line;
  while (std::getline(in, line)) {
    auto at = line.rfind(' ');
    if (at == std::string::npos || at + 1 >= line.size() || line[at + 1] != '@') continue;
    std::string address = line.substr(at + 2);
    if (address.find(part) != std::string::npos) out.insert(address);
  }
  return out;
}

// The abstract address a machine-wide mutex of this name is made on: the
// one that appears while a handle to it exists. Empty when not exactly one.
std::string AbstractAddressOf(const std::string& name) {
  const std::set<std::string> before = abstractAddressesWith(name);
  Outcome o;
  auto mine = CNamedMutex::Create("Global\\" + name, false, &o);
  if (o != Outcome::Created) return {};
  std::set<std::string> taken;
  for (const std::string& a : abstractAddressesWith(name)) {
    if (!before.count(a)) taken.insert(a);
  }
  return taken.size() == 1 ? *taken.begin() : std::string();
}

// Runs `fn` as user 65534 in a child that reports 'y' or 'n' and then waits to
// be killed. Returns the child's pid, or -1.
template <typename Fn>
pid_t holdAsOtherUser(Fn fn) {
  int ready[2];
  if (pipe(ready) != 0) return -1;
  pid_t pid = fork();
  if (pid == 0) {
    bool ok = setgid(65534) == 0 && setuid(65534) == 0 && fn();
    (void)!write(ready[1], ok ? "y" : "n", 1);
    pause();
    _exit(0);
  }
  char c = 0;
  if (read(ready[0], &c, 1) != 1 || c != 'y') {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -1;
  }
  return pid;
}

// Another user sits on a machine-wide name with a socket that never answers:
// the name is taken and its holder cannot be shown to be this user, so the
// outcome is "access denied", soon, and never a hang or a second "created".
TEST_F(NamedMutexTest, NameTakenByAForeignSocketThatNeverAnswersIsAccessDenied) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  const std::string name = "TestSquat" + std::to_string(getpid());
  const std::string address = AbstractAddressOf(name);
  ASSERT_FALSE(address.empty()) << "the mutex is one abstract socket, made when it is created";
  Outcome o;
  pid_t squatter = holdAsOtherUser([&] {
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path + 1, address.data(), address.size());
    socklen_t len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + address.size());
    return fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&addr), len) == 0;  // bound, never listening
  });
  ASSERT_GT(squatter, 0);
  const DWORD start = GetTickCount();
  auto again = CNamedMutex::Create("Global\\" + name, false, &o);
  EXPECT_EQ(again, nullptr);
  EXPECT_EQ(o, Outcome::AccessDenied);
  EXPECT_LT(GetTickCount() - start, 3000u);
  kill(squatter, SIGKILL);
  waitpid(squatter, nullptr, 0);
  again = CNamedMutex::Create("Global\\" + name, false, &o);
  EXPECT_EQ(o, Outcome::Created) << "the name is free once the other process is gone";
}

// Two processes of one user create a machine-wide mutex at once: the first
// has bound its name but is not listening yet when the second asks who holds
// it. However long the first is held up on a loaded machine (here 400 ms),
// the second must see "already exists", not "held by another user".
TEST_F(NamedMutexTest, HolderOfThisUserSlowToListenIsAlreadyExistsNotAccessDenied) {
  const std::string name = "TestSlowHolder" + std::to_string(getpid());
  const std::string address = AbstractAddressOf(name);
  ASSERT_FALSE(address.empty()) << "the mutex is one abstract socket";
  Outcome o;
  // The slow first creator: bound now, listening only 400 ms later.
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path + 1, address.data(), address.size());
  const socklen_t len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + address.size());
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), len), 0);
  std::thread first([fd] {
    Sleep(400);
    listen(fd, 16);
  });
  auto second = CNamedMutex::Create("Global\\" + name, false, &o);
  first.join();
  EXPECT_EQ(o, Outcome::AlreadyExists);
  EXPECT_NE(second, nullptr);
  close(fd);
}

// The lock folder of the user's private names is never one another user made
// or can write to; machine-wide names need no folder at all.
TEST_F(NamedMutexTest, PrivateNamesRefuseAFolderOthersControlGlobalNamesNeedNone) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to hand a folder to another user";
  const std::string folder = NamedMutexFolder();
  ASSERT_TRUE(MakeFolders(folder, 0755));
  ASSERT_EQ(chown(folder.c_str(), 65534, 65534), 0);
  Outcome o;
  EXPECT_EQ(CNamedMutex::Create("Wait for Test", false, &o), nullptr);
  EXPECT_EQ(o, Outcome::Failed);
  auto global = CNamedMutex::Create("Global\\TestNoFolder", false, &o);
  EXPECT_EQ(o, Outcome::Created);
  ASSERT_EQ(chown(folder.c_str(), geteuid(), getegid()), 0);
  ASSERT_EQ(chmod(folder.c_str(), 0777), 0);  // ours, but anyone may swap its lock files
  EXPECT_EQ(CNamedMutex::Create("Wait for Test", false, &o), nullptr);
  EXPECT_EQ(o, Outcome::Failed);
  ASSERT_EQ(chmod(folder.c_str(), 0700), 0);
  EXPECT_NE(CNamedMutex::Create("Wait for Test", false, &o), nullptr);
  EXPECT_EQ(o, Outcome::Created);
}

// A lock held for ever on a private mutex's guard file (by a stuck process)
// makes the creation fail after its time limit instead of waiting for ever.
TEST_F(NamedMutexTest, StuckGuardLockFailsTheCreationInTime) {
  Outcome o;
  ASSERT_NE(CNamedMutex::Create("Guarded", false, &o), nullptr);
  std::string guard;
  for (DIR* d = opendir(NamedMutexFolder().c_str()); d;) {
    dirent* e = readdir(d);
    if (!e) {
      closedir(d);
      break;
    }
    std::string n = e->d_name;
    if (n.size() > 6 && n.compare(n.size() - 6, 6, ".guard") == 0) guard = NamedMutexFolder() + "/" + n;
  }
  ASSERT_FALSE(guard.empty());
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t pid = fork();
  if (pid == 0) {
    int fd = open(guard.c_str(), O_RDWR);
    (void)!write(ready[1], fd >= 0 && flock(fd, LOCK_EX) == 0 ? "y" : "n", 1);
    pause();
    _exit(0);
  }
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  ASSERT_EQ(c, 'y');
  const DWORD start = GetTickCount();
  EXPECT_EQ(CNamedMutex::Create("Guarded", false, &o), nullptr);
  EXPECT_EQ(o, Outcome::Failed);
  EXPECT_LT(GetTickCount() - start, 15000u);
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

// -------------------------------------------------------------- settings

class SettingsTest : public TempEnv {};

TEST_F(SettingsTest, MissingKeyOrValueGivesTheDefault) {
  EXPECT_EQ(SettingsGetDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tiryx\\Z5\\Device Parameters", "LogLevel", 1), 1u);
  EXPECT_FALSE(SettingsKeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tiryx\\Z5\\Device Parameters"));
  std::string s = "unchanged";
  EXPECT_FALSE(SettingsReadString(HKEY_CURRENT_USER, "SOFTWARE\\X\\Y", "V", &s));
  EXPECT_EQ(s, "unchanged");
}

TEST_F(SettingsTest, RoundTripKeepsBackslashesAndIgnoresCase) {
  const std::string key = "SOFTWARE\\Tiryx\\Fotavi (K27)\\FotaviForPresentation\\ImgSection";
  ASSERT_TRUE(SettingsWriteString(HKEY_CURRENT_USER, key, "InputFolder", "C:\\DCIM\\100ABCDE"));
  ASSERT_TRUE(SettingsWriteDword(HKEY_CURRENT_USER, key, "Count", 0xFFFFFFFFu));
  std::string s;
  ASSERT_TRUE(SettingsReadString(HKEY_CURRENT_USER, "software\\TIRYX\\fotavi (k27)\\FotaviForPresentation\\imgsection",
                                 "inputfolder", &s));
  EXPECT_EQ(s, "C:\\DCIM\\100ABCDE");
  EXPECT_EQ(SettingsGetDword(HKEY_CURRENT_USER, key, "Count", 0), 0xFFFFFFFFu);
  // A number is not a string and the other way round.
  EXPECT_FALSE(SettingsReadString(HKEY_CURRENT_USER, key, "Count", &s));
  DWORD d = 5;
  EXPECT_FALSE(SettingsReadDword(HKEY_CURRENT_USER, key, "InputFolder", &d));
  // Overwrite keeps one value.
  ASSERT_TRUE(SettingsWriteString(HKEY_CURRENT_USER, key, "InputFolder", "/home/u/pictures"));
  EXPECT_EQ(SettingsGetString(HKEY_CURRENT_USER, key, "InputFolder", ""), "/home/u/pictures");
  // The two roots are separate files.
  EXPECT_EQ(SettingsGetString(HKEY_LOCAL_MACHINE, key, "InputFolder", "none"), "none");
}

TEST_F(SettingsTest, LineBreaksCannotBeStoredAndTheWriteSaysSo) {
  EXPECT_FALSE(SettingsWriteString(HKEY_CURRENT_USER, "SOFTWARE\\A\\B", "V", "two\nlines"));
  EXPECT_FALSE(SettingsWriteString(HKEY_CURRENT_USER, "SOFTWARE\\A\\B", "V=W", "x"));
}

TEST_F(SettingsTest, WriteToAnUnwritablePlaceFails) {
  setenv("FOTAVI_USER_SETTINGS", "/proc/fotavi-no/user.conf", 1);
  EXPECT_FALSE(SettingsWriteDword(HKEY_CURRENT_USER, "SOFTWARE\\A\\B", "V", 1));
}

// ------------------------------------------------------------------- INI

struct IniCase {
  const char* content;
  const char* section;
  const char* key;
  const char* expectString;
  UINT expectInt;
};

class IniTest : public TempEnv, public ::testing::WithParamInterface<IniCase> {};

TEST_P(IniTest, WindowsSemantics) {
  const IniCase& c = GetParam();
  std::string path = dir_ + "/Fotavi.ini";
  std::ofstream(path) << c.content;
  EXPECT_EQ(IniReadString(path, c.section, c.key, "default"), c.expectString);
  EXPECT_EQ(IniReadInt(path, c.section, c.key, 99), c.expectInt);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IniTest,
    ::testing::Values(IniCase{"[Config]\nTRACESIZE=3\n", "Config", "TRACESIZE", "3", 3},
                      IniCase{"[config]\r\ntracesize = 12abc\r\n", "CONFIG", "TraceSize", "12abc", 12},
                      IniCase{"[Config]\nTRACESIZE=abc\n", "Config", "TRACESIZE", "abc", 0},
                      IniCase{"[Config]\nTRACESIZE=-2\n", "Config", "TRACESIZE", "-2", static_cast<UINT>(-2)},
                      IniCase{"[VIEWER]\nROOTPATH=C:\\DCIM\n", "Viewer", "RootPath", "C:\\DCIM", 0},
                      IniCase{"[VIEWER]\nROOTPATH=\"C:\\DCIM\\\"\n", "VIEWER", "ROOTPATH", "C:\\DCIM\\", 0},
                      IniCase{"[Other]\nTRACESIZE=5\n", "Config", "TRACESIZE", "default", 99},
                      IniCase{"; comment\n[Config]\n;TRACESIZE=5\n", "Config", "TRACESIZE", "default", 99}),
    [](const ::testing::TestParamInfo<IniCase>& info) { return "case" + std::to_string(info.index); });

TEST_F(IniTest, MissingFileGivesDefaultsAndWriteCreatesIt) {
  std::string path = dir_ + "/none.ini";
  EXPECT_EQ(IniReadString(path, "A", "B", "dflt"), "dflt");
  ASSERT_TRUE(IniWriteString(path, "VIEWER", "ROOTPATH", "C:\\DCIM"));
  ASSERT_TRUE(IniWriteString(path, "viewer", "Other", "1"));
  EXPECT_EQ(IniReadString(path, "Viewer", "rootpath", ""), "C:\\DCIM");
  EXPECT_EQ(IniReadInt(path, "VIEWER", "OTHER", 0), 1u);
}

// ----------------------------------------------------------- libraries

TEST(Library, MissingModuleAndSymbolFailWithText) {
  EXPECT_EQ(LoadLibrary("NoSuchModule.dll"), nullptr);
  EXPECT_FALSE(GetLoadErrorText().empty());
  HMODULE libc = LoadLibrary("libc.so.6");
  ASSERT_NE(libc, nullptr);
  EXPECT_NE(GetProcAddress(libc, "strlen"), nullptr);
  EXPECT_EQ(GetProcAddress(libc, "no_such_function_here"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
  EXPECT_TRUE(FreeLibrary(libc));
}

TEST(Library, DllNameMapsToSharedObjectInTheModulePath) {
  std::string dir = makeTempDir();
  std::string target = dir + "/FakeModule.so";
  ASSERT_EQ(symlink("/lib/x86_64-linux-gnu/libc.so.6", target.c_str()), 0);
  setenv("FOTAVI_MODULE_PATH", ("/nonexistent:" + dir).c_str(), 1);
  EXPECT_EQ(ResolveModulePath("FakeModule.dll"), target);
  HMODULE m = LoadLibrary("FakeModule.dll");
  EXPECT_NE(m, nullptr);
  if (m) FreeLibrary(m);
  unsetenv("FOTAVI_MODULE_PATH");
  (void)!system(("rm -rf '" + dir + "'").c_str());
}

// ---------------------------------------------------------------- paths

TEST(Paths, PrivateWorkFolderIsMode0700AndRefusesALink) {
  std::string dir = makeTempDir();
  setenv("FOTAVI_WORK_DIR", (dir + "/work").c_str(), 1);
  std::string work = GetPrivateWorkFolder();
  ASSERT_EQ(work, dir + "/work/");
  struct stat st;
  ASSERT_EQ(stat(work.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  ASSERT_EQ(symlink("/tmp", (dir + "/link").c_str()), 0);
  setenv("FOTAVI_WORK_DIR", (dir + "/link").c_str(), 1);
  EXPECT_EQ(GetPrivateWorkFolder(), "");
  unsetenv("FOTAVI_WORK_DIR");
  (void)!system(("rm -rf '" + dir + "'").c_str());
}

TEST(Paths, PrivateCacheFolderFollowsTheCacheHomeIsMode0700AndRefusesALink) {
  std::string dir = makeTempDir();
  unsetenv("FOTAVI_CACHE_DIR");
  setenv("XDG_CACHE_HOME", (dir + "/cache-home").c_str(), 1);
  const std::string cache = GetPrivateCacheFolder();
  ASSERT_EQ(cache, dir + "/cache-home/fotavi/");
  struct stat st;
  ASSERT_EQ(stat(cache.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  setenv("FOTAVI_CACHE_DIR", (dir + "/own").c_str(), 1);
  EXPECT_EQ(GetPrivateCacheFolder(), dir + "/own/");
  ASSERT_EQ(symlink("/tmp", (dir + "/link").c_str()), 0);
  setenv("FOTAVI_CACHE_DIR", (dir + "/link").c_str(), 1);
  EXPECT_EQ(GetPrivateCacheFolder(), "");
  unsetenv("FOTAVI_CACHE_DIR");
  unsetenv("XDG_CACHE_HOME");
  (void)!system(("rm -rf '" + dir + "'").c_str());
}

// The folder for large work files is on disk under the cache folder, made
// private, and refused when someone else made it or can write into it.
struct LargeWorkCase {
  const char* name;
  const char* prepare;  // shell run in the cache folder before the call ("" none)
  bool usable;
  friend void PrintTo(const LargeWorkCase& c, std::ostream* os) { *os << c.name; }
};

class LargeWorkFolder : public ::testing::TestWithParam<LargeWorkCase> {};

TEST_P(LargeWorkFolder, IsPrivateUnderTheCacheFolder) {
  if (std::string(GetParam().prepare).find("chown") != std::string::npos && geteuid() != 0)
    GTEST_SKIP() << "only root can give a folder to another user";
  const std::string dir = makeTempDir();
  const std::string cache = dir + "/cache";
  ASSERT_EQ(mkdir(cache.c_str(), 0755), 0);
  unsetenv("FOTAVI_CACHE_DIR");
  setenv("XDG_CACHE_HOME", cache.c_str(), 1);
  setenv("XDG_RUNTIME_DIR", (dir + "/runtime").c_str(), 1);
  if (*GetParam().prepare) ASSERT_EQ(system(("cd '" + cache + "' && " + GetParam().prepare).c_str()), 0);
  const std::string work = GetLargeWorkFolder();
  if (GetParam().usable) {
    ASSERT_EQ(work, cache + "/fotavi/work/");
    struct stat st;
    ASSERT_EQ(lstat(work.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);
  } else {
    EXPECT_EQ(work, "");
  }
  unsetenv("XDG_CACHE_HOME");
  unsetenv("XDG_RUNTIME_DIR");
  (void)!system(("rm -rf '" + dir + "'").c_str());
}

INSTANTIATE_TEST_SUITE_P(
    Table, LargeWorkFolder,
    ::testing::Values(LargeWorkCase{"Missing", "", true},
                      LargeWorkCase{"OursButOpenToReading", "mkdir -p fotavi/work && chmod 755 fotavi/work", true},
                      LargeWorkCase{"ALink", "mkdir -p fotavi elsewhere && ln -s ../elsewhere fotavi/work", false},
                      LargeWorkCase{"AnotherUsers", "mkdir -p fotavi/work && chown -R 12345 fotavi", false},
                      LargeWorkCase{"OpenToWriting", "mkdir -p fotavi/work && chmod 777 fotavi/work", false},
                      LargeWorkCase{"ParentOpenToWriting", "mkdir -p fotavi/work && chmod 777 fotavi", false}),
    [](const auto& info) { return std::string(info.param.name); });

// Where a log goes: its own folder when this process can write into it,
// else the user's log folder under $XDG_STATE_HOME (an absolute one, else
// ~/.local/state), made private; "" when neither can be used.
struct LogFolderCase {
  const char* name;
  const char* prepare;     // shell run in the test folder first ("" none)
  const char* stateHome;   // $XDG_STATE_HOME: relative to the test folder, "" unset, "rel:" as given
  const char* expected;    // "own", "user" ($XDG_STATE_HOME), "home" (~/.local/state) or "none"
  friend void PrintTo(const LogFolderCase& c, std::ostream* os) { *os << c.name; }
};

class LogFolder : public ::testing::TestWithParam<LogFolderCase> {};

TEST_P(LogFolder, IsTheLogsOwnElseTheUsers) {
  const LogFolderCase& c = GetParam();
  const std::string dir = makeTempDir();
  const std::string saved = getenv("HOME") ? getenv("HOME") : "";
  setenv("HOME", (dir + "/home").c_str(), 1);
  const std::string state = c.stateHome;
  if (state.empty()) unsetenv("XDG_STATE_HOME");
  else if (state.rfind("rel:", 0) == 0) setenv("XDG_STATE_HOME", state.substr(4).c_str(), 1);
  else setenv("XDG_STATE_HOME", (dir + "/" + state).c_str(), 1);
  if (*c.prepare) ASSERT_EQ(system(("cd '" + dir + "' && " + c.prepare).c_str()), 0);
  const std::string chosen = ChooseLogFolder(dir + "/install/Logs");
  const std::string expected = std::string(c.expected) == "own"    ? dir + "/install/Logs/"
                               : std::string(c.expected) == "user" ? dir + "/" + state + "/fotavi/Logs/"
                               : std::string(c.expected) == "home" ? dir + "/home/.local/state/fotavi/Logs/"
                                                                   : std::string();
  EXPECT_EQ(chosen, expected);
  if (!expected.empty() && std::string(c.expected) != "own") {
    struct stat st;
    ASSERT_EQ(lstat(expected.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
  }
  setenv("HOME", saved.c_str(), 1);
  unsetenv("XDG_STATE_HOME");
  (void)!system(("rm -rf '" + dir + "'").c_str());
}

INSTANTIATE_TEST_SUITE_P(
    Table, LogFolder,
    ::testing::Values(
        LogFolderCase{"OwnFolderWritable", "mkdir -p install/Logs", "state", "own"},
        LogFolderCase{"OwnFolderMissing", "", "state", "user"},
        LogFolderCase{"OwnFolderIsAFile", "mkdir install && touch install/Logs", "state", "user"},
        LogFolderCase{"NoStateHome", "", "", "home"},
        LogFolderCase{"RelativeStateHomeIsIgnored", "", "rel:state", "home"},
        LogFolderCase{"UsersFolderOthersCanWriteTo", "mkdir -p state/fotavi/Logs && chmod 777 state/fotavi/Logs",
                      "state", "none"},
        LogFolderCase{"NeitherUsable", "touch state", "state", "none"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Paths, FallbackRootEndsWithASlash) {
  std::string dir = makeTempDir();
  setenv("FOTAVI_FALLBACK_ROOT", (dir + "/drive").c_str(), 1);
  EXPECT_EQ(GetFallbackRoot(), dir + "/drive/");
  unsetenv("FOTAVI_FALLBACK_ROOT");
  (void)!system(("rm -rf '" + dir + "'").c_str());
}

}  // namespace
