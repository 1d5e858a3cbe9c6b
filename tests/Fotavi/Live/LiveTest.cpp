// The live monitor on a scripted device: sizes, captions, pacing, errors,
// stop and close, unplug, full screen, hold and resume.
#include <QElapsedTimer>

#include "Common/LateThreads.h"
#include <QKeyEvent>
#include <QMdiArea>
#include <QScrollBar>
#include <QThread>

#include "Live/AnimeFrame.h"
#include "Live/AnimeThread.h"
#include "Live/AnimeView.h"
#include "Live/FullScreenWnd.h"
#include "Platform/GlobalMemory.h"
#include "Platform/Messages.h"
#include "Platform/Time.h"
#include "App/Resource.h"
#include "TestSupport.h"

using namespace fotavi::test;

class Live : public AppFixture {
 protected:
  bool StartLive() {
    if (!Start()) return false;
    Main()->OnCommand(ID_LIVE_START);
    return Main()->GetLiveFrame() != nullptr;
  }
  CAnimeFrame* Frame() { return Main()->GetLiveFrame(); }
  CAnimeView* View() { return Frame() ? Frame()->GetAnimeView() : nullptr; }
  uint64_t Painted() { return View() ? View()->GetStats().framesPainted.load() : 0; }
  bool WaitPainted(uint64_t n, int ms = 5000) {
    return WaitFor([&] { return Painted() >= n; }, ms);
  }
};

class LiveSizes : public Live, public ::testing::WithParamInterface<std::tuple<int, int, const char*>> {};

TEST_P(LiveSizes, PictureAndCaptionFollowTheStep) {
  const auto [command, step, caption] = GetParam();
  ASSERT_TRUE(Start());
  Main()->OnCommand(command);
  Main()->OnCommand(ID_LIVE_START);
  ASSERT_NE(Frame(), nullptr);
  ASSERT_TRUE(WaitPainted(3));
  Pump(50);
  EXPECT_EQ(Frame()->GetDocument()->GetPictureWidth(), 1024 / step);
  EXPECT_EQ(Frame()->GetDocument()->GetPictureHeight(), 768 / step);
  EXPECT_EQ(View()->GetPicture().size(), QSize(1024 / step, 768 / step));
  EXPECT_EQ(Frame()->windowTitle().toStdString(), caption);
  EXPECT_EQ(View()->viewport()->size(), QSize(1024 / step, 768 / step));
  EXPECT_TRUE(Main()->IsLiveRunning());
  EXPECT_TRUE(ui.Texts().empty());
}
INSTANTIATE_TEST_SUITE_P(Table, LiveSizes,
                         ::testing::Values(std::make_tuple(ID_LIVE_SIZE25, 4, "Live Monitor 256x192 100%"),
                                           std::make_tuple(ID_LIVE_SIZE50, 2, "Live Monitor 512x384 100%"),
                                           std::make_tuple(ID_LIVE_SIZE100, 1, "Live Monitor 1024x768 100%")),
                         [](const auto& info) {
                           return "Reduced" + std::to_string(std::get<1>(info.param)) + "Times";
                         });

TEST_F(Live, ChangingTheStepWhileRunningRedecodesAtTheNewSize) {
  ASSERT_TRUE(StartLive());
  ASSERT_TRUE(WaitPainted(2));
  Main()->OnCommand(ID_LIVE_SIZE25);
  EXPECT_TRUE(WaitFor([&] { return Frame()->GetDocument()->GetPictureWidth() == 256; }));
  EXPECT_TRUE(WaitFor([&] { return Frame()->windowTitle() == "Live Monitor 256x192 100%"; }));
}

// Switching the size step while the monitor runs fits the window to the
// picture as a fresh start at that step does: no black band.
struct StepSwitch {
  int from;
  int to;
  int width;
};
class LiveStepSwitch : public Live, public ::testing::WithParamInterface<StepSwitch> {};

