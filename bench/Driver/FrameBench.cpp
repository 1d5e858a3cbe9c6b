// Frame requests (0x808E) against the camera emulator, the way the live
// monitor asks for them: one request in flight, the next as soon as the last
// has arrived. For each LogLevel and MaxTransferSize: frames per second, the
// time each request takes beyond the library's 50 ms spacing (p50, p95,
// max), and the client process's CPU time per frame.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "EmulatorProcess.h"
#include "FotaviZ5.h"
#include "Platform/Platform.h"
#include "ThreadCpu.h"

using fotavi::test::EmulatorOptions;
using fotavi::test::EmulatorProcess;
using fotavi::test::ProcessCpuSeconds;

namespace {

using Clock = std::chrono::steady_clock;

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  size_t i = static_cast<size_t>(p * (v.size() - 1) + 0.5);
  return v[std::min(i, v.size() - 1)];
}

struct Result {
  bool ok = false;
  int frames = 0;
  int failures = 0;
  double fps = 0;
  double meanKiB = 0;
  double p50 = 0, p95 = 0, max = 0;     // interval beyond 50 ms, back to back
  double l50 = 0, l95 = 0, lmax = 0;    // request time when the spacing does not apply
  double cpuMsPerFrame = 0;
  size_t leakedBlocks = 0;
  std::string note;
};

Result Run(PFN_CREATEINSTANCE create, PFN_RELEASEINSTANCE release, DWORD level, DWORD transferKiB, int frames,
           int latencyFrames, const std::string& pictureDir) {
  Result res;
  std::string root = fotavi::test::MakeTempDir("fotavi-bench");
  std::string install = root + "/install";
  MakeFolders(install + "/Logs");
  MakeFolders(root + "/devices");
  setenv("FOTAVI_DEVICE_ROOT", (root + "/devices").c_str(), 1);
  setenv("FOTAVI_MACHINE_SETTINGS", (root + "/machine.conf").c_str(), 1);
  setenv("FOTAVI_MUTEX_ROOT", (root + "/mutex").c_str(), 1);
  setenv("FOTAVI_FALLBACK_ROOT", (root + "/fallback").c_str(), 1);
  setenv("XDG_STATE_HOME", (root + "/state").c_str(), 1);
  const char* key = "SOFTWARE\\Tiryx\\Z5\\Device Parameters";
  SettingsWriteDword(HKEY_LOCAL_MACHINE, key, "MaxTransferSize", transferKiB);
  SettingsWriteDword(HKEY_LOCAL_MACHINE, key, "LogLevel", level);
  SettingsWriteDword(HKEY_LOCAL_MACHINE, key, "LogFileSize", 10240);
  SettingsWriteString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tiryx\\Utility Software (K27)\\Parameters", "InstallPath",
                      install);
  EmulatorOptions o;
  o.deviceRoot = root + "/devices";
  o.packetSize = transferKiB * 1024;
  o.pictureDir = pictureDir;
  EmulatorProcess emu(o);
  if (!emu.Start()) {
    res.note = "emulator did not start";
    fotavi::test::RemoveTree(root);
    return res;
  }
  CDeviceInterface* dev = nullptr;
  DWORD err = 0;
  if (!create(&dev) || !dev->bOpen(nullptr, &err)) {
    char b[64];
    std::snprintf(b, sizeof b, "open failed 0x%08X", err);
    res.note = b;
    if (dev) release(&dev);
    fotavi::test::RemoveTree(root);
    return res;
  }
  size_t blocks = GlobalBlockCount();
  DEVICE_CMD cmd = FotaviMakeCommand(FOTAVI_CMD_GET_JPEG);
  // Warm-up: the emulator's frame ring and the first spacing.
  for (int i = 0; i < 5; ++i) {
    HGLOBAL h = nullptr;
    DWORD size = 0;
    if (dev->bRequest(&cmd, &h, &size, &err)) GlobalFree(h);
  }
  // Back to back: the next request as soon as the last has arrived.
  std::vector<double> beyond;
  double bytes = 0;
  double cpu0 = ProcessCpuSeconds();
  Clock::time_point t0 = Clock::now();
  Clock::time_point lastEnd = t0;
  for (int i = 0; i < frames; ++i) {
    HGLOBAL h = nullptr;
    DWORD size = 0;
    BOOL ok = dev->bRequest(&cmd, &h, &size, &err);
    Clock::time_point end = Clock::now();
    if (!ok) {
      ++res.failures;
      lastEnd = end;
      continue;
    }
    bytes += size;
    GlobalFree(h);
    if (i > 0) beyond.push_back(std::chrono::duration<double, std::milli>(end - lastEnd).count() - 50.0);
    lastEnd = end;
  }
  double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
  double cpu = ProcessCpuSeconds() - cpu0;
  // Unspaced: the client leaves 50 ms between a reply and its next request
  // (as when it decodes and draws), so the library never waits and the
  // request's time is its own work and the camera's.
  std::vector<double> latency;
  for (int i = 0; i < latencyFrames; ++i) {
    Sleep(50);
    HGLOBAL h = nullptr;
    DWORD size = 0;
    Clock::time_point start = Clock::now();
    BOOL ok = dev->bRequest(&cmd, &h, &size, &err);
    Clock::time_point end = Clock::now();
    if (!ok) {
      ++res.failures;
      continue;
    }
    GlobalFree(h);
    latency.push_back(std::chrono::duration<double, std::milli>(end - start).count());
  }
  res.l50 = Percentile(latency, 0.50);
  res.l95 = Percentile(latency, 0.95);
  res.lmax = latency.empty() ? 0 : *std::max_element(latency.begin(), latency.end());
  res.leakedBlocks = GlobalBlockCount() - blocks;
  dev->bClose(&err);
  release(&dev);
  emu.Stop();
  fotavi::test::RemoveTree(root);
  res.ok = true;
  res.frames = frames - res.failures;
  res.fps = (frames - 1) / std::chrono::duration<double>(lastEnd - t0).count();
  (void)seconds;
  res.meanKiB = res.frames ? bytes / res.frames / 1024 : 0;
  res.p50 = Percentile(beyond, 0.50);
  res.p95 = Percentile(beyond, 0.95);
  res.max = beyond.empty() ? 0 : *std::max_element(beyond.begin(), beyond.end());
  res.cpuMsPerFrame = frames ? cpu * 1000 / frames : 0;
  return res;
}

}  // namespace

