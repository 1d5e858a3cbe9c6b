// The capture dialog's window: a thin Qt dialog over CCaptureCore. It lives
// on the data source's Qt GUI thread (DsGuiThread.h).
#pragma once

#include <QDialog>
#include <QImage>
#include <QPointer>
#include <QPushButton>

#include <atomic>
#include <functional>
#include <map>
#include <memory>

#include "CaptureCore.h"
#include "Twain.h"
#include "TwainDS.h"

class QLabel;

// A camera button: press and release send the camera's commands.
class CButtonCustom : public QPushButton {
  Q_OBJECT
 public:
  CButtonCustom(int id, const QString& caption, QWidget* parent);
  int ControlId() const { return m_nId; }
  std::function<void(int)> onPress;
  std::function<void(int)> onRelease;

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  int m_nId;
  QPointer<QWidget> m_PreviousFocus;
};

class CTwainDlg : public QDialog, public ICaptureView, public IDeviceLinkTarget {
  Q_OBJECT
 public:
  CTwainDlg(const TW_IDENTITY& identity, QWidget* parent = nullptr);
  ~CTwainDlg() override;

  void SetCore(CCaptureCore* core) { m_pCore.store(core); }
  QPushButton* Control(int id) const;
  QLabel* Preview() const { return m_pPreview; }
  QImage ShownPicture() const { return m_Shown; }

  // ICaptureView: queued onto the dialog's thread.
  void EnableControl(int id, bool enable) override;
  void FocusControl(int id) override;
  void ShowPreview(const CBitmap24& picture) override;
  void PreviewSize(int* width, int* height) override;
  void ShowMessage(const std::string& text) override;
  // IDeviceLinkTarget: queued onto the dialog's thread.
  void OnDeviceArrived() override;
  void OnDeviceRemoved() override;

  // The version box: opened over the dialog and closed with it; a second
  // ABOUT while it is open brings it to the front.
  void ShowAbout();
  QDialog* VersionBox() const { return m_pVersionBox; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

 private:
  template <typename Fn>
  void Queue(Fn fn);
  void Command(int id);

  TW_IDENTITY m_Identity;
  std::atomic<CCaptureCore*> m_pCore{nullptr};
  std::map<int, QPushButton*> m_Controls;
  QLabel* m_pPreview = nullptr;
  QImage m_Shown;
  std::atomic<int> m_nPreviewWidth{320};
  std::atomic<int> m_nPreviewHeight{240};
  QPointer<QDialog> m_pVersionBox;
};

// The factory the data source uses for its capture dialog.
std::unique_ptr<ICaptureDialog> MakeQtCaptureDialog(const CaptureDialogParams& params);