TEST_P(LiveStepSwitch, TheWindowFitsThePicture) {
  const StepSwitch c = GetParam();
  ASSERT_TRUE(Start());
  Main()->OnCommand(c.from);
  Main()->OnCommand(ID_LIVE_START);
  ASSERT_NE(Frame(), nullptr);
  ASSERT_TRUE(WaitPainted(2));
  Main()->OnCommand(c.to);
  ASSERT_TRUE(WaitFor([&] { return View()->GetPicture().width() == c.width; }));
  Pump(100);
  const QSize picture(c.width, c.width * 3 / 4);
  EXPECT_EQ(View()->viewport()->size(), picture);
  EXPECT_EQ(Frame()->GetDocument()->GetPictureWidth(), picture.width());
  EXPECT_FALSE(View()->horizontalScrollBar()->isVisible());
  EXPECT_FALSE(View()->verticalScrollBar()->isVisible());
}
INSTANTIATE_TEST_SUITE_P(
    Table, LiveStepSwitch,
    ::testing::Values(StepSwitch{ID_LIVE_SIZE50, ID_LIVE_SIZE25, 256}, StepSwitch{ID_LIVE_SIZE100, ID_LIVE_SIZE25, 256},
                      StepSwitch{ID_LIVE_SIZE100, ID_LIVE_SIZE50, 512}, StepSwitch{ID_LIVE_SIZE25, ID_LIVE_SIZE50, 512},
                      StepSwitch{ID_LIVE_SIZE50, ID_LIVE_SIZE100, 1024}),
    [](const auto& info) {
      return "Step" + std::to_string(info.index) + "To" + std::to_string(info.param.width) + "Wide";
    });

TEST_F(Live, ZoomCommandsChangeTheCaption) {
  ASSERT_TRUE(StartLive());
  ASSERT_TRUE(WaitPainted(1));
  Main()->GetMdiArea()->setActiveSubWindow(Frame());
  Main()->OnCommand(ID_VIEW_ZOOMOUT);
  EXPECT_EQ(Frame()->windowTitle().toStdString(), "Live Monitor 512x384 66.7%");
  Main()->OnCommand(ID_VIEW_ZOOMIN);
  Main()->OnCommand(ID_VIEW_ZOOMIN);
  EXPECT_EQ(Frame()->windowTitle().toStdString(), "Live Monitor 512x384 150%");
  EXPECT_GT(View()->horizontalScrollBar()->maximum(), 0);
  Main()->OnCommand(ID_VIEW_ACTUALSIZE);
  EXPECT_EQ(Frame()->windowTitle().toStdString(), "Live Monitor 512x384 100%");
}

TEST_F(Live, ZeroLengthFrameClosesTheMonitorSilently) {
  device->PushReplies(Reply::Good, 2);
  device->PushReplies(Reply::Empty);
  ASSERT_TRUE(StartLive());
  EXPECT_TRUE(WaitFor([&] { return Frame() == nullptr; }));
  Pump(50);
  EXPECT_TRUE(ui.Texts().empty());
  EXPECT_FALSE(Main()->IsLiveRunning());
}

struct ErrorRun {
  std::vector<Reply> replies;
  bool ends;
};
class LiveErrors : public Live, public ::testing::WithParamInterface<ErrorRun> {};
TEST_P(LiveErrors, ThirdFailureInARowEndsTheMonitor) {
  for (Reply r : GetParam().replies) device->PushReplies(r);
  ASSERT_TRUE(StartLive());
  if (GetParam().ends) {
    ASSERT_TRUE(WaitFor([&] { return Frame() == nullptr && !ui.Texts().empty(); }));
    EXPECT_EQ(ui.Texts(), std::vector<std::string>{"Unable to acquire live-monitor image."});
  } else {
    const uint64_t before = Painted();
    ASSERT_TRUE(WaitPainted(before + 3));
    EXPECT_NE(Frame(), nullptr);
    EXPECT_TRUE(ui.Texts().empty());
  }
}
INSTANTIATE_TEST_SUITE_P(
    Table, LiveErrors,
    ::testing::Values(ErrorRun{{Reply::Failed, Reply::Failed, Reply::Failed}, true},
                      ErrorRun{{Reply::Corrupt, Reply::Corrupt, Reply::Corrupt}, true},
                      ErrorRun{{Reply::Failed, Reply::Failed, Reply::Good, Reply::Failed, Reply::Failed}, false},
                      ErrorRun{{Reply::Corrupt, Reply::Corrupt, Reply::Good, Reply::Corrupt}, false},
                      ErrorRun{{Reply::Good, Reply::Failed, Reply::Corrupt, Reply::Failed}, false}),
    [](const auto& info) {
      return (info.param.ends ? "Ends" : "GoesOn") + std::to_string(info.param.replies.size()) + "Replies_" +
             std::to_string(info.index);
    });

