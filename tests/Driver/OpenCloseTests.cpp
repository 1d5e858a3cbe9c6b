// Open, close and the checks every operation makes before it runs.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>
#include <thread>

#include "DriverFixture.h"

extern char** environ;

namespace fotavi::test {
namespace {

class OpenCloseTest : public DriverTest {};

TEST_F(OpenCloseTest, OpensAndClosesOnce) {
  ASSERT_TRUE(StartEmulator());
  ASSERT_TRUE(CreateInterface());
  ASSERT_TRUE(Open());
  EXPECT_FALSE(LogLines({"\"code\":\"0x222000\""}).empty()) << "the open resets the camera";
  DWORD err = 1;
  EXPECT_TRUE(device_->bClose(&err));
  EXPECT_EQ(err, 0u);
  EXPECT_FALSE(device_->bClose(&err));
  EXPECT_EQ(err, ERR_FOTAVI_NOOPEN);
}

TEST_F(OpenCloseTest, SecondOpenAnswersAlreadyOpenAndChangesNothing) {
  ASSERT_TRUE(StartEmulator());
  ASSERT_TRUE(CreateInterface());
  ASSERT_TRUE(Open());
  DWORD err = 0;
  EXPECT_FALSE(device_->bOpen(client_, &err));
  EXPECT_EQ(err, ERR_FOTAVI_ALREADYOPEN);
  DEVICE_CMD cmd = FotaviMakeCommand(FOTAVI_CMD_SD_STATUS);
  HGLOBAL h = nullptr;
  DWORD size = 0;
  EXPECT_TRUE(device_->bRequest(&cmd, &h, &size, &err)) << std::hex << err;
}

TEST_F(OpenCloseTest, OpenWithoutCameraStopsEverythingAndReleasesTheOpenCheck) {
  ASSERT_TRUE(CreateInterface());
  DWORD err = 0;
  EXPECT_FALSE(device_->bOpen(client_, &err));
  EXPECT_EQ(err, ERR_FOTAVI_NODEVICE);
  CNamedMutex::Outcome outcome;
  auto probe = CNamedMutex::Create("Global\\Fotavi Open Check Mutex", false, &outcome);
  EXPECT_EQ(outcome, CNamedMutex::Outcome::Created) << "the open-check mutex is still held";
  probe.reset();
  ASSERT_TRUE(StartEmulator());
  EXPECT_TRUE(Open());
}

// Another process that holds the camera open through the library.
class Holder {
 public:
  bool Start() {
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, in[0], 0);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    char* argv[] = {const_cast<char*>(FOTAVI_DRIVER_HOLDER), nullptr};
    int rc = posix_spawn(&pid_, FOTAVI_DRIVER_HOLDER, &fa, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&fa);
    close(in[0]);
    close(out[1]);
    toChild_ = in[1];
    fromChild_ = fdopen(out[0], "r");
    return rc == 0;
  }
  std::string Line() {
    char buf[128] = {};
    if (!fgets(buf, sizeof buf, fromChild_)) return {};
    return buf;
  }
  void Finish() {
    if (toChild_ >= 0) close(toChild_);
    toChild_ = -1;
    if (pid_ > 0) waitpid(pid_, nullptr, 0);
    pid_ = -1;
    if (fromChild_) fclose(fromChild_);
    fromChild_ = nullptr;
  }
  ~Holder() { Finish(); }

