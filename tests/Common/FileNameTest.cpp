// Path splitting and the file-name rules.
#include <gtest/gtest.h>

#include "FilePath.h"

namespace {

struct NameCase {
  std::string name;
  bool valid;
};

class FileNameRules : public ::testing::TestWithParam<NameCase> {};

// A test's name: valid or not, the name's letters and digits (a long one by
// its first letter and length), and the row.
std::string NameOf(const ::testing::TestParamInfo<NameCase>& info) {
  const std::string& name = info.param.name;
  const std::string shown = name.size() > 40 ? name.substr(0, 1) + "x" + std::to_string(name.size()) : name;
  std::string n;
  for (char c : shown) n += isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return (info.param.valid ? "Valid_" : "Invalid_") + n + "_" + std::to_string(info.index);
}

TEST_P(FileNameRules, IsValidFileName) {
  CFilePath path("/pics/" + GetParam().name);
  EXPECT_EQ(GetParam().valid ? TRUE : FALSE, path.IsValidFileName()) << "'" << GetParam().name << "'";
}

INSTANTIATE_TEST_SUITE_P(
    Reserved, FileNameRules,
    ::testing::Values(NameCase{"nul.jpg", false}, NameCase{"Com7", false}, NameCase{"lpt1 .txt", false},
                      NameCase{"CON", false}, NameCase{"con.txt", false}, NameCase{"CON  .log", false},
                      NameCase{"LPT12", false}, NameCase{"COM3.dat", false}, NameCase{"CLOCK$", false},
                      NameCase{"aux", false}, NameCase{"PRN.bmp", false}, NameCase{"NUL ", false},
                      NameCase{"com", true}, NameCase{"COM", true}, NameCase{"COM.txt", true}, NameCase{"COMX", true},
                      NameCase{"COM1A", true}, NameCase{"CONSOLE", true}, NameCase{"CONSOLE.jpg", true},
                      NameCase{"ab", true}, NameCase{"a", true}, NameCase{"LPT", true}, NameCase{"LPT1x.jpg", true},
                      NameCase{"auxiliary.txt", true}, NameCase{"PRNT", true}), NameOf);

INSTANTIATE_TEST_SUITE_P(
    Characters, FileNameRules,
    ::testing::Values(NameCase{"a|b.jpg", false}, NameCase{"a\xC2\x96" "b.jpg", false},  // code 150
                      NameCase{"a\x7F.jpg", false}, NameCase{"a\xC2\xA0.jpg", false},      // 127, 160
                      NameCase{"a\tb", false}, NameCase{"a\"b", false}, NameCase{"a*b", false},
                      NameCase{"a:b", false}, NameCase{"a<b", false}, NameCase{"a>b", false},
                      NameCase{"a?b", false}, NameCase{"a\\b", false},
                      NameCase{"\xE5\x86\x99\xE7\x9C\x9F.jpg", true},        // Japanese
                      NameCase{"\xE5\x86\x99", true},                           // one character
                      NameCase{"CON\xE5\x86\x99", true},                        // beyond ASCII: no device test
                      NameCase{"caf\xC3\xA9.jpg", true}, NameCase{"a\xC2\xA1.jpg", true},  // 161
                      NameCase{"bad\xFFutf8.jpg", false}, NameCase{"cut\xE5\x86", false},
                      NameCase{"with space.jpg", true}), NameOf);

INSTANTIATE_TEST_SUITE_P(Shapes, FileNameRules,
                         ::testing::Values(NameCase{".", false}, NameCase{"..", false},
                                           NameCase{std::string(255, 'n'), true},
                                           NameCase{std::string(256, 'n'), false}, NameCase{".jpg", true}), NameOf);

TEST(FilePathSplit, PartsOfAPath) {
  CFilePath path("/home/u/pics/a.b.jpg");
  EXPECT_EQ("/home/u/pics/", path.GetFolder());
  EXPECT_EQ("a.b.jpg", path.GetFileName());
  EXPECT_EQ("/home/u/pics/a.b", path.GetPathNoExt());
  EXPECT_EQ(".jpg", path.GetExt());
  path.SetPath("noext");
  EXPECT_EQ("", path.GetFolder());
  EXPECT_EQ("noext", path.GetFileName());
  EXPECT_EQ("", path.GetExt());
  path.SetPath("/dir.d/file");
  EXPECT_EQ("/dir.d/", path.GetFolder());
  EXPECT_EQ("", path.GetExt());
}

TEST(FilePathSplit, EmptyPathKeepsThePartsAndIsInvalid) {
  CFilePath path("/x/y.jpg");
  path.SetPath("");
  EXPECT_EQ("/x/", path.GetFolder());
  EXPECT_FALSE(path.IsValidFileName());
  CFilePath folderOnly("/x/");
  EXPECT_FALSE(folderOnly.IsValidFileName());
}

}  // namespace
