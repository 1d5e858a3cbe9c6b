#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "Platform/Messages.h"
#include "Platform/Sync.h"
#include "Platform/Time.h"

namespace {

constexpr UINT WM_TEST = WM_USER + 1;

struct Recorder : IWindowProc {
  std::vector<std::pair<UINT, WPARAM>> seen;
  DWORD thread = 0;
  LRESULT WindowProc(HWND, UINT msg, WPARAM w, LPARAM) override {
    seen.emplace_back(msg, w);
    thread = GetCurrentThreadId();
    return 0;
  }
};

TEST(Messages, PostToOwnWindowIsDispatchedInOrder) {
  Recorder rec;
  HWND h = CreateWindowTarget(&rec, "rec");
  ASSERT_NE(h, nullptr);
  ASSERT_TRUE(IsWindow(h));
  for (WPARAM i = 1; i <= 3; ++i) ASSERT_TRUE(PostMessage(h, WM_TEST, i, 0));
  EXPECT_EQ(DrainMessages(), 3u);
  ASSERT_EQ(rec.seen.size(), 4u);  // WM_CREATE first
  EXPECT_EQ(rec.seen[0].first, WM_CREATE);
  EXPECT_EQ(rec.seen[1].second, 1u);
  EXPECT_EQ(rec.seen[3].second, 3u);
  DestroyWindow(h);
}

TEST(Messages, PostToDestroyedWindowFailsAndQueuedMessagesAreDropped) {
  Recorder rec;
  HWND h = CreateWindowTarget(&rec, "gone");
  ASSERT_TRUE(PostMessage(h, WM_TEST, 1, 0));
  ASSERT_TRUE(DestroyWindow(h));
  EXPECT_FALSE(IsWindow(h));
  EXPECT_FALSE(PostMessage(h, WM_TEST, 2, 0));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
  DrainMessages();
  // WM_CREATE and WM_DESTROY only: the queued message was not delivered.
  ASSERT_EQ(rec.seen.size(), 2u);
  EXPECT_EQ(rec.seen[1].first, WM_DESTROY);
  // A handle value is never handed out again.
  Recorder rec2;
  HWND h2 = CreateWindowTarget(&rec2, "new");
  EXPECT_NE(h2, h);
  DestroyWindow(h2);
}

TEST(Messages, WindowMessagesRunOnTheOwnerThread) {
  Recorder rec;
  std::atomic<HWND> h{nullptr};
  CEvent created;
  CPlatformThread owner([&] {
    h = CreateWindowTarget(&rec, "owned");
    created.Set();
    RunMessageLoop({});
    DestroyWindow(h);
  });
  ASSERT_EQ(created.Wait(5000), WAIT_OBJECT_0);
  std::vector<std::thread> posters;
  for (int t = 0; t < 4; ++t) {
    posters.emplace_back([&] {
      for (int i = 0; i < 250; ++i) PostMessage(h, WM_TEST, 0, 0);
    });
  }
  for (auto& p : posters) p.join();
  ASSERT_TRUE(PostThreadMessage(owner.id(), WM_QUIT, 0, 0));
  ASSERT_TRUE(owner.Join(5000));
  EXPECT_EQ(rec.seen.size(), 1u + 1000u + 1u);  // create, posts, destroy
  EXPECT_EQ(rec.thread, owner.id());
}

TEST(Messages, PostsBeforeASuspendedThreadRunsAreKept) {
  std::vector<WPARAM> got;
  CPlatformThread t([&] { RunMessageLoop([&](const MSG& m) { got.push_back(m.wParam); }); }, /*suspended=*/true);
  ASSERT_TRUE(PostThreadMessage(t.id(), WM_TEST, 7, 0));
  ASSERT_TRUE(PostThreadMessage(t.id(), WM_TEST, 8, 0));
  ASSERT_TRUE(PostThreadMessage(t.id(), WM_QUIT, 0, 0));
  EXPECT_FALSE(t.Join(50));  // not started yet
  ASSERT_TRUE(t.Resume());
  ASSERT_TRUE(t.Join(5000));
  EXPECT_EQ(got, (std::vector<WPARAM>{7, 8}));
}

TEST(Messages, PostThreadMessageToAnEndedThreadFails) {
  CPlatformThread t([] { RunMessageLoop({}); });
  DWORD id = t.id();
  ASSERT_TRUE(PostThreadMessage(id, WM_QUIT, 0, 0));
  ASSERT_TRUE(t.Join(5000));
  EXPECT_FALSE(PostThreadMessage(id, WM_TEST, 0, 0));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_THREAD_ID);
  EXPECT_FALSE(PostThreadMessage(0xFFFFFFF0u, WM_TEST, 0, 0));
}

// A thread that takes WM_QUIT, then drains what is left and ends: every post
// made while it ends is either handled by that drain or refused. None is
// accepted and then lost with the thread.
TEST(Messages, PostToAnEndingThreadIsHandledOrRefused) {
  for (int round = 0; round < 300; ++round) {
    std::atomic<int> handled{0};
    CPlatformThread t([&] {
      RunMessageLoop([&](const MSG& m) { handled += m.message == WM_TEST; });
      bool quit = true;
      while (quit) DrainMessages([&](const MSG& m) { handled += m.message == WM_TEST; }, &quit);
    });
    const DWORD id = t.id();
    std::atomic<int> accepted{0};
    std::thread poster([&] {
      while (PostThreadMessage(id, WM_TEST, 0, 0)) ++accepted;
    });
    if (round % 3) std::this_thread::sleep_for(std::chrono::microseconds(50 * (round % 7)));
    ASSERT_TRUE(PostThreadMessage(id, WM_QUIT, 0, 0));
    poster.join();
    ASSERT_TRUE(t.Join(5000));
    ASSERT_EQ(accepted.load(), handled.load()) << "round " << round;
  }
}

