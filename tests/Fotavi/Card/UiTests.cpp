// The card windows offscreen, against the camera emulator: progress and
// error list dialogs, "Create New Folder", the folder trees, the transfer
// dialog and the SD viewer.
#include <QApplication>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QStatusBar>
#include <QScreen>
#include <QFontMetrics>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <mutex>

#include "CardDialogs.h"
#include "CardFolders.h"
#include "CardWindowFixture.h"
#include "CardHost.h"
#include "CardTools.h"
#include "Common/CommonFunc.h"
#include "FTransDlg.h"
#include "Platform/Ini.h"
#include "SDTree.h"
#include "ViewerFrame.h"

namespace fotavi::test {
namespace {

// Message boxes and modal dialogs answered instead of shown.
class RecordingUi : public IUserInterfaceService {
 public:
  int MessageBox(HWND, const std::string& text, const std::string&, UINT type) override {
    texts.push_back(text);
    types.push_back(type);
    return (type & MB_TYPEMASK) == MB_YESNO ? answerYesNo : IDOK;
  }
  FileChooserResult ChooseFile(HWND, const FileChooserRequest&) override { return {}; }
  std::string ChooseFolder(HWND, const std::string&, const std::string&) override { return folder; }
  std::vector<std::string> texts;
  std::vector<UINT> types;
  int answerYesNo = IDYES;
  std::string folder;
};

class CardUiTest : public CardWindowFixture<RecordingUi> {
 protected:
  void SetUp() override {
    CardWindowFixture::SetUp();
    CardHost().runModal = [this](QDialog* dialog) {
      if (auto* errors = qobject_cast<CTransErrDlg*>(dialog)) errors->OnInitDialog();
      modalTitles_.push_back(dialog->windowTitle().toStdString());
      if (auto* errors = qobject_cast<CTransErrDlg*>(dialog)) {
        errorRows_.clear();
        for (int i = 0; i < errors->List()->topLevelItemCount(); ++i)
          errorRows_.push_back(errors->List()->topLevelItem(i)->text(0).toStdString() + ": " +
                               errors->List()->topLevelItem(i)->text(1).toStdString());
        return int(QDialog::Accepted);
      }
      return onModal ? onModal(dialog) : int(QDialog::Rejected);
    };
  }
  std::vector<std::string> modalTitles_;
  std::vector<std::string> errorRows_;
  std::function<int(QDialog*)> onModal;
};

// ------------------------------------------------------------ small dialogs

TEST_F(CardUiTest, ProgressDialogClampsDisablesItsOwnerAndCancelClearsTheFlag) {
  QDialog owner;
  auto* ownerButton = new QPushButton("Transfer", &owner);
  // The owner runs modal, as the transfer dialog does: its progress window
  // must still take the Cancel click.
  owner.setWindowModality(Qt::ApplicationModal);
  owner.show();
  int running = 1;
  CCnvPlogressDlg none(nullptr, &running);
  EXPECT_EQ(none.ShowDialog(), 0);
  CCnvPlogressDlg progress(&owner, &running);
  ASSERT_EQ(progress.ShowDialog(), 1);
  EXPECT_FALSE(ownerButton->isEnabled());
  EXPECT_TRUE(progress.CancelButton()->isEnabled());
  EXPECT_FALSE(QApplication::activeModalWidget() && QApplication::activeModalWidget() != &owner);
  // A real click through the window system's path, which modality filters.
  QWidget* window = progress.CancelButton()->window();
  ASSERT_EQ(window, &progress);
  ASSERT_TRUE(progress.windowHandle());
  for (auto [given, shown] : {std::pair{-5, 0}, {0, 0}, {50, 50}, {100, 100}, {150, 100}}) {
    progress.SetPos(given);
    EXPECT_EQ(progress.Position(), shown) << given;
  }
  progress.SetText("3 / 10");
  EXPECT_EQ(progress.CountText(), "3 / 10");
  const QPoint at = progress.CancelButton()->mapTo(&progress, progress.CancelButton()->rect().center());
  QTest::mouseClick(progress.windowHandle(), Qt::LeftButton, {}, at);
  QCoreApplication::processEvents();
  EXPECT_EQ(running, 0);
  EXPECT_TRUE(ownerButton->isEnabled());
  EXPECT_FALSE(progress.isVisible());
}

TEST_F(CardUiTest, ErrorListKeepsItsDefaultsAndShowsEveryEntryInOrder) {
  CErrorList list;
  CTransErrDlg::AddError("Operation was canceled.", "ABCD0001.JPG", &list);
  CTransErrDlg::AddError("Unable to open file. ", "ABCD0001.JPG", &list);
  CTransErrDlg plain;
  plain.SetErrorList(&list);
  plain.OnInitDialog();
  EXPECT_EQ(plain.windowTitle(), "File Transfer Error");
  EXPECT_EQ(plain.LabelText(), "Transfering error list");
  ASSERT_EQ(plain.List()->topLevelItemCount(), 2);
  EXPECT_EQ(plain.List()->topLevelItem(0)->text(1), "Operation was canceled.");
  EXPECT_EQ(plain.List()->topLevelItem(1)->text(1), "Unable to open file. ");
  EXPECT_EQ(plain.List()->headerItem()->text(0), "File Name");
  CTransErrDlg titled;
  titled.SetTitle("Transfer Error");
  titled.SetLabel("Error list");
  titled.SetErrorList(&list);
  titled.OnInitDialog();
  EXPECT_EQ(titled.windowTitle(), "Transfer Error");
  EXPECT_EQ(titled.LabelText(), "Error list");
  FreeTransErrList(&list);
}

TEST_F(CardUiTest, CreateFolderDialogTakesOnlyAFolderNameAndHandsItBackUnchanged) {
  CCreateSDDialog dialog;
  dialog.Edit()->setText("99ABCDE");
  dialog.accept();
  EXPECT_EQ(dialog.result(), QDialog::Rejected);
  EXPECT_EQ(ui_.texts, std::vector<std::string>{"Unable to use the specified folder name."});
  EXPECT_EQ(ui_.types[0] & MB_ICONMASK, MB_ICONWARNING);
  dialog.Edit()->setText("100abcde");
  dialog.accept();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(dialog.m_strName, "100abcde");
}

// Shown, the dialog is as wide as its caption in a bold face, with room for
// the icon and the caption buttons: "Create New Folder" is read whole.
TEST_F(CardUiTest, CreateFolderDialogIsWideEnoughForItsCaption) {
  CCreateSDDialog dialog;
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  QFont bold = QApplication::font();
  bold.setBold(true);
  EXPECT_GE(dialog.frameGeometry().width(), QFontMetrics(bold).horizontalAdvance("Create New Folder") + 4 * 24);
}

// ------------------------------------------------------------ trees

std::vector<std::string> Items(const QTreeWidget& tree) {
  std::vector<std::string> out;
  for (int i = 0; i < tree.topLevelItemCount(); ++i) out.push_back(tree.topLevelItem(i)->text(0).toStdString());
  return out;
}

TEST_F(CardUiTest, TreeShowsOnlyDcfFoldersDirectlyUnderTheRoot) {
  MakeCardFolder("DCIM/100ABCDE/101INSIDE");
  MakeCardFolder("DCIM/MISC");
  MakeCardFolder("DCIM/102FOTAV");
  ASSERT_TRUE(Start());
  CFTransTreeCtrl tree;
  tree.InitTree(nullptr);
  tree.OnInitTree();
  EXPECT_EQ(tree.GetRootPath(), "C:\\DCIM");
  EXPECT_EQ(Items(tree), (std::vector<std::string>{"100ABCDE", "102FOTAV"}));
  EXPECT_EQ(tree.GetSelectedPath(), "C:\\DCIM\\100ABCDE");
}

TEST_F(CardUiTest, NewFoldersGoUnderTheCardsRootInCapitals) {
  MakeCardFolder("dcim/100ABCDE");
  IniWriteString(CardHost().iniPath, "VIEWER", "ROOTPATH", "C:\\DCIM\\");
  ASSERT_TRUE(Start());
  CFTransTreeCtrl tree;
  tree.InitTree(nullptr);
  tree.OnInitTree();
  EXPECT_EQ(tree.GetRootPath(), "C:\\dcim");
  tree.CreateFolder("101abcde");
  EXPECT_EQ(Items(tree), (std::vector<std::string>{"100ABCDE", "101ABCDE"}));
  EXPECT_EQ(tree.GetSelectedPath(), "C:\\dcim\\101ABCDE");
  EXPECT_TRUE(CardFileExists("dcim/101ABCDE"));
  const auto paths = PathsIn();
  EXPECT_NE(std::find(paths.begin(), paths.end(), "C:\\dcim\\101ABCDE"), paths.end());
  tree.CreateFolder("101ABCDE");  // exists
  EXPECT_EQ(ui_.texts, std::vector<std::string>{"Unable to create folder."});
}

// Without a path from its host, the tree reads the card's root path from
// "Fotavi.ini" in the installation folder (InstallPath), with the trace
// settings, not from the program's folder.
TEST_F(CardUiTest, TheCardsRootPathComesFromFotaviIniInTheInstallationFolder) {
  CardHost().iniPath.clear();
  MakeFolders(root_ + "/install");
  IniWriteString(root_ + "/install/Fotavi.ini", "VIEWER", "ROOTPATH", "C:\\PICS");
  ASSERT_TRUE(Start());
  CFTransTreeCtrl tree;
  tree.InitTree(nullptr);
  tree.OnInitTree();
  EXPECT_EQ(tree.GetRootPath(), "C:\\PICS");
}

TEST_F(CardUiTest, RefreshKeepsTheSelectionByNameOrFallsBackToTheFirst) {
  MakeCardFolder("DCIM/100AAAAA");
  MakeCardFolder("DCIM/101BBBBB");
  MakeCardFolder("DCIM/102CCCCC");
  ASSERT_TRUE(Start());
  CFTransTreeCtrl tree;
  tree.InitTree(nullptr);
  tree.OnInitTree();
  tree.SelectItem(tree.topLevelItem(1));
  MakeCardFolder("DCIM/099ZZZZZ");
  MakeCardFolder("DCIM/100AAAA0");  // sorts before the selected one
  tree.OnRefreshTree();
  EXPECT_EQ(Items(tree), (std::vector<std::string>{"100AAAA0", "100AAAAA", "101BBBBB", "102CCCCC"}));
  EXPECT_EQ(tree.GetSelectedPath(), "C:\\DCIM\\101BBBBB");
  EXPECT_TRUE(tree.IsRefreshed());
  RemoveTree(cardDir_ + "/DCIM/101BBBBB");  // deleted elsewhere
  tree.OnRefreshTree();
  EXPECT_EQ(tree.GetSelectedPath(), "C:\\DCIM\\100AAAA0");
}

TEST_F(CardUiTest, TreeMessagesForNoCardAndAnEmptyCard) {
  ASSERT_TRUE(Start(false));
  CFTransTreeCtrl tree;
  tree.InitTree(nullptr);
  tree.OnInitTree();
  EXPECT_EQ(ui_.texts, std::vector<std::string>{"SD memory card is not inserted."});
  EXPECT_EQ(counter_.GetModalCount(), 0);
}

TEST_F(CardUiTest, BrowseDialogWithoutFoldersEndsWithAnEmptyPath) {
  MakeCardFolder("DCIM");
  ASSERT_TRUE(Start());
  CFTransTreeDlg dialog;
  dialog.Tree()->OnInitTree();
  EXPECT_EQ(dialog.Tree()->topLevelItemCount(), 0);
  EXPECT_TRUE(ui_.texts.empty());  // an empty card is no error
  dialog.accept();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(dialog.GetSelectedPath(), "");
}

// ------------------------------------------------------------ transfer dialog

class TransferDialogTest : public CardUiTest {
 protected:
  void SetUp() override {
    CardUiTest::SetUp();
    MakeCardFolder("DCIM/100ABCDE");
    src_ = MakeSourceFolder("pictures");
  }
  std::string src_;
};

TEST_F(TransferDialogTest, InputChecksNameWhatIsMissing) {
  ASSERT_TRUE(Start());
  CFTransDlg dialog;
  struct Case {
    std::string source, sdFolder, message;
  } cases[] = {
      {"", "C:\\DCIM\\100ABCDE", "The source folder is not specified."},
      {"/no/such/folder", "C:\\DCIM\\100ABCDE", "The source folder is not available."},
      {"pictures", "C:\\DCIM\\100ABCDE", "The source folder is not available."},  // not absolute
      {"", "", "The source folder is not specified."},
  };
  for (const Case& c : cases) {
    ui_.texts.clear();
    dialog.m_strSrcFolder = c.source;
    dialog.m_strSDFolder = c.sdFolder;
    EXPECT_FALSE(dialog.CheckInput());
    EXPECT_EQ(ui_.texts, std::vector<std::string>{c.message}) << c.source;
  }
  ui_.texts.clear();
  dialog.m_strSrcFolder = src_;
  dialog.m_strSDFolder = "";
  EXPECT_FALSE(dialog.CheckInput());
  EXPECT_EQ(ui_.texts, std::vector<std::string>{"The destination folder is not specified."});
  dialog.m_strSDFolder = "C:\\DCIM\\100ABCDE";
  EXPECT_TRUE(dialog.CheckInput());
}

TEST_F(TransferDialogTest, CancelInTheProgressWindowAfterTheFirstOfFive) {
  for (int i = 1; i <= 5; ++i) WriteBytes(src_ + "/ABCD000" + std::to_string(i) + ".JPG", "picture");
  ASSERT_TRUE(Start());
  CFTransDlg dialog;
  dialog.show();
  dialog.m_strSrcFolder = src_;
  dialog.m_strSDFolder = dialog.m_strDstFolder = "C:\\DCIM\\100ABCDE";
  // Runs at the first pump of the progress window, after the first file.
  QString countAtCancel;
  QMetaObject::invokeMethod(
      &dialog,
      [&] {
        ASSERT_NE(dialog.Progress(), nullptr);
        EXPECT_FALSE(dialog.TransferButton()->isEnabled());
        countAtCancel = dialog.Progress()->CountText();
        dialog.Progress()->CancelButton()->click();
      },
      Qt::QueuedConnection);
  EXPECT_EQ(dialog.TransFiles(), 1);
  EXPECT_EQ(countAtCancel, "1 / 5");
  EXPECT_EQ(modalTitles_, std::vector<std::string>{"Transfer Error"});
  ASSERT_EQ(errorRows_.size(), 4u);
  EXPECT_EQ(errorRows_[0], "ABCD0002.JPG: Operation was canceled.");
  EXPECT_EQ(CommandsIn("0x104"), 1u);
  EXPECT_EQ(CommandsIn("0x108"), 1u);
  EXPECT_TRUE(dialog.TransferButton()->isEnabled());
  EXPECT_EQ(counter_.GetModalCount(), 0);
  EXPECT_EQ(dialog.Progress(), nullptr);
}

TEST_F(TransferDialogTest, BrowseTakesTheChosenCardFolder) {
  MakeCardFolder("DCIM/101FOTAV");
  ASSERT_TRUE(Start());
  CFTransDlg dialog;
  onModal = [](QDialog* modal) {
    auto* browse = qobject_cast<CFTransTreeDlg*>(modal);
    if (!browse) return int(QDialog::Rejected);
    browse->Tree()->OnInitTree();
    browse->Tree()->SelectItem(browse->Tree()->topLevelItem(1));
    browse->accept();
    return browse->result();
  };
  dialog.OnBnClickedBtnTo();
  EXPECT_EQ(dialog.m_strSDFolder, "C:\\DCIM\\101FOTAV");
  EXPECT_EQ(dialog.DestinationEdit()->text().toStdString(), "C:\\DCIM\\101FOTAV");
  EXPECT_EQ(modalTitles_, std::vector<std::string>{"Browse SD Memory"});
  // Cancel leaves the destination as it was.
  onModal = nullptr;
  dialog.OnBnClickedBtnTo();
  EXPECT_EQ(dialog.m_strSDFolder, "C:\\DCIM\\101FOTAV");
  EXPECT_EQ(counter_.GetModalCount(), 0);
}

TEST_F(TransferDialogTest, DuplicateAndNoCardMessages) {
  WriteBytes(src_ + "/ABCD0001.JPG", "picture");
  PutCardFile("DCIM/100ABCDE/abcd0001.jpg", "old");
  ASSERT_TRUE(Start());
  CFTransDlg dialog;
  dialog.m_strSrcFolder = src_;
  dialog.m_strSDFolder = dialog.m_strDstFolder = "C:\\DCIM\\100ABCDE";
  EXPECT_EQ(dialog.TransFiles(), 0);
  EXPECT_EQ(ui_.texts,
            std::vector<std::string>{"The same file name exists in '" + src_ + "' and 'C:\\DCIM\\100ABCDE'."});
  ui_.texts.clear();
  RemoveTree(cardDir_ + "/DCIM/100ABCDE/abcd0001.jpg");
  Command("status 0x104 1 first");
  EXPECT_EQ(dialog.TransFiles(), 1);
  EXPECT_EQ(ui_.texts, std::vector<std::string>{"SD memory card is not inserted."});
  EXPECT_TRUE(modalTitles_.empty());  // nothing failed besides: no error list
  EXPECT_EQ(CommandsIn("0x108"), 1u);
}

TEST_F(TransferDialogTest, CloseStoresTheSourceFolderAndTheNextRunLoadsIt) {
  ASSERT_TRUE(Start());
  {
    CFTransDlg dialog;
    dialog.Clear();
    dialog.LoadSettings();
    dialog.SourceEdit()->setText(QString::fromStdString(src_));
    dialog.reject();
  }
  CFTransDlg again;
  again.Clear();
  again.LoadSettings();
  EXPECT_EQ(again.SourceEdit()->text().toStdString(), src_);
  EXPECT_EQ(CRegOperation().GetProfileString(HKEY_CURRENT_USER, REG_KEY_PRESENTATION, REG_SECTION_IMAGE,
                                             "TransSrcFolder", ""),
            src_);
}

TEST_F(TransferDialogTest, CardCheckNamesTheReason) {
  EXPECT_FALSE(CheckCardPresent());  // no device at all
  ASSERT_TRUE(Start(false));
  EXPECT_FALSE(CheckCardPresent());
  EXPECT_EQ(ui_.texts,
            (std::vector<std::string>{"Unable to access to SD memory.", "SD memory card is not inserted."}));
}

// ------------------------------------------------------------ viewer

class ViewerTest : public CardUiTest {
 protected:
  bool OpenViewer() {
    viewer_ = std::make_unique<CViewerFrame>();
    viewer_->show();
    return ServeUntil([&] { return viewer_->GetTreePane()->topLevelItemCount() > 0; }) &&
           ServeUntil([&] { return !viewer_->GetThumbnailPane()->IsLoading(); });
  }
  void TearDown() override {
    viewer_.reset();
    CardUiTest::TearDown();
  }
  // "Create New Folder" is answered with `name` and OK.
  void AnswerCreateFolderWith(const char* name) {
    onModal = [name](QDialog* dialog) {
      auto* create = qobject_cast<CCreateSDDialog*>(dialog);
      if (!create) return int(QDialog::Rejected);
      create->Edit()->setText(name);
      create->accept();
      return create->result();
    };
  }
  std::unique_ptr<CViewerFrame> viewer_;
};

TEST_F(ViewerTest, ShowsTheFirstFolderAndOpensAPictureOnDoubleClick) {
  PutPictures("100ABCDE", 3);
  ASSERT_TRUE(Start());
  std::vector<std::pair<std::string, size_t>> opened;
  CardHost().openPicture = [&](const std::string& name, const BYTE* data, DWORD size) {
    opened.push_back({name, size});
    return TRUE;
  };
  ASSERT_TRUE(OpenViewer());
  CViewerThumbnail* list = viewer_->GetThumbnailPane();
  ASSERT_EQ(list->count(), 3);
  EXPECT_FALSE(viewer_->IsReadingMode());
  EXPECT_EQ(viewer_->windowTitle(), "Fotavi for Presentation -Viewer-");
  list->item(0)->setSelected(true);
  list->item(1)->setSelected(true);
  list->OnNMDblclk();
  EXPECT_TRUE(opened.empty());  // two selected: nothing
  list->clearSelection();
  list->setCurrentItem(list->item(1));
  list->OnNMDblclk();
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0].first, "ABCD0002.JPG");
  EXPECT_EQ(opened[0].second, CardFile("DCIM/100ABCDE/ABCD0002.JPG").size());
  // A path without a backslash, and a read without a card.
  viewer_->OpenFile("ABCD0002.JPG");
  Command("card off");
  viewer_->OpenFile("C:\\DCIM\\100ABCDE\\ABCD0002.JPG");
  EXPECT_EQ(ui_.texts, (std::vector<std::string>{"Invalid file name in SD memory.", "SD memory card is not inserted."}));
  EXPECT_EQ(opened.size(), 1u);
}

