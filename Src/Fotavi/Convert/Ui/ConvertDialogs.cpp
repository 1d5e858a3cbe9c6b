#include "ConvertDialogs.h"

#include <QPointer>

#include <sys/stat.h>

#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QVBoxLayout>

#include <cerrno>

#include "App/Resource.h"
#include "CardDestination.h"
#include "CardDialogs.h"
#include "CardFileService.h"
#include "CardFolders.h"
#include "CardHost.h"
#include "Common/CommonFunc.h"
#include "Common/FileSelDlg.h"
#include "Common/TraceLog.h"
#include "Platform/Messages.h"
#include "Platform/Paths.h"
#include "SDAccess.h"
#include "SDTree.h"
#include "Text/FotaviStrings.h"

namespace {

constexpr const char* kInputFileValue = "CnvInputFileFolder";
constexpr const char* kInputFolderValue = "CnvInputFolder";
constexpr const char* kOutputValue = "CnvOutputFileFolder";
// The longest texts of the path edits, in characters (UTF-16 units).
constexpr const char* kSourceFilter = "PPT (*.ppt; *.pptx)|*.ppt; *.pptx|JPEG (*.jpg)|*.jpg|BMP (*.bmp)|*.bmp||";

// The presentation export's own folder, in the private cache folder: kept
// apart from the work folder, which the card tools empty when they open.
std::string GetPresentationFolder() {
  const std::string base = GetPrivateCacheFolder();
  return base.empty() ? std::string() : base + "FotaviK27_Office";
}

std::string StripSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

bool Stat(const std::string& path, struct stat* st) { return ::stat(path.c_str(), st) == 0; }

// The card check (0x8101) of the card destination; without a card its
// message (warning icon) and false.
bool CardReady() {
  CSDAccess access(CardHost().device);
  if (access.SD_GetStatus()) return true;
  CardMessageBox(CardFailureText(access.GetLastStatus()), MB_OK | MB_ICONWARNING);
  return false;
}

}  // namespace

// ------------------------------------------------------------ CPlogressDlg

CPlogressDlg::CPlogressDlg(QWidget* parent, CConvertWorker* worker) : QDialog(parent), m_pWorker(worker) {
  const CProgressControls controls = BuildProgressControls(this);
  m_pFirst = controls.first;
  m_pProgress = controls.progress;
  m_pSecond = controls.second;
  m_pCount = controls.count;
  m_pCancel = controls.cancel;
  connect(m_pCancel, &QPushButton::clicked, this, &CPlogressDlg::OnBnClickedCancel);
  // The end of the run comes as a platform message from the worker's host.
  m_hWnd = CreateWindowTarget(
      [this](HWND, UINT msg, WPARAM wParam, LPARAM) -> LRESULT {
        if (msg == WM_CONVERT_END) {
          done(static_cast<int>(wParam));
          return 0;
        }
        return 0;
      },
      "CPlogressDlg");
}

CPlogressDlg::~CPlogressDlg() {
  if (m_hWnd) DestroyWindow(m_hWnd);
}

void CPlogressDlg::SetTexts(const std::string& title, const std::string& first, const std::string& second) {
  if (!title.empty()) setWindowTitle(QString::fromStdString(title));
  if (!first.empty()) m_pFirst->setText(QString::fromStdString(first));
  if (!second.empty()) m_pSecond->setText(QString::fromStdString(second));
}

void CPlogressDlg::SetText(const std::string& text) {
  if (isVisible() && m_pWorker && m_pWorker->IsRunning() == 1) m_pCount->setText(QString::fromStdString(text));
}

void CPlogressDlg::SetPos(int position) {
  if (isVisible() && m_pWorker && m_pWorker->IsRunning() == 1) m_pProgress->setValue(std::clamp(position, 0, 100));
}

void CPlogressDlg::OnBnClickedCancel() {
  if (m_pWorker) m_pWorker->Cancel();
}

void CPlogressDlg::reject() { OnBnClickedCancel(); }

void CPlogressDlg::closeEvent(QCloseEvent* event) {
  // The dialog goes only when the worker has ended.
  OnBnClickedCancel();
  event->ignore();
}

void CPlogressDlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // Once per modal run: the showing after a minimise or any other hiding
  // changes nothing.
  if (!m_bStarted) OnInitDialog();
}

