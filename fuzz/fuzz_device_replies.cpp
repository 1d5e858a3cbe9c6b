// The device library's reply handling, fed by a camera whose replies come
// from the input. An in-process camera serves the SEQPACKET sockets of the
// device contract under a private device root; the library is loaded by path
// and driven through its interface as the programs drive it.
//
// Input: byte 0 chooses the command, byte 1 holds flags (bit 0: replies keep
// the sequence number they carry; bits 1-7: bytes of data a write sends), then
// the camera's packets as {u16 length, bytes}. The camera sends them all once
// the host's first packet arrives, then an empty packet, so every exchange
// ends without waiting for a time limit.
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Common/Jpeg.h"
#include "FotaviZ5.h"
#include "FuzzFile.h"
#include "Platform/Platform.h"

namespace {

using PFN_SETTIMELIMITS = void (*)(DWORD, DWORD, DWORD, DWORD);

constexpr WORD kCommands[] = {FOTAVI_CMD_GET_JPEG,      FOTAVI_CMD_SD_STATUS,    FOTAVI_CMD_SD_ROOTLIST,
                              FOTAVI_CMD_SD_READFILE,   FOTAVI_CMD_SD_FOLDERLIST, FOTAVI_CMD_SD_READPLAYLIST,
                              FOTAVI_CMD_SD_WRITEFILE,  FOTAVI_CMD_SD_DELETE,    FOTAVI_CMD_SD_MKDIR,
                              FOTAVI_CMD_SD_WRITEPLAYLIST, FOTAVI_CMD_SD_END,    FOTAVI_CMD_KEY_FIRST};

int Listen(const std::string& path) {
  int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (fd < 0 || path.size() >= sizeof addr.sun_path) std::abort();
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 16) != 0) std::abort();
  return fd;
}

// The camera: one pipe connection at a time, any number of control ones.
class FuzzCamera {
 public:
  void Start(const std::string& member) {
    const std::string temp = member + ".new";
    if (mkdir(temp.c_str(), 0700) != 0) std::abort();
    pipeListen_ = Listen(temp + "/" + DEVICE_PIPE_SOCKET);
    controlListen_ = Listen(temp + "/" + DEVICE_CONTROL_SOCKET);
    if (rename(temp.c_str(), member.c_str()) != 0) std::abort();
    std::thread([this] { Run(); }).detach();
  }
  void SetReplies(const uint8_t* data, size_t size, bool keepSequence) {
    std::lock_guard<std::mutex> lock(lock_);
    replies_.assign(data, data + size);
    keepSequence_ = keepSequence;
  }