// The status bar's count, as the screen shows it: the pixels of the count
// slot in the window's last painted picture, beside the slot drawn afresh
// with the count it holds now.
bool ShownCountIsCurrent(CViewerFrame* viewer) {
  QLabel* count = nullptr;
  for (QLabel* label : viewer->statusBar()->findChildren<QLabel*>())
    if (label->text() == viewer->CountText()) count = label;
  if (!count || !count->isVisible()) return false;
  const QImage shown = viewer->screen()->grabWindow(viewer->winId()).toImage();
  const QRect slot(count->mapTo(viewer, QPoint(0, 0)) * shown.devicePixelRatio(),
                   count->size() * shown.devicePixelRatio());
  QLabel fresh(count->text());
  fresh.setFont(count->font());
  fresh.setAlignment(count->alignment());
  fresh.setPalette(count->palette());
  fresh.resize(count->size());
  QImage drawn(count->size(), QImage::Format_ARGB32_Premultiplied);
  drawn.fill(viewer->statusBar()->palette().color(QPalette::Window));
  fresh.render(&drawn);
  const QImage cut = shown.copy(slot).convertToFormat(QImage::Format_ARGB32_Premultiplied)
                         .scaled(count->size());
  return cut == drawn;
}

// A second folder's reading shows its own count and bar as soon as its
// reading panes are shown, not what the first folder's reading ended with
// (the status bar is then painted only every 50 ms).
TEST_F(ViewerTest, ANewFolderShowsItsOwnCountAtOnce) {
  PutPictures("100ABCDE", 3);
  PutPictures("101FOTAV", 2);
  ASSERT_TRUE(Start());
  ASSERT_TRUE(OpenViewer());
  EXPECT_EQ(viewer_->CountText(), "3/3");
  Command("delay 0x8104 1000 always");
  CViewerTree* tree = viewer_->GetTreePane();
  ASSERT_EQ(tree->topLevelItemCount(), 2);
  const QRect second = tree->visualItemRect(tree->topLevelItem(1));
  QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, second.center());
  ASSERT_TRUE(ServeUntil([&] { return viewer_->IsReadingMode(); }));
  EXPECT_EQ(viewer_->CountText(), "0/2");
  EXPECT_TRUE(ShownCountIsCurrent(viewer_.get()));
  ASSERT_TRUE(ServeUntil([&] { return !viewer_->GetThumbnailPane()->IsLoading(); }));
}

