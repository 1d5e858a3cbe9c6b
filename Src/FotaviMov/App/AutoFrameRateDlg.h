// The frame-rate measurement: records ten seconds as fast as frames are
// written into "measurement.avi" in a folder of its own (the view's
// CMeasurementFiles), counts the frames written and the live pictures
// received, and hands the rate both allow to the settings dialog. The output size is set for the test and
// restored on every way out of the dialog.
#pragma once

#include <QDialog>
#include <QTimer>

#include <string>

#include "Platform/Messages.h"

class CFotaviMovDoc;
class CFotaviMovView;
class CFRMDlg;
class QProgressBar;

class CAutoFrameRateDlg : public QDialog {
 public:
  CAutoFrameRateDlg(CFotaviMovView* view, CFotaviMovDoc* doc, QWidget* parent = nullptr);
  ~CAutoFrameRateDlg() override;

  void SetParentDlg(CFRMDlg* dialog) { m_pParentDlg = dialog; }
  void SetMeasureSize(int width, int height) {
    m_nWidth = width;
    m_nHeight = height;
  }
  void SetProfileName(const std::string& path) {
    m_strProfile = path;
    m_nFileType = 1;
  }
  void SetVideoQuality(DWORD quality) { m_dwQuality = quality; }

  // Runs the dialog; the rate handed to the settings dialog, 0 when none.
  int DoModal();
  // Cancel (also from the settings dialog closing while the test runs).
  void OnCancel();
  bool IsRunning() const { return m_bRunning; }
  HWND GetSafeHwnd() const { return m_hWnd; }
  DWORD GetResultRate() const { return m_dwResult; }

 protected:
  void reject() override { OnCancel(); }
  void closeEvent(QCloseEvent* event) override;

 private:
  BOOL StartMeasurement();
  void StopWithResult();
  void OnResult(WPARAM record);
  void RestoreSize();
  void Finish(int result);
  LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam);

  CFotaviMovView* m_pView;
  CFotaviMovDoc* m_pDoc;
  CFRMDlg* m_pParentDlg = nullptr;
  QProgressBar* m_pProgress = nullptr;
  QTimer m_Tick;     // timer 1: the progress, ends a test whose result never came
  QTimer m_Finish;   // timer 2: the end of the ten seconds
  HWND m_hWnd = nullptr;
  int m_nWidth = 0, m_nHeight = 0;
  int m_nFileType = 0;
  std::string m_strProfile;
  DWORD m_dwQuality = 0;
  int m_nPosition = 0;
  bool m_bRunning = false;
  bool m_bCancelled = false;
  bool m_bRestore = false;
  bool m_bDone = false;
  DWORD m_dwResult = 0;
};
