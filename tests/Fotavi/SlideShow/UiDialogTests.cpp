// The "Slide Show Settings" dialog offscreen against the camera emulator:
// loading from the card, the row commands, the preview, registering, and
// the buttons while thumbnails are read.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QPointer>
#include <QElapsedTimer>
#include <QCoreApplication>
#include <QHeaderView>
#include <QAbstractItemView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStyleOptionComboBox>
#include <QTest>

#include "CardWindowFixture.h"
#include "CardFolders.h"
#include "CardHost.h"
#include "Common/ControlDialog.h"
#include "Platform/GlobalMemory.h"
#include "Platform/Messages.h"
#include "Platform/UiService.h"
#include "SlideShowDlg.h"

namespace fotavi::test {
namespace {

class RecordingUi : public IUserInterfaceService {
 public:
  int MessageBox(HWND, const std::string& text, const std::string&, UINT type) override {
    texts.push_back(text);
    types.push_back(type);
    return IDOK;
  }
  FileChooserResult ChooseFile(HWND, const FileChooserRequest&) override { return {}; }
  std::string ChooseFolder(HWND, const std::string&, const std::string&) override { return {}; }
  std::vector<std::string> texts;
  std::vector<UINT> types;
};

std::string CardPath(const std::string& folder, int n) {
  return "C:\\DCIM\\" + folder + "\\ABCD000" + std::to_string(n) + ".JPG";
}

std::string Describe(const QRect& r) {
  return std::to_string(r.width()) + "x" + std::to_string(r.height()) + "+" + std::to_string(r.x()) + "+" +
         std::to_string(r.y());
}

// A button's or a label's text, to name it.
std::string TextOf(const QWidget* w) {
  if (const auto* button = qobject_cast<const QPushButton*>(w)) return button->text().toStdString();
  if (const auto* label = qobject_cast<const QLabel*>(w)) return label->text().toStdString();
  return {};
}

// One of the screens the test main gives the application, by name.
QScreen* ScreenNamed(const QString& name) {
  for (QScreen* screen : QGuiApplication::screens())
    if (screen->name() == name) return screen;
  return nullptr;
}

class SlideShowTest : public CardWindowFixture<RecordingUi> {
 protected:
  void TearDown() override {
    dialog_.reset();
    CardWindowFixture::TearDown();
  }
  // Starts the camera, opens the dialog and waits for the tree, the
  // playlist and (unless `waitIdle` is false) the thumbnails.
  bool Open(bool waitIdle = true) {
    if (!Start()) return false;
    dialog_ = std::make_unique<CSlideShow>();
    dialog_->show();
    const size_t playlistReads = 1;
    return ServeUntil([&] { return Tree()->topLevelItemCount() > 0 && CommandsIn("0x8107") >= playlistReads; }) &&
           (!waitIdle || ServeUntil([&] { return !Thumbs()->IsLoading(); }));
  }
  CSlideTree* Tree() const { return dialog_->Frame()->GetTree(); }
  CSlideThumbnail* Thumbs() const { return dialog_->Frame()->GetThumbnail(); }
  CSlidePlayList* List() const { return dialog_->PlayList(); }
  std::vector<std::string> Rows() const {
    std::vector<std::string> out;
    for (const PlayListEntry& e : List()->Entries()) out.push_back(e.displayName);
    return out;
  }
  void SelectRows(std::initializer_list<int> rows) {
    List()->clearSelection();
    for (int r : rows) List()->topLevelItem(r)->setSelected(true);
  }
  void SelectThumbs(std::initializer_list<int> items) {
    Thumbs()->clearSelection();
    for (int i : items) Thumbs()->item(i)->setSelected(true);
  }
  void ClickButton(const QString& text) {
    for (QPushButton* button : dialog_->findChildren<QPushButton*>())
      if (button->text() == text && button->isVisible()) {
        QTest::mouseClick(button, Qt::LeftButton);
        return;
      }
    ADD_FAILURE() << "no button " << text.toStdString();
  }
  // The drop-down shown on the play order, if any.
  QComboBox* ShownDropDown() const {
    for (QComboBox* box : List()->viewport()->findChildren<QComboBox*>())
      if (box->isVisible()) return box;
    return nullptr;
  }
  // Clicks a cell as a user does; the drop-down then shown over it, checked
  // to cover the cell.
  QComboBox* ClickCell(int row, int column) {
    const QRect rowRect = List()->visualItemRect(List()->topLevelItem(row));
    const int left = List()->header()->sectionViewportPosition(column);
    const int width = List()->header()->sectionSize(column);
    QTest::mouseClick(List()->viewport(), Qt::LeftButton, {}, QPoint(left + width / 2, rowRect.center().y()));
    QComboBox* box = ShownDropDown();
    if (!box) return nullptr;
    EXPECT_EQ(box->x(), left);
    EXPECT_EQ(box->width(), width);
    EXPECT_LE(box->y(), rowRect.top());
    return box;
  }
  // Every column is wide enough for its label and its texts, and the
  // drop-down over each Effect and Interval cell shows its current text and
  // its longest item whole.
  void ExpectTextsWhole() {
    QHeaderView* header = List()->header();
    for (int column = 0; column < 3; ++column) {
      SCOPED_TRACE(column);
      EXPECT_LE(header->sectionSizeHint(column), header->sectionSize(column));
      EXPECT_LE(static_cast<QAbstractItemView*>(List())->sizeHintForColumn(column), header->sectionSize(column));
    }
    for (int row = 0; row < List()->topLevelItemCount(); ++row) {
      for (int column : {CSlidePlayList::ColumnEffect, CSlidePlayList::ColumnInterval}) {
        SCOPED_TRACE(row * 10 + column);
        QComboBox* box = ClickCell(row, column);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->currentText(), List()->topLevelItem(row)->text(column));
        QStyleOptionComboBox option;
        option.initFrom(box);
        option.editable = false;
        const int field =
            box->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, box).width();
        int longest = 0;
        for (int i = 0; i < box->count(); ++i)
          longest = std::max(longest, box->fontMetrics().horizontalAdvance(box->itemText(i)));
        EXPECT_GE(field, longest);
      }
    }
  }
  // The item list of the pop-up shown now, if any.
  static QAbstractItemView* ShownList() {
    QCoreApplication::processEvents();
    QWidget* popup = QApplication::activePopupWidget();
    if (!popup || !popup->isVisible()) return nullptr;
    QAbstractItemView* view = popup->findChild<QAbstractItemView*>();
    return view && view->isVisible() ? view : nullptr;
  }
  // Clicks the shown item with that text as a user does, again while the
  // list stays open: the list drops a release that comes too soon after it
  // opened (it belongs to the click that opened it), so the click is judged
  // by the list closing, with a generous limit. False when the item is not
  // in sight or the list never takes the click.
  static bool ClickItem(QAbstractItemView* view, const QString& text) {
    QPointer<QAbstractItemView> shown(view);
    QElapsedTimer limit;
    limit.start();
    while (shown && shown->isVisible()) {
      if (limit.hasExpired(10000)) return false;
      const QModelIndexList found = shown->model()->match(shown->model()->index(0, 0), Qt::DisplayRole, text, 1,
                                                          Qt::MatchExactly);
      if (found.isEmpty()) return false;
      const QRect rect = shown->visualRect(found[0]).intersected(shown->viewport()->rect());
      if (rect.height() < shown->visualRect(found[0]).height() || rect.width() < 4) return false;
      QTest::mouseClick(shown->viewport(), Qt::LeftButton, {}, rect.center());
      QCoreApplication::processEvents();
      if (shown && shown->isVisible()) QTest::qWait(20);  // the list is still open: a user clicks again
    }
    return true;
  }

