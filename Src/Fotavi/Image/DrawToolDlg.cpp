#include "Image/DrawToolDlg.h"

#include <algorithm>

#include <QMdiArea>
#include <QScreen>
#include <QStyle>
#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QToolButton>
#include <QVBoxLayout>

#include "Common/TraceLog.h"
#include "App/FotaviApp.h"
#include "Platform/Messages.h"
#include "App/Resource.h"

namespace {


bool IsEnterOrEscape(const QKeyEvent* event) {
  return event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter || event->key() == Qt::Key_Escape;
}

// The button pictures: what each tool draws, in black on a light button.
QIcon ToolIcon(int id) {
  QPixmap pm(24, 24);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing, true);
  QPen pen(Qt::black, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
  p.setPen(pen);
  switch (id) {
    case IDC_FREELINE: {
      QPainterPath path(QPointF(3, 17));
      path.cubicTo(QPointF(7, 3), QPointF(11, 21), QPointF(15, 9));
      path.cubicTo(QPointF(17, 4), QPointF(20, 8), QPointF(21, 6));
      p.drawPath(path);
      break;
    }
    case IDC_LINE: p.drawLine(QPointF(4, 20), QPointF(20, 4)); break;
    case IDC_SQUARE: p.drawRect(QRectF(4, 6, 16, 12)); break;
    case IDC_HORIZON: p.drawLine(QPointF(3, 12), QPointF(21, 12)); break;
    case IDC_VERTICAL: p.drawLine(QPointF(12, 3), QPointF(12, 21)); break;
    case IDC_ERASER: {
      p.setBrush(QColor(255, 192, 203));
      p.translate(12, 12);
      p.rotate(-35);
      p.drawRect(QRectF(-8, -5, 16, 10));
      p.drawLine(QPointF(-2, -5), QPointF(-2, 5));
      break;
    }
    case IDC_ERASEAREA: {
      p.setPen(QPen(Qt::black, 1, Qt::DashLine));
      p.drawRect(QRectF(3.5, 3.5, 17, 17));
      p.setPen(QPen(Qt::red, 2));
      p.drawLine(QPointF(8, 8), QPointF(16, 16));
      p.drawLine(QPointF(16, 8), QPointF(8, 16));
      break;
    }
    case IDC_ERASEALL: {
      p.setPen(QPen(Qt::red, 3, Qt::SolidLine, Qt::RoundCap));
      p.drawLine(QPointF(4, 4), QPointF(20, 20));
      p.drawLine(QPointF(20, 4), QPointF(4, 20));
      break;
    }
    default: break;
  }
  p.end();
  return QIcon(pm);
}

// Pictures of the line-type box: 60 x 14, a solid and a dotted line.
QIcon LineTypeIcon(bool dotted) {
  QPixmap pm(60, 14);
  pm.fill(Qt::white);
  QPainter p(&pm);
  if (dotted) {
    for (int x = 4; x < 56; x += 6) p.fillRect(x, 5, 3, 4, Qt::black);
  } else {
    p.fillRect(4, 5, 52, 4, Qt::black);
  }
  p.end();
  return QIcon(pm);
}

const char* ToolTip(int id) {
  switch (id) {
    case IDC_FREELINE: return "Free line";
    case IDC_LINE: return "Line";
    case IDC_SQUARE: return "Rectangle";
    case IDC_HORIZON: return "Horizontal line";
    case IDC_VERTICAL: return "Vertical line";
    case IDC_ERASER: return "Eraser";
    case IDC_ERASEAREA: return "Erase selected area";
    case IDC_ERASEALL: return "Erase all";
    default: return "";
  }
}

constexpr int kButtonIds[] = {IDC_FREELINE, IDC_LINE,   IDC_SQUARE,    IDC_HORIZON,
                              IDC_VERTICAL, IDC_ERASER, IDC_ERASEAREA, IDC_ERASEALL};

}  // namespace

// ------------------------------------------------------------ forms

