#include "TiryxDialog.h"

#include <QCloseEvent>
#include <QLinearGradient>
#include <QPainter>
#include <QTimerEvent>

#include "TiryxButton.h"

// Control ids, captions, client positions, values and key codes, in the
// panel's order.
const std::array<TIRYX_BUTTON_DEF, TIRYX_BUTTON_COUNT> g_TiryxButtons = {{
    {1006, "BTNPRESET", 25, 39, 55, 22, -1, 525},
    {1007, "BTNCALL", 96, 39, 55, 22, -1, 526},
    {1004, "BTN1", 28, 80, 34, 33, 1, 0},
    {1005, "BTN2", 74, 80, 34, 33, 2, 0},
    {1008, "BTN3", 120, 80, 34, 33, 3, 0},
    {1009, "BTN4", 28, 118, 34, 33, 4, 0},
    {1010, "BTN5", 74, 118, 34, 33, 5, 0},
    {1012, "BTN6", 120, 118, 34, 33, 6, 0},
    {1011, "BTN7", 28, 156, 34, 33, 7, 0},
    {1013, "BTN8", 74, 156, 34, 33, 8, 0},
    {1014, "BTNSLIDE", 180, 51, 34, 33, -1, 524},
    {1015, "BTNCAMERA", 180, 91, 34, 23, -1, 523},
    {1016, "BTNSD", 180, 123, 34, 23, -1, 522},
    {1017, "BTNMEGANE", 180, 169, 34, 23, -1, 521},
    {1018, "BTNINPUT", 180, 231, 34, 23, -1, 519},
    {1019, "BTNEDGE", 180, 262, 34, 32, -1, 520},
    {1020, "BTNTEXT", 180, 301, 34, 23, -1, 517},
    {1021, "BTNMENU", 120, 222, 34, 23, 109, 250},
    {1022, "BTNUP", 76, 226, 30, 26, 107, 250},
    {1023, "BTNLEFT", 41, 259, 30, 26, 104, 250},
    {1024, "BTNENTER", 76, 259, 30, 26, 13, 250},
    {1025, "BTNRIGHT", 112, 259, 30, 26, 108, 250},
    {1026, "BTNDOWN", 76, 292, 30, 26, 106, 250},
    {1027, "BTNPOSI", 13, 340, 46, 29, -1, 513},
    {1028, "BTNCOLOR", 69, 340, 46, 29, -1, 514},
    {1029, "BTNIMAGE", 125, 340, 46, 29, -1, 515},
    {1030, "BTNPAUSE", 181, 340, 46, 29, -1, 516},
    {1031, "BTNNORMAL", 80, 381, 34, 33, 5, 226},
    {1032, "BTNOPEN", 131, 381, 34, 33, 2, 226},
    {1033, "BTNCLOSE", 182, 381, 34, 33, 3, 226},
    {1034, "BTNNEAR", 80, 419, 34, 33, 1, 234},
    {1035, "BTNFAR", 131, 419, 34, 33, 2, 234},
    {1036, "BTNAF", 182, 419, 34, 33, 0, 225},
    {1037, "BTNTELE", 80, 457, 34, 33, 1, 224},
    {1038, "BTNWIDE", 131, 457, 34, 33, 2, 224},
    {1039, "BTNLAMP", 182, 457, 34, 33, -1, 518},
}};

CTiryxDialog::CTiryxDialog(CDeviceInterface* device, QWidget* parent) : QDialog(parent), m_pDevice(device) {}

CTiryxDialog::~CTiryxDialog() {
  if (m_nTimerId) killTimer(m_nTimerId);
}

BOOL CTiryxDialog::Create(HWND owner) {
  m_hOwner = owner;
  setWindowTitle("Remote Control");
  setModal(false);
  setFixedSize(TIRYX_CLIENT_WIDTH, TIRYX_CLIENT_HEIGHT);
  for (size_t i = 0; i < g_TiryxButtons.size(); ++i) {
    const TIRYX_BUTTON_DEF& def = g_TiryxButtons[i];
    if (!m_Buttons[i]) m_Buttons[i] = new CTiryxButton(def.caption, this);
    m_Buttons[i]->SetButton(this, m_pDevice, def.x, def.y, def.width, def.height, def.parameter, def.command);
  }
  hide();
  return TRUE;
}

