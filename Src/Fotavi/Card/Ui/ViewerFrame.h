// The SD viewer: the card's folder tree on the left, the selected folder's
// thumbnails on the right, a status bar with the reading progress; a double
// click opens a card picture as a still-image document.
#pragma once

#include <QMainWindow>
#include <QPointer>

#include <string>

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

 private:
  unsigned m_nSelChanges = 0;  // selection changes handled so far
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

class CViewerFrame : public QMainWindow, public IThumbnailFrame {
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

  // Local event loops run by the viewer's own handlers (the wait for a
  // cancelled reading, the context menu): a deferred delete that comes
  // meanwhile is held until the outermost one has returned.
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

 protected:
  bool event(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;

 private:
  void UpdateProgress(int count, int done);
  void SetReadingMode(bool reading);

  QSplitter* m_pSplitter;
  CViewerTree* m_pTree;
  CViewerThumbnail* m_pThumbnail;
  QLabel* m_pEscLabel;
  QLabel* m_pReadingLabel;
  QLabel* m_pCountLabel;
  QProgressBar* m_pProgress;
  bool m_bReading = false;
  int m_nLocalLoops = 0;
  bool m_bDeleteHeld = false;
};