// However a platform thread's loop takes WM_QUIT (the standard loop, its own
// GetMessage loop, or one with a time limit), nobody will take a message
// from it afterwards: a later post must fail, not wait in the queue until the
// thread ends and drops it.
TEST(Messages, PostAfterAnyLoopTookQuitIsRefused) {
  struct Row {
    const char* loop;
    std::function<void()> run;
  };
  const std::vector<Row> rows = {
      {"RunMessageLoop", [] { RunMessageLoop({}); }},
      {"GetMessage", [] {
         MSG m;
         while (GetMessage(&m)) {
         }
       }},
      {"GetMessageTimeout", [] {
         MSG m;
         for (;;) {
           if (GetMessageTimeout(&m, 20) == WAIT_TIMEOUT) continue;
           if (m.message == WM_QUIT) break;
         }
       }},
  };
  for (const Row& row : rows) {
    CEvent loopOver(true, false), posted(true, false);
    CPlatformThread t([&] {
      row.run();
      loopOver.Set();
      posted.Wait(10000);
    });
    ASSERT_TRUE(PostThreadMessage(t.id(), WM_TEST, 0, 0)) << row.loop;
    ASSERT_TRUE(PostThreadMessage(t.id(), WM_QUIT, 0, 0)) << row.loop;
    ASSERT_EQ(loopOver.Wait(10000), WAIT_OBJECT_0) << row.loop;
    EXPECT_FALSE(PostThreadMessage(t.id(), WM_TEST, 0, 0)) << row.loop;
    posted.Set();
    ASSERT_TRUE(t.Join(10000)) << row.loop;
  }
}

TEST(Messages, JoinWithTimeLimitGivesUpOnAStuckThread) {
  CEvent release(true, false);
  auto t = std::make_unique<CPlatformThread>([&] { release.Wait(); });
  DWORD start = GetTickCount();
  EXPECT_FALSE(t->Join(100));
  EXPECT_GE(GetTickCount() - start, 90u);
  release.Set();
  EXPECT_TRUE(t->Join(5000));
}

TEST(Messages, WindowsOfAnEndedThreadCannotBePostedTo) {
  Recorder rec;
  HWND h = nullptr;
  CPlatformThread t([&] { h = CreateWindowTarget(&rec, "orphan"); });
  ASSERT_TRUE(t.Join(5000));
  EXPECT_FALSE(PostMessage(h, WM_TEST, 0, 0));
  DestroyWindow(h);
}

TEST(Messages, NullWindowPostsToOwnQueue) {
  ASSERT_TRUE(PostMessage(nullptr, WM_TEST, 42, 0));
  MSG m;
  ASSERT_EQ(GetMessageTimeout(&m, 1000), WAIT_OBJECT_0);
  EXPECT_EQ(m.hwnd, nullptr);
  EXPECT_EQ(m.wParam, 42u);
  EXPECT_EQ(GetMessageTimeout(&m, 20), WAIT_TIMEOUT);
}

TEST(Messages, CreateReturningMinusOneGivesNoWindow) {
  HWND h = CreateWindowTarget([](HWND, UINT msg, WPARAM, LPARAM) -> LRESULT { return msg == WM_CREATE ? -1 : 0; },
                              "refuses");
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(FindWindowByTitle("refuses"), nullptr);
}

TEST(Messages, BroadcastReachesTopLevelTargetsOnly) {
  Recorder top, child;
  HWND a = CreateWindowTarget(&top, "top", WTF_TOPLEVEL);
  HWND b = CreateWindowTarget(&child, "child", 0);
  EXPECT_GE(BroadcastSystemMessage(WM_POWERBROADCAST, PBT_APMSUSPEND, 0), 1);
  DrainMessages();
  bool topGot = false;
  for (auto& s : top.seen) topGot |= (s.first == WM_POWERBROADCAST && s.second == PBT_APMSUSPEND);
  EXPECT_TRUE(topGot);
  for (auto& s : child.seen) EXPECT_NE(s.first, WM_POWERBROADCAST);
  DestroyWindow(a);
  DestroyWindow(b);
}

TEST(Events, AutoResetReleasesOneWaitManualResetStaysSet) {
  CEvent autoEv(false, true);
  EXPECT_EQ(autoEv.Wait(0), WAIT_OBJECT_0);
  EXPECT_EQ(autoEv.Wait(10), WAIT_TIMEOUT);
  CEvent manual(true, false);
  EXPECT_EQ(manual.Wait(10), WAIT_TIMEOUT);
  manual.Set();
  EXPECT_EQ(manual.Wait(0), WAIT_OBJECT_0);
  EXPECT_EQ(manual.Wait(0), WAIT_OBJECT_0);
  manual.Reset();
  EXPECT_EQ(manual.Wait(0), WAIT_TIMEOUT);
}

TEST(Events, SetFromAnotherThreadWakesTheWaiter) {
  CEvent ev;
  std::thread t([&] {
    Sleep(30);
    ev.Set();
  });
  EXPECT_EQ(ev.Wait(5000), WAIT_OBJECT_0);
  t.join();
}

TEST(Time, TickCountWrapsLikeA32BitCounter) {
  SetTickCountOffset(0xFFFFFFFFu - GetTickCount() - 5);  // a few ms before the wrap
  DWORD before = GetTickCount();
  Sleep(20);
  DWORD after = GetTickCount();
  SetTickCountOffset(0);
  EXPECT_LT(after, before);               // wrapped
  EXPECT_GE(after - before, 15u);         // unsigned difference still measures time
}

}  // namespace
