#include "CardFixture.h"

#include <jpeglib.h>
#include <sys/stat.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>

#include <csetjmp>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "Common/Jpeg.h"

namespace fotavi::test {

namespace {

struct Module {
  HMODULE module = nullptr;
  PFN_CREATEINSTANCE create = nullptr;
  PFN_RELEASEINSTANCE release = nullptr;
  void (*setTimeLimits)(DWORD, DWORD, DWORD, DWORD) = nullptr;
  static Module& Get() {
    static Module m = [] {
      Module d;
      d.module = LoadLibrary(FOTAVI_DRIVER_MODULE);
      if (d.module) {
        d.create = GetProcAddressAs<PFN_CREATEINSTANCE>(d.module, FOTAVI_CREATEINSTANCE);
        d.release = GetProcAddressAs<PFN_RELEASEINSTANCE>(d.module, FOTAVI_RELEASEINSTANCE);
        d.setTimeLimits =
            GetProcAddressAs<void (*)(DWORD, DWORD, DWORD, DWORD)>(d.module, "FotaviZ5SetTimeLimitsForTest");
      }
      return d;
    }();
    return m;
  }
};

}  // namespace

void CardFixture::SetUp() {
  root_ = MakeTempDir("fotavi-card");
  cardDir_ = root_ + "/card";
  workDir_ = root_ + "/work";
  MakeFolders(root_ + "/devices");
  MakeFolders(cardDir_);
  MakeFolders(workDir_, 0700);
  MakeFolders(root_ + "/mutex");
  MakeFolders(root_ + "/fallback");
  MakeFolders(root_ + "/install/Logs");
  setenv("FOTAVI_DEVICE_ROOT", (root_ + "/devices").c_str(), 1);
  setenv("FOTAVI_MACHINE_SETTINGS", (root_ + "/machine.conf").c_str(), 1);
  setenv("FOTAVI_USER_SETTINGS", (root_ + "/user.conf").c_str(), 1);
  setenv("FOTAVI_MUTEX_ROOT", (root_ + "/mutex").c_str(), 1);
  setenv("FOTAVI_FALLBACK_ROOT", (root_ + "/fallback/").c_str(), 1);
  setenv("XDG_STATE_HOME", (root_ + "/state").c_str(), 1);
  setenv("FOTAVI_WORK_DIR", workDir_.c_str(), 1);
  setenv("FOTAVI_CACHE_DIR", (root_ + "/cache").c_str(), 1);
  const char* key = "SOFTWARE\\Tiryx\\Z5\\Device Parameters";
  SettingsWriteDword(HKEY_LOCAL_MACHINE, key, "MaxTransferSize", 64);
  SettingsWriteDword(HKEY_LOCAL_MACHINE, key, "LogLevel", 0);
  SettingsWriteString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tiryx\\Utility Software (K27)\\Parameters", "InstallPath",
                      root_ + "/install");
  Module& m = Module::Get();
  ASSERT_NE(m.module, nullptr) << GetLoadErrorText();
  ASSERT_NE(m.setTimeLimits, nullptr);
  // Generous limits: the machine is shared, but a lost reply must not hang a test.
  m.setTimeLimits(3000, 3000, 1, 500);
  client_ = CreateWindowTarget([](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; }, "card test client");
  blocksAtStart_ = GlobalBlockCount();
}

void CardFixture::TearDown() {
  CloseCamera();
  if (client_) DestroyWindow(client_);
  client_ = nullptr;
  // Records handed back late are freed by the dispatcher; serve the queue a little.
  RemoveTree(root_);
}

bool CardFixture::StartCamera(bool withCard, std::vector<std::string> extraArgs) {
  EmulatorOptions o;
  o.deviceRoot = root_ + "/devices";
  if (withCard) o.cardDir = cardDir_;
  o.packetSize = 64 * 1024;
  o.exchangeLog = root_ + "/exchange.log";
  o.extraArgs = std::move(extraArgs);
  emulator_ = std::make_unique<EmulatorProcess>(o);
  if (!emulator_->Start()) return false;
  Module& m = Module::Get();
  if (!m.create(&device_) || !device_) return false;
  DWORD err = 0;
  if (!device_->bOpen(client_, &err)) {
    ADD_FAILURE() << "bOpen failed: " << std::hex << err;
    return false;
  }
  return true;
}

void CardFixture::CloseCamera() {
  if (device_) {
    DWORD err = 0;
    device_->bClose(&err);
    Module::Get().release(&device_);
  }
  device_ = nullptr;
  if (emulator_) emulator_->Stop();
  emulator_.reset();
}

