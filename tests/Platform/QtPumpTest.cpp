// The platform queue of a Qt GUI thread is drained inside Qt's event loop.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "Platform/Messages.h"
#include "QtGlue/QtMessagePump.h"

class QtPumpTest : public QObject {
  Q_OBJECT
 private slots:
  void postsFromWorkerThreadsReachTheWindowOnTheGuiThread() {
    std::atomic<int> count{0};
    Qt::HANDLE guiThread = QThread::currentThreadId();
    bool wrongThread = false;
    HWND h = CreateWindowTarget(
        [&](HWND, UINT msg, WPARAM, LPARAM) -> LRESULT {
          if (msg == WM_USER + 5) {
            if (QThread::currentThreadId() != guiThread) wrongThread = true;
            ++count;
          }
          return 0;
        },
        "pump-target");
    QtMessagePump pump;
    std::thread worker([h] {
      for (int i = 0; i < 500; ++i) PostMessage(h, WM_USER + 5, 0, 0);
    });
    worker.join();
    QTRY_COMPARE_WITH_TIMEOUT(count.load(), 500, 5000);
    QVERIFY(!wrongThread);
    DestroyWindow(h);
  }

  void threadMessagesGoToTheHandler() {
    std::vector<WPARAM> got;
    QtMessagePump pump([&](const MSG& m) { got.push_back(m.wParam); });
    DWORD gui = GetCurrentThreadId();
    std::thread worker([gui] {
      PostThreadMessage(gui, WM_USER + 6, 1, 0);
      PostThreadMessage(gui, WM_USER + 6, 2, 0);
    });
    worker.join();
    QTRY_COMPARE_WITH_TIMEOUT(got.size(), size_t(2), 5000);
    QCOMPARE(got[0], WPARAM(1));
    QCOMPARE(got[1], WPARAM(2));
  }

  void messagesPostedBeforeThePumpExistsAreDelivered() {
    bool got = false;
    QtMessagePump* early = nullptr;
    DWORD gui = GetCurrentThreadId();
    PostThreadMessage(gui, WM_USER + 7, 0, 0);
    early = new QtMessagePump([&](const MSG& m) { got |= m.message == WM_USER + 7; });
    QTRY_VERIFY_WITH_TIMEOUT(got, 5000);
    delete early;
  }

  // Posting threads race the pump's destruction, round after round: none
  // may be inside the pump when it goes, and no message is lost: what a
  // destroyed pump left is drained by the next one. Half the posters post
  // until the pump has gone; the others post a few and then wait, with
  // nothing that orders their last post before the destruction but the
  // pump itself, so ThreadSanitizer sees a pump that does not keep the two
  // apart however the threads happen to run.
  void postsRacingThePumpsDestructionReachNoDeadPumpAndNoneIsLost() {
    const DWORD gui = GetCurrentThreadId();
    constexpr UINT kMsg = WM_USER + 8;
    constexpr int kThreads = 8;
    constexpr int kRounds = 100;
    constexpr long kFew = 4;
    std::atomic<long> posted{0};
    std::atomic<long> handled{0};
    auto count = [&handled](const MSG& m) {
      if (m.message == kMsg) ++handled;
    };
    for (int round = 0; round < kRounds; ++round) {
      auto* pump = new QtMessagePump(count);
      const long before = posted.load();
      std::atomic<bool> stop{false};
      std::vector<std::thread> posters;
      for (int i = 0; i < kThreads; ++i) {
        posters.emplace_back([&, i] {
          const bool few = i % 2 == 0;
          for (long n = 0; !stop.load(std::memory_order_relaxed); ++n) {
            if (few && n >= kFew) {
              std::this_thread::yield();
              continue;
            }
            if (PostThreadMessage(gui, kMsg, 0, 0)) posted.fetch_add(1, std::memory_order_relaxed);
          }
        });
      }
      QElapsedTimer waited;
      waited.start();
      while (posted.load(std::memory_order_relaxed) - before < kThreads * kFew && waited.elapsed() < 10000) {
        QCoreApplication::processEvents();
      }
      delete pump;
      stop.store(true, std::memory_order_relaxed);
      for (std::thread& t : posters) t.join();
    }
    QtMessagePump last(count);
    QTRY_COMPARE_WITH_TIMEOUT(handled.load(), posted.load(), 10000);
  }
};

QTEST_GUILESS_MAIN(QtPumpTest)
#include "QtPumpTest.moc"
