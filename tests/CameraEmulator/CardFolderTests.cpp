// The host folder that plays the SD card: card paths, and refusal of every
// path that could reach outside the folder.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "CardFolder.h"
#include "EmulatorProcess.h"
#include "Protocol.h"

namespace fotavi::test {
namespace {

class CardFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = MakeTempDir("fotavi-card-");
    card_ = base_ + "/card";
    mkdir(card_.c_str(), 0755);
    mkdir((card_ + "/DCIM").c_str(), 0755);
    mkdir((card_ + "/DCIM/100ABCDE").c_str(), 0755);
    Write(card_ + "/DCIM/100ABCDE/IMAG0001.JPG", "picture");
    Write(base_ + "/outside.txt", "secret");
    symlink(base_.c_str(), (card_ + "/DCIM/escape").c_str());
  }
  void TearDown() override { RemoveTree(base_); }
  static void Write(const std::string& path, const std::string& text) { std::ofstream(path) << text; }
  static bool Exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
  }
  std::string base_, card_;
};

struct PathCase {
  const char* text;
  bool valid;
  bool exists;
  const char* cardPath;  // expected when valid
};

class CardPathTest : public CardFolderTest, public ::testing::WithParamInterface<PathCase> {};

TEST_P(CardPathTest, Resolves) {
  const PathCase& c = GetParam();
  emu::CardFolder card(card_);
  emu::CardFolder::Resolved r = card.Resolve(c.text);
  EXPECT_EQ(r.valid, c.valid);
  EXPECT_EQ(r.exists, c.exists);
  if (c.valid) {
    EXPECT_EQ(r.cardPath, c.cardPath);
    EXPECT_EQ(r.hostPath.rfind(card_, 0), 0u) << r.hostPath;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Paths, CardPathTest,
    ::testing::Values(PathCase{"C:\\DCIM\\100ABCDE\\IMAG0001.JPG", true, true, "C:\\DCIM\\100ABCDE\\IMAG0001.JPG"},
                      PathCase{"c:\\dcim\\100abcde\\imag0001.jpg", true, true, "C:\\DCIM\\100ABCDE\\IMAG0001.JPG"},
                      PathCase{"C:\\DCIM\\", true, true, "C:\\DCIM"}, PathCase{"C:\\", true, true, "C:"},
                      PathCase{"C:\\DCIM\\NEW00001.JPG", true, false, "C:\\DCIM\\NEW00001.JPG"},
                      PathCase{"C:\\NOFOLDER\\X.JPG", false, false, ""},
                      PathCase{"C:\\..\\outside.txt", false, false, ""},
                      PathCase{"C:\\DCIM\\..\\..\\outside.txt", false, false, ""},
                      PathCase{"C:\\.\\DCIM", false, false, ""}, PathCase{"C:\\DCIM\\\\100ABCDE", false, false, ""},
                      PathCase{"C:/DCIM", false, false, ""}, PathCase{"C:\\DCIM/../../outside.txt", false, false, ""},
                      PathCase{"D:\\DCIM", false, false, ""}, PathCase{"DCIM", false, false, ""},
                      PathCase{"", false, false, ""}, PathCase{"C:\\DCIM\\escape\\outside.txt", false, false, ""},
                      PathCase{"C:\\DCIM\\escape", false, false, ""}),
    [](const auto& info) {
      std::string n;
      for (char c : std::string(info.param.text)) n += isalnum(static_cast<unsigned char>(c)) ? c : '_';
      return "Path" + n + "_" + std::to_string(info.index);
    });

TEST_F(CardFolderTest, RootCannotBeDeletedOrWritten) {
  emu::CardFolder card(card_);
  EXPECT_EQ(card.Delete("C:\\"), emu::kStatusNotFound);
  EXPECT_EQ(card.CheckWrite("C:\\"), emu::kStatusNotFound);
  EXPECT_TRUE(Exists(card_ + "/DCIM/100ABCDE/IMAG0001.JPG"));
}

TEST_F(CardFolderTest, DeleteThroughALinkLeavesTheTargetAlone) {
  emu::CardFolder card(card_);
  EXPECT_EQ(card.Delete("C:\\DCIM\\escape\\outside.txt"), emu::kStatusNotFound);
  EXPECT_TRUE(Exists(base_ + "/outside.txt"));
}

TEST_F(CardFolderTest, FolderWithAProtectedPictureIsNotDeletedAtAll) {
  emu::CardFolder card(card_);
  Write(card_ + "/DCIM/100ABCDE/IMAG0002.JPG", "kept");
  chmod((card_ + "/DCIM/100ABCDE/IMAG0002.JPG").c_str(), 0444);
  if (access((card_ + "/DCIM/100ABCDE/IMAG0002.JPG").c_str(), W_OK) == 0 && geteuid() != 0) GTEST_SKIP();
  EXPECT_EQ(card.Delete("C:\\DCIM\\100ABCDE"), emu::kStatusLocked);
  EXPECT_TRUE(Exists(card_ + "/DCIM/100ABCDE/IMAG0001.JPG"));
  EXPECT_TRUE(Exists(card_ + "/DCIM/100ABCDE/IMAG0002.JPG"));
}

TEST_F(CardFolderTest, ListingsUseFullCardPathsInTheCardsLetterCase) {
  mkdir((card_ + "/DCIM/101fghij").c_str(), 0755);
  mkdir((card_ + "/MISC").c_str(), 0755);
  Write(card_ + "/DCIM/readme.txt", "x");
  Write(card_ + "/DCIM/100ABCDE/abcd0002.jpg", "y");
  mkdir((card_ + "/DCIM/100ABCDE/SUB").c_str(), 0755);
  emu::CardFolder card(card_);
  EXPECT_EQ(card.RootList(), (std::vector<std::string>{"C:\\DCIM", "C:\\DCIM\\100ABCDE", "C:\\DCIM\\101fghij"}));
  std::vector<std::string> files;
  EXPECT_EQ(card.FolderList("c:\\dcim\\100abcde", &files), emu::kStatusDone);
  EXPECT_EQ(files, (std::vector<std::string>{"C:\\DCIM\\100ABCDE\\abcd0002.jpg", "C:\\DCIM\\100ABCDE\\IMAG0001.JPG"}));
  EXPECT_EQ(card.FolderList("C:\\DCIM\\100ABCDE\\IMAG0001.JPG", &files), emu::kStatusNotFound);
}

TEST_F(CardFolderTest, NamesTooLongForAnEntryAreLeftOut) {
  Write(card_ + "/DCIM/100ABCDE/A_NAME_THAT_IS_TOO_LONG.JPG", "z");  // 45 characters as a card path
  emu::CardFolder card(card_);
  std::vector<std::string> files;
  ASSERT_EQ(card.FolderList("C:\\DCIM\\100ABCDE", &files), emu::kStatusDone);
  EXPECT_EQ(files, (std::vector<std::string>{"C:\\DCIM\\100ABCDE\\IMAG0001.JPG"}));
}

}  // namespace
}  // namespace fotavi::test

