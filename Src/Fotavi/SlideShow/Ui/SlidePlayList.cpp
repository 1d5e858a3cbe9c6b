#include "SlidePlayList.h"

#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QFocusEvent>
#include <QHeaderView>
#include <QMouseEvent>
#include <QScrollBar>
#include <QStyle>

#include "CardFolders.h"
#include "CardHost.h"
#include "SDAccess.h"

namespace {

// Shown once when lines of the card's playlist had to be skipped.
const char kRejectedLines[] = "Some lines of the playlist in SD memory are not valid and were skipped.";
const char kRegisterFailed[] = "Unable to register playlist in SD memory.";

class WaitCursor {
 public:
  WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~WaitCursor() { QApplication::restoreOverrideCursor(); }
};

}  // namespace

CSlidePlayList::CSlidePlayList(QWidget* parent)
    : QTreeWidget(parent), m_pAccess(std::make_unique<CSDAccess>(CardHost().device)) {}

CSlidePlayList::~CSlidePlayList() {
  if (m_pAccess) m_pAccess->FreeAll();
}

void CSlidePlayList::InitList() {
  setRootIsDecorated(false);
  setUniformRowHeights(true);
  setAllColumnsShowFocus(true);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setColumnCount(3);
  setHeaderLabels({tr("FileName"), tr("Effect"), tr("Interval")});
  headerItem()->setTextAlignment(ColumnInterval, Qt::AlignRight | Qt::AlignVCenter);
  header()->setStretchLastSection(false);
  const int width = viewport()->width() > 0 ? viewport()->width() : 300;
  setColumnWidth(0, width * 48 / 100);
  setColumnWidth(ColumnEffect, width * 28 / 100);
  setColumnWidth(ColumnInterval, width * 20 / 100);

  if (!m_pCombo) {
    // The in-place drop-down lives on the viewport, over the cell it edits.
    m_pCombo = new QComboBox(viewport());
    m_pCombo->setFont(font());
    m_pCombo->installEventFilter(this);
    connect(m_pCombo, qOverload<int>(&QComboBox::activated), this, &CSlidePlayList::OnEditorChosen);
    connect(header(), &QHeaderView::sectionResized, this, &CSlidePlayList::OnSectionResized);
    connect(this, &QTreeWidget::itemSelectionChanged, this, &CSlidePlayList::OnSelectionChanged);
    connect(horizontalScrollBar(), &QScrollBar::valueChanged, this, [this] { EndEdit(); });
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this] { EndEdit(); });
    // A press on the header also ends the editing.
    header()->viewport()->installEventFilter(this);
  }
  m_pCombo->hide();
  m_pCombo->setEnabled(false);
  const QFontMetrics metrics(font());
  m_nEffectWidth = m_nIntervalWidth = 0;
  for (int i = 0; i < PLAYLIST_EFFECT_COUNT; ++i)
    m_nEffectWidth = std::max(m_nEffectWidth, metrics.horizontalAdvance(PlayListEffectName(i)));
  for (int i = 0; i < PLAYLIST_INTERVAL_COUNT; ++i)
    m_nIntervalWidth = std::max(m_nIntervalWidth, metrics.horizontalAdvance(PlayListIntervalText(i)));
  m_strWorkFolder = GetCardWorkFolder();
}

void CSlidePlayList::SetRow(QTreeWidgetItem* item, const PlayListEntry& entry) {
  item->setText(0, QString::fromStdString(entry.displayName));
  item->setText(ColumnEffect, PlayListEffectName(entry.effect));
  item->setText(ColumnInterval, PlayListIntervalText(entry.interval));
  item->setTextAlignment(ColumnInterval, Qt::AlignRight | Qt::AlignVCenter);
  item->setData(0, RolePath, QString::fromStdString(entry.path));
  item->setData(0, RoleEffect, entry.effect);
  item->setData(0, RoleInterval, entry.interval);
}

