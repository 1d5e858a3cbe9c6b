// The TWAIN data source through the project's own host against the camera
// emulator: OPENDS (with the camera's reset pause), ENABLEDS without the user
// interface up to MSG_XFERREADY, and each transfer mode of a 1024 x 768
// picture; beside them, in the same run, one bare frame request through the
// device library and a bare decode of the same frame into blue-green-red.
// Wall time (median, p95) and process CPU per operation.
//   bin/TiryxK27Bench [repetitions]
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "Bitmap.h"
#include "EmulatorProcess.h"
#include "Jpeg.h"
#include "OutsideCodec.h"
#include "Platform/Platform.h"
#include "Driver/FotaviZ5.dll/FotaviZ5.h"
#include "TwainHost.h"

namespace {

using Clock = std::chrono::steady_clock;

double CpuMs() {
  rusage u;
  getrusage(RUSAGE_SELF, &u);
  return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

struct Figure {
  std::string name;
  std::vector<double> wall;
  std::vector<double> cpu;
  int failures = 0;
  double Median() const { return Pct(0.5); }
  double Pct(double p) const {
    if (wall.empty()) return 0;
    std::vector<double> v = wall;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(p * (v.size() - 1) + 0.5))];
  }
  double CpuMedian() const {
    if (cpu.empty()) return 0;
    std::vector<double> v = cpu;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  }
};

// Times `op` (true on success); `prepare` runs before each, untimed. A pause
// keeps the device library's 50 ms frame spacing out of every figure.
Figure Measure(const std::string& name, int n, const std::function<void()>& prepare, const std::function<bool()>& op,
               const std::function<void()>& after = {}) {
  Figure f;
  f.name = name;
  for (int i = 0; i < n; ++i) {
    if (prepare) prepare();
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    const double c0 = CpuMs();
    const auto t0 = Clock::now();
    const bool ok = op();
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    const double cpu = CpuMs() - c0;
    if (after) after();
    if (!ok) {
      ++f.failures;
      continue;
    }
    f.wall.push_back(ms);
    f.cpu.push_back(cpu);
  }
  return f;
}

void Print(const Figure& f) {
  std::printf("%-34s n=%-3zu median %8.2f ms  p95 %8.2f ms  cpu %7.2f ms  failures %d\n", f.name.c_str(),
              f.wall.size(), f.Median(), f.Pct(0.95), f.CpuMedian(), f.failures);
}

}  // namespace

