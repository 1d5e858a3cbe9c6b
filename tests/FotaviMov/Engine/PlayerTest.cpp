// The player's state machine against a source of the tests' own, then real
// files written by the writers (AVI and WMV, where seeking lands on a key
// frame before the target).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <thread>

#include "AviFileOperation.h"
#include "MovTestSupport.h"
#include "MovieDefs.h"
#include "MoviePlay.h"
#include "Platform/Messages.h"
#include "WmvFileOperation.h"

using namespace movtest;

namespace {

constexpr int64_t kSecond = MOVIE_UNITS_PER_SECOND;

// Pictures numbered 0..count-1 at `fps`: byte 0 of every picture is its number.
class CFakeSource : public IMovieSource {
 public:
  CFakeSource(int count, int fps, int errorAt = -1, bool video = true, int64_t duration = -1)
      : count_(count), fps_(fps), errorAt_(errorAt), video_(video), duration_(duration) {}
  MOVIERESULT Open(const std::string&, CMovieInfo* info) override {
    info->hasVideo = video_;
    info->width = video_ ? 8 : 0;
    info->height = video_ ? 6 : 0;
    info->duration = duration_ >= 0 ? duration_ : count_ * kSecond / fps_;
    return MOVIE_S_OK;
  }
  int ReadFrame(CVideoFrame* f) override {
    if (!video_ || next_ >= count_) return SOURCE_END;
    if (next_ == errorAt_) return SOURCE_ERROR;
    f->pts = next_ * kSecond / fps_;
    f->width = 8;
    f->height = 6;
    f->stride = 24;
    f->bgr.assign(24 * 6, static_cast<BYTE>(next_));
    ++next_;
    return SOURCE_FRAME;
  }
  bool Seek(int64_t position) override {
    // Like a key-frame index: lands up to 5 pictures before the target.
    const int at = static_cast<int>(position * fps_ / kSecond);
    next_ = std::max(0, at - at % 5);
    return true;
  }

 private:
  int count_, fps_, errorAt_;
  bool video_;
  int64_t duration_;
  int next_ = 0;
};

class FakeHost : public IMoviePlayerHost {
 public:
  void ShowFrame(std::shared_ptr<const CVideoFrame> frame) override {
    std::lock_guard<std::mutex> g(lock);
    shown.push_back(frame);
  }
  void SetPositionTimer(bool run) override { timer = run; }
  void GetClientSize(int* w, int* h) override {
    *w = 640;
    *h = 480;
  }
  void PlaceVideo(int x, int y, int w, int h, bool visible) override {
    place = {x, y, w, h};
    this->visible = visible;
  }
  std::shared_ptr<const CVideoFrame> Last() {
    std::lock_guard<std::mutex> g(lock);
    return shown.empty() ? nullptr : shown.back();
  }
  size_t Count() {
    std::lock_guard<std::mutex> g(lock);
    return shown.size();
  }
  std::vector<int> Numbers() {
    std::lock_guard<std::mutex> g(lock);
    std::vector<int> n;
    for (auto& f : shown) n.push_back(f->bgr[0]);
    return n;
  }
  std::mutex lock;
  std::vector<std::shared_ptr<const CVideoFrame>> shown;
  bool timer = false;
  bool visible = false;
  std::vector<int> place;
};

// The owner (the view) and the slider bar as platform windows on the test
// thread; the owner passes WM_GRAPHNOTIFY to the player as the view does.
class PlayerFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    owner_ = CreateWindowTarget(
        [this](HWND, UINT msg, WPARAM, LPARAM) -> LRESULT {
          if (msg == WM_GRAPHNOTIFY && player_) player_->HandleGraphEvent();
          if (msg == WM_MOVIE_COMPLETE) ++completes_;
          if (msg == WM_MOVIE_ABORT) ++aborts_;
          return 0;
        },
        "Owner");
    slider_ = CreateWindowTarget(
        [this](HWND, UINT msg, WPARAM wParam, LPARAM) -> LRESULT {
          if (msg == WM_SLIDER_ENABLE) ++enables_;
          if (msg == WM_SLIDER_SETPOS) positions_.push_back(static_cast<int>(*reinterpret_cast<int64_t*>(wParam)));
          return 0;
        },
        "Slider");
  }
  void TearDown() override {
    player_.reset();
    DestroyWindow(owner_);
    DestroyWindow(slider_);
  }
  void Open(std::unique_ptr<IMovieSource> source, const std::string& path = "fake") {
    player_ = std::make_unique<CMoviePlay>(std::move(source));
    ASSERT_EQ(player_->Initialize(owner_, slider_, &host_, path), MOVIE_S_OK);
  }
  template <class Pred>
  bool PumpUntil(Pred pred, int limitMs = 20000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (!pred()) {
      if (std::chrono::steady_clock::now() > end) return false;
      MSG m;
      if (GetMessageTimeout(&m, 5) == WAIT_OBJECT_0) DispatchMessage(&m);
    }
    return true;
  }
  void Pump(int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    PumpUntil([&] { return std::chrono::steady_clock::now() > end; }, ms + 1000);
  }
  bool Showing(int number) {
    return PumpUntil([&] {
      auto f = host_.Last();
      return f && f->bgr[0] == number;
    });
  }
  // While playing, a loaded machine may show a later picture before the
  // test looks: judge that playing went on past a number.
  bool ShowingAtLeast(int number) {
    return PumpUntil([&] {
      auto f = host_.Last();
      return f && f->bgr[0] >= number;
    });
  }

  HWND owner_ = nullptr, slider_ = nullptr;
  FakeHost host_;
  std::unique_ptr<CMoviePlay> player_;
  int completes_ = 0, aborts_ = 0, enables_ = 0;
  std::vector<int> positions_;
};

