#include "MovPlayback.h"

#include <QWidget>

#include <new>

#include "Common/TraceLog.h"
#include "MovApp.h"
#include "MovResource.h"
#include "MovieVideoWindow.h"
#include "SliderDialogBar.h"

CMovPlayback::~CMovPlayback() {
  if (m_pPlayer) {
    m_pPlayer->Uninitialize();
    m_pPlayer.reset();
  }
}

BOOL CMovPlayback::Open(const std::string& path) {
  static const char* const kLog = "CFotaviMovView::MovieInitialize";
  if (m_pPlayer) return TRUE;
  try {
    m_pPlayer = std::make_unique<CMoviePlay>();
    if (!m_pVideo) {
      m_pVideo = new CMovieVideoWindow(m_pView);
      m_pVideo->SetPositionTick([this] {
        if (m_pPlayer) m_pPlayer->UpdatePosition();
      });
    }
  } catch (const std::bad_alloc&) {
    TraceLogMemory(TRC_MOV, kLog, "CMoviePlay");
    MovMessageBox(IDS_MOV_NO_RESOURCES);
    m_pPlayer.reset();
    return FALSE;
  }
  m_pVideo->setGeometry(m_pView->rect());
  m_pVideo->show();
  const MOVIERESULT hr =
      m_pPlayer->Initialize(m_hViewWnd, m_pSlider ? m_pSlider->GetSafeHwnd() : nullptr, m_pVideo, path);
  if (hr >= 0) {
    if (m_pSlider) m_pSlider->SetView(m_pSeekTarget);
    return TRUE;
  }
  if (hr == MOVIE_E_OUTOFMEMORY) MovMessageBox(IDS_MOV_NO_RESOURCES);
  else if (hr == MOVIERESULT(0x8004020Bu)) MovMessageBox(IDS_MOV_INTERNAL_ERROR);
  else MovMessageBox(IDS_MOV_INVALID_FILE);
  Close();
  return FALSE;
}

void CMovPlayback::Play(const std::string& path) {
  if (path.empty()) {
    MovMessageBox(IDS_MOV_INTERNAL_ERROR);
    Close();
    return;
  }
  if (!m_pPlayer && !Open(path)) return;
  if (m_pPlayer->Play() >= 0) {
    if (m_pSlider) m_pSlider->EnableSlider(true);
    return;
  }
  MovMessageBox(IDS_MOV_PLAY_ERROR);
  Close();
}

void CMovPlayback::Pause() {
  if (m_pPlayer && m_pPlayer->Pause() < 0) MovMessageBox(IDS_MOV_PAUSE_ERROR);
}

void CMovPlayback::Stop() {
  if (m_pPlayer && m_pPlayer->Stop() < 0) MovMessageBox(IDS_MOV_STOP_ERROR);
}

void CMovPlayback::Seek(int percent, UINT mouseMessage) {
  if (m_pPlayer) m_pPlayer->Seek(percent, mouseMessage);
}

void CMovPlayback::Close() {
  if (m_pPlayer) {
    m_pPlayer->Uninitialize();
    m_pPlayer.reset();
    if (m_pSlider) {
      m_pSlider->SetPosition(0);
      m_pSlider->EnableSlider(false);
    }
  }
  if (m_pVideo) m_pVideo->hide();
}

QSize CMovPlayback::NativeSize() const {
  if (!m_pPlayer || m_pPlayer->GetVideoWidth() <= 0 || m_pPlayer->GetVideoHeight() <= 0) return {};
  return {m_pPlayer->GetVideoWidth(), m_pPlayer->GetVideoHeight()};
}

void CMovPlayback::SetShownSize(QSize size) {
  if (m_pPlayer) m_pPlayer->SetVideoWindowSize(size.width(), size.height());
}

QSize CMovPlayback::ShownSize() const {
  if (!m_pPlayer) return {};
  return {m_pPlayer->GetShownWidth(), m_pPlayer->GetShownHeight()};
}

void CMovPlayback::HandleGraphEvent() {
  if (m_pPlayer) m_pPlayer->HandleGraphEvent();
}

void CMovPlayback::OnViewResized(QSize size) {
  if (m_pVideo) m_pVideo->setGeometry(QRect(QPoint(0, 0), size));
}