#include "Emulator.h"

namespace fotavi::test {
namespace {

struct RootCase {
  const char* deviceRoot;  // nullptr: unset
  const char* runtimeDir;  // nullptr: unset
  std::string expected;
};

class DeviceRootTest : public ::testing::TestWithParam<RootCase> {
 protected:
  void SetUp() override {
    for (const char* name : {"FOTAVI_DEVICE_ROOT", "XDG_RUNTIME_DIR"})
      if (const char* v = getenv(name)) saved_.emplace_back(name, v);
  }
  void TearDown() override {
    unsetenv("FOTAVI_DEVICE_ROOT");
    unsetenv("XDG_RUNTIME_DIR");
    for (auto& [name, value] : saved_) setenv(name.c_str(), value.c_str(), 1);
  }
  std::vector<std::pair<std::string, std::string>> saved_;
};

TEST_P(DeviceRootTest, FollowsTheEnvironment) {
  const RootCase& c = GetParam();
  unsetenv("FOTAVI_DEVICE_ROOT");
  unsetenv("XDG_RUNTIME_DIR");
  if (c.deviceRoot) setenv("FOTAVI_DEVICE_ROOT", c.deviceRoot, 1);
  if (c.runtimeDir) setenv("XDG_RUNTIME_DIR", c.runtimeDir, 1);
  EXPECT_EQ(emu::DefaultDeviceRoot(), c.expected);
  EXPECT_EQ(emu::ClassFolder("/r"), "/r/{30091DC9-1A0E-41F1-BC70-C7C3A9142BC6}");
}

INSTANTIATE_TEST_SUITE_P(Environments, DeviceRootTest,
                         ::testing::Values(RootCase{"/a/devices", "/run/user/5", "/a/devices"},
                                           RootCase{nullptr, "/run/user/5", "/run/user/5/fotavi-devices"},
                                           RootCase{"", "/run/user/5", "/run/user/5/fotavi-devices"},
                                           RootCase{nullptr, nullptr,
                                                    "/tmp/fotavi-devices-" + std::to_string(getuid())}),
                         [](const auto& info) {
                           return std::string(!info.param.deviceRoot   ? "RootUnset"
                                              : *info.param.deviceRoot ? "RootSet"
                                                                       : "RootEmpty") +
                                  (info.param.runtimeDir ? "RuntimeDirSet" : "RuntimeDirUnset");
                         });

}  // namespace
}  // namespace fotavi::test