  // The window a dialog opens over, as the main frame is in the program.
  std::unique_ptr<QWidget> mainWindow_;
  std::unique_ptr<CSlideShow> dialog_;
};

TEST_F(SlideShowTest, OpensWithTheCardsFoldersThumbnailsAndPlaylistAndAFourByThreePreview) {
  PutPictures("100ABCDE", 3);
  PutCardFile("PLAYLIST.TXT", CardPath("100ABCDE", 2) + ",SE11,SI4\r\n" + CardPath("100ABCDE", 1) + ",SE,SI");
  ASSERT_TRUE(Start());
  dialog_ = std::make_unique<CSlideShow>();
  EXPECT_EQ(dialog_->windowTitle(), "Slide Show Settings");
  EXPECT_EQ(dialog_->Preview()->size(), QSize(200, 160));
  const int widthBefore = dialog_->width();
  dialog_->show();
  EXPECT_EQ(dialog_->Preview()->size(), QSize(212, 159));
  EXPECT_EQ(dialog_->width(), widthBefore + 12);
  ASSERT_TRUE(ServeUntil([&] { return List()->topLevelItemCount() == 2; }));
  ASSERT_TRUE(ServeUntil([&] { return Thumbs()->count() == 3 && !Thumbs()->IsLoading(); }));
  EXPECT_EQ(Rows(), (std::vector<std::string>{"100ABCDE\\ABCD0002.JPG", "100ABCDE\\ABCD0001.JPG"}));
  const QTreeWidgetItem* first = List()->topLevelItem(0);
  EXPECT_EQ(first->text(1), "Fade in/out");
  EXPECT_EQ(first->text(2), "30");
  EXPECT_EQ(List()->topLevelItem(1)->text(1), "ALL");
  EXPECT_EQ(List()->topLevelItem(1)->text(2), "3");
  EXPECT_EQ(List()->headerItem()->text(0), "FileName");
  EXPECT_FALSE(dialog_->IsProgressShown());
  EXPECT_TRUE(ui_.texts.empty());
  // A second show (the dialog hidden and shown again) reads nothing again.
  dialog_->hide();
  dialog_->show();
  QCoreApplication::processEvents();
  EXPECT_EQ(CommandsIn("0x8107"), 1u);
  EXPECT_EQ(dialog_->Preview()->size(), QSize(212, 159));
}

