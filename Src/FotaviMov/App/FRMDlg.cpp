#include "FRMDlg.h"

#include <QPointer>

#include <QButtonGroup>
#include <QCloseEvent>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "Common/CommonFunc.h"
#include "Common/FilePath.h"
#include "Common/TraceLog.h"
#include "MovApp.h"
#include "MovResource.h"
#include "Platform/UiService.h"

namespace {

// Sets a flag for the life of a scope.
class CUpdateGuard {
 public:
  explicit CUpdateGuard(bool* flag) : m_pFlag(flag), m_bOld(*flag) { *flag = true; }
  ~CUpdateGuard() { *m_pFlag = m_bOld; }

 private:
  bool* m_pFlag;
  bool m_bOld;
};

QLineEdit* MakeEdit(int maxLength, bool rightAligned) {
  auto* edit = new QLineEdit;
  if (maxLength > 0) edit->setMaxLength(maxLength);
  if (rightAligned) edit->setAlignment(Qt::AlignRight);
  return edit;
}

}  // namespace

CFRMDlg::CFRMDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Recording settings"));
  BuildControls();
}

CFRMDlg::~CFRMDlg() {
  if (m_hWnd) DestroyWindow(m_hWnd);
}

void CFRMDlg::BuildControls() {
  auto* output = MakeEdit(int(MOV_PATH_MAX), false);
  output->setReadOnly(true);
  output->setMinimumWidth(320);
  auto* browse = new QPushButton(QStringLiteral("..."));
  auto* freeSpace = MakeEdit(0, true);
  freeSpace->setReadOnly(true);
  auto* split = MakeEdit(4, true);
  auto* avi = new QRadioButton(QStringLiteral("&AVI (no compression)"));
  auto* wmv = new QRadioButton(QStringLiteral("&WMV"));
  auto* size25 = new QRadioButton(QStringLiteral("&1  25%"));
  auto* size50 = new QRadioButton(QStringLiteral("&2  50%"));
  auto* size100 = new QRadioButton(QStringLiteral("&3  100%"));
  auto* quality = MakeEdit(3, true);
  auto* rate = MakeEdit(2, true);
  auto* autoRate = new QPushButton(QStringLiteral("Maximum value"));
  auto* noLimit = new QRadioButton(QStringLiteral("&Don't care"));
  auto* byTime = new QRadioButton(QStringLiteral("&Time"));
  auto* byCapacity = new QRadioButton(QStringLiteral("&Capacity"));
  auto* minutes = MakeEdit(FRM_FIELD_DIGITS, true);
  auto* seconds = MakeEdit(FRM_FIELD_DIGITS, true);
  auto* capacity = MakeEdit(FRM_FIELD_DIGITS, true);
  m_Controls = {{IDC_FRM_OUTPUT, output},   {IDC_FRM_BROWSE, browse},     {IDC_FRM_FREESPACE, freeSpace},
                {IDC_FRM_SPLIT, split},     {IDC_FRM_AVI, avi},           {IDC_FRM_WMV, wmv},
                {IDC_FRM_SIZE25, size25},   {IDC_FRM_SIZE50, size50},     {IDC_FRM_SIZE100, size100},
                {IDC_FRM_QUALITY, quality}, {IDC_FRM_RATE, rate},         {IDC_FRM_AUTO, autoRate},
                {IDC_FRM_NOLIMIT, noLimit}, {IDC_FRM_TIME, byTime},       {IDC_FRM_CAPACITY_RADIO, byCapacity},
                {IDC_FRM_MINUTES, minutes}, {IDC_FRM_SECONDS, seconds},   {IDC_FRM_CAPACITY, capacity}};
  for (auto& [id, widget] : m_Controls) widget->setObjectName(QStringLiteral("IDC_%1").arg(id));

  m_pCompression = new QButtonGroup(this);
  m_pCompression->addButton(avi, int(COMPRESS_AVI));
  m_pCompression->addButton(wmv, int(COMPRESS_WMV));
  m_pSize = new QButtonGroup(this);
  m_pSize->addButton(size25, int(VIDEOSIZE_25));
  m_pSize->addButton(size50, int(VIDEOSIZE_50));
  m_pSize->addButton(size100, int(VIDEOSIZE_100));
  m_pLimit = new QButtonGroup(this);
  m_pLimit->addButton(noLimit, int(RECCOND_NONE));
  m_pLimit->addButton(byTime, int(RECCOND_TIME));
  m_pLimit->addButton(byCapacity, int(RECCOND_CAPACITY));

  auto* file = new QGridLayout;
  file->addWidget(new QLabel(QStringLiteral("Output file")), 0, 0);
  file->addWidget(output, 0, 1);
  file->addWidget(browse, 0, 2);
  file->addWidget(new QLabel(QStringLiteral("Free space")), 1, 0);
  file->addWidget(freeSpace, 1, 1);
  file->addWidget(new QLabel(QStringLiteral("MB")), 1, 2);
  file->addWidget(new QLabel(QStringLiteral("Maximum divided file size")), 2, 0);
  file->addWidget(split, 2, 1);
  file->addWidget(new QLabel(QStringLiteral("MB")), 2, 2);

  auto* compressionBox = new QGroupBox(QStringLiteral("Compression"));
  auto* compressionLayout = new QVBoxLayout(compressionBox);
  compressionLayout->addWidget(avi);
  compressionLayout->addWidget(wmv);
  auto* sizeBox = new QGroupBox(QStringLiteral("Output video size"));
  auto* sizeLayout = new QVBoxLayout(sizeBox);
  sizeLayout->addWidget(size25);
  sizeLayout->addWidget(size50);
  sizeLayout->addWidget(size100);
  auto* choices = new QHBoxLayout;
  choices->addWidget(compressionBox);
  choices->addWidget(sizeBox);

  auto* video = new QGridLayout;
  auto* qualityLabel = new QLabel(QStringLiteral("Video &Quality(1-100)"));
  qualityLabel->setBuddy(quality);
  video->addWidget(qualityLabel, 0, 0);
  video->addWidget(quality, 0, 1);
  auto* rateLabel = new QLabel(QStringLiteral("&Frame Rate(1-20)[fps]"));
  rateLabel->setBuddy(rate);
  video->addWidget(rateLabel, 1, 0);
  video->addWidget(rate, 1, 1);
  video->addWidget(autoRate, 1, 2);

  auto* limitBox = new QGroupBox(QStringLiteral("Recording limit options"));
  auto* limitLayout = new QGridLayout(limitBox);
  limitLayout->addWidget(noLimit, 0, 0);
  limitLayout->addWidget(byTime, 1, 0);
  limitLayout->addWidget(minutes, 1, 1);
  limitLayout->addWidget(new QLabel(QStringLiteral("m")), 1, 2);
  limitLayout->addWidget(seconds, 1, 3);
  limitLayout->addWidget(new QLabel(QStringLiteral("s")), 1, 4);
  limitLayout->addWidget(byCapacity, 2, 0);
  limitLayout->addWidget(capacity, 2, 1);
  limitLayout->addWidget(new QLabel(QStringLiteral("MB")), 2, 2);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(file);
  layout->addLayout(choices);
  layout->addLayout(video);
  layout->addWidget(limitBox);
  layout->addWidget(buttons);

  connect(buttons, &QDialogButtonBox::accepted, this, [this] { OnBnClickedOk(); });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(browse, &QPushButton::clicked, this, [this] { OnBnClickedButtonBrowse(); });
  connect(autoRate, &QPushButton::clicked, this, [this] { OnBnClickedButtonAuto(); });
  connect(m_pCompression, &QButtonGroup::idClicked, this, [this](int) { OnCompressionChanged(); });
  connect(m_pSize, &QButtonGroup::idClicked, this, [this](int) { OnSizeChanged(); });
  connect(m_pLimit, &QButtonGroup::idClicked, this, [this](int) { OnLimitChanged(); });
  connect(rate, &QLineEdit::textChanged, this, [this] { OnRateChanged(); });
  connect(minutes, &QLineEdit::textChanged, this, [this] { OnTimeChanged(); });
  connect(seconds, &QLineEdit::textChanged, this, [this] { OnTimeChanged(); });
  connect(capacity, &QLineEdit::textChanged, this, [this] { OnCapacityChanged(); });
  connect(split, &QLineEdit::textChanged, this, [this] { OnSplitChanged(); });
  autoRate->setEnabled(false);
}

