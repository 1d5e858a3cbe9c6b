// Recordings through the whole program on the emulated camera: the main
// frame's Record with the document's settings, the view's frame clock and
// time limit, the recording thread and the writers. The files are judged by
// outside tools (ffprobe, mediainfo, gst-discoverer-1.0).
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>

#include "Common/LateThreads.h"
#include "EmulatorProcess.h"
#include <QDialogButtonBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolBar>

#include "AutoFrameRateDlg.h"
#include "AviFileOperation.h"
#include "FRMDlg.h"
#include "FotaviMovDoc.h"
#include "MainFrm.h"
#include "MovApp.h"
#include "MovResource.h"
#include "MovProgramFixture.h"
#include "MovTestSupport.h"
#include "MovUiDriver.h"
#include "RecSettings.h"
#include "SliderDialogBar.h"
#include "../MovTestSupport.h"

using namespace movtest;
using namespace recreg;

namespace {

constexpr DWORD kRate = 10;
constexpr DWORD kSeconds = 3;

// Frames of the video stream as ffprobe counts them by decoding.
long FfprobeFrames(const std::string& path) {
  int status = 0;
  const std::string out = movtest::Run("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                              "stream=nb_read_frames -of csv=p=0 " + Quote(path), &status);
  if (status != 0) return -1;
  return std::atol(out.c_str());
}

class MovRecording : public MovProgramFixture {
 protected:
  bool Start() { return StartCamera() && StartApp() && Main() && Main()->IsDeviceOpen(); }
  CFotaviMovView* View() { return Main()->GetView(); }
  // Live picture on, its first pictures painted, Record allowed.
  void StartLive() {
    Main()->OnSemiAnimation();
    ASSERT_TRUE(View()->IsSemiAnimation());
    ASSERT_TRUE(WaitFor([&] { return View()->PaintedFrames() >= 2; }, 20000));
    Main()->UpdateCommands();
    ASSERT_TRUE(Main()->IsCommandEnabled(ID_MOV_RECORD));
  }
};

struct WriterCase {
  const char* name;
  DWORD compress;
  const char* file;
  const char* mediainfoFormat;
};

class TimedRecording : public MovRecording, public ::testing::WithParamInterface<WriterCase> {
 protected:
  // GStreamer as a third reader: the AVI through gst-discoverer-1.0; the WMV
  // through GStreamer's own ASF demuxer (its wmv2 decoder is not installed),
  // every frame a buffer.
  void ExpectGStreamerReads(const std::string& output, long written) {
    if (GetParam().compress == COMPRESS_AVI) {
      if (!HaveTool("gst-discoverer-1.0")) return;
      const Discovered d = Discover(output);
      EXPECT_TRUE(d.ok);
      EXPECT_EQ(d.width, 512);
      EXPECT_EQ(d.height, 384);
    } else {
      if (!HaveTool("gst-launch-1.0")) return;
      const AsfDemuxed d = GstAsfVideo(output);
      EXPECT_NE(d.caps.find("video/x-wmv"), std::string::npos) << d.caps;
      EXPECT_EQ(d.width, 512);
      EXPECT_EQ(d.height, 384);
      EXPECT_EQ(long(d.ptsMs.size()), written);
    }
  }
};

// Three seconds at ten frames a second, ended by the time limit: the
// recording announces itself, ends by itself, and the file holds the frames
// the clock asked for, readable by three outside readers.
TEST_P(TimedRecording, EndsAtTheLimitWithTheExpectedFrames) {
  const std::string output = Dir() + "/" + GetParam().file;
  WriteSettings(GetParam().compress, RECCOND_TIME, kSeconds, output);
  ASSERT_TRUE(Start());
  StartLive();
  Main()->OnRecord();
  ASSERT_TRUE(View()->IsRecording());
  Main()->UpdateCommands();
  EXPECT_EQ(Main()->GetPaneText(), "Recording ...");
  EXPECT_TRUE(Main()->IsToolButtonPressed(ID_MOV_RECORD));
  EXPECT_FALSE(Main()->IsCommandEnabled(ID_MOV_SETTING));
  // The limit is armed when the first picture is there, not at Record.
  ASSERT_TRUE(WaitFor([&] { return View()->IsLimitTimerActive() || !View()->IsRecording(); }, 20000));
  ASSERT_TRUE(WaitFor([&] { return !View()->IsRecording(); }, 60000));
  Main()->UpdateCommands();
  EXPECT_EQ(Main()->GetPaneText(), "Ready");
  EXPECT_TRUE(ui.Texts().empty()) << ui.Texts().front();
  ASSERT_TRUE(Exists(output));

  const long expected = long(kRate * kSeconds);
  const long written = long(View()->LastFrameCount());
  // The clock runs on absolute deadlines; the limit's timer and the clock
  // may differ by a tick or two on a loaded machine.
  EXPECT_GE(written, expected - 2);
  EXPECT_LE(written, expected + 3);
  if (HaveTool("ffprobe")) EXPECT_EQ(FfprobeFrames(output), written);
  if (HaveTool("mediainfo")) {
    const std::string format = movtest::Run("mediainfo --Inform='General;%Format%' " + Quote(output));
    EXPECT_NE(format.find(GetParam().mediainfoFormat), std::string::npos) << format;
    const auto video = MediaInfoVideo(output, {"Width", "Height"});
    EXPECT_EQ(video.at("Width"), "512");
    EXPECT_EQ(video.at("Height"), "384");
  }
  ExpectGStreamerReads(output, written);
}

// The case's name: the test's name and its printed parameter.
std::string WriterCaseName(const WriterCase& c) { return std::string(c.name); }
void PrintTo(const WriterCase& c, std::ostream* os) { *os << WriterCaseName(c); }

INSTANTIATE_TEST_SUITE_P(Table, TimedRecording,
                         ::testing::Values(WriterCase{"Avi", COMPRESS_AVI, "movie.avi", "AVI"},
                                           WriterCase{"Wmv", COMPRESS_WMV, "movie.wmv", "Windows Media"}),
                         [](const auto& info) { return WriterCaseName(info.param); });

// Unplugging the camera is a normal end of a recording: no box, the status
// says the camera is gone, and every frame written is in a complete file.
TEST_P(TimedRecording, UnplugEndsItWithACompleteFile) {
  const std::string output = Dir() + "/" + GetParam().file;
  WriteSettings(GetParam().compress, RECCOND_NONE, 0, output);
  ASSERT_TRUE(Start());
  StartLive();
  Main()->OnRecord();
  ASSERT_TRUE(View()->IsRecording());
  ASSERT_TRUE(WaitFor([&] { return FileSize(output) > 200000; }, 30000));
  ASSERT_TRUE(emulator->Unplug());
  ASSERT_TRUE(WaitFor([&] { return !View()->IsRecording() && !Main()->IsDeviceOpen(); }, 30000));
  Main()->UpdateCommands();
  EXPECT_EQ(Main()->GetPaneText(), "Unable to use the main unit.");
  // The live thread may see the unplug first: then only its own text.
  for (const auto& text : ui.Texts()) EXPECT_EQ(text, "Unable to acquire live-monitor image.");
  const long written = long(View()->LastFrameCount());
  EXPECT_GT(written, 0);
  if (HaveTool("ffprobe")) EXPECT_EQ(FfprobeFrames(output), written);
  ExpectGStreamerReads(output, written);
}

// An AVI writer that takes every frame but cannot complete its file.
class UncompletableAvi : public IAviWriter {
 public:
  explicit UncompletableAvi(std::atomic<int>* added) : m_pAdded(added) {}
  void SetMaxFileSize(uint64_t) override {}
  void SetRecCondition(int, uint64_t) override {}
  long Initialize(const std::string&, DWORD) override { return 0; }
  int AddFrame(const CBitmap24&) override {
    ++*m_pAdded;
    return AVI_ADD_WRITTEN;
  }
  BOOL Close() override { return FALSE; }
  std::string GetErrorMessage() const override { return "The file could not be completed."; }

 private:
  std::atomic<int>* m_pAdded;
};

// Stop of a recording whose file cannot be completed shows the writer's
// text: the thread's own notice goes to a window the stop has destroyed.
TEST_F(MovRecording, StopOfAFileThatCannotBeCompletedShowsItsText) {
  WriteSettings(COMPRESS_AVI, RECCOND_NONE, 0, Dir() + "/uncompletable.avi");
  ASSERT_TRUE(Start());
  StartLive();
  std::atomic<int> added{0};
  CMovieWriterFactory factory;
  factory.makeAvi = [&added] { return std::unique_ptr<IAviWriter>(new UncompletableAvi(&added)); };
  View()->SetWriterFactory(factory);
  Main()->OnRecord();
  ASSERT_TRUE(View()->IsRecording());
  ASSERT_TRUE(WaitFor([&] { return added.load() >= 2 || !View()->IsRecording(); }, 30000));
  Main()->OnMovieStop();
  ASSERT_TRUE(WaitFor([&] { return !View()->IsRecording(); }, 30000));
  ASSERT_EQ(ui.Texts().size(), 1u);
  EXPECT_EQ(ui.Texts()[0], "The file could not be completed.");
}

// The real AVI writer behind a disk that takes `delayMs` a frame, slower
// than the frame clock: the recording thread falls behind and frames wait.
class SlowAvi : public IAviWriter {
 public:
  SlowAvi(int delayMs, std::atomic<int>* added)
      : m_pReal(CMovieWriterFactory::Default().makeAvi()), m_nDelayMs(delayMs), m_pAdded(added) {}
  void SetMaxFileSize(uint64_t bytes) override { m_pReal->SetMaxFileSize(bytes); }
  void SetRecCondition(int mode, uint64_t limit) override { m_pReal->SetRecCondition(mode, limit); }
  long Initialize(const std::string& path, DWORD rate) override { return m_pReal->Initialize(path, rate); }
  int AddFrame(const CBitmap24& bitmap) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(m_nDelayMs));
    ++*m_pAdded;
    return m_pReal->AddFrame(bitmap);
  }
  BOOL Close() override { return m_pReal->Close(); }
  std::string GetErrorMessage() const override { return m_pReal->GetErrorMessage(); }