void CPlogressDlg::done(int result) {
  m_bStarted = false;
  QDialog::done(result);
}

void CPlogressDlg::OnInitDialog() {
  m_bStarted = true;
  if (QWidget* owner = parentWidget()) move(owner->window()->frameGeometry().center() - rect().center());
  if (!m_hWnd || !m_pWorker || !m_pWorker->Start()) {
    TraceLog(TRC_PRE, "CPlogressDlg::OnInitDialog", "The error occurred with the [AfxBeginThread()] function.");
    QMetaObject::invokeMethod(this, [this] { done(3); }, Qt::QueuedConnection);
  }
}

QString CPlogressDlg::CountText() const { return m_pCount->text(); }
int CPlogressDlg::Position() const { return m_pProgress->value(); }

// ------------------------------------------------------------ CConvertUiHost

void CConvertUiHost::SetProgressText(const std::string& text) {
  m_pDialog->PostToGui([dialog = m_pDialog, text] {
    if (CPlogressDlg* progress = dialog->Progress()) progress->SetText(text);
  });
}

void CConvertUiHost::SetProgressPos(int position) {
  m_pDialog->PostToGui([dialog = m_pDialog, position] {
    if (CPlogressDlg* progress = dialog->Progress()) progress->SetPos(position);
  });
}

void CConvertUiHost::ShowMessage(UINT stringId, UINT type) {
  m_pDialog->PostToGui([stringId, type] { CardMessageBoxText(FotaviText(stringId), MB_OK | type); });
}

void CConvertUiHost::ConvertEnd(int result) {
  CPlogressDlg* progress = m_pDialog->Progress();
  if (progress && PostMessage(progress->GetSafeHwnd(), WM_CONVERT_END, static_cast<WPARAM>(result), 0)) return;
  // Without its target the dialog is ended through the GUI thread's Qt queue.
  TraceLog(TRC_PRE, "CPptDlg::ConvertThreadProc", "The error occurred with the [PostMessage()] function.");
  m_pDialog->PostToGui([dialog = m_pDialog, result] {
    if (CPlogressDlg* p = dialog->Progress()) p->done(result);
  });
}

// ------------------------------------------------------------ CPptDlg

