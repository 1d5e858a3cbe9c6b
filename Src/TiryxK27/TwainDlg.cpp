#include "TwainDlg.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QStyle>
#include <QVBoxLayout>

#include <mutex>
#include <string>

#include "DsGuiThread.h"
#include "DsStrings.h"

// ------------------------------------------------------------ camera button

CButtonCustom::CButtonCustom(int id, const QString& caption, QWidget* parent) : QPushButton(caption, parent), m_nId(id) {
  setAutoDefault(false);
  setFocusPolicy(Qt::TabFocus);
}

void CButtonCustom::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    m_PreviousFocus = QApplication::focusWidget();
    if (onPress) onPress(m_nId);
  }
  QPushButton::mousePressEvent(event);
}

void CButtonCustom::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    if (onRelease) onRelease(m_nId);
    QPushButton::mouseReleaseEvent(event);
    if (m_PreviousFocus) m_PreviousFocus->setFocus();
    return;
  }
  QPushButton::mouseReleaseEvent(event);
}

void CButtonCustom::mouseDoubleClickEvent(QMouseEvent* event) { mousePressEvent(event); }

// ------------------------------------------------------------ dialog

CTwainDlg::CTwainDlg(const TW_IDENTITY& identity, QWidget* parent) : QDialog(parent), m_Identity(identity) {
  setWindowTitle(QString::fromStdString(DsString(IDS_DS_CAPTION)));
  setObjectName("TiryxK27CaptureDialog");
  auto* top = new QHBoxLayout(this);

  auto* previewBox = new QGroupBox(tr("PREVIEW"), this);
  auto* previewLayout = new QVBoxLayout(previewBox);
  m_pPreview = new QLabel(previewBox);
  m_pPreview->setFixedSize(m_nPreviewWidth.load(), m_nPreviewHeight.load());
  m_pPreview->setAlignment(Qt::AlignCenter);
  m_pPreview->setStyleSheet("background: black;");
  m_pPreview->setObjectName("preview");
  previewLayout->addWidget(m_pPreview);
  top->addWidget(previewBox);

  auto* right = new QVBoxLayout;
  auto* controlBox = new QGroupBox(tr("CONTROL"), this);
  auto* controlLayout = new QGridLayout(controlBox);
  struct Cmd {
    int id;
    const char* caption;
    const char* icon;
    QStyle::StandardPixmap fallback;  // drawn by the style when the theme has no icon
  };
  const Cmd commands[] = {{IDC_TWAIN_STILL, "ST&ILL", "camera-photo", QStyle::SP_DialogSaveButton},
                          {IDC_TWAIN_PLAY, "&PLAY", "media-playback-start", QStyle::SP_MediaPlay},
                          {IDC_TWAIN_STOP, "&STOP", "media-playback-stop", QStyle::SP_MediaStop},
                          {IDC_TWAIN_TRANSFER, "&TRANSFER", "document-send", QStyle::SP_ArrowRight},
                          {IDC_TWAIN_CLOSE, "&CLOSE", "window-close", QStyle::SP_DialogCloseButton},
                          {IDC_TWAIN_ABOUT, "&ABOUT...", "help-about", QStyle::SP_MessageBoxInformation}};
  int index = 0;
  for (const auto& c : commands) {
    const QIcon icon = QIcon::fromTheme(c.icon, style()->standardIcon(c.fallback));
    auto* button = new QPushButton(icon, QString::fromUtf8(c.caption), controlBox);
    button->setAutoDefault(false);
    button->setObjectName(QString("control%1").arg(c.id));
    controlLayout->addWidget(button, index / 2, index % 2);
    m_Controls[c.id] = button;
    const int id = c.id;
    connect(button, &QPushButton::clicked, this, [this, id] { Command(id); });
    ++index;
  }
  right->addWidget(controlBox);

  struct Group {
    const char* title;
    std::initializer_list<int> ids;
  };
  const Group groups[] = {{"IRIS", {IDC_IRIS_OPEN, IDC_IRIS_CLOSE, IDC_IRIS_NORMAL}},
                          {"FOCUS", {IDC_FOCUS_NEAR, IDC_FOCUS_FAR, IDC_FOCUS_AUTO}},
                          {"ZOOM", {IDC_ZOOM_TELE, IDC_ZOOM_WIDE}}};
  for (const auto& group : groups) {
    auto* box = new QGroupBox(tr(group.title), this);
    auto* layout = new QHBoxLayout(box);
    for (int id : group.ids) {
      const CameraButtonInfo* info = FindCameraButton(id);
      auto* button = new CButtonCustom(id, QString::fromUtf8(info ? info->caption : "?"), box);
      button->setObjectName(QString("control%1").arg(id));
      button->onPress = [this](int control) {
        if (CCaptureCore* core = m_pCore.load()) core->OnCameraButtonPress(control);
      };
      button->onRelease = [this](int control) {
        if (CCaptureCore* core = m_pCore.load()) core->OnCameraButtonRelease(control);
      };
      layout->addWidget(button);
      m_Controls[id] = button;
    }
    right->addWidget(box);
  }
  right->addStretch(1);
  top->addLayout(right);
  m_Controls[IDC_TWAIN_STOP]->setEnabled(false);
  m_Controls[IDC_TWAIN_TRANSFER]->setEnabled(false);
}

