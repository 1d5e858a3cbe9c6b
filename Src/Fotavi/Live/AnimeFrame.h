// The live monitor window: the "Anime" document, its child frame (caption
// with size and zoom, size steps, zoom commands, full screen) and the
// start, pause, resume and stop of the live threads.
#pragma once

#include <memory>
#include <string>

#include "Live/AnimeThread.h"
#include "App/ChildFrm.h"
#include "App/Zoom.h"
#include "App/Document.h"

class CAnimeView;

class CAnimeDoc : public CFotaviDoc {
 public:
  explicit CAnimeDoc(CDocTemplate* docTemplate) : CFotaviDoc(docTemplate, "CAnimeDoc") {}
};

// "Live Monitor 512x384 50%": the caption for a picture of width x height
// shown at `zoom` (FormatZoomPercent).
std::string FormatLiveCaption(int width, int height, double zoom);

// Registers the "Anime" template's frame factory (start-up, RegisterProgramParts).
void RegisterLiveParts();

class CAnimeFrame : public CChildFrame {
  Q_OBJECT
 public:
  // The "Anime" template's factory: document, frame and view, added to the
  // main frame's MDI area and shown.
  static CChildFrame* CreateFrame(CMainFrame* mainFrame, CDocTemplate* docTemplate);

  CAnimeFrame(CMainFrame* mainFrame, std::unique_ptr<CAnimeDoc> doc);
  ~CAnimeFrame() override;

  CAnimeView* GetAnimeView() const { return m_pView; }
  CAnimeDoc* GetAnimeDoc() const { return static_cast<CAnimeDoc*>(GetDocument()); }

  BOOL PlaySemiAnimation();
  void StopThreads();
  void SuspendThreads();
  void ResumeThreads();
  bool IsSuspended() const;
  // From the main frame's live-size commands.
  void ApplySizeStep(int step);
  // Decodes the kept frame again on the calling thread (GUI: full screen).
  BOOL DrawKeptFrame();
  // Asks the view thread to decode the kept frame again.
  void PostRedraw();

  bool OnCmdMsg(int id) override;
  bool OnUpdateCmdUI(CCmdUI* ui) override;
  LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

  // Fits the frame to a client area of `client`, without moving it.
  void FitToClient(const QSize& client);
  void UpdateTitle(int multiplier);

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void SetFullScreen();
  // Ends the view thread, cut off from the view first; false when it did
  // not end in time (its object is then left to it).
  bool EndViewThread();
  // Ends a request thread that was never given a request (a failed start).
  void EndIdleRequestThread();

  CAnimeView* m_pView = nullptr;
  std::unique_ptr<CViewAnimeThread> m_pRequestThread;
  std::unique_ptr<CAnimeViewThread> m_pViewThread;
  std::unique_ptr<CEvent> m_pDrawnEvent;
};