 private:
  void Run() {
    for (;;) {
      std::vector<pollfd> fds = {{pipeListen_, POLLIN, 0}, {controlListen_, POLLIN, 0}};
      if (pipe_ >= 0) fds.push_back({pipe_, POLLIN, 0});
      for (int c : controls_) fds.push_back({c, POLLIN, 0});
      if (poll(fds.data(), fds.size(), -1) < 0) continue;
      if (fds[0].revents & POLLIN) {
        int fd = accept4(pipeListen_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd >= 0) {
          if (pipe_ >= 0) close(pipe_);
          pipe_ = fd;
          sent_ = false;
        }
      }
      if (fds[1].revents & POLLIN) {
        int fd = accept4(controlListen_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd >= 0) controls_.push_back(fd);
      }
      for (size_t i = 2; i < fds.size(); ++i) {
        if (!fds[i].revents) continue;
        if (fds[i].fd == pipe_) OnPipe();
        else OnControl(fds[i].fd);
      }
    }
  }
  void OnPipe() {
    uint8_t packet[70000];
    ssize_t n = recv(pipe_, packet, sizeof packet, MSG_DONTWAIT);
    if (n < 0 && errno == EAGAIN) return;
    if (n <= 0) {
      close(pipe_);
      pipe_ = -1;
      return;
    }
    if (sent_ || n < 4) return;
    sent_ = true;
    uint16_t sequence;
    std::memcpy(&sequence, packet + 2, 2);
    std::lock_guard<std::mutex> lock(lock_);
    size_t at = 0;
    while (at + 2 <= replies_.size()) {
      uint16_t length;
      std::memcpy(&length, &replies_[at], 2);
      at += 2;
      std::vector<uint8_t> reply(replies_.begin() + at,
                                 replies_.begin() + at + std::min<size_t>(length, replies_.size() - at));
      at += reply.size();
      if (reply.size() >= 4 && !keepSequence_) std::memcpy(&reply[2], &sequence, 2);
      // An empty one is sent as it is: a packet of 0 bytes amid the replies.
      if (send(pipe_, reply.data(), reply.size(), MSG_DONTWAIT | MSG_NOSIGNAL) < 0) return;
    }
    send(pipe_, packet, 0, MSG_DONTWAIT | MSG_NOSIGNAL);
  }
  void OnControl(int fd) {
    uint8_t in[64];
    ssize_t n = recv(fd, in, sizeof in, MSG_DONTWAIT);
    if (n < 0 && errno == EAGAIN) return;
    if (n <= 0) {
      close(fd);
      controls_.erase(std::remove(controls_.begin(), controls_.end(), fd), controls_.end());
      return;
    }
    uint32_t code = 0, outLength = 0;
    if (n >= 8) {
      std::memcpy(&code, in, 4);
      std::memcpy(&outLength, in + 4, 4);
    }
    uint32_t reply[3] = {1, 0, 1};
    size_t bytes = 8;
    if (code == 0x22200C && outLength >= 4) {
      reply[1] = 4;
      bytes = 12;
    } else if (code != 0x222000 && code != 0x222004) {
      reply[0] = 0;
    }
    send(fd, reply, bytes, MSG_DONTWAIT | MSG_NOSIGNAL);
  }

  int pipeListen_ = -1;
  int controlListen_ = -1;
  int pipe_ = -1;
  bool sent_ = false;
  std::vector<int> controls_;
  std::mutex lock_;
  std::vector<uint8_t> replies_;
  bool keepSequence_ = false;
};

struct Library {
  FuzzCamera camera;
  CDeviceInterface* device = nullptr;
  HWND client = nullptr;
};

Library& Setup() {
  static Library* lib = [] {
    auto* l = new Library;
    const std::string root = fotavi::fuzz::RunFolder();
    const std::string devices = root + "/devices";
    const std::string classFolder = devices + "/" + FOTAVI_DEVICE_CLASS_GUID;
    for (const std::string& f : {devices, classFolder, root + "/mutex", root + "/fallback", root + "/install/Logs"})
      MakeFolders(f, 0700);
    setenv("FOTAVI_DEVICE_ROOT", devices.c_str(), 1);
    setenv("FOTAVI_MACHINE_SETTINGS", (root + "/machine.conf").c_str(), 1);
    setenv("FOTAVI_USER_SETTINGS", (root + "/user.conf").c_str(), 1);
    setenv("FOTAVI_MUTEX_ROOT", (root + "/mutex").c_str(), 1);
    setenv("FOTAVI_FALLBACK_ROOT", (root + "/fallback").c_str(), 1);
    const char* key = "SOFTWARE\\Tiryx\\Z5\\Device Parameters";
    SettingsWriteDword(HKEY_LOCAL_MACHINE, key, "MaxTransferSize", 1);  // 1 KiB: replies of several packets
    SettingsWriteDword(HKEY_LOCAL_MACHINE, key, "LogLevel", 0);
    SettingsWriteString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tiryx\\Utility Software (K27)\\Parameters", "InstallPath",
                        root + "/install");
    l->camera.Start(classFolder + "/fuzz");
    HMODULE module = LoadLibrary(FOTAVI_DRIVER_MODULE);
    if (!module) std::abort();
    auto create = GetProcAddressAs<PFN_CREATEINSTANCE>(module, FOTAVI_CREATEINSTANCE);
    auto limits = GetProcAddressAs<PFN_SETTIMELIMITS>(module, "FotaviZ5SetTimeLimitsForTest");
    if (!create || !limits) std::abort();
    // Transfer, thread end, reset pause, mutex wait (ms).
    limits(1000, 5000, 1, 200);
    l->client = CreateWindowTarget([](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; }, "fuzz client");
    if (!create(&l->device) || !l->device) std::abort();
    return l;
  }();
  return *lib;
}

