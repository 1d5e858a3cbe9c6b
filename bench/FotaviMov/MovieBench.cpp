// End-to-end recording benchmark of the movie program on the emulated
// camera, offscreen: the main frame's Record with the document's settings,
// the live picture, the frame clock, the recording thread and the writers,
// at 1024x768 and 20 frames a second, AVI and WMV, each at device-log
// levels 0 and 1. Prints frames in the file against the expected count,
// repeated frames, the live picture's rate while recording and the rate the
// view painted it at (every picture shown: the two agree), CPU per
// recorded frame per thread, peak memory, and the frame-rate measurement's
// result.
//
// Then the cost of a recorded frame, from the same recordings: the whole
// process's CPU per second of recording against a reference of the bare
// work that second holds, each part measured alone in the same run:
//   decode   TurboJPEG on frames straight from the camera, with the program
//            decoder's choices (fast DCT, plain upsampling), x pictures;
//   paint    one QPainter::drawImage of the decoded picture into an image
//            of the view's shown size, x pictures the view painted;
//   writer   FFmpeg alone on the same pictures (BareWriter.h), as many
//            frames as the recording wrote, x frames;
//   carry    the frames' packets read over a socket pair of the pipe's kind
//            (BareSocket.h), x pictures;
//   control  one bare socket round trip of the driver text's size (the
//            I/O control the device log asks for with each line), x the
//            device-log lines the recording wrote.
// The recording and the bare writer each start once the disk's dirty pages
// are written out. Target: a ratio of at most 1.3 in every row.
//   fotavi_mov_bench [seconds per recording, default 20] [runs, default 1] [only this row, e.g. AVI1]
#include <QApplication>
#include <QElapsedTimer>
#include <QPainter>
#include <QTimer>

#include <sys/resource.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "AutoFrameRateDlg.h"
#include "BareSocket.h"
#include "BareWriter.h"
#include "CameraFrames.h"
#include "EmulatorProcess.h"
#include "ThreadCpu.h"
#include "FRMDlg.h"
#include "FotaviMovDoc.h"
#include "MainFrm.h"
#include "MovApp.h"
#include "Platform/DeviceInterface.h"
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

// The camera's frames decoded at their full size, as 24-bit pictures (the
// writers' and the painter's input), and the CPU milliseconds a bare decode
// takes.
struct BareDecode {
  std::vector<CBitmap24> pictures;
  double msPerPicture = 0;
};

BareDecode DecodeBare(const std::vector<std::string>& frames) {
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
      // Room for the decoded picture whatever size the camera sends (once).
      if (rows.size() < size_t(w) * h * 3) rows.resize(size_t(w) * h * 3);
      if (tjDecompress2(tj, p, f.size(), rows.data(), w, 0, h, TJPF_BGR, kFlags) == 0) ++decoded;
    }
  }
  out.msPerPicture = decoded ? (ThreadCpuSeconds() - start) * 1000.0 / decoded : 0;
  for (const std::string& f : frames) {
    int w = 0, h = 0, sub = 0, cs = 0;
    const auto* p = reinterpret_cast<const unsigned char*>(f.data());
    if (tjDecompressHeader3(tj, p, f.size(), &w, &h, &sub, &cs) != 0) continue;
    CBitmap24 picture = CreateBitmap24(w, h);
    if (tjDecompress2(tj, p, f.size(), picture.bits(), picture.width(), int(picture.bytesPerLine()),
                      picture.height(), TJPF_BGR, kFlags) == 0)
      out.pictures.push_back(picture);
  }
  tjDestroy(tj);
  return out;
}

// CPU milliseconds of one bare paint: the picture drawn whole into an image
// of the view's size in the window's 32-bit format, as a view's paint
// copies a picture to its window. Qt's painter hands parts of a large
// stretch to its thread pool: `all` is the whole process's CPU for it,
// `caller` the calling thread's alone.
struct BarePaint {
  double all = 0, caller = 0;
};

BarePaint PaintBare(const std::vector<CBitmap24>& pictures, QSize shown) {
  BarePaint out;
  if (pictures.empty() || shown.isEmpty()) return out;
  QImage target(shown, QImage::Format_RGB32);
  int painted = 0;
  const double start = ProcessCpuSeconds();
  const double startCaller = ThreadCpuSeconds();
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < 1000 || painted < 50) {
    for (const CBitmap24& picture : pictures) {
      QPainter painter(&target);
      painter.drawImage(QRect(QPoint(0, 0), shown), picture);
      ++painted;
    }
  }
  out.all = (ProcessCpuSeconds() - start) * 1000.0 / painted;
  out.caller = (ThreadCpuSeconds() - startCaller) * 1000.0 / painted;
  return out;
}