QWidget* CFRMDlg::Control(int id) const {
  const auto it = m_Controls.find(id);
  return it == m_Controls.end() ? nullptr : it->second;
}

void CFRMDlg::SetText(int id, const std::string& text) {
  if (auto* edit = qobject_cast<QLineEdit*>(Control(id))) edit->setText(QString::fromStdString(text));
}

std::string CFRMDlg::Text(int id) const {
  const auto* edit = qobject_cast<const QLineEdit*>(Control(id));
  return edit ? edit->text().toStdString() : std::string();
}

void CFRMDlg::SetChecked(QButtonGroup* group, DWORD value) {
  if (QAbstractButton* button = group->button(int(value))) button->setChecked(true);
}

void CFRMDlg::SetMeasureHandler(std::function<void(CFRMDlg*)> handler) {
  m_MeasureHandler = std::move(handler);
  Control(IDC_FRM_AUTO)->setEnabled(m_MeasureHandler != nullptr);
}

int CFRMDlg::DoModal() {
  m_hWnd = CreateWindowTarget([this](HWND, UINT msg, WPARAM w, LPARAM l) { return WindowProc(msg, w, l); },
                              "Recording settings");
  OnInitDialog();
  const int result = exec() == QDialog::Accepted ? IDOK : IDCANCEL;
  if (m_hWnd) DestroyWindow(m_hWnd);
  m_hWnd = nullptr;
  return result;
}

