// The card's folder tree: one item per DCF folder under the card's root
// folder, in the card's order; refresh keeps the selection by name; folders
// are created and deleted on the card. The base of the SD viewer's tree and
// of the browse dialog's tree.
#pragma once

#include <QDialog>
#include <QTreeWidget>

#include <map>
#include <memory>
#include <string>

#include "SDAccess.h"

class CThumbnailList;

class CSDTree : public QTreeWidget {
  Q_OBJECT
 public:
  explicit CSDTree(QWidget* parent = nullptr);
  ~CSDTree() override;

  // Stores the thumbnail list (or none) and sets the folder icons.
  BOOL InitTree(CThumbnailList* list);
  // Posts the first filling (WM_SDTREE_INIT) to the tree.
  void PostInitTree();
  // WM_SDTREE_INIT / WM_SDTREE_REFRESH.
  void OnInitTree();
  void OnRefreshTree();
  // The root path, "\" and the selected folder; empty without selection.
  std::string GetSelectedPath() const;
  void CreateFolder(const std::string& name);
  void DeleteFolder(const std::string& name, QTreeWidgetItem* item);
  // Removes the thumbnail cache of a card folder (when there is a list).
  void DropFolderCache(const std::string& path);

  const std::string& GetRootPath() const { return m_strRootPath; }
  CThumbnailList* GetThumbnailList() const { return m_pThumbnailList; }
  bool IsRefreshed() const { return m_bRefreshed; }
  QTreeWidgetItem* SelectedItem() const;
  void SelectItem(QTreeWidgetItem* item);

 protected:
  // A selection change (the trees with a thumbnail list load it).
  virtual void OnSelChanged() {}
  void mousePressEvent(QMouseEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;

  BOOL FillTree();
  QTreeWidgetItem* InsertFolderItem(const std::string& path, QTreeWidgetItem* after);
  void SaveItemStates();
  void RestoreItemStates();

  CThumbnailList* m_pThumbnailList = nullptr;
  std::string m_strRootPath;
  std::map<std::string, int> m_mapItemState;
  QTreeWidgetItem* m_hReselectItem = nullptr;
  bool m_bRefreshed = false;
  std::unique_ptr<CSDAccess> m_pSDAccess;
  bool m_bFilling = false;
  QIcon m_ClosedIcon, m_OpenIcon;
};

// The tree of the browse dialog: no thumbnail list.
class CFTransTreeCtrl : public CSDTree {
  Q_OBJECT
 public:
  using CSDTree::CSDTree;
};

// "Browse SD Memory": picks a card folder as a destination.
class CFTransTreeDlg : public QDialog {
  Q_OBJECT
 public:
  explicit CFTransTreeDlg(QWidget* parent = nullptr);
  const std::string& GetSelectedPath() const { return m_strSelectedPath; }
  CFTransTreeCtrl* Tree() const { return m_pTree; }

 public slots:
  void accept() override;

 private:
  CFTransTreeCtrl* m_pTree;
  std::string m_strSelectedPath;
};
