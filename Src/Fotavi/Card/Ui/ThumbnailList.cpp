#include "ThumbnailList.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEventLoop>
#include <QKeyEvent>
#include <QPixmap>
#include <QTimer>

#include "CardDialogs.h"
#include "CardHost.h"
#include "CardLimits.h"
#include "SDTree.h"

namespace {
// The list's size when the previous reply was handled (one for the program).
QRect g_LastReplyRect;
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
    viewport()->setUpdatesEnabled(true);
    viewport()->repaint();
    viewport()->setUpdatesEnabled(false);
  });
}

CThumbnailList::~CThumbnailList() {
  m_pPaintTimer->stop();
  // The read in flight comes back to this list's window: wait for it.
  if (IsLoading()) {
    SetCancel();
    WaitUntilIdle();
  }
  OnDestroy();
  // Nothing may reach this list once it is gone.
  m_pLoader.reset();
}

int CThumbnailList::Init(CSDTree* tree, IThumbnailFrame* frame) {
  m_pTree = tree;
  m_pFrame = frame;
  m_pLoader->Init();
  m_pLoader->SetFolderSource([this] { return m_pTree ? m_pTree->GetSelectedPath() : std::string(); });
  return 1;
}

void CThumbnailList::OnLoadThumbnails(bool fresh) {
  if (!m_pTree) return;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  m_pLoader->OnLoadThumbnails(fresh);
  QApplication::restoreOverrideCursor();
}

void CThumbnailList::OnCancelThumbnails() { m_pLoader->OnCancelThumbnails(); }

void CThumbnailList::SetCancel() { m_pLoader->SetCancel(); }

bool CThumbnailList::WaitUntilIdle(DWORD timeoutMs) {
  if (!IsLoading()) return true;
  QEventLoop loop;
  QTimer limit;
  limit.setSingleShot(true);
  connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
  // Queued: the loop ends once the handler that ended the loading is done.
  connect(this, &CThumbnailList::LoadingEnded, &loop, &QEventLoop::quit, Qt::QueuedConnection);
  limit.start(static_cast<int>(timeoutMs));
  while (IsLoading() && limit.isActive()) loop.exec();
  return !IsLoading();
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
  emit LoadingEnded();
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

void CThumbnailList::ThrottlePainting(bool on) {
  if (on) {
    viewport()->setUpdatesEnabled(false);
    m_pPaintTimer->start();
  } else {
    m_pPaintTimer->stop();
    viewport()->setUpdatesEnabled(true);  // also repaints
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