int main(int argc, char** argv) {
  int frames = argc > 1 ? std::atoi(argv[1]) : 300;
  int latencyFrames = argc > 2 ? std::atoi(argv[2]) : 100;
  std::string pictureDir = argc > 3 ? argv[3] : "";
  HMODULE module = LoadLibrary(FOTAVI_DRIVER_MODULE);
  if (!module) {
    std::fprintf(stderr, "cannot load the device library: %s\n", GetLoadErrorText().c_str());
    return 1;
  }
  auto create = GetProcAddressAs<PFN_CREATEINSTANCE>(module, FOTAVI_CREATEINSTANCE);
  auto release = GetProcAddressAs<PFN_RELEASEINSTANCE>(module, FOTAVI_RELEASEINSTANCE);
  std::printf("frame requests, one in flight, synchronous command-block form\n");
  std::printf("back to back: %d frames; interval beyond the 50 ms spacing (p50/p95/max); CPU of this process\n",
              frames);
  std::printf("unspaced: %d frames, 50 ms client pause between requests; request time (p50/p95/max)\n",
              latencyFrames);
  std::printf("%-5s %-9s %6s %7s %7s %8s %8s %8s %9s %8s %8s %8s %6s %s\n", "level", "transfer", "frames", "fps",
              "KiB", "+p50 ms", "+p95 ms", "+max ms", "cpu ms/f", "req p50", "req p95", "req max", "leaks", "note");
  for (DWORD level : {0u, 1u, 2u}) {
    for (DWORD transfer : {16u, 64u, 256u}) {
      Result r = Run(create, release, level, transfer, frames, latencyFrames, pictureDir);
      std::printf("%-5u %5u KiB %6d %7.2f %7.1f %8.3f %8.3f %8.3f %9.3f %8.3f %8.3f %8.3f %6zu %s%s\n", level,
                  transfer, r.frames, r.fps, r.meanKiB, r.p50, r.p95, r.max, r.cpuMsPerFrame, r.l50, r.l95, r.lmax,
                  r.leakedBlocks,
                  r.failures ? (std::to_string(r.failures) + " failed ").c_str() : "", r.note.c_str());
      std::fflush(stdout);
    }
  }
  return 0;
}