// The viewer asks for 900 x 600; on a smaller screen (the offscreen
// platform's is 800 x 800) it opens inside the screen's available area.
TEST_F(ViewerTest, OpensInsideTheScreen) {
  PutPictures("100ABCDE", 1);
  ASSERT_TRUE(Start());
  ASSERT_TRUE(OpenViewer());
  QScreen* screen = viewer_->screen();
  ASSERT_NE(screen, nullptr);
  EXPECT_TRUE(screen->availableGeometry().contains(viewer_->frameGeometry()))
      << viewer_->frameGeometry().width() << "x" << viewer_->frameGeometry().height() << " at "
      << viewer_->frameGeometry().x() << "," << viewer_->frameGeometry().y() << " on "
      << screen->availableGeometry().width() << "x" << screen->availableGeometry().height();
  EXPECT_GE(viewer_->width(), viewer_->minimumSizeHint().width());
}

TEST_F(ViewerTest, CloseWhileReadingOnlyStopsTheReadingAndNoContextMenuMeanwhile) {
  PutPictures("100ABCDE", 5);
  ASSERT_TRUE(Start());
  Command("delay 0x8104 150 always");
  viewer_ = std::make_unique<CViewerFrame>();
  viewer_->show();
  CViewerThumbnail* list = viewer_->GetThumbnailPane();
  ASSERT_TRUE(ServeUntil([&] { return list->IsLoading(); }));
  EXPECT_TRUE(viewer_->IsReadingMode());
  EXPECT_FALSE(viewer_->GetTreePane()->ShowContextMenu(QPoint(), false));
  EXPECT_FALSE(viewer_->close());
  EXPECT_TRUE(viewer_->isVisible());
  ASSERT_TRUE(ServeUntil([&] { return !list->IsLoading(); }));
  EXPECT_LT(list->count(), 5);
  EXPECT_FALSE(viewer_->IsReadingMode());
  EXPECT_TRUE(viewer_->GetTreePane()->ShowContextMenu(QPoint(), false));
  EXPECT_TRUE(viewer_->close());  // the second close closes
}