 private:
  std::unique_ptr<IAviWriter> m_pReal;
  int m_nDelayMs;
  std::atomic<int>* m_pAdded;
};

CMovieWriterFactory SlowAviFactory(int delayMs, std::atomic<int>* added) {
  CMovieWriterFactory factory;
  factory.makeAvi = [=] { return std::unique_ptr<IAviWriter>(new SlowAvi(delayMs, added)); };
  return factory;
}

// How a recording with a writer of 150 ms a frame at ten frames a second
// ends: by its time limit, or by the Stop command while frames still wait.
struct SlowEndCase {
  const char* name;
  DWORD limitMode;
};

class SlowWriterRecording : public MovRecording, public ::testing::WithParamInterface<SlowEndCase> {};

// Every frame the clock captured before the end is in the file, in a file
// the outside reader counts, and nothing is said: the end waits for the
// frames posted before it.
TEST_P(SlowWriterRecording, WritesEveryFrameCapturedBeforeTheEnd) {
  const std::string output = Dir() + "/slow.avi";
  WriteSettings(COMPRESS_AVI, GetParam().limitMode, kSeconds, output);
  ASSERT_TRUE(Start());
  StartLive();
  std::atomic<int> added{0};
  View()->SetWriterFactory(SlowAviFactory(150, &added));
  Main()->OnRecord();
  ASSERT_TRUE(View()->IsRecording());
  int addedAtStop = 0;
  if (GetParam().limitMode == RECCOND_NONE) {
    ASSERT_TRUE(WaitFor([&] { return added.load() >= 10; }, 30000));
    addedAtStop = added.load();
    Main()->OnMovieStop();
    // The stop returns while the frames still waiting are written: the GUI
    // thread never waits for them.
    EXPECT_TRUE(View()->IsRecording());
    EXPECT_LT(added.load(), addedAtStop + 2);
  }
  ASSERT_TRUE(WaitFor([&] { return !View()->IsRecording(); }, 60000));
  EXPECT_TRUE(ui.Texts().empty()) << ui.Texts().front();
  const long written = long(View()->LastFrameCount());
  EXPECT_EQ(uint64_t(written), View()->LastCapturedCount());
  if (GetParam().limitMode == RECCOND_TIME) {
    EXPECT_GE(written, long(kRate * kSeconds) - 2);
  } else {
    EXPECT_GT(written, addedAtStop + 2);  // frames were still waiting at the stop
  }
  if (HaveTool("ffprobe")) EXPECT_EQ(FfprobeFrames(output), written);
}