int main(int argc, char** argv) {
  const int n = argc > 1 ? std::max(3, std::atoi(argv[1])) : 20;
  const std::string root = fotavi::test::MakeTempDir("twain-bench");
  MakeFolders(root + "/devices");
  MakeFolders(root + "/mutex");
  MakeFolders(root + "/fallback");
  setenv("FOTAVI_DEVICE_ROOT", (root + "/devices").c_str(), 1);
  setenv("FOTAVI_MACHINE_SETTINGS", (root + "/machine.conf").c_str(), 1);
  setenv("FOTAVI_USER_SETTINGS", (root + "/user.conf").c_str(), 1);
  setenv("FOTAVI_MUTEX_ROOT", (root + "/mutex").c_str(), 1);
  setenv("FOTAVI_FALLBACK_ROOT", (root + "/fallback/").c_str(), 1);
  setenv("XDG_STATE_HOME", (root + "/state").c_str(), 1);
  fotavi::test::EmulatorOptions options;
  options.deviceRoot = root + "/devices";
  fotavi::test::EmulatorProcess emulator(options);
  if (!emulator.Start()) {
    std::fprintf(stderr, "the camera emulator did not start\n");
    return 1;
  }

  // ---- bare: the device library alone, and the decoders alone
  std::vector<Figure> figures;
  std::vector<BYTE> frame;
  {
    HMODULE z5 = LoadLibrary(TWAIN_BENCH_DRIVER);
    auto create = GetProcAddressAs<PFN_CREATEINSTANCE>(z5, FOTAVI_CREATEINSTANCE);
    auto release = GetProcAddressAs<PFN_RELEASEINSTANCE>(z5, FOTAVI_RELEASEINSTANCE);
    CDeviceInterface* dev = nullptr;
    DWORD err = 0;
    if (!z5 || !create || !create(&dev) || !dev->bOpen(nullptr, &err)) {
      std::fprintf(stderr, "the device library did not open the camera\n");
      return 1;
    }
    const DEVICE_CMD cmd = FotaviMakeCommand(FOTAVI_CMD_GET_JPEG);
    figures.push_back(Measure("bare frame request (0x808E)", n, {}, [&] {
      HGLOBAL h = nullptr;
      DWORD size = 0;
      if (!dev->bRequest(&cmd, &h, &size, &err) || !h) return false;
      const auto* p = static_cast<const BYTE*>(GlobalLock(h));
      frame.assign(p, p + size);
      GlobalUnlock(h);
      GlobalFree(h);
      return true;
    }));
    dev->bClose(&err);
    release(&dev);
    FreeLibrary(z5);
  }
  figures.push_back(Measure("bare decode, linked libjpeg", n, {}, [&] {
    CBitmap24 out;
    return CJpeg::DecodeBuiltIn(nullptr, frame.data(), static_cast<DWORD>(frame.size()), &out, 0, 0) &&
           out.width() == 1024;
  }));
  HMODULE codec = LoadLibrary(TWAIN_BENCH_CODEC);
  auto loadA = codec ? GetProcAddressAs<PFN_FNCLOADJPEGA>(codec, FNC_LOADJPEGA) : nullptr;
  if (loadA) {
    figures.push_back(Measure("bare decode, outside codec", n, {}, [&] {
      HGLOBAL dib = nullptr;
      DWORD info[3] = {0, 0, 0};
      const BOOL ok = loadA(nullptr, frame.data(), static_cast<DWORD>(frame.size()), &dib, 0, 0, info);
      CBitmap24 out = ok ? PackedDibToBitmap(dib) : CBitmap24();
      if (dib) GlobalFree(dib);
      return ok && out.width() == 1024;
    }));
  }

  // ---- through the host
  twain_test::CTwainHost host;
  std::string error;
  if (!host.Load(TWAIN_BENCH_DS, &error) || !host.Scan()) {
    std::fprintf(stderr, "the data source did not load: %s\n", error.c_str());
    return 1;
  }
  figures.push_back(Measure("OPENDS (camera reset pause)", std::max(3, n / 4), {},
                            [&] { return host.OpenDS(true) == TWRC_SUCCESS; }, [&] { host.CloseDS(); }));
  if (host.OpenDS(true) != TWRC_SUCCESS) {
    std::fprintf(stderr, "OPENDS failed: %u\n", host.Status());
    return 1;
  }
  figures.push_back(Measure("ENABLEDS ShowUI FALSE to XFERREADY", n, [&] { host.ClearNotices(); },
                            [&] { return host.Enable(false) == TWRC_SUCCESS && host.NoticeCount(MSG_XFERREADY) == 1; },
                            [&] { host.Disable(); }));
  auto ready = [&] {
    host.ClearNotices();
    host.Enable(false);
  };
  auto done = [&] {
    host.EndTransfer(nullptr);
    host.Disable();
  };
  figures.push_back(Measure("native transfer 1024x768", n, ready, [&] {
    std::vector<TW_UINT8> dib;
    return host.TransferNative(&dib) == TWRC_XFERDONE && dib.size() == 40u + 3072u * 768u;
  }, done));
  figures.push_back(Measure("memory transfer 1024x768 (64 KiB)", n, ready, [&] {
    TW_UINT32 rows = 0;
    return host.TransferMemory(0, nullptr, nullptr, &rows) == TWRC_XFERDONE && rows == 768;
  }, done));
  const std::string file = root + "/bench.bmp";
  figures.push_back(Measure("file transfer 1024x768 (BMP)", n, ready,
                            [&] { return host.TransferFile(file) == TWRC_XFERDONE; }, done));
  host.CloseDS();

  std::printf("TWAIN data source, %d repetitions, frames of %zu bytes\n", n, frame.size());
  for (const Figure& f : figures) Print(f);
  auto find = [&](const char* name) -> const Figure* {
    for (const Figure& f : figures)
      if (f.name == name) return &f;
    return nullptr;
  };
  const Figure* request = find("bare frame request (0x808E)");
  const Figure* decode = loadA ? find("bare decode, outside codec") : find("bare decode, linked libjpeg");
  const Figure* enable = find("ENABLEDS ShowUI FALSE to XFERREADY");
  if (request && decode && enable) {
    const double base = request->Median() + decode->Median();
    std::printf("ENABLEDS / (request + decode) = %.2f (target <= 1.5)\n", enable->Median() / base);
    for (const char* mode : {"native transfer 1024x768", "memory transfer 1024x768 (64 KiB)",
                             "file transfer 1024x768 (BMP)"}) {
      if (const Figure* f = find(mode))
        std::printf("%s / decode = %.2f (target <= 1.5)\n", mode, f->Median() / decode->Median());
    }
  }
  emulator.Stop();
  fotavi::test::RemoveTree(root);
  return 0;
}
