#include "SDTree.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QVBoxLayout>

#include "CardFolders.h"
#include "CardHost.h"
#include "Text/FotaviStrings.h"
#include "DcfNameCheck.h"
#include "Platform/Ini.h"
#include "Platform/UiService.h"
#include "ThumbnailList.h"

namespace {
constexpr int kStateSelected = 0x2;
constexpr int kStateExpanded = 0x20;
constexpr int kStateExpandedOnce = 0x40;
}  // namespace

CSDTree::CSDTree(QWidget* parent) : QTreeWidget(parent), m_pSDAccess(std::make_unique<CSDAccess>(CardHost().device)) {
  setHeaderHidden(true);
  setColumnCount(1);
  setSelectionMode(QAbstractItemView::SingleSelection);
  connect(this, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* now, QTreeWidgetItem*) {
    if (m_bFilling) return;
    for (int i = 0; i < topLevelItemCount(); ++i)
      topLevelItem(i)->setIcon(0, topLevelItem(i) == now ? m_OpenIcon : m_ClosedIcon);
    OnSelChanged();
  });
}

CSDTree::~CSDTree() {
  if (m_pSDAccess) m_pSDAccess->FreeAll();
}

BOOL CSDTree::InitTree(CThumbnailList* list) {
  m_pThumbnailList = list;
  setRootIsDecorated(true);
  m_ClosedIcon = CardFolderIcon(false);
  m_OpenIcon = CardFolderIcon(true);
  return TRUE;
}

void CSDTree::PostInitTree() {
  QMetaObject::invokeMethod(this, [this] { OnInitTree(); }, Qt::QueuedConnection);
}

void CSDTree::OnInitTree() {
  std::string root = IniReadString(CardIniPath(), "VIEWER", "ROOTPATH", "C:\\DCIM");
  m_pSDAccess->SD_GetRootFolder(&root);
  // "C:\DCIM\" names the same folder as "C:\DCIM"; paths are built with one backslash.
  while (root.size() > 3 && root.back() == '\\') root.pop_back();
  m_strRootPath = root;
  FillTree();
  if (topLevelItemCount() > 0) SelectItem(topLevelItem(0));
}

QTreeWidgetItem* CSDTree::SelectedItem() const { return currentItem(); }

void CSDTree::SelectItem(QTreeWidgetItem* item) {
  setCurrentItem(item);
  if (item) item->setSelected(true);
}

BOOL CSDTree::FillTree() {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const std::vector<std::string>* list = m_pSDAccess->SD_GetFolderList();
  BOOL result = FALSE;
  if (list) {
    m_bFilling = true;
    QTreeWidgetItem* after = nullptr;
    for (const std::string& entry : *list) {
      if (QTreeWidgetItem* item = InsertFolderItem(entry, after)) after = item;
    }
    m_bFilling = false;
    m_pSDAccess->FreeAll();
    result = TRUE;
  }
  QApplication::restoreOverrideCursor();
  if (!list) {
    const DWORD status = m_pSDAccess->GetLastStatus();
    if (status != FOTAVI_SD_DONE) CardMessageBox(CardFailureText(status), MB_OK | MB_ICONERROR);
  }
  return result;
}

// A folder is shown only when its entry is the root path, a backslash and a
// DCF folder name: the root's own entry and anything deeper are left out.
QTreeWidgetItem* CSDTree::InsertFolderItem(const std::string& path, QTreeWidgetItem* after) {
  if (path.size() < 9) return nullptr;
  const std::string name = path.substr(path.size() - 8);
  const std::string parent = path.substr(0, path.size() - 9);
  if (path[path.size() - 9] != '\\' || !CDcfNameCheck().IsFolderName(name)) return nullptr;
  if (QString::fromStdString(parent).compare(QString::fromStdString(m_strRootPath), Qt::CaseInsensitive) != 0)
    return nullptr;
  auto* item = new QTreeWidgetItem;
  item->setText(0, QString::fromStdString(name));
  item->setIcon(0, m_ClosedIcon);
  if (after) {
    insertTopLevelItem(indexOfTopLevelItem(after) + 1, item);
  } else {
    addTopLevelItem(item);
  }
  return item;
}

std::string CSDTree::GetSelectedPath() const {
  QTreeWidgetItem* item = currentItem();
  if (!item || item->text(0).isEmpty()) return {};
  std::string path = m_strRootPath + "\\" + item->text(0).toStdString();
  if (path.size() > 260) path.resize(260);
  return path;
}

