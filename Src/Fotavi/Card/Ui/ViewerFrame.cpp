#include "ViewerFrame.h"
#include "App/Resource.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>

#include "CardDialogs.h"
#include "CardHost.h"
#include "Common/WindowHelpers.h"
#include "Text/FotaviStrings.h"
#include "Platform/GlobalMemory.h"
#include "Platform/Messages.h"
#include "Platform/UiService.h"

// ------------------------------------------------------------ CViewerTree

void CViewerTree::OnSelChanged() {
  CThumbnailList* list = GetThumbnailList();
  if (!list) return;
  // The reading in progress stops after its read in flight; the new folder
  // loads when that read is back. A folder chosen meanwhile joins that load.
  if (list->IsLoading()) {
    list->SetCancel();
    list->OnCancelThumbnails();
  }
  list->LoadWhenIdle(m_bRefreshed);
  m_bRefreshed = false;
}

bool CViewerTree::ShowContextMenu(const QPoint& globalPos, bool exec) {
  if (GetThumbnailList() && GetThumbnailList()->IsLoading()) return false;
  QMenu menu(this);
  QAction* create = menu.addAction(tr("&Create New Folder"));
  QAction* remove = menu.addAction(tr("&Delete Folder"));
  QAction* refresh = menu.addAction(tr("&Refresh"));
  if (!exec) return true;
  const CViewerFrame::LocalLoopScope scope(this);
  QAction* chosen = menu.exec(globalPos);
  if (chosen == create) OnCreateFolder();
  if (chosen == remove) OnDeleteFolder();
  if (chosen == refresh) OnRefresh();
  return true;
}

void CViewerTree::contextMenuEvent(QContextMenuEvent* event) {
  const QPoint at = event->reason() == QContextMenuEvent::Keyboard ? mapToGlobal(QPoint(0, 0)) : event->globalPos();
  ShowContextMenu(at);
  event->accept();
}

void CViewerTree::OnCreateFolder() {
  CCreateSDDialog dialog(this);
  if (CardRunModal(&dialog) == QDialog::Accepted) CreateFolder(dialog.m_strName);
}

void CViewerTree::OnDeleteFolder() {
  QTreeWidgetItem* item = SelectedItem();
  if (!item) return;
  const std::string name = item->text(0).toStdString();
  const std::string question = FormatFotaviText(FotaviText(IDS_DELETE_FOLDER_QUESTION), name);
  if (CardMessageBoxText(question, MB_YESNO | MB_ICONWARNING) == IDYES) DeleteFolder(name, item);
}

void CViewerTree::OnRefresh() { OnRefreshTree(); }

// ------------------------------------------------------------ CViewerThumbnail

CViewerThumbnail::CViewerThumbnail(CViewerFrame* viewer, QWidget* parent) : CThumbnailList(parent), m_pViewer(viewer) {}

void CViewerThumbnail::OnNMDblclk() {
  if (selectedItems().size() != 1) return;
  QListWidgetItem* item = currentItem();
  if (!item || !item->isSelected()) item = selectedItems().front();
  const std::string path = item->data(RoleSDFile).toString().toStdString();
  if (m_pViewer) m_pViewer->OpenFile(path.c_str());
}

void CViewerThumbnail::mouseDoubleClickEvent(QMouseEvent* event) {
  CThumbnailList::mouseDoubleClickEvent(event);
  OnNMDblclk();
}

// ------------------------------------------------------------ CViewerFrame

void CViewerFrame::setVisible(bool visible) {
  if (visible && !isVisible()) FitWindowIntoScreen(this);
  QMainWindow::setVisible(visible);
}

