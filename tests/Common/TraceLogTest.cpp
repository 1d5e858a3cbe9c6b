// Trace log: line format, name field, message limit, size limit from the INI
// file, roll-over, base folder fallback, concurrent writers.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "CommonFunc.h"
#include "Platform/Ini.h"
#include "Platform/Paths.h"
#include "Platform/Settings.h"
#include "TestEnv.h"
#include "TraceLog.h"

namespace fs = std::filesystem;
using fotavi_test::ReadFile;

namespace {

class TraceLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fotavi_test::IsolateEnvironment("trace");
    install_ = root_ + "/install";
    fs::create_directories(install_ + "/Logs");
    ASSERT_TRUE(SettingsWriteString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tiryx\\Utility Software (K27)\\Parameters",
                                    "InstallPath", install_));
  }
  void TearDown() override { fs::remove_all(root_); }

  std::string LogFile() const { return install_ + "/Logs/FotaviPreTrc.log"; }
  std::string RollFile() const { return install_ + "/Logs/FotaviPreTrc1.log"; }
  void SetTraceSize(const std::string& value) { ASSERT_TRUE(IniWriteString(install_ + "/Fotavi.ini", "Config", "TRACESIZE", value)); }

  std::string root_;
  std::string install_;
};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

TEST_F(TraceLogTest, LineHasTimeNameFieldMessageAndCrlf) {
  ASSERT_EQ(1, TraceLog(TRC_PRE, "CMainFrame::OnCreate", "The error occurred with the [%s] function.", "Create"));
  const std::string text = ReadFile(LogFile());
  const std::regex line(
      R"(^\[\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2}\.\d{3}\] \[CMainFrame::OnCreate {12}\] The error occurred with the \[Create\] function\.\r\n$)");
  EXPECT_TRUE(std::regex_match(text, line)) << text;
}

struct NameCase {
  std::string name;
  std::string field;  // the 32 characters expected between the brackets
};

class TraceNameField : public TraceLogTest, public ::testing::WithParamInterface<NameCase> {};

TEST_P(TraceNameField, NameIsPaddedOrCutTo32) {
  ASSERT_EQ(1, TraceLogText(TRC_PRE, GetParam().name.c_str(), "x"));
  const std::string text = ReadFile(LogFile());
  ASSERT_GE(text.size(), 26u + 34u);
  EXPECT_EQ("[" + GetParam().field + "] x\r\n", text.substr(26));
}

INSTANTIATE_TEST_SUITE_P(
    Names, TraceNameField,
    ::testing::Values(NameCase{"", std::string(32, ' ')}, NameCase{"A::B", "A::B" + std::string(28, ' ')},
                      NameCase{std::string(32, 'n'), std::string(32, 'n')},
                      NameCase{std::string(32, 'n') + "X", std::string(32, 'n')},
                      NameCase{"CFileSelDlg::DoModal_with_a_long_tail", "CFileSelDlg::DoModal_with_a_long"}),
    [](const auto& info) {
      return "Length" + std::to_string(info.param.name.size()) + "_" + std::to_string(info.index);
    });

TEST_F(TraceLogTest, MessageIsCutTo1024ThenCrlf) {
  const std::string longText(3000, 'm');
  ASSERT_EQ(1, TraceLog(TRC_PRE, "F::G", "%s", longText.c_str()));
  const std::string text = ReadFile(LogFile());
  EXPECT_EQ(61u + 1024u + 2u, text.size());  // header of 61 bytes
  EXPECT_EQ("\r\n", text.substr(text.size() - 2));
}

struct CutCase {
  const char* name;
  std::string message;
  std::string written;  // the message part of the line
};

// The cut at 1024 bytes never leaves half a character behind, whether the
// text comes through a format or as a fixed text.
TEST_F(TraceLogTest, MessageCutNeverSplitsAMultiByteCharacter) {
  const std::string e = "\xC3\xA9";         // two bytes
  const std::string euro = "\xE2\x82\xAC";  // three bytes
  const CutCase cases[] = {
      {"TwoByteAcrossTheLimit", std::string(1023, 'a') + e + "tail", std::string(1023, 'a')},
      {"ThreeByteAcrossTheLimit", std::string(1022, 'a') + euro + "tail", std::string(1022, 'a')},
      {"ThreeByteStartingAtTheLimit", std::string(1024, 'a') + euro, std::string(1024, 'a')},
      {"EndsExactlyAtTheLimit", std::string(1022, 'a') + e + "tail", std::string(1022, 'a') + e},
      {"FourByteAcrossTheLimit", std::string(1021, 'a') + "\xF0\x9F\x93\xB7" + "tail", std::string(1021, 'a')},
      // Bytes that are not UTF-8 are cut at the limit rather than dropped.
      {"NotUtf8", std::string(1100, '\xB0'), std::string(1024, '\xB0')},
  };
  for (const auto& c : cases) {
    for (const bool formatted : {true, false}) {
      fs::remove(LogFile());
      if (formatted) {
        ASSERT_EQ(1, TraceLog(TRC_PRE, "F::G", "%s", c.message.c_str())) << c.name;
      } else {
        ASSERT_EQ(1, TraceLogText(TRC_PRE, "F::G", c.message)) << c.name;
      }
      const std::string text = ReadFile(LogFile());
      ASSERT_GE(text.size(), 61u) << c.name;
      EXPECT_EQ(c.written + "\r\n", text.substr(61)) << c.name << (formatted ? " (format)" : " (text)");
    }
  }
}

