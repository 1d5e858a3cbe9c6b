// The movie program's main window as it stands today: it opens the camera,
// follows its arrival and removal, shows the live picture of the
// live-picture thread at the recording's output size and runs the
// recording settings dialog. A stand-in until the full main frame with its
// view, recording and playback replaces it; it keeps to the same rules
// (device handling, live start and stop, the dialog closed on removal once
// no message box is open).
#pragma once

#include <QMainWindow>
#include <QWidget>

#include <memory>
#include <string>

#include "FotaviMovDoc.h"
#include "MovApp.h"
#include "Platform/Messages.h"
#include "Platform/Sync.h"
#include "SemiAnimationThread.h"

class QAction;
class CFotaviMovApp;

// Paints the live thread's held picture on black.
class CLivePictureWidget : public QWidget {
 public:
  explicit CLivePictureWidget(QWidget* parent = nullptr);
  void SetThread(CSemiAnimationThread* thread) { m_pThread = thread; }
  unsigned long long PaintedFrames() const { return m_nPainted; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  CSemiAnimationThread* m_pThread = nullptr;
  unsigned long long m_nPainted = 0;
};

class CLiveMainWnd : public QMainWindow, public IMovMainFrame {
 public:
  CLiveMainWnd(CFotaviMovApp* app, std::unique_ptr<CFotaviMovDoc> doc);
  ~CLiveMainWnd() override;

  void ShowFrame() override { show(); }

  BOOL StartSemiAnimation();
  void StopSemiAnimation();
  void OnSetting();
  BOOL IsSemiAnimation() const { return m_pLive != nullptr; }
  BOOL IsDeviceOpen() const { return m_bDeviceOpen; }
  HWND GetSafeHwnd() const { return m_hWnd; }
  std::string GetStatusText() const { return m_strStatus; }
  CFotaviMovDoc* GetDocument() const { return m_pDoc.get(); }
  CSemiAnimationThread* GetLiveThread() const { return m_pLive.get(); }
  CLivePictureWidget* GetPictureWidget() const { return m_pPicture; }
  bool IsCommandEnabled(UINT id) const;

 private:
  LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam);
  int OpenDevice();
  void SetDeviceMenuState(BOOL on);
  void OnDeviceNotify(WPARAM state);
  void OnControlDialogEnd();
  void OnSemiAnimationError(WPARAM code);
  void UpdateCommands();
  void SetLiveSize();

  CFotaviMovApp* m_pApp;
  std::unique_ptr<CFotaviMovDoc> m_pDoc;
  HWND m_hWnd = nullptr;
  BOOL m_bDeviceOpen = FALSE;
  std::string m_strStatus;
  std::unique_ptr<CEvent> m_pWaitEvent;  // "SemiAnimationWaitEvent"
  std::unique_ptr<CSemiAnimationThread> m_pLive;
  CLivePictureWidget* m_pPicture = nullptr;
  QAction* m_pStart = nullptr;
  QAction* m_pStop = nullptr;
  QAction* m_pSetting = nullptr;
};

// The About box of the movie program.
void ShowMovAbout(QWidget* parent);
// The main window factory of the program: the document, then the window.
std::unique_ptr<IMovMainFrame> CreateMovMainFrame(CFotaviMovApp* app);