struct MalformedCase {
  const char* name;
  std::string playlist;
  size_t rows;
  bool warned;
};
// Named by the case: gtest would print the bytes, padding included.
void PrintTo(const MalformedCase& c, std::ostream* os) { *os << c.name; }

class MalformedPlaylist : public SlideShowTest, public ::testing::WithParamInterface<MalformedCase> {};

TEST_P(MalformedPlaylist, NeverCrashesKeepsTheValidLinesAndWarnsOnce) {
  PutPictures("100ABCDE", 1);
  PutCardFile("PLAYLIST.TXT", GetParam().playlist);
  ASSERT_TRUE(Open());
  ASSERT_TRUE(ServeUntil([&] { return CommandsIn("0x8107") == 1; }));
  QCoreApplication::processEvents();
  EXPECT_EQ(static_cast<size_t>(List()->topLevelItemCount()), GetParam().rows);
  const std::vector<std::string> warning{"Some lines of the playlist in SD memory are not valid and were skipped."};
  EXPECT_EQ(ui_.texts, GetParam().warned ? warning : std::vector<std::string>{});
  if (GetParam().warned) {
    EXPECT_EQ(ui_.types[0] & MB_ICONMASK, MB_ICONEXCLAMATION);
  }
  // The thumbnails keep their last reply while open; nothing stays after.
  dialog_.reset();
  EXPECT_EQ(GlobalBlockCount(), blocksAtStart_);
}

const std::string kGood = "C:\\DCIM\\100ABCDE\\ABCD0001.JPG,SE1,SI1";

INSTANTIATE_TEST_SUITE_P(
    Playlists, MalformedPlaylist,
    ::testing::Values(
        MalformedCase{"empty", "", 0, false}, MalformedCase{"onlyCrLf", "\r\n\r\n\r\n", 0, true},
        MalformedCase{"zeroBytes", std::string("\0\0\0\r\n", 5) + kGood + "\r\n", 1, true},
        MalformedCase{"binary", std::string("\xFF\xD8\xFF\xE0\x00\x10JFIF\r\x0a\x81\x8d\x8f\x90\x9d", 17), 0, true},
        MalformedCase{"longLine", std::string(70000, 'A') + "\r\n" + kGood, 1, true},
        MalformedCase{"path33", "C:\\XYZ\\DCIM\\100ABCDE\\ABCD0001.JPG,SE1,SI1\r\n" + kGood + "\r\n", 1, true},
        MalformedCase{"manyCommas", kGood + ",,,,,,\r\n,,,,\r\n", 1, true},
        MalformedCase{"hugeTokens", "C:\\DCIM\\100ABCDE\\ABCD0001.JPG,SE99999999999999999999,SI-2147483648\r\n", 1,
                      false},
        MalformedCase{"badLastLineOnly", kGood + "\r\nnot a line", 1, false},
        MalformedCase{"loneCr", kGood + "\r" + kGood + "\r", 1, false}),
    [](const ::testing::TestParamInfo<MalformedCase>& info) { return std::string(info.param.name); });

TEST_F(SlideShowTest, AddInsertsAtTheSelectedRowAndARefusedPictureLeavesNoGap) {
  PutPictures("100ABCDE", 4);
  ASSERT_TRUE(Open());
  ASSERT_EQ(Thumbs()->count(), 4);
  // Nothing selected among the thumbnails: nothing happens.
  dialog_->OnBnClickedAdd();
  EXPECT_EQ(List()->topLevelItemCount(), 0);
  SelectThumbs({0, 1, 2});
  dialog_->OnBnClickedAdd();  // appended
  EXPECT_EQ(Rows(), (std::vector<std::string>{"100ABCDE\\ABCD0001.JPG", "100ABCDE\\ABCD0002.JPG",
                                              "100ABCDE\\ABCD0003.JPG"}));
  EXPECT_EQ(List()->topLevelItem(0)->text(1), "None");
  EXPECT_EQ(List()->topLevelItem(0)->text(2), "3");
  // Three pictures at row 1, the middle one a path the camera cannot play.
  Thumbs()->item(1)->setData(CThumbnailList::RoleSDFile, QString("C:\\DCIM\\100ABCDE\\NOTADCF.JPG"));
  SelectRows({1});
  SelectThumbs({3, 1, 0});
  dialog_->OnBnClickedAdd();
  EXPECT_EQ(Rows(), (std::vector<std::string>{"100ABCDE\\ABCD0001.JPG", "100ABCDE\\ABCD0001.JPG",
                                              "100ABCDE\\ABCD0004.JPG", "100ABCDE\\ABCD0002.JPG",
                                              "100ABCDE\\ABCD0003.JPG"}));
  // Two positions selected: the warning and nothing added.
  SelectRows({0, 2});
  dialog_->OnBnClickedAdd();
  EXPECT_EQ(List()->topLevelItemCount(), 5);
  EXPECT_EQ(ui_.texts, std::vector<std::string>{"Two or more positions are selected."});
  EXPECT_EQ(ui_.types[0] & MB_ICONMASK, MB_ICONWARNING);
}

