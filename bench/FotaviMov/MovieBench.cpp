// End-to-end recording benchmark of the movie program on the emulated
// camera, offscreen: the main frame's Record with the document's settings,
// the live picture, the frame clock, the recording thread and the writers,
// for AVI and WMV at 1024x768, 512x384 and 256x192, 20 frames a second.
// Prints frames in the file against the expected count, repeated frames, the
// live picture's rate while recording, CPU per recorded frame per thread,
// peak memory, and the frame-rate measurement's result.
//   fotavi_mov_bench [seconds per recording, default 20]
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "AutoFrameRateDlg.h"
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

void Pump(int ms) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < ms) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    DrainMessages();
    // Not a busy wait: the GUI thread's figures are the program's own.
    usleep(2000);
  }
}

template <typename F>
bool WaitUntil(F done, int ms) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > ms) return false;
    Pump(10);
  }
  return true;
}

// CPU seconds of every thread now alive, by "name/tid".
std::map<std::string, double> ThreadTimes() {
  std::map<std::string, double> out;
  for (const auto& [name, seconds] : fotavi::test::ThreadCpu()) out[name] = seconds;
  return out;
}

long PeakRssKb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
  constexpr DWORD kRate = 20;
  if (!getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  const std::string dir = fotavi::test::MakeTempDir("fotavi-movbench-");
  setenv("FOTAVI_MUTEX_ROOT", (dir + "/mutex").c_str(), 1);
  std::filesystem::create_directories(dir + "/mutex");
  std::filesystem::create_directories(dir + "/work");
  std::filesystem::permissions(dir + "/work", std::filesystem::perms::owner_all);
  setenv("FOTAVI_WORK_DIR", (dir + "/work").c_str(), 1);
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
    DWORD compress;
    const char* kind;
  };
  const Step steps[] = {{VIDEOSIZE_100, "1024x768", COMPRESS_AVI, "AVI"}, {VIDEOSIZE_100, "1024x768", COMPRESS_WMV, "WMV"},
                        {VIDEOSIZE_50, "512x384", COMPRESS_AVI, "AVI"},   {VIDEOSIZE_50, "512x384", COMPRESS_WMV, "WMV"},
                        {VIDEOSIZE_25, "256x192", COMPRESS_AVI, "AVI"},   {VIDEOSIZE_25, "256x192", COMPRESS_WMV, "WMV"}};
  std::printf("%d s a recording at %lu frames a second, offscreen, on the emulated camera\n", seconds,
              static_cast<unsigned long>(kRate));
  std::printf("%-9s %-4s %8s %8s %8s %9s %12s  %s\n", "size", "kind", "expected", "in file", "repeated",
              "live fps", "CPU ms/frame", "threads (ms per frame)");
  int rc = 0;
  for (const Step& s : steps) {
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
    WriteRecInt(recreg::kVideoQuality, 80);
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
    const auto before = ThreadTimes();
    const int picturesBefore = 0;
    view->GetLiveThread()->SetCounting(true);
    frame->OnRecord();
    QElapsedTimer clock;
    clock.start();
    std::map<std::string, double> during;
    // The last look at the threads while the recording thread still lives.
    WaitUntil([&] { return !view->IsRecording() || clock.elapsed() >= qint64(seconds) * 1000 - 300; },
              seconds * 1000 + 30000);
    during = ThreadTimes();
    WaitUntil([&] { return !view->IsRecording(); }, 60000);
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
    if (&s == &steps[std::size(steps) - 1]) {
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
  SetUserInterfaceService(nullptr);
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  return rc;
}
