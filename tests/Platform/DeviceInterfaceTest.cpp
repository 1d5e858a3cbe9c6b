// The device-interface layer against the camera emulator.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "EmulatorProcess.h"
#include "Platform/DeviceInterface.h"
#include "Platform/Messages.h"
#include "Platform/Time.h"

using fotavi::test::EmulatorOptions;
using fotavi::test::EmulatorProcess;

namespace {

class DeviceInterfaceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fotavi::test::MakeTempDir("fotavi-devif");
    setenv("FOTAVI_DEVICE_ROOT", root_.c_str(), 1);
  }
  void TearDown() override {
    emulator_.reset();
    fotavi::test::RemoveTree(root_);
  }
  EmulatorProcess& StartEmulator(bool unplugged = false) {
    EmulatorOptions o;
    o.deviceRoot = root_;
    o.startUnplugged = unplugged;
    emulator_ = std::make_unique<EmulatorProcess>(o);
    EXPECT_TRUE(emulator_->Start());
    return *emulator_;
  }
  std::string PipePath() {
    auto set = CDeviceInfoSet::GetPresent(FOTAVI_DEVICE_CLASS_GUID);
    std::string path;
    if (!set || set->EnumMember(0, &path) != ERROR_SUCCESS) return {};
    return path + "/" + DEVICE_PIPE_SOCKET;
  }
  // A handle whose pipe is connected: one exchange has been made on it.
  std::unique_ptr<CDeviceHandle> OpenAfterAnExchange(uint16_t seq);
  std::string root_;
  std::unique_ptr<EmulatorProcess> emulator_;
};

// A 32-byte command packet: header {type 0, sequence, length 24} + command block.
std::vector<uint8_t> CommandPacket(uint16_t code, uint16_t seq) {
  std::vector<uint8_t> p(32, 0);
  p[2] = seq & 0xFF;
  p[3] = seq >> 8;
  p[4] = 24;
  p[8] = code & 0xFF;
  p[9] = code >> 8;
  return p;
}

// A handle whose device has gone: its status control fails as a removed
// device's does, and so does a command written with sequence `seq`.
void ExpectGone(CDeviceHandle& h, uint16_t seq) {
  uint32_t status = 0;
  DWORD n = 0;
  EXPECT_EQ(h.IoControl(IOCTL_FOTAVI_GET_STATUS, &status, 4, &n, 1000), DeviceIoResult::Failed);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
  auto cmd = CommandPacket(0x8101, seq);
  EXPECT_EQ(h.Write(cmd.data(), 32, &n, 1000), DeviceIoResult::Failed);
}

std::unique_ptr<CDeviceHandle> DeviceInterfaceTest::OpenAfterAnExchange(uint16_t seq) {
  auto h = CDeviceHandle::Open(PipePath());
  if (!h) return nullptr;
  auto cmd = CommandPacket(0x8101, seq);
  DWORD n = 0;
  std::vector<uint8_t> buf(65536);
  if (h->Write(cmd.data(), 32, &n, 1000) != DeviceIoResult::Ok ||
      h->Read(buf.data(), 65536, &n, 5000) != DeviceIoResult::Ok) {
    return nullptr;
  }
  return h;
}

TEST_F(DeviceInterfaceTest, NoCameraEnumeratesNothing) {
  auto set = CDeviceInfoSet::GetPresent(FOTAVI_DEVICE_CLASS_GUID);
  ASSERT_TRUE(set);
  std::string path;
  EXPECT_EQ(set->EnumMember(0, &path), ERROR_NO_MORE_ITEMS);
  EXPECT_EQ(CDeviceHandle::Open(root_ + "/nothing/FotaviZ5"), nullptr);
}

TEST_F(DeviceInterfaceTest, EnumeratesThePresentCamera) {
  StartEmulator();
  auto set = CDeviceInfoSet::GetPresent(FOTAVI_DEVICE_CLASS_GUID);
  ASSERT_TRUE(set);
  std::string path;
  ASSERT_EQ(set->EnumMember(0, &path), ERROR_SUCCESS);
  EXPECT_EQ(path, emulator_->DevicePath());
  EXPECT_EQ(set->EnumMember(1, &path), ERROR_NO_MORE_ITEMS);
}