TEST_F(PlayerFixture, OpeningShowsTheFirstPicturePausedAndEnablesTheSlider) {
  Open(std::make_unique<CFakeSource>(20, 10));
  ASSERT_TRUE(Showing(0));
  EXPECT_EQ(player_->GetState(), CMoviePlay::Stopped);
  EXPECT_EQ(enables_, 1);
  ASSERT_FALSE(positions_.empty());
  EXPECT_EQ(positions_.back(), 0);
  EXPECT_EQ(player_->GetDuration(), 2 * kSecond);
  // Centred in the owner's 640 x 480.
  EXPECT_EQ(host_.place, (std::vector<int>{316, 237, 8, 6}));
  Pump(100);
  EXPECT_EQ(host_.Count(), 1u);  // paused: nothing more
}

TEST_F(PlayerFixture, TheEndCompletesOnceAndRewindsToTheFirstPicture) {
  Open(std::make_unique<CFakeSource>(10, 50));
  ASSERT_TRUE(Showing(0));
  ASSERT_EQ(player_->Play(), MOVIE_S_OK);
  EXPECT_TRUE(host_.timer);
  EXPECT_EQ(player_->GetState(), CMoviePlay::Running);
  ASSERT_TRUE(PumpUntil([&] { return completes_ == 1; }));
  Pump(300);
  EXPECT_EQ(completes_, 1);
  EXPECT_EQ(player_->GetState(), CMoviePlay::Stopped);
  EXPECT_FALSE(host_.timer);
  EXPECT_EQ(player_->GetCurrentPosition(), 0);
  ASSERT_TRUE(Showing(0));
  const std::vector<int> n = host_.Numbers();
  // First picture, every picture in order, the first again.
  std::vector<int> expected = {0};
  for (int i = 1; i < 10; ++i) expected.push_back(i);
  expected.push_back(0);
  EXPECT_EQ(n, expected);
  // It plays again and completes again.
  player_->Play();
  ASSERT_TRUE(PumpUntil([&] { return completes_ == 2; }));
}

// A source whose fourth picture takes until the test lets it go, so that a
// pause arrives while that picture is being decoded.
class CGatedSource : public CFakeSource {
 public:
  CGatedSource() : CFakeSource(10, 50) {}
  int ReadFrame(CVideoFrame* f) override {
    if (reads_++ == 3) {
      std::unique_lock<std::mutex> g(lock_);
      entered_ = true;
      changed_.notify_all();
      changed_.wait_for(g, std::chrono::seconds(20), [&] { return open_; });
    }
    return CFakeSource::ReadFrame(f);
  }
  bool WaitEntered() {
    std::unique_lock<std::mutex> g(lock_);
    return changed_.wait_for(g, std::chrono::seconds(20), [&] { return entered_; });
  }
  void Open() {
    std::lock_guard<std::mutex> g(lock_);
    open_ = true;
    changed_.notify_all();
  }

 private:
  int reads_ = 0;
  std::mutex lock_;
  std::condition_variable changed_;
  bool entered_ = false, open_ = false;
};