// Lines in the device log files "Device%d.log" of `folder`.
long DeviceLogLines(const std::string& folder) {
  long lines = 0;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(folder, ec)) {
    const std::string name = e.path().filename().string();
    if (name.rfind("Device", 0) != 0 || e.path().extension() != ".log") continue;
    std::ifstream in(e.path(), std::ios::binary);
    char buf[1 << 16];
    while (in.read(buf, sizeof buf) || in.gcount() > 0) lines += std::count(buf, buf + in.gcount(), '\n');
  }
  return lines;
}

// The machine settings of the run: the installation in `dir` (its logs in
// `dir`/Logs, its profiles beside the program), files large enough that the
// log never rotates during a run, the device log at `level`.
void WriteMachineSettings(const std::string& dir, int level) {
  std::ofstream conf(dir + "/machine.conf", std::ios::trunc);
  conf << "[SOFTWARE\\Tiryx\\Utility Software (K27)\\Parameters]\n"
       << "InstallPath=sz:" << dir << "\n"
       << "JpegLib=dword:0\n"
       << "[SOFTWARE\\Tiryx\\Z5\\Device Parameters]\n"
       << "MaxTransferSize=dword:64\n"
       << "LogFileSize=dword:1048576\n"
       << "LogLevel=dword:" << level << "\n";
}

// What one recording cost, for the table printed at the end.
struct Cost {
  const char* kind;
  int level = 0;
  double seconds = 0;
  double cpuMsPerSecond = 0;
  double picturesPerSecond = 0;
  double paintsPerSecond = 0;
  double framesPerSecond = 0;
  double linesPerSecond = 0;
  QSize shown;
  // The bare parts, per picture, frame or line.
  double decodeMs = 0, writerMs = 0, carryMs = 0, controlUs = 0;
  BarePaint paint;
  double Bare(double paintMs) const {
    return (decodeMs + carryMs) * picturesPerSecond + paintMs * paintsPerSecond + writerMs * framesPerSecond +
           controlUs / 1000.0 * linesPerSecond;
  }
  double Bare() const { return Bare(paint.all); }
  double Ratio() const { return Bare() > 0 ? cpuMsPerSecond / Bare() : 0.0; }
  // With the bare paint counted on its calling thread only.
  double CallerRatio() const { return Bare(paint.caller) > 0 ? cpuMsPerSecond / Bare(paint.caller) : 0.0; }
};

