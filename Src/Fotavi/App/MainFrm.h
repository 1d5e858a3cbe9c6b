// The main frame: MDI area, menu, toolbar and one-pane status bar; the
// device library's notification window; the live monitor's state; the
// drawing settings that the still-image views read; the tool windows.
//
// Its code is split by job: MainFrm.cpp (creation, platform messages,
// placement, closing), MainFrmBars.cpp (menus and toolbar),
// MainFrmCommands.cpp (routing and update rules), MainFrmDevice.cpp (camera,
// still capture), MainFrmDocuments.cpp (opening documents), MainFrmLive.cpp
// (live monitor, hold and resume), MainFrmTools.cpp (tool windows).
#pragma once

#include <QMainWindow>
#include <QPointer>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "App/ChildFrm.h"
#include "App/DrawSettings.h"
#include "App/Resource.h"
#include "App/ToolWindow.h"
#include "Platform/Messages.h"
#include "Platform/Types.h"
#include "App/ViewData.h"

class CAnimeFrame;
class CFotaviApp;
class CImageHost;
class CDeviceInterface;
class QAction;
class QLabel;
class QMdiArea;
class QMdiSubWindow;
class QMenu;
class QToolBar;


class CMainFrame : public QMainWindow {
  Q_OBJECT
 public:
  explicit CMainFrame(CFotaviApp* app);
  ~CMainFrame() override;

  // The creation road: bars, notification window, device open. FALSE when
  // the frame cannot be made.
  BOOL LoadFrame();
  HWND GetSafeHwnd() const { return m_hWnd; }
  QMdiArea* GetMdiArea() const { return m_pMdiArea; }
  CDeviceInterface* GetDevice() const;
  CFotaviApp* GetApp() const { return m_pApp; }

  // ---- drawing settings (their one home; the palette and the still-image
  // views reach them through CImageHost)
  CDrawSettings& GetDrawSettings() { return m_DrawSettings; }
  int GetCurrentTool() const { return m_DrawSettings.nCurrentTool; }
  void SetCurrentTool(int tool);  // also checks the hand / selection buttons
  int GetPenWidth() const { return m_DrawSettings.nPenWidth; }
  void SetPenWidth(int width) { m_DrawSettings.nPenWidth = width; }
  BYTE GetDotLine() const { return m_DrawSettings.bDotLine; }
  void SetDotLine(BYTE dotted) { m_DrawSettings.bDotLine = dotted; }
  COLORREF GetPenColor() const { return m_DrawSettings.penColor; }
  void SetPenColor(COLORREF color) { m_DrawSettings.penColor = color; }
  int GetEraserSize() const { return m_DrawSettings.nEraserSize; }
  void SetEraserSize(int size) { m_DrawSettings.nEraserSize = size; }
  // The still-image windows' view of this frame (made by the Image area on
  // first use, owned here).
  CImageHost* GetImageHost() const { return m_pImageHost.get(); }
  void SetImageHost(std::unique_ptr<CImageHost> host);

  // ---- live monitor state
  QSize GetLiveSize() const { return m_LiveSize; }
  void SetLiveSize(int width, int height) { m_LiveSize = QSize(width, height); }
  int GetLiveSizeStep() const { return m_nLiveSizeStep; }
  void SetLiveSizeStep(int step) { m_nLiveSizeStep = step; }
  CAnimeFrame* GetLiveFrame() const { return m_pLiveFrame; }
  // Forgets the live frame; also clears the running flag.
  void ClearLiveFrame();
  BOOL IsLiveRunning() const { return m_bLiveRunning; }
  void SetLiveRunning(BOOL running);
  BOOL IsLiveHeld() const { return m_bLiveHeld; }

  int GetUntitledCount() const { return m_nUntitledCount; }
  void SetUntitledCount(int count) { m_nUntitledCount = count; }
  QPoint GetNextChildPos() const { return m_NextChildPos; }
  void SetNextChildPos(const QPoint& pos) { m_NextChildPos = pos; }
  // Adds the cascade offset to the next child position.
  void AdvanceNextChildPos();
  // The position for a new frame of `outer` size (see CChildFrame).
  QPoint GrantChildPosition(const QSize& outer);
  // Zoom for a newly loaded still picture.
  double GetNewPictureZoom() const;
  // Cascade offset of the next child position.
  static QPoint CascadeOffset();

  BOOL IsDeviceOpen() const { return m_bDeviceOpen; }
  std::string GetStatusText() const { return m_strStatus; }

  // ---- operations
  BOOL bDeviceOpen();
  BOOL bDeviceClose();
  // Still capture: one frame by synchronous request (3 tries) handed to
  // `load`. FALSE (message shown unless the reply was empty) on failure.
  BOOL GetJpegData(const std::function<BOOL(const BYTE*, DWORD)>& load);
  BOOL GetJpegData(CChildFrame* frame);
  BOOL FileOpen(const std::string& path);
  BOOL FileOpen(const std::string& name, const BYTE* data, DWORD size);
  BOOL bPlaySemiAnimetion();
  // A new empty document of the template named `name`; NULL when none.
  CChildFrame* OpenDocument(const std::string& name);

