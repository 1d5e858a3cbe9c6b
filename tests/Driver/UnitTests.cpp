// Unit tests of the library's own code, linked in directly.
#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "Class/Device.h"
#include "Class/Interface.h"
#include "FotaviZ5App.h"
#include "Platform/Platform.h"

namespace {

// ------------------------------------------------------------ packet routing

TEST(PacketRoutingTest, SequenceZeroBelongsToThePostedRead) {
  CRequestItem posted, other;
  posted.m_wSequence = 4;
  other.m_wSequence = 5;
  std::deque<CRequestItem*> pending{&other, &posted};
  EXPECT_EQ(FindPacketOwner(pending, &posted, 0), &posted);
}

TEST(PacketRoutingTest, PacketNineWhileReadsEightAndNineWaitGoesToNine) {
  CRequestItem read8, read9;
  read8.m_wSequence = 8;
  read9.m_wSequence = 9;
  std::deque<CRequestItem*> pending{&read9, &read8};
  EXPECT_EQ(FindPacketOwner(pending, &read8, 9), &read9);
}

TEST(PacketRoutingTest, OldestReadWithTheSequenceWins) {
  CRequestItem first, second;
  first.m_wSequence = second.m_wSequence = 3;
  std::deque<CRequestItem*> pending{&first, &second};
  EXPECT_EQ(FindPacketOwner(pending, &second, 3), &first);
}

TEST(PacketRoutingTest, NoReadWithTheSequenceHasNoOwner) {
  CRequestItem read8;
  read8.m_wSequence = 8;
  std::deque<CRequestItem*> pending{&read8};
  EXPECT_EQ(FindPacketOwner(pending, &read8, 9), nullptr);
}

// ---------------------------------------------------------- posting retries

int g_failuresLeft = 0;
int g_calls = 0;
BOOL FlakyPost(HWND, UINT, WPARAM, LPARAM) {
  ++g_calls;
  if (g_failuresLeft > 0) {
    --g_failuresLeft;
    SetLastError(ERROR_NOT_ENOUGH_QUOTA);
    return FALSE;
  }
  return TRUE;
}
BOOL FlakyThreadPost(DWORD, UINT, WPARAM, LPARAM) { return FlakyPost(nullptr, 0, 0, 0); }

class PostRetryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = std::string(::testing::TempDir()) + "fotavi-post-" + std::to_string(getpid()) + "/";
    MakeFolders(folder_);
    std::remove((folder_ + "Device0.log").c_str());
    theApp.m_Log.SetSettings(1 << 20, 2, folder_);
    theApp.m_Log.Start();
    theApp.m_pfnPostMessage = &FlakyPost;
    theApp.m_pfnPostThreadMessage = &FlakyThreadPost;
    g_calls = 0;
  }
  void TearDown() override {
    theApp.m_pfnPostMessage = &::PostMessage;
    theApp.m_pfnPostThreadMessage = &::PostThreadMessage;
    theApp.m_Log.Stop();
    std::filesystem::remove_all(folder_);
  }
  std::string LogText() {
    theApp.m_pfnPostThreadMessage = &::PostThreadMessage;
    theApp.m_Log.Stop();
    std::ifstream in(folder_ + "Device0.log");
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  std::string folder_;
};

TEST_F(PostRetryTest, NineFailuresThenSuccessIsSuccessWithoutErrorLine) {
  g_failuresLeft = 9;
  EXPECT_TRUE(theApp.bPostThreadMessage(1234u, WM_USER, 0, 0));
  EXPECT_EQ(g_calls, 10);
  EXPECT_EQ(LogText().find("Error"), std::string::npos);
}

TEST_F(PostRetryTest, TenFailuresGiveFalseAndOneLogLine) {
  g_failuresLeft = 1000;
  theApp.m_pfnPostThreadMessage = &::PostThreadMessage;  // the log line itself must get through
  HWND fake = reinterpret_cast<HWND>(0x10);
  EXPECT_FALSE(theApp.bPostMessage(fake, WM_USER, 0, 0));
  EXPECT_EQ(g_calls, 10);
  std::string text = LogText();
  size_t first = text.find("LOG  \t\t:PostMessage() Error (1816)");
  EXPECT_NE(first, std::string::npos) << text;
  EXPECT_EQ(text.find("PostMessage() Error", first + 20), std::string::npos) << "one line only";
}

TEST_F(PostRetryTest, ThreadPostToNoThreadFailsAtOnce) {
  EXPECT_FALSE(theApp.bPostThreadMessage(static_cast<const CPlatformThread*>(nullptr), WM_USER, 0, 0));
  EXPECT_EQ(g_calls, 0);
}

TEST(PostToEndedThreadTest, FailsTenTimesWithOneLogLine) {
  std::string folder = std::string(::testing::TempDir()) + "fotavi-ended-" + std::to_string(getpid()) + "/";
  MakeFolders(folder);
  std::remove((folder + "Device0.log").c_str());
  theApp.m_Log.SetSettings(1 << 20, 2, folder);
  theApp.m_Log.Start();
  CPlatformThread t([] {});
  DWORD id = t.id();
  t.Join();
  EXPECT_FALSE(theApp.bPostThreadMessage(id, WM_USER, 0, 0));
  theApp.m_Log.Stop();
  std::ifstream in(folder + "Device0.log");
  std::stringstream ss;
  ss << in.rdbuf();
  std::string text = ss.str();
  size_t first = text.find("PostThreadMessage() Error (1444)");
  EXPECT_NE(first, std::string::npos) << text;
  EXPECT_EQ(text.find("PostThreadMessage() Error", first + 20), std::string::npos) << "one line only";
  std::filesystem::remove_all(folder);
}

// ------------------------------------------------------------ version rule

TEST(OsVersionTest, TheOpenCheckUsesTheGlobalPrefix) { EXPECT_TRUE(bCheckOSVersion(9, 0, 5, 0, 0)); }

TEST(OsVersionTest, LaterServicePackOrVersionThanThePlatformIsNotReached) {
  EXPECT_FALSE(bCheckOSVersion(9, 0, 5, 1, 4));
  EXPECT_FALSE(bCheckOSVersion(9, 0, 6, 0, 0));
  EXPECT_TRUE(bCheckOSVersion(9, 0, 5, 1, 3));
}

}  // namespace
