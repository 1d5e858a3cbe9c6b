// "Slide Show Settings": the card's folders and thumbnails on the left, the
// play order with its preview and buttons on the right; "Register" writes
// the playlist to the card. Runs modally; the live monitor is held meanwhile
// and resumed when the dialog goes.
#pragma once

#include <QDialog>
#include <QWidget>

#include <memory>
#include <string>
#include <vector>

#include "SDTree.h"
#include "SlidePlayList.h"
#include "ThumbnailList.h"

class CSDAccess;
class CSlideShow;
class QLabel;
class QProgressBar;
class QPushButton;
class QSplitter;

// The dialog's folder tree: a new folder selection loads its thumbnails; no
// folder commands but "Refresh".
class CSlideTree : public CSDTree {
  Q_OBJECT
 public:
  using CSDTree::CSDTree;

 protected:
  void OnSelChanged() override;
  void contextMenuEvent(QContextMenuEvent* event) override;
};

class CSlideThumbnail : public CThumbnailList {
  Q_OBJECT
 public:
  using CThumbnailList::CThumbnailList;
};

// The tree and the thumbnails side by side; the loading's progress goes to
// the dialog.
class CSlideSplitFrm : public QWidget, public IThumbnailFrame {
  Q_OBJECT
 public:
  explicit CSlideSplitFrm(CSlideShow* dialog, QWidget* parent);
  ~CSlideSplitFrm() override;
  CSlideTree* GetTree() const { return m_pTree; }
  CSlideThumbnail* GetThumbnail() const { return m_pThumbnail; }
  // The tree at its starting width beside one column of thumbnails.
  QSize sizeHint() const override;

  void OnThumbBegin(int count, int done) override;
  void OnThumbProgress(int count, int done) override;
  void OnThumbEnd() override;

 private:
  int ThumbnailColumnWidth() const;

  CSlideShow* m_pDialog;
  QSplitter* m_pSplitter;
  CSlideTree* m_pTree;
  CSlideThumbnail* m_pThumbnail;
};

class CSlideShow : public QDialog {
  Q_OBJECT
 public:
  explicit CSlideShow(QWidget* parent = nullptr);
  ~CSlideShow() override;

  void OnBnClickedAdd();
  void OnBnClickedDelete();
  void OnBnClickedUp() { MoveSelected(-1); }
  void OnBnClickedDown() { MoveSelected(+1); }
  void OnBnClickedUpdate();
  void OnBnClickedOk();
  void OnBnClickedCancel();
  // Shows the picture at `path` (a local file when `localCopy`, else a card
  // path), "No such file" when it cannot be shown, nothing for no path.
  void ShowPreview(const std::string& path, bool localCopy);

  // Progress of the thumbnail loading (from the splitter frame).
  void OnThumbBegin(int count, int done);
  void OnThumbProgress(int count, int done);
  void OnThumbEnd();

  CSlidePlayList* PlayList() const { return m_pList; }
  CSlideSplitFrm* Frame() const { return m_pFrame; }
  QLabel* Preview() const { return m_pPreview; }
  bool PreviewShowsPicture() const;
  QString PreviewText() const;
  bool IsProgressShown() const;
  QString ReadCountText() const;
  QString ToReadCountText() const;
  int ProgressPosition() const;

 public slots:
  // Before a show the dialog is fitted into the available part of its
  // screen and placed over the window it belongs to.
  void setVisible(bool visible) override;
  // Enter and Escape and the window's close come here too.
  void accept() override { OnBnClickedOk(); }
  void reject() override { OnBnClickedCancel(); }

 protected:
  void showEvent(QShowEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  // While the thumbnails load, a button only asks the loading to stop.
  bool CancelLoadingInstead();
  void MoveSelected(int direction);
  void SizePreviewFourByThree();
  void SetProgress(int count, int done);
  // The reading's label, bar and counts, shown only while thumbnails load.
  std::vector<QWidget*> ProgressControls() const;
  void ShowProgress(bool on);

  CSlidePlayList* m_pList;
  CSlideSplitFrm* m_pFrame;
  QLabel* m_pPreview;
  QLabel* m_pReadingLabel;
  QProgressBar* m_pProgress;
  QLabel* m_pReadCount;
  QLabel* m_pSeparator;
  QLabel* m_pToReadCount;
  QPushButton* m_pUpdate;
  bool m_bFirstShow = true;
  bool m_bPicture = false;
  std::unique_ptr<CSDAccess> m_pAccess;
};