LRESULT CFRMDlg::WindowProc(UINT msg, WPARAM, LPARAM) {
  if (msg == WM_CLOSE) close();
  return 0;
}

void CFRMDlg::closeEvent(QCloseEvent* event) {
  if (m_bMeasuring && m_MeasureCancel) m_MeasureCancel();
  event->accept();
  reject();
}

void CFRMDlg::OnInitDialog() {
  CUpdateGuard guard(&m_bUpdating);
  SetChecked(m_pCompression, m_dwCompress);
  SetChecked(m_pSize, m_dwVideoSize);
  SetChecked(m_pLimit, m_dwLimit);
  m_strOutputFileName = PlaceOutputName(m_strOutputFileName, GetMyDocumentsPath());
  SetText(IDC_FRM_OUTPUT, m_strOutputFileName);
  SetText(IDC_FRM_RATE, m_strFrameRate);
  SetText(IDC_FRM_MINUTES, m_strMinutes);
  SetText(IDC_FRM_SECONDS, m_strSeconds);
  SetText(IDC_FRM_CAPACITY, m_strCapacity);
  m_strQuality = std::to_string(m_dwCurrentQuality);
  if (m_dwCompress == COMPRESS_WMV) {
    m_strSplit.clear();
    m_strSplitSaved.clear();
  } else {
    m_strQuality.clear();
    m_strSplitSaved = m_strSplit;
  }
  SetText(IDC_FRM_QUALITY, m_strQuality);
  SetText(IDC_FRM_SPLIT, m_strSplit);
  EnableRecLimitItems();
  EnableCompressionItems();
  SetEmptyCapacity();
}

FRMFIELDS CFRMDlg::ReadFields() const {
  FRMFIELDS f;
  f.strRate = Text(IDC_FRM_RATE);
  f.strQuality = Text(IDC_FRM_QUALITY);
  f.strMinutes = Text(IDC_FRM_MINUTES);
  f.strSeconds = Text(IDC_FRM_SECONDS);
  f.strCapacity = Text(IDC_FRM_CAPACITY);
  f.strSplit = Text(IDC_FRM_SPLIT);
  f.dwCompress = DWORD(m_pCompression->checkedId() < 0 ? 0 : m_pCompression->checkedId());
  f.dwVideoSize = DWORD(m_pSize->checkedId() < 0 ? 0 : m_pSize->checkedId());
  f.dwLimit = DWORD(m_pLimit->checkedId() < 0 ? 0 : m_pLimit->checkedId());
  return f;
}

void CFRMDlg::EnableRecLimitItems() {
  CUpdateGuard guard(&m_bUpdating);
  const DWORD limit = DWORD(m_pLimit->checkedId());
  if (limit == RECCOND_TIME || limit == RECCOND_CAPACITY) {
    Control(IDC_FRM_MINUTES)->setEnabled(limit == RECCOND_TIME);
    Control(IDC_FRM_SECONDS)->setEnabled(limit == RECCOND_TIME);
    Control(IDC_FRM_CAPACITY)->setEnabled(limit == RECCOND_CAPACITY);
    return;
  }
  for (int id : {IDC_FRM_MINUTES, IDC_FRM_SECONDS, IDC_FRM_CAPACITY}) {
    SetText(id, {});
    Control(id)->setEnabled(false);
  }
}

