// End-to-end recording benchmark of the movie program on the emulated
// camera, offscreen: the main frame's Record with the document's settings,
// the live picture, the frame clock, the recording thread and the writers,
// for AVI and WMV at 1024x768, 512x384 and 256x192, 20 frames a second.
// Prints frames in the file against the expected count, repeated frames, the
// live picture's rate while recording, CPU per recorded frame per thread,
// peak memory, and the frame-rate measurement's result.
//
// Then the cost of a recorded frame, from the same recordings: the whole
// process's CPU per second of recording against a reference of bare work,
// (bare decode x live pictures decoded in that second + bare writer x frames
// written in it). The bare decode is TurboJPEG on frames straight from the
// camera, at the decode size with the program decoder's choices (fast DCT,
// plain upsampling); the bare writer is FFmpeg alone on the same pictures
// (BareWriter.h), as many frames as the recording wrote. The recording and
// the bare writer each start once the disk's dirty pages are written out. Target at 1024x768: a ratio of at most 1.3.
//   fotavi_mov_bench [seconds per recording, default 20] [only this size, e.g. 1024x768]
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <sys/resource.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "AutoFrameRateDlg.h"
#include "BareWriter.h"
#include "CameraFrames.h"
#include "EmulatorProcess.h"
#include "ThreadCpu.h"
#include "FRMDlg.h"
#include "FotaviMovDoc.h"
#include "MainFrm.h"
#include "MovApp.h"
#include "Platform/Messages.h"
#include "Platform/UiService.h"
#include "RecSettings.h"