struct MoveCase {
  const char* name;
  std::vector<int> selected;
  char command;  // 'U' up, 'D' down, 'X' delete
  std::vector<std::string> rows;
  int selectedAfter;  // -1: none / not checked
  bool error;
};
void PrintTo(const MoveCase& c, std::ostream* os) { *os << c.name; }

const std::vector<std::string> kUnmoved{"ABCD0001/1", "ABCD0002/2", "ABCD0003/3"};

class RowCommands : public SlideShowTest, public ::testing::WithParamInterface<MoveCase> {};

TEST_P(RowCommands, MoveAndDeleteAtTheEndsOfTheList) {
  PutPictures("100ABCDE", 1);
  ASSERT_TRUE(Open());
  for (const char* path : {"C:\\DCIM\\100ABCDE\\ABCD0001.JPG", "C:\\DCIM\\100ABCDE\\ABCD0002.JPG",
                           "C:\\DCIM\\100ABCDE\\ABCD0003.JPG"}) {
    const std::string p = path, effect = "SE" + std::string(1, p[p.size() - 5]), interval = "SI2";
    ASSERT_GE(List()->AddEntry(&p, &effect, &interval, -1), 0);
  }
  List()->clearSelection();
  for (int r : GetParam().selected) List()->topLevelItem(r)->setSelected(true);
  switch (GetParam().command) {
    case 'U': dialog_->OnBnClickedUp(); break;
    case 'D': dialog_->OnBnClickedDown(); break;
    default: dialog_->OnBnClickedDelete(); break;
  }
  std::vector<std::string> rows;
  for (const PlayListEntry& e : List()->Entries())
    rows.push_back(e.displayName.substr(9, 8) + "/" + std::to_string(e.effect));
  EXPECT_EQ(rows, GetParam().rows);
  // The texts moved with the entries.
  for (int r = 0; r < List()->topLevelItemCount(); ++r)
    EXPECT_EQ(List()->topLevelItem(r)->text(1).toStdString(), PlayListEffectName(List()->Entry(r).effect));
  if (GetParam().selectedAfter >= 0) {
    EXPECT_EQ(List()->SelectedRows(), std::vector<int>{GetParam().selectedAfter});
    // The moved entry's row becomes the current one.
    if (GetParam().rows != kUnmoved) EXPECT_EQ(List()->currentItem(), List()->topLevelItem(GetParam().selectedAfter));
  }
  const std::vector<std::string> error{"Unable to execute the commands when two or more lines are selected."};
  EXPECT_EQ(ui_.texts, GetParam().error ? error : std::vector<std::string>{});
  if (GetParam().error) {
    EXPECT_EQ(ui_.types[0] & MB_ICONMASK, MB_ICONERROR);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Ends, RowCommands,
    ::testing::Values(MoveCase{"upFirst", {0}, 'U', kUnmoved, 0, false},
                      MoveCase{"downLast", {2}, 'D', kUnmoved, 2, false},
                      MoveCase{"upLast", {2}, 'U', {"ABCD0001/1", "ABCD0003/3", "ABCD0002/2"}, 1, false},
                      MoveCase{"downFirst", {0}, 'D', {"ABCD0002/2", "ABCD0001/1", "ABCD0003/3"}, 1, false},
                      MoveCase{"upNone", {}, 'U', kUnmoved, -1, false},
                      MoveCase{"downTwo", {0, 1}, 'D', kUnmoved, -1, true},
                      MoveCase{"upTwo", {1, 2}, 'U', kUnmoved, -1, true},
                      MoveCase{"deleteFirst", {0}, 'X', {"ABCD0002/2", "ABCD0003/3"}, -1, false},
                      MoveCase{"deleteLast", {2}, 'X', {"ABCD0001/1", "ABCD0002/2"}, -1, false},
                      MoveCase{"deleteEnds", {0, 2}, 'X', {"ABCD0002/2"}, -1, false},
                      MoveCase{"deleteAll", {0, 1, 2}, 'X', {}, -1, false},
                      MoveCase{"deleteNone", {}, 'X', kUnmoved, -1, false}),
    [](const ::testing::TestParamInfo<MoveCase>& info) { return std::string(info.param.name); });

// The play order's drop-down as a user works it: a click on an Effect or
// Interval cell shows the box over that cell; a click on the box, or
// Alt+Down, shows its list; a click on an item stores it; the focus going
// elsewhere hides the box.
TEST_F(SlideShowTest, TheDropDownOpensItsListOverTheCellAndTheClickedItemIsStoredAndRegistered) {
  PutPictures("100ABCDE", 2);
  ASSERT_TRUE(Open());
  ASSERT_TRUE(QTest::qWaitForWindowActive(dialog_.get()));
  SelectThumbs({0, 1});
  ClickButton("&Add");
  ASSERT_EQ(List()->topLevelItemCount(), 2);

  // An Effect cell: the box over it, with the row's effect.
  QComboBox* box = ClickCell(1, CSlidePlayList::ColumnEffect);
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->currentText(), "None");
  // A click on the box shows the 21 effects; a click on one picks it.
  QTest::mouseClick(box, Qt::LeftButton);
  QAbstractItemView* shown = ShownList();
  ASSERT_NE(shown, nullptr) << "no list shown after a click on the box";
  EXPECT_TRUE(box->isVisible());
  EXPECT_EQ(shown->model()->rowCount(), 21);
  ASSERT_TRUE(ClickItem(shown, "Door"));
  EXPECT_EQ(ShownList(), nullptr);
  EXPECT_TRUE(box->isVisible());
  EXPECT_EQ(box->currentText(), "Door");
  EXPECT_EQ(List()->topLevelItem(1)->text(CSlidePlayList::ColumnEffect), "Door");
  EXPECT_EQ(List()->Entry(1).effect, 14);

  // An Interval cell, its list opened from the keyboard.
  box = ClickCell(0, CSlidePlayList::ColumnInterval);
  ASSERT_NE(box, nullptr);
  ASSERT_EQ(QApplication::focusWidget(), box);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down, Qt::AltModifier);
  shown = ShownList();
  ASSERT_NE(shown, nullptr) << "no list shown after Alt+Down";
  EXPECT_EQ(shown->model()->rowCount(), 5);
  ASSERT_TRUE(ClickItem(shown, "30"));
  EXPECT_EQ(List()->topLevelItem(0)->text(CSlidePlayList::ColumnInterval), "30");
  EXPECT_EQ(List()->Entry(0).interval, 4);
  // Escape closes the list and changes nothing.
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down, Qt::AltModifier);
  ASSERT_NE(ShownList(), nullptr);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
  EXPECT_EQ(ShownList(), nullptr);
  EXPECT_TRUE(box->isVisible());
  EXPECT_EQ(List()->Entry(0).interval, 4);

  // The focus going to the thumbnails hides the box.
  QTest::mouseClick(Thumbs()->viewport(), Qt::LeftButton, {}, QPoint(2, 2));
  EXPECT_FALSE(box->isVisible());
  EXPECT_EQ(ShownDropDown(), nullptr);
  // A click on a file name opens no box.
  const int rowY = List()->visualItemRect(List()->topLevelItem(1)).center().y();
  QTest::mouseClick(List()->viewport(), Qt::LeftButton, {}, QPoint(4, rowY));
  EXPECT_EQ(ShownDropDown(), nullptr);

  ClickButton("&Register");
  EXPECT_FALSE(dialog_->isVisible());
  EXPECT_EQ(dialog_->result(), QDialog::Accepted);
  EXPECT_EQ(CardFile("PLAYLIST.TXT"), CardPath("100ABCDE", 1) + ",SE20,SI4\r\n" + CardPath("100ABCDE", 2) +
                                          ",SE14,SI0\r\n");
  EXPECT_TRUE(ui_.texts.empty());
}

