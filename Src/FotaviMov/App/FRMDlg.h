// The modal "Recording settings" dialog: output file, compression (AVI or
// WMV), output size, frame rate, WMV quality, AVI split size and a time or
// capacity limit. It validates its fields, converts a time limit into a
// capacity limit and back for AVI while the user types, shows the free space
// of the output file's file system and, on OK, writes every setting to
// "RecSection". The document owns one dialog for its whole life and fills
// its members before each showing (FotaviMovDoc.h); the rules themselves
// are in FRMLogic.h.
#pragma once

#include <QDialog>

#include <functional>
#include <map>
#include <string>

#include "Platform/UiService.h"
#include "FRMLogic.h"
#include "Platform/Messages.h"
#include "RecSettings.h"

class QButtonGroup;
class QLineEdit;
class QPushButton;
class QRadioButton;

class CFRMDlg : public QDialog {
  Q_OBJECT
 public:
  explicit CFRMDlg(QWidget* parent = nullptr);
  ~CFRMDlg() override;

  // Runs the dialog modally; IDOK or IDCANCEL.
  int DoModal();
  // The dialog's platform window while it is shown (the main frame posts
  // WM_CLOSE to it when the camera goes away), NULL otherwise.
  HWND GetSafeHwnd() const { return m_hWnd; }

  // Stores a frame rate for the current compression and output size and
  // shows it (the frame-rate measurement hands its result here).
  void SetFrameRate(const std::string& text);
  // Output size from the size radios and the camera size, and the profile
  // path of that size; FALSE when there is no profile for it.
  BOOL GetRecSize();
  // The "Maximum value" button runs this (the frame-rate measurement); the
  // button is disabled while none is set.
  void SetMeasureHandler(std::function<void(CFRMDlg*)> handler);
  // Called first when the dialog is closed (WM_CLOSE) while a measurement
  // runs, so that the measurement is cancelled before the dialog goes.
  void SetMeasureCancel(std::function<void()> cancel) { m_MeasureCancel = std::move(cancel); }

  // The control with a resource id (tests and the measurement).
  QWidget* Control(int id) const;
  // The last validation's message.
  const std::string& GetErrorText() const { return m_strError; }

  // ---- members, filled by the document before showing, read after OK
  std::string m_strOutputFileName = "output.avi";
  std::string m_strFrameRate = "1";
  DWORD m_dwCurrentRate = 1;
  DWORD m_dwAviRate[VIDEOSIZE_COUNT] = {1, 1, 1};  // by output size: 25 %, 50 %, 100 %
  DWORD m_dwWmvRate[VIDEOSIZE_COUNT] = {1, 1, 1};
  std::string m_strMinutes, m_strSeconds, m_strCapacity;
  DWORD m_dwMinutes = 0, m_dwSeconds = 0, m_dwCapacity = 0;
  std::string m_strSplit = "1024";
  std::string m_strSplitSaved;  // the last non-empty split text
  DWORD m_dwSplitBytes = 0;
  std::string m_strFreeSpace;
  DWORD m_dwCompress = COMPRESS_AVI;
  DWORD m_dwVideoSize = VIDEOSIZE_50;
  DWORD m_dwLimit = RECCOND_NONE;
  int m_nOutputWidth = 0, m_nOutputHeight = 0;
  int m_nCameraWidth = MOV_CAMERA_WIDTH, m_nCameraHeight = MOV_CAMERA_HEIGHT;
  std::string m_strQuality;
  DWORD m_dwCurrentQuality = 100;
  DWORD m_dwWmvQuality[VIDEOSIZE_COUNT] = {100, 100, 100};
  std::string m_strProfile;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildControls();
  void OnInitDialog();
  void OnBnClickedOk();
  void OnBnClickedButtonBrowse();
  // The answer of the output file box.
  void OnBrowseAnswer(const FileChooserResult& result);
  void OnBnClickedButtonAuto();
  void OnCompressionChanged();
  void OnSizeChanged();
  void OnLimitChanged();
  void OnRateChanged();
  void OnTimeChanged();
  void OnCapacityChanged();
  void OnSplitChanged();
  void ShowRateAndQuality();
  void EnableRecLimitItems();
  void EnableCompressionItems();
  void ConvertTimeToCapacity();
  void ConvertCapacityToTime();
  void FixOutputExtension();
  void SetEmptyCapacity();
  BOOL WriteSettings();
  FRMFIELDS ReadFields() const;
  void SetText(int id, const std::string& text);
  std::string Text(int id) const;
  void SetChecked(QButtonGroup* group, DWORD value);
  void FocusField(int id);
  LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam);

  std::map<int, QWidget*> m_Controls;
  QButtonGroup* m_pCompression = nullptr;
  QButtonGroup* m_pSize = nullptr;
  QButtonGroup* m_pLimit = nullptr;
  std::function<void(CFRMDlg*)> m_MeasureHandler;
  std::function<void()> m_MeasureCancel;
  bool m_bMeasuring = false;
  std::string m_strError;
  HWND m_hWnd = nullptr;
  // Set while the dialog writes its own fields: their change notices are
  // not acted on, so a computed value never starts the opposite conversion.
  bool m_bUpdating = false;
};
