#include "SlideShowDlg.h"
#include "App/Resource.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitter>
#include <QVBoxLayout>

#include <algorithm>

#include "CardHost.h"
#include "Common/Jpeg.h"
#include "Common/WindowHelpers.h"
#include "Platform/GlobalMemory.h"
#include "Platform/Messages.h"
#include "SDAccess.h"

namespace {
const char kNoSuchFile[] = "No such file";
const char kTwoPositions[] = "Two or more positions are selected.";
const char kTwoLines[] = "Unable to execute the commands when two or more lines are selected.";
// The preview's size before it is made 4:3 at the first show.
constexpr int kPreviewWidth = 200;
constexpr int kPreviewHeight = 160;
// The folder tree's width when the dialog opens.
constexpr int kTreeWidth = 120;

const CJpeg& Codec() {
  static const CJpeg builtIn;
  return CardHost().codec ? *CardHost().codec : builtIn;
}

}  // namespace

// ------------------------------------------------------------ CSlideTree

void CSlideTree::OnSelChanged() {
  CThumbnailList* list = GetThumbnailList();
  if (!list) return;
  // The reading in progress stops after its read in flight; the new folder
  // loads when that read is back. A folder chosen meanwhile joins that load.
  if (list->IsLoading()) {
    list->OnCancelThumbnails();
    list->SetCancel();
  }
  list->LoadWhenIdle(m_bRefreshed);
  m_bRefreshed = false;
}

void CSlideTree::contextMenuEvent(QContextMenuEvent* event) {
  const QPoint at = event->reason() == QContextMenuEvent::Keyboard ? mapToGlobal(QPoint(0, 0)) : event->globalPos();
  QMenu menu(this);
  // The folder commands do nothing in this tree.
  menu.addAction(tr("&Create New Folder"));
  menu.addAction(tr("&Delete Folder"));
  QAction* refresh = menu.addAction(tr("&Refresh"));
  if (menu.exec(at) == refresh) OnRefreshTree();
  event->accept();
}

// ------------------------------------------------------------ CSlideSplitFrm

CSlideSplitFrm::CSlideSplitFrm(CSlideShow* dialog, QWidget* parent)
    : QWidget(parent),
      m_pDialog(dialog),
      m_pSplitter(new QSplitter(Qt::Horizontal, this)),
      m_pTree(new CSlideTree(m_pSplitter)),
      m_pThumbnail(new CSlideThumbnail(m_pSplitter)) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(m_pSplitter);
  m_pSplitter->setChildrenCollapsible(false);
  m_pSplitter->setSizes({kTreeWidth, ThumbnailColumnWidth()});
  m_pSplitter->setStretchFactor(1, 1);
  m_pTree->InitTree(m_pThumbnail);
  m_pThumbnail->Init(m_pTree, this);
}

CSlideSplitFrm::~CSlideSplitFrm() {
  // A read still in flight is handed back by the list's loader when it
  // comes (the list passes it on when it goes).
  m_pThumbnail->OnDestroy();
}

int CSlideSplitFrm::ThumbnailColumnWidth() const {
  // One grid cell beside the vertical scroll bar, inside the frame.
  return m_pThumbnail->gridSize().width() + m_pThumbnail->verticalScrollBar()->sizeHint().width() +
         2 * m_pThumbnail->frameWidth();
}

QSize CSlideSplitFrm::sizeHint() const {
  return {kTreeWidth + m_pSplitter->handleWidth() + ThumbnailColumnWidth(), QWidget::sizeHint().height()};
}

void CSlideSplitFrm::OnThumbBegin(int count, int done) { m_pDialog->OnThumbBegin(count, done); }
void CSlideSplitFrm::OnThumbProgress(int count, int done) { m_pDialog->OnThumbProgress(count, done); }
void CSlideSplitFrm::OnThumbEnd() { m_pDialog->OnThumbEnd(); }

// ------------------------------------------------------------ CSlideShow

