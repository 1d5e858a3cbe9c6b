#include "ThumbnailList.h"

#include <QApplication>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QPixmap>
#include <QScrollBar>
#include <QTimer>

#include "CardDialogs.h"
#include "CardHost.h"
#include "CardLimits.h"
#include "Common/TraceLog.h"
#include "SDTree.h"

namespace {
// The list's size when the previous reply was handled (one for the program).
QRect g_LastReplyRect;

// The loader of a list that went while its read was in flight: kept, with
// nothing to show, until that read is back and handed back, or until the
// time limit has passed; then it goes (and with it the last reply it kept).
class CLoaderDrain : public QObject, public IThumbnailView {
 public:
  explicit CLoaderDrain(std::unique_ptr<CThumbnailLoader> loader)
      : QObject(QCoreApplication::instance()), m_pLoader(std::move(loader)) {
    m_pLoader->SetView(this);
    m_pLoader->SetFolderSource({});
    m_pLoader->DropPendingLoad();
    m_pLoader->SetCancel();
    QTimer::singleShot(CThumbnailList::kReadInFlightLimitMs, this, [this] {
      TraceLog(TRC_PRE, "CThumbnailList::~CThumbnailList", "The read in flight did not come back in time.");
      m_pLoader->AbandonReadInFlight();
    });
  }
  void ThumbBegin(int) override {}
  void ThumbProgress(int, int) override {}
  void ThumbEnd() override {}
  void DeleteAllItems() override {}
  AddResult AddThumbnail(const std::string&, const CBitmap24&, const std::string&, const std::string&) override {
    return ADD_OK;
  }
  void ShowMessage(UINT, UINT) override {}
  void ShowErrors(const CErrorList&) override {}
  void LoadingEnded() override { deleteLater(); }

 private:
  std::unique_ptr<CThumbnailLoader> m_pLoader;
};
}  // namespace

CThumbnailList::CThumbnailList(QWidget* parent) : QListWidget(parent) {
  setViewMode(QListView::IconMode);
  setIconSize(QSize(THUMB_WIDTH, THUMB_HEIGHT));
  setGridSize(QSize(THUMB_WIDTH + 24, THUMB_HEIGHT + 32));
  setResizeMode(QListView::Adjust);
  setMovement(QListView::Static);
  setUniformItemSizes(true);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  m_pLoader = std::make_unique<CThumbnailLoader>(CardHost().device, this, CardHost().codec);
  m_pPaintTimer = new QTimer(this);
  m_pPaintTimer->setInterval(50);
  connect(m_pPaintTimer, &QTimer::timeout, this, [this] {
    for (QWidget* part : ThrottledParts()) {
      part->setUpdatesEnabled(true);
      part->repaint();
      part->setUpdatesEnabled(false);
    }
  });
  m_pCancelLimit = new QTimer(this);
  m_pCancelLimit->setSingleShot(true);
  m_pCancelLimit->setInterval(kReadInFlightLimitMs);
  connect(m_pCancelLimit, &QTimer::timeout, this, [this] {
    if (!IsLoading()) return;
    TraceLog(TRC_PRE, "CThumbnailList::SetCancel", "The read in flight did not come back in time.");
    m_pLoader->AbandonReadInFlight();
  });
}

CThumbnailList::~CThumbnailList() {
  m_pPaintTimer->stop();
  m_pCancelLimit->stop();
  OnDestroy();
  // Nothing may reach this list once it is gone: a read still in flight
  // comes back to a loader that no longer shows anything.
  if (IsLoading()) {
    new CLoaderDrain(std::move(m_pLoader));
  } else {
    m_pLoader.reset();
  }
}

int CThumbnailList::Init(CSDTree* tree, IThumbnailFrame* frame) {
  m_pTree = tree;
  m_pFrame = frame;
  m_pLoader->Init();
  m_pLoader->SetFolderSource([this] { return m_pTree ? m_pTree->GetSelectedPath() : std::string(); });
  return 1;
}

