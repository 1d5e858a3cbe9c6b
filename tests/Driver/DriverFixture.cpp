#include "DriverFixture.h"

#include <jpeglib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csetjmp>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace fotavi::test {

DriverModule& DriverModule::Get() {
  static DriverModule m = [] {
    DriverModule d;
    d.module = LoadLibrary(FOTAVI_DRIVER_MODULE);
    if (d.module) {
      d.create = GetProcAddressAs<PFN_CREATEINSTANCE>(d.module, FOTAVI_CREATEINSTANCE);
      d.release = GetProcAddressAs<PFN_RELEASEINSTANCE>(d.module, FOTAVI_RELEASEINSTANCE);
      d.setTimeLimits = GetProcAddressAs<PFN_SETTIMELIMITS>(d.module, "FotaviZ5SetTimeLimitsForTest");
    }
    return d;
  }();
  return m;
}

void DriverTest::SetUp() {
  root_ = MakeTempDir("fotavi-drv");
  deviceRoot_ = root_ + "/devices";
  cardDir_ = root_ + "/card";
  installDir_ = root_ + "/install";
  settingsFile_ = root_ + "/machine.conf";
  exchangeLog_ = root_ + "/exchange.log";
  MakeFolders(deviceRoot_);
  MakeFolders(cardDir_);
  MakeFolders(installDir_ + "/Logs");
  MakeFolders(root_ + "/mutex");
  MakeFolders(root_ + "/fallback");
  setenv("FOTAVI_DEVICE_ROOT", deviceRoot_.c_str(), 1);
  setenv("FOTAVI_MACHINE_SETTINGS", settingsFile_.c_str(), 1);
  setenv("FOTAVI_MUTEX_ROOT", (root_ + "/mutex").c_str(), 1);
  setenv("FOTAVI_FALLBACK_ROOT", (root_ + "/fallback").c_str(), 1);
  setenv("XDG_STATE_HOME", (root_ + "/state").c_str(), 1);
  DriverModule& m = DriverModule::Get();
  ASSERT_NE(m.module, nullptr) << GetLoadErrorText();
  ASSERT_NE(m.create, nullptr);
  ASSERT_NE(m.release, nullptr);
  ASSERT_NE(m.setTimeLimits, nullptr);
  m.setTimeLimits(kTestTransferMs, kTestThreadEndMs, kTestResetPauseMs, kTestMutexWaitMs);
  client_ = CreateWindowTarget(
      [this](HWND, UINT msg, WPARAM w, LPARAM l) -> LRESULT {
        if (msg != WM_CREATE && msg != WM_DESTROY) received_.push_back({msg, w, l});
        return 0;
      },
      "test client");
  blocksAtStart_ = GlobalBlockCount();
}

void DriverTest::TearDown() {
  if (device_) {
    DWORD err = 0;
    device_->bClose(&err);
  }
  ReleaseInterface();
  if (client_) DestroyWindow(client_);
  client_ = nullptr;
  if (emulator_) emulator_->Stop();
  emulator_.reset();
  RemoveTree(root_);
}

void DriverTest::WriteSettings() {
  const char* key = "SOFTWARE\\Tiryx\\Z5\\Device Parameters";
  SettingsWriteDword(HKEY_LOCAL_MACHINE, key, "MaxTransferSize", maxTransferSize_);
  SettingsWriteDword(HKEY_LOCAL_MACHINE, key, "LogFileSize", logFileSize_);
  SettingsWriteDword(HKEY_LOCAL_MACHINE, key, "LogLevel", logLevel_);
  if (withInstallPath_) {
    SettingsWriteString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tiryx\\Utility Software (K27)\\Parameters", "InstallPath",
                        installDir_);
  }
}

EmulatorOptions DriverTest::Options() {
  EmulatorOptions o;
  o.deviceRoot = deviceRoot_;
  if (withCard_) o.cardDir = cardDir_;
  o.packetSize = maxTransferSize_ * 1024;
  o.exchangeLog = exchangeLog_;
  return o;
}