TEST_F(TraceLogTest, FixedTextIsNeverTakenAsFormat) {
  ASSERT_EQ(1, TraceLogText(TRC_PRE, "F::G", "100% done %s %n %d"));
  EXPECT_NE(std::string::npos, ReadFile(LogFile()).find("] 100% done %s %n %d\r\n"));
}

TEST_F(TraceLogTest, MemoryLine) {
  ASSERT_EQ(1, TraceLogMemory(TRC_PRE, "CMainFrame::OnRemote", "new CTiryxDialog"));
  EXPECT_NE(std::string::npos, ReadFile(LogFile()).find("] Memory is insufficient. new CTiryxDialog\r\n"));
}

TEST_F(TraceLogTest, NullNameOrFormatOrUnknownSelectorWritesNothing) {
  EXPECT_EQ(0, TraceLog(TRC_PRE, nullptr, "x"));
  EXPECT_EQ(0, TraceLog(TRC_PRE, "F::G", nullptr));
  EXPECT_EQ(0, TraceLog(3, "F::G", "x"));
  EXPECT_EQ(0, TraceLog(0, "F::G", "x"));
  EXPECT_FALSE(fs::exists(LogFile()));
}

TEST_F(TraceLogTest, MovieSelectorUsesItsOwnFiles) {
  ASSERT_EQ(1, TraceLogText(TRC_MOV, "CMovieApp::InitInstance", "x"));
  EXPECT_TRUE(fs::exists(install_ + "/Logs/FotaviMovTrc.log"));
  EXPECT_FALSE(fs::exists(LogFile()));
  std::string log, roll;
  DWORD limit = 0;
  ASSERT_TRUE(GetTraceLogPath(TRC_MOV, &log, &roll, &limit));
  EXPECT_EQ(install_ + "/Logs/FotaviMovTrc1.log", roll);
}

// A logs folder that cannot be written into (missing here; a root-owned one
// for an ordinary user) sends the lines to the user's own log folder under
// the same names; the installation's folder is not made.
TEST_F(TraceLogTest, UnwritableLogsFolderSendsTheLineToTheUsersLogFolder) {
  fs::remove_all(install_ + "/Logs");
  EXPECT_EQ(1, TraceLogText(TRC_PRE, "F::G", "x"));
  const std::string userLogs = root_ + "/state/fotavi/Logs/";
  EXPECT_NE(ReadFile(userLogs + "FotaviPreTrc.log").find("] x\r\n"), std::string::npos);
  EXPECT_EQ(fs::status(userLogs).permissions() & fs::perms::all, fs::perms::owner_all);
  EXPECT_FALSE(fs::exists(install_ + "/Logs"));
}

// Without a usable state folder either, the line is lost, and that is said
// on standard error once, not for each line.
TEST_F(TraceLogTest, LogThatCannotBeWrittenAnywhereSaysSoOnce) {
  fs::remove_all(install_ + "/Logs");
  fotavi_test::WriteFile(root_ + "/state", "a file where the state folder would be");
  ::testing::internal::CaptureStderr();
  for (int i = 0; i < 3; ++i) EXPECT_EQ(0, TraceLogText(TRC_MOV, "F::G", "x"));
  const std::string err = ::testing::internal::GetCapturedStderr();
  const std::string said = "Fotavi: the trace log cannot be written (" + install_ + "/Logs/FotaviMovTrc.log";
  const size_t first = err.find("Fotavi: the trace log cannot be written");
  ASSERT_NE(first, std::string::npos) << err;
  EXPECT_EQ(err.find("Fotavi: the trace log cannot be written", first + 1), std::string::npos) << err;
  EXPECT_NE(err.find(said), std::string::npos) << err;
}

TEST_F(TraceLogTest, EmptyInstallPathUsesProgramFolder) {
  ASSERT_TRUE(SettingsWriteString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tiryx\\Utility Software (K27)\\Parameters",
                                  "InstallPath", ""));
  std::string log, roll;
  DWORD limit = 0;
  ASSERT_TRUE(GetTraceLogPath(TRC_PRE, &log, &roll, &limit));
  EXPECT_EQ(GetProgramFolder() + "/Logs/FotaviPreTrc.log", log);
}

