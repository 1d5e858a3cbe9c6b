// Live monitor benchmark: the presentation program's live road on the real
// device library against the camera emulator, offscreen, at each live size
// step. Prints frames received and painted per second, reply-to-paint
// latency, process CPU per frame against a bare libjpeg-turbo decode of the
// same frames, peak memory, memory growth and data blocks left over.
//
// usage: fotavi_live_bench [seconds per step, default 60]
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <sys/resource.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "Live/AnimeFrame.h"
#include "Live/AnimeView.h"
#include "CameraFrames.h"
#include "EmulatorProcess.h"
#include "ThreadCpu.h"
#include "App/FotaviApp.h"
#include "App/MainFrm.h"
#include "Platform/GlobalMemory.h"
#include "App/Resource.h"

namespace {

using fotavi::test::ProcessCpuSeconds;
using fotavi::test::ThreadCpuSeconds;

long RssKb() {
  long pages = 0, resident = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

long PeakRssKb() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return ru.ru_maxrss;
}

// Runs the program's event loop for `ms` (blocking in Qt's loop as the
// program does, so the harness adds no polling of its own).
void Pump(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const size_t i = std::min(v.size() - 1, static_cast<size_t>(p * (v.size() - 1) + 0.5));
  return v[i];
}

// CPU milliseconds per frame of a bare decode at 1/step.
double BareDecodeMs(const std::vector<std::string>& frames, int step) {
  tjhandle tj = tjInitDecompress();
  std::vector<unsigned char> out(1024 * 768 * 3);
  const double start = ThreadCpuSeconds();
  int decoded = 0;
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < 2000 || decoded < 50) {
    for (const std::string& f : frames) {
      int w = 0, h = 0, sub = 0, cs = 0;
      const auto* p = reinterpret_cast<const unsigned char*>(f.data());
      if (tjDecompressHeader3(tj, p, f.size(), &w, &h, &sub, &cs) != 0) continue;
      const int sw = (w + step - 1) / step, sh = (h + step - 1) / step;
      if (tjDecompress2(tj, p, f.size(), out.data(), sw, 0, sh, TJPF_BGR, TJFLAG_FASTDCT) == 0) ++decoded;
    }
  }
  const double cpu = ThreadCpuSeconds() - start;
  tjDestroy(tj);
  return decoded ? cpu * 1000.0 / decoded : 0;
}


}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
  if (!getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  const std::string dir = fotavi::test::MakeTempDir("fotavi-bench-");
  setenv("FOTAVI_MUTEX_ROOT", (dir + "/mutex").c_str(), 1);
  std::filesystem::create_directories(dir + "/mutex");
  std::filesystem::create_directories(dir + "/work");
  std::filesystem::permissions(dir + "/work", std::filesystem::perms::owner_all);
  setenv("FOTAVI_WORK_DIR", (dir + "/work").c_str(), 1);
  setenv("FOTAVI_USER_SETTINGS", (dir + "/user.conf").c_str(), 1);
  setenv("FOTAVI_DEVICE_ROOT", (dir + "/devices").c_str(), 1);
  setenv("FOTAVI_FALLBACK_ROOT", (dir + "/fallback/").c_str(), 1);
  setenv("XDG_STATE_HOME", (dir + "/state").c_str(), 1);
  if (!getenv("FOTAVI_MACHINE_SETTINGS")) setenv("FOTAVI_MACHINE_SETTINGS", (dir + "/machine.conf").c_str(), 1);

  QApplication qapp(argc, argv);
  fotavi::test::EmulatorOptions options;
  options.deviceRoot = dir + "/devices";
  fotavi::test::EmulatorProcess emulator(options);
  if (!emulator.Start()) {
    std::fprintf(stderr, "camera emulator did not start\n");
    return 1;
  }
  int rc = 0;
  {
    CFotaviApp app;
    if (!app.InitInstance() || !app.GetMainFrame()->IsDeviceOpen()) {
      std::fprintf(stderr, "Fotavi did not start on the emulator\n");
      return 1;
    }
    CMainFrame* main = app.GetMainFrame();
    Pump(200);
    const std::vector<std::string> frames = fotavi::test::GrabCameraFrames(app.GetDevice(), 40);
    std::printf("Fotavi live monitor benchmark: %d s per step, %zu reference frames (%zu bytes each)\n", seconds,
                frames.size(), frames.empty() ? size_t(0) : frames[0].size());
    std::printf("%-6s %9s %9s %8s %8s %10s %10s %6s %9s %9s %8s\n", "step", "recv/s", "paint/s", "lat p50",
                "lat p95", "cpu/frame", "bare/frame", "ratio", "peak MB", "growth KB", "blocks");
    const struct {
      int command;
      int step;
    } steps[] = {{ID_LIVE_SIZE25, 4}, {ID_LIVE_SIZE50, 2}, {ID_LIVE_SIZE100, 1}};
    for (const auto& s : steps) {
      const size_t blocksBefore = GlobalBlockCount();
      main->OnCommand(s.command);
      main->OnCommand(ID_LIVE_START);
      CAnimeFrame* frame = main->GetLiveFrame();
      if (!frame) {
        std::printf("%-6d live monitor did not start\n", s.step);
        rc = 1;
        continue;
      }
      CLiveStats& stats = frame->GetAnimeView()->GetStats();
      stats.recordLatency = true;
      Pump(2000);  // warm-up
      const uint64_t recv0 = stats.repliesArrived.load();
      const uint64_t paint0 = stats.framesPainted.load();
      const size_t lat0 = stats.latencyMs.size();
      const double cpu0 = ProcessCpuSeconds();
      QElapsedTimer t;
      t.start();
      // Memory growth: resident size after the first quarter of the run
      // (every buffer of the road exists by then) against the end.
      Pump(seconds * 250);
      const long rss0 = RssKb();
      Pump(seconds * 750);
      const double elapsed = t.elapsed() / 1000.0;
      if (getenv("FOTAVI_BENCH_THREADS")) {
        std::printf("  CPU seconds by thread since start (step 1/%d):\n", s.step);
        for (const auto& [name, c] : fotavi::test::ThreadCpu())
          if (c > 0.05) std::printf("    %-24s %8.2f\n", name.c_str(), c);
      }
      const double cpu = ProcessCpuSeconds() - cpu0;
      const long rss1 = RssKb();
      const uint64_t recv = stats.repliesArrived.load() - recv0;
      const uint64_t painted = stats.framesPainted.load() - paint0;
      std::vector<double> lat(stats.latencyMs.begin() + static_cast<long>(lat0), stats.latencyMs.end());
      main->OnCommand(ID_LIVE_STOP);
      Pump(300);
      if (main->GetLiveFrame()) main->GetLiveFrame()->close();
      Pump(200);
      const long blocksLeft = static_cast<long>(GlobalBlockCount()) - static_cast<long>(blocksBefore);
      const double cpuPerFrame = painted ? cpu * 1000.0 / painted : 0;
      const double bare = getenv("FOTAVI_BENCH_NOBARE") ? 0.0 : BareDecodeMs(frames, s.step);
      std::printf("1/%-4d %9.2f %9.2f %6.2fms %6.2fms %8.3fms %8.3fms %6.2f %9.1f %9ld %8ld\n", s.step,
                  recv / elapsed, painted / elapsed, Percentile(lat, 0.5), Percentile(lat, 0.95), cpuPerFrame, bare,
                  bare > 0 ? cpuPerFrame / bare : 0.0, PeakRssKb() / 1024.0, rss1 - rss0, blocksLeft);
      std::fflush(stdout);
    }
    app.ExitInstance();
  }
  emulator.Stop();
  fotavi::test::RemoveTree(dir);
  return rc;
}