bool DriverTest::StartEmulator() {
  emulator_ = std::make_unique<EmulatorProcess>(Options());
  return emulator_->Start();
}

bool DriverTest::CreateInterface() {
  WriteSettings();
  return DriverModule::Get().create(&device_) && device_ != nullptr;
}

void DriverTest::ReleaseInterface() {
  if (device_) DriverModule::Get().release(&device_);
  device_ = nullptr;
}

bool DriverTest::Open() {
  DWORD err = 0;
  BOOL ok = device_->bOpen(client_, &err);
  EXPECT_EQ(err, 0u);
  return ok;
}

void OpenedDriverTest::SetUp() {
  DriverTest::SetUp();
  if (HasFatalFailure()) return;
  ASSERT_TRUE(StartEmulator());
  ASSERT_TRUE(CreateInterface());
  ASSERT_TRUE(Open());
}

bool DriverTest::PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  while (!done()) {
    if (GetTickCount() - start > timeoutMs) return false;
    MSG msg;
    if (GetMessageTimeout(&msg, 10) == WAIT_OBJECT_0) DispatchMessage(&msg);
  }
  return true;
}

void DriverTest::PumpFor(DWORD ms) {
  PumpUntil([] { return false; }, ms);
}

std::vector<Received> DriverTest::ReceivedOf(UINT message) const {
  std::vector<Received> out;
  for (const Received& r : received_) {
    if (r.message == message) out.push_back(r);
  }
  return out;
}

void DriverTest::HandBack(const Received& r) {
  PostThreadMessage(static_cast<DWORD>(r.wParam), WM_FOTAVI_RELASERSP, 0, r.lParam);
}

std::vector<std::string> DriverTest::ExchangeLog() const {
  if (!emulator_) return {};
  emulator_->Command("ping");  // everything before this line is logged
  return emulator_->ExchangeLog();
}

std::vector<std::string> DriverTest::LogLines(std::initializer_list<std::string> fragments) const {
  std::vector<std::string> out;
  for (const std::string& line : ExchangeLog()) {
    bool all = true;
    for (const std::string& f : fragments) all = all && line.find(f) != std::string::npos;
    if (all) out.push_back(line);
  }
  return out;
}

void DriverTest::Command(const std::string& line) {
  std::string reply;
  ASSERT_TRUE(emulator_->Command(line, &reply)) << line << ": " << reply;
}

std::vector<BYTE> BlockBytes(HGLOBAL h) {
  std::vector<BYTE> out;
  if (!h) return out;
  const BYTE* p = static_cast<const BYTE*>(GlobalLock(h));
  out.assign(p, p + GlobalSize(h));
  GlobalUnlock(h);
  return out;
}

namespace {
struct JpegError {
  jpeg_error_mgr mgr;
  jmp_buf jump;
};
void OnJpegError(j_common_ptr cinfo) { longjmp(reinterpret_cast<JpegError*>(cinfo->err)->jump, 1); }
}  // namespace

bool DecodeJpeg(const std::vector<BYTE>& data, int* width, int* height) {
  jpeg_decompress_struct cinfo;
  JpegError err;
  cinfo.err = jpeg_std_error(&err.mgr);
  err.mgr.error_exit = OnJpegError;
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, const_cast<BYTE*>(data.data()), static_cast<unsigned long>(data.size()));
  jpeg_read_header(&cinfo, TRUE);
  jpeg_start_decompress(&cinfo);
  std::vector<BYTE> row(cinfo.output_width * cinfo.output_components);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW r = row.data();
    jpeg_read_scanlines(&cinfo, &r, 1);
  }
  *width = static_cast<int>(cinfo.output_width);
  *height = static_cast<int>(cinfo.output_height);
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return true;
}

std::string ReadFileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

bool FileExists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

}  // namespace fotavi::test