// The case's name: the test's name and its printed parameter.
std::string SlowEndCaseName(const SlowEndCase& c) { return std::string(c.name); }
void PrintTo(const SlowEndCase& c, std::ostream* os) { *os << SlowEndCaseName(c); }

INSTANTIATE_TEST_SUITE_P(Table, SlowWriterRecording,
                         ::testing::Values(SlowEndCase{"TimeLimit", RECCOND_TIME}, SlowEndCase{"Stop", RECCOND_NONE}),
                         [](const auto& info) { return SlowEndCaseName(info.param); });

// Record clicked right after Stop, while the slow writer still writes the
// frames that wait: the new recording starts once the last one's file is
// complete (after the question before overwriting it), never a click that
// does nothing.
TEST_F(MovRecording, RecordRightAfterStopStartsOnceTheFileIsComplete) {
  const std::string output = Dir() + "/again.avi";
  WriteSettings(COMPRESS_AVI, RECCOND_NONE, 0, output);
  ASSERT_TRUE(Start());
  StartLive();
  std::atomic<int> added{0};
  View()->SetWriterFactory(SlowAviFactory(150, &added));
  QToolBar* bar = Main()->findChild<QToolBar*>(QStringLiteral("MainToolBar"));
  ASSERT_NE(bar, nullptr);
  ASSERT_TRUE(ClickToolButton(bar, Main()->Action(ID_MOV_RECORD)));
  ASSERT_TRUE(View()->IsRecording());
  ASSERT_TRUE(WaitFor([&] { return added.load() >= 10; }, 30000));
  ASSERT_TRUE(ClickToolButton(bar, Main()->Action(ID_MOV_MOVIE_STOP)));
  ASSERT_TRUE(View()->IsRecording());  // frames still wait for the writer
  ASSERT_TRUE(ClickToolButton(bar, Main()->Action(ID_MOV_RECORD)));
  ASSERT_TRUE(WaitFor([&] { return !ui.Texts().empty(); }, 60000));
  EXPECT_EQ(ui.Texts()[0], "The specified file already exists. May I overwrite?");
  const uint64_t first = View()->LastFrameCount();
  EXPECT_GT(first, 0u);
  ASSERT_TRUE(View()->IsRecording());
  ASSERT_TRUE(WaitFor([&] { return uint64_t(added.load()) >= first + 5; }, 30000));
  ASSERT_TRUE(ClickToolButton(bar, Main()->Action(ID_MOV_MOVIE_STOP)));
  ASSERT_TRUE(WaitFor([&] { return !View()->IsRecording(); }, 60000));
  ASSERT_EQ(ui.Texts().size(), 1u) << ui.Texts().back();
  const long written = long(View()->LastFrameCount());
  EXPECT_GE(written, 5);
  if (HaveTool("ffprobe")) EXPECT_EQ(FfprobeFrames(output), written);
}

