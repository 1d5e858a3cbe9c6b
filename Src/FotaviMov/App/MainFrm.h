// The main window of the movie program: menus, tool bar, status bar, the
// playback slider bar and the remote-control panel around the one view. It
// opens the camera when it is made and closes it when it goes, follows the
// camera's arrival and removal, turns commands into calls on the document
// and the view, keeps the commands enabled or greyed by the rules of
// MovFrameRules.h, and sizes itself around the picture.
#pragma once

#include <QIcon>
#include <QMainWindow>

#include <map>
#include <memory>
#include <string>

#include "FotaviMovDoc.h"
#include "MovApp.h"
#include "MovFrameRules.h"
#include "MovView.h"

class QAction;
class QLabel;
class QTimer;
class QToolBar;
class CSliderDialogBar;
class CTiryxDialog;

class CMainFrame : public QMainWindow, public IMovMainFrame, public IMovFrameHost {
 public:
  CMainFrame(CFotaviMovApp* app, std::unique_ptr<CFotaviMovDoc> doc);
  ~CMainFrame() override;

  void ShowFrame() override { show(); }

  // Commands.
  void OnMovieOpen();
  void OpenMovie(const std::string& path);  // OnMovieOpen after the file box
  void OnMovieClose();
  void OnMoviePlay();
  void OnMoviePause();
  void OnMovieStop() override;
  void OnSemiAnimation();
  void OnSemiAnimationStop();
  void OnRecord();
  void OnSetting();
  void OnRemoteControl();
  void SetViewSize(UINT id);
  void OnAlwaysOnTop();

  // IMovFrameHost
  void SetFixedFrame(bool fixed) override;
  int GetBarsHeight() const override;
  void KeepInWorkArea() override;
  void ResetToolButtons() override;
  void SelectToolButton(UINT id) override;
  UINT GetViewSizeId() const override { return m_nViewSizeId; }
  QWidget* FrameWidget() override { return this; }

  // State, for the enabling of the commands and for tests.
  MOVFRAMESTATE CommandState() const;
  bool IsCommandEnabled(UINT id) const;
  bool IsToolButtonPressed(UINT id) const;
  void UpdateCommands();
  BOOL IsDeviceOpen() const { return m_bDeviceOpen; }
  BOOL IsRecordAllowed() const { return m_bRecordAllowed; }
  std::string GetStatusText() const { return m_strStatus; }
  std::string GetPaneText() const;
  HWND GetSafeHwnd() const { return m_hWnd; }
  CFotaviMovDoc* GetDocument() const { return m_pDoc.get(); }
  CFotaviMovView* GetView() const { return m_pView; }
  CSliderDialogBar* GetSlider() const { return m_pSlider; }
  CTiryxDialog* GetRemoteControl() const { return m_pRemote.get(); }
  QAction* Action(UINT id) const;

 private:
  LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam);
  int OpenDevice();
  void SetDeviceMenuState(BOOL on);
  void OnDeviceNotify(WPARAM state);
  void OnControlDialogEnd();
  BOOL InitRemoteCtrl();
  void ShowRemoteControl(bool show);
  void RunMeasurement(CFRMDlg* dialog);
  // The folder Movie > Open starts in.
  std::string MovieFolder() const;
  void BuildMenusAndBars();
  // The frame and its central area at least as wide as the whole menu bar.
  void KeepMenuBarWhole();
  QAction* AddCommand(QMenu* menu, UINT id, const QString& text);
  void moveEvent(QMoveEvent* event) override;

  CFotaviMovApp* m_pApp;
  std::unique_ptr<CFotaviMovDoc> m_pDoc;
  HWND m_hWnd = nullptr;
  BOOL m_bMovieOpened = FALSE;
  UINT m_nViewSizeId = ID_MOV_VIEW_SIZE_100;
  BOOL m_bRecordAllowed = FALSE;
  bool m_bRecordAfterEnd = false;  // a Record waits for the last recording's end
  BOOL m_bAlwaysOnTop = FALSE;
  BOOL m_bDeviceOpen = FALSE;
  std::string m_strStatus;
  QLabel* m_pPane = nullptr;
  QToolBar* m_pToolBar = nullptr;
  CSliderDialogBar* m_pSlider = nullptr;
  std::unique_ptr<CTiryxDialog> m_pRemote;
  CFotaviMovView* m_pView = nullptr;
  QTimer* m_pIdle = nullptr;
  std::map<UINT, QAction*> m_Actions;
};

// The movie program's icon.
QIcon MovProgramIcon();
// The About box of the movie program.
void ShowMovAbout(QWidget* parent);
// The main window factory of the program: the document, then the window.
std::unique_ptr<IMovMainFrame> CreateMovMainFrame(CFotaviMovApp* app);
