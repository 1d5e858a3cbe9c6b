// The playlist against the camera emulator: what lands in the card's
// "PLAYLIST.TXT", what is read back, and the card's failures.
#include <gtest/gtest.h>

#include "CardFixture.h"
#include "PlayList.h"
#include "Platform/GlobalMemory.h"
#include "SDAccess.h"

namespace fotavi::test {
namespace {

class CardPlayListTest : public CardFixture {
 protected:
  static std::vector<PlayListEntry> Entries(std::initializer_list<std::tuple<const char*, int, int>> rows) {
    std::vector<PlayListEntry> out;
    for (const auto& [path, effect, interval] : rows) {
      PlayListEntry entry;
      entry.path = path;
      entry.effect = effect;
      entry.interval = interval;
      out.push_back(entry);
    }
    return out;
  }
};

TEST_F(CardPlayListTest, WritesTheExactBytesToTheCardsPlaylistFile) {
  ASSERT_TRUE(StartCamera());
  CSDAccess access(device_);
  const auto entries = Entries({{"C:\\DCIM\\100ABCDE\\ABCD0002.JPG", 11, 4},
                                {"C:\\DCIM\\100ABCDE\\ABCD0001.JPG", 0, 0},
                                {"C:\\\xC3\xA9\\DCIM\\101ABCDE\\ABCD0009.JPG", 20, 2}});
  ASSERT_EQ(SavePlayList(&access, entries), PlayListSave::Written);
  EXPECT_EQ(CardFile("PLAYLIST.TXT"),
            "C:\\DCIM\\100ABCDE\\ABCD0002.JPG,SE11,SI4\r\n"
            "C:\\DCIM\\100ABCDE\\ABCD0001.JPG,SE0,SI0\r\n"
            "C:\\\xE9\\DCIM\\101ABCDE\\ABCD0009.JPG,SE20,SI2\r\n");
  EXPECT_EQ(PathsIn().back(), "C:\\PLAYLIST.TXT");
  EXPECT_EQ(GlobalBlockCount(), blocksAtStart_);
}

TEST_F(CardPlayListTest, AnEmptyListWritesNothingAndTheCardsPlaylistStays) {
  const std::string before = "C:\\DCIM\\100ABCDE\\ABCD0001.JPG,SE1,SI1\r\n";
  PutCardFile("PLAYLIST.TXT", before);
  ASSERT_TRUE(StartCamera());
  CSDAccess access(device_);
  EXPECT_EQ(SavePlayList(&access, {}), PlayListSave::NothingToWrite);
  EXPECT_EQ(CommandsIn("0x107"), 0u);
  EXPECT_EQ(CardFile("PLAYLIST.TXT"), before);
}

TEST_F(CardPlayListTest, RoundTripThroughTheCardKeepsEveryEntryInOrder) {
  ASSERT_TRUE(StartCamera());
  std::vector<PlayListEntry> entries;
  // Every effect and every interval at least once, and a path outside ASCII.
  for (int i = 0; i < PLAYLIST_EFFECT_COUNT; ++i) {
    PlayListEntry entry;
    entry.path = "C:\\DCIM\\1" + std::to_string(10 + i) + "ABCDE\\ABCD" + std::to_string(1000 + i) + ".JPG";
    entry.effect = i;
    entry.interval = i % PLAYLIST_INTERVAL_COUNT;
    entries.push_back(entry);
  }
  PlayListEntry accented;
  accented.path = "C:\\\xC3\xA9\\DCIM\\100ABCDE\\ABCD0001.JPG";
  accented.effect = 5;
  accented.interval = 3;
  entries.push_back(accented);
  CSDAccess access(device_);
  ASSERT_EQ(SavePlayList(&access, entries), PlayListSave::Written);
  PlayListParse back;
  ASSERT_TRUE(LoadPlayList(&access, &back));
  EXPECT_EQ(back.entries, entries);
  EXPECT_FALSE(back.rejectedLine);
  EXPECT_EQ(GlobalBlockCount(), blocksAtStart_);
}

TEST_F(CardPlayListTest, ReadingGivesNothingWithoutACardAndReturnsEveryReply) {
  ASSERT_TRUE(StartCamera());
  CSDAccess access(device_);
  PlayListParse parsed;
  // No playlist on the card: the camera sends an empty file.
  ASSERT_TRUE(LoadPlayList(&access, &parsed));
  EXPECT_TRUE(parsed.entries.empty());
  EXPECT_FALSE(parsed.rejectedLine);
  PutCardFile("PLAYLIST.TXT", "C:\\DCIM\\100ABCDE\\ABCD0001.JPG,SE3,SI1");
  ASSERT_TRUE(LoadPlayList(&access, &parsed));
  ASSERT_EQ(parsed.entries.size(), 1u);  // the last line without CR LF
  EXPECT_EQ(parsed.entries[0].effect, 3);
  PutCardFile("PLAYLIST.TXT", "");
  ASSERT_TRUE(LoadPlayList(&access, &parsed));
  EXPECT_TRUE(parsed.entries.empty());
  Command("card off");
  EXPECT_FALSE(LoadPlayList(&access, &parsed));
  EXPECT_EQ(GlobalBlockCount(), blocksAtStart_);
}

TEST_F(CardPlayListTest, AFailedWriteIsReportedAndLeavesTheCardsFile) {
  const std::string before = "C:\\DCIM\\100ABCDE\\ABCD0001.JPG,SE1,SI1\r\n";
  PutCardFile("PLAYLIST.TXT", before);
  ASSERT_TRUE(StartCamera());
  CSDAccess access(device_);
  const auto entries = Entries({{"C:\\DCIM\\100ABCDE\\ABCD0002.JPG", 2, 2}});
  Command("status 0x107 4");
  EXPECT_EQ(SavePlayList(&access, entries), PlayListSave::Failed);
  Command("status 0x107 4 final");
  EXPECT_EQ(SavePlayList(&access, entries), PlayListSave::Failed);
  EXPECT_EQ(CardFile("PLAYLIST.TXT"), before);
  Command("card off");
  EXPECT_EQ(SavePlayList(&access, entries), PlayListSave::Failed);
  EXPECT_EQ(GlobalBlockCount(), blocksAtStart_);
}

}  // namespace
}  // namespace fotavi::test
