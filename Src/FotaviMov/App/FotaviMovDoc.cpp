#include "FotaviMovDoc.h"

#include <new>

#include "Common/TraceLog.h"
#include "FRMDlg.h"
#include "MovApp.h"
#include "MovResource.h"

CFotaviMovDoc::CFotaviMovDoc(QWidget* mainWindow) {
  static const char* const kLog = "CFotaviMovDoc::CFotaviMovDoc";
  m_Settings.ReadFromRegistry();
  try {
    m_pDialog = std::make_unique<CFRMDlg>(mainWindow);
  } catch (const std::bad_alloc&) {
    TraceLogMemory(TRC_MOV, kLog, "CFRMDlg");
    MovMessageBox(IDS_MOV_NO_RESOURCES);
  }
}

CFotaviMovDoc::~CFotaviMovDoc() = default;

HWND CFotaviMovDoc::GetSettingWnd() const { return m_pDialog ? m_pDialog->GetSafeHwnd() : nullptr; }

void CFotaviMovDoc::LoadDialog() {
  CFRMDlg& d = *m_pDialog;
  const CRecSettings& s = m_Settings;
  d.m_dwCurrentRate = s.dwFrameRate;
  d.m_strFrameRate = std::to_string(static_cast<long>(s.dwFrameRate));
  d.m_strOutputFileName = s.strOutputFileName;
  d.m_dwSplitBytes = s.dwMaxFileSize;
  d.m_strSplit = std::to_string(s.dwMaxFileSize >> 20);
  d.m_dwSeconds = s.dwRecSecond;
  d.m_dwMinutes = s.dwRecMinute;
  d.m_dwCapacity = s.dwRecCapacity;
  d.m_dwVideoSize = s.dwVideoSize;
  d.m_dwLimit = s.dwRecCondition;
  d.m_dwCompress = s.dwCompress;
  d.m_strProfile = s.strProfileFileName;
  for (int i = 0; i < VIDEOSIZE_COUNT; ++i) {
    d.m_dwAviRate[i] = s.dwAviRate[i];
    d.m_dwWmvRate[i] = s.dwWmvRate[i];
    d.m_dwWmvQuality[i] = s.dwWmvQuality[i];
  }
  d.m_dwCurrentQuality = s.dwVideoQuality;
  if (s.dwRecCondition != RECCOND_NONE) {
    d.m_strMinutes = std::to_string(s.dwRecMinute);
    d.m_strSeconds = std::to_string(s.dwRecSecond);
    d.m_strCapacity = std::to_string(s.dwRecCapacity);
  }
}

void CFotaviMovDoc::TakeDialog() {
  const CFRMDlg& d = *m_pDialog;
  CRecSettings& s = m_Settings;
  s.dwFrameRate = d.m_dwCurrentRate;
  s.strOutputFileName = d.m_strOutputFileName;
  s.dwMaxFileSize = d.m_dwSplitBytes;
  s.dwRecSecond = d.m_dwSeconds;
  s.dwRecMinute = d.m_dwMinutes;
  s.dwRecCapacity = d.m_dwCapacity;
  s.dwVideoWidth = DWORD(d.m_nOutputWidth);
  s.dwVideoHeight = DWORD(d.m_nOutputHeight);
  s.dwCompress = d.m_dwCompress;
  s.strProfileFileName = d.m_strProfile;
  for (int i = 0; i < VIDEOSIZE_COUNT; ++i) {
    s.dwAviRate[i] = d.m_dwAviRate[i];
    s.dwWmvRate[i] = d.m_dwWmvRate[i];
    s.dwWmvQuality[i] = d.m_dwWmvQuality[i];
  }
  s.dwVideoSize = d.m_dwVideoSize;
  s.dwVideoQuality = d.m_dwCurrentQuality;
  s.dwRecCondition = d.m_dwLimit;
  s.GetRecLimit();
}

DWORD CFotaviMovDoc::SaveDialogInfo() {
  if (!m_pDialog) return m_Settings.dwIsSetting;
  if (m_Settings.dwIsSetting == 1) LoadDialog();
  m_pDialog->m_nCameraWidth = m_Settings.nCameraWidth;
  m_pDialog->m_nCameraHeight = m_Settings.nCameraHeight;
  if (m_pDialog->DoModal() != IDOK) return m_Settings.dwIsSetting;
  TakeDialog();
  m_Settings.dwIsSetting = 1;
  WriteRecInt(recreg::kIsSetting, 1);
  if (m_LiveResize) m_LiveResize();
  return m_Settings.dwIsSetting;
}