void Pump() {
  MSG msg;
  while (PeekMessage(&msg)) DispatchMessage(&msg);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  Library& lib = Setup();
  const WORD code = kCommands[data[0] % (sizeof kCommands / sizeof kCommands[0])];
  const bool keepSequence = data[1] & 1;
  const std::vector<BYTE> writeData(static_cast<size_t>(data[1] >> 1), 0x5A);
  lib.camera.SetReplies(data + 2, size - 2, keepSequence);
  const size_t blocksBefore = GlobalBlockCount();
  DWORD err = 0;
  if (!lib.device->bOpen(lib.client, &err)) std::abort();
  const bool withPath = code != FOTAVI_CMD_GET_JPEG && code != FOTAVI_CMD_SD_STATUS && code != FOTAVI_CMD_SD_ROOTLIST &&
                        code != FOTAVI_CMD_SD_END && code != FOTAVI_CMD_KEY_FIRST;
  if (withPath) {
    CRequestParam p;
    p.m_dwCommand = code;
    p.m_pCommand = new DEVICE_CMD(FotaviMakeCommand(code));
    p.m_pPath = new char[FOTAVI_PATH_BUFFER_SIZE]();
    std::strncpy(p.m_pPath, code == FOTAVI_CMD_SD_FOLDERLIST ? "C:\\DCIM\\100ABCDE" : "C:\\DCIM\\100ABCDE\\IMAG0001.JPG",
                 FOTAVI_PATH_MAX_CHARS);
    p.m_dwDataLength = static_cast<DWORD>(writeData.size());
    p.m_pData = writeData.empty() ? nullptr : writeData.data();
    lib.device->bRequest(&p, &err);
    if (p.m_hReplyData) {
      // The block is as long as the reply says.
      if (!p.m_pReply || GlobalSize(p.m_hReplyData) != p.m_pReply->dwLength) __builtin_trap();
      GlobalFree(p.m_hReplyData);
    }
    if (p.m_pReply) PostThreadMessage(p.m_dwReleaseThread, WM_FOTAVI_RELASERSP, 0, reinterpret_cast<LPARAM>(p.m_pReply));
  } else {
    DEVICE_CMD cmd = FotaviMakeCommand(code);
    HGLOBAL h = nullptr;
    DWORD length = 0;
    if (lib.device->bRequest(&cmd, &h, &length, &err) && h) {
      if (GlobalSize(h) != length) __builtin_trap();
      if (code == FOTAVI_CMD_GET_JPEG) {
        // The frame as the live view takes it: header and camera bytes decoded.
        const BYTE* frame = static_cast<const BYTE*>(GlobalLock(h));
        CBitmap24 picture;
        CJpeg().Load(&picture, frame, length, false, 0, 0, 0);
        GlobalUnlock(h);
      }
    }
    if (h) GlobalFree(h);
  }
  lib.device->bClose(&err);
  Pump();
  // Every block of a failed request went back.
  if (GlobalBlockCount() != blocksBefore) __builtin_trap();
  return 0;
}