long PeakRssKb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// The driver text's length the emulated camera answers with, through a
// handle of the device contract.
size_t DriverTextBytes() {
  auto set = CDeviceInfoSet::GetPresent(FOTAVI_DEVICE_CLASS_GUID);
  std::string member;
  if (!set || set->EnumMember(0, &member) != ERROR_SUCCESS) return 0;
  auto handle = CDeviceHandle::Open(member + "/" + DEVICE_PIPE_SOCKET);
  if (!handle) return 0;
  char text[3840];
  DWORD n = 0;
  handle->IoControl(IOCTL_FOTAVI_GET_DRIVER_LOG, text, sizeof text, &n, 1000);
  return n;
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 1;
  const std::string onlyRow = argc > 3 ? argv[3] : "";
  constexpr DWORD kRate = 20;
  constexpr DWORD kQuality = 80;
  if (!getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  const std::string dir = fotavi::test::MakeTempDir("fotavi-movbench-");
  setenv("FOTAVI_MUTEX_ROOT", (dir + "/mutex").c_str(), 1);
  std::filesystem::create_directories(dir + "/mutex");
  std::filesystem::create_directories(dir + "/work");
  std::filesystem::create_directories(dir + "/Logs");
  std::filesystem::permissions(dir + "/work", std::filesystem::perms::owner_all);
  setenv("FOTAVI_WORK_DIR", (dir + "/work").c_str(), 1);
  // The measurement's files go to the large work folder under the cache.
  setenv("XDG_CACHE_HOME", (dir + "/cache").c_str(), 1);
  setenv("FOTAVI_USER_SETTINGS", (dir + "/user.conf").c_str(), 1);
  setenv("FOTAVI_DEVICE_ROOT", (dir + "/devices").c_str(), 1);
  setenv("FOTAVI_FALLBACK_ROOT", (dir + "/fallback/").c_str(), 1);
  setenv("XDG_STATE_HOME", (dir + "/state").c_str(), 1);
  setenv("FOTAVI_MACHINE_SETTINGS", (dir + "/machine.conf").c_str(), 1);
  // The installation's profiles are the program's own.
  std::error_code linkError;
  std::filesystem::create_directory_symlink(std::filesystem::read_symlink("/proc/self/exe").parent_path() / "Profile",
                                            dir + "/Profile", linkError);

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
  const size_t driverTextBytes = DriverTextBytes();
  struct Step {
    DWORD compress;
    const char* kind;
    int level;
  };
  const Step all[] = {{COMPRESS_AVI, "AVI", 0}, {COMPRESS_AVI, "AVI", 1}, {COMPRESS_WMV, "WMV", 0},
                      {COMPRESS_WMV, "WMV", 1}};
  std::vector<Step> steps;
  for (const Step& s : all) {
    if (onlyRow.empty() || onlyRow == std::string(s.kind) + std::to_string(s.level)) steps.push_back(s);
  }
  std::vector<std::string> cameraFrames;
  std::vector<std::vector<Cost>> costs(runs);
  std::printf("%d s a recording at 1024x768, %lu frames a second, offscreen, on the emulated camera\n", seconds,
              static_cast<unsigned long>(kRate));
  int rc = 0;
  for (int r = 0; r < runs; ++r) {
    std::printf("\nrun %d\n%-4s %5s %8s %8s %8s %9s %10s %12s  %s\n", r + 1, "kind", "log", "expected", "in file",
                "repeated", "live fps", "shown fps", "CPU ms/frame", "threads (ms per frame)");
    for (const Step& s : steps) {
      const std::string output = dir + "/bench." + (s.compress == COMPRESS_WMV ? "wmv" : "avi");
      std::filesystem::remove(output);
      WriteMachineSettings(dir, s.level);
      WriteRecString(recreg::kOutputFileName, output);
      WriteRecInt(recreg::kCompress, s.compress);
      WriteRecInt(recreg::kVideoSize, VIDEOSIZE_100);
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
      // The disk's dirty pages of the runs before are written out first, so
      // that each recording, like each bare writer below, starts from the
      // same page cache: writing into a cache that is being flushed costs
      // the writer several times the CPU.
      sync();
      const long linesBefore = DeviceLogLines(dir + "/Logs");
      // Pictures, paints and CPU counted from here on, over the recording's
      // time alone: the live picture runs on while the disk is flushed.
      const auto before = ThreadTimes();
      view->GetLiveThread()->SetCounting(true);
      const unsigned long long paintsBefore = view->PaintedFrames();
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
      const long lines = DeviceLogLines(dir + "/Logs") - linesBefore;
      const unsigned long long paints = view->PaintedFrames() - paintsBefore;
      const int pictures = view->GetLiveThread() ? view->GetLiveThread()->GetPictureCount() : 0;
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
      std::printf("%-4s %5d %8lu %8lu %8lu %9.1f %10.1f %12.2f  %s\n", s.kind, s.level,
                  static_cast<unsigned long>(kRate * DWORD(seconds)), static_cast<unsigned long>(frames),
                  static_cast<unsigned long>(view->LastRepeatedCount()), pictures / elapsed, paints / elapsed,
                  total * 1000.0 / std::max<uint64_t>(frames, 1), perThread.c_str());
      std::fflush(stdout);
      if (!view->LastError().empty()) rc = 1;
      Cost cost;
      cost.kind = s.kind;
      cost.level = s.level;
      cost.seconds = elapsed;
      cost.cpuMsPerSecond = cpuUsed * 1000.0 / elapsed;
      cost.picturesPerSecond = pictures / elapsed;
      cost.paintsPerSecond = double(paints) / elapsed;
      cost.framesPerSecond = double(frames) / elapsed;
      cost.linesPerSecond = lines / elapsed;
      cost.shown = view->size();
      costs[r].push_back(cost);
      if (r == runs - 1 && &s == &steps.back()) {
        // The frame-rate measurement, once.
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

    // The bare parts, after the recordings, so that they do not share the
    // machine with them.
    const BareDecode decode = DecodeBare(cameraFrames);
    std::vector<size_t> frameBytes;
    for (const std::string& f : cameraFrames) frameBytes.push_back(f.size() > 575 ? f.size() - 575 : 0);
    const double carryMs = fotavi::test::BareCarryMs(frameBytes, 64 * 1024, 2000);
    const double controlUs = fotavi::test::BareRoundTripUs(20000, 8 + driverTextBytes);
    for (Cost& c : costs[r]) {
      c.decodeMs = decode.msPerPicture;
      c.paint = PaintBare(decode.pictures, c.shown);
      c.carryMs = carryMs;
      c.controlUs = controlUs;
      // As many frames as the recording wrote, from the same page cache
      // state; the least of three writes, so that a disk busy with others
      // does not make the reference dearer.
      const int bareFrames = std::max(50, int(c.framesPerSecond * c.seconds + 0.5));
      const bool wmv = std::string(c.kind) == "WMV";
      const std::string bareOutput = dir + "/bare." + (wmv ? "wmv" : "avi");
      for (int i = 0; i < 3; ++i) {
        sync();
        const double ms = BareWriterSeconds(wmv, decode.pictures, kRate, kQuality, bareFrames, bareOutput) *
                          1000.0 / bareFrames;
        c.writerMs = i == 0 ? ms : std::min(c.writerMs, ms);
        std::filesystem::remove(bareOutput);
      }
    }
    std::printf("bare parts: decode %.2f ms a picture, paint %.2f ms at %dx%d (%.2f ms on the calling thread), "
                "carry %.3f ms a picture, control round trip %.1f us (%lu bytes of driver text); writer per row "
                "below\n",
                decode.msPerPicture, costs[r].front().paint.all, costs[r].front().shown.width(),
                costs[r].front().shown.height(), costs[r].front().paint.caller, carryMs, controlUs,
                static_cast<unsigned long>(driverTextBytes));
  }
  std::printf("peak memory: %.1f MB\n", PeakRssKb() / 1024.0);

  std::printf("\ncost of a recorded frame at 1024x768: whole-process CPU per second of recording against\n"
              "the bare work of that second (ms per second of each part, then their sum)\n");
  std::printf("(ratio*: the same with the bare paint's calling thread alone, without Qt's thread pool)\n");
  std::printf("%-3s %-4s %3s %8s %6s %6s %7s %8s %7s %7s %7s %8s %8s %6s %7s\n", "run", "kind", "log", "CPU ms/s",
              "pict/s", "frm/s", "lines/s", "decode", "paint", "writer", "carry", "control", "bare", "ratio",
              "ratio*");
  for (int r = 0; r < runs; ++r) {
    for (const Cost& c : costs[r]) {
      std::printf("%-3d %-4s %3d %8.1f %6.1f %6.1f %7.0f %8.1f %7.1f %7.1f %7.2f %8.1f %8.1f %6.2f %7.2f\n", r + 1,
                  c.kind, c.level, c.cpuMsPerSecond, c.picturesPerSecond, c.framesPerSecond, c.linesPerSecond,
                  c.decodeMs * c.picturesPerSecond, c.paint.all * c.paintsPerSecond,
                  c.writerMs * c.framesPerSecond, c.carryMs * c.picturesPerSecond,
                  c.controlUs / 1000.0 * c.linesPerSecond, c.Bare(), c.Ratio(), c.CallerRatio());
    }
  }
  if (runs > 1) {
    std::printf("spread over %d runs (ratio, ratio*):\n", runs);
    for (size_t i = 0; i < steps.size(); ++i) {
      double lo = 1e9, hi = 0, loCaller = 1e9, hiCaller = 0, loCpu = 1e9, hiCpu = 0;
      for (int r = 0; r < runs; ++r) {
        lo = std::min(lo, costs[r][i].Ratio());
        hi = std::max(hi, costs[r][i].Ratio());
        loCaller = std::min(loCaller, costs[r][i].CallerRatio());
        hiCaller = std::max(hiCaller, costs[r][i].CallerRatio());
        loCpu = std::min(loCpu, costs[r][i].cpuMsPerSecond);
        hiCpu = std::max(hiCpu, costs[r][i].cpuMsPerSecond);
      }
      std::printf("  %s log %d: CPU %.1f-%.1f ms/s, ratio %.2f-%.2f, ratio* %.2f-%.2f\n", steps[i].kind,
                  steps[i].level, loCpu, hiCpu, lo, hi, loCaller, hiCaller);
    }
  }
  std::printf("target: ratio 1.3 or less in every row\n");
  SetUserInterfaceService(nullptr);
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  return rc;
}
