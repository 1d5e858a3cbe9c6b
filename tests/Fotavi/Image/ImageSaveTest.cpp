// Saving still pictures: format by extension, Save and Save As, the question
// before closing, failures.
#include <QTest>

#include <filesystem>

#include "Common/Bmp.h"
#include "Common/CommonFunc.h"
#include "Common/Jpeg.h"
#include "App/FotaviApp.h"
#include "ImageTestSupport.h"
#include "Platform/Settings.h"
#include "App/Resource.h"

using namespace fotavi::image_test;

namespace {

bool IsJpeg(const std::string& bytes) {
  return bytes.size() > 2 && static_cast<unsigned char>(bytes[0]) == 0xFF && static_cast<unsigned char>(bytes[1]) == 0xD8;
}
bool IsBmp(const std::string& bytes) { return bytes.size() > 2 && bytes.compare(0, 2, "BM") == 0; }

class SaveFixture : public ::testing::Test {
 protected:
  // A captured picture: no path, modified.
  std::unique_ptr<ImageWindow> Capture(const CBitmap24& picture = PatternPicture(40, 30)) {
    auto w = std::make_unique<ImageWindow>(&host, picture, 1.0);
    w->doc->SetModifiedFlag(true);
    return w;
  }
  // A picture opened from `path` (BMP when the name says so).
  std::unique_ptr<ImageWindow> Open(const std::string& path) {
    auto w = std::make_unique<ImageWindow>(&host, PlainPicture(1, 1, Qt::black), 1.0);
    const bool bmp = path.size() > 4 && path.substr(path.size() - 4) == ".bmp";
    EXPECT_TRUE(w->frame->LoadFile(path, bmp));
    EXPECT_FALSE(w->doc->IsModified());
    return w;
  }
  UiScope scope;
  ScriptedUi& ui = scope.ui;
  CImageHost host;
  TempDir dir;
};

}  // namespace

struct FormatCase {
  const char* name;
  const char* fileName;
  bool bmp;
};

class SaveFormatByExtension : public SaveFixture, public ::testing::WithParamInterface<FormatCase> {};

TEST_P(SaveFormatByExtension, CapturedPicture) {
  auto w = Capture();
  const std::string path = dir.Path(GetParam().fileName);
  ui.chooserAnswers.push_back(path);
  ASSERT_TRUE(w->frame->DoSaveFile(SAVEMODE_SAVE));
  const std::string bytes = ReadFileBytes(path);
  EXPECT_EQ(IsBmp(bytes), GetParam().bmp);
  EXPECT_EQ(IsJpeg(bytes), !GetParam().bmp);
  EXPECT_EQ(w->doc->GetSaveKind(), GetParam().bmp ? SAVEKIND_BMP : SAVEKIND_JPEG);
  EXPECT_FALSE(w->doc->IsModified());
  EXPECT_EQ(w->doc->GetPath(), path);
  EXPECT_EQ(w->doc->GetTitle(), GetParam().fileName);
  EXPECT_EQ(w->frame->windowTitle().toStdString(), std::string(GetParam().fileName) + " 100%");
}

INSTANTIATE_TEST_SUITE_P(Extensions, SaveFormatByExtension,
                         ::testing::Values(FormatCase{"jpg", "a.jpg", false}, FormatCase{"JPG", "b.JPG", false},
                                           FormatCase{"bmp", "c.bmp", true}, FormatCase{"Bmp", "d.Bmp", true},
                                           FormatCase{"other", "e.png", false}, FormatCase{"none", "f", false}),
                         [](const ::testing::TestParamInfo<FormatCase>& info) { return std::string(info.param.name); });

TEST_F(SaveFixture, TheSavedBmpHoldsTheTurnedPictureWithItsDrawing) {
  auto w = Capture(PatternPicture(40, 30));
  host.SetCurrentTool(ID_DRAW_HLINE);
  host.SetPenColor(0x00FF00);  // green
  QTest::mousePress(w->view->viewport(), Qt::LeftButton, {}, QPoint(2, 5));
  QTest::mouseRelease(w->view->viewport(), Qt::LeftButton, {}, QPoint(35, 5));
  w->frame->OnCmdMsg(ID_ROTATE_90CW);
  const std::string path = dir.Path("turned.bmp");
  ui.chooserAnswers.push_back(path);
  ASSERT_TRUE(w->frame->DoSaveFile(SAVEMODE_SAVEAS));
  QImage saved;
  ASSERT_TRUE(CBmp().Load(&saved, path));
  ASSERT_EQ(saved.size(), QSize(30, 40));
  EXPECT_EQ(ToBitmap24(saved), w->view->GetComposedBitmap());
  // Picture row 5 is column 30 - 1 - 5 after a clockwise turn.
  EXPECT_EQ(saved.pixelColor(24, 20), QColor(Qt::green));
}

