#include "SlidePlayList.h"

#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QFocusEvent>
#include <QHeaderView>
#include <QMouseEvent>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QStyleOptionHeader>
#include <QStyleOptionViewItem>

#include "CardFolders.h"
#include "CardHost.h"
#include "SDAccess.h"

namespace {

// Shown once when lines of the card's playlist had to be skipped.
const char kRejectedLines[] = "Some lines of the playlist in SD memory are not valid and were skipped.";
const char kRegisterFailed[] = "Unable to register playlist in SD memory.";

// Each column's share of the list's client width, in percent.
constexpr int kColumnShare[] = {48, 28, 20};

// The widest name a row can show: a DCF folder (three digits, five letters,
// digits or underscores), a backslash, a DCF file (four such characters,
// four digits) and ".JPG".
QString WidestDisplayName(const QFontMetrics& metrics) {
  auto widest = [&metrics](const QString& chars) {
    QChar best = chars[0];
    for (const QChar c : chars)
      if (metrics.horizontalAdvance(c) > metrics.horizontalAdvance(best)) best = c;
    return best;
  };
  const QChar digit = widest(QStringLiteral("0123456789"));
  const QChar free = widest(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_"));
  return QString(3, digit) + QString(5, free) + QLatin1Char('\\') + QString(4, free) + QString(4, digit) +
         QStringLiteral(".JPG");
}

int WidestText(const QFontMetrics& metrics, const char* (*text)(int), int count) {
  int widest = 0;
  for (int i = 0; i < count; ++i) widest = std::max(widest, metrics.horizontalAdvance(text(i)));
  return widest;
}

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
  setHeaderLabels(HeaderLabels());
  headerItem()->setTextAlignment(ColumnInterval, Qt::AlignRight | Qt::AlignVCenter);
  header()->setStretchLastSection(false);
  // The shares of the client width the list has been laid out with.
  const int width = viewport()->width();
  for (int column = 0; column < columnCount(); ++column) setColumnWidth(column, width * kColumnShare[column] / 100);

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
  m_nEffectWidth = WidestText(metrics, PlayListEffectName, PLAYLIST_EFFECT_COUNT);
  m_nIntervalWidth = WidestText(metrics, PlayListIntervalText, PLAYLIST_INTERVAL_COUNT);
  m_strWorkFolder = GetCardWorkFolder();
}

QStringList CSlidePlayList::HeaderLabels() { return {tr("FileName"), tr("Effect"), tr("Interval")}; }

int CSlidePlayList::CellWidth(const QString& text) const {
  QStyleOptionViewItem option;
  initViewItemOption(&option);
  option.features |= QStyleOptionViewItem::HasDisplay;
  option.text = text;
  return style()->sizeFromContents(QStyle::CT_ItemViewItem, &option, QSize(), this).width();
}

int CSlidePlayList::HeaderWidth(const QString& text) const {
  QStyleOptionHeader option;
  option.initFrom(header());
  option.text = text;
  return style()->sizeFromContents(QStyle::CT_HeaderSection, &option, QSize(), header()).width();
}

int CSlidePlayList::DropDownWidth(int textWidth) const {
  QStyleOptionComboBox option;
  option.initFrom(this);
  option.editable = false;
  const QFontMetrics metrics(font());
  return style()->sizeFromContents(QStyle::CT_ComboBox, &option, QSize(textWidth, metrics.height()), this).width();
}

int CSlidePlayList::ClientWidthForShares(const int (&need)[3]) {
  int client = 0;
  for (int column = 0; column < 3; ++column)
    client = std::max(client, (need[column] * 100 + kColumnShare[column] - 1) / kColumnShare[column]);
  return client;
}

QSize CSlidePlayList::sizeHint() const {
  // The client width whose shares show each column's widest text in full:
  // a DCF name, the drop-down with the widest effect or interval, the labels.
  const QFontMetrics metrics(font());
  const QStringList labels = HeaderLabels();
  const int need[] = {
      std::max(CellWidth(WidestDisplayName(metrics)), HeaderWidth(labels[0])),
      std::max(DropDownWidth(WidestText(metrics, PlayListEffectName, PLAYLIST_EFFECT_COUNT)), HeaderWidth(labels[1])),
      std::max(DropDownWidth(WidestText(metrics, PlayListIntervalText, PLAYLIST_INTERVAL_COUNT)),
               HeaderWidth(labels[2]))};
  return {ClientWidthForShares(need) + 2 * frameWidth(), QTreeWidget::sizeHint().height()};
}

QSize CSlidePlayList::minimumSizeHint() const {
  // On a screen too small for the texts they are elided; each share still
  // holds a drop-down's arrow.
  const int least = MinimumEditableWidth();
  const int need[] = {least, least, least};
  return {ClientWidthForShares(need) + 2 * frameWidth(), QTreeWidget::minimumSizeHint().height()};
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
    // The drop-down's own list takes the focus twice as it opens: first as a
    // pop-up, then its item view is focused with an ordinary reason. Neither
    // ends the editing; the focus comes back to the box when the list closes.
    const QWidget* list = m_pCombo->view() ? m_pCombo->view()->window() : nullptr;
    const QWidget* to = QApplication::focusWidget();
    const bool toOwnList = list && list != window() && to && (to == list || list->isAncestorOf(to));
    if (static_cast<QFocusEvent*>(event)->reason() != Qt::PopupFocusReason && !toOwnList) EndEdit();
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