CEditFormDlg::CEditFormDlg(int /*dialogId: the form's resource*/, CEditViewTool* palette)
    : QWidget(palette), m_pPalette(palette) {
  hide();
}

void CEditFormDlg::keyPressEvent(QKeyEvent* event) {
  if (IsEnterOrEscape(event)) {
    event->accept();
    return;
  }
  QWidget::keyPressEvent(event);
}

CEraseChoice::CEraseChoice(int choiceId, int markId, int dotSize, QWidget* parent)
    : QWidget(parent), m_nChoiceId(choiceId), m_nMarkId(markId), m_nDotSize(dotSize) {
  setFixedSize(26, 26);
  setCursor(Qt::PointingHandCursor);
}

void CEraseChoice::SetMarked(bool marked) {
  m_bMarked = marked;
  update();
}

void CEraseChoice::paintEvent(QPaintEvent*) {
  QPainter p(this);
  // The marked choice is black with a white dot; the others show a black dot.
  p.fillRect(rect(), m_bMarked ? QColor(Qt::black) : palette().color(QPalette::Button));
  const QRect dot((width() - m_nDotSize) / 2, (height() - m_nDotSize) / 2, m_nDotSize, m_nDotSize);
  p.fillRect(dot, m_bMarked ? Qt::white : Qt::black);
}

void CEraseChoice::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) emit clicked(m_nChoiceId);
}

CSetEraseSize::CSetEraseSize(CEditViewTool* palette) : CEditFormDlg(IDD_ERASESIZE, palette) {}

bool CSetEraseSize::CreateForm() {
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  const struct {
    int choice, mark, dot;
  } rows[] = {{IDC_SIZE_SMALL, IDC_MARK_SMALL, 6}, {IDC_SIZE_MEDIUM, IDC_MARK_MEDIUM, 9},
              {IDC_SIZE_LARGE, IDC_MARK_LARGE, 15}};
  for (const auto& r : rows) {
    auto* choice = new CEraseChoice(r.choice, r.mark, r.dot, this);
    m_Choices[r.choice] = choice;
    layout->addWidget(choice);
    connect(choice, &CEraseChoice::clicked, this, [this](int id) {
      if (id == IDC_SIZE_SMALL) OnSizeSmall();
      else if (id == IDC_SIZE_LARGE) OnSizeLarge();
      else OnSizeMedium();
    });
  }
  layout->addStretch(1);
  const int size = m_pPalette->GetState().nEraserSize;
  m_nMarked = size == 6 ? IDC_MARK_SMALL : size == 16 ? IDC_MARK_LARGE : IDC_MARK_MEDIUM;
  for (auto& [id, choice] : m_Choices) choice->SetMarked(choice->GetMarkId() == m_nMarked);
  return true;
}

CEraseChoice* CSetEraseSize::GetChoice(int choiceId) const {
  const auto it = m_Choices.find(choiceId);
  return it == m_Choices.end() ? nullptr : it->second;
}

void CSetEraseSize::Mark(int markId, int size) {
  m_nMarked = markId;
  for (auto& [id, choice] : m_Choices) choice->SetMarked(choice->GetMarkId() == markId);
  m_pPalette->SetEraserSize(size);
}

void CSetEraseSize::OnSizeSmall() { Mark(IDC_MARK_SMALL, 6); }
void CSetEraseSize::OnSizeMedium() { Mark(IDC_MARK_MEDIUM, 10); }
void CSetEraseSize::OnSizeLarge() { Mark(IDC_MARK_LARGE, 16); }

CColorLabel::CColorLabel(int id, COLORREF color, CSetLineKindDlg* form, QWidget* parent)
    : QLabel(parent), m_nId(id), m_Color(color), m_pForm(form) {
  setFixedSize(18, 18);
  setFrameShape(QFrame::Box);
  setAutoFillBackground(true);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, ColorFromRef(color));
  setPalette(pal);
  setCursor(Qt::PointingHandCursor);
}

void CColorLabel::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && m_pForm) m_pForm->OnColorClicked(this);
}

