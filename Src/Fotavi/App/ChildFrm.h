// Base of the document windows: an MDI child frame that owns its document
// and its view, takes part in command routing (the active child frame sees
// each command before the main frame) and receives platform messages through
// a message target on the GUI thread.
#pragma once

#include <QMdiSubWindow>

#include <memory>
#include <string>

#include "App/Document.h"
#include "Platform/Messages.h"
#include "Platform/Types.h"

class CMainFrame;

// State of one command as the update pass computes it.
struct CCmdUI {
  int id = 0;
  bool enabled = true;
  bool checked = false;
  void Enable(bool on = true) { enabled = on; }
  void SetCheck(bool on = true) { checked = on; }
};

// Border width and caption height of a document window, from the style: the
// one source of frame metrics (outer sizes, the cascade of new windows, the
// main frame's fitted zoom).
struct CFrameMetrics {
  int frameWidth = 0;
  int captionHeight = 0;
};
CFrameMetrics DocumentFrameMetrics(const QWidget* frame = nullptr);

class CChildFrame : public QMdiSubWindow {
  Q_OBJECT
 public:
  // Takes ownership of the document.
  CChildFrame(CMainFrame* mainFrame, std::unique_ptr<CFotaviDoc> document, std::string logClass);
  ~CChildFrame() override;

  CFotaviDoc* GetDocument() const { return m_pDocument.get(); }
  CMainFrame* GetMainFrame() const { return m_pMainFrame; }
  // The view (the frame's widget).
  QWidget* GetView() const { return widget(); }
  // Message target of this frame on the GUI thread.
  HWND GetSafeHwnd() const { return m_hWnd; }
  const std::string& GetTemplateName() const { return m_strTemplateName; }

  // Commands: TRUE when this frame handles `id` (and did it).
  virtual bool OnCmdMsg(int id);
  // TRUE when this frame handles `id`; fills `ui`.
  virtual bool OnUpdateCmdUI(CCmdUI* ui);

  // Platform messages sent or posted to GetSafeHwnd(). WM_CLOSE closes the frame.
  virtual LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam);

  // Hooks the main frame calls on the active "Image" frame (draw palette).
  virtual void EraseArea() {}
  virtual void EraseAll() {}
  // Loads of the "Image" frames: a file (BMP when `bmp`), or a JPEG in
  // memory. The default loads into the document's picture holder.
  virtual BOOL LoadFile(const std::string& path, BOOL bmp);
  virtual BOOL LoadFromMemory(const BYTE* data, DWORD size);

  // Places the frame at the main frame's next child position when a frame
  // of `outer` size fits there, else at (0, 0) (resetting that position).
  void PlaceAtNextPosition(const QSize& outer);
  // Outer size of this frame for a client (view) area of `client`.
  QSize OuterSizeFor(const QSize& client) const;

 protected:
  void closeEvent(QCloseEvent* event) override;
  // Called by closeEvent: FALSE keeps the frame open.
  virtual bool CanClose() { return true; }

  CMainFrame* m_pMainFrame;
  std::unique_ptr<CFotaviDoc> m_pDocument;
  std::string m_strLogClass;
  std::string m_strTemplateName;
  HWND m_hWnd = nullptr;
};