  // Holds the live monitor before a tool window opens; WM_RESUME_LIVE resumes it.
  void HoldLive();
  void ResumeLive();
  // A drawing stroke: suspends a running live monitor (TRUE when it did)
  // until ResumeSuspendedLive.
  BOOL SuspendLive();
  void ResumeSuspendedLive();
  bool IsToolWindowOpen() const;
  // Draw palette requests, forwarded to the active "Image" frame.
  void EraseArea();
  void EraseAll();
  CChildFrame* GetActiveChild() const;
  // Keeps the remote control above the full-screen window (or not), when
  // the device is open and the panel is visible.
  void SetRemoteCtrlTopMost(bool topMost);
  QWidget* GetRemoteCtrl() const { return m_pRemoteCtrl.data(); }

  // ---- commands
  void OnCommand(int id);
  void UpdateCommandUI();
  QAction* GetAction(int id) const;
  // Command state as the last update pass left it.
  bool IsCommandEnabled(int id) const;
  bool IsCommandChecked(int id) const;

  // ---- platform messages to GetSafeHwnd()
  LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam);

  // Every document window made on this frame is known to it from its
  // construction to its destruction, so that none outlives the frame (a
  // closed one waits for its deferred delete; the frame ends it first).
  void OnChildFrameCreated(CChildFrame* frame);
  void OnChildFrameDestroyed(CChildFrame* frame);

  // Tool windows built by other parts of the program, by command id: the
  // draw palette (modeless) and the modal tools. A command whose tool has no
  // factory stays disabled.
  using ToolFactory = std::function<QWidget*(CMainFrame*)>;
  static void RegisterToolFactory(int commandId, ToolFactory factory);
  // A modal tool handed to KeepTool is not deleted after its run: the main
  // frame keeps it until it ends, and its factory hands it out again
  // (GetKeptTool gives it back; null before it was kept).
  void KeepTool(int commandId, QWidget* tool) { m_KeptTools[commandId] = tool; }
  QWidget* GetKeptTool(int commandId) const;
  QWidget* GetDrawPalette() const { return m_pDrawPalette.data(); }

  // The program's work folder (thumbnail caches, staging); under the private
  // work folder of the user, empty when there is none.
  static std::string GetWorkFolder();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  // Tool windows whose being open blocks the device commands.
  static constexpr int kToolWindowIds[] = {ID_TOOL_SLIDESHOW, ID_TOOL_VIEWER, ID_TOOL_CONVERT, ID_TOOL_TRANSFER};
  static ToolFactory FindToolFactory(int id);

  void CreateActions();
  void CreateMenus();
  void CreateToolBar();
  // Sizes the window for the live monitor at 1/1 where the screen allows.
  void FitToLiveMonitor();
  QAction* AddAction(int id, const QString& text, const QString& tip = {});
  void UpdateOneCommand(CCmdUI* ui);
  // The caption: the program's title, with the active document's.
  void UpdateFrameTitle();
  void SetStatusText(const std::string& text);
  void OnDestroy();
  // Asks the tool windows to stop their work; true when one must be waited for.
  bool StopToolsBeforeClose();
  void OnSize();
  void DeviceGoneCheck();
  void CloseLiveFrame();

  // Handlers.
  void OnDeviceState(WPARAM state);
  void OnSetFirstViewData();
  void OnAnimeError(WPARAM stringId);
  void OnRemoteCtrlClosed();
  void OnFileOpen();
  void OnFileAllClose();
  void OnLiveMonitorSize(int id);
  void OnLiveStart();
  void OnLiveStop();
  void OnStillCapture();
  void OnToolDraw();
  void OnToolRemoteCtrl();
  void OnModalTool(int id);

  CFotaviApp* m_pApp;
  CDrawSettings m_DrawSettings;
  std::unique_ptr<CImageHost> m_pImageHost;
  QSize m_LiveSize{0, 0};
  int m_nLiveSizeStep = 2;
  CAnimeFrame* m_pLiveFrame = nullptr;
  BOOL m_bLiveRunning = FALSE;
  int m_nUntitledCount = 0;
  BOOL m_bDeviceOpen = FALSE;
  BOOL m_bLiveHeld = FALSE;
  double m_dFittedZoom = 1.0;
  QPoint m_NextChildPos{0, 0};
  QPointer<QWidget> m_pRemoteCtrl;
  QPointer<QWidget> m_pDrawPalette;
  std::map<int, QPointer<QWidget>> m_ToolWindows;  // tool windows open now
  std::map<int, QPointer<QWidget>> m_KeptTools;   // modal tools kept between runs
  std::vector<CChildFrame*> m_ChildFrames;          // document windows not yet destroyed

  HWND m_hWnd = nullptr;
  QMdiArea* m_pMdiArea = nullptr;
  QToolBar* m_pToolBar = nullptr;
  QLabel* m_pStatusPane = nullptr;
  QMenu* m_pWindowMenu = nullptr;
  QAction* m_pSlideShowAction = nullptr;
  std::map<int, QAction*> m_Actions;
  std::string m_strStatus;
  bool m_bDestroyed = false;
};