TEST_F(ViewerTest, EscapeStopsTheReadingKeepsWhatWasReadAndCachesNothing) {
  PutPictures("100ABCDE", 6);
  ASSERT_TRUE(Start());
  Command("delay 0x8104 150 always");
  viewer_ = std::make_unique<CViewerFrame>();
  viewer_->show();
  CViewerThumbnail* list = viewer_->GetThumbnailPane();
  ASSERT_TRUE(ServeUntil([&] { return list->count() >= 1; }));
  QTest::keyClick(list, Qt::Key_Escape);
  ASSERT_TRUE(ServeUntil([&] { return !list->IsLoading(); }));
  const int kept = list->count();
  EXPECT_GE(kept, 1);
  EXPECT_LT(kept, 6);
  EXPECT_FALSE(viewer_->IsReadingMode());
  EXPECT_FALSE(LocalPathExists(list->Loader()->GetFolderCache()));
  EXPECT_TRUE(ui_.texts.empty());
}

TEST_F(ViewerTest, AnotherFolderCancelsTheFirstAndRefreshReadsTheCardAgain) {
  PutPictures("100ABCDE", 4);
  PutPictures("101FOTAV", 2);
  ASSERT_TRUE(Start());
  ASSERT_TRUE(OpenViewer());
  CViewerThumbnail* list = viewer_->GetThumbnailPane();
  CViewerTree* tree = viewer_->GetTreePane();
  ASSERT_EQ(list->count(), 4);
  // Back to the first folder after the second: both now come from the cache.
  tree->SelectItem(tree->topLevelItem(1));
  ASSERT_TRUE(ServeUntil([&] { return !list->IsLoading(); }));
  EXPECT_EQ(list->count(), 2);
  const size_t reads = CommandsIn("0x8104");
  tree->SelectItem(tree->topLevelItem(0));
  ASSERT_TRUE(ServeUntil([&] { return !list->IsLoading(); }));
  EXPECT_EQ(list->count(), 4);
  EXPECT_EQ(CommandsIn("0x8104"), reads);
  // Changing folders in the middle of a reading.
  tree->OnRefresh();
  ASSERT_TRUE(ServeUntil([&] { return !list->IsLoading(); }));
  EXPECT_EQ(CommandsIn("0x8104"), reads + 4);  // after the refresh: the card, not the cache
  Command("delay 0x8104 150 always");
  tree->OnRefresh();
  ASSERT_TRUE(ServeUntil([&] { return list->IsLoading(); }));
  tree->SelectItem(tree->topLevelItem(1));
  ASSERT_TRUE(ServeUntil([&] { return !list->IsLoading(); }));
  EXPECT_EQ(list->count(), 2);
  std::vector<std::string> names;
  for (int i = 0; i < list->count(); ++i) names.push_back(list->item(i)->text().toStdString());
  EXPECT_EQ(names, (std::vector<std::string>{"ABCD0001.JPG", "ABCD0002.JPG"}));
}

