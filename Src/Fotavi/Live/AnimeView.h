// The live monitor's view: paints the latest frame from the live document's
// picture holder with the chosen zoom and scroll position, drags the picture
// when zoomed in, and hands frames to the full-screen window.
//
// LoadPicture runs on the live view thread: it only decodes into the holder
// and posts "frame ready" (at most one such post outstanding) to the view's
// message target; everything else runs on the GUI thread.
#pragma once

#include <QAbstractScrollArea>
#include <QImage>
#include <QPoint>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <vector>

#include "Platform/Messages.h"
#include "Platform/Types.h"

class CAnimeDoc;
class CAnimeFrame;
class CFullScreenWnd;

// Counters of the live road (benchmarks and tests read them).
struct CLiveStats {
  std::atomic<uint64_t> repliesArrived{0};
  std::atomic<uint64_t> framesDecoded{0};
  std::atomic<uint64_t> decodeFailures{0};
  std::atomic<uint64_t> framesPainted{0};
  // Reply arrival to paint, GUI thread only; kept only while a benchmark asks
  // for it, so a long live session does not grow the list.
  bool recordLatency = false;
  std::vector<double> latencyMs;
};

class CAnimeView : public QAbstractScrollArea {
  Q_OBJECT
 public:
  CAnimeView(CAnimeDoc* doc, CAnimeFrame* frame);
  ~CAnimeView() override;

  CAnimeDoc* GetDocument() const { return m_pDoc; }
  HWND GetSafeHwnd() const { return m_hWnd; }

  // View thread: decodes one frame into the holder; LOADPICT_* result.
  int LoadPicture(const BYTE* data, DWORD size);
  // View thread: a reply has arrived (start of the latency measure).
  void NoteReplyArrived();

  int GetSizeStep() const { return m_nSizeStep.load(); }
  // Stores the step, zoom 1, scroll bars recomputed.
  void SetSizeStep(int step);
  void SetZoom(double zoom);
  double GetZoom() const;

  BOOL ViewFullScreen();
  void EndFullScreen();
  CFullScreenWnd* GetFullScreenWnd() const { return m_pFullWnd; }

  // The picture the view shows (GUI thread).
  const QImage& GetPicture() const { return m_Picture; }
  // Takes the holder's latest frame and paints it (GUI thread).
  void OnFrameReady();
  void RecalcScrollBars();
  // Client size the view asks its frame for.
  void SetClientSize(const QSize& size);
  QSize sizeHint() const override;

  CLiveStats& GetStats() { return m_Stats; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;

 private:
  LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam);
  void RedrawKeptFrame();

  CAnimeDoc* m_pDoc;
  CAnimeFrame* m_pFrame;
  HWND m_hWnd = nullptr;
  std::atomic<int> m_nSizeStep{2};
  int m_nSavedSizeStep = 2;
  QImage m_Picture;
  QSize m_ClientSize{512, 384};
  CFullScreenWnd* m_pFullWnd = nullptr;
  std::atomic<bool> m_bFramePosted{false};
  bool m_bUpdatingScroll = false;
  // Drag.
  bool m_bDragging = false;
  QPoint m_DragStart;
  int m_nDragH = 0;
  int m_nDragV = 0;
  // Latency measure: arrival of the reply whose frame is in the holder.
  std::atomic<int64_t> m_nArrivalNs{0};
  std::atomic<int64_t> m_nDecodedArrivalNs{0};
  std::atomic<uint64_t> m_nDecodedSeq{0};
  uint64_t m_nShownSeq = 0;
  int64_t m_nShownArrivalNs = 0;
  uint64_t m_nPaintedSeq = 0;
  CLiveStats m_Stats;
};

int64_t LiveClockNs();