namespace {

std::string Packet(uint16_t type, const std::string& payload) {
  std::string p(8, '\0');
  const uint32_t length = static_cast<uint32_t>(payload.size());
  std::memcpy(&p[0], &type, 2);
  std::memcpy(&p[4], &length, 4);
  p += payload;
  const uint16_t framed = static_cast<uint16_t>(p.size());
  return std::string(reinterpret_cast<const char*>(&framed), 2) + p;
}

std::string Words(std::initializer_list<uint32_t> words, size_t size) {
  std::string s(size, '\0');
  size_t at = 0;
  for (uint32_t w : words) {
    std::memcpy(&s[at], &w, 4);
    at += 4;
  }
  return s;
}

std::string Response(uint32_t w0, uint32_t w1, uint32_t w2) { return Packet(0, Words({w0, w1, w2}, 24)); }

std::string Entry(const std::string& path) {
  std::string e(FOTAVI_ENTRY_SIZE, '\0');
  std::memcpy(&e[0], path.data(), std::min(path.size(), e.size() - 1));
  return e;
}

size_t IndexOf(WORD code) {
  for (size_t i = 0; i < sizeof kCommands / sizeof kCommands[0]; ++i)
    if (kCommands[i] == code) return i;
  std::abort();
}

}  // namespace

fotavi::fuzz::Seeds fotavi::fuzz::MakeSeeds() {
  // The replies of the camera's protocol, command by command.
  auto seed = [](WORD code, uint8_t flags, const std::string& replies) {
    return std::string{static_cast<char>(IndexOf(code)), static_cast<char>(flags)} + replies;
  };
  const std::string frame(1500, '\x33');
  const std::string entries = Entry("C:\\DCIM") + Entry("C:\\DCIM\\100ABCDE");
  const std::string list = Entry("C:\\DCIM\\100ABCDE\\IMAG0001.JPG") + Entry("C:\\DCIM\\100ABCDE\\IMAG0002.JPG");
  const std::string file(40, 'F');
  return {
      seed(FOTAVI_CMD_GET_JPEG, 0,
           Response(0, static_cast<uint32_t>(frame.size()), 0) + Packet(2, frame.substr(0, 1016)) +
               Packet(2, frame.substr(1016))),
      seed(FOTAVI_CMD_SD_STATUS, 0, Response(0, 0, 0)),
      seed(FOTAVI_CMD_SD_ROOTLIST, 0, Response(0, 0, 2) + Packet(2, entries)),
      seed(FOTAVI_CMD_SD_READFILE, 0, Response(0, 0, 0) + Packet(2, Words({0x80, 40, 0}, 12) + file)),
      seed(FOTAVI_CMD_SD_READPLAYLIST, 0, Response(0, 0, 0) + Packet(2, Words({0x80, 0, 2}, 12))),
      seed(FOTAVI_CMD_SD_FOLDERLIST, 0, Response(0, 0, 0) + Packet(2, Words({0, 2}, 8) + list)),
      seed(FOTAVI_CMD_SD_WRITEFILE, 20, Response(0, 0, 0) + Packet(0, Words({0, 0}, 24)) + Packet(0, Words({0, 0}, 24))),
      seed(FOTAVI_CMD_SD_WRITEPLAYLIST, 8, Response(0, 0, 0) + Packet(0, Words({0, 32}, 24)) + Packet(0, Words({0, 32}, 24))),
      seed(FOTAVI_CMD_SD_DELETE, 0, Response(0, 0, 0) + Packet(0, Words({0, 8}, 24))),
      seed(FOTAVI_CMD_KEY_FIRST, 0, Response(0, 0, 0)),
      // Replies that claim more than any request can be, and a response cut
      // short of its status word.
      seed(FOTAVI_CMD_GET_JPEG, 0, Response(0, 0xD900D8D9u, 0)),
      seed(FOTAVI_CMD_SD_ROOTLIST, 0, Response(0, 0, 100000000u)),
      seed(FOTAVI_CMD_SD_READFILE, 0, Response(0, 0, 0) + Packet(2, Words({0x80, 0xFFFFFFF0u, 0}, 12))),
      seed(FOTAVI_CMD_SD_FOLDERLIST, 0, Response(0, 0, 0) + Packet(2, Words({0, 100000000u}, 8))),
      seed(FOTAVI_CMD_SD_STATUS, 0, Packet(0, std::string(4, '\0')).substr(0, 2 + 12)),
  };
}