CSlideShow::CSlideShow(QWidget* parent)
    : QDialog(parent), m_pAccess(std::make_unique<CSDAccess>(CardHost().device)) {
  setWindowTitle(tr("Slide Show Settings"));
  setSizeGripEnabled(true);

  auto* contentsLabel = new QLabel(tr("&SD Memory Contents"), this);
  m_pFrame = new CSlideSplitFrm(this, this);
  contentsLabel->setBuddy(m_pFrame->GetTree());
  m_pUpdate = new QPushButton(tr("U&pdate"), this);
  m_pReadingLabel = new QLabel(tr("Reading Images..."), this);
  m_pProgress = new QProgressBar(this);
  m_pProgress->setRange(0, 100);
  m_pProgress->setTextVisible(false);
  m_pReadCount = new QLabel(QStringLiteral("9999"), this);
  m_pSeparator = new QLabel(QStringLiteral("/"), this);
  m_pToReadCount = new QLabel(QStringLiteral("9999"), this);
  for (QLabel* count : {m_pReadCount, m_pToReadCount}) count->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  // The reading's progress row keeps its room while hidden: showing it
  // never widens the dialog.
  for (QWidget* w : ProgressControls()) {
    QSizePolicy policy = w->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    w->setSizePolicy(policy);
  }
  // The bar asks for no width of its own, and keeps a third of the width it
  // would ask for.
  m_pProgress->setMinimumWidth(m_pProgress->sizeHint().width() / 3);
  QSizePolicy barPolicy = m_pProgress->sizePolicy();
  barPolicy.setHorizontalPolicy(QSizePolicy::Ignored);
  m_pProgress->setSizePolicy(barPolicy);

  auto* orderLabel = new QLabel(tr("P&lay order"), this);
  m_pList = new CSlidePlayList(this);
  orderLabel->setBuddy(m_pList);
  auto* add = new QPushButton(tr("&Add"), this);
  auto* remove = new QPushButton(tr("D&elete"), this);
  auto* up = new QPushButton(tr("&Up"), this);
  auto* down = new QPushButton(tr("&Down"), this);
  m_pPreview = new QLabel(this);
  m_pPreview->setFrameShape(QFrame::Box);
  m_pPreview->setAlignment(Qt::AlignCenter);
  m_pPreview->setFixedSize(kPreviewWidth, kPreviewHeight);
  auto* registerButton = new QPushButton(tr("&Register"), this);
  auto* cancel = new QPushButton(tr("Cancel"), this);
  registerButton->setDefault(true);

  // Left: the card; right: the play order.
  auto* left = new QVBoxLayout;
  left->addWidget(contentsLabel);
  left->addWidget(m_pFrame, 1);
  // The reading's progress under the panes, no wider than they are: the bar
  // takes what the texts leave; "Update" in a row of its own.
  auto* progressRow = new QHBoxLayout;
  progressRow->addWidget(m_pReadingLabel);
  progressRow->addWidget(m_pProgress, 1);
  progressRow->addWidget(m_pReadCount);
  progressRow->addWidget(m_pSeparator);
  progressRow->addWidget(m_pToReadCount);
  left->addLayout(progressRow);
  auto* updateRow = new QHBoxLayout;
  updateRow->addStretch();
  updateRow->addWidget(m_pUpdate);
  left->addLayout(updateRow);

  auto* right = new QGridLayout;
  right->addWidget(orderLabel, 0, 0);
  right->addWidget(m_pList, 1, 0, 2, 1);
  auto* rowButtons = new QVBoxLayout;
  for (QPushButton* button : {add, remove, up, down}) rowButtons->addWidget(button);
  rowButtons->addStretch();
  right->addLayout(rowButtons, 1, 1);
  right->addWidget(m_pPreview, 2, 1, Qt::AlignBottom);
  auto* closeButtons = new QHBoxLayout;
  closeButtons->addStretch();
  closeButtons->addWidget(registerButton);
  closeButtons->addWidget(cancel);
  right->addLayout(closeButtons, 3, 0, 1, 2);
  right->setColumnStretch(0, 1);

  // The card's panes take what they need; the play order takes the rest.
  auto* top = new QHBoxLayout(this);
  top->addLayout(left);
  top->addLayout(right, 1);
  // Wide enough for the columns' texts; the first show fits it to the screen.
  resize(QSize(780, 420).expandedTo(sizeHint()));

  ShowProgress(false);
  m_pList->SetPreviewHandler([this](const std::string& path, bool local) { ShowPreview(path, local); });

  connect(add, &QPushButton::clicked, this, &CSlideShow::OnBnClickedAdd);
  connect(remove, &QPushButton::clicked, this, &CSlideShow::OnBnClickedDelete);
  connect(up, &QPushButton::clicked, this, &CSlideShow::OnBnClickedUp);
  connect(down, &QPushButton::clicked, this, &CSlideShow::OnBnClickedDown);
  connect(m_pUpdate, &QPushButton::clicked, this, &CSlideShow::OnBnClickedUpdate);
  connect(registerButton, &QPushButton::clicked, this, &CSlideShow::OnBnClickedOk);
  connect(cancel, &QPushButton::clicked, this, &CSlideShow::OnBnClickedCancel);
}

