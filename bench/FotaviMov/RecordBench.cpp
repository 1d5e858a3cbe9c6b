// Recording benchmark: a synthetic live picture recorded through the frame
// clock (the timer on absolute deadlines), the recording thread and the AVI
// or WMV writer, for T seconds at 1024 x 768 and 512 x 384, rates 5, 10 and
// 20. Beside each run, in the same process, a bare FFmpeg loop makes the
// same file from the same pictures. Prints, per run: ticks and frames
// written against 1 + T x rate, repeated (empty-record) frames, tick
// lateness p50 / p99, CPU per frame of the picture copy, of the writer on
// the recording thread and of the bare loop (and their ratio), of the
// writer alone on the bare loop's thread and pictures (and its ratio: the
// writers' own cost), the process's CPU share of one core during the
// recording, and the peak resident memory of the run.
//
// usage: fotavi_mov_record_bench [seconds per run, default 10]
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/log.h>
#include <libswscale/swscale.h>
}

#include "AviFileOperation.h"
#include "BareWriter.h"
#include "FramePacer.h"
#include "MakeMovieThread.h"
#include "Platform/Messages.h"
#include "ThreadCpu.h"
#include "WmvFileOperation.h"

namespace {

using fotavi::test::ProcessCpuSeconds;
using fotavi::test::ThreadCpuSeconds;

void ResetPeakMemory() { std::ofstream("/proc/self/clear_refs") << "5"; }

long PeakMemoryKiB() {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return -1;
}

// The live picture: a fixed gradient with a moving band, as a copy per request.
class CSyntheticCamera {
 public:
  CSyntheticCamera(LONG w, LONG h) : base_(CreateBitmap24(w, h)) {
    for (LONG y = 0; y < h; ++y) {
      BYTE* row = base_.scanLine(y);
      for (LONG x = 0; x < w; ++x) {
        row[x * 3] = static_cast<BYTE>(x);
        row[x * 3 + 1] = static_cast<BYTE>(y);
        row[x * 3 + 2] = static_cast<BYTE>(x + y);
      }
    }
  }
  CBitmap24 Copy(int index) {
    CBitmap24 copy = base_.copy();
    const int band = (index * 8) % (copy.height() - 16);
    for (int y = band; y < band + 16; ++y) memset(copy.scanLine(y), 0xFF, copy.bytesPerLine());
    return copy;
  }

 private:
  CBitmap24 base_;
};

// Measures the writer's CPU on the recording thread.
struct StageClock {
  std::atomic<double> seconds{0};
  std::atomic<uint64_t> calls{0};
  template <class F>
  auto Time(F&& f) {
    const double t = ThreadCpuSeconds();
    auto r = f();
    seconds = seconds + (ThreadCpuSeconds() - t);
    ++calls;
    return r;
  }
};

class CTimedAvi : public IAviWriter {
 public:
  explicit CTimedAvi(StageClock* c) : clock_(c) {}
  void SetMaxFileSize(uint64_t b) override { real_.SetMaxFileSize(b); }
  void SetRecCondition(int m, uint64_t l) override { real_.SetRecCondition(m, l); }
  long Initialize(const std::string& p, DWORD r) override { return real_.Initialize(p, r); }
  int AddFrame(const CBitmap24& b) override { return clock_->Time([&] { return real_.AddFrame(b); }); }
  BOOL Close() override { return real_.Close(); }
  std::string GetErrorMessage() const override { return real_.GetErrorMessage(); }

 private:
  CAviFileOperation real_;
  StageClock* clock_;
};

class CTimedWmv : public IWmvWriter {
 public:
  explicit CTimedWmv(StageClock* c) : clock_(c) {}
  int Initialize(DWORD r, DWORD q, const std::string& p, const std::string& prx) override {
    return real_.Initialize(r, q, p, prx);
  }
  int AddFrame(const CBitmap24& b) override { return clock_->Time([&] { return real_.AddFrame(b); }); }
  BOOL EndWriting() override {
    const BOOL ok = clock_->Time([&] { return real_.EndWriting(); });
    --clock_->calls;
    return ok;
  }
  std::string GetErrorMessage() const override { return real_.GetErrorMessage(); }

