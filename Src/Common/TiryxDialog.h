// The "Remote Control" panel: a modeless window of 36 keys that imitates the
// camera's own remote control. Zoom, focus and iris keys act from press to
// release; PRESET and CALL arm the panel for 4 seconds, and a number key
// pressed meanwhile sends the armed key with its number.
#pragma once

#include <QDialog>

#include <array>

#include "Driver/FotaviZ5.dll/FotaviZ5.h"
#include "Platform/Messages.h"

class CTiryxButton;

constexpr UINT WM_REMOTECTRL_CLOSED = WM_USER + 155;  // 0x49B, to the owner when the panel is closed

// Key codes of the panel.
constexpr WORD TIRYX_CMD_ZOOM = 0xE0;    // 224
constexpr WORD TIRYX_CMD_AF = 0xE1;      // 225
constexpr WORD TIRYX_CMD_IRIS = 0xE2;    // 226
constexpr WORD TIRYX_CMD_FOCUS = 0xEA;   // 234
constexpr WORD TIRYX_CMD_CURSOR = 0xFA;  // 250
constexpr WORD TIRYX_CMD_PRESET = 525;
constexpr WORD TIRYX_CMD_CALL = 526;

constexpr int TIRYX_CLIENT_WIDTH = 240;
constexpr int TIRYX_CLIENT_HEIGHT = 527;
constexpr int TIRYX_ARM_TIMEOUT_MS = 4000;
constexpr int TIRYX_BUTTON_COUNT = 36;

struct TIRYX_BUTTON_DEF {
  int controlId;
  const char* caption;
  int x, y, width, height;
  LONG parameter;  // -1: none
  WORD command;    // 0: number key
};
extern const std::array<TIRYX_BUTTON_DEF, TIRYX_BUTTON_COUNT> g_TiryxButtons;

class CTiryxDialog : public QDialog {
  Q_OBJECT

 public:
  explicit CTiryxDialog(CDeviceInterface* device, QWidget* parent = nullptr);
  ~CTiryxDialog() override;

  // Builds the panel hidden; `owner` receives WM_REMOTECTRL_CLOSED.
  BOOL Create(HWND owner);

  // The armed key code while armed, else 0.
  WORD GetPendingCommand() const;
  // Arming starts the 4-second timer unless it already runs; disarming stops it.
  void SetPendingCommand(WORD command, BOOL arm);
  bool IsArmTimerRunning() const { return m_nTimerId != 0; }
  int ArmTimerId() const { return m_nTimerId; }

  void SetTopMost(BOOL topMost);

  // The panel shows only while the device reports the camera connected; a
  // show without a camera leaves it hidden.
  void setVisible(bool visible) override;

  CTiryxButton* Button(int index) const;
  CTiryxButton* ButtonByCaption(const QString& caption) const;
  HWND GetOwnerWindow() const { return m_hOwner; }

 public slots:
  void reject() override;  // Escape: the same as closing

 protected:
  void closeEvent(QCloseEvent* event) override;
  void timerEvent(QTimerEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  void HideAndNotify();

  HWND m_hOwner = nullptr;
  CDeviceInterface* m_pDevice;
  BOOL m_bArmed = FALSE;
  WORD m_wPendingCommand = 0;
  int m_nTimerId = 0;
  std::array<CTiryxButton*, TIRYX_BUTTON_COUNT> m_Buttons{};
};
