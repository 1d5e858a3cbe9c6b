// The playlist text without a camera: tokens, entry checks, line splitting,
// the built text.
#include <gtest/gtest.h>

#include <string>

#include "PlayList.h"

namespace {

struct TokenCase {
  const char* token;  // nullptr: no token at all
  const char* prefix;
  int minimum, maximum, fallback;
  int expected;
};

class TokenValue : public ::testing::TestWithParam<TokenCase> {};

TEST_P(TokenValue, GivesTheValueOrTheDefault) {
  const TokenCase& c = GetParam();
  const std::string text = c.token ? c.token : "";
  EXPECT_EQ(PlayListTokenValue(c.token ? &text : nullptr, c.prefix, c.minimum, c.maximum, c.fallback), c.expected)
      << (c.token ? c.token : "(none)");
}

INSTANTIATE_TEST_SUITE_P(Tokens, TokenValue,
                         ::testing::Values(TokenCase{"SE", "SE", 0, 20, 20, 0}, TokenCase{"SE0", "SE", 0, 20, 20, 0},
                                           TokenCase{"SE7", "SE", 0, 20, 20, 7}, TokenCase{"SE20", "SE", 0, 20, 20, 20},
                                           TokenCase{"SE21", "SE", 0, 20, 20, 20}, TokenCase{"SE-1", "SE", 0, 20, 20, 20},
                                           TokenCase{"SEx", "SE", 0, 20, 20, 20}, TokenCase{"se3", "SE", 0, 20, 20, 20},
                                           TokenCase{"", "SE", 0, 20, 20, 20}, TokenCase{nullptr, "SE", 0, 20, 20, 20},
                                           TokenCase{" SE3", "SE", 0, 20, 20, 20}, TokenCase{"SE3 ", "SE", 0, 20, 20, 20},
                                           TokenCase{"SE007", "SE", 0, 20, 20, 7},
                                           // Digits that overflow 32 bits, and ones that wrap to a valid index.
                                           TokenCase{"SE99999999999999999999", "SE", 0, 20, 20, 20},
                                           TokenCase{"SE4294967299", "SE", 0, 20, 20, 20},
                                           TokenCase{"SI4", "SI", 0, 4, 0, 4}, TokenCase{"SI5", "SI", 0, 4, 0, 0},
                                           TokenCase{"SE3", "SI", 0, 4, 0, 0}),
    [](const auto& info) {
      std::string n;
      for (char c : std::string(info.param.token ? info.param.token : ""))
        n += isalnum(static_cast<unsigned char>(c)) ? c : '_';
      return (info.param.token ? "Token" + n : std::string("NoToken")) + "_" + info.param.prefix + "_"
             + std::to_string(info.index);
    });

struct LineCase {
  const char* name;
  std::string line;
  bool accepted;
  int effect, interval;
};

class LineCheck : public ::testing::TestWithParam<LineCase> {};

TEST_P(LineCheck, AcceptsOnlyCardPicturePaths) {
  const LineCase& c = GetParam();
  PlayListEntry entry;
  ASSERT_EQ(ParsePlayListLine(c.line, &entry), c.accepted) << c.line;
  if (!c.accepted) return;
  EXPECT_EQ(entry.effect, c.effect);
  EXPECT_EQ(entry.interval, c.interval);
}

// "C:\DCIM\100ABCDE\ABCD0001.JPG" is 29 characters; "C:\XY\" before it makes 32.
INSTANTIATE_TEST_SUITE_P(
    Lines, LineCheck,
    ::testing::Values(LineCase{"plain", "C:\\DCIM\\100ABCDE\\ABCD0001.JPG,SE3,SI2", true, 3, 2},
                      LineCase{"lowerJpg", "C:\\DCIM\\100ABCDE\\ABCD0001.jpg,SE3,SI2", true, 3, 2},
                      LineCase{"noTokens", "C:\\DCIM\\100ABCDE\\ABCD0001.JPG", true, 20, 0},
                      LineCase{"extraField", "C:\\DCIM\\100ABCDE\\ABCD0001.JPG,SE1,SI1,junk,more", true, 1, 1},
                      LineCase{"path32", "C:\\XY\\DCIM\\100ABCDE\\ABCD0001.JPG", true, 20, 0},
                      LineCase{"path33", "C:\\XYZ\\DCIM\\100ABCDE\\ABCD0001.JPG", false, 0, 0},
                      LineCase{"dcimLower", "C:\\dcim\\100ABCDE\\ABCD0001.JPG,SE1,SI1", false, 0, 0},
                      LineCase{"noDcim", "C:\\100ABCDE\\ABCD0001.JPG,SE1,SI1", false, 0, 0},
                      LineCase{"badFolder", "C:\\DCIM\\99ABCDE\\ABCD0001.JPG,SE1,SI1", false, 0, 0},
                      LineCase{"badFile", "C:\\DCIM\\100ABCDE\\ABCD0000.JPG,SE1,SI1", false, 0, 0},
                      LineCase{"noFile", "C:\\DCIM\\100ABCDE,SE1,SI1", false, 0, 0},
                      LineCase{"empty", "", false, 0, 0},
                      LineCase{"onlyCommas", ",,", false, 0, 0}),
    [](const ::testing::TestParamInfo<LineCase>& info) { return std::string(info.param.name); });

TEST(PlayListEntryCheck, RefusesAMissingFieldButTakesAnEmptyToken) {
  const std::string path = "C:\\DCIM\\100ABCDE\\ABCD0001.JPG";
  const std::string empty;
  PlayListEntry entry;
  EXPECT_FALSE(CheckPlayListEntry(nullptr, &empty, &empty, &entry));
  EXPECT_FALSE(CheckPlayListEntry(&path, nullptr, &empty, &entry));
  EXPECT_FALSE(CheckPlayListEntry(&path, &empty, nullptr, &entry));
  ASSERT_TRUE(CheckPlayListEntry(&path, &empty, &empty, &entry));
  EXPECT_EQ(entry.displayName, "100ABCDE\\ABCD0001.JPG");
  EXPECT_STREQ(PlayListEffectName(entry.effect), "None");
  EXPECT_STREQ(PlayListIntervalText(entry.interval), "3");
}

TEST(PlayListEntryCheck, CountsCharactersOfTheCardsCodePageAndRefusesWhatItCannotCarry) {
  // 32 characters, two of them two bytes long in UTF-8: still accepted.
  const std::string accented = "C:\\\xC3\xA9\xC3\xA9\\DCIM\\100ABCDE\\ABCD0001.JPG";
  EXPECT_TRUE(ParsePlayListLine(accented, nullptr));
  const std::string greek = "C:\\\xCE\xB1\\DCIM\\100ABCDE\\ABCD0001.JPG";
  EXPECT_FALSE(ParsePlayListLine(greek, nullptr));
}

TEST(PlayListBytes, SplitsAtCrLfKeepsFileOrderAndWarnsOnlyForTerminatedRejects) {
  const std::string text =
      "C:\\DCIM\\100ABCDE\\ABCD0002.JPG,SE1,SI1\r\n"
      "garbage\r\n"
      "\r\n"
      "C:\\DCIM\\100ABCDE\\ABCD0001.JPG,SE2,SI3\r\n"
      "C:\\DCIM\\101ABCDE\\ABCD0009.JPG,SE4,SI4";  // no CR LF after the last line
  const PlayListParse parsed = ParsePlayListBytes(text.data(), text.size());
  ASSERT_EQ(parsed.entries.size(), 3u);
  EXPECT_EQ(parsed.entries[0].path, "C:\\DCIM\\100ABCDE\\ABCD0002.JPG");
  EXPECT_EQ(parsed.entries[1].path, "C:\\DCIM\\100ABCDE\\ABCD0001.JPG");
  EXPECT_EQ(parsed.entries[2].path, "C:\\DCIM\\101ABCDE\\ABCD0009.JPG");
  EXPECT_EQ(parsed.entries[2].effect, 4);
  EXPECT_TRUE(parsed.rejectedLine);

  const std::string badTail = "C:\\DCIM\\100ABCDE\\ABCD0002.JPG,SE1,SI1\r\nbad tail";
  const PlayListParse tail = ParsePlayListBytes(badTail.data(), badTail.size());
  EXPECT_EQ(tail.entries.size(), 1u);
  EXPECT_FALSE(tail.rejectedLine);
}

TEST(PlayListBytes, LoneCrOrLfAndTinyBlocksDoNotEndALine) {
  const std::string lf = "C:\\DCIM\\100ABCDE\\ABCD0002.JPG,SE1,SI1\nC:\\DCIM\\100ABCDE\\ABCD0003.JPG";
  // A lone LF ends nothing: it and the second path become part of the
  // interval token, which then falls back to its default.
  const PlayListParse parsed = ParsePlayListBytes(lf.data(), lf.size());
  ASSERT_EQ(parsed.entries.size(), 1u);
  EXPECT_EQ(parsed.entries[0].interval, 0);
  EXPECT_TRUE(ParsePlayListBytes("x", 1).entries.empty());
  EXPECT_FALSE(ParsePlayListBytes("x", 1).rejectedLine);
  EXPECT_FALSE(ParsePlayListBytes("\r\n", 2).entries.size());
  EXPECT_TRUE(ParsePlayListBytes("\r\n", 2).rejectedLine);
  EXPECT_TRUE(ParsePlayListBytes(nullptr, 0).entries.empty());
}

TEST(PlayListBytes, ReadsTheCardsCodePage) {
  // A folder name outside ASCII before "\DCIM\": byte 0xE9 is "é" in Windows-1252.
  const std::string text = "C:\\\xE9\\DCIM\\100ABCDE\\ABCD0001.JPG,SE0,SI1\r\n";
  const PlayListParse parsed = ParsePlayListBytes(text.data(), text.size());
  ASSERT_EQ(parsed.entries.size(), 1u);
  EXPECT_EQ(parsed.entries[0].path, "C:\\\xC3\xA9\\DCIM\\100ABCDE\\ABCD0001.JPG");
}

TEST(PlayListText, IsOneCrLfLinePerEntryInTheCardsCodePage) {
  std::vector<PlayListEntry> entries(2);
  entries[0].path = "C:\\DCIM\\100ABCDE\\ABCD0001.JPG";
  entries[0].effect = 0;
  entries[0].interval = 4;
  entries[1].path = "C:\\\xC3\xA9\\DCIM\\100ABCDE\\ABCD0002.JPG";
  std::string ansi;
  ASSERT_TRUE(EncodePlayList(entries, &ansi));
  EXPECT_EQ(ansi, "C:\\DCIM\\100ABCDE\\ABCD0001.JPG,SE0,SI4\r\nC:\\\xE9\\DCIM\\100ABCDE\\ABCD0002.JPG,SE20,SI0\r\n");
  EXPECT_EQ(BuildPlayListText({}), "");
  // What is written parses back to the same entries.
  const PlayListParse back = ParsePlayListBytes(ansi.data(), ansi.size());
  EXPECT_EQ(back.entries, entries);
  EXPECT_FALSE(back.rejectedLine);
}

TEST(PlayListHelpers, CacheFileAndFourByThreePreview) {
  EXPECT_EQ(PlayListCacheFile("/w/FotaviK27_Cache", "C:\\DCIM\\100ABCDE\\ABCD0001.JPG"),
            "/w/FotaviK27_Cache/CDCIM100ABCDE/ABCD0001.JPG");
  EXPECT_EQ(PlayListCacheFile("", "C:\\DCIM\\100ABCDE\\ABCD0001.JPG"), "");
  EXPECT_EQ(PlayListCacheFile("/w", "ABCD0001.JPG"), "");
  struct {
    int w, h, ew, eh;
  } cases[] = {{200, 160, 212, 159}, {200, 150, 200, 150}, {40, 2, 4, 3}, {100, 100, 132, 99}, {1, 0, 4, 3}};
  for (const auto& c : cases) {
    const PreviewSize s = PreviewSizeFourByThree(c.w, c.h);
    EXPECT_EQ(s.width, c.ew) << c.w << "x" << c.h;
    EXPECT_EQ(s.height, c.eh) << c.w << "x" << c.h;
  }
}

}  // namespace