struct SizeCase {
  const char* value;  // nullptr: no TRACESIZE entry
  DWORD limit;
};

class TraceSize : public TraceLogTest, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(TraceSize, LimitFromIni) {
  if (GetParam().value) SetTraceSize(GetParam().value);
  std::string log, roll;
  DWORD limit = 0;
  ASSERT_TRUE(GetTraceLogPath(TRC_PRE, &log, &roll, &limit));
  EXPECT_EQ(GetParam().limit, limit);
}

INSTANTIATE_TEST_SUITE_P(Values, TraceSize,
                         ::testing::Values(SizeCase{nullptr, 1024000}, SizeCase{"0", 1024000}, SizeCase{"-5", 1024000},
                                           SizeCase{"11", 1024000}, SizeCase{"1", 1024000}, SizeCase{"3", 3072000},
                                           SizeCase{"10", 10240000}, SizeCase{"abc", 1024000}),
                         [](const auto& info) {
                           std::string n;
                           for (char c : std::string(info.param.value ? info.param.value : ""))
                             n += isalnum(static_cast<unsigned char>(c)) ? c : '_';
                           return (info.param.value ? "Entry" + n : std::string("NoEntry")) + "_" +
                                  std::to_string(info.index);
                         });

TEST_F(TraceLogTest, LineThatWouldPassTheLimitRollsTheWholeFileOver) {
  // Fill the log up to 100 bytes below the limit; a line (61 bytes of
  // header, the message, CRLF) that does not fit moves the file to the
  // roll-over name.
  const std::string filler(1024000 - 100, 'f');
  fotavi_test::WriteFile(LogFile(), filler);
  fotavi_test::WriteFile(RollFile(), "older");
  ASSERT_EQ(1, TraceLogText(TRC_PRE, "F::G", std::string(37, 'a')));  // 61 + 37 + 2 = 100 bytes: fits exactly
  EXPECT_EQ(1024000u, fs::file_size(LogFile()));
  ASSERT_EQ(1, TraceLogText(TRC_PRE, "F::G", "next"));
  EXPECT_EQ(1024000u, fs::file_size(RollFile()));
  const auto lines = Lines(ReadFile(LogFile()));
  ASSERT_EQ(1u, lines.size());
  EXPECT_NE(std::string::npos, lines[0].find("] next"));
}

TEST_F(TraceLogTest, FailedRollOverAppendsInsteadOfWiping) {
  fotavi_test::WriteFile(LogFile(), std::string(1024000, 'f'));
  // A folder at the roll-over name makes the rename fail.
  fs::create_directories(RollFile() + "/blocker");
  ASSERT_EQ(1, TraceLogText(TRC_PRE, "F::G", "kept"));
  const std::string text = ReadFile(LogFile());
  EXPECT_EQ(std::string(1024000, 'f'), text.substr(0, 1024000));
  EXPECT_NE(std::string::npos, text.find("] kept\r\n", 1024000));
}

TEST_F(TraceLogTest, ConcurrentLinesAreNeverInterleaved) {
  constexpr int kThreads = 8;
  constexpr int kLines = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      const std::string body(300, static_cast<char>('a' + t));
      for (int i = 0; i < kLines; ++i) TraceLogText(TRC_PRE, "Worker::Run", body);
    });
  }
  for (auto& th : threads) th.join();
  const auto lines = Lines(ReadFile(LogFile()));
  ASSERT_EQ(static_cast<size_t>(kThreads * kLines), lines.size());
  const std::regex whole(R"(^\[[^\]]{23}\] \[Worker::Run {21}\] ([a-h])\1{299}$)");
  for (const auto& line : lines) ASSERT_TRUE(std::regex_match(line, whole)) << line.substr(0, 80);
}

TEST_F(TraceLogTest, ConcurrentWritersAcrossTheLimitKeepEveryLine) {
  SetTraceSize("1");
  fotavi_test::WriteFile(LogFile(), std::string(1024000 - 2000, 'f'));
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([] {
      for (int i = 0; i < 50; ++i) TraceLogText(TRC_PRE, "W::R", std::string(100, 'z'));
    });
  }
  for (auto& th : threads) th.join();
  // Every one of the 200 lines is in one of the two files, whole.
  const std::string both = ReadFile(RollFile()) + ReadFile(LogFile());
  size_t count = 0;
  for (size_t pos = both.find(std::string(100, 'z') + "\r\n"); pos != std::string::npos;
       pos = both.find(std::string(100, 'z') + "\r\n", pos + 1)) {
    ++count;
  }
  EXPECT_EQ(200u, count);
}

}  // namespace