CSetLineKindDlg::CSetLineKindDlg(CEditViewTool* palette) : CEditFormDlg(IDD_LINEKIND, palette) {}

bool CSetLineKindDlg::CreateForm() {
  static const char* const kLog = "CSetLineKindDlg::OnInitDialog";
  auto* layout = new QGridLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  m_pLineKind = new QComboBox(this);
  m_pLineKind->setIconSize(QSize(60, 14));
  m_pLineThick = new QComboBox(this);
  layout->addWidget(new QLabel(tr("Type"), this), 0, 0);
  layout->addWidget(m_pLineKind, 0, 1);
  layout->addWidget(new QLabel(tr("Width"), this), 1, 0);
  layout->addWidget(m_pLineThick, 1, 1);

  if (!CreateColorPallet()) {
    TraceLog(TRC_PRE, kLog, "The error occurred with the [CreateColorPallet()] function.");
    return false;
  }
  layout->addWidget(m_pFrame, 2, 0, 2, 1);
  auto* swatches = new QGridLayout();
  swatches->setSpacing(2);
  const int order[] = {1002, 1005, 1001, 1006, 1007, 1009, 1008, 1018};
  for (int i = 0; i < 8; ++i) swatches->addWidget(m_Swatches[order[i]], i / 4, i % 4);
  layout->addLayout(swatches, 2, 1, 2, 1);

  const EDITTOOLSTATE state = m_pPalette->GetState();
  if (!CreateLineKindBox(state.byLineType)) {
    TraceLog(TRC_PRE, kLog, "The error occurred with the [CreateLineKindBox()] function.");
    return false;
  }
  if (!InitLineThickComb(state.nLineWidth)) {
    TraceLog(TRC_PRE, kLog, "The error occurred with the [InitLineThickComb()] function.");
    return false;
  }
  connect(m_pLineKind, &QComboBox::currentIndexChanged, this, &CSetLineKindDlg::OnCbnSelchangeLineKind);
  connect(m_pLineThick, &QComboBox::currentIndexChanged, this, &CSetLineKindDlg::OnCbnSelchangeLineThick);
  return true;
}

bool CSetLineKindDlg::CreateColorPallet() {
  const struct {
    int id;
    COLORREF color;
  } colours[] = {{1002, MakeColorRef(0, 0, 0)},     {1005, MakeColorRef(255, 255, 255)}, {1001, MakeColorRef(255, 0, 0)},
                 {1006, MakeColorRef(255, 255, 0)}, {1007, MakeColorRef(0, 0, 255)},     {1009, MakeColorRef(255, 0, 255)},
                 {1008, MakeColorRef(0, 255, 0)},   {1018, MakeColorRef(0, 255, 255)}};
  for (const auto& c : colours) m_Swatches[c.id] = new CColorLabel(c.id, c.color, this, this);
  // The white frame 1003 around the current-colour field 1004.
  m_pFrame = new QLabel(this);
  m_pFrame->setFixedSize(38, 38);
  m_pFrame->setAutoFillBackground(true);
  QPalette framePal = m_pFrame->palette();
  framePal.setColor(QPalette::Window, Qt::white);
  m_pFrame->setPalette(framePal);
  m_pFrame->setFrameShape(QFrame::Box);
  m_pCurrent = new QLabel(m_pFrame);
  m_pCurrent->setGeometry(7, 7, 24, 24);
  m_pCurrent->setAutoFillBackground(true);
  PaintCurrentColor();
  return true;
}

bool CSetLineKindDlg::CreateLineKindBox(BYTE lineType) {
  m_pLineKind->clear();
  m_pLineKind->addItem(LineTypeIcon(false), QString());
  m_pLineKind->addItem(LineTypeIcon(true), QString());
  m_pLineKind->setItemData(0, tr("Solid"), Qt::ToolTipRole);
  m_pLineKind->setItemData(1, tr("Dotted"), Qt::ToolTipRole);
  m_pLineKind->setCurrentIndex(lineType != 0 ? 1 : 0);
  return m_pLineKind->count() == 2;
}

