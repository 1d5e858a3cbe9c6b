// The play order of the "Slide Show Settings" dialog: one row per slide with
// its picture, effect and interval; a drop-down over the Effect and Interval
// cells picks them. It reads the card's playlist when the dialog is first
// shown and writes it back on "Register".
#pragma once

#include <QTreeWidget>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "PlayList.h"

class CSDAccess;
class QComboBox;

class CSlidePlayList : public QTreeWidget {
  Q_OBJECT
 public:
  // Item data roles of a row: the card path, the effect and interval index.
  static constexpr int RolePath = Qt::UserRole + 1;
  static constexpr int RoleEffect = Qt::UserRole + 2;
  static constexpr int RoleInterval = Qt::UserRole + 3;
  static constexpr int ColumnEffect = 1;
  static constexpr int ColumnInterval = 2;

  explicit CSlidePlayList(QWidget* parent = nullptr);
  ~CSlidePlayList() override;

  // Columns, the drop-down, the measured widths, the work folder. Run once
  // the list has its laid-out size: the columns take their shares of it.
  void InitList();
  // Adds one entry at `position` (-1 or past the end appends); the new
  // row's index, -1 when the entry is refused (a null token is absent, an
  // empty one present).
  int AddEntry(const std::string* path, const std::string* effect, const std::string* interval, int position);
  int ParseLine(const std::string& line);
  // WM_PLAYLIST_LOAD: reads the card's playlist and adds its valid lines.
  void OnLoadPlayList();
  void PostLoadPlayList();
  // Writes the rows to the card (nothing for no rows); 1.
  int SavePlayList();

  PlayListEntry Entry(int row) const;
  std::vector<PlayListEntry> Entries() const;
  std::vector<int> SelectedRows() const;
  // Swaps two rows' texts and entries.
  void SwapRows(int first, int second);
  void DeleteSelectedRows();

  // The drop-down in use (tests pick from it); the cell it edits.
  QComboBox* Editor() const { return m_pCombo; }
  int EditRow() const { return m_nEditRow; }
  int EditColumn() const { return m_nEditColumn; }
  // Opens the drop-down over a cell of an editable column; false elsewhere.
  bool BeginEdit(int row, int column);
  void EndEdit();
  int MinimumEditableWidth() const;

  // Wide enough for each column's share to show its widest text.
  QSize minimumSizeHint() const override;
  QSize sizeHint() const override;

  // Called with (path, local copy) when the preview changes: the cache
  // copy's path, else the card path; an empty path clears the preview.
  void SetPreviewHandler(std::function<void(const std::string&, bool)> handler) { m_Preview = std::move(handler); }
  const std::string& WorkFolder() const { return m_strWorkFolder; }
  void SetWorkFolder(const std::string& folder) { m_strWorkFolder = folder; }

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void OnSelectionChanged();
  void OnEditorChosen(int index);
  void OnSectionResized(int column, int oldSize, int newSize);
  static QStringList HeaderLabels();
  // The widths the style gives a cell, a header section and the drop-down
  // showing these texts.
  int CellWidth(const QString& text) const;
  int HeaderWidth(const QString& text) const;
  int DropDownWidth(int textWidth) const;
  void SetRow(QTreeWidgetItem* item, const PlayListEntry& entry);
  // Inserts a checked entry; the new row's index.
  int InsertRow(const PlayListEntry& entry, int position);

  QComboBox* m_pCombo = nullptr;
  int m_nEffectWidth = 0;
  int m_nIntervalWidth = 0;
  int m_nEditRow = -1;
  int m_nEditColumn = -1;
  std::string m_strWorkFolder;
  std::unique_ptr<CSDAccess> m_pAccess;
  std::function<void(const std::string&, bool)> m_Preview;
};