TEST_F(SaveFixture, SecondSaveWritesTheSamePathWithoutAsking) {
  auto w = Capture();
  const std::string path = dir.Path("board.dat");
  ui.chooserAnswers.push_back(path);
  ASSERT_TRUE(w->frame->DoSaveFile(SAVEMODE_SAVE));
  ASSERT_EQ(ui.choosers.size(), 1u);
  // Opened from a non-BMP name: the first save was a JPEG; the second keeps it.
  w->frame->OnCmdMsg(ID_ROTATE_180);
  ASSERT_TRUE(w->doc->IsModified());
  const std::string before = ReadFileBytes(path);
  ASSERT_TRUE(w->frame->OnCmdMsg(ID_FILE_SAVEFILE));
  EXPECT_EQ(ui.choosers.size(), 1u);
  EXPECT_FALSE(w->doc->IsModified());
  const std::string after = ReadFileBytes(path);
  EXPECT_TRUE(IsJpeg(after));
  EXPECT_NE(before, after);
}

TEST_F(SaveFixture, SaveAsAlwaysAsks) {
  auto w = Capture();
  ui.chooserAnswers = {dir.Path("one.bmp"), dir.Path("two.jpg")};
  ASSERT_TRUE(w->frame->DoSaveFile(SAVEMODE_SAVE));
  ASSERT_TRUE(w->frame->DoSaveFile(SAVEMODE_SAVEAS));
  EXPECT_EQ(ui.choosers.size(), 2u);
  EXPECT_TRUE(IsJpeg(ReadFileBytes(dir.Path("two.jpg"))));
  EXPECT_EQ(w->doc->GetSaveKind(), SAVEKIND_JPEG);
  // The second chooser starts from the first file, with BMP as its default.
  EXPECT_TRUE(ui.choosers[1].save);
  EXPECT_EQ(ui.choosers[1].fileName, dir.Path("one"));
}

TEST_F(SaveFixture, SaveAsOfABmpToAnotherExtensionWritesBmp) {
  const std::string original = dir.Path("scan.bmp");
  ASSERT_TRUE(CBmp().Save(original, PatternPicture(20, 10)));
  auto w = Open(original);
  ui.chooserAnswers.push_back(dir.Path("copy.dat"));
  ASSERT_TRUE(w->frame->DoSaveFile(SAVEMODE_SAVEAS));
  EXPECT_TRUE(IsBmp(ReadFileBytes(dir.Path("copy.dat"))));
}