// The camera pulled after Stop, while the slow writer still writes the
// frames that wait: the end goes on without the camera, every frame captured
// before the stop is in a complete file, and only the camera's going is said.
TEST_F(MovRecording, ACameraPulledWhileTheFileIsCompletedLeavesItComplete) {
  const std::string output = Dir() + "/pulled.avi";
  WriteSettings(COMPRESS_AVI, RECCOND_NONE, 0, output);
  ASSERT_TRUE(Start());
  StartLive();
  std::atomic<int> added{0};
  View()->SetWriterFactory(SlowAviFactory(150, &added));
  QToolBar* bar = Main()->findChild<QToolBar*>(QStringLiteral("MainToolBar"));
  ASSERT_NE(bar, nullptr);
  ASSERT_TRUE(ClickToolButton(bar, Main()->Action(ID_MOV_RECORD)));
  ASSERT_TRUE(WaitFor([&] { return added.load() >= 10; }, 30000));
  ASSERT_TRUE(ClickToolButton(bar, Main()->Action(ID_MOV_MOVIE_STOP)));
  ASSERT_TRUE(View()->IsRecording());  // frames still wait for the writer
  ASSERT_TRUE(emulator->Unplug());
  ASSERT_TRUE(WaitFor([&] { return !View()->IsRecording() && !Main()->IsDeviceOpen(); }, 60000));
  for (const auto& text : ui.Texts()) EXPECT_EQ(text, "Unable to acquire live-monitor image.");
  const long written = long(View()->LastFrameCount());
  EXPECT_EQ(uint64_t(written), View()->LastCapturedCount());
  EXPECT_GT(written, 10);
  if (HaveTool("ffprobe")) EXPECT_EQ(FfprobeFrames(output), written);
}