// Notes the play order's client width as the dialog's first show begins:
// the size the layout has given the list, before the preview becomes 4:3.
class FirstShowWidth : public QObject {
 public:
  FirstShowWidth(QWidget* dialog, CSlidePlayList* list) : list_(list) { dialog->installEventFilter(this); }
  int width = -1;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Show && width < 0) width = list_->viewport()->width();
    return false;
  }

 private:
  CSlidePlayList* list_;
};

// The columns get their shares of the laid-out list (FileName 48 %, Effect
// 28 %, Interval 20 %), and in them every text is shown whole: the names,
// the labels, and the drop-down over a cell with its longest item.
TEST_F(SlideShowTest, TheColumnsTakeTheirSharesOfTheLaidOutListAndShowTheirTexts) {
  PutPictures("100ABCDE", 3);
  PutCardFile("PLAYLIST.TXT", CardPath("100ABCDE", 1) + ",SE17,SI4\r\n" + CardPath("100ABCDE", 2) + ",SE10,SI2\r\n" +
                                  CardPath("100ABCDE", 3) + ",SE3,SI0\r\n");
  ASSERT_TRUE(Start());
  dialog_ = std::make_unique<CSlideShow>();
  FirstShowWidth laidOut(dialog_.get(), List());
  dialog_->show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(dialog_.get()));
  ASSERT_TRUE(ServeUntil([&] { return List()->topLevelItemCount() == 3 && !Thumbs()->IsLoading(); }));
  ASSERT_GT(laidOut.width, 0);
  // On a screen of 1024 x 768, inside it.
  ASSERT_EQ(dialog_->screen()->size(), QSize(1024, 768));
  EXPECT_TRUE(dialog_->screen()->availableGeometry().contains(dialog_->frameGeometry()))
      << Describe(dialog_->frameGeometry());
  const int share[] = {48, 28, 20};
  for (int column = 0; column < 3; ++column) {
    SCOPED_TRACE(column);
    EXPECT_EQ(List()->header()->sectionSize(column), laidOut.width * share[column] / 100);
  }
  ExpectTextsWhole();
}