TEST_F(ViewerTest, ContextMenuCommandsCreateAndDeleteFolders) {
  PutPictures("100ABCDE", 1);
  ASSERT_TRUE(Start());
  ASSERT_TRUE(OpenViewer());
  CViewerTree* tree = viewer_->GetTreePane();
  AnswerCreateFolderWith("105newer");
  tree->OnCreateFolder();
  EXPECT_TRUE(CardFileExists("DCIM/105NEWER"));
  EXPECT_EQ(tree->GetSelectedPath(), "C:\\DCIM\\105NEWER");
  ASSERT_TRUE(ServeUntil([&] { return !viewer_->GetThumbnailPane()->IsLoading(); }));
  ui_.answerYesNo = IDNO;
  tree->OnDeleteFolder();
  EXPECT_TRUE(CardFileExists("DCIM/105NEWER"));
  EXPECT_EQ(ui_.texts.back(), "Delete the folder '105NEWER'?");
  ui_.answerYesNo = IDYES;
  tree->OnDeleteFolder();
  EXPECT_FALSE(CardFileExists("DCIM/105NEWER"));
  EXPECT_EQ(Items(*tree), std::vector<std::string>{"100ABCDE"});
}

// The viewer destroyed while it reads goes at once (no local wait); the
// read in flight is handed back when its reply comes.
TEST_F(ViewerTest, DestroyingTheViewerWhileReadingHandsTheReadInFlightBackWhenItComes) {
  PutPictures("100ABCDE", 5);
  ASSERT_TRUE(Start());
  Command("delay 0x8104 200 always");
  viewer_ = std::make_unique<CViewerFrame>();
  viewer_->show();
  ASSERT_TRUE(ServeUntil([&] { return viewer_->GetThumbnailPane()->IsLoading(); }));
  const std::string cacheRoot = viewer_->GetThumbnailPane()->Loader()->GetCacheRoot();
  const size_t reads = CommandsIn("0x8104");
  viewer_.reset();
  EXPECT_FALSE(LocalPathExists(cacheRoot));
  QTest::qWait(600);  // the reply comes (200 ms late) and goes back
  EXPECT_EQ(GlobalBlockCount(), blocksAtStart_);
  EXPECT_EQ(CommandsIn("0x8104"), reads);  // nothing more is read
  CloseCamera();
  EXPECT_EQ(GlobalBlockCount(), blocksAtStart_);
}

