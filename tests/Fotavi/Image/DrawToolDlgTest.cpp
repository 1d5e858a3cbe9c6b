// The draw palette: its first state, tool switching, forms, erase buttons, closing.
#include <QAbstractButton>
#include <QComboBox>
#include <QTest>

#include "Image/DrawToolDlg.h"
#include "ImageTestSupport.h"
#include "Platform/Messages.h"
#include "App/Resource.h"

using namespace fotavi::image_test;

namespace {

constexpr int kAllButtons[] = {IDC_FREELINE, IDC_LINE,   IDC_SQUARE,    IDC_HORIZON,
                               IDC_VERTICAL, IDC_ERASER, IDC_ERASEAREA, IDC_ERASEALL};

class PaletteFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    mainWnd = CreateWindowTarget(
        [this](HWND, UINT msg, WPARAM, LPARAM) -> LRESULT {
          received.push_back(msg);
          return 0;
        },
        "palette-test-main");
    host.mainWnd = mainWnd;
    palette = std::make_unique<CEditViewTool>(&host);
    palette->show();
    PumpEvents();
  }
  void TearDown() override {
    palette.reset();
    DestroyWindow(mainWnd);
  }
  void Click(int id) { QTest::mouseClick(palette->GetButton(id), Qt::LeftButton); }
  std::vector<int> Checked() const {
    std::vector<int> ids;
    for (int id : kAllButtons)
      if (palette->GetButton(id)->isChecked()) ids.push_back(id);
    return ids;
  }
  QColor FieldColor() const {
    return palette->GetLineForm()->GetCurrentColorField()->palette().color(QPalette::Window);
  }

  RecordingHost host;
  HWND mainWnd = nullptr;
  std::vector<UINT> received;
  std::unique_ptr<CEditViewTool> palette;
};

}  // namespace

TEST_F(PaletteFixture, OpensWithTheLineFormOnThreePointSolidBlack) {
  EXPECT_EQ(palette->GetCurrentForm(), palette->GetLineForm());
  EXPECT_TRUE(palette->GetLineForm()->isVisible());
  EXPECT_FALSE(palette->GetEraseForm()->isVisible());
  EXPECT_EQ(palette->GetLineForm()->GetLineThickBox()->currentText(), "3 pt");
  EXPECT_EQ(palette->GetLineForm()->GetLineKindBox()->currentIndex(), 0);
  EXPECT_EQ(palette->GetLineForm()->GetLineKindBox()->count(), 2);
  EXPECT_EQ(FieldColor(), QColor(Qt::black));
  EXPECT_EQ(palette->GetEraseForm()->GetMarked(), IDC_MARK_MEDIUM);
  EXPECT_TRUE(Checked().empty());
  const EDITTOOLSTATE state = palette->GetState();
  EXPECT_EQ(state.nLineWidth, 3);
  EXPECT_EQ(state.byLineType, 0);
  EXPECT_EQ(state.nEraserSize, 10);
}

class PaletteToolButton : public PaletteFixture, public ::testing::WithParamInterface<int> {};

TEST_P(PaletteToolButton, ChoosesTheToolAndItsForm) {
  Click(IDC_ERASER);  // start from another tool and form
  Click(GetParam());
  EXPECT_EQ(host.GetCurrentTool(), GetParam());
  EXPECT_EQ(Checked(), std::vector<int>{GetParam()});
  CEditFormDlg* expected = GetParam() == IDC_ERASER ? static_cast<CEditFormDlg*>(palette->GetEraseForm())
                                                    : palette->GetLineForm();
  EXPECT_EQ(palette->GetCurrentForm(), expected);
  EXPECT_TRUE(expected->isVisible());
  EXPECT_EQ(palette->GetLineForm()->isVisible(), GetParam() != IDC_ERASER);
}

INSTANTIATE_TEST_SUITE_P(Tools, PaletteToolButton,
                         ::testing::Values(IDC_FREELINE, IDC_LINE, IDC_SQUARE, IDC_HORIZON, IDC_VERTICAL, IDC_ERASER),
                         [](const auto& info) { return "Tool" + std::to_string(info.param); });

TEST_F(PaletteFixture, EraseAreaKeepsTheToolButtonChecked) {
  Click(IDC_FREELINE);
  Click(IDC_ERASEAREA);
  EXPECT_EQ(Checked(), std::vector<int>{IDC_FREELINE});
  EXPECT_EQ(host.eraseAreas, 1);
  Click(IDC_ERASEALL);
  EXPECT_EQ(Checked(), std::vector<int>{IDC_FREELINE});
  EXPECT_EQ(host.eraseAlls, 1);
  EXPECT_EQ(host.GetCurrentTool(), IDC_FREELINE);
}

TEST_F(PaletteFixture, EraseWithTheHandToolChecksNothing) {
  Click(IDC_ERASEALL);
  EXPECT_TRUE(Checked().empty());
  EXPECT_EQ(host.eraseAlls, 1);
}

TEST_F(PaletteFixture, LineChoicesReachTheMainFrame) {
  CSetLineKindDlg* form = palette->GetLineForm();
  form->GetLineThickBox()->setCurrentIndex(2);
  EXPECT_EQ(host.GetPenWidth(), 7);
  form->GetLineThickBox()->setCurrentIndex(1);
  EXPECT_EQ(host.GetPenWidth(), 5);
  form->GetLineKindBox()->setCurrentIndex(1);
  EXPECT_EQ(host.GetDotLine(), 1);
  form->GetLineKindBox()->setCurrentIndex(0);
  EXPECT_EQ(host.GetDotLine(), 0);
  EXPECT_EQ(palette->GetState().nLineWidth, 5);
}