struct ScreenCase {
  const char* name;  // as screens.json names it
  bool textsWhole;   // wide enough for the play order's texts
};
void PrintTo(const ScreenCase& c, std::ostream* os) { *os << c.name; }

class ScreenFit : public SlideShowTest, public ::testing::WithParamInterface<ScreenCase> {
 protected:
  // The frame inside the screen's available geometry, and each control
  // shown whole inside the dialog: never smaller than its least size (a
  // label's or a button's whole text).
  void ExpectInsideTheScreen(QScreen* screen) {
    EXPECT_EQ(dialog_->screen(), screen);
    EXPECT_TRUE(screen->availableGeometry().contains(dialog_->frameGeometry()))
        << Describe(dialog_->frameGeometry()) << " on " << Describe(screen->availableGeometry());
    std::vector<QWidget*> controls{List(), Tree(), Thumbs(), dialog_->Preview()};
    for (QPushButton* button : dialog_->findChildren<QPushButton*>()) controls.push_back(button);
    for (QLabel* label : dialog_->findChildren<QLabel*>()) controls.push_back(label);
    for (QProgressBar* bar : dialog_->findChildren<QProgressBar*>()) controls.push_back(bar);
    for (QWidget* control : controls) {
      if (!control->isVisibleTo(dialog_.get())) continue;
      SCOPED_TRACE(std::string(control->metaObject()->className()) + " " + TextOf(control));
      const QRect at(control->mapTo(dialog_.get(), QPoint(0, 0)), control->size());
      EXPECT_TRUE(dialog_->rect().contains(at)) << Describe(at) << " in " << Describe(dialog_->rect());
      // The least size the layout may give it: its own minimum where set.
      const QSize set = control->minimumSize(), hint = control->minimumSizeHint();
      EXPECT_GE(control->width(), set.width() > 0 ? set.width() : hint.width());
      EXPECT_GE(control->height(), set.height() > 0 ? set.height() : hint.height());
    }
  }
};

// Over a main window on each screen, the dialog opens inside the screen,
// every control whole, while the thumbnails are read (the progress row
// shown) and after. Where the screen is wide enough the play order shows
// its texts whole, and the folder panes take only the tree's 120 px and one
// thumbnail column.
TEST_P(ScreenFit, TheDialogOpensInsideTheScreenWithEveryControlWhole) {
  QScreen* screen = ScreenNamed(GetParam().name);
  ASSERT_NE(screen, nullptr) << "the test main gives the screens of screens.json";
  PutPictures("100ABCDE", 6);
  PutCardFile("PLAYLIST.TXT", CardPath("100ABCDE", 1) + ",SE17,SI4\r\n" + CardPath("100ABCDE", 2) + ",SE10,SI2\r\n");
  ASSERT_TRUE(Start());
  mainWindow_ = std::make_unique<QWidget>();
  mainWindow_->setGeometry(screen->availableGeometry().adjusted(8, 32, -8, -8));
  mainWindow_->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(mainWindow_.get()));
  Command("delay 0x8104 100 always");
  dialog_ = std::make_unique<CSlideShow>(mainWindow_.get());
  dialog_->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog_.get()));
  ASSERT_TRUE(ServeUntil([&] { return dialog_->IsProgressShown(); }));
  {
    SCOPED_TRACE("reading");
    ExpectInsideTheScreen(screen);
  }
  Command("clear");
  ASSERT_TRUE(ServeUntil([&] { return List()->topLevelItemCount() == 2 && !Thumbs()->IsLoading(); }));
  {
    SCOPED_TRACE("read");
    ExpectInsideTheScreen(screen);
  }
  if (!GetParam().textsWhole) return;
  // One column of thumbnails, with no more room to spare than a scroll bar.
  EXPECT_EQ(Tree()->width(), 120);
  const int grid = Thumbs()->gridSize().width();
  EXPECT_GE(Thumbs()->viewport()->width(), grid);
  EXPECT_LE(Thumbs()->viewport()->width() - grid, Thumbs()->verticalScrollBar()->sizeHint().width());
  ExpectTextsWhole();
}

INSTANTIATE_TEST_SUITE_P(Screens, ScreenFit,
                         ::testing::Values(ScreenCase{"1024x768", true}, ScreenCase{"1920x1080", true},
                                           ScreenCase{"800x600", false}, ScreenCase{"640x480", false}),
                         [](const ::testing::TestParamInfo<ScreenCase>& info) {
                           return "Screen" + std::string(info.param.name);
                         });