TEST_F(Live, RequestsThatCannotBePostedEndTheMonitor) {
  device->asyncFailures = 3;
  ASSERT_TRUE(StartLive());
  ASSERT_TRUE(WaitFor([&] { return Frame() == nullptr && !ui.Texts().empty(); }));
  EXPECT_EQ(device->asyncCalls.load(), 3);
  EXPECT_EQ(ui.Texts(), std::vector<std::string>{"Unable to acquire live-monitor image."});
}

TEST_F(Live, StopThenCloseReturnsEveryRecordAndBlock) {
  const size_t blocks = GlobalBlockCount();
  ASSERT_TRUE(StartLive());
  ASSERT_TRUE(WaitPainted(5));
  Main()->OnCommand(ID_LIVE_STOP);
  EXPECT_FALSE(Main()->IsLiveRunning());
  Pump(100);
  const int calls = device->asyncCalls.load();
  Pump(200);
  EXPECT_EQ(device->asyncCalls.load(), calls);  // paused: no more requests
  Frame()->close();
  Pump(50);
  EXPECT_EQ(Frame(), nullptr);
  EXPECT_EQ(device->Outstanding(), 0u);
  EXPECT_EQ(GlobalBlockCount(), blocks);
}

TEST_F(Live, StartAfterStopResumes) {
  ASSERT_TRUE(StartLive());
  ASSERT_TRUE(WaitPainted(2));
  Main()->OnCommand(ID_LIVE_STOP);
  Pump(100);
  const uint64_t painted = Painted();
  Main()->OnCommand(ID_LIVE_START);
  EXPECT_TRUE(Main()->IsLiveRunning());
  EXPECT_TRUE(WaitPainted(painted + 3));
}

TEST_F(Live, ClosingWhileAReplyNeverComesDoesNotHang) {
  ASSERT_TRUE(StartLive());
  ASSERT_TRUE(WaitPainted(2));
  device->SetDefaultReply(Reply::Never);
  Pump(200);
  QElapsedTimer t;
  t.start();
  Frame()->close();
  EXPECT_LT(t.elapsed(), 5000);
  EXPECT_EQ(Frame(), nullptr);
}

TEST_F(Live, UnplugClosesTheMonitorAndReplugEnablesStart) {
  ASSERT_TRUE(StartLive());
  ASSERT_TRUE(WaitPainted(2));
  device->connected = false;
  PostMessage(Main()->GetSafeHwnd(), WM_FOTAVI_DEVICESTATE, FOTAVI_DEVICE_GONE, 0);
  ASSERT_TRUE(WaitFor([&] { return Frame() == nullptr; }));
  EXPECT_EQ(Main()->GetStatusText(), "Unable to use the main unit.");
  EXPECT_FALSE(Main()->IsCommandEnabled(ID_LIVE_START));
  device->connected = true;
  PostMessage(Main()->GetSafeHwnd(), WM_FOTAVI_DEVICESTATE, FOTAVI_DEVICE_PRESENT, 0);
  ASSERT_TRUE(WaitFor([&] { return Main()->IsCommandEnabled(ID_LIVE_START); }));
  Main()->OnCommand(ID_LIVE_START);
  EXPECT_TRUE(WaitPainted(2));
}

TEST_F(Live, HoldWhileAToolIsOpenAndResumeAfter) {
  ASSERT_TRUE(StartLive());
  ASSERT_TRUE(WaitPainted(2));
  Main()->HoldLive();
  EXPECT_TRUE(Main()->IsLiveHeld());
  EXPECT_TRUE(Frame()->IsSuspended());
  PostMessage(Main()->GetSafeHwnd(), WM_RESUME_LIVE, 0, 0);
  ASSERT_TRUE(WaitFor([&] { return !Main()->IsLiveHeld(); }));
  EXPECT_TRUE(Main()->IsLiveRunning());
  EXPECT_FALSE(Frame()->IsSuspended());
  const uint64_t painted = Painted();
  EXPECT_TRUE(WaitPainted(painted + 2));
}

