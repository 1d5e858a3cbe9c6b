#include "FTransDlg.h"

#include <QPointer>
#include "App/Resource.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "CardDialogs.h"
#include "CardHost.h"
#include "Text/FotaviStrings.h"
#include "Common/CommonFunc.h"
#include "Common/TraceLog.h"
#include "FileTransfer.h"
#include "Platform/Messages.h"
#include "Platform/UiService.h"
#include "SDTree.h"

namespace {
constexpr const char* kSrcValue = "TransSrcFolder";
}  // namespace

CFTransDlg::CFTransDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(tr("File transfer"));
  m_pSrcEdit = new QLineEdit(this);
  m_pDstEdit = new QLineEdit(this);
  m_pDstEdit->setReadOnly(true);
  m_pBrowseFrom = new QPushButton(tr("&Browse..."), this);
  m_pBrowseTo = new QPushButton(tr("B&rowse..."), this);
  m_pTransfer = new QPushButton(tr("&Transfer"), this);
  m_pClose = new QPushButton(tr("Close"), this);
  m_pTransfer->setDefault(true);
  auto* srcLabel = new QLabel(tr("&Source folder"), this);
  srcLabel->setBuddy(m_pSrcEdit);
  auto* dstLabel = new QLabel(tr("&Destination folder"), this);
  dstLabel->setBuddy(m_pDstEdit);
  auto* grid = new QGridLayout(this);
  grid->addWidget(srcLabel, 0, 0, 1, 2);
  grid->addWidget(m_pSrcEdit, 1, 0);
  grid->addWidget(m_pBrowseFrom, 1, 1);
  grid->addWidget(dstLabel, 2, 0, 1, 2);
  grid->addWidget(m_pDstEdit, 3, 0);
  grid->addWidget(m_pBrowseTo, 3, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(m_pTransfer);
  buttons->addWidget(m_pClose);
  grid->addLayout(buttons, 4, 0, 1, 2);
  grid->setColumnStretch(0, 1);
  setMinimumWidth(460);
  connect(m_pBrowseFrom, &QPushButton::clicked, this, &CFTransDlg::OnBnClickedBtnFrom);
  connect(m_pBrowseTo, &QPushButton::clicked, this, &CFTransDlg::OnBnClickedBtnTo);
  connect(m_pTransfer, &QPushButton::clicked, this, &CFTransDlg::OnTransfer);
  connect(m_pClose, &QPushButton::clicked, this, &CFTransDlg::reject);
}

CFTransDlg::~CFTransDlg() {
  delete m_pProgress;
  if (CardHost().mainWnd) PostMessage(CardHost().mainWnd, WM_RESUME_LIVE, 0, 0);
}

void CFTransDlg::Clear() {
  m_strSrcFolder.clear();
  m_strSDFolder.clear();
  m_strDstFolder.clear();
  UpdateData(false);
}

void CFTransDlg::LoadSettings() {
  m_strSrcFolder =
      CRegOperation().GetProfileString(HKEY_CURRENT_USER, REG_KEY_PRESENTATION, REG_SECTION_IMAGE, kSrcValue, "");
  UpdateData(false);
}

void CFTransDlg::UpdateData(bool fromControls) {
  if (fromControls) {
    m_strSrcFolder = m_pSrcEdit->text().toStdString();
    m_strDstFolder = m_pDstEdit->text().toStdString();
  } else {
    m_pSrcEdit->setText(QString::fromStdString(m_strSrcFolder));
    m_pDstEdit->setText(QString::fromStdString(m_strDstFolder));
  }
}

void CFTransDlg::OnBnClickedBtnFrom() {
  UpdateData(true);
  // The box answers later, by a call back; the dialog may have gone by then.
  QPointer<CFTransDlg> self(this);
  OpenSelectFolder(nullptr, m_strSrcFolder, CardHost().counter, [self](int result, const std::string& chosen) {
    if (!self || result != 1) return;
    std::string folder = chosen;
    if (folder.size() > 260) folder.resize(260);
    self->m_strSrcFolder = folder;
    self->UpdateData(false);
  });
}

void CFTransDlg::OnBnClickedBtnTo() {
  UpdateData(true);
  auto* dialog = new CFTransTreeDlg(this);
  // The box answers later, by a call back; this dialog may have gone by then.
  QPointer<CFTransDlg> self(this);
  CardOpenModal(dialog, [self, dialog](int result) {
    if (!self) return;
    if (result == QDialog::Accepted) {
      self->m_strSDFolder = dialog->GetSelectedPath();
      // The card path is shown whole: there are no drives on this computer
      // whose letter could be taken off.
      self->m_strDstFolder = self->m_strSDFolder;
      self->UpdateData(false);
    } else if (result != QDialog::Rejected) {
      TraceLog(TRC_PRE, "CFTransDlg::OnBnClickedBtnTo",
               "The error occurred with the [DoModal()] function. Return Code[%d]", result);
      CardMessageBox(IDS_INTERNAL_ERROR, MB_OK | MB_ICONERROR);
    }
  });
}