// A writer that cannot keep up with the frame rate (200 ms a frame at ten
// frames a second): the recording ends by itself while it records, once two
// seconds of frames wait, with "Unable to save file.", and every frame
// captured before is in the file.
TEST_F(MovRecording, AWriterThatCannotKeepUpEndsTheRecordingWithTheSaveText) {
  const std::string output = Dir() + "/behind.avi";
  WriteSettings(COMPRESS_AVI, RECCOND_NONE, 0, output);
  ASSERT_TRUE(Start());
  StartLive();
  std::atomic<int> added{0};
  View()->SetWriterFactory(SlowAviFactory(200, &added));
  Main()->OnRecord();
  ASSERT_TRUE(View()->IsRecording());
  ASSERT_TRUE(WaitFor([&] { return !View()->IsRecording(); }, 60000));
  ASSERT_EQ(ui.Texts().size(), 1u);
  EXPECT_EQ(ui.Texts()[0], "Unable to save file.");
  const long written = long(View()->LastFrameCount());
  EXPECT_EQ(uint64_t(written), View()->LastCapturedCount());
  EXPECT_GT(written, 0);
  if (HaveTool("ffprobe")) {
    EXPECT_EQ(FfprobeFrames(output), written);
  }
}

// The program exits while frames still wait for a slow writer: the exit
// returns to nobody's wait on the GUI thread, the late threads' owner lets
// the thread write every frame it holds, and the file is complete.
TEST_F(MovRecording, AnExitWhileFramesWaitCompletesTheFile) {
  const std::string output = Dir() + "/atexit.avi";
  WriteSettings(COMPRESS_AVI, RECCOND_NONE, 0, output);
  ASSERT_TRUE(Start());
  StartLive();
  std::atomic<int> added{0};
  View()->SetWriterFactory(SlowAviFactory(150, &added));
  Main()->OnRecord();
  ASSERT_TRUE(View()->IsRecording());
  ASSERT_TRUE(WaitFor([&] { return added.load() >= 6; }, 30000));
  app->ExitInstance();
  app.reset();
  EXPECT_EQ(LateThreadCount(), 0u);
  EXPECT_GT(added.load(), 6);  // frames were still waiting at the exit
  if (HaveTool("ffprobe")) {
    EXPECT_EQ(FfprobeFrames(output), long(added.load()));
  }
}

// A writer stuck in its writes (a disk that stopped answering) until the
// gate opens.
struct WriteGate {
  std::mutex lock;
  std::condition_variable changed;
  bool open = false;
  std::atomic<int> entered{0};
  void Open() {
    std::lock_guard<std::mutex> g(lock);
    open = true;
    changed.notify_all();
  }
};

class StuckAvi : public IAviWriter {
 public:
  explicit StuckAvi(WriteGate* gate) : m_pGate(gate) {}
  void SetMaxFileSize(uint64_t) override {}
  void SetRecCondition(int, uint64_t) override {}
  long Initialize(const std::string&, DWORD) override { return 0; }
  int AddFrame(const CBitmap24&) override {
    ++m_pGate->entered;
    std::unique_lock<std::mutex> g(m_pGate->lock);
    m_pGate->changed.wait(g, [&] { return m_pGate->open; });
    return AVI_ADD_WRITTEN;
  }
  BOOL Close() override { return TRUE; }
  std::string GetErrorMessage() const override { return {}; }

 private:
  WriteGate* m_pGate;
};

// A recording thread that ends only after every wait for it has passed: the
// stop ends with the save failure text and returns; the frame clock its
// waiting records point to stays until the thread has ended and given their
// units back, and both are freed then.
TEST_F(MovRecording, AThreadThatEndsAfterTheWaitsIsFreedWithItsClockWhenItEnds) {
  WriteSettings(COMPRESS_AVI, RECCOND_NONE, 0, Dir() + "/stuck.avi");
  ASSERT_TRUE(Start());
  StartLive();
  WriteGate gate;
  CMovieWriterFactory factory;
  factory.makeAvi = [&gate] { return std::unique_ptr<IAviWriter>(new StuckAvi(&gate)); };
  View()->SetWriterFactory(factory);
  View()->SetRecordStopLimits(RECSTOPLIMITS{200, 200});
  Main()->OnRecord();
  ASSERT_TRUE(View()->IsRecording());
  ASSERT_TRUE(WaitFor([&] { return gate.entered.load() >= 1; }, 30000));
  Pump(300);  // frames wait behind the stuck one
  // The disk answers again after both waits (0.4 s) and before a wait of
  // the same length would have passed twice.
  std::thread disk([&gate] {
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    gate.Open();
  });
  Main()->OnMovieStop();
  // The end gives up after both waits, watched from the GUI thread's loop.
  ASSERT_TRUE(WaitFor([&] { return !View()->IsRecording(); }, 30000));
  ASSERT_EQ(ui.Texts().size(), 1u);
  EXPECT_EQ(ui.Texts()[0], "Unable to save file.");
  disk.join();
  EXPECT_TRUE(WaitFor([] { return FreeEndedRecordings() == 0; }, 10000));
}