 private:
  CWmvFileOperation real_;
  StageClock* clock_;
};

// The same writes without the writer, from the same pictures. CPU seconds.
double BareLoop(bool wmv, LONG w, LONG h, DWORD rate, int frames, const std::string& path) {
  // A ring of pictures larger than the caches: the recording thread, too,
  // writes pictures another thread made a while ago.
  CSyntheticCamera camera(w, h);
  std::vector<CBitmap24> ring;
  for (int i = 0; i < 16; ++i) ring.push_back(camera.Copy(i));
  return BareWriterSeconds(wmv, ring, rate, 100, frames, path);
}

// The writer classes alone on this thread, from the same ring of pictures as
// the bare loop: the writers' own cost, without the recording road around.
double WriterLoop(bool wmv, LONG w, LONG h, DWORD rate, int frames, const std::string& path,
                  const std::string& profile) {
  CSyntheticCamera camera(w, h);
  std::vector<CBitmap24> ring;
  for (int i = 0; i < 16; ++i) ring.push_back(camera.Copy(i));
  const double t0 = ThreadCpuSeconds();
  if (wmv) {
    CWmvFileOperation writer;
    writer.Initialize(rate, 100, path, profile);
    for (int i = 0; i < frames; ++i) writer.AddFrame(ring[i % ring.size()]);
    writer.EndWriting();
  } else {
    CAviFileOperation writer;
    writer.Initialize(path, rate);
    for (int i = 0; i < frames; ++i) writer.AddFrame(ring[i % ring.size()]);
    writer.Close();
  }
  return ThreadCpuSeconds() - t0;
}

int64_t Percentile(std::vector<int64_t> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<size_t>(p * (v.size() - 1) + 0.5))];
}

