// The device log: levels, file choice, roll-over and the fallback folder.
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <fstream>
#include <functional>

#include "DriverFixture.h"

namespace fotavi::test {
namespace {

class DeviceLogTest : public DriverTest {
 protected:
  // One frame request and one failing request, then the log thread ends.
  void RunSomeRequests() {
    ASSERT_TRUE(StartEmulator());
    ASSERT_TRUE(CreateInterface());
    ASSERT_TRUE(Open());
    DEVICE_CMD frame = FotaviMakeCommand(FOTAVI_CMD_GET_JPEG);
    HGLOBAL h = nullptr;
    DWORD size = 0, err = 0;
    ASSERT_TRUE(device_->bRequest(&frame, &h, &size, &err));
    GlobalFree(h);
    DEVICE_CMD unknown = FotaviMakeCommand(0x1234);
    EXPECT_FALSE(device_->bRequest(&unknown, &h, &size, &err));
    device_->bClose(&err);
    ReleaseInterface();
  }
  std::string LogsDir() const { return installDir_ + "/Logs/"; }
};

struct LevelCase {
  DWORD level;
  std::vector<std::string> present;
  std::vector<std::string> absent;
};

class LogLevelTest : public DeviceLogTest, public ::testing::WithParamInterface<LevelCase> {};

TEST_P(LogLevelTest, WritesTheLinesOfItsLevel) {
  logLevel_ = GetParam().level;
  RunSomeRequests();
  if (GetParam().level == 0) {
    EXPECT_FALSE(FileExists(LogsDir() + "Device0.log"));
    return;
  }
  std::string text = ReadFileText(LogsDir() + "Device0.log");
  for (const std::string& s : GetParam().present) EXPECT_NE(text.find(s), std::string::npos) << s;
  for (const std::string& s : GetParam().absent) EXPECT_EQ(text.find(s), std::string::npos) << s;
}

const std::vector<std::string> kLevel1Lines = {
    "\tSTART\t\t:bOpen\r\n",
    "\tEND\t\t (1):bOpen\r\n",
    "\tSTART\t\t:bRequestSub\r\n",
    "\tSTART\t\t:bWriteSub\r\n",
    "\tEND\t\t (1):bReadSub\r\n",
    "\tEND\t\t (0):bRequest\r\n",
    "\tINFO\t\t:0x810e0001(ERR_FOTAVI_REQUEST), [Device:0]\r\n",
    "\t\t\t\t\t\t\t [ 00 00 ",  // dump of the command packet written
    "]>\r\n",
    "]<\r\n",
    "\tSTART\t\t:bClose\r\n",
};
const std::vector<std::string> kLevel2Only = {
    "LOG  \t\t:ReadFile()\r\n",
    "LOG  \t\t:WriteFile() [TRUE]\r\n",
    "START\t\t:CRequest::bCommandAndResponse\r\n",
    "END\t\t (1):CRequest::bReadJpegData\r\n",
    "START\t\t:CRequest::bReset\r\n",
};

std::vector<std::string> Join(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

INSTANTIATE_TEST_SUITE_P(Levels, LogLevelTest,
                         ::testing::Values(LevelCase{0, {}, {}}, LevelCase{1, kLevel1Lines, kLevel2Only},
                                           LevelCase{2, Join(kLevel1Lines, kLevel2Only), {}}),
                         [](const ::testing::TestParamInfo<LevelCase>& i) {
                           return "Level" + std::to_string(i.param.level);
                         });

TEST_F(DeviceLogTest, LinesCarryTheDriversTextInFront) {
  emulator_ = std::make_unique<EmulatorProcess>([&] {
    EmulatorOptions o = Options();
    o.extraArgs = {"--driver-text", "DRV>"};
    return o;
  }());
  ASSERT_TRUE(emulator_->Start());
  ASSERT_TRUE(CreateInterface());
  ASSERT_TRUE(Open());
  DWORD err = 0;
  device_->bClose(&err);
  ReleaseInterface();
  std::string text = ReadFileText(LogsDir() + "Device0.log");
  EXPECT_NE(text.find("DRV>"), std::string::npos);
  EXPECT_EQ(text.find('\0'), std::string::npos);
}

TEST_F(DeviceLogTest, LowestMissingIndexIsChosen) {
  for (int n : {0, 1, 2, 4, 6, 8, 9}) std::ofstream(LogsDir() + "Device" + std::to_string(n) + ".log") << "old";
  RunSomeRequests();
  EXPECT_NE(ReadFileText(LogsDir() + "Device3.log").find("START"), std::string::npos);
  EXPECT_EQ(ReadFileText(LogsDir() + "Device0.log"), "old");
  EXPECT_FALSE(FileExists(LogsDir() + "Device5.log"));
}

TEST_F(DeviceLogTest, WithAllTenPresentTheOldestIsEmptiedAndUsed) {
  for (int n = 0; n < 10; ++n) {
    std::string path = LogsDir() + "Device" + std::to_string(n) + ".log";
    std::ofstream(path) << "old";
    struct utimbuf t;
    t.actime = t.modtime = 1000000 + (n == 6 ? 0 : 1000 + n);
    utime(path.c_str(), &t);
  }
  RunSomeRequests();
  std::string text = ReadFileText(LogsDir() + "Device6.log");
  EXPECT_EQ(text.rfind("old", 0), std::string::npos) << "the chosen file is emptied";
  EXPECT_NE(text.find("START"), std::string::npos);
  EXPECT_EQ(ReadFileText(LogsDir() + "Device5.log"), "old");
}

// The chosen name may be something other than a file: a FIFO there with no
// reader would block the log's open, and with it the library's start, for
// ever. The log is then not written; the device works as without it.
TEST_F(DeviceLogTest, AFifoInPlaceOfTheChosenFileNeitherBlocksNorIsWrittenTo) {
  for (int n = 0; n < 10; ++n) {
    std::string path = LogsDir() + "Device" + std::to_string(n) + ".log";
    if (n == 6) {
      ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    } else {
      std::ofstream(path) << "old";
    }
    struct utimbuf t;
    t.actime = t.modtime = 1000000 + (n == 6 ? 0 : 1000 + n);
    utime(path.c_str(), &t);
  }
  ::testing::internal::CaptureStderr();
  RunSomeRequests();
  const std::string said = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(said.find("device log " + LogsDir() + "Device6.log refused: it is not a regular file"), std::string::npos)
      << said;
  struct stat st {};
  ASSERT_EQ(stat((LogsDir() + "Device6.log").c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  for (int n : {0, 5, 9}) EXPECT_EQ(ReadFileText(LogsDir() + "Device" + std::to_string(n) + ".log"), "old");
}

// Something other than the user's own file planted under the name the log
// chooses: the log never writes through it or empties what it leads to, and
// says why it refused it.
struct PlantedCase {
  const char* name;
  const char* why;
  // Plants the thing at `path`; false skips the case (with the reason set).
  std::function<bool(const std::string& path, const std::string& target, std::string* skip)> plant;
};

void PrintTo(const PlantedCase& c, std::ostream* os) { *os << c.name; }

class PlantedLogFileTest : public DeviceLogTest, public ::testing::WithParamInterface<PlantedCase> {};

TEST_P(PlantedLogFileTest, IsRefusedAndLeftAsItWas) {
  const std::string path = LogsDir() + "Device0.log";
  const std::string target = root_ + "/precious.txt";
  std::ofstream(target) << "keep me";
  std::string skip;
  if (!GetParam().plant(path, target, &skip)) GTEST_SKIP() << skip;
  // All ten names are taken and the planted one was written longest ago, so
  // it is the one chosen.
  for (int n = 0; n < 10; ++n) {
    const std::string name = LogsDir() + "Device" + std::to_string(n) + ".log";
    if (n > 0) std::ofstream(name) << "old";
    struct utimbuf t;
    t.actime = t.modtime = 1000000 + (n == 0 ? 0 : 1000 + n);
    utime(name.c_str(), &t);
  }
  struct stat before {};
  ASSERT_EQ(lstat(path.c_str(), &before), 0);
  ::testing::internal::CaptureStderr();
  RunSomeRequests();
  const std::string said = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(ReadFileText(target), "keep me");
  struct stat after {};
  ASSERT_EQ(lstat(path.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_size, before.st_size) << "nothing written there";
  EXPECT_NE(said.find("device log " + path + " refused: " + GetParam().why), std::string::npos) << said;
}

INSTANTIATE_TEST_SUITE_P(
    Planted, PlantedLogFileTest,
    ::testing::Values(
        PlantedCase{"SymbolicLinkToAFile", "it is a symbolic link",
                    [](const std::string& path, const std::string& target, std::string*) {
                      return symlink(target.c_str(), path.c_str()) == 0;
                    }},
        PlantedCase{"FileOfAnotherUser", "it is not the user's own",
                    [](const std::string& path, const std::string&, std::string* skip) {
                      if (geteuid() != 0) {
                        *skip = "only root can make a file of another user";
                        return false;
                      }
                      std::ofstream(path) << "theirs";
                      return chown(path.c_str(), 65534, 65534) == 0;
                    }}),
    [](const ::testing::TestParamInfo<PlantedCase>& i) { return std::string(i.param.name); });

// A link to nothing must not bring its target into being either.
TEST_F(DeviceLogTest, ALinkToNothingCreatesNoFile) {
  const std::string target = root_ + "/made-by-the-log.txt";
  ASSERT_EQ(symlink(target.c_str(), (LogsDir() + "Device0.log").c_str()), 0);
  RunSomeRequests();
  EXPECT_FALSE(FileExists(target));
}

TEST_F(DeviceLogTest, FileReachingTheLimitRollsOverToANewFile) {
  logFileSize_ = 2;  // KiB
  RunSomeRequests();
  std::string first = ReadFileText(LogsDir() + "Device0.log");
  EXPECT_LE(first.size(), 2048u);
  EXPECT_TRUE(FileExists(LogsDir() + "Device1.log"));
  EXPECT_LE(ReadFileText(LogsDir() + "Device1.log").size(), 2048u);
}

TEST_F(DeviceLogTest, WithoutInstallPathNamesFollowTheFallbackFolderDirectly) {
  withInstallPath_ = false;
  RunSomeRequests();
  EXPECT_NE(ReadFileText(root_ + "/fallback/Device0.log").find("START\t\t:bOpen"), std::string::npos);
  EXPECT_FALSE(FileExists(LogsDir() + "Device0.log"));
}

// An installation whose logs folder cannot be written into (missing here; a
// root-owned one for an ordinary user) sends the log to the user's own log
// folder, under the same names; nothing is made in the installation.
TEST_F(DeviceLogTest, UnwritableLogsFolderSendsTheLogToTheUsersLogFolder) {
  ASSERT_EQ(0, std::system(("rm -rf '" + LogsDir() + "'").c_str()));
  RunSomeRequests();
  const std::string userLogs = root_ + "/state/fotavi/Logs/";
  EXPECT_NE(ReadFileText(userLogs + "Device0.log").find("START\t\t:bOpen"), std::string::npos);
  struct stat st;
  ASSERT_EQ(stat(userLogs.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_FALSE(FileExists(installDir_ + "/Logs"));
}

// Where neither folder takes the log, it says so on standard error, once.
TEST_F(DeviceLogTest, LogThatCannotBeWrittenAnywhereSaysSoOnce) {
  ASSERT_EQ(0, std::system(("rm -rf '" + LogsDir() + "'").c_str()));
  std::ofstream(root_ + "/state") << "a file where the state folder would be";
  ::testing::internal::CaptureStderr();
  RunSomeRequests();
  ASSERT_TRUE(CreateInterface());
  ReleaseInterface();
  const std::string err = ::testing::internal::GetCapturedStderr();
  const std::string said = "FotaviZ5: the device log cannot be written";
  const size_t first = err.find(said);
  ASSERT_NE(first, std::string::npos) << err;
  EXPECT_EQ(err.find(said, first + 1), std::string::npos) << err;
}

TEST_F(DeviceLogTest, LinesAreCutAt255Characters) {
  logLevel_ = 2;
  RunSomeRequests();
  std::string text = ReadFileText(LogsDir() + "Device0.log");
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find("\r\n", start);
    ASSERT_NE(end, std::string::npos);
    EXPECT_LE(end + 2 - start, 255u);
    start = end + 2;
  }
}

}  // namespace
}  // namespace fotavi::test
