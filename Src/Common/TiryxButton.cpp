#include "TiryxButton.h"

#include <QMouseEvent>
#include <QPainter>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QPainterPath>

#include "Platform/GlobalMemory.h"
#include "TiryxDialog.h"

CTiryxButton::CTiryxButton(const QString& caption, QWidget* parent) : QAbstractButton(parent), m_strCaption(caption) {
  setObjectName(caption);
  setFocusPolicy(Qt::NoFocus);
  m_hReplyWnd = CreateWindowTarget(
      [](HWND, UINT msg, WPARAM wParam, LPARAM lParam) -> LRESULT {
        if (msg == WM_FOTAVI_REQUEST) return OnRequestComp(wParam, lParam);
        return 0;
      },
      "TiryxButton " + caption.toStdString());
}

CTiryxButton::~CTiryxButton() {
  if (m_hReplyWnd) DestroyWindow(m_hReplyWnd);
}

void CTiryxButton::SetButton(CTiryxDialog* panel, CDeviceInterface* device, int x, int y, int width, int height,
                             LONG parameter, WORD command) {
  setGeometry(x, y, width, height);
  update();
  m_pPanel = panel;
  m_pDevice = device;
  m_nParameter = parameter;
  m_wCommand = command;
}

void CTiryxButton::SendRequest(DWORD value, WORD command) {
  if (!m_pDevice) return;
  const DEVICE_CMD cmd = FotaviMakeCommand(command, m_nParameter != -1 ? value : 0);
  WORD sequence = 0;
  DWORD error = 0;
  // A key that cannot be sent gives no feedback: the user presses it again.
  m_pDevice->bRequestAsync(m_hReplyWnd, &cmd, &sequence, &error);
}

LRESULT CTiryxButton::OnRequestComp(WPARAM wParam, LPARAM lParam) {
  auto* reply = reinterpret_cast<DEVICE_RSP*>(lParam);
  if (!reply) return 0;  // the library could not make a record: nothing to hand back
  if (reply->pData) {
    GlobalFree(static_cast<HGLOBAL>(reply->pData));
    reply->pData = nullptr;
  }
  PostThreadMessage(static_cast<DWORD>(wParam), WM_FOTAVI_RELASERSP, 0, lParam);
  return 0;
}

void CTiryxButton::OnPress() {
  if (m_wCommand == TIRYX_CMD_ZOOM || m_wCommand == TIRYX_CMD_IRIS || m_wCommand == TIRYX_CMD_FOCUS) {
    if (m_pPanel && m_pPanel->GetPendingCommand() != 0) m_pPanel->SetPendingCommand(0, FALSE);
    SendRequest(static_cast<DWORD>(m_nParameter), m_wCommand);
  }
}

void CTiryxButton::OnRelease() {
  switch (m_wCommand) {
    case 0: {  // number key: sends the armed key with its number
      const WORD pending = m_pPanel ? m_pPanel->GetPendingCommand() : 0;
      if (pending != 0) {
        SendRequest(static_cast<DWORD>(m_nParameter), pending);
        m_pPanel->SetPendingCommand(0, FALSE);
      }
      break;
    }
    case TIRYX_CMD_ZOOM:
    case TIRYX_CMD_FOCUS:
      SendRequest(0, m_wCommand);  // stop
      break;
    case TIRYX_CMD_IRIS:
      if (m_nParameter != 5) SendRequest(4, TIRYX_CMD_IRIS);  // NORMAL sends nothing on release
      break;
    case TIRYX_CMD_PRESET:
    case TIRYX_CMD_CALL:
      if (m_pPanel) m_pPanel->SetPendingCommand(m_wCommand, TRUE);
      break;
    default:
      if (m_pPanel && m_pPanel->GetPendingCommand() != 0) m_pPanel->SetPendingCommand(0, FALSE);
      SendRequest(static_cast<DWORD>(m_nParameter), m_wCommand);
      break;
  }
}