TEST_F(DeviceInterfaceTest, CommandAndResponseOverThePipe) {
  StartEmulator();
  auto h = CDeviceHandle::Open(PipePath());
  ASSERT_TRUE(h);
  auto cmd = CommandPacket(0x8101, 5);  // card status
  DWORD n = 0;
  ASSERT_EQ(h->Write(cmd.data(), 32, &n, 1000), DeviceIoResult::Ok);
  EXPECT_EQ(n, 32u);
  std::vector<uint8_t> buf(65536);
  ASSERT_EQ(h->Read(buf.data(), 65536, &n, 5000), DeviceIoResult::Ok);
  EXPECT_EQ(n, 32u);
  EXPECT_EQ(buf[2] | (buf[3] << 8), 5);  // the response carries the request's sequence
}

TEST_F(DeviceInterfaceTest, ReadTimesOutWhenNothingComes) {
  StartEmulator();
  auto h = CDeviceHandle::Open(PipePath());
  ASSERT_TRUE(h);
  std::vector<uint8_t> buf(65536);
  DWORD n = 1;
  DWORD start = GetTickCount();
  EXPECT_EQ(h->Read(buf.data(), 65536, &n, 200), DeviceIoResult::Timeout);
  EXPECT_GE(GetTickCount() - start, 150u);
  EXPECT_EQ(n, 0u);
}

// The camera answers after the read gave up, because it ran out of time or
// was abandoned through Cancel(). That answer must not be the next read's
// packet: the next command's own response is.
TEST_F(DeviceInterfaceTest, AnswerAfterAnAbandonedReadIsNotReadLater) {
  struct Row {
    const char* how;
    DeviceIoResult result;  // of the abandoned read
    std::function<DeviceIoResult(CDeviceHandle&, std::vector<uint8_t>&)> abandon;
  };
  const std::vector<Row> rows = {
      {"timed out", DeviceIoResult::Timeout,
       [](CDeviceHandle& h, std::vector<uint8_t>& buf) {
         DWORD got = 0;
         return h.Read(buf.data(), 65536, &got, 200);
       }},
      {"cancelled", DeviceIoResult::Failed,
       [](CDeviceHandle& h, std::vector<uint8_t>& buf) {
         std::atomic<bool> done{false};
         DeviceIoResult r = DeviceIoResult::Ok;
         std::thread reader([&] {
           DWORD got = 0;
           r = h.Read(buf.data(), 65536, &got, 20000);
           done = true;
         });
         while (!done.load()) {  // until the read has started and been abandoned
           h.Cancel();
           Sleep(10);
         }
         reader.join();
         return r;
       }},
  };
  StartEmulator();
  for (const Row& row : rows) {
    ASSERT_TRUE(emulator_->Command("late 0x8101 600")) << row.how;
    auto h = CDeviceHandle::Open(PipePath());
    ASSERT_TRUE(h) << row.how;
    auto first = CommandPacket(0x8101, 5);
    DWORD n = 0;
    ASSERT_EQ(h->Write(first.data(), 32, &n, 1000), DeviceIoResult::Ok) << row.how;
    std::vector<uint8_t> buf(65536);
    EXPECT_EQ(row.abandon(*h, buf), row.result) << row.how;
    Sleep(700);  // the late answer has been sent by now
    auto second = CommandPacket(0x8101, 6);
    ASSERT_EQ(h->Write(second.data(), 32, &n, 1000), DeviceIoResult::Ok) << row.how;
    ASSERT_EQ(h->Read(buf.data(), 65536, &n, 5000), DeviceIoResult::Ok) << row.how;
    EXPECT_EQ(buf[2] | (buf[3] << 8), 6) << row.how << ": the packet read is the late answer to the first command";
  }
}

// The same for the control connection: a control that ran out of time never
// hands its late answer to the next control.
TEST_F(DeviceInterfaceTest, AnswerAfterAControlTimedOutIsNotTakenByTheNextControl) {
  StartEmulator();
  ASSERT_TRUE(emulator_->Command("late-control 0x222004 400"));
  auto h = CDeviceHandle::Open(PipePath());
  ASSERT_TRUE(h);
  char text[64] = {};
  DWORD n = 0;
  EXPECT_EQ(h->IoControl(IOCTL_FOTAVI_GET_DRIVER_LOG, text, sizeof text - 1, &n, 100), DeviceIoResult::Timeout);
  Sleep(600);  // the late driver text has been sent by now
  uint32_t status = 0;
  ASSERT_EQ(h->IoControl(IOCTL_FOTAVI_GET_STATUS, &status, 4, &n, 1000), DeviceIoResult::Ok);
  EXPECT_EQ(n, 4u);
  EXPECT_EQ(status, 1u) << "the status is the late driver text's first bytes";
  ASSERT_EQ(h->IoControl(IOCTL_FOTAVI_GET_DRIVER_LOG, text, sizeof text - 1, &n, 1000), DeviceIoResult::Ok);
  EXPECT_EQ(std::string(text), "FotaviZ5 camera emulator");
}