CViewerFrame::CViewerFrame(QWidget* parent) : QMainWindow(parent) {
  setWindowTitle(QStringLiteral("Fotavi for Presentation -Viewer-"));
  setWindowIcon(QIcon::fromTheme(QStringLiteral("media-flash"), CardFolderIcon(false)));
  setAttribute(Qt::WA_DeleteOnClose, false);
  m_pSplitter = new QSplitter(Qt::Horizontal, this);
  m_pTree = new CViewerTree(m_pSplitter);
  m_pThumbnail = new CViewerThumbnail(this, m_pSplitter);
  m_pSplitter->addWidget(m_pTree);
  m_pSplitter->addWidget(m_pThumbnail);
  m_pSplitter->setSizes({200, 600});
  m_pSplitter->setStretchFactor(1, 1);
  setCentralWidget(m_pSplitter);

  m_pEscLabel = new QLabel(QString::fromStdString(FotaviText(IDS_PRESS_ESC)), this);
  m_pReadingLabel = new QLabel(QString::fromStdString(FotaviText(IDS_READING_IMAGES)), this);
  m_pProgress = new QProgressBar(this);
  m_pProgress->setRange(0, 100);
  m_pProgress->setTextVisible(false);
  m_pProgress->setFixedWidth(fontMetrics().horizontalAdvance(QString::fromStdString(FotaviText(IDS_PROGRESS_SLOT))) + 20);
  m_pCountLabel = new QLabel(this);
  m_pCountLabel->setMinimumWidth(fontMetrics().horizontalAdvance(QString::fromStdString(FotaviText(IDS_COUNT_SLOT))) + 8);
  m_pCountLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  statusBar()->addWidget(m_pEscLabel, 1);
  statusBar()->addPermanentWidget(m_pReadingLabel);
  statusBar()->addPermanentWidget(m_pProgress);
  statusBar()->addPermanentWidget(m_pCountLabel);
  m_pStatusPaint = new QTimer(this);
  m_pStatusPaint->setInterval(50);
  connect(m_pStatusPaint, &QTimer::timeout, this, [this] {
    statusBar()->setUpdatesEnabled(true);
    statusBar()->repaint();
    statusBar()->setUpdatesEnabled(false);
  });
  SetReadingMode(false);
  resize(900, 600);

  m_pTree->InitTree(m_pThumbnail);
  m_pThumbnail->Init(m_pTree, this);
  connect(m_pThumbnail, &CThumbnailList::LoadingStopped, this, &CViewerFrame::CheckIdle);
  m_pTree->PostInitTree();
}

CViewerFrame::~CViewerFrame() {
  // A read still in flight is handed back by the list's loader when it
  // comes (the list passes it on when it goes).
  m_pThumbnail->OnDestroy();
  for (std::function<void()>& call : m_WhenIdle) QMetaObject::invokeMethod(qApp, std::move(call), Qt::QueuedConnection);
  m_WhenIdle.clear();
  if (CardHost().mainWnd) PostMessage(CardHost().mainWnd, WM_RESUME_LIVE, 0, 0);
}

bool CViewerFrame::IsBusy() const { return m_nLocalLoops > 0 || m_pThumbnail->IsLoading(); }

void CViewerFrame::StopWork() {
  if (m_pThumbnail->IsLoading()) m_pThumbnail->SetCancel();
  m_pThumbnail->Loader()->DropPendingLoad();
  if (m_nLocalLoops == 0) return;
  // The context menu is a popup window of the tree's.
  if (QWidget* popup = QApplication::activePopupWidget()) {
    for (QObject* o = popup->parent(); o; o = o->parent()) {
      if (o == this) {
        popup->close();
        break;
      }
    }
  }
}

bool CViewerFrame::StopBeforeClose(std::function<void()> stopped) {
  if (!IsBusy()) return false;
  StopWork();
  m_WhenIdle.push_back(std::move(stopped));
  return true;
}

void CViewerFrame::CheckIdle() {
  if (!IsBusy()) {
    // Called from the handler that ended the work: what waited runs after it.
    std::vector<std::function<void()>> calls;
    calls.swap(m_WhenIdle);
    for (std::function<void()>& call : calls) QMetaObject::invokeMethod(qApp, std::move(call), Qt::QueuedConnection);
  }
  if (m_nLocalLoops > 0 || !m_bDeleteHeld) return;
  m_bDeleteHeld = false;
  // A second deleteLater of the same object posts nothing: the held delete
  // comes back as a call of its own.
  QTimer::singleShot(0, this, [this] {
    if (m_nLocalLoops > 0) {
      m_bDeleteHeld = true;
      return;
    }
    delete this;
  });
}