CSlideShow::~CSlideShow() {
  // The frame goes first: its loading stops while the dialog still stands.
  delete m_pFrame;
  m_pFrame = nullptr;
  if (m_pAccess) m_pAccess->FreeAll();
  if (CardHost().mainWnd) PostMessage(CardHost().mainWnd, WM_RESUME_LIVE, 0, 0);
}

void CSlideShow::setVisible(bool visible) {
  if (visible && !isVisible()) {
    // The sizes are final before the layout gives the list its size.
    if (m_bFirstShow) SizePreviewFourByThree();
    FitWindowIntoScreen(this);
  }
  QDialog::setVisible(visible);
}

void CSlideShow::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!m_bFirstShow) return;
  m_bFirstShow = false;
  // The layout has given the list its size by now: the columns take their
  // shares of it.
  m_pList->InitList();
  m_pFrame->GetTree()->PostInitTree();
  m_pList->PostLoadPlayList();
}

void CSlideShow::changeEvent(QEvent* event) {
  QDialog::changeEvent(event);
  if (event->type() == QEvent::ActivationChange) m_pPreview->update();
}

void CSlideShow::SizePreviewFourByThree() {
  const QSize old = m_pPreview->size();
  const PreviewSize fitted = PreviewSizeFourByThree(old.width(), old.height());
  if (fitted.width == old.width() && fitted.height == old.height()) return;
  const int change = fitted.width - old.width();
  m_pPreview->setFixedSize(fitted.width, fitted.height);
  // The dialog takes the change in width; its height stays.
  resize(width() + change, height());
}

bool CSlideShow::CancelLoadingInstead() {
  CSlideThumbnail* thumbnails = m_pFrame ? m_pFrame->GetThumbnail() : nullptr;
  if (!thumbnails) return false;
  if (!thumbnails->IsLoading()) {
    // A folder load posted by a reading that has just ended gives way to
    // the button.
    thumbnails->Loader()->DropPendingLoad();
    return false;
  }
  thumbnails->SetCancel();
  return true;
}

void CSlideShow::OnBnClickedUpdate() {
  if (CancelLoadingInstead()) return;
  CSlideTree* tree = m_pFrame->GetTree();
  QMetaObject::invokeMethod(tree, [tree] { tree->OnRefreshTree(); }, Qt::QueuedConnection);
}

void CSlideShow::OnBnClickedOk() {
  if (CancelLoadingInstead()) return;
  m_pList->SavePlayList();
  ShowPreview({}, false);
  QDialog::accept();
}

void CSlideShow::OnBnClickedCancel() {
  if (CancelLoadingInstead()) return;
  ShowPreview({}, false);
  QDialog::reject();
}