CPptDlg::CPptDlg(QWidget* parent) : QDialog(parent), m_Host(this) {
  setWindowTitle(tr("File Conversion"));
  m_pRadioFile = new QRadioButton(tr("&File select:"), this);
  m_pSourceFileEdit = new QLineEdit(this);
  m_pSourceFileEdit->setMaxLength(static_cast<int>(PATH_BUFFER_CHARS));
  m_pBrowseFile = new QPushButton(tr("&Browse..."), this);
  m_pRadioFolder = new QRadioButton(tr("Folder se&lect:"), this);
  m_pSourceFolderEdit = new QLineEdit(this);
  m_pSourceFolderEdit->setMaxLength(static_cast<int>(FOLDER_PATH_MAX));
  m_pBrowseFolder = new QPushButton(tr("B&rowse..."), this);
  m_pRadioLocal = new QRadioButton(tr("Loc&al Folder:"), this);
  m_pOutputEdit = new QLineEdit(this);
  m_pOutputEdit->setMaxLength(static_cast<int>(FOLDER_PATH_MAX));
  m_pBrowseOut = new QPushButton(tr("Bro&wse..."), this);
  m_pRadioSD = new QRadioButton(tr("S&D:"), this);
  m_pSDEdit = new QLineEdit(this);
  m_pSDEdit->setReadOnly(true);
  m_pSDEdit->setMaxLength(static_cast<int>(PATH_BUFFER_CHARS));
  m_pBrowseSD = new QPushButton(tr("Brows&e..."), this);
  m_pConvert = new QPushButton(tr("Con&vert"), this);
  m_pConvert->setDefault(true);
  m_pClose = new QPushButton(tr("Close"), this);

  auto* source = new QGroupBox(tr("&Source"), this);
  auto* sourceGrid = new QGridLayout(source);
  sourceGrid->addWidget(m_pRadioFile, 0, 0);
  sourceGrid->addWidget(m_pSourceFileEdit, 0, 1);
  sourceGrid->addWidget(m_pBrowseFile, 0, 2);
  sourceGrid->addWidget(m_pRadioFolder, 1, 0);
  sourceGrid->addWidget(m_pSourceFolderEdit, 1, 1);
  sourceGrid->addWidget(m_pBrowseFolder, 1, 2);
  sourceGrid->setColumnStretch(1, 1);
  auto* destination = new QGroupBox(tr("Des&tination"), this);
  auto* destinationGrid = new QGridLayout(destination);
  destinationGrid->addWidget(m_pRadioLocal, 0, 0);
  destinationGrid->addWidget(m_pOutputEdit, 0, 1);
  destinationGrid->addWidget(m_pBrowseOut, 0, 2);
  destinationGrid->addWidget(m_pRadioSD, 1, 0);
  destinationGrid->addWidget(m_pSDEdit, 1, 1);
  destinationGrid->addWidget(m_pBrowseSD, 1, 2);
  destinationGrid->setColumnStretch(1, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(m_pConvert);
  buttons->addWidget(m_pClose);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(source);
  layout->addWidget(destination);
  layout->addLayout(buttons);
  setMinimumWidth(520);

  connect(m_pRadioFile, &QRadioButton::clicked, this, &CPptDlg::OnBnClickedRadioFile);
  connect(m_pRadioFolder, &QRadioButton::clicked, this, &CPptDlg::OnBnClickedRadioFolder);
  connect(m_pRadioLocal, &QRadioButton::clicked, this, &CPptDlg::OnBnClickedRadioLocal);
  connect(m_pRadioSD, &QRadioButton::clicked, this, &CPptDlg::OnBnClickedRadioSD);
  connect(m_pBrowseFile, &QPushButton::clicked, this, &CPptDlg::OnBtnRefIn);
  connect(m_pBrowseFolder, &QPushButton::clicked, this, &CPptDlg::OnBtnRefInFolder);
  connect(m_pBrowseOut, &QPushButton::clicked, this, &CPptDlg::OnBtnRefOut);
  connect(m_pBrowseSD, &QPushButton::clicked, this, &CPptDlg::OnBnClickedBtnRefOutsd);
  connect(m_pConvert, &QPushButton::clicked, this, &CPptDlg::OnOK);
  connect(m_pClose, &QPushButton::clicked, this, &CPptDlg::OnBnClickedCancel);

  const CJpeg codec = CardHost().codec ? *CardHost().codec : CJpeg();
  m_pWorker = std::make_unique<CConvertWorker>(GetCardWorkFolder(), GetPresentationFolder(), &m_Host, codec);
  m_pProgress = new CPlogressDlg(this, m_pWorker.get());
  m_pProgress->SetTexts("File Conversion", "Converting File...", "Number of converted files:");
}

CPptDlg::~CPptDlg() {
  // A worker still running ends before anything it reports to goes.
  m_pWorker->Cancel();
  m_pWorker->Join();
  m_pWorker->FreeErrorList();
}

void CPptDlg::done(int result) {
  // The next modal run reads the paths again; a minimise and restore within
  // this one does not.
  m_bInitialised = false;
  QDialog::done(result);
  // The window of this run is gone: the main frame resumes the live monitor.
  if (CardHost().mainWnd) PostMessage(CardHost().mainWnd, WM_RESUME_LIVE, 0, 0);
}

void CPptDlg::PostToGui(std::function<void()> call) {
  QMetaObject::invokeMethod(this, std::move(call), Qt::QueuedConnection);
}

void CPptDlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!m_bInitialised) OnInitDialog();
}

void CPptDlg::OnInitDialog() {
  m_bInitialised = true;
  m_pWorker->FreeErrorList();
  m_strSourceFile.clear();
  m_strOutputFolder.clear();
  m_strSourceFolder.clear();
  m_strSDFolder.clear();
  m_strSDFolderText.clear();
  const CRegOperation reg;
  m_strSourceFile = reg.GetProfileString(HKEY_CURRENT_USER, REG_KEY_PRESENTATION, REG_SECTION_IMAGE, kInputFileValue, "");
  m_strSourceFolder =
      reg.GetProfileString(HKEY_CURRENT_USER, REG_KEY_PRESENTATION, REG_SECTION_IMAGE, kInputFolderValue, "");
  m_strOutputFolder = reg.GetProfileString(HKEY_CURRENT_USER, REG_KEY_PRESENTATION, REG_SECTION_IMAGE, kOutputValue, "");
  UpdateData(false);
}