// The main frame destroys the viewer with a deferred delete (its closed
// message, the camera gone); one that comes while a cancelled reading's
// read is in flight and another folder waits to load: the viewer goes, the
// other folder is not read, the read in flight is handed back.
TEST_F(ViewerTest, DeferredDestroyWhileAFolderWaitsForTheCancelledRead) {
  PutPictures("100ABCDE", 5);
  PutPictures("101FOTAV", 2);
  ASSERT_TRUE(Start());
  Command("delay 0x8104 600 always");
  auto* viewer = new CViewerFrame();
  viewer->show();
  QPointer<CViewerFrame> alive(viewer);
  ASSERT_TRUE(ServeUntil([&] { return viewer->GetThumbnailPane()->IsLoading(); }));
  CViewerTree* tree = viewer->GetTreePane();
  QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(tree->topLevelItem(1)).center());
  ASSERT_EQ(tree->GetSelectedPath(), "C:\\DCIM\\101FOTAV");
  // From a handler, as the main frame's are.
  QTimer::singleShot(0, viewer, [viewer] { viewer->deleteLater(); });
  EXPECT_TRUE(ServeUntil([&] { return alive.isNull(); }));
  QTest::qWait(1500);  // the reply comes (600 ms late) and goes back
  EXPECT_EQ(GlobalBlockCount(), blocksAtStart_);
  for (const std::string& path : PathsIn()) EXPECT_EQ(path.find("101FOTAV\\"), std::string::npos) << path;
  CloseCamera();
  EXPECT_EQ(GlobalBlockCount(), blocksAtStart_);
}