void CSlideShow::OnBnClickedAdd() {
  CSlideThumbnail* thumbnails = m_pFrame->GetThumbnail();
  std::vector<std::string> paths;
  for (int i = 0; i < thumbnails->count(); ++i)
    if (thumbnails->item(i)->isSelected())
      paths.push_back(thumbnails->item(i)->data(CThumbnailList::RoleSDFile).toString().toStdString());
  if (paths.empty()) return;
  const std::vector<int> rows = m_pList->SelectedRows();
  if (rows.size() > 1) {
    CardMessageBoxText(kTwoPositions, MB_OK | MB_ICONWARNING);
    return;
  }
  int position = rows.size() == 1 ? rows[0] : m_pList->topLevelItemCount();
  const std::string none;
  for (const std::string& path : paths) {
    // Only an accepted entry moves the position on, so a refused one leaves
    // no gap for the old row between the new ones.
    if (m_pList->AddEntry(&path, &none, &none, position) >= 0) ++position;
  }
}

void CSlideShow::OnBnClickedDelete() { m_pList->DeleteSelectedRows(); }

void CSlideShow::MoveSelected(int direction) {
  const std::vector<int> rows = m_pList->SelectedRows();
  if (rows.empty()) return;
  if (rows.size() > 1) {
    CardMessageBoxText(kTwoLines, MB_OK | MB_ICONERROR);
    return;
  }
  const int row = rows[0];
  const int neighbour = row + direction;
  if (neighbour < 0 || neighbour >= m_pList->topLevelItemCount()) return;
  m_pList->SwapRows(row, neighbour);
  m_pList->clearSelection();
  QTreeWidgetItem* moved = m_pList->topLevelItem(neighbour);
  m_pList->setCurrentItem(moved, 0, QItemSelectionModel::NoUpdate);
  moved->setSelected(true);
}

void CSlideShow::ShowPreview(const std::string& path, bool localCopy) {
  m_pPreview->clear();
  m_bPicture = false;
  if (path.empty()) {
    m_pPreview->update();
    return;
  }
  const QSize size = m_pPreview->contentsRect().size();
  CBitmap24 picture;
  BOOL decoded = FALSE;
  if (localCopy) {
    decoded = Codec().Load(&picture, path, true, size.width(), size.height());
  } else {
    // A path the card cannot take is refused by the read itself.
    if (const SD_DATA* data = m_pAccess->SD_GetJpegFile(path)) {
      const auto* bytes = static_cast<const BYTE*>(data->hData ? GlobalLock(data->hData) : nullptr);
      if (bytes) {
        decoded = Codec().Load(&picture, bytes, data->dwLength, true, size.width(), size.height(), 0);
        GlobalUnlock(data->hData);
      }
    }
    m_pAccess->FreeAll();
  }
  if (decoded && !picture.isNull()) {
    m_pPreview->setPixmap(QPixmap::fromImage(picture));
    m_bPicture = true;
  } else {
    m_pPreview->setText(tr(kNoSuchFile));
  }
  m_pPreview->update();
}

bool CSlideShow::PreviewShowsPicture() const { return m_bPicture; }
QString CSlideShow::PreviewText() const { return m_pPreview->text(); }

void CSlideShow::SetProgress(int count, int done) {
  m_pReadCount->setText(QString::number(done));
  m_pToReadCount->setText(QString::number(count));
  m_pProgress->setValue(count > 0 ? static_cast<int>(static_cast<long long>(done) * 100 / count) : 0);
}

std::vector<QWidget*> CSlideShow::ProgressControls() const {
  return {m_pReadingLabel, m_pProgress, m_pReadCount, m_pSeparator, m_pToReadCount};
}

void CSlideShow::ShowProgress(bool on) {
  for (QWidget* w : ProgressControls()) w->setVisible(on);
}

void CSlideShow::OnThumbBegin(int count, int done) {
  if (count == 0) return;
  SetProgress(count, done);
  ShowProgress(true);
  repaint();
}

void CSlideShow::OnThumbProgress(int count, int done) {
  if (count == 0) return;
  SetProgress(count, done);
}

void CSlideShow::OnThumbEnd() { ShowProgress(false); }

bool CSlideShow::IsProgressShown() const { return m_pProgress->isVisibleTo(const_cast<CSlideShow*>(this)); }
QString CSlideShow::ReadCountText() const { return m_pReadCount->text(); }
QString CSlideShow::ToReadCountText() const { return m_pToReadCount->text(); }
int CSlideShow::ProgressPosition() const { return m_pProgress->value(); }
