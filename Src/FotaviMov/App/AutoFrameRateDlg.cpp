#include "AutoFrameRateDlg.h"

#include <QCloseEvent>
#include <QDialogButtonBox>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

#include "FRMDlg.h"
#include "FotaviMovDoc.h"
#include "MovApp.h"
#include "MovFrameRules.h"
#include "MovResource.h"
#include "MovView.h"

CAutoFrameRateDlg::CAutoFrameRateDlg(CFotaviMovView* view, CFotaviMovDoc* doc, QWidget* parent)
    : QDialog(parent), m_pView(view), m_pDoc(doc) {
  setWindowTitle(QStringLiteral("Measuring the frame rate"));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(QStringLiteral("Recording for %1 seconds to find the highest frame rate ...")
                                   .arg(MEASURE_SECONDS)));
  m_pProgress = new QProgressBar(this);
  m_pProgress->setRange(0, 100);
  m_pProgress->setValue(0);
  m_pProgress->setTextVisible(false);
  layout->addWidget(m_pProgress);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::rejected, this, [this] { OnCancel(); });
  layout->addWidget(buttons);
  m_hWnd = CreateWindowTarget([this](HWND, UINT msg, WPARAM w, LPARAM l) { return WindowProc(msg, w, l); },
                              "AutoFrameRateDlg");
  m_Tick.setInterval(1000);
  connect(&m_Tick, &QTimer::timeout, this, [this] {
    if (m_nPosition < 100) {
      m_nPosition += 10;
      m_pProgress->setValue(m_nPosition);
      return;
    }
    // The result did not come within eleven seconds.
    OnCancel();
  });
  m_Finish.setSingleShot(true);
  m_Finish.setInterval(int(MEASURE_SECONDS * 1000));
  connect(&m_Finish, &QTimer::timeout, this, [this] { StopWithResult(); });
}

CAutoFrameRateDlg::~CAutoFrameRateDlg() {
  // WM_DESTROY: a test still running is stopped without a result.
  m_Tick.stop();
  m_Finish.stop();
  if (m_pView->IsRecording() && m_pView->GetMeasureWnd() == m_hWnd) {
    m_pView->StopMakeMovie(FALSE);
    m_pView->SetMeasureWnd(nullptr);
  }
  RestoreSize();
  if (m_hWnd) DestroyWindow(m_hWnd);
}

LRESULT CAutoFrameRateDlg::WindowProc(UINT msg, WPARAM wParam, LPARAM) {
  if (msg == WM_AUTOFRAMERATE_RESULT) OnResult(wParam);
  return 0;
}

int CAutoFrameRateDlg::DoModal() {
  if (!StartMeasurement()) {
    RestoreSize();
    return 0;
  }
  m_Tick.start();
  m_Finish.start();
  CControlDialog* counter = CFotaviMovApp::Instance() ? CFotaviMovApp::Instance()->GetControlDialog() : nullptr;
  if (counter) counter->BeginModal();
  if (!m_bDone) exec();
  if (counter) counter->EndModal();
  return int(m_dwResult);
}

BOOL CAutoFrameRateDlg::StartMeasurement() {
  if (m_pView->IsRecording() || m_pView->IsMovieOpen()) {
    MovMessageBox(IDS_MOV_INTERNAL_ERROR, MB_OK | MB_ICONEXCLAMATION);
    return FALSE;
  }
  m_pDoc->SetVideoSizeTemp(m_nWidth, m_nHeight);
  m_bRestore = true;
  m_pView->SetLiveSize();
  if (!m_pView->IsSemiAnimation() && !m_pView->StartSemiAnimation()) return FALSE;
  m_pView->SetMeasureWnd(m_hWnd);
  const std::string path = m_pView->CreateMeasurementFile();
  if (path.empty()) {
    m_pView->SetMeasureWnd(nullptr);
    MovMessageBox(IDS_MOV_INTERNAL_ERROR, MB_OK | MB_ICONEXCLAMATION);
    return FALSE;
  }
  MAKEMOVIEPARAM param;
  param.outputPath = path;
  param.frameRate = MEASURE_FRAME_RATE;
  param.maxFileSize = MEASURE_SPLIT_SIZE;
  param.recCondition = RECCOND_NONE;
  param.recLimit = 0;
  param.width = DWORD(m_nWidth);
  param.height = DWORD(m_nHeight);
  param.fileType = m_nFileType;
  param.profilePath = m_strProfile;
  param.videoQuality = m_dwQuality;
  if (!m_pView->StartMakeMovie(param)) {
    m_pView->SetMeasureWnd(nullptr);
    return FALSE;
  }
  m_bRunning = true;
  return TRUE;
}

void CAutoFrameRateDlg::StopWithResult() {
  m_pView->StopMakeMovie(TRUE);
  m_pView->SetMeasureWnd(nullptr);
  m_bRunning = false;
}

void CAutoFrameRateDlg::OnResult(WPARAM wParam) {
  auto* record = reinterpret_cast<MEASUREMENTRESULT*>(wParam);
  if (m_bCancelled || m_bDone) {
    delete record;
    return;
  }
  m_bRunning = false;
  if (!record) {
    Finish(0);
    return;
  }
  m_dwResult = MeasuredFrameRate(record->framesWritten, record->picturesReceived);
  delete record;
  if (m_pParentDlg) m_pParentDlg->SetFrameRate(std::to_string(m_dwResult));
  Finish(1);
}

void CAutoFrameRateDlg::RestoreSize() {
  if (!m_bRestore) return;
  m_bRestore = false;
  m_pDoc->RestoreVideoSize();
  m_pView->SetLiveSize();
}

void CAutoFrameRateDlg::Finish(int result) {
  m_Tick.stop();
  m_Finish.stop();
  RestoreSize();
  m_bDone = true;
  done(result);
}

void CAutoFrameRateDlg::OnCancel() {
  m_Tick.stop();
  m_Finish.stop();
  if (m_pView->GetMeasureWnd() == m_hWnd || m_bRunning) {
    m_pView->StopMakeMovie(FALSE);
    m_pView->SetMeasureWnd(nullptr);
  }
  m_bRunning = false;
  m_bCancelled = true;
  Finish(0);
}

void CAutoFrameRateDlg::closeEvent(QCloseEvent* event) {
  event->ignore();
  OnCancel();
}