void CPptDlg::UpdateData(bool fromControls) {
  if (fromControls) {
    m_strSourceFile = m_pSourceFileEdit->text().toStdString();
    m_strSourceFolder = m_pSourceFolderEdit->text().toStdString();
    m_strOutputFolder = m_pOutputEdit->text().toStdString();
    m_strSDFolderText = m_pSDEdit->text().toStdString();
    m_bFileMode = m_pRadioFile->isChecked();
    m_bLocalOutput = m_pRadioLocal->isChecked();
  } else {
    m_pSourceFileEdit->setText(QString::fromStdString(m_strSourceFile));
    m_pSourceFolderEdit->setText(QString::fromStdString(m_strSourceFolder));
    m_pOutputEdit->setText(QString::fromStdString(m_strOutputFolder));
    m_pSDEdit->setText(QString::fromStdString(m_strSDFolderText));
    m_pRadioFile->setChecked(m_bFileMode);
    m_pRadioFolder->setChecked(!m_bFileMode);
    m_pRadioLocal->setChecked(m_bLocalOutput);
    m_pRadioSD->setChecked(!m_bLocalOutput);
    EnableSourceControls();
    EnableOutputControls();
  }
}

void CPptDlg::EnableSourceControls() {
  m_pSourceFileEdit->setEnabled(m_bFileMode);
  m_pBrowseFile->setEnabled(m_bFileMode);
  m_pSourceFolderEdit->setEnabled(!m_bFileMode);
  m_pBrowseFolder->setEnabled(!m_bFileMode);
}

void CPptDlg::EnableOutputControls() {
  m_pOutputEdit->setEnabled(m_bLocalOutput);
  m_pBrowseOut->setEnabled(m_bLocalOutput);
  m_pSDEdit->setEnabled(!m_bLocalOutput);
  m_pBrowseSD->setEnabled(!m_bLocalOutput);
}

void CPptDlg::OnBnClickedRadioFile() {
  m_bFileMode = true;
  m_pRadioFile->setChecked(true);
  EnableSourceControls();
}

void CPptDlg::OnBnClickedRadioFolder() {
  m_bFileMode = false;
  m_pRadioFolder->setChecked(true);
  EnableSourceControls();
}

void CPptDlg::OnBnClickedRadioLocal() {
  m_bLocalOutput = true;
  m_pRadioLocal->setChecked(true);
  EnableOutputControls();
}

void CPptDlg::OnBnClickedRadioSD() {
  m_bLocalOutput = false;
  m_pRadioSD->setChecked(true);
  EnableOutputControls();
}

void CPptDlg::OnBtnRefIn() {
  UpdateData(true);
  std::string initialFolder;
  std::string buffer;
  const std::string current = StripSlash(m_strSourceFile);
  struct stat st;
  if (!current.empty() && Stat(current, &st)) {
    if (S_ISDIR(st.st_mode)) initialFolder = current;
    else buffer = current;
  } else {
    initialFolder = GetMyDocumentsPath();
  }
  CFileSelDlg dialog(true, "PPT", {}, OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, kSourceFilter, nullptr);
  // A start file picks the filter of its kind (presentations for any other).
  if (!buffer.empty()) {
    const CConvertWorker::SourceKind kind = CConvertWorker::KindOf(buffer);
    dialog.SetFilterIndex(kind == CConvertWorker::KIND_JPEG ? 1 : kind == CConvertWorker::KIND_BMP ? 2 : 0);
  }
  // The box answers later, by a call back; the dialog may have gone by then.
  QPointer<CPptDlg> self(this);
  dialog.Open(nullptr, initialFolder.empty() ? nullptr : initialFolder.c_str(), &buffer, 261, CardHost().counter,
              [self](int result, const std::string& chosen) {
                if (!self) return;
                if (result == IDOK) {
                  self->m_strSourceFile = chosen;
                  self->UpdateData(false);
                } else if (result != IDCANCEL) {
                  TraceLog(TRC_PRE, "CPptDlg::OnBtnRefIn", "The error occurred with the [DoModal()] function. Return Code[%d]",
                           result);
                  self->done(3);
                }
              });
}

