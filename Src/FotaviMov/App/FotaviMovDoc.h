// The one document of the movie program: the recording settings read from
// "RecSection" when it is made, the sizes and profile derived from them, and
// the movie chosen for playback. It owns the settings dialog and runs it
// (SaveDialogInfo). It is never saved to a file.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "RecSettings.h"

class CFRMDlg;
class QWidget;

class CFotaviMovDoc {
 public:
  // Reads the settings (writing `MaxReqCount` back) and makes the settings
  // dialog with `mainWindow` as its parent.
  explicit CFotaviMovDoc(QWidget* mainWindow = nullptr);
  ~CFotaviMovDoc();
  CFotaviMovDoc(const CFotaviMovDoc&) = delete;
  CFotaviMovDoc& operator=(const CFotaviMovDoc&) = delete;

  // Runs the settings dialog; returns the settings-confirmed value afterwards.
  DWORD SaveDialogInfo();
  BOOL SetVideoSize(int cameraWidth, int cameraHeight) { return m_Settings.SetVideoSize(cameraWidth, cameraHeight); }
  std::string GetProfile(DWORD videoSize) const { return GetProfilePath(videoSize); }
  uint64_t GetRecLimit() { return m_Settings.GetRecLimit(); }
  void SetMoviePath(const std::string& path) { m_Settings.strMoviePath = path.substr(0, MOV_PATH_MAX); }
  std::string GetMoviePath() const { return m_Settings.strMoviePath; }
  void SetVideoSizeTemp(int width, int height) { m_Settings.SetVideoSizeTemp(width, height); }
  void RestoreVideoSize() { m_Settings.RestoreVideoSize(); }
  // The settings dialog's window while it is shown, NULL otherwise.
  HWND GetSettingWnd() const;
  CFRMDlg* GetSettingDialog() const { return m_pDialog.get(); }
  // Called after every confirmed dialog, since the output size may have
  // changed; the view resizes the live picture when it runs (SetLiveSize).
  void SetLiveResizeHandler(std::function<void()> handler) { m_LiveResize = std::move(handler); }

  DWORD GetFrameRate() const { return m_Settings.dwFrameRate; }
  DWORD GetMaxFileSize() const { return m_Settings.dwMaxFileSize; }
  DWORD GetRecCondition() const { return m_Settings.dwRecCondition; }
  DWORD GetVideoQuality() const { return m_Settings.dwVideoQuality; }
  DWORD GetVideoWidth() const { return m_Settings.dwVideoWidth; }
  DWORD GetVideoHeight() const { return m_Settings.dwVideoHeight; }
  int GetCameraWidth() const { return m_Settings.nCameraWidth; }
  int GetCameraHeight() const { return m_Settings.nCameraHeight; }
  DWORD GetCompress() const { return m_Settings.dwCompress; }
  DWORD GetIsSetting() const { return m_Settings.dwIsSetting; }
  DWORD GetMaxReqCount() const { return m_Settings.dwMaxReqCount; }
  const std::string& GetOutputFileName() const { return m_Settings.strOutputFileName; }
  const std::string& GetProfileFileName() const { return m_Settings.strProfileFileName; }
  const CRecSettings& GetSettings() const { return m_Settings; }

 private:
  void LoadDialog();
  void TakeDialog();

  CRecSettings m_Settings;
  std::unique_ptr<CFRMDlg> m_pDialog;
  std::function<void()> m_LiveResize;
};