void CFRMDlg::EnableCompressionItems() {
  const bool avi = m_pCompression->checkedId() != int(COMPRESS_WMV);
  Control(IDC_FRM_CAPACITY_RADIO)->setEnabled(avi);
  Control(IDC_FRM_SPLIT)->setEnabled(avi);
  Control(IDC_FRM_QUALITY)->setEnabled(!avi);
}

void CFRMDlg::ShowRateAndQuality() {
  CUpdateGuard guard(&m_bUpdating);
  const int size = m_pSize->checkedId() < 0 ? int(VIDEOSIZE_50) : m_pSize->checkedId();
  if (m_pCompression->checkedId() == int(COMPRESS_WMV)) {
    m_dwCurrentRate = m_dwWmvRate[size];
    m_dwCurrentQuality = m_dwWmvQuality[size];
    SetText(IDC_FRM_QUALITY, std::to_string(m_dwCurrentQuality));
    SetText(IDC_FRM_SPLIT, {});
  } else {
    SetText(IDC_FRM_QUALITY, {});
    SetText(IDC_FRM_SPLIT, m_strSplitSaved.empty() ? std::string("1024") : m_strSplitSaved);
    m_dwCurrentRate = m_dwAviRate[size];
  }
  SetText(IDC_FRM_RATE, std::to_string(m_dwCurrentRate));
}

void CFRMDlg::OnCompressionChanged() {
  if (m_pCompression->checkedId() == int(COMPRESS_WMV) && m_pLimit->checkedId() == int(RECCOND_CAPACITY)) {
    SetChecked(m_pLimit, RECCOND_NONE);
    EnableRecLimitItems();
  }
  EnableCompressionItems();
  ShowRateAndQuality();
  if (m_pLimit->checkedId() == int(RECCOND_TIME)) ConvertTimeToCapacity();
  FixOutputExtension();
}

void CFRMDlg::OnSizeChanged() {
  ShowRateAndQuality();
  if (m_pLimit->checkedId() == int(RECCOND_TIME)) ConvertTimeToCapacity();
  if (m_pLimit->checkedId() == int(RECCOND_CAPACITY)) ConvertCapacityToTime();
}

void CFRMDlg::OnLimitChanged() { EnableRecLimitItems(); }

void CFRMDlg::OnRateChanged() {
  if (m_bUpdating) return;
  if (m_pLimit->checkedId() == int(RECCOND_TIME)) ConvertTimeToCapacity();
  if (m_pLimit->checkedId() == int(RECCOND_CAPACITY)) ConvertCapacityToTime();
}

void CFRMDlg::OnTimeChanged() {
  if (!m_bUpdating) ConvertTimeToCapacity();
}

void CFRMDlg::OnCapacityChanged() {
  if (!m_bUpdating) ConvertCapacityToTime();
}

void CFRMDlg::OnSplitChanged() {
  if (m_bUpdating) return;
  const std::string text = Text(IDC_FRM_SPLIT);
  if (!text.empty()) m_strSplitSaved = text;
}

void CFRMDlg::ConvertTimeToCapacity() {
  CUpdateGuard guard(&m_bUpdating);
  const FRMFIELDS fields = ReadFields();
  const FRMCHECK check = ValidateItems(fields);
  if (fields.dwCompress != COMPRESS_AVI || !check.bOk) {
    SetText(IDC_FRM_CAPACITY, {});
    return;
  }
  const uint64_t frame = FrameBytes(fields.dwVideoSize, m_nCameraWidth, m_nCameraHeight);
  SetText(IDC_FRM_CAPACITY, LimitText(TimeToCapacity(check.dwMinutes, check.dwSeconds, check.dwRate, frame)));
}