TEST_F(DeviceInterfaceTest, PacketLargerThanTheBufferFailsTheRead) {
  StartEmulator();
  auto h = CDeviceHandle::Open(PipePath());
  ASSERT_TRUE(h);
  auto cmd = CommandPacket(0x8101, 6);
  DWORD n = 0;
  ASSERT_EQ(h->Write(cmd.data(), 32, &n, 1000), DeviceIoResult::Ok);
  uint8_t small[16];
  EXPECT_EQ(h->Read(small, sizeof small, &n, 5000), DeviceIoResult::Failed);
}

TEST_F(DeviceInterfaceTest, ControlCodes) {
  StartEmulator();
  auto h = CDeviceHandle::Open(PipePath());
  ASSERT_TRUE(h);
  uint32_t status = 0;
  DWORD n = 0;
  ASSERT_EQ(h->IoControl(IOCTL_FOTAVI_GET_STATUS, &status, 4, &n, 1000), DeviceIoResult::Ok);
  EXPECT_EQ(n, 4u);
  EXPECT_NE(status, 0u);
  char text[64] = {};
  ASSERT_EQ(h->IoControl(IOCTL_FOTAVI_GET_DRIVER_LOG, text, sizeof text - 1, &n, 1000), DeviceIoResult::Ok);
  EXPECT_LE(n, sizeof text - 1);
  ASSERT_EQ(h->IoControl(IOCTL_FOTAVI_RESET, nullptr, 0, &n, 1000), DeviceIoResult::Ok);
  EXPECT_EQ(n, 0u);
}

// The camera's driver text lands in the caller's buffer, at most its size,
// and nothing past that size is written.
TEST_F(DeviceInterfaceTest, TheCamerasDriverTextLandsInTheBufferAndNothingPastIt) {
  StartEmulator();
  auto h = CDeviceHandle::Open(PipePath());
  ASSERT_TRUE(h);
  const std::string text = "FotaviZ5 camera emulator";  // the emulator's own
  struct Case {
    DWORD size;
    DWORD returned;
  };
  for (const Case c : {Case{64, DWORD(text.size() + 1)}, Case{DWORD(text.size() + 1), DWORD(text.size() + 1)},
                       Case{10, 10}, Case{1, 1}}) {
    SCOPED_TRACE("buffer of " + std::to_string(c.size) + " bytes");
    std::vector<char> buffer(c.size + 8, '#');
    DWORD n = 0;
    ASSERT_EQ(h->IoControl(IOCTL_FOTAVI_GET_DRIVER_LOG, buffer.data(), c.size, &n, 1000), DeviceIoResult::Ok);
    EXPECT_EQ(n, c.returned);
    EXPECT_EQ(std::string(buffer.data(), std::min<size_t>(n, text.size())), text.substr(0, n));
    EXPECT_EQ(std::string(buffer.data() + c.size, 8), std::string(8, '#'));
  }
}

// A driver of the test's own on a member folder: it answers every I/O
// control on its control socket with the reply it is given, however wrong.
class ScriptedDriver {
 public:
  explicit ScriptedDriver(const std::string& member) : member_(member) {
    mkdir(member.c_str(), 0700);
    pipe_ = Listen(member + "/" + DEVICE_PIPE_SOCKET);
    control_ = Listen(member + "/" + DEVICE_CONTROL_SOCKET);
  }
  ~ScriptedDriver() {
    if (server_.joinable()) server_.join();
    for (int fd : {pipe_, control_}) close(fd);
  }
  std::string PipePath() const { return member_ + "/" + DEVICE_PIPE_SOCKET; }
  // Answers the next `count` controls with {ok, returned} and `data`.
  void Answer(int count, uint32_t ok, uint32_t returned, const std::string& data) {
    server_ = std::thread([this, count, ok, returned, data] {
      int fd = accept(control_, nullptr, nullptr);
      if (fd < 0) return;
      std::vector<uint8_t> reply(8 + data.size());
      std::memcpy(reply.data(), &ok, 4);
      std::memcpy(reply.data() + 4, &returned, 4);
      std::memcpy(reply.data() + 8, data.data(), data.size());
      uint8_t request[8];
      for (int i = 0; i < count && recv(fd, request, sizeof request, 0) == 8; ++i)
        send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
      close(fd);
    });
  }