// A pause that comes while a picture is being decoded keeps that picture:
// playing on shows it, and no picture of the movie is left out.
TEST_F(PlayerFixture, APauseDuringADecodeKeepsThatPicture) {
  auto source = std::make_unique<CGatedSource>();
  CGatedSource* gate = source.get();
  Open(std::move(source));
  ASSERT_TRUE(Showing(0));
  player_->Play();
  ASSERT_TRUE(gate->WaitEntered());
  player_->Pause();
  gate->Open();
  Pump(100);
  player_->Pause();  // plays on
  ASSERT_TRUE(PumpUntil([&] { return completes_ == 1; }));
  ASSERT_TRUE(Showing(0));
  std::vector<int> expected;
  for (int i = 0; i < 10; ++i) expected.push_back(i);
  expected.push_back(0);  // the rewind
  EXPECT_EQ(host_.Numbers(), expected);
}

TEST_F(PlayerFixture, StopOfAStoppedPlayerReturns1000AndPauseToggles) {
  Open(std::make_unique<CFakeSource>(100, 10));
  EXPECT_EQ(player_->Stop(), MOVIE_STOPPED_ALREADY);
  EXPECT_EQ(player_->Pause(), MOVIE_S_OK);  // stopped: nothing
  EXPECT_EQ(player_->GetState(), CMoviePlay::Stopped);
  player_->Play();
  player_->Pause();
  EXPECT_EQ(player_->GetState(), CMoviePlay::Paused);
  EXPECT_FALSE(host_.timer);
  const int64_t at = player_->GetCurrentPosition();
  Pump(150);
  EXPECT_EQ(player_->GetCurrentPosition(), at);
  player_->Pause();
  EXPECT_EQ(player_->GetState(), CMoviePlay::Running);
  EXPECT_TRUE(host_.timer);
  EXPECT_EQ(player_->Stop(), MOVIE_S_OK);
  EXPECT_EQ(player_->GetState(), CMoviePlay::Stopped);
  EXPECT_EQ(positions_.back(), 0);
}

TEST_F(PlayerFixture, DraggingAPlayingMoviePausesItAndPlaysOnFromTheRelease) {
  Open(std::make_unique<CFakeSource>(100, 10));
  player_->Play();
  player_->Seek(30, WM_LBUTTONDOWN);
  EXPECT_FALSE(host_.timer);
  ASSERT_TRUE(Showing(30));  // decoded forward from the key picture 30
  player_->Seek(57, WM_MOUSEMOVE);
  ASSERT_TRUE(Showing(57));  // from 55 forward to 57
  EXPECT_EQ(player_->GetCurrentPosition(), 57 * kSecond / 10);
  Pump(150);
  EXPECT_EQ(player_->GetCurrentPosition(), 57 * kSecond / 10);  // paused during the drag
  player_->Seek(60, WM_LBUTTONUP);
  EXPECT_EQ(player_->GetState(), CMoviePlay::Running);
  EXPECT_TRUE(host_.timer);
  ASSERT_TRUE(ShowingAtLeast(62));
  EXPECT_GE(player_->GetCurrentPosition(), 6 * kSecond);
}

TEST_F(PlayerFixture, DraggingAStoppedMovieLeavesItStoppedAtTheNewPosition) {
  Open(std::make_unique<CFakeSource>(100, 10));
  player_->Seek(40, WM_LBUTTONDOWN);
  player_->Seek(40, WM_LBUTTONUP);
  ASSERT_TRUE(Showing(40));
  EXPECT_EQ(player_->GetState(), CMoviePlay::Stopped);
  Pump(150);
  EXPECT_EQ(player_->GetCurrentPosition(), 4 * kSecond);
  player_->UpdatePosition();
  EXPECT_EQ(positions_.back(), 40);
}

TEST_F(PlayerFixture, ADurationOfZeroLeavesTheSliderWhereItIs) {
  Open(std::make_unique<CFakeSource>(1, 10, -1, true, 0));
  const size_t before = positions_.size();
  player_->UpdatePosition();
  EXPECT_EQ(positions_.size(), before);
}

TEST_F(PlayerFixture, ADecodeErrorAbortsAndReleasesThePlayer) {
  Open(std::make_unique<CFakeSource>(20, 50, 4));
  player_->Play();
  ASSERT_TRUE(PumpUntil([&] { return aborts_ == 1; }));
  EXPECT_EQ(player_->GetState(), CMoviePlay::Stopped);
  EXPECT_FALSE(host_.visible);
  EXPECT_LT(player_->Play(), 0);
  EXPECT_EQ(completes_, 0);
}