 private:
  pid_t pid_ = -1;
  int toChild_ = -1;
  FILE* fromChild_ = nullptr;
};

TEST_F(OpenCloseTest, OpenWhileAnotherProcessHoldsTheCameraAnswersAlreadyUse) {
  ASSERT_TRUE(StartEmulator());
  Holder holder;
  ASSERT_TRUE(holder.Start());
  EXPECT_EQ(holder.Line(), "open 1 00000000\n");
  ASSERT_TRUE(CreateInterface());
  DWORD err = 0;
  EXPECT_FALSE(device_->bOpen(client_, &err));
  EXPECT_EQ(err, ERR_FOTAVI_ALREADYUSE);
  holder.Finish();
  EXPECT_TRUE(Open()) << "the camera is free again once the other process closed it";
}

// Each operation from slot 5 on, called before bOpen.
struct ClosedCall {
  const char* name;
  std::function<BOOL(CDeviceInterface*, HWND, DWORD*)> call;
};

class OperationBeforeOpenTest : public DriverTest, public ::testing::WithParamInterface<ClosedCall> {};

TEST_P(OperationBeforeOpenTest, FailsWithNoOpen) {
  ASSERT_TRUE(CreateInterface());
  DWORD err = 0;
  EXPECT_FALSE(GetParam().call(device_, client_, &err));
  EXPECT_EQ(err, ERR_FOTAVI_NOOPEN);
}

BYTE g_buffer[64];
DEVICE_CMD g_cmd = FotaviMakeCommand(FOTAVI_CMD_GET_JPEG);

INSTANTIATE_TEST_SUITE_P(
    Slots, OperationBeforeOpenTest,
    ::testing::Values(
        ClosedCall{"bClose", [](CDeviceInterface* d, HWND, DWORD* e) { return d->bClose(e); }},
        ClosedCall{"bIoctlAsync",
                   [](CDeviceInterface* d, HWND w, DWORD* e) {
                     WORD s;
                     return d->bIoctlAsync(w, IOCTL_FOTAVI_RESET, nullptr, 0, &s, e);
                   }},
        ClosedCall{"bIoctl",
                   [](CDeviceInterface* d, HWND, DWORD* e) {
                     WORD s;
                     DWORD n;
                     return d->bIoctl(IOCTL_FOTAVI_RESET, nullptr, 0, &n, &s, e);
                   }},
        ClosedCall{"bReadAsync",
                   [](CDeviceInterface* d, HWND w, DWORD* e) {
                     WORD s;
                     return d->bReadAsync(w, g_buffer, sizeof g_buffer, &s, e);
                   }},
        ClosedCall{"bRead",
                   [](CDeviceInterface* d, HWND, DWORD* e) {
                     WORD s = 1;
                     DWORD n;
                     return d->bRead(g_buffer, sizeof g_buffer, &n, &s, e);
                   }},
        ClosedCall{"bWriteAsync",
                   [](CDeviceInterface* d, HWND w, DWORD* e) {
                     WORD s;
                     return d->bWriteAsync(w, g_buffer, 32, &s, e);
                   }},
        ClosedCall{"bWrite",
                   [](CDeviceInterface* d, HWND, DWORD* e) {
                     WORD s = 0;
                     DWORD n;
                     return d->bWrite(g_buffer, 32, &n, &s, e);
                   }},
        ClosedCall{"bRequestAsyncObject",
                   [](CDeviceInterface* d, HWND w, DWORD* e) {
                     CRequestParam p;
                     p.m_pCommand = new DEVICE_CMD(g_cmd);
                     WORD s;
                     return d->bRequestAsync(w, &p, &s, e);
                   }},
        ClosedCall{"bRequestAsyncBlock",
                   [](CDeviceInterface* d, HWND w, DWORD* e) {
                     WORD s;
                     return d->bRequestAsync(w, &g_cmd, &s, e);
                   }},
        ClosedCall{"bRequestObject",
                   [](CDeviceInterface* d, HWND, DWORD* e) {
                     CRequestParam p;
                     p.m_pCommand = new DEVICE_CMD(g_cmd);
                     return d->bRequest(&p, e);
                   }},
        ClosedCall{"bRequestBlock",
                   [](CDeviceInterface* d, HWND, DWORD* e) {
                     HGLOBAL h;
                     DWORD n;
                     return d->bRequest(&g_cmd, &h, &n, e);
                   }}),
    [](const ::testing::TestParamInfo<ClosedCall>& info) { return std::string(info.param.name); });

class OpenedTest : public OpenedDriverTest {};

TEST_F(OpenedTest, RequestWithoutDataPointerFailsAndSendsNothing) {
  DEVICE_CMD cmd = FotaviMakeCommand(FOTAVI_CMD_SD_STATUS);
  DWORD size = 0, err = 0;
  EXPECT_FALSE(device_->bRequest(&cmd, nullptr, &size, &err));
  EXPECT_EQ(err, ERR_FOTAVI_FUNCPARAM);
  EXPECT_TRUE(LogLines({"\"dir\":\"in\""}).empty());
}

TEST_F(OpenedTest, UnknownCommandFailsAndIsFollowedByTheReset) {
  size_t resetsBefore = LogLines({"\"code\":\"0x222000\""}).size();
  DEVICE_CMD cmd = FotaviMakeCommand(0x1234);
  HGLOBAL h = nullptr;
  DWORD size = 0, err = 0;
  EXPECT_FALSE(device_->bRequest(&cmd, &h, &size, &err));
  EXPECT_EQ(err, ERR_FOTAVI_REQUEST);
  EXPECT_EQ(h, nullptr);
  EXPECT_TRUE(LogLines({"\"cmd\":\"0x1234\""}).empty()) << "an unknown command never reaches the camera";
  EXPECT_EQ(LogLines({"\"code\":\"0x222000\""}).size(), resetsBefore + 1);
}

// The pipe operations themselves: a command packet written with bWrite and
// its response read with bRead under the same sequence.
TEST_F(OpenedTest, WriteKeepsAGivenSequenceAndMakesOneForZero) {
  BYTE packet[32] = {};
  packet[4] = 24;
  packet[8] = 0x01;  // key 0x201
  packet[9] = 0x02;
  WORD seq = 7;
  DWORD n = 0, err = 0;
  ASSERT_TRUE(device_->bWrite(packet, sizeof packet, &n, &seq, &err));
  EXPECT_EQ(seq, 7);
  EXPECT_EQ(n, 32u);
  BYTE response[32] = {};
  ASSERT_TRUE(device_->bRead(response, sizeof response, &n, &seq, &err)) << std::hex << err;
  EXPECT_EQ(n, 32u);
  EXPECT_EQ(response[2], 7) << "the response carries the request's sequence";

  WORD fresh = 0;
  ASSERT_TRUE(device_->bWrite(packet, sizeof packet, &n, &fresh, &err));
  EXPECT_NE(fresh, 0);
  EXPECT_EQ(LogLines({"\"dir\":\"in\"", "\"seq\":" + std::to_string(fresh)}).size(), 1u)
      << "the new sequence is written into the packet";
  ASSERT_TRUE(device_->bRead(response, sizeof response, &n, &fresh, &err));
}

TEST_F(OpenedTest, PacketOfAnotherSequenceFailsTheRead) {
  BYTE packet[32] = {};
  packet[4] = 24;
  packet[8] = 0x01;
  packet[9] = 0x02;
  WORD seq = 9;
  DWORD n = 0, err = 0;
  ASSERT_TRUE(device_->bWrite(packet, sizeof packet, &n, &seq, &err));
  BYTE response[32];
  WORD other = 8;
  EXPECT_FALSE(device_->bRead(response, sizeof response, &n, &other, &err));
  EXPECT_EQ(err, ERR_FOTAVI_READSEQ);
}

TEST_F(OpenedTest, ReadWithNothingComingTimesOut) {
  BYTE response[32];
  WORD seq = 3;
  DWORD n = 0, err = 0;
  DWORD start = GetTickCount();
  EXPECT_FALSE(device_->bRead(response, sizeof response, &n, &seq, &err));
  EXPECT_EQ(err, ERR_FOTAVI_READTIMEOUT);
  EXPECT_GE(GetTickCount() - start, kTestTransferMs - 50);
}

// Sequence 0 is reserved: a packet with sequence 0 belongs to whichever read
// performs it, and a write given 0 makes a new sequence. A counter that hands
// out 0 after 65535 makes that request's packets carry another sequence than
// its reads accept.
class SequenceWrapTest : public OpenedDriverTest {
 protected:
  void SetUp() override {
    logLevel_ = 0;  // 65535 operations: keep them cheap
    OpenedDriverTest::SetUp();
    // The device watcher announces this test's new device root with one
    // device change, whose status query takes a sequence number: let it pass
    // before counting.
    PumpFor(600);
  }
};

TEST_F(SequenceWrapTest, RequestAfterTheCounterWrapsGetsANonZeroSequenceAndSucceeds) {
  DWORD status = 0, n = 0, err = 0;
  WORD seq = 0;
  do {
    ASSERT_TRUE(device_->bIoctl(IOCTL_FOTAVI_GET_STATUS, &status, sizeof status, &n, &seq, &err)) << std::hex << err;
  } while (seq != 0xFFFF);
  DEVICE_CMD cmd = FotaviMakeCommand(FOTAVI_CMD_SD_STATUS);
  WORD requestSeq = 0;
  ASSERT_TRUE(device_->bRequestAsync(client_, &cmd, &requestSeq, &err));
  EXPECT_NE(requestSeq, 0);
  ASSERT_TRUE(PumpUntil([&] { return ReceivedOf(WM_FOTAVI_REQUEST).size() == 1; }));
  const Received r = ReceivedOf(WM_FOTAVI_REQUEST)[0];
  auto* rsp = reinterpret_cast<DEVICE_RSP*>(r.lParam);
  ASSERT_NE(rsp, nullptr);
  EXPECT_TRUE(rsp->bResult) << std::hex << rsp->dwError;
  EXPECT_EQ(rsp->wSequence, requestSeq);
  HandBack(r);
  ASSERT_TRUE(device_->bIoctl(IOCTL_FOTAVI_GET_STATUS, &status, sizeof status, &n, &seq, &err));
  EXPECT_EQ(seq, static_cast<WORD>(requestSeq + 1)) << "the counter goes on after the skipped 0";
}

}  // namespace
}  // namespace fotavi::test