TEST_F(SaveFixture, CancelledChooserSavesNothing) {
  auto w = Capture();
  ui.chooserAnswers.push_back("");
  EXPECT_FALSE(w->frame->DoSaveFile(SAVEMODE_SAVE));
  EXPECT_TRUE(w->doc->IsModified());
  EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(SaveFixture, ChooserStartsInTheRememberedOutputFolder) {
  auto w = Capture();
  ui.chooserAnswers.push_back(dir.Path("first.jpg"));
  ASSERT_TRUE(w->frame->DoSaveFile(SAVEMODE_SAVE));
  const std::string stored = CRegOperation().GetProfileString(HKEY_CURRENT_USER, REG_KEY_PRESENTATION,
                                                              REG_SECTION_IMAGE, "OutputFolder", "");
  EXPECT_EQ(AddBackslash(stored), AddBackslash(dir.dir()));
  auto second = Capture();
  ui.chooserAnswers.push_back("");
  second->frame->DoSaveFile(SAVEMODE_SAVE);
  ASSERT_EQ(ui.choosers.size(), 2u);
  EXPECT_EQ(AddBackslash(ui.choosers[1].folder), AddBackslash(dir.dir()));
  EXPECT_EQ(ui.choosers[1].defaultExtension, "jpg");
  ASSERT_EQ(ui.choosers[1].filters.size(), 2u);
  EXPECT_EQ(ui.choosers[1].filters[0].second, "*.jpg");
  EXPECT_EQ(ui.choosers[1].filters[1].second, "*.bmp");
}

TEST_F(SaveFixture, FailedSaveLeavesTheOriginalIntact) {
  // A picture wider than JPEG allows: the encoder refuses it.
  const std::string path = dir.Path("keep.jpg");
  ASSERT_TRUE(FotaviJpeg().Save(path, PatternPicture(30, 20), 75));
  const std::string original = ReadFileBytes(path);
  auto w = Capture(PlainPicture(70000, 1, Qt::white));
  ui.chooserAnswers.push_back(path);
  EXPECT_FALSE(w->frame->DoSaveFile(SAVEMODE_SAVE));
  EXPECT_EQ(ReadFileBytes(path), original);
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].text, "Unable to save file.");
  EXPECT_TRUE(w->doc->IsModified());
  EXPECT_TRUE(w->doc->GetPath().empty());
  // No temporary file is left beside it.
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.dir())) files += entry.is_regular_file() ? 1 : 0;
  EXPECT_EQ(files, 1);
}

TEST_F(SaveFixture, SaveIntoAMissingFolderFails) {
  auto w = Capture();
  ui.chooserAnswers.push_back(dir.Path("missing/a.bmp"));
  EXPECT_FALSE(w->frame->DoSaveFile(SAVEMODE_SAVE));
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].text, "Unable to save file.");
}

// ------------------------------------------------------------ the question before closing

struct AnswerCase {
  const char* name;
  int answer;
  bool closes;
  bool saved;
};

class SaveQuestion : public SaveFixture, public ::testing::WithParamInterface<AnswerCase> {};

TEST_P(SaveQuestion, ThreeAnswers) {
  host.SetUntitledCount(1);
  ImageWindow w(&host, PatternPicture(40, 30), 1.0);
  SendMessage(w.frame->GetSafeHwnd(), WM_UPDATE_TITLE, 0, 0);
  w.doc->SetModifiedFlag(true);
  ui.boxAnswers.push_back(GetParam().answer);
  const std::string path = dir.Path("answer.jpg");
  ui.chooserAnswers.push_back(path);

  const bool closed = w.frame->close();
  PumpEvents(20);
  ASSERT_GE(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].text, "Save changes to the document Untitled-1 before closing?");
  EXPECT_EQ(ui.boxes[0].type, MB_YESNOCANCEL | MB_ICONEXCLAMATION);
  EXPECT_EQ(closed, GetParam().closes);
  EXPECT_EQ(w.alive.isNull(), GetParam().closes);
  EXPECT_EQ(std::filesystem::exists(path), GetParam().saved);
}

INSTANTIATE_TEST_SUITE_P(Answers, SaveQuestion,
                         ::testing::Values(AnswerCase{"Yes", IDYES, true, true}, AnswerCase{"No", IDNO, true, false},
                                           AnswerCase{"Cancel", IDCANCEL, false, false}),
                         [](const ::testing::TestParamInfo<AnswerCase>& info) { return std::string(info.param.name); });

TEST_F(SaveFixture, YesWithAFailedSaveKeepsTheWindowOpen) {
  auto w = Capture();
  ui.boxAnswers.push_back(IDYES);
  ui.chooserAnswers.push_back(dir.Path("missing/x.jpg"));
  EXPECT_FALSE(w->frame->close());
  EXPECT_TRUE(w->doc->IsModified());
  ASSERT_EQ(ui.boxes.size(), 2u);
  EXPECT_EQ(ui.boxes[1].text, "Unable to save file.");
}

TEST_F(SaveFixture, UnmodifiedPictureClosesWithoutAsking) {
  const std::string original = dir.Path("plain.bmp");
  ASSERT_TRUE(CBmp().Save(original, PatternPicture(20, 10)));
  auto w = Open(original);
  EXPECT_TRUE(w->frame->close());
  PumpEvents(20);
  EXPECT_TRUE(ui.boxes.empty());
  EXPECT_TRUE(w->alive.isNull());
}