// A picture the source cannot hold (its decoder runs out of memory, as with
// a huge picture size) throws std::bad_alloc on the presenter thread; the
// player aborts the movie instead of ending the program.
class CRunsOutOfMemorySource : public CFakeSource {
 public:
  explicit CRunsOutOfMemorySource(int failAt) : CFakeSource(20, 50), failAt_(failAt) {}
  int ReadFrame(CVideoFrame* f) override {
    if (reads_++ == failAt_) throw std::bad_alloc();
    return CFakeSource::ReadFrame(f);
  }

 private:
  int failAt_;
  int reads_ = 0;
};

class PlayerOutOfMemory : public PlayerFixture, public ::testing::WithParamInterface<int> {};

TEST_P(PlayerOutOfMemory, APictureThatCannotBeHeldAbortsThePlayer) {
  Open(std::make_unique<CRunsOutOfMemorySource>(GetParam()));
  if (GetParam() > 0) {
    ASSERT_TRUE(Showing(0));
    player_->Play();
  }
  ASSERT_TRUE(PumpUntil([&] { return aborts_ == 1; }));
  EXPECT_EQ(player_->GetState(), CMoviePlay::Stopped);
  EXPECT_LT(player_->Play(), 0);
  EXPECT_EQ(completes_, 0);
}

// The first picture (while opening) and one while playing.
INSTANTIATE_TEST_SUITE_P(Reads, PlayerOutOfMemory, ::testing::Values(0, 4),
    [](const auto& info) { return "After" + std::to_string(info.param) + "Reads"; });

TEST_F(PlayerFixture, AMovieWithoutVideoStillOpensAndPlaysItsLength) {
  Open(std::make_unique<CFakeSource>(0, 10, -1, false, kSecond / 5));
  EXPECT_TRUE(player_->HasNoVideo());
  player_->Play();
  ASSERT_TRUE(PumpUntil([&] { return completes_ == 1; }));
  EXPECT_EQ(host_.Count(), 0u);
}

TEST(SliderArithmetic, PixelsAndPercentFollowTheBarsFormulas) {
  const struct {
    int width, percent, x;
  } cases[] = {{220, 0, 5}, {220, 50, 105}, {220, 100, 205}, {120, 33, 38}};
  for (const auto& c : cases) {
    EXPECT_EQ(SliderXForPercent(c.width, c.percent), c.x);
    EXPECT_EQ(SliderPercentForX(c.width, c.x), c.percent);
  }
  EXPECT_EQ(SliderClampX(220, 0), 5);
  EXPECT_EQ(SliderClampX(220, 300), 205);
  EXPECT_EQ(SliderClampX(220, 100), 100);
  EXPECT_EQ(SliderPercentForX(20, 5), 0);  // no track: no division by zero
}

// Flat grey pictures, grey level 8 x number, survive compression well.
CBitmap24 Grey(LONG w, LONG h, int number) {
  CBitmap24 dib = CreateBitmap24(w, h);
  dib.fill(QColor(number * 8, number * 8, number * 8));
  return dib;
}

std::string WriteMovie(const std::string& dir, bool wmv) {
  if (wmv) {
    const std::string path = dir + "grey.wmv";
    CWmvFileOperation w;
    EXPECT_EQ(w.Initialize(10, 100, path, std::string(FOTAVI_PROFILE_DIR) + "/256-192.prx"), 1);
    for (int i = 0; i < 30; ++i) EXPECT_EQ(w.AddFrame(Grey(256, 192, i)), 1);
    EXPECT_TRUE(w.EndWriting());
    return path;
  }
  const std::string path = dir + "grey.avi";
  CAviFileOperation a;
  EXPECT_EQ(a.Initialize(path, 10), 0);
  for (int i = 0; i < 30; ++i) EXPECT_EQ(a.AddFrame(Grey(64, 48, i)), AVI_ADD_WRITTEN);
  EXPECT_TRUE(a.Close());
  return path;
}

class RealFile : public PlayerFixture, public ::testing::WithParamInterface<bool> {
 protected:
  bool ShowingGrey(int number) {
    return PumpUntil([&] {
      auto f = host_.Last();
      return f && std::abs(f->bgr[f->stride * (f->height / 2) + f->width / 2 * 3] - number * 8) <= 4;
    });
  }
};