void RunOne(const std::string& dir, bool wmv, LONG w, LONG h, DWORD rate, int seconds) {
  const std::string path = dir + (wmv ? "bench.wmv" : "bench.avi");
  const std::string profile = std::string(FOTAVI_PROFILE_DIR) + (w == 1024 ? "/XGA.prx" : "/512-384.prx");
  StageClock writer;
  CMovieWriterFactory factory;
  factory.makeAvi = [&] { return std::unique_ptr<IAviWriter>(new CTimedAvi(&writer)); };
  factory.makeWmv = [&] { return std::unique_ptr<IWmvWriter>(new CTimedWmv(&writer)); };

  int done = 0, ended = 0, errors = 0;
  HWND view = CreateWindowTarget(
      [&](HWND, UINT msg, WPARAM, LPARAM) -> LRESULT {
        if (msg == WM_MAKEMOVIE_FRAMEDONE) ++done;
        if (msg == WM_MOVIE_REC_END) ++ended;
        if (msg == WM_MAKEMOVIE_ERROR) ++errors;
        return 0;
      },
      "BenchView");
  CSyntheticCamera camera(w, h);
  std::atomic<double> copySeconds{0};
  std::atomic<int> copies{0};

  ResetPeakMemory();
  const double cpu0 = ProcessCpuSeconds();
  const auto wall0 = std::chrono::steady_clock::now();
  CMakeMovieThread thread(factory);
  thread.SetFileName(path);
  thread.SetFrameRate(rate);
  thread.SetFileType(wmv ? MOVIE_FILETYPE_WMV : MOVIE_FILETYPE_AVI);
  thread.SetProfileName(profile);
  thread.SetVideoQuality(100);
  thread.SetNotifyWnd(view);
  thread.SetCountRequests(TRUE);
  thread.Start();
  CFramePacer pacer(
      &thread, view,
      [&](LONG, LONG) {
        const double t = ThreadCpuSeconds();
        CBitmap24 copy = camera.Copy(copies++);
        copySeconds = copySeconds + (ThreadCpuSeconds() - t);
        return copy;
      },
      w, h, 10);
  pacer.Timer().KeepLateness(true);
  const auto begin = std::chrono::steady_clock::now();
  pacer.Begin(rate);
  auto pump = [&](std::chrono::steady_clock::time_point until) {
    while (std::chrono::steady_clock::now() < until) {
      MSG m;
      if (GetMessageTimeout(&m, 5) == WAIT_OBJECT_0) DispatchMessage(&m);
    }
  };
  // T seconds of ticks after the first frame, and a little for the last one.
  pump(begin + std::chrono::seconds(seconds) + std::chrono::milliseconds(20));
  pacer.End();
  const uint64_t ticks = pacer.Timer().GetTickCount();
  const uint64_t records = 1 + ticks;
  // Let the queue drain, then stop.
  const auto drainEnd = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (static_cast<uint64_t>(done) < records && errors == 0 && std::chrono::steady_clock::now() < drainEnd) {
    pump(std::chrono::steady_clock::now() + std::chrono::milliseconds(10));
  }
  thread.PostStop();
  thread.Join(30000);
  pump(std::chrono::steady_clock::now() + std::chrono::milliseconds(20));
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
  const double cpu = ProcessCpuSeconds() - cpu0;
  const long peak = PeakMemoryKiB();
  const auto lateness = pacer.Timer().TakeLateness();
  const uint64_t frames = thread.GetFrameCount();
  DestroyWindow(view);

  const int n = static_cast<int>(std::max<uint64_t>(frames, 1));
  const double bare = BareLoop(wmv, w, h, rate, n, dir + "bare");
  const double alone = WriterLoop(wmv, w, h, rate, n, dir + "alone", profile);
  const double writerPerFrame = frames ? writer.seconds.load() / frames : 0;
  const double barePerFrame = bare / n;
  printf("%-3s %4ldx%-4ld %2u fps | ticks %4llu frames %4llu / expected %4u, repeated %4llu, errors %d%s | "
         "lateness p50 %6.3f ms p99 %6.3f ms | CPU/frame copy %6.3f ms writer %6.3f ms bare %6.3f ms (x%.2f), "
         "writer alone %6.3f ms (x%.2f) | CPU %5.1f %% of a core | peak %ld MiB\n",
         wmv ? "WMV" : "AVI", static_cast<long>(w), static_cast<long>(h), rate,
         static_cast<unsigned long long>(ticks), static_cast<unsigned long long>(frames),
         static_cast<unsigned>(1 + seconds * rate), static_cast<unsigned long long>(thread.GetRepeatedCount()),
         errors, ended ? "" : " (no end)", Percentile(lateness, 0.5) / 1e6, Percentile(lateness, 0.99) / 1e6,
         copies ? copySeconds.load() / copies * 1000 : 0.0, writerPerFrame * 1000, barePerFrame * 1000,
         barePerFrame > 0 ? writerPerFrame / barePerFrame : 0.0, alone / n * 1000,
         barePerFrame > 0 ? alone / n / barePerFrame : 0.0, 100.0 * cpu / wall, peak / 1024);
  fflush(stdout);
  std::filesystem::remove(path);
  std::filesystem::remove(dir + "bare");
  std::filesystem::remove(dir + "alone");
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::max(1, atoi(argv[1])) : 10;
  av_log_set_level(AV_LOG_ERROR);
  std::string dir = (std::filesystem::temp_directory_path() / "fotavimov-bench-XXXXXX").string();
  if (!mkdtemp(dir.data())) return 1;
  dir += "/";
  printf("recording %d s a run; expected frames = 1 + T x rate\n", seconds);
  for (bool wmv : {false, true}) {
    for (LONG w : {1024, 512}) {
      for (DWORD rate : {5u, 10u, 20u}) RunOne(dir, wmv, w, w * 3 / 4, rate, seconds);
    }
  }
  std::filesystem::remove_all(dir);
  return 0;
}