void CPptDlg::ChooseFolderInto(std::string CPptDlg::*value) {
  UpdateData(true);
  QPointer<CPptDlg> self(this);
  OpenSelectFolder(nullptr, this->*value, CardHost().counter, [self, value](int result, const std::string& folder) {
    if (!self || result != 1) return;
    self.data()->*value = folder;
    self->UpdateData(false);
  });
}

void CPptDlg::OnBtnRefInFolder() { ChooseFolderInto(&CPptDlg::m_strSourceFolder); }
void CPptDlg::OnBtnRefOut() { ChooseFolderInto(&CPptDlg::m_strOutputFolder); }

void CPptDlg::OnBnClickedBtnRefOutsd() {
  UpdateData(true);
  if (!CardReady()) return;
  auto* dialog = new CFTransTreeDlg(this);
  // The box answers later, by a call back; this dialog may have gone by then.
  QPointer<CPptDlg> self(this);
  CardOpenModal(dialog, [self, dialog](int result) {
    if (!self) return;
    if (result == QDialog::Accepted) {
      self->m_strSDFolder = dialog->GetSelectedPath();
      // No drive of this computer is named like the card's: the path is shown whole.
      self->m_strSDFolderText = self->m_strSDFolder;
      self->UpdateData(false);
    } else if (result != QDialog::Rejected) {
      TraceLog(TRC_PRE, "CPptDlg::OnBnClickedBtnRefOutsd",
               "The error occurred with the [DoModal()] function. Return Code[%d]", result);
      self->done(3);
    }
  });
}

void CPptDlg::OnBnClickedCancel() {
  if (m_bRunning) return;
  UpdateData(true);
  const CRegOperation reg;
  reg.WriteProfileString(HKEY_CURRENT_USER, REG_KEY_PRESENTATION, REG_SECTION_IMAGE, kInputFileValue, m_strSourceFile);
  reg.WriteProfileString(HKEY_CURRENT_USER, REG_KEY_PRESENTATION, REG_SECTION_IMAGE, kInputFolderValue,
                         m_strSourceFolder);
  reg.WriteProfileString(HKEY_CURRENT_USER, REG_KEY_PRESENTATION, REG_SECTION_IMAGE, kOutputValue, m_strOutputFolder);
  QDialog::reject();
}

void CPptDlg::reject() { OnBnClickedCancel(); }
void CPptDlg::accept() { OnOK(); }

void CPptDlg::Warn(UINT stringId, QWidget* focus) {
  if (focus) focus->setFocus();
  CardMessageBoxText(FotaviText(stringId), MB_OK | MB_ICONWARNING);
}

int CPptDlg::CheckSourcePath(const std::string& path, bool fileMode) {
  if (path.empty()) return PATH_EMPTY;
  // Paths here have no drive part: the source must be an absolute path.
  const std::string p = StripSlash(path);
  if (p.front() != '/') return PATH_NOT_AVAILABLE;
  struct stat st;
  if (!Stat(p, &st)) return PATH_NOT_AVAILABLE;
  if (fileMode ? !S_ISREG(st.st_mode) : !S_ISDIR(st.st_mode)) return PATH_NOT_AVAILABLE;
  return PATH_OK;
}

int CPptDlg::CheckDirPath(std::string* path) {
  if (path->empty()) return PATH_EMPTY;
  if (WideLength(*path) > FOLDER_PATH_MAX) return PATH_NOT_AVAILABLE;
  *path = AddBackslash(*path);
  if (path->front() != '/') return PATH_NOT_AVAILABLE;
  // Walk from the root one level at a time; ask once at the first one missing.
  bool asked = false;
  for (size_t at = path->find('/', 1); at != std::string::npos; at = path->find('/', at + 1)) {
    const std::string level = path->substr(0, at);
    struct stat st;
    if (Stat(level, &st)) {
      if (!S_ISDIR(st.st_mode)) return PATH_NOT_AVAILABLE;
      continue;
    }
    if (!asked) {
      asked = true;
      if (CardMessageBoxText(FotaviText(IDS_CREATE_FOLDER_QUESTION), MB_OKCANCEL | MB_ICONINFORMATION) != IDOK)
        return PATH_DECLINED;
    }
    if (::mkdir(level.c_str(), 0755) != 0) {
      TraceLog(TRC_PRE, "CPptDlg::CheckDirPath",
               "The error occurred with the [CreateDirectory()] function. GetLastError=[0x%08X]",
               static_cast<unsigned>(errno));
      return PATH_CREATE_FAILED;
    }
  }
  return PATH_OK;
}

