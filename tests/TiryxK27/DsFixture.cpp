#include "DsFixture.h"

#include <chrono>
#include <cstdio>
#include <sstream>
#include <cstring>
#include <thread>

#include "Platform/Library.h"
#include "TwainDSApp.h"

namespace twain_test {

int RecordingUi::MessageBox(HWND, const std::string& text, const std::string& caption, UINT) {
  std::lock_guard<std::mutex> g(lock_);
  texts_.push_back(text);
  captions_.push_back(caption);
  return IDOK;
}
std::vector<std::string> RecordingUi::Texts() {
  std::lock_guard<std::mutex> g(lock_);
  return texts_;
}
std::vector<std::string> RecordingUi::Captions() {
  std::lock_guard<std::mutex> g(lock_);
  return captions_;
}
void RecordingUi::Clear() {
  std::lock_guard<std::mutex> g(lock_);
  texts_.clear();
  captions_.clear();
}

void RecordingView::EnableControl(int id, bool enable) {
  std::lock_guard<std::mutex> g(lock_);
  enabled_[id] = enable;
}
void RecordingView::ShowPreview(const CBitmap24& picture) {
  std::lock_guard<std::mutex> g(lock_);
  if (picture.width() == 320 && picture.height() == 240) ++pictures_;
}
void RecordingView::PreviewSize(int* width, int* height) {
  *width = 320;
  *height = 240;
}
void RecordingView::ShowMessage(const std::string& text) {
  std::lock_guard<std::mutex> g(lock_);
  messages_.push_back(text);
}
bool RecordingView::Enabled(int id) {
  std::lock_guard<std::mutex> g(lock_);
  auto it = enabled_.find(id);
  return it == enabled_.end() ? true : it->second;
}
int RecordingView::Pictures() {
  std::lock_guard<std::mutex> g(lock_);
  return pictures_;
}
std::vector<std::string> RecordingView::Messages() {
  std::lock_guard<std::mutex> g(lock_);
  return messages_;
}

std::atomic<FakeDialog*> FakeDialog::current{nullptr};

FakeDialog::FakeDialog(const CaptureDialogParams& p)
    : core_(std::make_unique<CCaptureCore>(p.link, p.image, p.owner, &view)) {
  core_->Start();
  current = this;
}
FakeDialog::~FakeDialog() {
  current = nullptr;
  core_.reset();
}
void FakeDialog::OnDeviceArrived() { core_->OnDeviceArrived(); }
void FakeDialog::OnDeviceRemoved() { core_->OnDeviceRemoved(); }

NoticeLog& Notices() {
  static NoticeLog log;
  return log;
}

std::pair<long, long> EmulatorCount(fotavi::test::EmulatorProcess& emulator, WORD command) {
  char line[32];
  std::snprintf(line, sizeof line, "count 0x%X", command);
  std::string reply;
  emulator.Command(line, &reply);
  std::istringstream in(reply);
  std::string ok;
  long n = 0, param = 0;
  in >> ok >> n >> param;
  return {n, param};
}

bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

namespace {
TW_UINT16 RecordNotice(pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                       TW_MEMREF data) {
  if (origin && dest && dg == DG_CONTROL && dat == DAT_NULL && !data) Notices().Add(msg);
  return TWRC_SUCCESS;
}
}  // namespace

RecordingUi* DsFixture::ui = nullptr;
IsolatedCamera* DsFixture::camera = nullptr;
fotavi::test::EmulatorProcess* DsFixture::emulator = nullptr;
std::string DsFixture::root;

void DsFixture::SetUpTestSuite() {
  camera = new IsolatedCamera("twain");
  root = camera->Root();
  fotavi::test::EmulatorOptions options;
  options.exchangeLog = root + "/exchange.log";
  ASSERT_TRUE(camera->Start(options));
  emulator = camera->Emulator();
  // The same module the source loads: shorten the camera's reset pause.
  HMODULE z5 = LoadLibrary(CDeviceLink::ModuleBesideSource("FotaviZ5.dll"));
  ASSERT_NE(z5, nullptr) << GetLoadErrorText();
  auto hook = GetProcAddressAs<void (*)(DWORD, DWORD, DWORD, DWORD)>(z5, "FotaviZ5SetTimeLimitsForTest");
  ASSERT_NE(hook, nullptr);
  hook(0, 0, 20, 0);
  ui = new RecordingUi;
  SetUserInterfaceService(ui);
}

void DsFixture::TearDownTestSuite() {
  SetUserInterfaceService(nullptr);
  emulator = nullptr;
  delete camera;
  camera = nullptr;
  delete ui;
  ui = nullptr;
}

void DsFixture::SetUp() {
  ASSERT_NE(emulator, nullptr);
  if (!emulator->Command("ping")) {
    FAIL() << "the emulator does not answer";
  }
  emulator->Command("clear");
  ui->Clear();
  Notices().Clear();
  ds = std::make_unique<CTwainDS>();
  ds->SetOwnIdentity(CTwainDSApp::MakeIdentity());
  ds->SetDialogFactory([](const CaptureDialogParams& p) { return std::make_unique<FakeDialog>(p); });
  app = TW_IDENTITY{};
  app.Id = 1;
  app.ProtocolMajor = 2;
  app.ProtocolMinor = 4;
  std::strcpy(app.ProductName, "test host");
  dsIdentity = CTwainDSApp::MakeIdentity();
  dsIdentity.Id = 7;
}

void DsFixture::TearDown() {
  if (ds) {
    ds->Entry(&app, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, nullptr);
    ds.reset();
  }
  if (emulator && !emulator->Command("ping")) emulator->Start();
}

TW_UINT16 DsFixture::Call(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data) {
  return ds->Entry(&app, dg, dat, msg, data);
}

TW_UINT16 DsFixture::Status() {
  TW_STATUS status{0xFFFF, 0xFFFF};
  EXPECT_EQ(Call(DG_CONTROL, DAT_STATUS, MSG_GET, &status), TWRC_SUCCESS);
  EXPECT_EQ(status.Reserved, 0);
  return status.ConditionCode;
}

TW_UINT16 DsFixture::OpenDS() {
  TW_IDENTITY copy = dsIdentity;
  const TW_UINT16 rc = Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &copy);
  if (rc == TWRC_SUCCESS) {
    TW_ENTRYPOINT entry{};
    entry.Size = sizeof entry;
    entry.DSM_Entry = &RecordNotice;
    Call(DG_CONTROL, DAT_ENTRYPOINT, MSG_SET, &entry);
  }
  return rc;
}

TW_UINT16 DsFixture::EnableDS(bool showUI) {
  TW_USERINTERFACE ui{static_cast<TW_BOOL>(showUI ? 1 : 0), 0, nullptr};
  return Call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui);
}

void DsFixture::Reach(int state) {
  if (state >= DSSTATE_OPENED) ASSERT_EQ(OpenDS(), TWRC_SUCCESS);
  if (state >= DSSTATE_ENABLED) ASSERT_EQ(EnableDS(true), TWRC_SUCCESS);
  if (state >= DSSTATE_XFERREADY) {
    CCaptureCore* core = ds->CaptureCore();
    ASSERT_NE(core, nullptr);
    core->OnStill();
    ASSERT_TRUE(core->TransferAllowed());
    core->OnTransfer();
    ASSERT_TRUE(Notices().WaitFor(MSG_XFERREADY, 1, 5000));
  }
  if (state >= DSSTATE_TRANSFERRING) {
    TW_HANDLE dib = nullptr;
    ASSERT_EQ(Call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &dib), TWRC_XFERDONE);
    std::free(dib);
  }
  ASSERT_EQ(ds->GetState(), state);
  ASSERT_EQ(Status(), TWCC_SUCCESS);
  ui->Clear();
}

}  // namespace twain_test
