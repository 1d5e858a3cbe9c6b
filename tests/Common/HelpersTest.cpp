// Settings access, installer values, the single-instance mutex across
// processes, folders and numbers.
#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "CommonFunc.h"
#include "Platform/Paths.h"
#include "Platform/Settings.h"
#include "Platform/UiService.h"
#include "TestEnv.h"

namespace fs = std::filesystem;

namespace {

class HelpersTest : public ::testing::Test {
 protected:
  void SetUp() override { root_ = fotavi_test::IsolateEnvironment("helpers"); }
  void TearDown() override { fs::remove_all(root_); }
  std::string root_;
};

constexpr const char* kParameters = "SOFTWARE\\Tiryx\\Utility Software (K27)\\Parameters";

// ------------------------------------------------------------ settings

TEST_F(HelpersTest, ProfileIntReadsNumbersAndFallsBackOtherwise) {
  CRegOperation reg;
  EXPECT_EQ(7u, reg.GetProfileInt(HKEY_CURRENT_USER, "K", "S", "Missing", 7));
  ASSERT_TRUE(SettingsWriteDword(HKEY_CURRENT_USER, "SOFTWARE\\K\\S", "Number", 42));
  EXPECT_EQ(42u, reg.GetProfileInt(HKEY_CURRENT_USER, "K", "S", "Number", 7));
  ASSERT_TRUE(SettingsWriteString(HKEY_CURRENT_USER, "SOFTWARE\\K\\S", "Text", "a longer string"));
  EXPECT_EQ(7u, reg.GetProfileInt(HKEY_CURRENT_USER, "K", "S", "Text", 7));
  EXPECT_EQ(7u, reg.GetProfileInt(HKEY_LOCAL_MACHINE, "K", "S", "Number", 7));  // other root
}

TEST_F(HelpersTest, ProfileStringRoundTripUnderSoftwareKeySection) {
  CRegOperation reg;
  EXPECT_EQ("def", reg.GetProfileString(HKEY_CURRENT_USER, REG_KEY_PRESENTATION, REG_SECTION_IMAGE, "OutputFolder", "def"));
  ASSERT_TRUE(reg.WriteProfileString(HKEY_CURRENT_USER, REG_KEY_PRESENTATION, REG_SECTION_IMAGE, "OutputFolder",
                                     "/home/u/Pictures"));
  EXPECT_EQ("/home/u/Pictures",
            reg.GetProfileString(HKEY_CURRENT_USER, REG_KEY_PRESENTATION, REG_SECTION_IMAGE, "OutputFolder", "def"));
  std::string raw;
  ASSERT_TRUE(SettingsReadString(HKEY_CURRENT_USER, "SOFTWARE\\Tiryx\\Fotavi (K27)\\FotaviForPresentation\\ImgSection",
                                 "OutputFolder", &raw));
  EXPECT_EQ("/home/u/Pictures", raw);
  // A text that cannot be stored is reported, not claimed.
  EXPECT_FALSE(reg.WriteProfileString(HKEY_CURRENT_USER, "K", "S", "Bad", "two\nlines"));
}

TEST_F(HelpersTest, InstallerValuesAndHelpPath) {
  EXPECT_EQ("", GetInstallPath());
  EXPECT_EQ(1u, GetJpegLibType());
  EXPECT_EQ("", GetHelpFilePath());
  ASSERT_TRUE(SettingsWriteString(HKEY_LOCAL_MACHINE, kParameters, "InstallPath", "/opt/fotavi"));
  ASSERT_TRUE(SettingsWriteDword(HKEY_LOCAL_MACHINE, kParameters, "JpegLib", 2));
  EXPECT_EQ("/opt/fotavi", GetInstallPath());
  EXPECT_EQ(2u, GetJpegLibType());
  EXPECT_EQ("/opt/fotavi/HELP/Fotavi.chm", GetHelpFilePath());
}

// ------------------------------------------------------------ single instance

std::string ProbePath() { return GetProgramFolder() + "/CommonMutexProbe"; }

int RunProbe() {
  const std::string cmd = "'" + ProbePath() + "'";
  const int status = std::system(cmd.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(HelpersTest, AppMutexCreatedThenExistsInTheSameProcess) {
  std::unique_ptr<CNamedMutex> first, second;
  ASSERT_EQ(APPMUTEX_CREATED, CreateAppMutex(APP_MUTEX_NAME, true, &first));
  EXPECT_NE(nullptr, first);
  EXPECT_EQ(APPMUTEX_EXISTS, CreateAppMutex(APP_MUTEX_NAME, true, &second));
  EXPECT_EQ(nullptr, second);  // no second handle stays open
  // The extra call did not keep the mutex alive: once the first handle is
  // closed, it can be created again.
  first.reset();
  EXPECT_EQ(APPMUTEX_CREATED, CreateAppMutex(APP_MUTEX_NAME, true, &first));
}

TEST_F(HelpersTest, AppMutexExcludesAnotherProcess) {
  std::unique_ptr<CNamedMutex> mine;
  ASSERT_EQ(APPMUTEX_CREATED, CreateAppMutex(APP_MUTEX_NAME, true, &mine));
  EXPECT_EQ(APPMUTEX_EXISTS, RunProbe());
  mine.reset();
  EXPECT_EQ(APPMUTEX_CREATED, RunProbe());
}

// Starts the probe (behind `runAs`, a command prefix) holding the mutex and
// waits for its "ready N" line; returns the running probe, whose standard
// input ends it, and N in `result` (-1 when it never got ready).
FILE* StartHoldingProbe(const std::string& runAs, const std::string& folder, int* result) {
  const std::string ready = folder + "/probe-ready";
  ::unlink(ready.c_str());
  FILE* child = ::popen((runAs + "'" + ProbePath() + "' hold >'" + ready + "'").c_str(), "w");
  *result = -1;
  for (int i = 0; child && i < 1000 && *result < 0; ++i) {
    if (std::sscanf(fotavi_test::ReadFile(ready).c_str(), "ready %d", result) != 1) {
      *result = -1;
      ::usleep(10000);
    }
  }
  return child;
}

TEST_F(HelpersTest, AppMutexHeldByAnotherProcessIsSeenHereAndFreedWhenItEnds) {
  int held = -1;
  FILE* child = StartHoldingProbe("", root_, &held);
  ASSERT_NE(nullptr, child);
  ASSERT_EQ(APPMUTEX_CREATED, held) << "the probe holds the mutex";
  std::unique_ptr<CNamedMutex> mine;
  const int result = CreateAppMutex(APP_MUTEX_NAME, true, &mine);
  EXPECT_EQ(APPMUTEX_EXISTS, result);
  ::pclose(child);  // closes its input: the probe ends and its handle goes
  EXPECT_EQ(APPMUTEX_CREATED, CreateAppMutex(APP_MUTEX_NAME, true, &mine));
}

TEST_F(HelpersTest, AppMutexThatCannotBeMadeIsFailureWithNoHandle) {
  // The user's lock folder lies below a plain file: no private mutex can be
  // made there.
  fotavi_test::WriteFile(root_ + "/not-a-folder", "x");
  const char* saved = std::getenv("FOTAVI_MUTEX_ROOT");
  const std::string previous = saved ? saved : "";
  ::setenv("FOTAVI_MUTEX_ROOT", (root_ + "/not-a-folder").c_str(), 1);
  std::unique_ptr<CNamedMutex> mine;
  EXPECT_EQ(APPMUTEX_FAILED, CreateAppMutex(APP_MUTEX_NAME, false, &mine));
  EXPECT_EQ(nullptr, mine);
  // A name with nothing behind the prefix cannot be made either.
  EXPECT_EQ(APPMUTEX_FAILED, CreateAppMutex("", true, &mine));
  EXPECT_EQ(nullptr, mine);
  ::setenv("FOTAVI_MUTEX_ROOT", previous.c_str(), 1);
}

// The probe run as another user (uid 65534) holds the mutex.
TEST_F(HelpersTest, AppMutexOfAnotherUserIsAccessDenied) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to start the probe as another user";
  if (::access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "setpriv is missing: cannot run as another user";
  const std::string runAs = "/usr/bin/setpriv --reuid=65534 --regid=65534 --clear-groups ";
  // The probe and the libraries beside it must be reachable for that user
  // (a build below a folder of mode 0700, such as a private /tmp, is not).
  const std::string probe = ProbePath();
  const std::string probeFolder = probe.substr(0, probe.rfind('/'));
  if (std::system((runAs + "/usr/bin/test -x '" + probe + "' -a -r '" + probeFolder + "/libFotaviPlatform.so'").c_str()) != 0)
    GTEST_SKIP() << "the build folder " << probeFolder << " is not reachable for uid 65534";
  int held = -1;
  FILE* child = StartHoldingProbe(runAs, root_, &held);
  ASSERT_NE(nullptr, child);
  ASSERT_EQ(APPMUTEX_CREATED, held) << "the other user's probe holds the mutex";
  std::unique_ptr<CNamedMutex> mine;
  EXPECT_EQ(APPMUTEX_ACCESSDENIED, CreateAppMutex(APP_MUTEX_NAME, true, &mine));
  EXPECT_EQ(nullptr, mine);
  ::pclose(child);  // the probe ends and its hold goes with it
  EXPECT_EQ(APPMUTEX_CREATED, CreateAppMutex(APP_MUTEX_NAME, true, &mine));
}

// ------------------------------------------------------------ folders and paths

TEST(AddBackslash, AppendsOneSeparatorToNonEmptyPaths) {
  EXPECT_EQ("", AddBackslash(""));
  EXPECT_EQ("/a/", AddBackslash("/a"));
  EXPECT_EQ("/a/", AddBackslash("/a/"));
  EXPECT_EQ("a//", AddBackslash("a//"));
  EXPECT_EQ("/", AddBackslash("/"));
}

TEST_F(HelpersTest, IsPathExist) {
  fs::create_directories(root_ + "/dir");
  fotavi_test::WriteFile(root_ + "/file", "x");
  EXPECT_TRUE(IsPathExist(root_ + "/dir"));
  EXPECT_TRUE(IsPathExist(root_ + "/dir/"));
  EXPECT_TRUE(IsPathExist(root_ + "/file"));
  EXPECT_FALSE(IsPathExist(root_ + "/nothing"));
  EXPECT_FALSE(IsPathExist(""));
}

TEST_F(HelpersTest, DeleteFolderRemovesTheTreeButNeverFollowsLinks) {
  const std::string outside = root_ + "/outside";
  fs::create_directories(outside);
  fotavi_test::WriteFile(outside + "/precious", "keep");
  const std::string tree = root_ + "/tree";
  fs::create_directories(tree + "/a/b/c");
  fotavi_test::WriteFile(tree + "/a/b/c/f1", "1");
  fotavi_test::WriteFile(tree + "/f2", "2");
  fs::create_directory_symlink(outside, tree + "/a/link");
  EXPECT_TRUE(DeleteFolder(tree));
  EXPECT_FALSE(fs::exists(tree));
  EXPECT_EQ("keep", fotavi_test::ReadFile(outside + "/precious"));
}

TEST_F(HelpersTest, DeleteFolderOfALinkWithTrailingSeparatorsNeverEmptiesItsTarget) {
  const std::string outside = root_ + "/outside";
  fs::create_directories(outside + "/sub");
  fotavi_test::WriteFile(outside + "/precious", "keep");
  fotavi_test::WriteFile(outside + "/sub/also", "keep");
  for (const char* tail : {"/", "//"}) {
    const std::string link = root_ + "/link";
    fs::create_directory_symlink(outside, link);
    EXPECT_TRUE(DeleteFolder(link + tail)) << tail;
    EXPECT_FALSE(fs::exists(fs::symlink_status(link))) << tail << ": the link itself goes";
    EXPECT_EQ("keep", fotavi_test::ReadFile(outside + "/precious")) << tail;
    EXPECT_EQ("keep", fotavi_test::ReadFile(outside + "/sub/also")) << tail;
    fs::remove(link);
  }
  // A real folder given with a trailing separator is still removed whole.
  fs::create_directories(root_ + "/tree/a");
  fotavi_test::WriteFile(root_ + "/tree/a/f", "1");
  EXPECT_TRUE(DeleteFolder(root_ + "/tree/"));
  EXPECT_FALSE(fs::exists(root_ + "/tree"));
}

TEST_F(HelpersTest, DeleteFolderReportsItsRealResult) {
  EXPECT_TRUE(DeleteFolder(root_ + "/never-existed"));
  EXPECT_FALSE(DeleteFolder(""));
  fotavi_test::WriteFile(root_ + "/plain", "x");
  EXPECT_FALSE(DeleteFolder(root_ + "/plain"));  // not a folder: left alone
  EXPECT_TRUE(fs::exists(root_ + "/plain"));
  if (::geteuid() != 0) {
    const std::string locked = root_ + "/locked";
    fs::create_directories(locked + "/inner");
    fotavi_test::WriteFile(locked + "/inner/f", "x");
    fs::permissions(locked + "/inner", fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_FALSE(DeleteFolder(locked));
    fs::permissions(locked + "/inner", fs::perms::owner_all);
  }
}

// A chooser that answers with a fixed folder and records what it was asked.
class FolderAnswer : public IUserInterfaceService {
 public:
  explicit FolderAnswer(std::string answer) : answer_(std::move(answer)) {}
  int MessageBox(HWND, const std::string&, const std::string&, UINT) override { return IDOK; }
  FileChooserResult ChooseFile(HWND, const FileChooserRequest&) override { return {}; }
  std::string ChooseFolder(HWND, const std::string& title, const std::string& initial) override {
    title_ = title;
    initial_ = initial;
    return answer_;
  }
  std::string answer_, title_, initial_;
};

TEST(SelectFolder, OkCancelAndTooLong) {
  struct Case {
    std::string answer;
    int result;
    std::string buffer;  // afterwards, starting from "previous"
  } const cases[] = {
      {"/home/u/pics", 1, "/home/u/pics"},
      {"", 0, ""},
      {"/" + std::string(255, 'p'), 1, "/" + std::string(255, 'p')},
      {"/" + std::string(256, 'p'), 0, "previous"},
  };
  for (const auto& c : cases) {
    FolderAnswer service(c.answer);
    IUserInterfaceService* old = SetUserInterfaceService(&service);
    std::string buffer = "previous";
    EXPECT_EQ(c.result, SelectFolder(nullptr, "/start", &buffer));
    EXPECT_EQ(c.buffer, buffer);
    EXPECT_EQ("Please select folder", service.title_);
    EXPECT_EQ("/start", service.initial_);
    SetUserInterfaceService(old);
  }
}

// ------------------------------------------------------------ numbers

struct UIntCase {
  const char* text;
  UINT minimum, maximum, result;
};

class StringToUIntTest : public ::testing::TestWithParam<UIntCase> {};

TEST_P(StringToUIntTest, Converts) {
  const auto c = GetParam();
  EXPECT_EQ(c.result, StringToUInt(c.text, c.minimum, c.maximum)) << "'" << c.text << "'";
}

INSTANTIATE_TEST_SUITE_P(Cases, StringToUIntTest,
                         ::testing::Values(UIntCase{"10", 1, 10, 10}, UIntCase{"11", 1, 10, 0}, UIntCase{"1", 1, 10, 1},
                                           UIntCase{"0", 1, 10, 0}, UIntCase{" 5", 1, 10, 0}, UIntCase{"5 ", 1, 10, 0},
                                           UIntCase{"0", 0, 10, 0}, UIntCase{"", 0, 10, 0}, UIntCase{"+5", 0, 10, 0},
                                           UIntCase{"-5", 0, 10, 0}, UIntCase{"5a", 0, 10, 0},
                                           UIntCase{"007", 0, 10, 7},
                                           UIntCase{"4294967295", 0, 0xFFFFFFFFu, 0xFFFFFFFFu},
                                           UIntCase{"4294967296", 0, 0xFFFFFFFFu, 0},  // would wrap to 0
                                           UIntCase{"4294967306", 0, 0xFFFFFFFFu, 0},  // would wrap to 10
                                           UIntCase{"99999999999999999999", 0, 0xFFFFFFFFu, 0}),
                         [](const auto& info) {
                           std::string n;
                           for (char c : std::string(info.param.text))
                             n += isalnum(static_cast<unsigned char>(c)) ? c : '_';
                           return "Text" + n + "_From" + std::to_string(info.param.minimum) + "To" +
                                  std::to_string(info.param.maximum) + "_" + std::to_string(info.index);
                         });

TEST(PointDistance, Euclidean) {
  EXPECT_DOUBLE_EQ(5.0, GetPointDistance(0, 0, 3, 4));
  EXPECT_DOUBLE_EQ(5.0, GetPointDistance(3, 4, 0, 0));
  EXPECT_DOUBLE_EQ(0.0, GetPointDistance(-2, 7, -2, 7));
}

}  // namespace