int CSlidePlayList::AddEntry(const std::string* path, const std::string* effect, const std::string* interval,
                             int position) {
  PlayListEntry entry;
  if (!CheckPlayListEntry(path, effect, interval, &entry)) return -1;
  return InsertRow(entry, position);
}

int CSlidePlayList::InsertRow(const PlayListEntry& entry, int position) {
  const int row = position < 0 || position > topLevelItemCount() ? topLevelItemCount() : position;
  auto* item = new QTreeWidgetItem;
  SetRow(item, entry);
  insertTopLevelItem(row, item);
  return indexOfTopLevelItem(item);
}

int CSlidePlayList::ParseLine(const std::string& line) {
  PlayListEntry entry;
  return ParsePlayListLine(line, &entry) ? InsertRow(entry, -1) : -1;
}

void CSlidePlayList::PostLoadPlayList() {
  QMetaObject::invokeMethod(this, [this] { OnLoadPlayList(); }, Qt::QueuedConnection);
}

void CSlidePlayList::OnLoadPlayList() {
  PlayListParse parsed;
  {
    WaitCursor wait;
    if (!LoadPlayList(m_pAccess.get(), &parsed)) return;
    for (const PlayListEntry& entry : parsed.entries) InsertRow(entry, -1);
  }
  if (parsed.rejectedLine) CardMessageBoxText(kRejectedLines, MB_OK | MB_ICONEXCLAMATION);
}

int CSlidePlayList::SavePlayList() {
  EndEdit();
  PlayListSave result;
  {
    WaitCursor wait;
    result = ::SavePlayList(m_pAccess.get(), Entries());
  }
  if (result == PlayListSave::Failed) CardMessageBoxText(kRegisterFailed, MB_OK | MB_ICONERROR);
  return 1;
}

PlayListEntry CSlidePlayList::Entry(int row) const {
  PlayListEntry entry;
  const QTreeWidgetItem* item = topLevelItem(row);
  if (!item) return entry;
  entry.path = item->data(0, RolePath).toString().toStdString();
  entry.effect = item->data(0, RoleEffect).toInt();
  entry.interval = item->data(0, RoleInterval).toInt();
  entry.displayName = item->text(0).toStdString();
  return entry;
}

std::vector<PlayListEntry> CSlidePlayList::Entries() const {
  std::vector<PlayListEntry> out;
  for (int row = 0; row < topLevelItemCount(); ++row) out.push_back(Entry(row));
  return out;
}

std::vector<int> CSlidePlayList::SelectedRows() const {
  std::vector<int> rows;
  for (int row = 0; row < topLevelItemCount(); ++row)
    if (topLevelItem(row)->isSelected()) rows.push_back(row);
  return rows;
}

void CSlidePlayList::SwapRows(int first, int second) {
  QTreeWidgetItem* a = topLevelItem(first);
  QTreeWidgetItem* b = topLevelItem(second);
  if (!a || !b || a == b) return;
  EndEdit();
  const PlayListEntry ea = Entry(first);
  const PlayListEntry eb = Entry(second);
  SetRow(a, eb);
  SetRow(b, ea);
}

void CSlidePlayList::DeleteSelectedRows() {
  EndEdit();
  const std::vector<int> rows = SelectedRows();
  for (auto it = rows.rbegin(); it != rows.rend(); ++it) delete takeTopLevelItem(*it);
}

int CSlidePlayList::MinimumEditableWidth() const {
  return style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 2 * style()->pixelMetric(QStyle::PM_DefaultFrameWidth);
}

void CSlidePlayList::OnSectionResized(int column, int, int newSize) {
  if (column != ColumnEffect && column != ColumnInterval) return;
  const int minimum = MinimumEditableWidth();
  if (newSize < minimum) header()->resizeSection(column, minimum);
}