void CThumbnailList::OnLoadThumbnails(bool fresh) {
  if (m_pTree) m_pLoader->OnLoadThumbnails(fresh);
}

void CThumbnailList::LoadWhenIdle(bool fresh) {
  if (m_pTree) m_pLoader->LoadWhenIdle(fresh);
}

void CThumbnailList::OnCancelThumbnails() { m_pLoader->OnCancelThumbnails(); }

void CThumbnailList::SetCancel() {
  m_pLoader->SetCancel();
  if (IsLoading() && !m_pCancelLimit->isActive()) m_pCancelLimit->start();
}

void CThumbnailList::ShowWaitCursor(bool on) {
  if (on) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
  } else {
    QApplication::restoreOverrideCursor();
  }
}

void CThumbnailList::LoadingEnded() {
  m_pCancelLimit->stop();
  emit LoadingStopped();
}

void CThumbnailList::OnDestroy() {
  if (m_bDestroyed) return;
  m_bDestroyed = true;
  if (m_pLoader) m_pLoader->OnDestroy();
}

void CThumbnailList::ThumbBegin(int count) {
  if (m_pFrame) m_pFrame->OnThumbBegin(count, 0);
}

void CThumbnailList::ThumbProgress(int count, int done) {
  if (m_pFrame) m_pFrame->OnThumbProgress(count, done);
}

void CThumbnailList::ThumbEnd() {
  if (m_pFrame) m_pFrame->OnThumbEnd();
}

void CThumbnailList::DeleteAllItems() { clear(); }

IThumbnailView::AddResult CThumbnailList::AddThumbnail(const std::string& name, const CBitmap24& thumbnail,
                                                       const std::string& sdFile, const std::string& cacheFile) {
  const QPixmap pixmap = QPixmap::fromImage(thumbnail);
  if (pixmap.isNull()) return ADD_IMAGE_LIST_FULL;
  auto* item = new QListWidgetItem(QIcon(pixmap), QString::fromStdString(name));
  item->setData(RoleSDFile, QString::fromStdString(sdFile));
  item->setData(RoleCacheFile, QString::fromStdString(cacheFile));
  addItem(item);
  return ADD_OK;
}

void CThumbnailList::AfterReply(int index) {
  const QRect now = viewport()->rect();
  if (index != 1 && now != g_LastReplyRect) sortItems(Qt::AscendingOrder);
  g_LastReplyRect = now;
  viewport()->update();
}

void CThumbnailList::SetAutoArrange(bool on) {
  setResizeMode(on ? QListView::Adjust : QListView::Fixed);
  ThrottlePainting(!on);
  if (on) doItemsLayout();
}

std::vector<QWidget*> CThumbnailList::ThrottledParts() const {
  // The scroll bars change with every item added (their range grows): they
  // are painted with the items, not once per picture.
  return {viewport(), verticalScrollBar(), horizontalScrollBar()};
}

void CThumbnailList::ThrottlePainting(bool on) {
  if (on) {
    for (QWidget* part : ThrottledParts()) part->setUpdatesEnabled(false);
    m_pPaintTimer->start();
  } else {
    m_pPaintTimer->stop();
    for (QWidget* part : ThrottledParts()) part->setUpdatesEnabled(true);  // also repaints
  }
}

void CThumbnailList::ShowMessage(UINT stringId, UINT type) { CardMessageBox(stringId, type); }

void CThumbnailList::ShowErrors(const CErrorList& errors) {
  CTransErrDlg dialog(parentWidget());
  dialog.SetTitle("Reading error");
  dialog.SetLabel("Error List");
  dialog.SetErrorList(&errors);
  CardRunModal(&dialog);
}

void CThumbnailList::keyReleaseEvent(QKeyEvent* event) {
  QListWidget::keyReleaseEvent(event);
  if (event->key() == Qt::Key_Escape) SetCancel();
}