WORD CTiryxDialog::GetPendingCommand() const { return m_bArmed ? m_wPendingCommand : 0; }

void CTiryxDialog::SetPendingCommand(WORD command, BOOL arm) {
  m_wPendingCommand = command;
  m_bArmed = arm;
  if (arm) {
    if (m_nTimerId == 0) m_nTimerId = startTimer(TIRYX_ARM_TIMEOUT_MS);
  } else if (m_nTimerId != 0) {
    killTimer(m_nTimerId);
    m_nTimerId = 0;
  }
}

void CTiryxDialog::timerEvent(QTimerEvent* event) {
  if (event->timerId() != m_nTimerId || m_nTimerId == 0) {
    QDialog::timerEvent(event);
    return;
  }
  // Arming ran out: the next PRESET or CALL starts a new timer.
  killTimer(m_nTimerId);
  m_nTimerId = 0;
  m_bArmed = FALSE;
  m_wPendingCommand = 0;
}

void CTiryxDialog::SetTopMost(BOOL topMost) {
  const bool visible = isVisible();
  setWindowFlag(Qt::WindowStaysOnTopHint, topMost != FALSE);
  setWindowFlag(Qt::WindowDoesNotAcceptFocus, false);
  if (visible) {
    setAttribute(Qt::WA_ShowWithoutActivating, true);
    show();
    setAttribute(Qt::WA_ShowWithoutActivating, false);
  }
}

void CTiryxDialog::setVisible(bool visible) {
  if (visible && (!m_pDevice || !m_pDevice->bIsConnected())) return;
  QDialog::setVisible(visible);
}

CTiryxButton* CTiryxDialog::Button(int index) const {
  if (index < 0 || index >= TIRYX_BUTTON_COUNT) return nullptr;
  return m_Buttons[static_cast<size_t>(index)];
}

CTiryxButton* CTiryxDialog::ButtonByCaption(const QString& caption) const {
  for (CTiryxButton* button : m_Buttons) {
    if (button && button->GetCaption() == caption) return button;
  }
  return nullptr;
}

void CTiryxDialog::HideAndNotify() {
  hide();
  if (m_hOwner) PostMessage(m_hOwner, WM_REMOTECTRL_CLOSED, 0, 0);
}

void CTiryxDialog::closeEvent(QCloseEvent* event) {
  // The panel is only hidden; its keys keep their state until it is shown again.
  event->ignore();
  HideAndNotify();
}

void CTiryxDialog::reject() { HideAndNotify(); }

void CTiryxDialog::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient body(0, 0, 0, height());
  body.setColorAt(0, QColor(58, 62, 70));
  body.setColorAt(1, QColor(32, 34, 40));
  p.fillRect(rect(), body);
  // Groups of keys on lighter plates.
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(255, 255, 255, 22));
  p.drawRoundedRect(QRectF(16, 30, 150, 168), 10, 10);   // PRESET, CALL and numbers
  p.drawRoundedRect(QRectF(172, 44, 50, 286), 10, 10);   // source keys
  p.drawRoundedRect(QRectF(32, 214, 128, 112), 10, 10);  // menu and cursor
  p.drawRoundedRect(QRectF(6, 334, 228, 40), 8, 8);      // picture keys
  p.drawRoundedRect(QRectF(72, 376, 152, 120), 10, 10);  // iris, focus, zoom
  QFont font = p.font();
  font.setPixelSize(9);
  font.setBold(true);
  p.setFont(font);
  p.setPen(QColor(200, 204, 212));
  p.drawText(QRectF(10, 388, 64, 16), Qt::AlignRight | Qt::AlignVCenter, "IRIS");
  p.drawText(QRectF(10, 426, 64, 16), Qt::AlignRight | Qt::AlignVCenter, "FOCUS");
  p.drawText(QRectF(10, 464, 64, 16), Qt::AlignRight | Qt::AlignVCenter, "ZOOM");
}
