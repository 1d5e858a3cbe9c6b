#include "CardDialogs.h"

#include "Common/WindowHelpers.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "CardHost.h"
#include "Text/FotaviStrings.h"
#include "Common/TraceLog.h"
#include "DcfNameCheck.h"
#include "Platform/UiService.h"

// ------------------------------------------------------------ CCnvPlogressDlg

CProgressControls BuildProgressControls(QDialog* dialog) {
  dialog->setWindowTitle(QObject::tr("File Conversion"));
  CProgressControls c{};
  c.first = new QLabel(QObject::tr("Converting File..."), dialog);
  c.progress = new QProgressBar(dialog);
  c.progress->setRange(0, 100);
  c.progress->setTextVisible(false);
  c.second = new QLabel(QObject::tr("Number of converted files:"), dialog);
  c.count = new QLabel(QStringLiteral("0 / 0"), dialog);
  c.count->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  c.cancel = new QPushButton(QObject::tr("Cancel"), dialog);
  auto* layout = new QVBoxLayout(dialog);
  layout->addWidget(c.first);
  layout->addWidget(c.progress);
  auto* row = new QHBoxLayout;
  row->addWidget(c.second);
  row->addStretch(1);
  row->addWidget(c.count);
  layout->addLayout(row);
  layout->addWidget(c.cancel, 0, Qt::AlignHCenter);
  dialog->setMinimumWidth(340);
  return c;
}

CCnvPlogressDlg::CCnvPlogressDlg(QWidget* owner, int* running)
    : QDialog(owner), m_pRunning(running), m_pOwner(owner) {
  // A window of its owner's (so a modal owner does not block it), modeless.
  setModal(false);
  const CProgressControls controls = BuildProgressControls(this);
  m_pFirst = controls.first;
  m_pProgress = controls.progress;
  m_pSecond = controls.second;
  m_pCount = controls.count;
  m_pCancel = controls.cancel;
  connect(m_pCancel, &QPushButton::clicked, this, &CCnvPlogressDlg::reject);
}

CCnvPlogressDlg::~CCnvPlogressDlg() { Close(); }

int CCnvPlogressDlg::ShowDialog() {
  if (!m_pOwner) {
    TraceLog(TRC_PRE, "CCnvPlogressDlg::ShowDialog", "Internal error.");
    return 0;
  }
  // The owner's controls are disabled, not the owner itself: its windows,
  // this one included, must stay usable.
  for (QWidget* child : m_pOwner->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    if (child == this || child->isWindow() || !child->isEnabled()) continue;
    child->setEnabled(false);
    m_Disabled.emplace_back(child);
  }
  m_bShown = true;
  show();
  // Centred over the owner.
  const QRect owner = m_pOwner->window()->frameGeometry();
  move(owner.center() - rect().center());
  raise();
  return 1;
}

void CCnvPlogressDlg::SetText(const std::string& text) {
  if (m_bShown) m_pCount->setText(QString::fromStdString(text));
}

void CCnvPlogressDlg::SetPos(int position) { m_pProgress->setValue(std::clamp(position, 0, 100)); }

void CCnvPlogressDlg::SetCaption(const std::string& first, const std::string& second) {
  if (!first.empty()) m_pFirst->setText(QString::fromStdString(first));
  if (!second.empty()) m_pSecond->setText(QString::fromStdString(second));
}

int CCnvPlogressDlg::Pump() {
  if (QCoreApplication::closingDown()) {
    TraceLog(TRC_PRE, "CCnvPlogressDlg::Pump", "The error occurred with the [PumpMessage()] function.");
    Close();
    return 0;
  }
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  return 1;
}

void CCnvPlogressDlg::Close() {
  if (!m_bShown) return;
  m_bShown = false;
  for (const QPointer<QWidget>& child : m_Disabled)
    if (child) child->setEnabled(true);
  m_Disabled.clear();
  hide();
}

void CCnvPlogressDlg::reject() {
  if (m_pRunning) *m_pRunning = 0;
  Close();
}

void CCnvPlogressDlg::closeEvent(QCloseEvent* event) {
  reject();
  event->accept();
}

QString CCnvPlogressDlg::CountText() const { return m_pCount->text(); }
int CCnvPlogressDlg::Position() const { return m_pProgress->value(); }

// ------------------------------------------------------------ CTransErrDlg

CTransErrDlg::CTransErrDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(tr("File Transfer Error"));
  m_pLabel = new QLabel(tr("Transfering error list"), this);
  m_pTable = new QTreeWidget(this);
  m_pTable->setRootIsDecorated(false);
  m_pTable->setColumnCount(2);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(m_pLabel);
  layout->addWidget(m_pTable, 1);
  layout->addWidget(buttons);
  resize(520, 300);
}

void CTransErrDlg::showEvent(QShowEvent* event) {
  if (!m_bInitialised) OnInitDialog();
  QDialog::showEvent(event);
}

void CTransErrDlg::OnInitDialog() {
  m_bInitialised = true;
  if (!m_strTitle.empty()) setWindowTitle(QString::fromStdString(m_strTitle));
  if (!m_strLabel.empty()) m_pLabel->setText(QString::fromStdString(m_strLabel));
  m_pTable->setHeaderLabels({tr("File Name"), tr("Error Message")});
  m_pTable->header()->resizeSection(0, 230);
  m_pTable->header()->resizeSection(1, 250);
  FillList();
}

void CTransErrDlg::FillList() {
  m_pTable->clear();
  if (!m_pList) return;
  for (HGLOBAL entry : *m_pList) {
    auto* row = new QTreeWidgetItem(m_pTable);
    row->setText(0, QString::fromStdString(TransErrFileName(entry)));
    row->setText(1, QString::fromStdString(TransErrMessage(entry)));
  }
}

QString CTransErrDlg::LabelText() const { return m_pLabel->text(); }

// ------------------------------------------------------------ CCreateSDDialog

CCreateSDDialog::CCreateSDDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle(tr("Create New Folder"));
  auto* label = new QLabel(tr("&Name:"), this);
  m_pEdit = new QLineEdit(this);
  m_pEdit->setMaxLength(260);
  label->setBuddy(m_pEdit);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &CCreateSDDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  auto* row = new QHBoxLayout;
  row->addWidget(label);
  row->addWidget(m_pEdit, 1);
  layout->addLayout(row);
  layout->addWidget(buttons);
  FitWidthToCaption(this);
}

void CCreateSDDialog::accept() {
  m_strName = m_pEdit->text().toStdString();
  if (CDcfNameCheck().IsFolderName(m_strName)) {
    QDialog::accept();
    return;
  }
  CardMessageBox(IDS_BAD_FOLDER_NAME, MB_OK | MB_ICONWARNING);
}