TEST_F(Live, FullScreenCoversTheScreenAndEscReturns) {
  ASSERT_TRUE(StartLive());
  ASSERT_TRUE(WaitPainted(2));
  Main()->GetMdiArea()->setActiveSubWindow(Frame());
  Main()->OnCommand(ID_VIEW_FULLSCREEN);
  CFullScreenWnd* full = View()->GetFullScreenWnd();
  ASSERT_NE(full, nullptr);
  EXPECT_EQ(full->geometry(), QRect(0, 0, 1280, 1024));
  EXPECT_EQ(full->windowTitle(), QString(FULLSCREEN_WINDOW_NAME));
  // Frames are decoded at full size while full screen is shown.
  ASSERT_TRUE(WaitFor([&] { return Frame()->GetDocument()->GetPictureWidth() == 1024; }));
  const uint64_t painted = Painted();
  ASSERT_TRUE(WaitPainted(painted + 2));
  const QImage& memory = full->GetMemoryImage();
  EXPECT_EQ(memory.pixelColor(640, 10), QColor(Qt::black));     // border above
  EXPECT_EQ(memory.pixelColor(640, 1015), QColor(Qt::black));   // border below
  EXPECT_NE(memory.pixelColor(640, 500), QColor(Qt::black));    // the picture
  full->close();  // the system cannot close it
  Pump(20);
  EXPECT_EQ(View()->GetFullScreenWnd(), full);
  QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QCoreApplication::sendEvent(full, &esc);
  ASSERT_TRUE(WaitFor([&] { return View()->GetFullScreenWnd() == nullptr; }));
  EXPECT_TRUE(WaitFor([&] { return Frame()->GetDocument()->GetPictureWidth() == 512; }));
}

TEST_F(Live, FullScreenWhileStoppedShowsTheLastFrame) {
  ASSERT_TRUE(StartLive());
  ASSERT_TRUE(WaitPainted(2));
  Main()->OnCommand(ID_LIVE_STOP);
  Pump(100);
  Main()->GetMdiArea()->setActiveSubWindow(Frame());
  Main()->OnCommand(ID_VIEW_FULLSCREEN);
  CFullScreenWnd* full = View()->GetFullScreenWnd();
  ASSERT_NE(full, nullptr);
  EXPECT_EQ(Frame()->GetDocument()->GetPictureWidth(), 1024);
  EXPECT_NE(full->GetMemoryImage().pixelColor(640, 500), QColor(Qt::black));
  PostMessage(View()->GetSafeHwnd(), WM_FULLSCREEN_END, 0, 0);
  ASSERT_TRUE(WaitFor([&] { return View()->GetFullScreenWnd() == nullptr; }));
  EXPECT_EQ(Frame()->GetDocument()->GetPictureWidth(), 512);
}

// A frame that cannot be decoded is not kept for redraws: a redraw after it
// (a size-step change, full screen begun while stopped) shows the last good
// frame again instead of ending the monitor with "Unable to display".
enum class RedrawAfterBadFrame { SizeStep, FullScreenWhileStopped };
class LiveKeptAfterBadFrame : public Live, public ::testing::WithParamInterface<RedrawAfterBadFrame> {};