namespace fotavi::test {
namespace {

// Open and close again and again while two other threads send requests. A
// request that reaches the library while the open runs must fail with the
// not-open code or wait for the open, and one that meets the close must be
// answered: nothing may block the open, the close or a caller. A hang ends
// the program through the watchdog, naming the cycle.
TEST_F(OpenCloseTest, OpenAndCloseWhileOtherThreadsRequestNeverHang) {
  ASSERT_TRUE(StartEmulator());
  ASSERT_TRUE(CreateInterface());
  constexpr int kCycles = 30;
  std::atomic<int> cycle{0};
  std::atomic<bool> finished{false};
  std::thread watchdog([&] {
    const DWORD start = GetTickCount();
    while (!finished.load()) {
      if (GetTickCount() - start > 120000) {
        std::fprintf(stderr, "hung in cycle %d of the open/close loop\n", cycle.load());
        std::fflush(stderr);
        std::_Exit(1);
      }
      Sleep(50);
    }
  });
  std::atomic<bool> stop{false};
  std::mutex errorsLock;
  std::set<DWORD> errors;
  std::atomic<int> answered{0};
  auto requester = [&] {
    while (!stop.load()) {
      DEVICE_CMD cmd = FotaviMakeCommand(FOTAVI_CMD_SD_STATUS);
      HGLOBAL h = nullptr;
      DWORD size = 0, err = 0;
      if (!device_->bRequest(&cmd, &h, &size, &err)) {
        std::lock_guard<std::mutex> lock(errorsLock);
        errors.insert(err);
      }
      if (h) GlobalFree(h);
      ++answered;
    }
  };
  std::thread a(requester), b(requester);
  int opened = 0;
  for (int i = 0; i < kCycles; ++i) {
    cycle = i + 1;
    DWORD err = 0;
    if (device_->bOpen(client_, &err)) ++opened;
    EXPECT_EQ(err, 0u) << "cycle " << i + 1;
    Sleep(5);
    EXPECT_TRUE(device_->bClose(&err)) << "cycle " << i + 1 << " " << std::hex << err;
  }
  stop = true;
  a.join();
  b.join();
  finished = true;
  watchdog.join();
  EXPECT_EQ(opened, kCycles);
  EXPECT_GT(answered.load(), 0);
  for (DWORD e : errors) EXPECT_EQ(e, ERR_FOTAVI_NOOPEN) << std::hex << e;
}

}  // namespace
}  // namespace fotavi::test