bool CSlidePlayList::BeginEdit(int row, int column) {
  QTreeWidgetItem* item = topLevelItem(row);
  if (!item || !m_pCombo || (column != ColumnEffect && column != ColumnInterval)) return false;
  m_nEditRow = row;
  m_nEditColumn = column;
  const QSignalBlocker block(m_pCombo);
  m_pCombo->clear();
  if (column == ColumnEffect) {
    for (int i = 0; i < PLAYLIST_EFFECT_COUNT; ++i) m_pCombo->addItem(PlayListEffectName(i));
    m_pCombo->setCurrentIndex(item->data(0, RoleEffect).toInt());
  } else {
    for (int i = 0; i < PLAYLIST_INTERVAL_COUNT; ++i) m_pCombo->addItem(PlayListIntervalText(i));
    m_pCombo->setCurrentIndex(item->data(0, RoleInterval).toInt());
  }
  const int textWidth = column == ColumnEffect ? m_nEffectWidth : m_nIntervalWidth;
  m_pCombo->view()->setMinimumWidth(textWidth + MinimumEditableWidth() * 2);
  // The cell's edges follow the column's, with the horizontal scroll taken in.
  const QRect cell = visualItemRect(item);
  const int left = header()->sectionViewportPosition(column);
  m_pCombo->setGeometry(left, cell.top(), header()->sectionSize(column),
                        std::max(cell.height(), m_pCombo->sizeHint().height()));
  m_pCombo->setEnabled(true);
  m_pCombo->show();
  m_pCombo->setFocus(Qt::MouseFocusReason);
  return true;
}

void CSlidePlayList::EndEdit() {
  if (!m_pCombo || !m_pCombo->isVisible()) return;
  m_pCombo->setEnabled(false);
  m_pCombo->hide();
  m_nEditRow = m_nEditColumn = -1;
}

void CSlidePlayList::OnEditorChosen(int index) {
  QTreeWidgetItem* item = topLevelItem(m_nEditRow);
  if (!item) return;
  const int count = m_nEditColumn == ColumnEffect ? PLAYLIST_EFFECT_COUNT : PLAYLIST_INTERVAL_COUNT;
  // An index outside the table is never stored: the written line would name
  // an effect the camera does not have.
  if (index < 0 || index >= count) return;
  item->setData(0, m_nEditColumn == ColumnEffect ? RoleEffect : RoleInterval, index);
  item->setText(m_nEditColumn, m_pCombo->itemText(index));
}

void CSlidePlayList::mousePressEvent(QMouseEvent* event) {
  setFocus(Qt::MouseFocusReason);
  QTreeWidget::mousePressEvent(event);
  if (event->button() != Qt::LeftButton) return;
  const QPoint at = event->position().toPoint();
  if (QTreeWidgetItem* item = itemAt(at)) BeginEdit(indexOfTopLevelItem(item), header()->logicalIndexAt(at.x()));
}

bool CSlidePlayList::eventFilter(QObject* watched, QEvent* event) {
  if (watched == m_pCombo && event->type() == QEvent::FocusOut) {
    // The drop-down's own pop-up takes the focus without ending the editing.
    if (static_cast<QFocusEvent*>(event)->reason() != Qt::PopupFocusReason) EndEdit();
  } else if (watched == header()->viewport() && event->type() == QEvent::MouseButtonPress) {
    setFocus(Qt::MouseFocusReason);
    EndEdit();
  }
  return QTreeWidget::eventFilter(watched, event);
}

void CSlidePlayList::OnSelectionChanged() {
  if (!m_Preview) return;
  const std::vector<int> rows = SelectedRows();
  if (rows.size() != 1) {
    m_Preview({}, false);
    return;
  }
  const std::string path = Entry(rows[0]).path;
  const std::string cache = PlayListCacheFile(m_strWorkFolder, path);
  if (!cache.empty() && LocalPathExists(cache))
    m_Preview(cache, true);
  else
    m_Preview(path, false);
}