TEST_P(LiveKeptAfterBadFrame, RedrawShowsTheLastGoodFrame) {
  device->PushReplies(Reply::Good, 3);
  device->PushReplies(Reply::Corrupt);
  device->PushReplies(Reply::Never);  // the stream stops after the bad frame
  ASSERT_TRUE(StartLive());
  ASSERT_TRUE(WaitFor([&] { return View()->GetStats().decodeFailures.load() == 1; }));
  Pump(100);
  ASSERT_EQ(Frame()->GetDocument()->GetPictureWidth(), 512);
  if (GetParam() == RedrawAfterBadFrame::SizeStep) {
    Main()->OnCommand(ID_LIVE_SIZE25);
    EXPECT_TRUE(WaitFor([&] { return Frame() && Frame()->GetDocument()->GetPictureWidth() == 256; }));
  } else {
    Main()->OnCommand(ID_LIVE_STOP);
    Main()->GetMdiArea()->setActiveSubWindow(Frame());
    Main()->OnCommand(ID_VIEW_FULLSCREEN);
    CFullScreenWnd* full = View()->GetFullScreenWnd();
    ASSERT_NE(full, nullptr);
    EXPECT_EQ(Frame()->GetDocument()->GetPictureWidth(), 1024);
    EXPECT_NE(full->GetMemoryImage().pixelColor(640, 500), QColor(Qt::black));
    PostMessage(View()->GetSafeHwnd(), WM_FULLSCREEN_END, 0, 0);
    EXPECT_TRUE(WaitFor([&] { return Frame() && View()->GetFullScreenWnd() == nullptr; }));
  }
  Pump(200);
  ASSERT_NE(Frame(), nullptr);
  EXPECT_TRUE(ui.Texts().empty());
  EXPECT_FALSE(View()->GetPicture().isNull());
}
INSTANTIATE_TEST_SUITE_P(Table, LiveKeptAfterBadFrame,
                         ::testing::Values(RedrawAfterBadFrame::SizeStep, RedrawAfterBadFrame::FullScreenWhileStopped),
                         [](const auto& info) {
                           return std::string(info.param == RedrawAfterBadFrame::SizeStep ? "SizeStep"
                                                                                          : "FullScreenWhileStopped");
                         });

TEST_F(Live, AReceivingWindowThatCannotBeMadeFailsTheStartWithAMessage) {
  ASSERT_TRUE(Start());
  CViewJpeg::FailNextCreateForTest();
  Main()->OnCommand(ID_LIVE_START);
  EXPECT_EQ(Frame(), nullptr);
  EXPECT_FALSE(Main()->IsLiveRunning());
  EXPECT_EQ(ui.Texts(), std::vector<std::string>{"An internal error had occurred."});
  EXPECT_EQ(device->asyncCalls.load(), 0);
  Main()->OnCommand(ID_LIVE_START);  // the next start works
  EXPECT_TRUE(WaitPainted(2));
}

// The view thread answers the start only after the start gave up waiting:
// the start fails with a message, the late answer finds its handshake event
// alive, the thread ends, and the next start works.
TEST_F(Live, AViewThreadThatAnswersLateFailsTheStartCleanly) {
  ASSERT_TRUE(Start());
  CViewJpeg::DelayNextCreateForTest(LIVE_HANDSHAKE_WAIT_MS + 1500);
  QElapsedTimer t;
  t.start();
  Main()->OnCommand(ID_LIVE_START);
  EXPECT_LT(t.elapsed(), qint64(LIVE_HANDSHAKE_WAIT_MS + LIVE_VIEW_END_WAIT_MS + 3000));
  EXPECT_EQ(Frame(), nullptr);
  EXPECT_FALSE(Main()->IsLiveRunning());
  EXPECT_EQ(ui.Texts(), std::vector<std::string>{"An internal error had occurred."});
  EXPECT_EQ(device->asyncCalls.load(), 0);
  Main()->OnCommand(ID_LIVE_START);
  EXPECT_TRUE(WaitPainted(2));
}

// A request stuck in the device library when the monitor closes: the close
// gives up within its limit, and the reply that comes after the view is gone
// finds no receiving window that would still hand it to that view.
TEST_F(Live, AStuckRequestAtCloseLeavesNothingPointingAtTheView) {
  ASSERT_TRUE(StartLive());
  ASSERT_TRUE(WaitPainted(2));
  device->holdAsync = true;
  ASSERT_TRUE(WaitFor([&] { return device->asyncHeld.load() == 1; }));
  const int posted = device->repliesPosted.load();
  QElapsedTimer t;
  t.start();
  Frame()->close();
  EXPECT_EQ(Frame(), nullptr);
  EXPECT_LT(t.elapsed(), qint64(LIVE_STOP_LIMIT_MS + LIVE_VIEW_END_WAIT_MS + 5000));
  // The threads left behind have one owner, which frees them once they end.
  EXPECT_EQ(LateThreadCount(), 1u);
  device->holdAsync = false;  // the stuck request returns; its reply follows
  ASSERT_TRUE(WaitFor([&] { return device->asyncHeld.load() == 0; }));
  Pump(300);
  EXPECT_EQ(device->repliesPosted.load(), posted);
  EXPECT_TRUE(WaitFor([] { return LateThreadCount() == 0; }));
  Main()->OnCommand(ID_LIVE_START);  // the program goes on
  EXPECT_TRUE(WaitPainted(2));
}

