// The conversion's windows offscreen: the dialog's checks, whole runs to the
// camera emulator's card behind the real progress dialog (numbering from the
// card's listing, the stops, the end of the series, the exchange), Cancel
// during a run and the error list.
#include <dirent.h>
#include <sys/stat.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <cstdlib>
#include <fstream>

#include "CardDialogs.h"
#include "CardWindowFixture.h"
#include "CardFolders.h"
#include "CardHost.h"
#include "Common/CommonFunc.h"
#include "ConvertDialogs.h"
#include "ConvertTestSupport.h"
#include "Platform/UiService.h"
#include "SDTree.h"
#include "ViewerFrame.h"

namespace fotavi::test {
namespace {

// Message boxes answered instead of shown.
class AnsweringUi : public IUserInterfaceService {
 public:
  int MessageBox(HWND, const std::string& text, const std::string&, UINT type) override {
    texts.push_back(text);
    return (type & MB_TYPEMASK) == MB_OKCANCEL ? answerOkCancel : IDOK;
  }
  FileChooserResult ChooseFile(HWND, const FileChooserRequest& request) override {
    chooser = request;
    FileChooserResult result;
    result.accepted = !fileAnswer.empty();
    if (result.accepted) result.paths.push_back(fileAnswer);
    return result;
  }
  FileChooserRequest chooser;
  std::string fileAnswer;
  std::string ChooseFolder(HWND, const std::string&, const std::string& initial) override {
    initialFolders.push_back(initial);
    return folder;
  }
  std::vector<std::string> texts;
  std::vector<std::string> initialFolders;
  std::string folder;
  int answerOkCancel = IDOK;
};

int CountFiles(const std::string& folder) {
  int n = 0;
  if (DIR* dir = ::opendir(folder.c_str())) {
    while (dirent* e = ::readdir(dir))
      if (e->d_name[0] != '.') ++n;
    ::closedir(dir);
  }
  return n;
}

bool FileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

// A BMP the program did not write (Qt's own writer).
void WriteBmp(const std::string& path, int width, int height) {
  QImage image(width, height, QImage::Format_RGB888);
  image.fill(QColor(30, 160, 90));
  ASSERT_TRUE(image.save(QString::fromStdString(path), "BMP"));
}

// The shown button (push or radio) with this caption, clicked with the mouse.
QAbstractButton* FindButton(QWidget* window, const char* caption) {
  for (QAbstractButton* button : window->findChildren<QAbstractButton*>())
    if (button->text() == QString::fromUtf8(caption) && button->isVisible()) return button;
  return nullptr;
}

void ClickButton(QWidget* window, const char* caption) {
  QAbstractButton* button = FindButton(window, caption);
  ASSERT_NE(button, nullptr) << caption;
  // A radio button takes clicks on its mark and text only: it is clicked on
  // its mark.
  const QPoint at = qobject_cast<QRadioButton*>(button) ? QPoint(6, button->height() / 2) : button->rect().center();
  QTest::mouseClick(button, Qt::LeftButton, {}, at);
}

class ConvertUiTest : public CardWindowFixture<AnsweringUi> {
 protected:
  void SetUp() override {
    CardWindowFixture::SetUp();
    CardHost().runModal = [this](QDialog* dialog) {
      if (auto* errors = qobject_cast<CTransErrDlg*>(dialog)) {
        errors->OnInitDialog();
        errorTitle_ = errors->windowTitle().toStdString();
        errorLabel_ = errors->LabelText().toStdString();
        for (int i = 0; i < errors->List()->topLevelItemCount(); ++i)
          errorRows_.push_back({errors->List()->topLevelItem(i)->text(0).toStdString(),
                                errors->List()->topLevelItem(i)->text(1).toStdString()});
        return int(QDialog::Accepted);
      }
      if (auto* browse = qobject_cast<CFTransTreeDlg*>(dialog); browse && browseItem >= 0) {
        browse->Tree()->OnInitTree();
        browse->Tree()->SelectItem(browse->Tree()->topLevelItem(browseItem));
        browse->accept();
        return browse->result();
      }
      return int(QDialog::Rejected);
    };
  }
  // A folder of `n` JPEG pictures "P01.jpg"...
  std::string Pictures(const std::string& name, int n) {
    const std::string folder = MakeSourceFolder(name);
    for (int i = 1; i <= n; ++i) {
      char file[32];
      std::snprintf(file, sizeof file, "/P%02d.jpg", i);
      WriteBytes(folder + file, MakeJpeg(320, 240, i));
    }
    return folder;
  }
  // Runs "Convert" to the card folder `sdFolder` with the source set.
  void ConvertToCard(CPptDlg* dialog, const std::string& source, bool fileMode, const std::string& sdFolder) {
    (fileMode ? dialog->SourceFileEdit() : dialog->SourceFolderEdit())->setText(QString::fromStdString(source));
    fileMode ? dialog->OnBnClickedRadioFile() : dialog->OnBnClickedRadioFolder();
    dialog->OnBnClickedRadioSD();
    dialog->m_strSDFolder = sdFolder;
    dialog->SDEdit()->setText(QString::fromStdString(sdFolder));
    dialog->OnOK();
  }
  size_t LogIndex(const std::string& hexCode, bool last) const {
    const std::vector<std::string> log = ExchangeLog();
    size_t found = std::string::npos;
    for (size_t i = 0; i < log.size(); ++i) {
      if (log[i].find("\"dir\":\"in\",\"type\":0,") == std::string::npos ||
          log[i].find("\"cmd\":\"" + hexCode + "\"") == std::string::npos)
        continue;
      found = i;
      if (!last) break;
    }
    return found;
  }
  // Drives the shown dialog as a user does: the two radio choices and the
  // two paths typed in, then a click on "Convert" (which returns when the
  // run and its error list are over).
  void ConvertByClicks(CPptDlg* dialog, const std::string& sourceFolder, const std::string& outFolder,
                       bool fileMode = false) {
    ClickButton(dialog, fileMode ? "&File select:" : "Folder se&lect:");
    ClickButton(dialog, "Loc&al Folder:");
    TypeInto(fileMode ? dialog->SourceFileEdit() : dialog->SourceFolderEdit(), sourceFolder);
    TypeInto(dialog->OutputEdit(), outFolder);
    ClickButton(dialog, "Con&vert");
  }
  static void TypeInto(QLineEdit* edit, const std::string& text) {
    QTest::mouseClick(edit, Qt::LeftButton, {}, edit->rect().center());
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, QString::fromStdString(text));
  }
  std::vector<std::string> StagedFiles() const {
    std::vector<std::string> out;
    const std::string staging = GetCardWorkFolder() + "/TRANS";
    if (DIR* dir = ::opendir(staging.c_str())) {
      while (dirent* e = ::readdir(dir))
        if (e->d_name[0] != '.') out.push_back(e->d_name);
      ::closedir(dir);
    }
    return out;
  }