CTwainDlg::~CTwainDlg() = default;

QPushButton* CTwainDlg::Control(int id) const {
  auto it = m_Controls.find(id);
  return it == m_Controls.end() ? nullptr : it->second;
}

template <typename Fn>
void CTwainDlg::Queue(Fn fn) {
  QPointer<CTwainDlg> self(this);
  QMetaObject::invokeMethod(this, [self, fn] {
    if (self) fn(self.data());
  }, Qt::QueuedConnection);
}

void CTwainDlg::EnableControl(int id, bool enable) {
  Queue([id, enable](CTwainDlg* d) {
    if (QPushButton* b = d->Control(id)) b->setEnabled(enable);
  });
}

void CTwainDlg::FocusControl(int id) {
  Queue([id](CTwainDlg* d) {
    if (QPushButton* b = d->Control(id)) b->setFocus();
  });
}

void CTwainDlg::ShowPreview(const CBitmap24& picture) {
  QImage copy = picture.copy();
  Queue([copy](CTwainDlg* d) {
    d->m_Shown = copy;
    d->m_pPreview->setPixmap(QPixmap::fromImage(copy));
  });
}

void CTwainDlg::PreviewSize(int* width, int* height) {
  if (width) *width = m_nPreviewWidth.load();
  if (height) *height = m_nPreviewHeight.load();
}

void CTwainDlg::ShowMessage(const std::string& text) {
  Queue([text](CTwainDlg*) { DsMessageBox(text); });
}

void CTwainDlg::OnDeviceArrived() {
  Queue([](CTwainDlg* d) {
    if (CCaptureCore* core = d->m_pCore.load()) core->OnDeviceArrived();
  });
}

void CTwainDlg::OnDeviceRemoved() {
  Queue([](CTwainDlg* d) {
    if (CCaptureCore* core = d->m_pCore.load()) core->OnDeviceRemoved();
  });
}

void CTwainDlg::Command(int id) {
  CCaptureCore* core = m_pCore.load();
  if (id == IDC_TWAIN_ABOUT) {
    ShowAbout();
    return;
  }
  if (!core) return;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  switch (id) {
    case IDC_TWAIN_STILL: core->OnStill(); break;
    case IDC_TWAIN_PLAY: core->OnPlay(); break;
    case IDC_TWAIN_STOP: core->OnStop(); break;
    case IDC_TWAIN_TRANSFER: core->OnTransfer(); break;
    case IDC_TWAIN_CLOSE: core->OnClose(); break;
    default: break;
  }
  QApplication::restoreOverrideCursor();
}

