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
#include "Text/FotaviStrings.h"
#include "Common/TraceLog.h"
#include "Platform/GlobalMemory.h"
#include "Platform/Messages.h"
#include "Platform/UiService.h"

namespace {
constexpr DWORD kIdleWaitMs = 30000;
}  // namespace

// ------------------------------------------------------------ CViewerTree

void CViewerTree::OnSelChanged() {
  CThumbnailList* list = GetThumbnailList();
  if (!list) return;
  const CViewerFrame::LocalLoopScope scope(this);
  const unsigned change = ++m_nSelChanges;
  if (list->IsLoading()) {
    list->SetCancel();
    list->OnCancelThumbnails();
    list->WaitUntilIdle();
    // Another folder was chosen during the wait and has been loaded by
    // then: loading it again would undo an Escape pressed since.
    if (change != m_nSelChanges) return;
  }
  list->OnLoadThumbnails(m_bRefreshed);
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
  SetReadingMode(false);
  resize(900, 600);

  m_pTree->InitTree(m_pThumbnail);
  m_pThumbnail->Init(m_pTree, this);
  m_pTree->PostInitTree();
}

CViewerFrame::~CViewerFrame() {
  // A loading in progress is stopped first: its read in flight still comes
  // and is handed back before the list goes.
  if (m_pThumbnail->IsLoading()) {
    m_pThumbnail->SetCancel();
    if (!m_pThumbnail->WaitUntilIdle(kIdleWaitMs))
      TraceLog(TRC_PRE, "CViewerFrame::~CViewerFrame", "The thumbnail loading did not end in time.");
  }
  m_pThumbnail->OnDestroy();
  if (CardHost().mainWnd) PostMessage(CardHost().mainWnd, WM_RESUME_LIVE, 0, 0);
}

CViewerFrame::LocalLoopScope::LocalLoopScope(QWidget* inside)
    : m_pFrame(qobject_cast<CViewerFrame*>(inside ? inside->window() : nullptr)) {
  if (m_pFrame) ++m_pFrame->m_nLocalLoops;
}

CViewerFrame::LocalLoopScope::~LocalLoopScope() {
  if (!m_pFrame) return;
  if (--m_pFrame->m_nLocalLoops == 0 && m_pFrame->m_bDeleteHeld) {
    m_pFrame->m_bDeleteHeld = false;
    // A second deleteLater of the same object posts nothing: the held
    // delete comes back as a call of its own.
    CViewerFrame* frame = m_pFrame.data();
    QTimer::singleShot(0, frame, [frame] {
      if (frame->m_nLocalLoops > 0) {
        frame->m_bDeleteHeld = true;
        return;
      }
      delete frame;
    });
  }
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
}

void CViewerFrame::OnThumbBegin(int count, int done) {
  if (count == 0) return;
  SetReadingMode(true);
  UpdateProgress(count, done);
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