namespace {

class PrintingUi : public IUserInterfaceService {
 public:
  int MessageBox(HWND, const std::string& text, const std::string&, UINT) override {
    std::fprintf(stderr, "message box: %s\n", text.c_str());
    return IDOK;
  }
  FileChooserResult ChooseFile(HWND, const FileChooserRequest&) override { return {}; }
  std::string ChooseFolder(HWND, const std::string&, const std::string&) override { return {}; }
};

// Runs the program's own event loop (Qt's, which also pumps the platform
// queue once the program is up) until `done` or `ms` have passed, looking
// at `done` five times a second: the GUI thread's figures are the program's,
// not a polling harness's.
template <typename F>
bool WaitUntil(F done, int ms) {
  if (done()) return true;
  QEventLoop loop;
  QTimer look;
  QObject::connect(&look, &QTimer::timeout, &loop, [&] {
    if (done()) loop.quit();
  });
  look.start(200);
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
  return done();
}

// CPU seconds of every thread now alive, by "name/tid".
std::map<std::string, double> ThreadTimes() {
  std::map<std::string, double> out;
  for (const auto& [name, seconds] : fotavi::test::ThreadCpu()) out[name] = seconds;
  return out;
}

using fotavi::test::ProcessCpuSeconds;
using fotavi::test::ThreadCpuSeconds;

// The camera's frames decoded at 1/step of their size, as 24-bit pictures
// (the writers' input), and the CPU milliseconds a bare decode takes.
struct BareDecode {
  std::vector<CBitmap24> pictures;
  double msPerPicture = 0;
};

BareDecode DecodeBare(const std::vector<std::string>& frames, int step) {
  BareDecode out;
  tjhandle tj = tjInitDecompress();
  constexpr int kFlags = TJFLAG_FASTDCT | TJFLAG_FASTUPSAMPLE;
  std::vector<unsigned char> rows;
  int decoded = 0;
  const double start = ThreadCpuSeconds();
  QElapsedTimer t;
  t.start();
  while (!frames.empty() && (t.elapsed() < 2000 || decoded < 50)) {
    for (const std::string& f : frames) {
      int w = 0, h = 0, sub = 0, cs = 0;
      const auto* p = reinterpret_cast<const unsigned char*>(f.data());
      if (tjDecompressHeader3(tj, p, f.size(), &w, &h, &sub, &cs) != 0) continue;
      const int sw = (w + step - 1) / step, sh = (h + step - 1) / step;
      // Room for the decoded picture whatever size the camera sends (once).
      if (rows.size() < size_t(sw) * sh * 3) rows.resize(size_t(sw) * sh * 3);
      if (tjDecompress2(tj, p, f.size(), rows.data(), sw, 0, sh, TJPF_BGR, kFlags) == 0) ++decoded;
    }
  }
  out.msPerPicture = decoded ? (ThreadCpuSeconds() - start) * 1000.0 / decoded : 0;
  for (const std::string& f : frames) {
    int w = 0, h = 0, sub = 0, cs = 0;
    const auto* p = reinterpret_cast<const unsigned char*>(f.data());
    if (tjDecompressHeader3(tj, p, f.size(), &w, &h, &sub, &cs) != 0) continue;
    CBitmap24 picture = CreateBitmap24((w + step - 1) / step, (h + step - 1) / step);
    if (tjDecompress2(tj, p, f.size(), picture.bits(), picture.width(), int(picture.bytesPerLine()),
                      picture.height(), TJPF_BGR, kFlags) == 0)
      out.pictures.push_back(picture);
  }
  tjDestroy(tj);
  return out;
}

// What one recording cost, for the table printed at the end.
struct Cost {
  const char* size;
  const char* kind;
  double seconds = 0;
  double cpuMsPerSecond = 0;
  double picturesPerSecond = 0;
  double framesPerSecond = 0;
  double bareDecodeMs = 0;
  double bareWriterMs = 0;
};

long PeakRssKb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
  const std::string onlySize = argc > 2 ? argv[2] : "";
  constexpr DWORD kRate = 20;
  if (!getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  const std::string dir = fotavi::test::MakeTempDir("fotavi-movbench-");
  setenv("FOTAVI_MUTEX_ROOT", (dir + "/mutex").c_str(), 1);
  std::filesystem::create_directories(dir + "/mutex");
  std::filesystem::create_directories(dir + "/work");
  std::filesystem::permissions(dir + "/work", std::filesystem::perms::owner_all);
  setenv("FOTAVI_WORK_DIR", (dir + "/work").c_str(), 1);
  // The measurement's files go to the large work folder under the cache.
  setenv("XDG_CACHE_HOME", (dir + "/cache").c_str(), 1);
  setenv("FOTAVI_USER_SETTINGS", (dir + "/user.conf").c_str(), 1);
  setenv("FOTAVI_DEVICE_ROOT", (dir + "/devices").c_str(), 1);
  setenv("FOTAVI_FALLBACK_ROOT", (dir + "/fallback/").c_str(), 1);
  if (!getenv("FOTAVI_MACHINE_SETTINGS")) setenv("FOTAVI_MACHINE_SETTINGS", (dir + "/machine.conf").c_str(), 1);

  QApplication qapp(argc, argv);
  PrintingUi ui;
  SetUserInterfaceService(&ui);
  fotavi::test::EmulatorOptions options;
  options.deviceRoot = dir + "/devices";
  fotavi::test::EmulatorProcess emulator(options);
  if (!emulator.Start()) {
    std::fprintf(stderr, "camera emulator did not start\n");
    return 1;
  }
  struct Step {
    DWORD videoSize;
    const char* size;
    int step;  // the decode's reduction
    DWORD compress;
    const char* kind;
  };
  const Step steps[] = {{VIDEOSIZE_100, "1024x768", 1, COMPRESS_AVI, "AVI"}, {VIDEOSIZE_100, "1024x768", 1, COMPRESS_WMV, "WMV"},
                        {VIDEOSIZE_50, "512x384", 2, COMPRESS_AVI, "AVI"},   {VIDEOSIZE_50, "512x384", 2, COMPRESS_WMV, "WMV"},
                        {VIDEOSIZE_25, "256x192", 4, COMPRESS_AVI, "AVI"},   {VIDEOSIZE_25, "256x192", 4, COMPRESS_WMV, "WMV"}};
  constexpr DWORD kQuality = 80;
  std::vector<std::string> cameraFrames;
  std::vector<Cost> costs;
  std::printf("%d s a recording at %lu frames a second, offscreen, on the emulated camera\n", seconds,
              static_cast<unsigned long>(kRate));
  std::printf("%-9s %-4s %8s %8s %8s %9s %12s  %s\n", "size", "kind", "expected", "in file", "repeated",
              "live fps", "CPU ms/frame", "threads (ms per frame)");
  int rc = 0;
  std::vector<const Step*> run;
  for (const Step& s : steps) {
    if (onlySize.empty() || onlySize == s.size) run.push_back(&s);
  }
  for (const Step* step : run) {
    const Step& s = *step;
    const std::string output = dir + "/bench." + (s.compress == COMPRESS_WMV ? "wmv" : "avi");
    std::filesystem::remove(output);
    WriteRecString(recreg::kOutputFileName, output);
    WriteRecInt(recreg::kCompress, s.compress);
    WriteRecInt(recreg::kVideoSize, s.videoSize);
    WriteRecInt(recreg::kCurrentRate, kRate);
    WriteRecInt(recreg::kMaxFileSize, 1023);
    WriteRecInt(recreg::kRecCondition, RECCOND_TIME);
    WriteRecInt(recreg::kRecMinute, 0);
    WriteRecInt(recreg::kRecSecond, DWORD(seconds));
    WriteRecInt(recreg::kVideoQuality, kQuality);
    WriteRecInt(recreg::kIsSetting, 1);
    CFotaviMovApp app;
    app.SetFrameFactory(&CreateMovMainFrame);
    if (!app.InitInstance()) {
      std::fprintf(stderr, "FotaviMov did not start\n");
      return 1;
    }
    auto* frame = dynamic_cast<CMainFrame*>(app.GetMainFrame());
    if (!frame || !WaitUntil([&] { return frame->IsDeviceOpen() != FALSE; }, 20000)) {
      std::fprintf(stderr, "FotaviMov did not open the emulated camera\n");
      app.ExitInstance();
      return 1;
    }
    CFotaviMovView* view = frame->GetView();
    frame->OnSemiAnimation();
    WaitUntil([&] { return view->PaintedFrames() >= 3; }, 20000);
    if (cameraFrames.empty()) cameraFrames = fotavi::test::GrabCameraFrames(app.GetDevice(), 16);
    const auto before = ThreadTimes();
    const int picturesBefore = 0;
    view->GetLiveThread()->SetCounting(true);
    // The disk's dirty pages of the runs before are written out first, so
    // that each recording, like each bare writer below, starts from the
    // same page cache: writing into a cache that is being flushed costs
    // the writer several times the CPU.
    sync();
    const double cpuBefore = ProcessCpuSeconds();
    frame->OnRecord();
    QElapsedTimer clock;
    clock.start();
    std::map<std::string, double> during;
    // The last look at the threads while the recording thread still lives.
    WaitUntil([&] { return !view->IsRecording() || clock.elapsed() >= qint64(seconds) * 1000 - 300; },
              seconds * 1000 + 30000);
    during = ThreadTimes();
    WaitUntil([&] { return !view->IsRecording(); }, 60000);
    const double cpuUsed = ProcessCpuSeconds() - cpuBefore;
    const double elapsed = clock.elapsed() / 1000.0;
    const int pictures = view->GetLiveThread() ? view->GetLiveThread()->GetPictureCount() - picturesBefore : 0;
    if (view->GetLiveThread()) view->GetLiveThread()->SetCounting(false);
    const uint64_t frames = view->LastFrameCount();
    double total = 0;
    std::string perThread;
    for (const auto& [name, t] : during) {
      const auto it = before.find(name);
      const double used = t - (it == before.end() ? 0.0 : it->second);
      total += used;
      if (used * 1000.0 / std::max<uint64_t>(frames, 1) >= 0.05) {
        char buf[96];
        std::snprintf(buf, sizeof buf, "%s %.2f ", name.c_str(), used * 1000.0 / std::max<uint64_t>(frames, 1));
        perThread += buf;
      }
    }
    std::printf("%-9s %-4s %8lu %8lu %8lu %9.1f %12.2f  %s\n", s.size, s.kind,
                static_cast<unsigned long>(kRate * DWORD(seconds)), static_cast<unsigned long>(frames),
                static_cast<unsigned long>(view->LastRepeatedCount()), pictures / elapsed,
                total * 1000.0 / std::max<uint64_t>(frames, 1), perThread.c_str());
    std::fflush(stdout);
    if (!view->LastError().empty()) rc = 1;
    Cost cost;
    cost.size = s.size;
    cost.kind = s.kind;
    cost.seconds = elapsed;
    cost.cpuMsPerSecond = cpuUsed * 1000.0 / elapsed;
    cost.picturesPerSecond = pictures / elapsed;
    cost.framesPerSecond = double(frames) / elapsed;
    costs.push_back(cost);
    if (step == run.back() && onlySize.empty()) {
      // The frame-rate measurement at the last size.
      CFotaviMovDoc* doc = frame->GetDocument();
      CAutoFrameRateDlg measure(view, doc, frame);
      measure.SetParentDlg(doc->GetSettingDialog());
      measure.SetMeasureSize(256, 192);
      const int rate = measure.DoModal();
      std::printf("frame-rate measurement at 256x192 AVI: %d frames a second\n", rate);
    }
    frame->OnSemiAnimationStop();
    app.ExitInstance();
  }
  std::printf("peak memory: %.1f MB\n", PeakRssKb() / 1024.0);

  // The bare references, after the recordings, so that they do not share
  // the machine with them.
  std::printf("\ncost of a recorded frame: whole-process CPU per second of recording against\n"
              "(bare decode x live pictures decoded + bare writer x frames written) in that second\n");
  std::printf("%-9s %-4s %10s %10s %10s %12s %12s %10s %7s\n", "size", "kind", "CPU ms/s", "pictures/s",
              "frames/s", "decode ms", "writer ms", "bare ms/s", "ratio");
  for (size_t i = 0; i < costs.size(); ++i) {
    Cost& c = costs[i];
    const Step& s = *run[i];
    const BareDecode decode = DecodeBare(cameraFrames, s.step);
    c.bareDecodeMs = decode.msPerPicture;
    // As many frames as the recording wrote, from the same page cache state.
    const int bareFrames = std::max(50, int(c.framesPerSecond * c.seconds + 0.5));
    const std::string bareOutput = dir + "/bare." + (s.compress == COMPRESS_WMV ? "wmv" : "avi");
    sync();
    c.bareWriterMs = BareWriterSeconds(s.compress == COMPRESS_WMV, decode.pictures, kRate, kQuality, bareFrames,
                                       bareOutput) * 1000.0 / bareFrames;
    std::filesystem::remove(bareOutput);
    const double bare = c.bareDecodeMs * c.picturesPerSecond + c.bareWriterMs * c.framesPerSecond;
    std::printf("%-9s %-4s %10.1f %10.1f %10.1f %12.2f %12.2f %10.1f %7.2f\n", c.size, c.kind, c.cpuMsPerSecond,
                c.picturesPerSecond, c.framesPerSecond, c.bareDecodeMs, c.bareWriterMs, bare,
                bare > 0 ? c.cpuMsPerSecond / bare : 0.0);
  }
  std::printf("target at 1024x768: ratio 1.3 or less\n");
  SetUserInterfaceService(nullptr);
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  return rc;
}