// Record over an existing file asks first; Cancel records nothing and keeps it.
TEST_F(MovRecording, CancelledOverwriteKeepsTheFile) {
  const std::string output = Dir() + "/kept.avi";
  { std::ofstream(output) << "keep me"; }
  WriteSettings(COMPRESS_AVI, RECCOND_TIME, kSeconds, output);
  ASSERT_TRUE(Start());
  StartLive();
  ui.answer = IDCANCEL;
  Main()->OnRecord();
  EXPECT_FALSE(View()->IsRecording());
  ASSERT_EQ(ui.Texts().size(), 1u);
  EXPECT_EQ(ui.Texts()[0], "The specified file already exists. May I overwrite?");
  EXPECT_EQ(FileSize(output), 7u);
}

// Stop while the recording still waits for the first picture returns at once.
TEST_F(MovRecording, StopBeforeTheFirstPictureNeverHangs) {
  WriteSettings(COMPRESS_AVI, RECCOND_NONE, 0, Dir() + "/early.avi");
  ASSERT_TRUE(Start());
  Main()->OnSemiAnimation();
  ASSERT_TRUE(View()->IsSemiAnimation());
  MAKEMOVIEPARAM param;
  param.outputPath = Dir() + "/early.avi";
  param.frameRate = kRate;
  param.width = 512;
  param.height = 384;
  ASSERT_TRUE(View()->StartMakeMovie(param));
  View()->StopMakeMovie(TRUE);
  EXPECT_TRUE(WaitFor([&] { return !View()->IsRecording(); }, 10000));
  EXPECT_EQ(View()->RecordingsEnded(), 1u);
}

}  // namespace

namespace {

// The frame-rate measurement on the emulated camera: it records at the
// measurement size into a folder of its own on disk, hands a rate the field
// accepts to the settings dialog, and on every way out leaves the folders
// as they were, every part it split off included, and the output size as it
// was. A runtime folder with no room for its files does not stop it.
enum class WayOut { Result, CancelButton, Closed, WriteError, WriterEnds, Unplugged };

struct MeasureCase {
  const char* name;
  WayOut way;
  friend void PrintTo(const MeasureCase& c, std::ostream* os) { *os << c.name; }
};

// The real AVI writer splitting every 16 MB (113 frames at 256 x 192), so
// that a short measurement leaves parts behind; it can fail or end, as a
// full disk or a limit would, after kLastFrame frames and once the test has
// seen three parts on the disk (a loaded machine may look late).
class SplittingAvi : public IAviWriter {
 public:
  SplittingAvi(WayOut way, std::atomic<int>* added, const std::atomic<bool>* partsSeen)
      : m_Way(way), m_pAdded(added), m_pPartsSeen(partsSeen) {
    m_Avi.SetMaxFileSize(16 * MOV_MEGABYTE);
  }
  void SetMaxFileSize(uint64_t) override {}
  void SetRecCondition(int mode, uint64_t limit) override { m_Avi.SetRecCondition(mode, limit); }
  long Initialize(const std::string& path, DWORD rate) override { return m_Avi.Initialize(path, rate); }
  int AddFrame(const CBitmap24& bitmap) override {
    const int added = ++*m_pAdded;
    const bool last = added > kLastFrame && m_pPartsSeen->load();
    if (last && m_Way == WayOut::WriteError) {
      m_strError = "Unable to save file.";
      return AVI_ADD_ERROR;
    }
    if (last && m_Way == WayOut::WriterEnds) {
      m_Avi.Close();
      return AVI_ADD_LIMIT;
    }
    return m_Avi.AddFrame(bitmap);
  }
  BOOL Close() override { return m_Avi.Close(); }
  std::string GetErrorMessage() const override { return m_strError.empty() ? m_Avi.GetErrorMessage() : m_strError; }

  static constexpr int kLastFrame = 800;