void CFTransDlg::OnTransfer() {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  UpdateData(true);
  const bool ok = CheckInput();
  QApplication::restoreOverrideCursor();
  if (ok) TransFiles();
}

BOOL CFTransDlg::CheckInput() {
  const int folder = CFileTransfer::CheckFolder(m_strSrcFolder);
  if (folder != CFileTransfer::FOLDER_OK) {
    CardMessageBox(folder == CFileTransfer::FOLDER_EMPTY ? IDS_NO_SOURCE_FOLDER : IDS_BAD_SOURCE_FOLDER,
                   MB_OK | MB_ICONWARNING);
    m_pSrcEdit->setFocus();
    return FALSE;
  }
  if (m_strSDFolder.empty()) {
    CardMessageBox(IDS_NO_DESTINATION_FOLDER, MB_OK | MB_ICONWARNING);
    m_pDstEdit->setFocus();
    return FALSE;
  }
  return TRUE;
}

void CFTransDlg::closeEvent(QCloseEvent* event) {
  if (m_bTransferring) {
    event->ignore();
    return;
  }
  QDialog::closeEvent(event);
}

void CFTransDlg::reject() {
  if (m_bTransferring) return;
  UpdateData(true);
  CRegOperation().WriteProfileString(HKEY_CURRENT_USER, REG_KEY_PRESENTATION, REG_SECTION_IMAGE, kSrcValue,
                                     m_strSrcFolder);
  QDialog::reject();
}

void CFTransDlg::EnableControls(bool enable) {
  for (QPushButton* b : {m_pTransfer, m_pClose, m_pBrowseFrom, m_pBrowseTo}) b->setEnabled(enable);
}

int CFTransDlg::TransFiles() {
  CFileTransfer transfer(CardHost().device);
  switch (transfer.Prepare(m_strSrcFolder, m_strSDFolder)) {
    case CFileTransfer::PREPARE_NO_CARD:
      CardMessageBox(IDS_NO_SDCARD, MB_OK | MB_ICONERROR);
      return 0;
    case CFileTransfer::PREPARE_ACCESS_ERROR:
      CardMessageBox(IDS_SD_ACCESS, MB_OK | MB_ICONWARNING);
      return 0;
    case CFileTransfer::PREPARE_DUPLICATE:
      CardMessageBoxText(FormatFotaviText(FotaviText(IDS_SAME_FILE_NAME), m_strSrcFolder, m_strDstFolder),
                         MB_OK | MB_ICONWARNING);
      return 0;
    case CFileTransfer::PREPARE_NO_FILES:
      CardMessageBox(IDS_NOTHING_TO_TRANSFER, MB_OK | MB_ICONWARNING);
      return 0;
    case CFileTransfer::PREPARE_READY: break;
  }

  EnableControls(false);
  m_bTransferring = true;
  int running = 1;
  CardBeginModal();
  const size_t total = transfer.Names().size();
  m_pProgress = new CCnvPlogressDlg(this, &running);
  m_pProgress->SetCaption("Transferring files...", "Number of transferred files");
  m_pProgress->setWindowTitle(tr("Transfer image to SD Memory"));
  m_pProgress->SetText("0 / " + std::to_string(total));
  m_pProgress->SetPos(0);
  m_pProgress->ShowDialog();

  CErrorList errors;
  CFileTransfer::Hooks hooks;
  hooks.running = [&] { return running != 0; };
  hooks.progress = [&](size_t done, size_t all, int position) {
    if (!m_pProgress) return;
    m_pProgress->SetText(std::to_string(done) + " / " + std::to_string(all));
    m_pProgress->SetPos(position);
    m_pProgress->Pump();
  };
  hooks.cardGone = [&] {
    delete m_pProgress;
    m_pProgress = nullptr;
    CardMessageBox(IDS_NO_SDCARD, MB_OK | MB_ICONERROR);
  };
  transfer.Run(hooks, &errors);
  delete m_pProgress;
  m_pProgress = nullptr;

  if (!errors.empty()) {
    CTransErrDlg dialog(this);
    dialog.SetTitle("Transfer Error");
    dialog.SetLabel("Error list");
    dialog.SetErrorList(&errors);
    CardRunModal(&dialog);
  }
  CardEndModal();
  m_bTransferring = false;
  EnableControls(true);
  FreeTransErrList(&errors);
  return 1;
}