TEST_P(RealFile, FirstPicturePausedSeekShowsThePictureOfThatTimeAndTheEndRewinds) {
  const std::string dir = MakeFolder("play");
  const std::string path = WriteMovie(dir, GetParam());
  player_ = std::make_unique<CMoviePlay>();
  ASSERT_EQ(player_->Initialize(owner_, slider_, &host_, path), MOVIE_S_OK);
  EXPECT_FALSE(player_->HasNoVideo());
  EXPECT_NEAR(static_cast<double>(player_->GetDuration()), 3.0 * kSecond, 0.01 * kSecond);
  ASSERT_TRUE(ShowingGrey(0));
  EXPECT_EQ(host_.Last()->pts, 0);
  // 50 %: 1.5 s, picture 15, decoded forward from the key picture before it.
  player_->Seek(50, WM_LBUTTONDOWN);
  player_->Seek(50, WM_LBUTTONUP);
  ASSERT_TRUE(ShowingGrey(15)) << static_cast<int>(host_.Last()->bgr[0]);
  EXPECT_EQ(host_.Last()->pts, 15 * kSecond / 10);
  player_->Play();
  ASSERT_TRUE(PumpUntil([&] { return completes_ == 1; }));
  ASSERT_TRUE(ShowingGrey(0));
  Pump(200);
  EXPECT_EQ(completes_, 1);
}

INSTANTIATE_TEST_SUITE_P(Files, RealFile, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Wmv" : "Avi"; });

TEST(FileMovieSource, ANonMovieFileIsAnInvalidFileType) {
  const std::string dir = MakeFolder("notmovie");
  FILE* f = fopen((dir + "x.avi").c_str(), "wb");
  fputs("this is not a movie", f);
  fclose(f);
  CMoviePlay player;
  FakeHost host;
  EXPECT_EQ(player.Initialize(nullptr, nullptr, &host, dir + "x.avi"), MOVIE_E_INVALIDFILE);
  EXPECT_LT(player.Play(), 0);
}

// A file that claims a picture beyond the player's limit (here its own
// movie with the picture header's size raised to 9000 x 9000) opens as a
// movie without video, before the decoder allocates anything for it.
TEST(FileMovieSource, APictureSizeBeyondTheLimitOpensWithoutVideo) {
  const std::string path = WriteMovie(MakeFolder("huge"), false);
  std::string bytes;
  {
    FILE* f = fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, f)) > 0;) bytes.append(buf, n);
    fclose(f);
  }
  // 'strf' chunk: id, size, then the picture header (size, width, height).
  const size_t strf = bytes.find("strf");
  ASSERT_NE(strf, std::string::npos);
  const int32_t huge = 9000;
  bytes.replace(strf + 12, 4, reinterpret_cast<const char*>(&huge), 4);
  bytes.replace(strf + 16, 4, reinterpret_cast<const char*>(&huge), 4);
  {
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
    fclose(f);
  }
  std::unique_ptr<IMovieSource> source = CreateFileMovieSource();
  CMovieInfo info;
  ASSERT_EQ(source->Open(path, &info), MOVIE_S_OK);
  EXPECT_FALSE(info.hasVideo);
  CVideoFrame frame;
  EXPECT_EQ(source->ReadFrame(&frame), SOURCE_END);
}

// Only a regular file is opened: a FIFO named like a movie would otherwise
// hold the opening until a writer came, and the program with it.
struct NotAFile {
  const char* name;
  void (*make)(const std::string& path);
};

class FileMovieSourceRefuses : public ::testing::TestWithParam<NotAFile> {};

TEST_P(FileMovieSourceRefuses, WhatIsNotARegularFileAtOnce) {
  const std::string path = MakeFolder("notafile") + "x.avi";
  GetParam().make(path);
  CMoviePlay player;
  FakeHost host;
  EXPECT_EQ(player.Initialize(nullptr, nullptr, &host, path), MOVIE_E_INVALIDFILE);
  EXPECT_LT(player.Play(), 0);
}

INSTANTIATE_TEST_SUITE_P(Kinds, FileMovieSourceRefuses,
                         ::testing::Values(NotAFile{"Fifo", [](const std::string& p) { ASSERT_EQ(mkfifo(p.c_str(), 0600), 0); }},
                                           NotAFile{"Folder", [](const std::string& p) { ASSERT_EQ(mkdir(p.c_str(), 0700), 0); }},
                                           NotAFile{"Missing", [](const std::string&) {}}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