bool CSetLineKindDlg::InitLineThickComb(int width) {
  m_pLineThick->clear();
  m_pLineThick->addItems({QStringLiteral("3 pt"), QStringLiteral("5 pt"), QStringLiteral("7 pt")});
  m_pLineThick->setCurrentIndex(width == 3 ? 0 : width == 5 ? 1 : 2);
  return m_pLineThick->count() == 3;
}

CColorLabel* CSetLineKindDlg::GetSwatch(int id) const {
  const auto it = m_Swatches.find(id);
  return it == m_Swatches.end() ? nullptr : it->second;
}

COLORREF CSetLineKindDlg::GetCurrentColor() const { return m_pPalette->GetColor(); }

void CSetLineKindDlg::PaintCurrentColor() {
  QPalette pal = m_pCurrent->palette();
  pal.setColor(QPalette::Window, ColorFromRef(GetCurrentColor()));
  m_pCurrent->setPalette(pal);
  m_pCurrent->update();
}

void CSetLineKindDlg::OnColorClicked(CColorLabel* swatch) {
  m_pPalette->SetColor(swatch->GetColor());
  PaintCurrentColor();
}

void CSetLineKindDlg::OnCbnSelchangeLineKind(int item) { m_pPalette->SetLineType(item != 0 ? 1 : 0); }

void CSetLineKindDlg::OnCbnSelchangeLineThick(int item) {
  m_pPalette->SetLineWidth(item == 1 ? 5 : item == 2 ? 7 : 3);
}

// ------------------------------------------------------------ palette