void CFRMDlg::ConvertCapacityToTime() {
  CUpdateGuard guard(&m_bUpdating);
  const FRMFIELDS fields = ReadFields();
  const FRMCHECK check = ValidateItems(fields);
  if (fields.dwCompress != COMPRESS_AVI || !check.bOk) {
    SetText(IDC_FRM_MINUTES, {});
    SetText(IDC_FRM_SECONDS, {});
    return;
  }
  DWORD minutes = 0, seconds = 0;
  CapacityToTime(check.dwCapacity, check.dwRate, FrameBytes(fields.dwVideoSize, m_nCameraWidth, m_nCameraHeight),
                 &minutes, &seconds);
  SetText(IDC_FRM_MINUTES, LimitText(minutes));
  SetText(IDC_FRM_SECONDS, LimitText(seconds));
}

void CFRMDlg::FixOutputExtension() {
  const DWORD compress = m_pCompression->checkedId() == int(COMPRESS_WMV) ? COMPRESS_WMV : COMPRESS_AVI;
  m_strOutputFileName = FixExtension(Text(IDC_FRM_OUTPUT), compress);
  CUpdateGuard guard(&m_bUpdating);
  SetText(IDC_FRM_OUTPUT, m_strOutputFileName);
}

void CFRMDlg::SetEmptyCapacity() {
  uint64_t megabytes = 0;
  std::string error;
  if (m_strOutputFileName.empty()) return;
  if (!GetFreeSpaceMB(m_strOutputFileName, &megabytes, &error)) {
    TraceLog(TRC_MOV, "CFRMDlg::SetEmptyCapacity", "[Infomation] It faied in GetDiskFreeSpaceEx %s", error.c_str());
    return;
  }
  m_strFreeSpace = std::to_string(megabytes);
  SetText(IDC_FRM_FREESPACE, m_strFreeSpace);
}

BOOL CFRMDlg::GetRecSize() {
  m_dwVideoSize = DWORD(m_pSize->checkedId() < 0 ? 0 : m_pSize->checkedId());
  if (!OutputSizeFor(m_dwVideoSize, m_nCameraWidth, m_nCameraHeight, &m_nOutputWidth, &m_nOutputHeight))
    return FALSE;
  m_strProfile = GetProfilePath(m_dwVideoSize);
  return m_strProfile.empty() ? FALSE : TRUE;
}

void CFRMDlg::SetFrameRate(const std::string& text) {
  DWORD rate = 0;
  if (!CheckItemValue(text, &rate)) return;
  const int size = m_pSize->checkedId() < 0 ? int(VIDEOSIZE_50) : m_pSize->checkedId();
  if (m_pCompression->checkedId() == int(COMPRESS_WMV))
    m_dwWmvRate[size] = rate;
  else
    m_dwAviRate[size] = rate;
  m_dwCurrentRate = rate;
  m_strFrameRate = text;
  CUpdateGuard guard(&m_bUpdating);
  SetText(IDC_FRM_RATE, text);
}

void CFRMDlg::FocusField(int id) {
  if (auto* edit = qobject_cast<QLineEdit*>(Control(id))) {
    edit->setFocus();
    edit->selectAll();
  }
}

void CFRMDlg::OnBnClickedOk() {
  const FRMFIELDS fields = ReadFields();
  const FRMCHECK check = ValidateForOk(fields, Text(IDC_FRM_OUTPUT));
  if (!check.bOk) {
    m_strError = check.strError;
    FocusField(check.nFocusId);
    MovMessageBoxText(m_strError, MB_OK | MB_ICONEXCLAMATION);
    return;
  }
  m_strError.clear();
  m_dwCompress = fields.dwCompress;
  m_dwLimit = fields.dwLimit;
  GetRecSize();
  if (m_dwCompress == COMPRESS_WMV) {
    m_dwWmvQuality[m_dwVideoSize] = check.dwQuality;
    m_dwCurrentQuality = check.dwQuality;
    m_strQuality = fields.strQuality;
  }
  SetFrameRate(fields.strRate);
  m_strOutputFileName = Text(IDC_FRM_OUTPUT);
  m_strMinutes = fields.strMinutes;
  m_strSeconds = fields.strSeconds;
  m_strCapacity = fields.strCapacity;
  m_dwMinutes = check.dwMinutes;
  m_dwSeconds = check.dwSeconds;
  m_dwCapacity = check.dwCapacity;
  m_strSplit = m_dwCompress == COMPRESS_WMV ? std::string() : fields.strSplit;
  m_dwSplitBytes = check.dwSplitBytes;
  WriteSettings();
  accept();
}