void CTwainDlg::ShowAbout() {
  if (m_pVersionBox) {
    m_pVersionBox->raise();
    m_pVersionBox->activateWindow();
    return;
  }
  // A child of the dialog, so it goes with it; driven by its own signals,
  // with no event loop of its own, so the source can take the dialog down
  // while the box is open.
  auto* box = new QDialog(this);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setObjectName("TiryxK27VersionBox");
  box->setWindowTitle(QString::fromStdString(DsString(IDS_DS_CAPTION)));
  auto* layout = new QVBoxLayout(box);
  auto* form = new QFormLayout;
  form->addRow(tr("Product Name"), new QLabel(QString::fromLatin1(m_Identity.ProductName), box));
  form->addRow(tr("Version"), new QLabel(QString::fromLatin1(m_Identity.Version.Info), box));
  form->addRow(tr("Company"), new QLabel(QString::fromLatin1(m_Identity.Manufacturer), box));
  layout->addLayout(form);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, box);
  connect(buttons, &QDialogButtonBox::accepted, box, &QDialog::accept);
  layout->addWidget(buttons);
  m_pVersionBox = box;
  box->open();
}

void CTwainDlg::closeEvent(QCloseEvent* event) {
  // Closing the window asks the application to close the source, like CLOSE.
  event->ignore();
  Command(IDC_TWAIN_CLOSE);
}

void CTwainDlg::reject() { Command(IDC_TWAIN_CLOSE); }

// ------------------------------------------------------------ the dialog for the state machine

namespace {

class CQtCaptureDialog : public ICaptureDialog {
 public:
  ~CQtCaptureDialog() override {
    CTwainDlg* dlg = m_pDlg;
    const unsigned limit = DsGuiCallLimit();
    const bool detached = !dlg || RunOnDsGuiThread([dlg] { dlg->SetCore(nullptr); }, limit);
    // The preview thread ends before the window goes, so it never talks to a
    // window that is being destroyed.
    if (m_pCore) m_pCore->StopLiveThread();
    CCaptureCore* core = m_pCore.release();
    if (detached) {
      delete core;
      // Captured by value: a late run still finds what it deletes.
      if (dlg) RunOnDsGuiThread([dlg] { delete dlg; }, limit);
    } else {
      // The GUI thread did not answer in time: it may be inside a command of
      // this dialog that uses the core, with more queued behind it. Both go
      // when it gets to them, after what it already has to do.
      RunOnDsGuiThread([dlg, core] {
        delete dlg;
        delete core;
      }, 0);
    }
  }

  bool Create(const CaptureDialogParams& p) {
    // The window is made on the GUI thread; when that does not answer in
    // time the late call finds the request given up and deletes its window.
    struct Made {
      std::mutex lock;
      CTwainDlg* dlg = nullptr;
      bool abandoned = false;
    };
    auto made = std::make_shared<Made>();
    const TW_IDENTITY identity = *p.identity;
    const unsigned limit = DsGuiCallLimit();
    RunOnDsGuiThread([made, identity] {
      auto* dlg = new CTwainDlg(identity);
      dlg->setAttribute(Qt::WA_DeleteOnClose, false);
      std::lock_guard<std::mutex> g(made->lock);
      if (made->abandoned) {
        delete dlg;
        return;
      }
      made->dlg = dlg;
    }, limit);
    {
      std::lock_guard<std::mutex> g(made->lock);
      m_pDlg = made->dlg;
      if (!m_pDlg) {
        made->abandoned = true;
        return false;
      }
    }
    m_pCore = std::make_unique<CCaptureCore>(p.link, p.image, p.owner, m_pDlg);
    CTwainDlg* dlg = m_pDlg;
    CCaptureCore* core = m_pCore.get();
    if (!core->Start()) return false;
    return RunOnDsGuiThread([dlg, core] {
      dlg->SetCore(core);
      dlg->show();
      dlg->raise();
      dlg->activateWindow();
    }, limit);
  }

  CCaptureCore* Core() override { return m_pCore.get(); }
  IDeviceLinkTarget* NotifyTarget() override { return m_pDlg; }

 private:
  CTwainDlg* m_pDlg = nullptr;
  std::unique_ptr<CCaptureCore> m_pCore;
};

}  // namespace

std::unique_ptr<ICaptureDialog> MakeQtCaptureDialog(const CaptureDialogParams& params) {
  auto dialog = std::make_unique<CQtCaptureDialog>();
  if (!dialog->Create(params)) return nullptr;
  return dialog;
}