  int browseItem = -1;  // the card folder the browse dialog picks; -1: Cancel
  std::string errorTitle_, errorLabel_;
  std::vector<std::pair<std::string, std::string>> errorRows_;
};

// ------------------------------------------------------------ the checks

enum Place {
  NONE, EMPTY, RELATIVE, MISSING, MISSING_TWO, A_FILE, A_FOLDER, UNDER_A_FILE, TOO_LONG, SAME_AS_SOURCE,
  CJK_256,  // an existing folder of 256 characters, most of them CJK (3 bytes each)
  CJK_257,
};

struct CheckCase {
  const char* name;
  bool fileMode;
  bool local;
  Place source;
  Place output;  // NONE with the card: no card folder chosen
  int answer;    // to the create-folder question
  int result;
  std::vector<std::string> texts;
  bool outputMade;  // the missing output folder exists afterwards
};

void PrintTo(const CheckCase& c, std::ostream* os) { *os << c.name; }

class CheckInputTest : public ::testing::TestWithParam<CheckCase> {
 protected:
  void SetUp() override {
    root_ = MakeTempDir("fotavi-cnvcheck");
    previous_ = SetUserInterfaceService(&ui_);
    CardHost() = CCardHost{};
  }
  void TearDown() override {
    SetUserInterfaceService(previous_);
    RemoveTree(root_);
  }
  std::string Make(Place place, bool wantFile) {
    switch (place) {
      case NONE:
      case EMPTY: return {};
      case RELATIVE: return "pictures/P01.jpg";
      case MISSING: return root_ + "/missing";
      case MISSING_TWO: return root_ + "/new/deeper";
      case A_FILE: {
        const std::string path = root_ + (wantFile ? "/in.jpg" : "/a-file");
        std::ofstream(path) << "x";
        return path;
      }
      case A_FOLDER: MakeFolders(root_ + "/folder"); return root_ + "/folder";
      case UNDER_A_FILE: std::ofstream(root_ + "/plain") << "x"; return root_ + "/plain/out";
      case TOO_LONG: return "/" + std::string(256, 'd');
      case SAME_AS_SOURCE: return root_ + "/folder/";
      case CJK_256:
      case CJK_257: {
        const std::string path =
            convert_test::PathOfLength(root_, place == CJK_256 ? 256 : 257, "\xE6\xBC\xA2", 1, "");
        MakeFolders(path);
        return path;
      }
    }
    return {};
  }
  std::string root_;
  AnsweringUi ui_;
  IUserInterfaceService* previous_ = nullptr;
};

TEST_P(CheckInputTest, GivesTheMessageForTheFirstFaultAndStartsOnlyWithoutOne) {
  const CheckCase& c = GetParam();
  ui_.answerOkCancel = c.answer;
  CPptDlg dialog;
  dialog.m_bFileMode = c.fileMode;
  dialog.m_bLocalOutput = c.local;
  (c.fileMode ? dialog.m_strSourceFile : dialog.m_strSourceFolder) = Make(c.source, c.fileMode);
  if (c.local) dialog.m_strOutputFolder = Make(c.output, false);
  EXPECT_EQ(dialog.CheckInput(), c.result);
  EXPECT_EQ(ui_.texts, c.texts);
  if (c.output == MISSING_TWO) EXPECT_EQ(FileExists(root_ + "/new/deeper"), c.outputMade);
  if (c.output == MISSING) EXPECT_EQ(FileExists(root_ + "/missing"), c.outputMade);
}

const std::string kNoSource = "The source file or folder is not specified.";
const std::string kBadSource = "The source file or folder is not available.";
const std::string kNoDestination = "The destination is not specified.";
const std::string kOutputNA = "The output folder is not available.";
const std::string kCreate = "The specified destination folder does not exist.\nCreate Folder?";

INSTANTIATE_TEST_SUITE_P(
    Cases, CheckInputTest,
    ::testing::Values(
        CheckCase{"NoSourceFile", true, true, EMPTY, A_FOLDER, IDOK, 0, {kNoSource}, false},
        CheckCase{"RelativeSource", true, true, RELATIVE, A_FOLDER, IDOK, 0, {kBadSource}, false},
        CheckCase{"MissingSource", true, true, MISSING, A_FOLDER, IDOK, 0, {kBadSource}, false},
        CheckCase{"FolderInFileMode", true, true, A_FOLDER, MISSING, IDOK, 0, {kBadSource}, false},
        CheckCase{"FileInFolderMode", false, true, A_FILE, MISSING, IDOK, 0, {kBadSource}, false},
        CheckCase{"NoOutput", true, true, A_FILE, EMPTY, IDOK, 0, {kNoDestination}, false},
        CheckCase{"RelativeOutput", true, true, A_FILE, RELATIVE, IDOK, 0, {kOutputNA}, false},
        CheckCase{"OutputTooLong", true, true, A_FILE, TOO_LONG, IDOK, 0, {kOutputNA}, false},
        CheckCase{"OutputUnderAFile", true, true, A_FILE, UNDER_A_FILE, IDOK, 0, {kOutputNA}, false},
        CheckCase{"CreateDeclined", true, true, A_FILE, MISSING, IDCANCEL, 0, {kCreate}, false},
        CheckCase{"CreateTwoLevels", true, true, A_FILE, MISSING_TWO, IDOK, 1, {kCreate}, true},
        CheckCase{"ExistingOutput", true, true, A_FILE, A_FOLDER, IDOK, 1, {}, false},
        CheckCase{"Output256CjkCharacters", true, true, A_FILE, CJK_256, IDOK, 1, {}, false},
        CheckCase{"Output257CjkCharacters", true, true, A_FILE, CJK_257, IDOK, 0, {kOutputNA}, false},
        CheckCase{"SameFolders", false, true, A_FOLDER, SAME_AS_SOURCE, IDOK, 0,
                  {"The input and output folder must not be the same."}, false},
        CheckCase{"NoCardFolder", true, false, A_FILE, NONE, IDOK, 0, {kNoDestination}, false},
        CheckCase{"NoCardFolderInFolderMode", false, false, A_FOLDER, NONE, IDOK, 0, {kNoDestination}, false}),
    [](const ::testing::TestParamInfo<CheckCase>& info) { return std::string(info.param.name); });

TEST(ConvertDialog, CloseStoresTheThreeFoldersAndTheNextShowingReadsThem) {
  const std::string root = MakeTempDir("fotavi-cnvreg");
  const char* previous = std::getenv("FOTAVI_USER_SETTINGS");
  const std::string before = previous ? previous : "";
  setenv("FOTAVI_USER_SETTINGS", (root + "/user.conf").c_str(), 1);
  {
    CPptDlg dialog;
    dialog.OnInitDialog();
    dialog.SourceFileEdit()->setText("/src/a.pptx");
    dialog.SourceFolderEdit()->setText("/src");
    dialog.OutputEdit()->setText("/out");
    dialog.SDEdit()->setText("C:\\DCIM\\100ABCDE");
    dialog.reject();
  }
  const CRegOperation reg;
  EXPECT_EQ(reg.GetProfileString(HKEY_CURRENT_USER, REG_KEY_PRESENTATION, REG_SECTION_IMAGE, "CnvInputFileFolder", "-"),
            "/src/a.pptx");
  EXPECT_EQ(reg.GetProfileString(HKEY_CURRENT_USER, REG_KEY_PRESENTATION, REG_SECTION_IMAGE, "CnvInputFolder", "-"), "/src");
  EXPECT_EQ(reg.GetProfileString(HKEY_CURRENT_USER, REG_KEY_PRESENTATION, REG_SECTION_IMAGE, "CnvOutputFileFolder", "-"),
            "/out");
  CPptDlg again;
  again.OnInitDialog();
  EXPECT_EQ(again.SourceFileEdit()->text(), "/src/a.pptx");
  EXPECT_EQ(again.OutputEdit()->text(), "/out");
  // The card folder is not remembered.
  EXPECT_TRUE(again.SDEdit()->text().isEmpty());
  if (previous) setenv("FOTAVI_USER_SETTINGS", before.c_str(), 1);
  else unsetenv("FOTAVI_USER_SETTINGS");
  RemoveTree(root);
}

struct StartCase {
  const char* name;
  const char* current;  // relative to the test folder; "" none
  int filter;           // 0-based: PPT, JPEG, BMP
  bool startsInFolder;  // the chooser starts in that folder (else on that file)
};

class SourceChooserTest : public ::testing::TestWithParam<StartCase> {};

TEST_P(SourceChooserTest, StartsOnTheCurrentSourceWithTheFilterOfItsKind) {
  const StartCase& c = GetParam();
  const std::string root = MakeTempDir("fotavi-cnvpick");
  AnsweringUi ui;
  IUserInterfaceService* previous = SetUserInterfaceService(&ui);
  for (const char* name : {"/talk.PPTX", "/photo.JPG", "/scan.bmp", "/notes.txt"}) std::ofstream(root + name) << "x";
  CPptDlg dialog;
  const std::string current = *c.current ? root + c.current : "";
  dialog.SourceFileEdit()->setText(QString::fromStdString(current));
  ui.fileAnswer = root + "/photo.JPG";
  dialog.OnBtnRefIn();
  EXPECT_EQ(ui.chooser.filterIndex, c.filter);
  EXPECT_EQ(ui.chooser.filters.size(), 3u);
  if (c.startsInFolder) EXPECT_EQ(ui.chooser.folder, current.empty() ? GetMyDocumentsPath() : root);
  else EXPECT_EQ(ui.chooser.fileName, current.substr(0, current.rfind('.')));
  EXPECT_EQ(dialog.SourceFileEdit()->text().toStdString(), root + "/photo.JPG");
  SetUserInterfaceService(previous);
  RemoveTree(root);
}

INSTANTIATE_TEST_SUITE_P(Starts, SourceChooserTest,
                         ::testing::Values(StartCase{"Presentation", "/talk.PPTX", 0, false},
                                           StartCase{"Jpeg", "/photo.JPG", 1, false},
                                           StartCase{"Bmp", "/scan.bmp", 2, false},
                                           StartCase{"OtherKind", "/notes.txt", 0, false},
                                           StartCase{"AFolder", "/", 0, true},
                                           StartCase{"Nothing", "", 0, true}),
                         [](const ::testing::TestParamInfo<StartCase>& info) { return std::string(info.param.name); });

// ------------------------------------------------------------ runs to the card

TEST_F(ConvertUiTest, NumbersFromTheCardsListingSendsEveryPictureAndEndsTheSeriesOnce) {
  ASSERT_TRUE(Start());
  MakeCardFolder("DCIM/100ABCDE");
  PutCardFile("DCIM/100ABCDE/IMAG0007.JPG", MakeJpeg(64, 48));
  PutCardFile("DCIM/100ABCDE/imag0012.jpg", MakeJpeg(64, 48));
  PutCardFile("DCIM/100ABCDE/IMAGABCD.JPG", MakeJpeg(64, 48));  // no number
  PutCardFile("DCIM/100ABCDE/IMAG9000.JPEG", MakeJpeg(64, 48)); // 13 characters
  const std::string source = Pictures("src", 2);
  WriteBmp(source + "/Q.bmp", 1000, 700);
  CPptDlg dialog;
  ConvertToCard(&dialog, source, false, "C:\\DCIM\\100ABCDE");
  EXPECT_TRUE(ui_.texts.empty()) << ui_.texts.front();
  EXPECT_TRUE(errorRows_.empty());
  // JPG first, then BMP; numbers go on from the card's highest.
  int w = 0, h = 0;
  ASSERT_TRUE(JpegSize(CardFile("DCIM/100ABCDE/IMAG0013.jpg"), &w, &h));
  EXPECT_EQ(w, 320);
  EXPECT_EQ(h, 240);
  ASSERT_TRUE(JpegSize(CardFile("DCIM/100ABCDE/IMAG0015.jpg"), &w, &h));
  EXPECT_EQ(w, 1008);
  EXPECT_EQ(h, 712);
  EXPECT_TRUE(CardFileExists("DCIM/100ABCDE/IMAG0014.jpg"));
  EXPECT_FALSE(CardFileExists("DCIM/100ABCDE/IMAG0016.jpg"));
  // The exchange: one listing first, three writes, then one end of series.
  EXPECT_EQ(CommandsIn("0x8105"), 1u);
  EXPECT_EQ(CommandsIn("0x104"), 3u);
  EXPECT_EQ(CommandsIn("0x108"), 1u);
  EXPECT_LT(LogIndex("0x8105", false), LogIndex("0x104", false));
  EXPECT_LT(LogIndex("0x104", true), LogIndex("0x108", false));
  std::vector<std::string> written;
  for (const std::string& path : PathsIn())
    if (path.find("IMAG00") != std::string::npos) written.push_back(path);
  EXPECT_EQ(written, (std::vector<std::string>{"C:\\DCIM\\100ABCDE\\IMAG0013.jpg", "C:\\DCIM\\100ABCDE\\IMAG0014.jpg",
                                               "C:\\DCIM\\100ABCDE\\IMAG0015.jpg"}));
  EXPECT_TRUE(StagedFiles().empty());
}

TEST_F(ConvertUiTest, APcFolderRunNumbersFromTheFolderAndSendsNothingToTheCamera) {
  ASSERT_TRUE(Start());
  const std::string source = Pictures("src", 2);
  const std::string out = MakeSourceFolder("out");
  WriteBytes(out + "/IMAG0007.JPG", MakeJpeg(64, 48));
  WriteBytes(out + "/IMAGABCD.JPG", MakeJpeg(64, 48));
  CPptDlg dialog;
  dialog.SourceFolderEdit()->setText(QString::fromStdString(source));
  dialog.OnBnClickedRadioFolder();
  dialog.OutputEdit()->setText(QString::fromStdString(out));
  dialog.OnBnClickedRadioLocal();
  dialog.OnOK();
  EXPECT_TRUE(ui_.texts.empty());
  EXPECT_TRUE(errorRows_.empty());
  EXPECT_TRUE(FileExists(out + "/IMAG0008.jpg"));
  EXPECT_TRUE(FileExists(out + "/IMAG0009.jpg"));
  EXPECT_FALSE(FileExists(out + "/IMAG0010.jpg"));
  EXPECT_EQ(CommandsIn("0x8105"), 0u);
  EXPECT_EQ(CommandsIn("0x104"), 0u);
  EXPECT_EQ(CommandsIn("0x108"), 0u);
}

struct StopCase {
  const char* name;
  const char* fault;
  const char* text;
};

class CardStopTest : public ConvertUiTest, public ::testing::WithParamInterface<StopCase> {};

TEST_P(CardStopTest, StopsTheRunListsEveryRemainingFileAndEndsNoSingleFileSeries) {
  const StopCase& c = GetParam();
  ASSERT_TRUE(Start());
  MakeCardFolder("DCIM/100ABCDE");
  const std::string source = Pictures("src", 3);
  Command(c.fault);
  CPptDlg dialog;
  ConvertToCard(&dialog, source, false, "C:\\DCIM\\100ABCDE");
  EXPECT_EQ(errorTitle_, "File Conversion");
  EXPECT_EQ(errorLabel_, "Error list");
  ASSERT_EQ(errorRows_.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(errorRows_[i].first, source + "/P0" + std::to_string(i + 1) + ".jpg") << i;
    EXPECT_EQ(errorRows_[i].second, c.text) << i;
  }
  // One write only: the run stopped at the first refusal.
  EXPECT_EQ(CommandsIn("0x104"), 1u);
  EXPECT_FALSE(CardFileExists("DCIM/100ABCDE/IMAG0001.jpg"));
  EXPECT_TRUE(StagedFiles().empty());

  // The same fault on a single file: the run fails, and no end of series is sent.
  Command("clear");
  Command(c.fault);
  const size_t endsBefore = CommandsIn("0x108");
  errorRows_.clear();
  ConvertToCard(&dialog, source + "/P02.jpg", true, "C:\\DCIM\\100ABCDE");
  ASSERT_EQ(errorRows_.size(), 1u);
  EXPECT_EQ(errorRows_[0].second, c.text);
  EXPECT_EQ(CommandsIn("0x108"), endsBefore);
  // And without the fault a single file ends its series.
  Command("clear");
  errorRows_.clear();
  ConvertToCard(&dialog, source + "/P02.jpg", true, "C:\\DCIM\\100ABCDE");
  EXPECT_TRUE(errorRows_.empty());
  EXPECT_EQ(CommandsIn("0x108"), endsBefore + 1);
  EXPECT_TRUE(CardFileExists("DCIM/100ABCDE/IMAG0001.jpg"));
}

INSTANTIATE_TEST_SUITE_P(
    Faults, CardStopTest,
    ::testing::Values(
        StopCase{"NoUnit", "status 0x104 1",
                 "Unable to use the main unit.  Please confirm the power supply or the connection."},
        StopCase{"CardFull", "status 0x104 512", "Insufficient capacity of SD memory."},
        StopCase{"NoReply", "drop 0x104", "Unable to transfer file to SD memory."}),
    [](const ::testing::TestParamInfo<StopCase>& info) { return std::string(info.param.name); });

TEST_F(ConvertUiTest, AFailedListingStopsBeforeAnyWriteInsteadOfNumberingFromOne) {
  ASSERT_TRUE(Start());
  MakeCardFolder("DCIM/100ABCDE");
  PutCardFile("DCIM/100ABCDE/IMAG0001.JPG", "the card's own picture");
  const std::string source = Pictures("src", 2);
  Command("status 0x8105 4 list");
  CPptDlg dialog;
  ConvertToCard(&dialog, source, false, "C:\\DCIM\\100ABCDE");
  ASSERT_EQ(errorRows_.size(), 2u);
  for (const auto& row : errorRows_) EXPECT_EQ(row.second, "Unable to transfer file to SD memory.");
  EXPECT_EQ(CommandsIn("0x104"), 0u);
  EXPECT_EQ(CardFile("DCIM/100ABCDE/IMAG0001.JPG"), "the card's own picture");
}

TEST_F(ConvertUiTest, AStagingFolderThatCannotBeMadeShowsItsMessageOnceAndNoErrorList) {
  ASSERT_TRUE(Start());
  MakeCardFolder("DCIM/100ABCDE");
  const std::string source = Pictures("src", 2);
  // A plain file where the staging folder belongs.
  MakeFolders(GetCardWorkFolder(), 0700);
  WriteBytes(GetCardWorkFolder() + "/TRANS", "not a folder");
  CPptDlg dialog;
  ConvertToCard(&dialog, source, false, "C:\\DCIM\\100ABCDE");
  EXPECT_EQ(ui_.texts, std::vector<std::string>{"An internal error had occurred."});
  EXPECT_TRUE(errorTitle_.empty());
  EXPECT_TRUE(errorRows_.empty());
  EXPECT_EQ(CommandsIn("0x104"), 0u);
}

TEST_F(ConvertUiTest, ACardDestinationWithoutACardIsRefusedBeforeTheProgressDialog) {
  ASSERT_TRUE(Start());
  const std::string source = Pictures("src", 1);
  Command("card off");
  CPptDlg dialog;
  bool opened = false;
  dialog.onProgressOpen = [&](CPlogressDlg*) { opened = true; };
  ConvertToCard(&dialog, source, false, "C:\\DCIM\\100ABCDE");
  EXPECT_FALSE(opened);
  EXPECT_EQ(ui_.texts, std::vector<std::string>{"SD memory card is not inserted."});
  EXPECT_EQ(CommandsIn("0x8105"), 0u);
}

TEST_F(ConvertUiTest, TheBrowseDialogChoosesTheCardFolderAndTheFolderChoosersTheirOwnValues) {
  ASSERT_TRUE(Start());
  MakeCardFolder("DCIM/100ABCDE");
  MakeCardFolder("DCIM/101FOTAV");
  CPptDlg dialog;
  dialog.OnInitDialog();
  browseItem = 1;
  dialog.OnBnClickedBtnRefOutsd();
  EXPECT_EQ(dialog.m_strSDFolder, "C:\\DCIM\\101FOTAV");
  EXPECT_EQ(dialog.SDEdit()->text().toStdString(), "C:\\DCIM\\101FOTAV");
  // Cancel keeps the choice.
  browseItem = -1;
  dialog.OnBnClickedBtnRefOutsd();
  EXPECT_EQ(dialog.m_strSDFolder, "C:\\DCIM\\101FOTAV");
  // Without a card the browse does not open.
  Command("card off");
  dialog.OnBnClickedBtnRefOutsd();
  EXPECT_EQ(ui_.texts, std::vector<std::string>{"SD memory card is not inserted."});
  Command("card on");
  // The two folder choosers start at, and fill, their own value.
  dialog.SourceFolderEdit()->setText("/from/here");
  dialog.OutputEdit()->setText("/to/there");
  ui_.folder = root_ + "/chosen-out";
  dialog.OnBtnRefOut();
  ui_.folder = root_ + "/chosen-in";
  dialog.OnBtnRefInFolder();
  EXPECT_EQ(ui_.initialFolders, (std::vector<std::string>{"/to/there", "/from/here"}));
  EXPECT_EQ(dialog.OutputEdit()->text().toStdString(), root_ + "/chosen-out");
  EXPECT_EQ(dialog.SourceFolderEdit()->text().toStdString(), root_ + "/chosen-in");
  EXPECT_EQ(counter_.GetModalCount(), 0);
}

// ------------------------------------------------------------ Cancel

TEST_F(ConvertUiTest, CancelLeavesTheDialogOpenUntilTheWorkerEndsAndListsEveryFileLeft) {
  ASSERT_TRUE(Start());
  MakeCardFolder("DCIM/100ABCDE");
  const std::string source = Pictures("src", 6);
  // Each write takes a while, so Cancel comes while files are left.
  Command("delay 0x104 300 always");
  CPptDlg dialog;
  bool visibleAfterCancel = false;
  QString countAtCancel;
  bool cancelled = false;
  dialog.onProgressOpen = [&](CPlogressDlg* progress) {
    auto* timer = new QTimer(progress);
    QObject::connect(timer, &QTimer::timeout, progress, [&, progress, timer] {
      // Once a file is through, and while files are left.
      const QString count = progress->CountText();
      if (cancelled || count.startsWith("0 /") || count == "6 / 6") return;
      cancelled = true;
      const QPoint at = progress->CancelButton()->rect().center();
      QTest::mouseClick(progress->CancelButton(), Qt::LeftButton, {}, at);
      visibleAfterCancel = progress->isVisible();
      countAtCancel = progress->CountText();
      timer->stop();
    });
    timer->start(5);
  };
  ConvertToCard(&dialog, source, false, "C:\\DCIM\\100ABCDE");
  ASSERT_TRUE(cancelled);
  EXPECT_TRUE(visibleAfterCancel);
  // The display did not move after Cancel.
  EXPECT_EQ(dialog.Progress()->CountText(), countAtCancel);
  size_t canceled = 0;
  for (const auto& row : errorRows_) {
    EXPECT_EQ(row.second, "Operation was canceled.") << row.first;
    ++canceled;
  }
  size_t sent = 0;
  for (int n = 1; n <= 6; ++n) {
    char name[40];
    std::snprintf(name, sizeof name, "DCIM/100ABCDE/IMAG%04d.jpg", n);
    if (CardFileExists(name)) ++sent;
  }
  EXPECT_GE(sent, 1u);
  EXPECT_GE(canceled, 1u);
  EXPECT_EQ(sent + canceled, 6u);
  // The run ended normally: no internal-error box.
  EXPECT_TRUE(ui_.texts.empty());
}

// ------------------------------------------------------------ hiding and showing

TEST_F(ConvertUiTest, MinimisingAndRestoringTheProgressDialogLeavesTheRunToItsEnd) {
  const std::string source = MakeSourceFolder("src");
  constexpr int kGood = 40;
  for (int i = 1; i <= kGood; ++i) {
    char file[32];
    std::snprintf(file, sizeof file, "/P%02d.jpg", i);
    WriteBytes(source + file, MakeJpeg(2048, 1536, i));
  }
  WriteBytes(source + "/P05b.jpg", "not a picture at all");
  const std::string out = MakeSourceFolder("out");
  CPptDlg dialog;
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  int writtenAtEnd = -1;
  bool minimised = false, restored = false;
  dialog.onProgressOpen = [&](CPlogressDlg* progress) {
    QObject::connect(progress, &QDialog::finished, progress, [&] { writtenAtEnd = CountFiles(out); },
                     Qt::SingleShotConnection);
    auto* timer = new QTimer(progress);
    auto* since = new QElapsedTimer;
    QObject::connect(timer, &QTimer::destroyed, [since] { delete since; });
    QObject::connect(timer, &QTimer::timeout, progress, [&, progress, timer, since] {
      if (!minimised) {
        // Once the run is under way.
        if (!progress->isVisible() || progress->CountText().startsWith("0 /")) return;
        minimised = true;
        since->start();
        progress->showMinimized();
      } else if (since->elapsed() >= 100) {
        restored = true;
        progress->showNormal();
        timer->stop();
      }
    });
    timer->start(10);
  };
  ConvertByClicks(&dialog, source, out);
  ASSERT_TRUE(minimised);
  ASSERT_TRUE(restored);
  // The progress dialog ended with the run, not at the restore.
  EXPECT_EQ(writtenAtEnd, kGood);
  EXPECT_EQ(CountFiles(out), kGood);
  EXPECT_TRUE(ui_.texts.empty()) << ui_.texts.front();
  EXPECT_EQ(errorTitle_, "File Conversion");
  ASSERT_EQ(errorRows_.size(), 1u);
  EXPECT_EQ(errorRows_[0].first, source + "/P05b.jpg");
  EXPECT_EQ(errorRows_[0].second, "Unable to convert file.");
  EXPECT_TRUE(dialog.isVisible());
}

// ------------------------------------------------------------ the presentation export's folder

TEST_F(ConvertUiTest, OpeningTheSdViewerLeavesThePresentationProfileToTheNextConversion) {
  if (!convert_test::HaveProgram("soffice")) GTEST_SKIP() << "soffice (LibreOffice Impress) is not installed";
  ASSERT_TRUE(Start());
  MakeCardFolder("DCIM/100ABCDE");
  PutCardFile("DCIM/100ABCDE/IMAG0001.JPG", MakeJpeg(320, 240));
  // LibreOffice tells the format from the content.
  const std::string source = MakeSourceFolder("src") + "/deck.pptx";
  WriteBytes(source, convert_test::ReadFile(CONVERT_TEST_DATA "/ThreeSlidesMiddleHidden.fodp"));
  const std::string out = MakeSourceFolder("out");
  CPptDlg dialog;
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  ConvertByClicks(&dialog, source, out, true);
  ASSERT_EQ(CountFiles(out), 3) << (ui_.texts.empty() ? std::string() : ui_.texts.front());
  const CPresentationExport& export_ = dialog.Worker().Presentation();
  const std::string profile = export_.GetProfileFolder();
  ASSERT_TRUE(FileExists(profile + "/user"));
  const std::string mark = profile + "/user/mark";
  WriteBytes(mark, "made by the first conversion");
  ClickButton(&dialog, "Close");

  // The SD viewer empties the work folder when its thumbnail list starts.
  {
    MakeFolders(GetCardWorkFolder() + "/TRANS");
    CViewerFrame viewer;
    viewer.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return viewer.GetTreePane()->topLevelItemCount() > 0; }, 10000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !viewer.GetThumbnailPane()->IsLoading(); }, 10000));
  }
  EXPECT_FALSE(FileExists(GetCardWorkFolder() + "/TRANS"));
  EXPECT_TRUE(FileExists(mark));
  // A folder of its own, outside the work folder and the memory-backed
  // runtime folder; what is left of the run is only the profile.
  EXPECT_NE(profile.rfind(GetCardWorkFolder(), 0), 0u);
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime)
    EXPECT_NE(profile.rfind(runtime, 0), 0u);
  EXPECT_TRUE(convert_test::ListFolder(export_.GetTempFolder()).empty());
  EXPECT_TRUE(convert_test::ListFolder(export_.GetPdfFolder()).empty());
}

}  // namespace
}  // namespace fotavi::test