struct SwatchCase {
  int id;
  COLORREF color;
};

class PaletteSwatch : public PaletteFixture, public ::testing::WithParamInterface<SwatchCase> {};

TEST_P(PaletteSwatch, ClickMakesItsColourCurrent) {
  QTest::mouseClick(palette->GetLineForm()->GetSwatch(GetParam().id), Qt::LeftButton);
  EXPECT_EQ(host.GetPenColor(), GetParam().color);
  EXPECT_EQ(palette->GetColor(), GetParam().color);
  const COLORREF c = GetParam().color;
  EXPECT_EQ(FieldColor(), QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF));
}

INSTANTIATE_TEST_SUITE_P(Colours, PaletteSwatch,
                         ::testing::Values(SwatchCase{1002, 0x000000}, SwatchCase{1005, 0xFFFFFF},
                                           SwatchCase{1001, 0x0000FF}, SwatchCase{1006, 0x00FFFF},
                                           SwatchCase{1007, 0xFF0000}, SwatchCase{1009, 0xFF00FF},
                                           SwatchCase{1008, 0x00FF00}, SwatchCase{1018, 0xFFFF00}),
                         [](const auto& info) { return "Swatch" + std::to_string(info.param.id); });

struct EraserCase {
  int choice;
  int mark;
  int size;
};

class PaletteEraserSize : public PaletteFixture, public ::testing::WithParamInterface<EraserCase> {};

TEST_P(PaletteEraserSize, ChoiceMarksItselfAndSetsTheSize) {
  Click(IDC_ERASER);
  QTest::mouseClick(palette->GetEraseForm()->GetChoice(GetParam().choice), Qt::LeftButton);
  EXPECT_EQ(host.GetEraserSize(), GetParam().size);
  EXPECT_EQ(palette->GetEraseForm()->GetMarked(), GetParam().mark);
  for (int id : {IDC_SIZE_SMALL, IDC_SIZE_MEDIUM, IDC_SIZE_LARGE})
    EXPECT_EQ(palette->GetEraseForm()->GetChoice(id)->IsMarked(), id == GetParam().choice);
}

INSTANTIATE_TEST_SUITE_P(Sizes, PaletteEraserSize,
                         ::testing::Values(EraserCase{IDC_SIZE_SMALL, IDC_MARK_SMALL, 6},
                                           EraserCase{IDC_SIZE_MEDIUM, IDC_MARK_MEDIUM, 10},
                                           EraserCase{IDC_SIZE_LARGE, IDC_MARK_LARGE, 16}),
                         [](const auto& info) { return "Size" + std::to_string(info.param.size); });

struct CloseCase {
  int toolBefore;
  int toolAfter;
};

class PaletteClosing : public PaletteFixture, public ::testing::WithParamInterface<CloseCase> {};

TEST_P(PaletteClosing, LeavesHandOrSelectionAndAsksForTheLiveMonitor) {
  host.SetCurrentTool(GetParam().toolBefore);
  palette->close();
  PumpEvents();
  EXPECT_FALSE(palette->isVisible());
  EXPECT_EQ(host.GetCurrentTool(), GetParam().toolAfter);
  EXPECT_EQ(std::count(received.begin(), received.end(), WM_RESUME_LIVE), 1);
}

INSTANTIATE_TEST_SUITE_P(Tools, PaletteClosing,
                         ::testing::Values(CloseCase{ID_DRAW_ERASER, ID_TOOL_HAND},
                                           CloseCase{ID_DRAW_FREELINE, ID_TOOL_HAND},
                                           CloseCase{ID_TOOL_HAND, ID_TOOL_HAND},
                                           CloseCase{ID_TOOL_SELECT, ID_TOOL_SELECT}),
                         [](const auto& info) { return "Tool" + std::to_string(info.param.toolBefore); });

TEST_F(PaletteFixture, EnterAndEscapeDoNotClose) {
  QTest::keyClick(palette.get(), Qt::Key_Escape);
  QTest::keyClick(palette.get(), Qt::Key_Return);
  QTest::keyClick(palette->GetLineForm(), Qt::Key_Escape);
  PumpEvents();
  EXPECT_TRUE(palette->isVisible());
  EXPECT_EQ(std::count(received.begin(), received.end(), WM_RESUME_LIVE), 0);
}

TEST_F(PaletteFixture, ReopenedPaletteKeepsItsSettings) {
  palette->GetLineForm()->GetLineThickBox()->setCurrentIndex(2);
  Click(IDC_ERASER);
  QTest::mouseClick(palette->GetEraseForm()->GetChoice(IDC_SIZE_LARGE), Qt::LeftButton);
  palette->close();
  palette->show();
  EXPECT_EQ(palette->GetLineForm()->GetLineThickBox()->currentText(), "7 pt");
  EXPECT_EQ(palette->GetEraseForm()->GetMarked(), IDC_MARK_LARGE);
  EXPECT_TRUE(Checked().empty());
  EXPECT_EQ(host.GetEraserSize(), 16);
}

TEST_F(PaletteFixture, UncheckAllReleasesTheButtons) {
  Click(IDC_LINE);
  palette->UncheckAll();
  EXPECT_TRUE(Checked().empty());
  EXPECT_EQ(host.GetCurrentTool(), IDC_LINE);
}