TEST_F(SlideShowTest, CancelWritesNothingAndAFailedRegisterIsShownAndStillCloses) {
  PutPictures("100ABCDE", 1);
  const std::string before = CardPath("100ABCDE", 1) + ",SE1,SI1\r\n";
  PutCardFile("PLAYLIST.TXT", before);
  ASSERT_TRUE(Open());
  ASSERT_TRUE(ServeUntil([&] { return List()->topLevelItemCount() == 1; }));
  SelectThumbs({0});
  dialog_->OnBnClickedAdd();
  dialog_->OnBnClickedCancel();
  EXPECT_EQ(dialog_->result(), QDialog::Rejected);
  EXPECT_EQ(CommandsIn("0x107"), 0u);
  EXPECT_EQ(CardFile("PLAYLIST.TXT"), before);

  dialog_->show();
  Command("status 0x107 4");
  dialog_->OnBnClickedOk();
  EXPECT_EQ(dialog_->result(), QDialog::Accepted);
  EXPECT_EQ(ui_.texts, std::vector<std::string>{"Unable to register playlist in SD memory."});
  EXPECT_EQ(ui_.types[0] & MB_ICONMASK, MB_ICONERROR);
  EXPECT_EQ(CardFile("PLAYLIST.TXT"), before);
  // An empty list registers nothing: the card's playlist stays.
  dialog_->show();
  SelectRows({0, 1});
  dialog_->OnBnClickedDelete();
  const size_t writes = CommandsIn("0x107");
  dialog_->OnBnClickedOk();
  EXPECT_EQ(CommandsIn("0x107"), writes);
  EXPECT_EQ(CardFile("PLAYLIST.TXT"), before);
}

TEST_F(SlideShowTest, PreviewComesFromTheCacheCopyOrTheCardAndSaysNoSuchFile) {
  PutPictures("100ABCDE", 2);
  ASSERT_TRUE(Open());
  SelectThumbs({0, 1});
  dialog_->OnBnClickedAdd();
  // The thumbnails' cache holds copies of both pictures: no card read.
  ASSERT_TRUE(LocalPathExists(PlayListCacheFile(List()->WorkFolder(), CardPath("100ABCDE", 1))));
  const size_t reads = CommandsIn("0x8104");
  SelectRows({0});
  EXPECT_TRUE(dialog_->PreviewShowsPicture());
  EXPECT_EQ(CommandsIn("0x8104"), reads);
  const QPixmap shown = dialog_->Preview()->pixmap();
  EXPECT_EQ(shown.size(), dialog_->Preview()->contentsRect().size());
  // Two rows: cleared.
  SelectRows({0, 1});
  EXPECT_FALSE(dialog_->PreviewShowsPicture());
  EXPECT_EQ(dialog_->PreviewText(), "");
  // Without the cache: from the card.
  List()->SetWorkFolder(root_ + "/nothing-here");
  SelectRows({1});
  EXPECT_TRUE(dialog_->PreviewShowsPicture());
  EXPECT_EQ(CommandsIn("0x8104"), reads + 1);
  // A picture gone from the card, a path too long to ask for, a file that is no JPEG.
  PutCardFile("DCIM/100ABCDE/ABCD0002.JPG", "not a picture");
  SelectRows({0});
  SelectRows({1});
  EXPECT_FALSE(dialog_->PreviewShowsPicture());
  EXPECT_EQ(dialog_->PreviewText(), "No such file");
  const size_t before = CommandsIn("0x8104");
  dialog_->ShowPreview("C:\\DCIM\\100ABCDE\\ABCD0001.JPGXXXX", false);
  EXPECT_EQ(dialog_->PreviewText(), "No such file");
  EXPECT_EQ(CommandsIn("0x8104"), before);
  dialog_->ShowPreview("C:\\DCIM\\100ABCDE\\ABCD0009.JPG", false);
  EXPECT_EQ(dialog_->PreviewText(), "No such file");
  dialog_->ShowPreview({}, false);
  EXPECT_EQ(dialog_->PreviewText(), "");
  dialog_.reset();
  EXPECT_EQ(GlobalBlockCount(), blocksAtStart_);
}

TEST_F(SlideShowTest, UpdateReadsTheCardAgainAndAnotherFolderCancelsTheReadingFirst) {
  PutPictures("100ABCDE", 3);
  PutPictures("101FOTAV", 2);
  ASSERT_TRUE(Open());
  ASSERT_EQ(Thumbs()->count(), 3);
  const size_t reads = CommandsIn("0x8104");
  // Back to a folder already read: from the cache, no card read.
  Tree()->SelectItem(Tree()->topLevelItem(1));
  ASSERT_TRUE(ServeUntil([&] { return !Thumbs()->IsLoading() && Thumbs()->count() == 2; }));
  Tree()->SelectItem(Tree()->topLevelItem(0));
  ASSERT_TRUE(ServeUntil([&] { return !Thumbs()->IsLoading() && Thumbs()->count() == 3; }));
  EXPECT_EQ(CommandsIn("0x8104"), reads + 2);
  // "Update" refreshes the tree, and the folder is read from the card again.
  dialog_->OnBnClickedUpdate();
  ASSERT_TRUE(ServeUntil([&] { return CommandsIn("0x8104") == reads + 5 && !Thumbs()->IsLoading(); }));
  EXPECT_EQ(Thumbs()->count(), 3);
  // A folder change in the middle of a reading stops it and reads the new one.
  Command("delay 0x8104 150 always");
  dialog_->OnBnClickedUpdate();
  ASSERT_TRUE(ServeUntil([&] { return Thumbs()->IsLoading(); }));
  Tree()->SelectItem(Tree()->topLevelItem(1));
  ASSERT_TRUE(ServeUntil([&] { return !Thumbs()->IsLoading(); }));
  std::vector<std::string> names;
  for (int i = 0; i < Thumbs()->count(); ++i) names.push_back(Thumbs()->item(i)->text().toStdString());
  EXPECT_EQ(names, (std::vector<std::string>{"ABCD0001.JPG", "ABCD0002.JPG"}));
  EXPECT_TRUE(ui_.texts.empty());
}

