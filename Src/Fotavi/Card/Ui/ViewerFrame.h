// The SD viewer: the card's folder tree on the left, the selected folder's
// thumbnails on the right, a status bar with the reading progress; a double
// click opens a card picture as a still-image document.
#pragma once

#include <QMainWindow>
#include <QPointer>

#include <functional>
#include <string>
#include <vector>

#include "App/ToolWindow.h"
#include "SDTree.h"
#include "ThumbnailList.h"

class QLabel;
class QProgressBar;
class QSplitter;
class CViewerFrame;

class CViewerTree : public CSDTree {
  Q_OBJECT
 public:
  using CSDTree::CSDTree;
  // Context-menu commands.
  void OnCreateFolder();
  void OnDeleteFolder();
  void OnRefresh();
  // The context menu, unless thumbnails are being read; false when not shown.
  bool ShowContextMenu(const QPoint& globalPos, bool exec = true);

 protected:
  void OnSelChanged() override;
  void contextMenuEvent(QContextMenuEvent* event) override;
};

class CViewerThumbnail : public CThumbnailList {
  Q_OBJECT
 public:
  CViewerThumbnail(CViewerFrame* viewer, QWidget* parent);
  // Opens the item at the selection mark when exactly one item is selected.
  void OnNMDblclk();

 protected:
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  CViewerFrame* m_pViewer;
};

class CViewerFrame : public QMainWindow, public IThumbnailFrame, public IToolWindow {
  Q_OBJECT
 public:
  explicit CViewerFrame(QWidget* parent = nullptr);
  ~CViewerFrame() override;

  // Reads the card picture and opens it as a still-image document.
  void OpenFile(const char* cardPath);
  CViewerThumbnail* GetThumbnailPane() const { return m_pThumbnail; }
  CViewerTree* GetTreePane() const { return m_pTree; }
  // Status bar: true while in the reading mode; the count text.
  bool IsReadingMode() const { return m_bReading; }
  QString CountText() const;
  int ProgressPosition() const;

  // Busy: thumbnails are being read (a cancelled reading until its read in
  // flight is back), or the context menu is open.
  bool IsBusy() const;

  // The context menu's own event loop (and the commands chosen in it): a
  // deferred delete that comes meanwhile is held until it has returned.
  class LocalLoopScope {
   public:
    explicit LocalLoopScope(QWidget* inside);
    ~LocalLoopScope();
    LocalLoopScope(const LocalLoopScope&) = delete;
    LocalLoopScope& operator=(const LocalLoopScope&) = delete;

   private:
    QPointer<CViewerFrame> m_pFrame;
  };

  // IThumbnailFrame
  void OnThumbBegin(int count, int done) override;
  void OnThumbProgress(int count, int done) override;
  void OnThumbEnd() override;

  // IToolWindow: the reading is cancelled (no folder waits to load after
  // it), the context menu closed; `stopped` comes once the viewer is idle.
  bool StopBeforeClose(std::function<void()> stopped) override;

 public:
  // Shown inside the available area of its screen.
  void setVisible(bool visible) override;

 protected:
  bool event(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;

 private:
  void UpdateProgress(int count, int done);
  void SetReadingMode(bool reading);
  // Cancels the reading and closes the context menu.
  void StopWork();
  // Once idle: the calls that waited for it, then a held delete.
  void CheckIdle();

  QSplitter* m_pSplitter;
  CViewerTree* m_pTree;
  CViewerThumbnail* m_pThumbnail;
  QLabel* m_pEscLabel;
  QLabel* m_pReadingLabel;
  QLabel* m_pCountLabel;
  QProgressBar* m_pProgress;
  class QTimer* m_pStatusPaint = nullptr;  // paints the status bar while reading
  bool m_bReading = false;
  int m_nLocalLoops = 0;
  bool m_bDeleteHeld = false;
  std::vector<std::function<void()>> m_WhenIdle;
};