int CPptDlg::CheckInput() {
  const std::string& source = m_bFileMode ? m_strSourceFile : m_strSourceFolder;
  QWidget* sourceEdit = m_bFileMode ? m_pSourceFileEdit : m_pSourceFolderEdit;
  switch (CheckSourcePath(source, m_bFileMode)) {
    case PATH_OK: break;
    case PATH_EMPTY: Warn(IDS_NO_SOURCE_FILE, sourceEdit); return 0;
    default: Warn(IDS_BAD_SOURCE_FILE, sourceEdit); return 0;
  }
  int destination = PATH_OK;
  QWidget* destinationEdit = m_pOutputEdit;
  if (m_bLocalOutput) {
    destination = CheckDirPath(&m_strOutputFolder);
  } else {
    destinationEdit = m_pSDEdit;
    if (m_strSDFolder.empty()) destination = PATH_EMPTY;
  }
  switch (destination) {
    case PATH_OK: break;
    case PATH_EMPTY: Warn(IDS_NO_DESTINATION, destinationEdit); return 0;
    case PATH_NOT_AVAILABLE: Warn(IDS_OUTPUT_FOLDER_NA, destinationEdit); return 0;
    case PATH_DECLINED: return 0;
    case PATH_CREATE_FAILED:
    default: Warn(IDS_CREATE_FOLDER_FAILED, destinationEdit); return 0;
  }
  if (!m_bFileMode && m_bLocalOutput) {
    const QString in = QString::fromStdString(AddBackslash(m_strSourceFolder));
    const QString out = QString::fromStdString(AddBackslash(m_strOutputFolder));
    if (in.compare(out, Qt::CaseInsensitive) == 0) {
      Warn(IDS_SAME_FOLDER, m_pSourceFolderEdit);
      return 0;
    }
  }
  return 1;
}

void CPptDlg::OnOK() {
  if (m_bRunning) return;
  UpdateData(true);
  if (!CheckInput()) return;
  UpdateData(false);
  std::unique_ptr<CSDCardFileService> card;
  std::unique_ptr<IConvertDestination> destination;
  if (m_bLocalOutput) {
    destination = std::make_unique<CLocalDestination>(m_strOutputFolder);
  } else {
    if (!CardReady()) return;
    card = std::make_unique<CSDCardFileService>(CardHost().device);
    destination = std::make_unique<CCardDestination>(card.get(), m_strSDFolder, GetCardWorkFolder());
  }
  CConvertWorker& worker = *m_pWorker;
  worker.FreeErrorList();
  worker.SetFileMode(m_bFileMode);
  worker.SetSourceFile(m_strSourceFile);
  worker.SetSourceFolder(m_strSourceFolder);
  worker.SetDestination(destination.get());

  m_bRunning = true;
  if (onProgressOpen) onProgressOpen(m_pProgress);
  CardBeginModal();
  const int result = m_pProgress->exec();
  CardEndModal();
  // The worker's last act was to post the end: it is ending or has ended.
  worker.Join();
  worker.SetDestination(nullptr);
  m_bRunning = false;
  if (result == 1 || result == 2) {
    ShowErrorList();
  } else {
    TraceLog(TRC_PRE, "CPptDlg::OnOK", "The error occurred with the [DoModal()] function. Return Code[%d]", result);
    CardMessageBoxText(FotaviText(IDS_INTERNAL_ERROR), MB_OK | MB_ICONERROR);
    worker.FreeErrorList();
  }
}

void CPptDlg::ShowErrorList() {
  CConvertWorker& worker = *m_pWorker;
  if (!worker.IsFatal() && !worker.GetErrorList().empty()) {
    CTransErrDlg dialog(this);
    dialog.SetTitle("File Conversion");
    dialog.SetLabel("Error list");
    dialog.SetErrorList(&worker.GetErrorList());
    CardRunModal(&dialog);
  }
  worker.FreeErrorList();
}