namespace fotavi::test {
namespace {

// An open made on another thread while a close runs must wait for that close
// and then succeed: the close is not finished until the open-check mutex is
// released, so an open that slips in between finds the camera "in use" by
// its own process. Each round the other thread tries to open in a tight loop
// from before the close starts.
TEST_F(OpenCloseTest, OpenOnAnotherThreadDuringACloseWaitsForItAndSucceeds) {
  ASSERT_TRUE(StartEmulator());
  ASSERT_TRUE(CreateInterface());
  for (int round = 1; round <= 5; ++round) {
    DWORD err = 0;
    ASSERT_TRUE(device_->bOpen(client_, &err)) << "round " << round << " " << std::hex << err;
    std::atomic<bool> trying{false};
    DWORD opener = 0;
    bool opened = false;
    std::thread other([&] {
      const DWORD start = GetTickCount();
      trying = true;
      while (GetTickCount() - start < 20000) {
        DWORD e = 0;
        if (device_->bOpen(client_, &e)) {
          opened = true;
          return;
        }
        if (e != ERR_FOTAVI_ALREADYOPEN) {
          opener = e;
          return;
        }
      }
    });
    while (!trying.load()) Sleep(1);
    Sleep(20);
    EXPECT_TRUE(device_->bClose(&err)) << "round " << round << " " << std::hex << err;
    other.join();
    EXPECT_TRUE(opened) << "round " << round << ": the open on the other thread failed with " << std::hex << opener;
    if (opened) EXPECT_TRUE(device_->bClose(&err)) << "round " << round;
  }
}

}  // namespace
}  // namespace fotavi::test