CEditViewTool::CEditViewTool(CImageHost* host, QWidget* parent) : QDialog(parent, Qt::Tool), m_pHost(host) {
  setWindowTitle(tr("Draw"));
  setModal(false);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  auto* buttons = new QGridLayout();
  buttons->setSpacing(2);
  int index = 0;
  for (int id : kButtonIds) {
    auto* button = new QToolButton(this);
    button->setCheckable(true);
    button->setAutoRaise(false);
    button->setIcon(ToolIcon(id));
    button->setIconSize(QSize(24, 24));
    button->setToolTip(tr(ToolTip(id)));
    button->setFocusPolicy(Qt::NoFocus);
    m_Buttons[id] = button;
    buttons->addWidget(button, index / 4, index % 4);
    ++index;
    connect(button, &QToolButton::clicked, this, [this, id] {
      if (id == IDC_ERASEAREA) OnBnClickedEraseArea();
      else if (id == IDC_ERASEALL) OnBnClickedEraseAll();
      else OnToolButton(id);
    });
  }
  layout->addLayout(buttons);

  m_pEraseForm = new CSetEraseSize(this);
  m_pLineForm = new CSetLineKindDlg(this);
  if (!m_pEraseForm->CreateForm()) {
    TraceLog(TRC_PRE, "CEditViewTool::OnInitDialog", "The error occurred with the [CreateForm()[1]] function.");
    FotaviMessageBox(IDS_INTERNAL_ERROR);
  }
  if (!m_pLineForm->CreateForm()) {
    TraceLog(TRC_PRE, "CEditViewTool::OnInitDialog", "The error occurred with the [CreateForm()[2]] function.");
    FotaviMessageBox(IDS_INTERNAL_ERROR);
  }
  layout->addWidget(m_pLineForm);
  layout->addWidget(m_pEraseForm);
  ShowForm(m_pLineForm);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

CEditViewTool::~CEditViewTool() = default;

EDITTOOLSTATE CEditViewTool::GetState() const {
  EDITTOOLSTATE state;
  state.nLineWidth = Settings().nPenWidth;
  state.byLineType = Settings().bDotLine;
  state.nEraserSize = Settings().nEraserSize;
  return state;
}

CDrawSettings& CEditViewTool::WritableSettings() { return m_pHost ? m_pHost->WritableSettings() : m_NoHostSettings; }

void CEditViewTool::SetColor(COLORREF color) { WritableSettings().penColor = color; }

void CEditViewTool::SetLineWidth(int width) { WritableSettings().nPenWidth = width; }

void CEditViewTool::SetLineType(BYTE type) { WritableSettings().bDotLine = type; }

void CEditViewTool::SetEraserSize(int size) { WritableSettings().nEraserSize = size; }

QAbstractButton* CEditViewTool::GetButton(int id) const {
  const auto it = m_Buttons.find(id);
  return it == m_Buttons.end() ? nullptr : it->second;
}

void CEditViewTool::ShowForm(CEditFormDlg* form) {
  if (m_pCurrentForm && m_pCurrentForm != form) m_pCurrentForm->hide();
  m_pCurrentForm = form;
  if (form) form->show();
}

void CEditViewTool::CheckOnly(int id) {
  for (auto& [bid, button] : m_Buttons) button->setChecked(bid == id);
}

void CEditViewTool::UncheckAll() { CheckOnly(0); }

void CEditViewTool::OnToolButton(int id) {
  ShowForm(id == IDC_ERASER ? static_cast<CEditFormDlg*>(m_pEraseForm) : m_pLineForm);
  CheckOnly(id);
  if (m_pHost) m_pHost->SetCurrentTool(id);
}

void CEditViewTool::OnBnClickedEraseArea() {
  CheckOnly(m_pHost ? m_pHost->GetCurrentTool() : 0);
  if (m_pHost) m_pHost->EraseArea();
}

void CEditViewTool::OnBnClickedEraseAll() {
  CheckOnly(m_pHost ? m_pHost->GetCurrentTool() : 0);
  if (m_pHost) m_pHost->EraseAll();
}

void CEditViewTool::keyPressEvent(QKeyEvent* event) {
  // Enter and Esc neither close the palette nor press a button.
  if (IsEnterOrEscape(event)) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void CEditViewTool::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!m_bPlaced && parentWidget()) {
    // Inside the main window's work area (its document area, below the
    // menu and the toolbar), clear of the caption and its buttons: right
    // edge 10 pixels inside the area's right edge, top 30 pixels below the
    // area's top; on the screen.
    m_bPlaced = true;
    QWidget* main = parentWidget()->window();
    QRect area = main->geometry();
    if (auto* documents = main->findChild<QMdiArea*>())
      area = QRect(documents->mapToGlobal(QPoint(0, 0)), documents->size());
    // The frame round the palette. Before the window manager has framed it,
    // it is not known and a move places the palette itself: reckon with a
    // caption of the style's height above it, so that its own caption stays
    // below the document windows' caption row too.
    const bool framed = frameGeometry() != geometry();
    const int above = framed ? geometry().top() - frameGeometry().top()
                             : style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, this) + 4;
    const int outerWidth = framed ? frameGeometry().width() : width();
    const int outerHeight = (framed ? frameGeometry().height() : height() + above);
    QPoint frameAt(area.right() - 10 - outerWidth + 1, area.top() + 30);
    if (const QScreen* screen = main->screen()) {
      const QRect room = screen->availableGeometry();
      frameAt.setX(std::clamp(frameAt.x(), room.left(), std::max(room.left(), room.right() - outerWidth + 1)));
      frameAt.setY(std::clamp(frameAt.y(), room.top(), std::max(room.top(), room.bottom() - outerHeight + 1)));
    }
    move(framed ? frameAt : frameAt + QPoint(0, above));
  }
}

void CEditViewTool::OnClosing() {
  if (m_pHost) {
    const int tool = m_pHost->GetCurrentTool();
    if (tool != ID_TOOL_HAND && tool != ID_TOOL_SELECT) m_pHost->SetCurrentTool(ID_TOOL_HAND);
    if (HWND main = m_pHost->GetMainWnd()) PostMessage(main, WM_RESUME_LIVE, 0, 0);
  }
  UncheckAll();
}

void CEditViewTool::reject() {
  // Cancel and the close box end here; the palette is hidden, its settings kept.
  if (isVisible()) OnClosing();
  QDialog::reject();
}