CViewerFrame::LocalLoopScope::LocalLoopScope(QWidget* inside)
    : m_pFrame(qobject_cast<CViewerFrame*>(inside ? inside->window() : nullptr)) {
  if (m_pFrame) ++m_pFrame->m_nLocalLoops;
}

CViewerFrame::LocalLoopScope::~LocalLoopScope() {
  if (!m_pFrame) return;
  if (--m_pFrame->m_nLocalLoops == 0) m_pFrame->CheckIdle();
}

bool CViewerFrame::event(QEvent* event) {
  if (event->type() == QEvent::DeferredDelete && m_nLocalLoops > 0) {
    // Deleted once the handler that runs the local loop has returned.
    m_bDeleteHeld = true;
    return true;
  }
  return QMainWindow::event(event);
}

void CViewerFrame::SetReadingMode(bool reading) {
  m_bReading = reading;
  m_pEscLabel->setText(reading ? QString::fromStdString(FotaviText(IDS_PRESS_ESC)) : QString());
  m_pReadingLabel->setVisible(reading);
  m_pProgress->setVisible(reading);
  m_pCountLabel->setVisible(reading);
  // While reading, the count and the bar change with every picture; the
  // status bar shows them at most every 50 ms, as the list its pictures.
  if (reading) {
    statusBar()->repaint();  // the reading mode shows at once
    statusBar()->setUpdatesEnabled(false);
    m_pStatusPaint->start();
  } else {
    m_pStatusPaint->stop();
    statusBar()->setUpdatesEnabled(true);  // also repaints
  }
}

void CViewerFrame::OnThumbBegin(int count, int done) {
  if (count == 0) return;
  // The count and the bar first, so that the reading panes show this
  // reading's count when they are painted, not the last reading's.
  UpdateProgress(count, done);
  SetReadingMode(true);
}

void CViewerFrame::OnThumbProgress(int count, int done) {
  if (count != 0) UpdateProgress(count, done);
}

void CViewerFrame::OnThumbEnd() { SetReadingMode(false); }

void CViewerFrame::UpdateProgress(int count, int done) {
  if (count == 0) return;
  m_pCountLabel->setText(QStringLiteral("%1/%2").arg(done).arg(count));
  m_pProgress->setValue(static_cast<int>(static_cast<double>(done) / count * 100.0));
}

QString CViewerFrame::CountText() const { return m_pCountLabel->text(); }
int CViewerFrame::ProgressPosition() const { return m_pProgress->value(); }

void CViewerFrame::keyReleaseEvent(QKeyEvent* event) {
  QMainWindow::keyReleaseEvent(event);
  if (event->key() == Qt::Key_Escape) m_pThumbnail->SetCancel();
}

void CViewerFrame::closeEvent(QCloseEvent* event) {
  if (m_pThumbnail->IsLoading()) {
    // Closing while reading only stops the reading.
    m_pThumbnail->SetCancel();
    event->ignore();
    return;
  }
  // The main window destroys the viewer; without one it simply closes.
  if (CardHost().mainWnd && PostMessage(CardHost().mainWnd, WM_VIEWER_CLOSED, 0, 0)) {
    event->ignore();
    return;
  }
  event->accept();
}

void CViewerFrame::OpenFile(const char* cardPath) {
  if (!cardPath) return;
  const std::string path = cardPath;
  const size_t slash = path.rfind('\\');
  if (slash == std::string::npos) {
    CardMessageBox(IDS_SD_BAD_FILE_NAME, MB_OK | MB_ICONERROR);
    return;
  }
  const std::string name = path.substr(slash + 1);
  CSDAccess access(CardHost().device);
  const SD_DATA* data = access.SD_GetJpegFile(path);
  if (data) {
    const auto* bytes = static_cast<const BYTE*>(GlobalLock(data->hData));
    QApplication::setOverrideCursor(Qt::WaitCursor);
    if (CardHost().openPicture) CardHost().openPicture(name, bytes, data->dwLength);
    QApplication::restoreOverrideCursor();
    GlobalUnlock(data->hData);
  } else {
    CardMessageBox(CardFailureText(access.GetLastStatus()), MB_OK | MB_ICONERROR);
  }
  access.FreeAll();
}