enum class Button { Register, Cancel, Update };

class ButtonsWhileReading : public SlideShowTest, public ::testing::WithParamInterface<Button> {};

TEST_P(ButtonsWhileReading, OnlyStopTheReadingAndThenWork) {
  PutPictures("100ABCDE", 8);
  PutCardFile("PLAYLIST.TXT", CardPath("100ABCDE", 1) + ",SE1,SI1\r\n");
  ASSERT_TRUE(Start());
  Command("delay 0x8104 150 always");
  dialog_ = std::make_unique<CSlideShow>();
  dialog_->show();
  ASSERT_TRUE(ServeUntil([&] { return Thumbs()->IsLoading() && dialog_->IsProgressShown(); }));
  EXPECT_EQ(dialog_->ToReadCountText(), "8");
  ASSERT_TRUE(ServeUntil([&] { return List()->topLevelItemCount() == 1; }));
  const size_t listings = CommandsIn("0x8102");
  auto press = [&] {
    switch (GetParam()) {
      case Button::Register: dialog_->OnBnClickedOk(); break;
      case Button::Cancel: dialog_->OnBnClickedCancel(); break;
      case Button::Update: dialog_->OnBnClickedUpdate(); break;
    }
  };
  press();
  EXPECT_TRUE(dialog_->isVisible());
  EXPECT_TRUE(Thumbs()->IsCancel());
  ASSERT_TRUE(ServeUntil([&] { return !Thumbs()->IsLoading(); }));
  EXPECT_LT(Thumbs()->count(), 8);
  EXPECT_FALSE(dialog_->IsProgressShown());
  EXPECT_EQ(CommandsIn("0x107"), 0u);
  EXPECT_EQ(CommandsIn("0x8102"), listings);
  // After the reading has stopped, the button does its work.
  Command("clear");
  press();
  switch (GetParam()) {
    case Button::Register:
      EXPECT_FALSE(dialog_->isVisible());
      EXPECT_EQ(CardFile("PLAYLIST.TXT"), CardPath("100ABCDE", 1) + ",SE1,SI1\r\n");
      EXPECT_EQ(CommandsIn("0x107"), 1u);
      break;
    case Button::Cancel:
      EXPECT_FALSE(dialog_->isVisible());
      EXPECT_EQ(dialog_->result(), QDialog::Rejected);
      break;
    case Button::Update:
      EXPECT_TRUE(ServeUntil([&] { return CommandsIn("0x8102") > listings; }));
      EXPECT_TRUE(ServeUntil([&] { return Thumbs()->count() == 8 && !Thumbs()->IsLoading(); }));
      EXPECT_TRUE(dialog_->isVisible());
      break;
  }
  EXPECT_TRUE(ui_.texts.empty());
}

INSTANTIATE_TEST_SUITE_P(Buttons, ButtonsWhileReading,
                         ::testing::Values(Button::Register, Button::Cancel, Button::Update),
                         [](const ::testing::TestParamInfo<Button>& info) {
                           return std::string(info.param == Button::Register ? "Register"
                                              : info.param == Button::Cancel ? "Cancel"
                                                                             : "Update");
                         });

TEST_F(SlideShowTest, ClosingTheDialogWhileReadingHandsEveryReplyBackAndAsksForTheLiveMonitor) {
  PutPictures("100ABCDE", 6);
  ASSERT_TRUE(Start());
  int resumes = 0;
  HWND mainWnd = CreateWindowTarget(
      [&](HWND, UINT message, WPARAM, LPARAM) -> LRESULT {
        if (message == 0x469) ++resumes;
        return 0;
      },
      "slide-show test main window");
  ASSERT_TRUE(mainWnd);
  CardHost().mainWnd = mainWnd;
  Command("delay 0x8104 150 always");
  dialog_ = std::make_unique<CSlideShow>();
  dialog_->show();
  ASSERT_TRUE(ServeUntil([&] { return Thumbs()->IsLoading(); }));
  dialog_.reset();
  EXPECT_TRUE(ServeUntil([&] { return resumes == 1; }));
  EXPECT_TRUE(ServeUntil([&] { return GlobalBlockCount() == blocksAtStart_; }));
  DestroyWindow(mainWnd);
}

}  // namespace
}  // namespace fotavi::test