// A folder deleted and made again in the viewer is empty: the thumbnails
// cached for the old one are not shown for it.
TEST_F(ViewerTest, AFolderDeletedAndMadeAgainShowsNoStaleThumbnails) {
  PutPictures("100ABCDE", 2);
  PutPictures("101FOTAV", 1);
  ASSERT_TRUE(Start());
  ASSERT_TRUE(OpenViewer());
  CViewerThumbnail* list = viewer_->GetThumbnailPane();
  CViewerTree* tree = viewer_->GetTreePane();
  ASSERT_EQ(list->count(), 2);  // 100ABCDE, now cached
  ui_.answerYesNo = IDYES;
  tree->OnDeleteFolder();
  ASSERT_FALSE(CardFileExists("DCIM/100ABCDE"));
  ASSERT_TRUE(ServeUntil([&] { return !list->IsLoading(); }));
  AnswerCreateFolderWith("100ABCDE");
  tree->OnCreateFolder();
  ASSERT_EQ(tree->GetSelectedPath(), "C:\\DCIM\\100ABCDE");
  ASSERT_TRUE(ServeUntil([&] { return !list->IsLoading(); }));
  EXPECT_EQ(list->count(), 0);
}

// A folder chosen while the tree still waits for a cancelled reading is
// loaded once: when the waiting change resumes it does not load that folder
// again (which would undo an Escape pressed meanwhile).
TEST_F(ViewerTest, AFolderChosenDuringTheWaitIsNotLoadedAgainAfterIt) {
  PutPictures("100ABCDE", 5);
  PutPictures("101FOTAV", 2);
  PutPictures("102THIRD", 3);
  ASSERT_TRUE(Start());
  Command("delay 0x8104 300 always");
  viewer_ = std::make_unique<CViewerFrame>();
  viewer_->show();
  CViewerThumbnail* list = viewer_->GetThumbnailPane();
  CViewerTree* tree = viewer_->GetTreePane();
  ASSERT_TRUE(ServeUntil([&] { return list->IsLoading(); }));
  // During the wait: the third folder is chosen, and its reading stopped
  // with Escape as soon as it runs.
  QTimer::singleShot(50, tree, [tree] { tree->SelectItem(tree->topLevelItem(2)); });
  QTimer poll;
  poll.setInterval(10);
  bool escaped = false;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (!escaped && list->IsLoading() && list->Loader()->GetFolderCache().find("102THIRD") != std::string::npos) {
      escaped = true;
      QTest::keyClick(list, Qt::Key_Escape);
    }
  });
  poll.start();
  tree->SelectItem(tree->topLevelItem(1));
  ASSERT_TRUE(ServeUntil([&] { return escaped && !list->IsLoading(); }));
  poll.stop();
  EXPECT_EQ(tree->GetSelectedPath(), "C:\\DCIM\\102THIRD");
  EXPECT_LT(list->count(), 3);
  EXPECT_FALSE(LocalPathExists(list->Loader()->GetFolderCache()));
}

}  // namespace
}  // namespace fotavi::test