BOOL CFRMDlg::WriteSettings() {
  using namespace recreg;
  BOOL ok = WriteRecString(kOutputFileName, m_strOutputFileName);
  ok &= WriteRecString(kProfileFileName, m_strProfile);
  ok &= WriteRecInt(kCurrentRate, m_dwCurrentRate);
  for (int i = VIDEOSIZE_COUNT - 1; i >= 0; --i) ok &= WriteRecInt(kAviRate[i], m_dwAviRate[i]);
  for (int i = VIDEOSIZE_COUNT - 1; i >= 0; --i) ok &= WriteRecInt(kWmvRate[i], m_dwWmvRate[i]);
  ok &= WriteRecInt(kMaxFileSize, m_dwSplitBytes);
  ok &= WriteRecInt(kCompress, m_dwCompress);
  ok &= WriteRecInt(kVideoSize, m_dwVideoSize);
  ok &= WriteRecInt(kRecCondition, m_dwLimit);
  ok &= WriteRecInt(kRecSecond, m_dwSeconds);
  ok &= WriteRecInt(kRecMinute, m_dwMinutes);
  ok &= WriteRecInt(kRecCapacity, m_dwCapacity);
  ok &= WriteRecInt(kVideoWidth, DWORD(m_nOutputWidth));
  ok &= WriteRecInt(kVideoHeight, DWORD(m_nOutputHeight));
  ok &= WriteRecInt(kVideoQuality, m_dwCurrentQuality);
  for (int i = VIDEOSIZE_COUNT - 1; i >= 0; --i) ok &= WriteRecInt(kWmvQuality[i], m_dwWmvQuality[i]);
  // The settings take effect for this run whatever happened; a failed write
  // only means they are not kept for the next start.
  if (!ok) TraceLog(TRC_MOV, "CFRMDlg::OnOK", "The settings could not all be written. [%s]",
                    SettingsFilePath(HKEY_CURRENT_USER).c_str());
  return ok;
}

void CFRMDlg::OnBnClickedButtonBrowse() {
  const std::string current = Text(IDC_FRM_OUTPUT);
  std::string folder, name, ext;
  CFilePath::SplitPath(current, &folder, &name, &ext);
  const bool wmv = m_pCompression->checkedId() == int(COMPRESS_WMV);
  FileChooserRequest request;
  request.save = true;
  request.folder = folder;
  request.fileName = name + ext;
  request.filters = {{"Movie file (*.wmv;*.avi) ", "*.avi;*.wmv"}};
  request.defaultExtension = wmv ? "wmv" : "avi";
  request.confirmOverwrite = true;
  request.pathMustExist = true;
  CControlDialog* counter = CFotaviMovApp::Instance() ? CFotaviMovApp::Instance()->GetControlDialog() : nullptr;
  // The box answers later, by a call back; the dialog may have gone by then.
  // It counts as an open box until it has gone.
  if (counter) counter->BeginModal();
  QPointer<CFRMDlg> self(this);
  GetUserInterfaceService()->OpenFileChooser(
      m_hWnd, request,
      [self](const FileChooserResult& result) {
        if (self) self->OnBrowseAnswer(result);
      },
      [counter] {
        if (counter) counter->EndModal();
      });
}

void CFRMDlg::OnBrowseAnswer(const FileChooserResult& result) {
  if (result.accepted && !result.paths.empty()) {
    if (result.paths.front().size() > 256) {
      MovMessageBox(IDS_MOV_OPEN_ERROR, MB_OK | MB_ICONEXCLAMATION);
    } else {
      m_strOutputFileName = result.paths.front();
      {
        CUpdateGuard guard(&m_bUpdating);
        SetText(IDC_FRM_OUTPUT, m_strOutputFileName);
      }
      SetEmptyCapacity();
    }
  }
  FixOutputExtension();
}

void CFRMDlg::OnBnClickedButtonAuto() {
  if (!m_MeasureHandler || m_bMeasuring) return;
  // The measurement records with what the fields say now.
  const FRMFIELDS fields = ReadFields();
  m_dwCompress = fields.dwCompress;
  DWORD quality = 0;
  if (m_dwCompress == COMPRESS_WMV && CheckItemValue(fields.strQuality, &quality) && quality >= 1 &&
      quality <= FRM_QUALITY_MAX)
    m_dwCurrentQuality = quality;
  GetRecSize();
  m_bMeasuring = true;
  m_MeasureHandler(this);
  m_bMeasuring = false;
}
