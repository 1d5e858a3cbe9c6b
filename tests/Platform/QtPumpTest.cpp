// The platform queue of a Qt GUI thread is drained inside Qt's event loop.
#include <QCoreApplication>
#include <QTimer>
#include <QtTest>

#include <atomic>
#include <thread>

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
};

QTEST_GUILESS_MAIN(QtPumpTest)
#include "QtPumpTest.moc"