 private:
  static int Listen(const std::string& path) {
    int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.c_str(), std::min(path.size() + 1, sizeof addr.sun_path - 1));
    bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    listen(fd, 4);
    return fd;
  }
  std::string member_;
  int pipe_ = -1, control_ = -1;
  std::thread server_;
};

// Only the bytes the driver says it returned reach the caller, never more
// than the caller's buffer takes, and a failed control leaves the buffer as
// it was.
TEST_F(DeviceInterfaceTest, AControlReplyFillsOnlyWhatTheDriverReturnedAndNothingWhenItFailed) {
  struct Case {
    const char* name;
    uint32_t ok;
    uint32_t returned;
    std::string data;
    DeviceIoResult result;
    std::string seen;  // the caller's 16-byte buffer afterwards (of 24, 8 guard bytes)
  };
  const std::string untouched(16, '#');
  const Case cases[] = {
      {"exact", 1, 5, "hello", DeviceIoResult::Ok, "hello" + std::string(11, '#')},
      {"more data than returned", 1, 3, "hello", DeviceIoResult::Ok, "hel" + std::string(13, '#')},
      {"longer than the buffer", 1, 40, std::string(40, 'x'), DeviceIoResult::Ok, std::string(16, 'x')},
      {"failed with data", 0, 5, "hello", DeviceIoResult::Failed, untouched},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedDriver driver(root_ + "/member-" + std::to_string(&c - cases));
    driver.Answer(1, c.ok, c.returned, c.data);
    {
      auto h = CDeviceHandle::Open(driver.PipePath());
      ASSERT_TRUE(h);
      std::vector<char> buffer(24, '#');
      DWORD n = 99;
      EXPECT_EQ(h->IoControl(IOCTL_FOTAVI_GET_DRIVER_LOG, buffer.data(), 16, &n, 2000), c.result);
      EXPECT_EQ(std::string(buffer.data(), 16), c.seen);
      EXPECT_EQ(std::string(buffer.data() + 16, 8), std::string(8, '#'));
      if (c.result == DeviceIoResult::Ok) EXPECT_EQ(n, std::min<size_t>(c.seen.find('#'), 16));
    }
  }
}

TEST_F(DeviceInterfaceTest, PresenceQueryDoesNotTakeThePipe) {
  StartEmulator();
  auto query = CDeviceHandle::Open(PipePath());
  ASSERT_TRUE(query);
  uint32_t status = 0;
  DWORD n = 0;
  ASSERT_EQ(query->IoControl(IOCTL_FOTAVI_GET_STATUS, &status, 4, &n, 1000), DeviceIoResult::Ok);
  // A second handle still gets the camera's one pipe connection.
  auto user = CDeviceHandle::Open(PipePath());
  ASSERT_TRUE(user);
  auto cmd = CommandPacket(0x8101, 7);
  ASSERT_EQ(user->Write(cmd.data(), 32, &n, 1000), DeviceIoResult::Ok);
  std::vector<uint8_t> buf(65536);
  EXPECT_EQ(user->Read(buf.data(), 65536, &n, 5000), DeviceIoResult::Ok);
}

TEST_F(DeviceInterfaceTest, UnplugFailsTransfersOnTheOldConnection) {
  StartEmulator();
  auto h = OpenAfterAnExchange(8);
  ASSERT_TRUE(h);
  ASSERT_TRUE(emulator_->Unplug());
  std::vector<uint8_t> buf(65536);
  DWORD n = 0;
  EXPECT_EQ(h->Read(buf.data(), 65536, &n, 2000), DeviceIoResult::Failed);
  EXPECT_EQ(PipePath(), "");
}

TEST_F(DeviceInterfaceTest, CancelEndsAWaitingRead) {
  StartEmulator();
  auto h = CDeviceHandle::Open(PipePath());
  ASSERT_TRUE(h);
  std::vector<uint8_t> buf(65536);
  DWORD n = 0;
  std::thread canceller([&] {
    Sleep(50);
    h->Cancel();
  });
  DWORD start = GetTickCount();
  EXPECT_EQ(h->Read(buf.data(), 65536, &n, 5000), DeviceIoResult::Failed);
  EXPECT_LT(GetTickCount() - start, 4000u);
  canceller.join();
}