void CSDTree::SaveItemStates() {
  m_mapItemState.clear();
  std::function<void(QTreeWidgetItem*)> visit = [&](QTreeWidgetItem* item) {
    int state = 0;
    if (item == currentItem()) state |= kStateSelected;
    if (item->isExpanded()) state |= kStateExpanded | kStateExpandedOnce;
    m_mapItemState[item->text(0).toStdString()] = state;
    for (int i = 0; i < item->childCount(); ++i) visit(item->child(i));
  };
  for (int i = 0; i < topLevelItemCount(); ++i) visit(topLevelItem(i));
}

void CSDTree::RestoreItemStates() {
  std::function<void(QTreeWidgetItem*)> visit = [&](QTreeWidgetItem* item) {
    const auto it = m_mapItemState.find(item->text(0).toStdString());
    if (it != m_mapItemState.end()) {
      if (it->second & (kStateExpanded | kStateExpandedOnce)) item->setExpanded((it->second & kStateExpanded) != 0);
      if (it->second & kStateSelected) m_hReselectItem = item;
    }
    for (int i = 0; i < item->childCount(); ++i) visit(item->child(i));
  };
  for (int i = 0; i < topLevelItemCount(); ++i) visit(topLevelItem(i));
}

void CSDTree::OnRefreshTree() {
  m_bRefreshed = true;
  m_hReselectItem = nullptr;
  SaveItemStates();
  m_bFilling = true;
  setCurrentItem(nullptr);
  clear();
  m_bFilling = false;
  // The list drops its items while nothing is selected.
  if (m_pThumbnailList) m_pThumbnailList->OnLoadThumbnails(false);
  if (m_strRootPath.empty()) {
    std::string root;
    m_pSDAccess->SD_GetRootFolder(&root);
    m_strRootPath = root;
  }
  FillTree();
  RestoreItemStates();
  QTreeWidgetItem* select = m_hReselectItem ? m_hReselectItem : topLevelItem(0);
  if (select) SelectItem(select);
  m_mapItemState.clear();
  m_hReselectItem = nullptr;
}

void CSDTree::CreateFolder(const std::string& name) {
  if (m_strRootPath.empty()) return;
  const std::string upper = QString::fromStdString(name).toUpper().toStdString();
  if (upper.empty()) {
    CardMessageBox(IDS_INTERNAL_ERROR, MB_OK | MB_ICONERROR);
    return;
  }
  const std::string path = m_strRootPath + "\\" + upper;
  if (m_pSDAccess->SD_CreateFolder(path.c_str())) {
    DropFolderCache(path);
    if (QTreeWidgetItem* item = InsertFolderItem(path, nullptr)) SelectItem(item);
  } else {
    CardMessageBox(IDS_CREATE_FOLDER_FAILED, MB_OK | MB_ICONERROR);
  }
}

void CSDTree::DeleteFolder(const std::string& name, QTreeWidgetItem* item) {
  const std::string path = GetSelectedPath();
  if (path.empty()) return;
  if (m_pSDAccess->SD_DeleteFolder(path.c_str())) {
    DropFolderCache(path);
    delete item;
  } else {
    CardMessageBox(IDS_DELETE_FOLDER_FAILED, MB_OK | MB_ICONERROR);
  }
}

// The thumbnails cached for a card folder that was just deleted or made
// belong to pictures that are no longer there.
void CSDTree::DropFolderCache(const std::string& path) {
  if (!m_pThumbnailList) return;
  const std::string& root = m_pThumbnailList->Loader()->GetCacheRoot();
  const std::string name = CacheNameOf(path);
  if (!root.empty() && !name.empty()) RemoveLocalFolder(root + "/" + name);
}

void CSDTree::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::RightButton) {
    event->accept();  // the right button does not select
    return;
  }
  QTreeWidget::mousePressEvent(event);
}

void CSDTree::keyReleaseEvent(QKeyEvent* event) {
  QTreeWidget::keyReleaseEvent(event);
  if (event->key() == Qt::Key_Escape && m_pThumbnailList) m_pThumbnailList->SetCancel();
}

// ------------------------------------------------------------ CFTransTreeDlg

CFTransTreeDlg::CFTransTreeDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(tr("Browse SD Memory"));
  auto* label = new QLabel(tr("Please select folder"), this);
  m_pTree = new CFTransTreeCtrl(this);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &CFTransTreeDlg::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(label);
  layout->addWidget(m_pTree, 1);
  layout->addWidget(buttons);
  resize(300, 360);
  m_pTree->InitTree(nullptr);
  m_pTree->PostInitTree();
}

void CFTransTreeDlg::accept() {
  m_strSelectedPath = m_pTree->GetSelectedPath();
  QDialog::accept();
}