void CTiryxButton::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) OnPress();
  QAbstractButton::mousePressEvent(event);
}

void CTiryxButton::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) OnRelease();
  QAbstractButton::mouseReleaseEvent(event);
}

void CTiryxButton::mouseDoubleClickEvent(QMouseEvent* event) {
  // A second click acts as a second press.
  mousePressEvent(event);
}

namespace {
bool IsArrow(const QString& label) {
  return label == "UP" || label == "DOWN" || label == "LEFT" || label == "RIGHT";
}
constexpr int kMinLabelPixels = 6;
}  // namespace

QString CTiryxButton::Label() const {
  QString label = m_strCaption;
  if (label.startsWith("BTN")) label = label.mid(3);
  return IsArrow(label) ? QString() : label;
}

QRectF CTiryxButton::LabelRect() const { return QRectF(rect()).adjusted(2, 2, -2, -2); }

QFont CTiryxButton::LabelFont() const {
  QFont f = font();
  f.setBold(true);
  const QString label = Label();
  const QRectF box = LabelRect();
  auto fits = [&] {
    const QFontMetricsF fm(f);
    return fm.horizontalAdvance(label) <= box.width() && fm.height() <= box.height();
  };
  // Number keys read large; the others start at the widget's own size and
  // shrink, with the letters a little closer before the size goes down.
  const int base = QFontInfo(f).pixelSize();
  for (int px = m_wCommand == 0 ? std::max(14, base * 7 / 5) : base; px >= kMinLabelPixels; --px) {
    f.setPixelSize(px);
    for (qreal spacing : {100.0, 90.0}) {
      f.setLetterSpacing(QFont::PercentageSpacing, spacing);
      if (fits()) return f;
    }
  }
  return f;
}

void CTiryxButton::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF r = QRectF(rect()).adjusted(1, 1, -1, -1);
  const bool down = isDown();
  const bool number = m_wCommand == 0;
  QColor face = number ? QColor(70, 78, 92) : QColor(214, 218, 224);
  if (m_wCommand == TIRYX_CMD_PRESET || m_wCommand == TIRYX_CMD_CALL) face = QColor(232, 150, 60);
  if (down) face = face.darker(135);
  QPainterPath path;
  const qreal radius = number ? std::min(r.width(), r.height()) / 2 : 5;
  path.addRoundedRect(r, radius, radius);
  p.fillPath(path, face);
  p.setPen(QPen(QColor(30, 30, 36), 1));
  p.drawPath(path);

  const QColor ink = number ? QColor(240, 240, 240) : QColor(25, 25, 30);
  const QString label = Label();
  const QPointF shift = down ? QPointF(1, 1) : QPointF(0, 0);
  if (label.isEmpty()) {
    QString arrowName = m_strCaption.mid(3);
    const QPointF c = r.center() + shift;
    const qreal s = std::min(r.width(), r.height()) * 0.28;
    QPolygonF arrow;
    if (arrowName == "UP") arrow << c + QPointF(0, -s) << c + QPointF(s, s * 0.7) << c + QPointF(-s, s * 0.7);
    if (arrowName == "DOWN") arrow << c + QPointF(0, s) << c + QPointF(s, -s * 0.7) << c + QPointF(-s, -s * 0.7);
    if (arrowName == "LEFT") arrow << c + QPointF(-s, 0) << c + QPointF(s * 0.7, s) << c + QPointF(s * 0.7, -s);
    if (arrowName == "RIGHT") arrow << c + QPointF(s, 0) << c + QPointF(-s * 0.7, s) << c + QPointF(-s * 0.7, -s);
    p.setBrush(ink);
    p.setPen(Qt::NoPen);
    p.drawPolygon(arrow);
    return;
  }
  p.setFont(LabelFont());
  p.setPen(ink);
  p.drawText(LabelRect().translated(shift), Qt::AlignCenter, label);
}