// The member folder goes while its camera keeps its sockets open: the member
// is removed, and so is an open handle's device. Status, reads and writes
// fail, and a read that was waiting when the folder went ends failed instead
// of waiting for its time limit (the sockets close much later).
TEST_F(DeviceInterfaceTest, TransfersFailOnceTheMemberFolderHasGone) {
  StartEmulator();
  auto h = OpenAfterAnExchange(10);
  ASSERT_TRUE(h);
  // A control connection of the test's own, to show that the camera still
  // answers on its sockets while the handle fails.
  const std::string controlPath = emulator_->DevicePath() + "/" + DEVICE_CONTROL_SOCKET;
  int control = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  ASSERT_GE(control, 0);
  struct CloseOnExit {
    int fd;
    ~CloseOnExit() { close(fd); }
  } closeControl{control};
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  ASSERT_LT(controlPath.size(), sizeof addr.sun_path);
  std::memcpy(addr.sun_path, controlPath.c_str(), controlPath.size() + 1);
  ASSERT_EQ(connect(control, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  timeval limit{5, 0};
  setsockopt(control, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  std::vector<uint8_t> buf(65536);
  DeviceIoResult waiting = DeviceIoResult::Ok;
  std::thread reader([&] {
    DWORD got = 0;
    waiting = h->Read(buf.data(), 65536, &got, 8000);
  });
  Sleep(200);  // the read waits
  const bool unplugged = emulator_->Command("unplug folder 30000");
  reader.join();  // before any way out: the thread uses the handle
  ASSERT_TRUE(unplugged);
  EXPECT_EQ(waiting, DeviceIoResult::Failed) << "the waiting read ran to its time limit";
  ExpectGone(*h, 11);
  DWORD n = 0;
  EXPECT_EQ(h->Read(buf.data(), 65536, &n, 1000), DeviceIoResult::Failed);
  EXPECT_EQ(PipePath(), "");
  const uint32_t query[2] = {IOCTL_FOTAVI_GET_STATUS, 4};
  ASSERT_EQ(send(control, query, sizeof query, MSG_NOSIGNAL), static_cast<ssize_t>(sizeof query));
  uint32_t reply[3] = {};
  EXPECT_EQ(recv(control, reply, sizeof reply, 0), static_cast<ssize_t>(sizeof reply)) << "the camera still answers";
  EXPECT_EQ(reply[0], 1u);
}

// A member folder moved away keeps its links (and a new folder may take its
// name): the handle still sees that its folder has gone, at the latest
// kRemovalCheckMs after the move, though the camera goes on answering.
TEST_F(DeviceInterfaceTest, TransfersFailOnceTheMemberFolderHasBeenMovedAway) {
  StartEmulator();
  auto h = OpenAfterAnExchange(12);
  ASSERT_TRUE(h);
  const std::string member = emulator_->DevicePath();
  const std::string away = member + ".away";
  ASSERT_EQ(rename(member.c_str(), away.c_str()), 0);
  struct PutBack {
    std::string from, to;
    ~PutBack() {
      rmdir(to.c_str());
      rename(from.c_str(), to.c_str());
    }
  } putBack{away, member};
  ASSERT_EQ(mkdir(member.c_str(), 0700), 0);  // another folder under the old name
  Sleep(CDeviceHandle::kRemovalCheckMs + 50);
  ExpectGone(*h, 13);
}

// A member folder moved away with another camera's folder put under its
// name at once: a handle that has not connected its pipe yet sends nothing
// to the newcomer, however soon after its last look at the name.
TEST_F(DeviceInterfaceTest, HandleNeverConnectsToTheFolderThatTookItsName) {
  StartEmulator();
  auto h = CDeviceHandle::Open(PipePath());  // the pipe is connected at the first transfer
  ASSERT_TRUE(h);
  const std::string member = emulator_->DevicePath();
  const std::string away = member + ".away";
  ASSERT_EQ(rename(member.c_str(), away.c_str()), 0);
  const std::string newcomer = member + "/" + DEVICE_PIPE_SOCKET;
  struct PutBack {
    std::string from, to, socket;
    int fd = -1;
    ~PutBack() {
      if (fd >= 0) close(fd);
      unlink(socket.c_str());
      rmdir(to.c_str());
      rename(from.c_str(), to.c_str());
    }
  } putBack{away, member, newcomer};
  ASSERT_EQ(mkdir(member.c_str(), 0700), 0);
  putBack.fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  ASSERT_GE(putBack.fd, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  ASSERT_LT(newcomer.size(), sizeof addr.sun_path);
  std::memcpy(addr.sun_path, newcomer.c_str(), newcomer.size() + 1);
  ASSERT_EQ(bind(putBack.fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(listen(putBack.fd, 4), 0);
  auto cmd = CommandPacket(0x8101, 14);
  DWORD n = 0;
  EXPECT_EQ(h->Write(cmd.data(), 32, &n, 1000), DeviceIoResult::Failed);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
  // A connection the handle made and closed at once may wait in the
  // newcomer's queue; nothing may have been sent on it.
  const int taken = accept(putBack.fd, nullptr, nullptr);
  if (taken >= 0) {
    uint8_t got[64];
    EXPECT_EQ(recv(taken, got, sizeof got, MSG_DONTWAIT), 0) << "the command went to the other camera";
    close(taken);
  }
}

// Waits on the calling thread's queue for a device-change broadcast.
bool WaitForDeviceChange(DWORD timeoutMs) {
  DWORD start = GetTickCount();
  MSG m;
  while (GetTickCount() - start < timeoutMs) {
    if (GetMessageTimeout(&m, 50) == WAIT_OBJECT_0 && m.message == WM_DEVICECHANGE) return true;
  }
  return false;
}

TEST_F(DeviceInterfaceTest, DeviceChangeIsBroadcastOnUnplugAndReplug) {
  StartEmulator(/*unplugged=*/true);
  HWND top = CreateWindowTarget([](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; }, "watch", WTF_TOPLEVEL);
  ASSERT_NE(top, nullptr);
  Sleep(400);  // the watcher picks up this test's device root
  DrainMessages();
  ASSERT_TRUE(emulator_->Replug());
  EXPECT_TRUE(WaitForDeviceChange(3000));
  DrainMessages();
  ASSERT_TRUE(emulator_->Unplug());
  EXPECT_TRUE(WaitForDeviceChange(3000));
  DestroyWindow(top);
}

}  // namespace

namespace {

TEST_F(DeviceInterfaceTest, CancelWithNothingWaitingDoesNotFailTheNextTransfer) {
  StartEmulator();
  auto h = CDeviceHandle::Open(PipePath());
  ASSERT_TRUE(h);
  h->Cancel();
  auto cmd = CommandPacket(0x8101, 9);
  DWORD n = 0;
  ASSERT_EQ(h->Write(cmd.data(), 32, &n, 1000), DeviceIoResult::Ok);
  std::vector<uint8_t> buf(65536);
  EXPECT_EQ(h->Read(buf.data(), 65536, &n, 5000), DeviceIoResult::Ok);
}

// A device root or class folder that another user controls is never
// enumerated: that user's camera could stand in for the user's own.
struct RootCase {
  const char* name;
  bool needsRoot;
  std::function<std::string(const std::string& root, const std::string& classFolder)> spoil;  // the root to use
};

void PrintTo(const RootCase& c, std::ostream* os) { *os << c.name; }

class DeviceRootTrustTest : public DeviceInterfaceTest, public ::testing::WithParamInterface<RootCase> {};

TEST_P(DeviceRootTrustTest, FolderOthersControlIsRefused) {
  if (GetParam().needsRoot && geteuid() != 0) GTEST_SKIP() << "needs root to hand a folder to another user";
  StartEmulator();
  ASSERT_NE(PipePath(), "");
  const std::string classFolder = root_ + "/" + FOTAVI_DEVICE_CLASS_GUID;
  const std::string useRoot = GetParam().spoil(root_, classFolder);
  setenv("FOTAVI_DEVICE_ROOT", useRoot.c_str(), 1);
  std::string refusal;
  SetLastError(0);
  EXPECT_EQ(CDeviceInfoSet::GetPresent(FOTAVI_DEVICE_CLASS_GUID, &refusal), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_NE(refusal.find("refused"), std::string::npos) << refusal;
  EXPECT_EQ(DeviceRootRefusal(FOTAVI_DEVICE_CLASS_GUID), refusal);
  setenv("FOTAVI_DEVICE_ROOT", root_.c_str(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Folders, DeviceRootTrustTest,
    ::testing::Values(
        RootCase{"RootOfAnotherUser", true,
                 [](const std::string& root, const std::string&) {
                   EXPECT_EQ(chown(root.c_str(), 65534, 65534), 0);
                   return root;
                 }},
        RootCase{"RootWritableByAll", false,
                 [](const std::string& root, const std::string&) {
                   EXPECT_EQ(chmod(root.c_str(), 0777), 0);
                   return root;
                 }},
        RootCase{"RootIsALink", false,
                 [](const std::string& root, const std::string&) {
                   // Inside the root, so that it goes with the test's folder.
                   const std::string link = root + "/root-link";
                   EXPECT_EQ(symlink(root.c_str(), link.c_str()), 0);
                   return link;
                 }},
        RootCase{"ClassFolderOfAnotherUser", true,
                 [](const std::string& root, const std::string& classFolder) {
                   EXPECT_EQ(chown(classFolder.c_str(), 65534, 65534), 0);
                   return root;
                 }}),
    [](const ::testing::TestParamInfo<RootCase>& info) { return std::string(info.param.name); });

// A camera that died leaves its folder and sockets behind, but nobody answers
// on them: it is not present, and the watcher tells that it went.
TEST_F(DeviceInterfaceTest, CameraThatDiedIsNotPresentAndItsEndIsBroadcast) {
  // The camera arrives while the watcher runs, so the watcher has connected
  // to it when the arrival is broadcast (a fixed pause was too short on a
  // loaded machine). Should the watcher start only after the arrival, its
  // first scan connects, and the wait below leaves it ample time for that.
  StartEmulator(/*unplugged=*/true);
  HWND top = CreateWindowTarget([](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; }, "watch", WTF_TOPLEVEL);
  ASSERT_NE(top, nullptr);
  ASSERT_TRUE(emulator_->Replug());
  WaitForDeviceChange(3000);
  const std::string pipe = PipePath();
  ASSERT_NE(pipe, "");
  DrainMessages();
  ASSERT_EQ(kill(emulator_->pid(), SIGKILL), 0);
  EXPECT_TRUE(WaitForDeviceChange(3000));
  struct stat st;
  ASSERT_EQ(stat(pipe.c_str(), &st), 0) << "the folder stays behind";
  auto set = CDeviceInfoSet::GetPresent(FOTAVI_DEVICE_CLASS_GUID);
  ASSERT_TRUE(set);
  std::string path;
  EXPECT_EQ(set->EnumMember(0, &path), ERROR_NO_MORE_ITEMS);
  DestroyWindow(top);
  emulator_.reset();
}

}  // namespace

namespace {

// A camera process that hangs with its sockets open accepts no connection
// any more: once its queue of pending connections is full, a blocking
// connect would wait for ever. Enumeration and opening must give up in time
// however often they are tried (the device watcher and the presence window
// try again at every device change).
TEST_F(DeviceInterfaceTest, AHungCameraNeverBlocksEnumerationOrOpening) {
  StartEmulator();
  const std::string pipe = PipePath();
  ASSERT_FALSE(pipe.empty());
  const pid_t camera = emulator_->pid();
  ASSERT_EQ(kill(camera, SIGSTOP), 0);
  std::atomic<bool> finished{false};
  std::atomic<int> present{0};
  std::atomic<int> opened{0};
  std::thread worker([&] {
    // More probes than the camera's queue of pending connections holds.
    for (int i = 0; i < 40; ++i) {
      auto set = CDeviceInfoSet::GetPresent(FOTAVI_DEVICE_CLASS_GUID);
      if (set && set->size() == 1) ++present;
    }
    for (int i = 0; i < 3; ++i) opened += CDeviceHandle::Open(pipe) != nullptr;
    finished = true;
  });
  const DWORD start = GetTickCount();
  while (!finished.load() && GetTickCount() - start < 90000) Sleep(20);
  const bool ended = finished.load();
  if (!ended) kill(camera, SIGKILL);  // wakes a connect that blocks
  kill(camera, SIGCONT);
  worker.join();
  EXPECT_TRUE(ended) << "a connect to the hung camera blocked";
  EXPECT_EQ(present.load(), 40) << "a hung camera is still there: its sockets are listening";
  EXPECT_EQ(opened.load(), 0) << "a camera that takes no connection cannot be opened";
}

}  // namespace