TEST_F(Live, ExitWhileRunningStopsEverything) {
  ASSERT_TRUE(StartLive());
  ASSERT_TRUE(WaitPainted(3));
  app->ExitInstance();
  // The last hand-back may still be on its way to the device's thread.
  WaitFor([&] { return device->Outstanding() == 0; });
  EXPECT_EQ(device->Outstanding(), 0u);
  EXPECT_EQ(device->closeCalls.load(), 1);
}

TEST_F(Live, ClosingAfterTheCameraWentDoesNotWaitForALostReply) {
  ASSERT_TRUE(StartLive());
  ASSERT_TRUE(WaitPainted(2));
  device->SetDefaultReply(Reply::Never);
  Pump(100);
  device->connected = false;
  QElapsedTimer t;
  t.start();
  Frame()->close();
  EXPECT_LT(t.elapsed(), 1000);
  EXPECT_EQ(Frame(), nullptr);
}

TEST_F(Live, ABusyGuiThreadGetsAtMostOneFrameReadyMessage) {
  ASSERT_TRUE(StartLive());
  ASSERT_TRUE(WaitPainted(2));
  const uint64_t decoded = View()->GetStats().framesDecoded.load();
  // The GUI thread does not run its loop meanwhile: it only looks at the
  // count, for as long as a loaded machine needs to decode a few pictures.
  QElapsedTimer waited;
  waited.start();
  while (View()->GetStats().framesDecoded.load() <= decoded + 5 && waited.elapsed() < 20000) QThread::msleep(20);
  EXPECT_GT(View()->GetStats().framesDecoded.load(), decoded + 5);  // the road went on without it
  EXPECT_LE(GetQueueLength(), 2u);
  const uint64_t painted = Painted();
  EXPECT_TRUE(WaitPainted(painted + 1));
}

// The draw palette only toggles: it holds nothing. Start and Stop pressed
// while it is open stay as the user left them when it closes.
struct PaletteCase {
  std::vector<int> commandsWhileOpen;
  bool runningAfter;
};
class LivePalette : public Live, public ::testing::WithParamInterface<PaletteCase> {};

TEST_P(LivePalette, ThePaletteDoesNotHoldTheMonitor) {
  ASSERT_TRUE(StartLive());
  ASSERT_TRUE(WaitPainted(2));
  Main()->OnCommand(ID_TOOL_REMOTECTRL);
  QWidget* panel = Main()->GetRemoteCtrl();
  ASSERT_NE(panel, nullptr);
  ASSERT_TRUE(panel->isVisible());
  Main()->OnCommand(ID_TOOL_DRAW);
  ASSERT_NE(Main()->GetDrawPalette(), nullptr);
  ASSERT_TRUE(Main()->GetDrawPalette()->isVisible());
  EXPECT_FALSE(Main()->IsLiveHeld());
  EXPECT_TRUE(Main()->IsLiveRunning());
  EXPECT_FALSE(Frame()->IsSuspended());
  EXPECT_TRUE(panel->isEnabled());
  const uint64_t painted = Painted();
  EXPECT_TRUE(WaitPainted(painted + 2));  // the picture goes on moving
  for (int id : GetParam().commandsWhileOpen) Main()->OnCommand(id);
  Main()->OnCommand(ID_TOOL_DRAW);  // closes the palette, which asks for the resume
  Pump(100);
  EXPECT_FALSE(Main()->IsLiveHeld());
  EXPECT_EQ(Main()->IsLiveRunning() != FALSE, GetParam().runningAfter);
  EXPECT_EQ(Frame()->IsSuspended(), !GetParam().runningAfter);
  EXPECT_TRUE(panel->isEnabled());
  EXPECT_EQ(Main()->IsCommandEnabled(ID_LIVE_START), !GetParam().runningAfter);
}
INSTANTIATE_TEST_SUITE_P(Table, LivePalette,
                         ::testing::Values(PaletteCase{{}, true}, PaletteCase{{ID_LIVE_STOP}, false},
                                           PaletteCase{{ID_LIVE_STOP, ID_LIVE_START}, true}),
                         [](const auto& info) {
                           return std::to_string(info.param.commandsWhileOpen.size()) + "Commands" +
                                  (info.param.runningAfter ? "Running" : "Stopped");
                         });