 private:
  CAviFileOperation m_Avi;
  WayOut m_Way;
  std::atomic<int>* m_pAdded;
  const std::atomic<bool>* m_pPartsSeen;
  std::string m_strError;
};

// Every file under `folder`, as relative paths.
std::set<std::string> FilesUnder(const std::string& folder) {
  std::set<std::string> files;
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(folder, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
    files.insert(std::filesystem::relative(it->path(), folder).string());
  return files;
}

class Measurement : public MovRecording, public ::testing::WithParamInterface<MeasureCase> {};

TEST_P(Measurement, EachWayOutLeavesTheFoldersAsTheyWere) {
  const WayOut way = GetParam().way;
  // The runtime work folder cannot take a file: a path under a file.
  const std::string runtime = Dir() + "/runtime-full";
  { std::ofstream(runtime) << "no room"; }
  setenv("FOTAVI_WORK_DIR", (runtime + "/fotavi").c_str(), 1);
  const std::string large = Dir() + "/cache/fotavi/work";
  ASSERT_TRUE(std::filesystem::create_directories(large));
  std::filesystem::permissions(Dir() + "/cache/fotavi", std::filesystem::perms::owner_all);
  std::filesystem::permissions(large, std::filesystem::perms::owner_all);
  { std::ofstream(large + "/kept.txt") << "someone's own"; }
  const std::set<std::string> before = FilesUnder(Dir() + "/cache");

  WriteSettings(COMPRESS_AVI, RECCOND_NONE, 0, Dir() + "/unused.avi");
  ASSERT_TRUE(Start());
  std::atomic<int> added{0};
  std::atomic<bool> partsSeen{false};
  CMovieWriterFactory factory;
  factory.makeAvi = [&] { return std::unique_ptr<IAviWriter>(new SplittingAvi(way, &added, &partsSeen)); };
  View()->SetWriterFactory(factory);
  CFotaviMovDoc* doc = Main()->GetDocument();
  ASSERT_TRUE(doc->SetVideoSize(MOV_CAMERA_WIDTH, MOV_CAMERA_HEIGHT));
  ASSERT_EQ(doc->GetVideoWidth(), 512u);
  CFRMDlg* settings = doc->GetSettingDialog();
  CAutoFrameRateDlg measure(View(), doc, Main());
  measure.SetParentDlg(settings);
  measure.SetMeasureSize(256, 192);
  size_t mostParts = 0;
  bool acted = false;
  QTimer user;
  QObject::connect(&user, &QTimer::timeout, [&] {
    size_t parts = 0;
    for (const auto& f : FilesUnder(large)) parts += f.find("measurement") != std::string::npos &&
                                                     f.size() > 4 && f.substr(f.size() - 4) == ".avi";
    mostParts = std::max(mostParts, parts);
    if (parts >= 3) partsSeen = true;
    if (acted || parts < 3 || !measure.isVisible()) return;
    acted = true;
    if (way == WayOut::CancelButton) {
      QTest::mouseClick(measure.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel), Qt::LeftButton);
    } else if (way == WayOut::Closed) {
      measure.close();  // the window's close box
    } else if (way == WayOut::Unplugged) {
      emulator->Unplug();
    }
  });
  user.start(50);
  const int rate = measure.DoModal();
  user.stop();
  Pump(300);

  EXPECT_GE(mostParts, 3u);
  if (way == WayOut::Result || way == WayOut::WriterEnds || way == WayOut::Unplugged) {
    // A recording that ends by itself, or with the camera, reports what it
    // measured so far.
    EXPECT_GE(rate, 1);
    EXPECT_LE(rate, 19);
    EXPECT_EQ(settings->m_dwCurrentRate, DWORD(rate));
  } else {
    EXPECT_EQ(rate, 0);
  }
  EXPECT_FALSE(View()->IsRecording());
  EXPECT_EQ(View()->GetMeasureWnd(), nullptr);
  EXPECT_EQ(FilesUnder(Dir() + "/cache"), before);
  EXPECT_TRUE(std::filesystem::is_regular_file(runtime));
  EXPECT_EQ(doc->GetVideoWidth(), 512u);
  EXPECT_EQ(doc->GetVideoHeight(), 384u);
  for (const auto& text : ui.Texts()) {
    if (way == WayOut::WriteError) EXPECT_EQ(text, "Unable to save file.");
    else if (way == WayOut::Unplugged) EXPECT_EQ(text, "Unable to acquire live-monitor image.");
    else ADD_FAILURE() << text;
  }
}

INSTANTIATE_TEST_SUITE_P(Table, Measurement,
                         ::testing::Values(MeasureCase{"RunsItsTenSeconds", WayOut::Result},
                                           MeasureCase{"CancelClicked", WayOut::CancelButton},
                                           MeasureCase{"WindowClosed", WayOut::Closed},
                                           MeasureCase{"WriteFails", WayOut::WriteError},
                                           MeasureCase{"RecordingEndsByItself", WayOut::WriterEnds},
                                           MeasureCase{"CameraPulled", WayOut::Unplugged}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

namespace {

// Record is enabled only while the live picture runs and the record-allowed
// flag is set: at live start when the settings were confirmed before, and
// cleared again when the live picture is stopped.
TEST_F(MovRecording, RecordNeedsTheLivePictureAndConfirmedSettings) {
  WriteSettings(COMPRESS_AVI, RECCOND_TIME, kSeconds, Dir() + "/gate.avi");
  WriteRecInt(kIsSetting, 0);
  ASSERT_TRUE(Start());
  Main()->UpdateCommands();
  EXPECT_FALSE(Main()->IsCommandEnabled(ID_MOV_RECORD));
  Main()->OnSemiAnimation();
  ASSERT_TRUE(View()->IsSemiAnimation());
  Main()->UpdateCommands();
  EXPECT_FALSE(Main()->IsRecordAllowed());
  EXPECT_FALSE(Main()->IsCommandEnabled(ID_MOV_RECORD));
  Main()->OnSemiAnimationStop();
  WriteRecInt(kIsSetting, 1);
  app->ExitInstance();
  app.reset();
  ASSERT_TRUE(StartApp());
  ASSERT_TRUE(Main()->IsDeviceOpen());
  Main()->OnSemiAnimation();
  Main()->UpdateCommands();
  EXPECT_TRUE(Main()->IsCommandEnabled(ID_MOV_RECORD));
  Main()->OnSemiAnimationStop();
  Main()->UpdateCommands();
  EXPECT_FALSE(Main()->IsRecordAllowed());
  EXPECT_FALSE(Main()->IsCommandEnabled(ID_MOV_RECORD));
}

// A recording played back: opening it ends the live picture, Play runs it
// with the slider enabled, and its end comes back as the Stop command.
TEST_F(MovRecording, ARecordingPlaysBackToItsEnd) {
  const std::string output = Dir() + "/played.avi";
  WriteSettings(COMPRESS_AVI, RECCOND_TIME, 2, output);
  ASSERT_TRUE(Start());
  StartLive();
  Main()->OnRecord();
  ASSERT_TRUE(WaitFor([&] { return !View()->IsRecording(); }, 60000));
  ASSERT_TRUE(Exists(output));
  Main()->OpenMovie(output);
  EXPECT_FALSE(View()->IsSemiAnimation());
  ASSERT_TRUE(View()->IsMovieOpen());
  Main()->UpdateCommands();
  EXPECT_TRUE(Main()->IsCommandEnabled(ID_MOV_MOVIE_PLAY));
  EXPECT_FALSE(Main()->IsCommandEnabled(ID_MOV_SETTING));
  Main()->OnMoviePlay();
  EXPECT_TRUE(Main()->GetSlider()->IsSliderEnabled());
  EXPECT_TRUE(Main()->IsToolButtonPressed(ID_MOV_MOVIE_PLAY));
  ASSERT_TRUE(WaitFor([&] { return Main()->IsToolButtonPressed(ID_MOV_MOVIE_STOP); }, 30000));
  EXPECT_TRUE(View()->IsMovieOpen());
  Main()->OnMovieClose();
  EXPECT_FALSE(View()->IsMovieOpen());
  EXPECT_TRUE(ui.Texts().empty()) << ui.Texts().front();
}

// A file that is not a movie says so and leaves no player open.
TEST_F(MovRecording, AFileThatIsNotAMovieIsRefused) {
  const std::string bogus = Dir() + "/not-a-movie.avi";
  { std::ofstream(bogus) << "RIFF but not really"; }
  ASSERT_TRUE(StartCamera() && StartApp());
  Main()->OpenMovie(bogus);
  EXPECT_FALSE(View()->IsMovieOpen());
  ASSERT_EQ(ui.Texts().size(), 1u);
  EXPECT_EQ(ui.Texts()[0], "Invalid file type.");
}

}  // namespace
