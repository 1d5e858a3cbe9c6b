// One key of the remote-control panel. A press or release sends the
// camera's key code to the device (see CTiryxDialog for which key sends
// what). Replies come back to the button's own message target and are
// handed back to the device library at once.
#pragma once

#include <QAbstractButton>

#include "Driver/FotaviZ5.dll/FotaviZ5.h"
#include "Platform/Messages.h"

class CTiryxDialog;

class CTiryxButton : public QAbstractButton {
  Q_OBJECT

 public:
  CTiryxButton(const QString& caption, QWidget* parent = nullptr);
  ~CTiryxButton() override;

  // Places the button (client pixels) and stores its panel, device, value and key code.
  void SetButton(CTiryxDialog* panel, CDeviceInterface* device, int x, int y, int width, int height,
                 LONG parameter, WORD command);

  // Sends the key code with `value` (only when the button has a parameter)
  // to the device; the reply comes to this button's target. Result ignored.
  void SendRequest(DWORD value, WORD command);

  // Completion of a request: frees the reply's data block and hands the
  // record back to the library's thread. A completion without a record is
  // ignored.
  static LRESULT OnRequestComp(WPARAM wParam, LPARAM lParam);

  LONG GetParameter() const { return m_nParameter; }
  WORD GetCommand() const { return m_wCommand; }
  HWND GetReplyWindow() const { return m_hReplyWnd; }
  QString GetCaption() const { return m_strCaption; }
  // The text the key shows (its caption without "BTN"; empty for the four
  // arrow keys, which show an arrow), where it goes, and the font that makes
  // it fit there whole: the widget's bold font, made smaller as needed.
  QString Label() const;
  QRectF LabelRect() const;
  QFont LabelFont() const;

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  void OnPress();
  void OnRelease();

  CDeviceInterface* m_pDevice = nullptr;
  LONG m_nParameter = -1;
  WORD m_wCommand = 0;
  CTiryxDialog* m_pPanel = nullptr;
  HWND m_hReplyWnd = nullptr;
  QString m_strCaption;
};