// A hold disables the remote control whether it is shown or not, and the
// resume enables it again whether it is shown or not.
struct PanelHoldCase {
  bool shownAtHold;
  bool shownAtResume;
};
class LivePanelHold : public Live, public ::testing::WithParamInterface<PanelHoldCase> {};

TEST_P(LivePanelHold, PanelKeysFollowTheHold) {
  ASSERT_TRUE(StartLive());
  ASSERT_TRUE(WaitPainted(2));
  QWidget* panel = Main()->GetRemoteCtrl();
  ASSERT_NE(panel, nullptr);
  auto showPanel = [&](bool shown) {
    if (panel->isVisible() != shown) Main()->OnCommand(ID_TOOL_REMOTECTRL);
    ASSERT_EQ(panel->isVisible(), shown);
  };
  showPanel(GetParam().shownAtHold);
  Main()->HoldLive();
  showPanel(true);
  EXPECT_FALSE(panel->isEnabled());
  showPanel(GetParam().shownAtResume);
  PostMessage(Main()->GetSafeHwnd(), WM_RESUME_LIVE, 0, 0);
  ASSERT_TRUE(WaitFor([&] { return !Main()->IsLiveHeld(); }));
  showPanel(true);
  EXPECT_TRUE(panel->isEnabled());
}
INSTANTIATE_TEST_SUITE_P(Table, LivePanelHold,
                         ::testing::Values(PanelHoldCase{true, false}, PanelHoldCase{false, true},
                                           PanelHoldCase{false, false}, PanelHoldCase{true, true}),
                         [](const auto& info) {
                           return std::string(info.param.shownAtHold ? "ShownAtHold" : "HiddenAtHold") +
                                  (info.param.shownAtResume ? "ShownAtResume" : "HiddenAtResume");
                         });

namespace fotavi::test {
namespace {

// A reply that the library posted to the receiving window after the view
// thread was told to quit, but before it took the quit, is still a lent
// record: it comes back to the library and its block is freed.
TEST(LiveViewThread, AReplyQueuedBehindTheQuitIsHandedBack) {
  CAnimeViewThread thread;
  CEvent drawn(false, false);
  thread.Init(nullptr, nullptr, &drawn);
  ASSERT_TRUE(thread.Resume());
  ASSERT_TRUE(thread.MakeWindow(5000));
  // The receiving window, taken while the view thread is idle (its second
  // window creation below writes the handle on that thread).
  const HWND receiver = thread.GetReceiver().GetSafeHwnd();
  ASSERT_NE(receiver, nullptr);
  // Keep the thread busy on a second window creation while the quit and the
  // reply queue up behind it.
  CViewJpeg::DelayNextCreateForTest(300);
  ASSERT_TRUE(PostThreadMessage(thread.GetThreadId(), WM_ANIME_INITVIEW, 0, 0));
  Sleep(50);
  ASSERT_TRUE(PostThreadMessage(thread.GetThreadId(), WM_QUIT, 0, 0));

  const size_t blocksBefore = GlobalBlockCount();
  DEVICE_RSP rsp{};
  rsp.bResult = TRUE;
  rsp.dwLength = 16;
  rsp.pData = GlobalAlloc(GMEM_MOVEABLE, 16);
  ASSERT_TRUE(PostMessage(receiver, WM_FOTAVI_REQUEST, GetCurrentThreadId(), reinterpret_cast<LPARAM>(&rsp)));
  ASSERT_TRUE(thread.Join(10000));

  MSG msg{};
  bool handedBack = false;
  while (PeekMessage(&msg)) {
    if (msg.message == WM_FOTAVI_RELASERSP && msg.lParam == reinterpret_cast<LPARAM>(&rsp)) handedBack = true;
  }
  EXPECT_TRUE(handedBack);
  EXPECT_EQ(GlobalBlockCount(), blocksBefore) << "the reply's block is freed";
}

}  // namespace
}  // namespace fotavi::test