bool CardFixture::PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  while (!done()) {
    if (GetTickCount() - start > timeoutMs) return false;
    MSG msg;
    if (GetMessageTimeout(&msg, 10) == WAIT_OBJECT_0) DispatchMessage(&msg);
  }
  return true;
}

void CardFixture::Command(const std::string& line) {
  std::string reply;
  ASSERT_TRUE(emulator_->Command(line, &reply)) << line << ": " << reply;
}

std::vector<std::string> CardFixture::ExchangeLog() const {
  if (!emulator_) return {};
  emulator_->Command("ping");
  return emulator_->ExchangeLog();
}

size_t CardFixture::CommandsIn(const std::string& hexCode) const {
  size_t n = 0;
  for (const std::string& line : ExchangeLog()) {
    if (line.find("\"dir\":\"in\",\"type\":0,") != std::string::npos &&
        line.find("\"cmd\":\"" + hexCode + "\"") != std::string::npos)
      ++n;
  }
  return n;
}

std::vector<std::string> CardFixture::PathsIn() const {
  std::vector<std::string> out;
  for (const std::string& line : ExchangeLog()) {
    const size_t at = line.find("\"path\":\"");
    if (line.find("\"dir\":\"in\"") == std::string::npos || at == std::string::npos) continue;
    std::string path;
    for (size_t i = at + 8; i < line.size() && line[i] != '"'; ++i) {
      if (line[i] == '\\' && i + 1 < line.size()) ++i;
      path += line[i];
    }
    out.push_back(path);
  }
  return out;
}

void CardFixture::MakeCardFolder(const std::string& rel) { MakeFolders(cardDir_ + "/" + rel); }

void CardFixture::PutPictures(const std::string& folder, int n) {
  MakeCardFolder("DCIM/" + folder);
  for (int i = 1; i <= n; ++i)
    PutCardFile("DCIM/" + folder + "/ABCD000" + std::to_string(i) + ".JPG", MakeJpeg(320, 240, i));
}

int AnsweringUi::MessageBox(HWND, const std::string& text, const std::string&, UINT type) {
  texts.push_back(text);
  return (type & MB_TYPEMASK) == MB_YESNO ? IDYES : IDOK;
}

bool ServeUntil(const std::function<bool()>& done, int timeoutMs) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > timeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 10);
  }
  return true;
}

void ServeFor(int ms) {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 10);
}

void CardFixture::WriteBytes(const std::string& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << data;
}

void CardFixture::PutCardFile(const std::string& rel, const std::string& data) { WriteBytes(cardDir_ + "/" + rel, data); }

std::string CardFixture::CardFile(const std::string& rel) const {
  std::ifstream in(cardDir_ + "/" + rel, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

bool CardFixture::CardFileExists(const std::string& rel) const {
  struct stat st;
  return stat((cardDir_ + "/" + rel).c_str(), &st) == 0;
}

std::string CardFixture::MakeSourceFolder(const std::string& name) {
  const std::string path = root_ + "/" + name;
  MakeFolders(path);
  return path;
}

std::string MakeJpeg(int width, int height, int seed) {
  QImage image(width, height, QImage::Format_RGB888);
  image.fill(QColor::fromHsv((seed * 47) % 360, 200, 220));
  QPainter p(&image);
  p.fillRect(width / 4, height / 4, width / 2, height / 2, QColor::fromHsv((seed * 47 + 180) % 360, 255, 120));
  p.end();
  std::string jpeg;
  CJpeg::EncodeBuiltIn(image, 85, &jpeg);
  return jpeg;
}

namespace {
struct JpegError {
  jpeg_error_mgr mgr;
  jmp_buf jump;
};
void OnJpegError(j_common_ptr cinfo) { longjmp(reinterpret_cast<JpegError*>(cinfo->err)->jump, 1); }
}  // namespace

bool JpegSize(const std::string& data, int* width, int* height) {
  jpeg_decompress_struct cinfo;
  JpegError err;
  cinfo.err = jpeg_std_error(&err.mgr);
  err.mgr.error_exit = OnJpegError;
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char*>(data.data()), static_cast<unsigned long>(data.size()));
  jpeg_read_header(&cinfo, TRUE);
  jpeg_start_decompress(&cinfo);
  std::vector<unsigned char> row(cinfo.output_width * cinfo.output_components);
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

}  // namespace fotavi::test
