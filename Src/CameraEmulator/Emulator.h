// The camera behind the driver stand-in: a member folder with the pipe and
// control sockets, the command/response protocol on the pipe, the SD card,
// the picture stream, fault injection and the run-time command channel.
// Single-threaded event loop (poll); only frame encoding runs elsewhere.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "CardFolder.h"
#include "Faults.h"
#include "JpegFrames.h"

namespace fotavi::emu {

struct EmulatorConfig {
  std::string root;               // device root; empty: DefaultDeviceRoot()
  std::string instance = "cam0";  // member folder name
  std::string cardDir;            // empty: no card
  std::string pictureDir;         // empty: generated pattern
  int ringSize = 48;              // frames kept ready
  uint32_t packetSize = 65536;
  std::string exchangeLog;        // empty: none
  std::string driverText = "FotaviZ5 camera emulator";
  bool startUnplugged = false;
  int64_t unplugAfterMs = -1;     // unplug this long after start
  int64_t replugAfterMs = -1;     // replug this long after each unplug
  bool stdinCommands = false;
  std::string commandSocket;      // path of the command socket; empty: none
  bool exitWithParent = false;    // quit when the parent process goes away
  std::vector<std::string> faultLines;  // command-channel lines run at start-up
};

constexpr uint32_t kMinPacketSize = 64;
constexpr uint32_t kMaxPacketSize = 262144;

// $FOTAVI_DEVICE_ROOT, else $XDG_RUNTIME_DIR/fotavi-devices, else
// /tmp/fotavi-devices-<uid>.
std::string DefaultDeviceRoot();
// <root>/{class GUID}
std::string ClassFolder(const std::string& root);

// Text of the command channel, also printed by --help.
extern const char* const kCommandHelp;

class Emulator {
 public:
  explicit Emulator(EmulatorConfig config);
  ~Emulator();
  Emulator(const Emulator&) = delete;
  Emulator& operator=(const Emulator&) = delete;

  // Prepares frames, card and command channel, runs the start-up fault lines
  // and plugs the camera in (unless it starts unplugged).
  bool Init(std::string* error);
  // Serves until "quit", SIGTERM/SIGINT or the end of stdin commands; the
  // member folder is removed before it returns. Result: exit code.
  int Run();
  // One command-channel line; returns "ok..." or "error ...".
  std::string Execute(const std::string& line);

  // SIGUSR1 unplugs, SIGUSR2 replugs, SIGTERM/SIGINT quit (through a pipe
  // that Run() watches). SIGPIPE is ignored.
  static void InstallSignalHandlers();

  std::string MemberPath() const;

 private:
  enum class Stage { Idle, WaitPath, WaitRange, WaitData };
  struct Exchange {
    Stage stage = Stage::Idle;
    uint16_t cmd = 0;
    uint16_t seq = 0;
    uint32_t param = 0;
    std::optional<uint32_t> zeroAt;  // camera packet index to replace by an empty one
    std::optional<uint32_t> claim;   // announced length or count, with nothing of it sent
    std::optional<uint32_t> responseBytes;  // the response packet cut to this size
    uint32_t outIndex = 0;           // camera packets queued so far (0 = response)
    bool cut = false;                // the rest of the exchange is not sent
    uint32_t delayMs = 0;            // delay before the next queued packet
    bool late = false;               // its packets outlive the exchange (late fault)
    std::string path;                // write: card path
    bool gotSubHeader = false;
    uint64_t expected = 0;
    uint64_t received = 0;
    bool tooBig = false;
    std::vector<uint8_t> data;
  };
  struct OutPacket {
    std::vector<uint8_t> bytes;
    int64_t notBeforeMs = 0;
    std::string log;
    bool late = false;  // sent even when its exchange is given up
  };
  struct LateControlReply {
    int fd = -1;
    std::vector<uint8_t> bytes;
    int64_t dueMs = 0;
  };
  struct CommandConn {
    int fd = -1;
    std::string in;
  };

  // How a removal goes: the member folder first (the contract's order) or
  // the sockets first; the second step follows `gapMs` later.
  enum class RemovalOrder { FolderFirst, SocketsFirst };
  struct Removal {
    RemovalOrder order = RemovalOrder::FolderFirst;
    int64_t gapMs = 0;
    int64_t replugMs = -1;  // back this long after the last step; -1: --replug-after
  };

  bool Plug(std::string* error);
  // Starts a removal; a gap of 0 does both steps at once.
  void Unplug(const char* why, const Removal& how);
  void Unplug(const char* why);  // folder first, sockets at once
  // Does the step a removal still owes now (quit, exit).
  void FinishRemoval();
  void RemoveMemberFolder();
  void CloseSockets();
  void EndRemoval();
  bool Removing() const { return nextStepAtMs_ >= 0; }
  bool TimedUnplugCanRun() const { return plugged_ && !Removing(); }
  void ClosePipe(const char* why);
  void AcceptPipe();
  void ReadPipe();
  void FlushPipe();
  void OnPipePacket(const uint8_t* p, size_t n);
  void OnCommand(uint16_t cmd, uint16_t seq, uint32_t param);
  void OnPath(const uint8_t* p, size_t n);
  void OnRange(const uint8_t* p, size_t n);
  void OnData(const uint8_t* p, size_t n);
  void SendResponse(uint32_t word0, uint32_t word1, uint32_t word2, const std::string& extra);
  void SendStatusReply(uint32_t status, const char* kind);
  void SendStream(const std::vector<uint8_t>& prefix, const uint8_t* body, size_t bodySize);
  void Queue(std::vector<uint8_t> packet, std::string extra);
  // Drops the replies not yet sent, except late ones; returns how many went.
  size_t DropUnsent();
  uint32_t CardStatus() const { return card_ && cardIn_ ? 0u : 1u; }
  uint32_t Forced(uint16_t cmd, StatusStage stage, uint32_t status);
  void OnControl(int fd);
  void FlushLateControl();
  void OnCommandConn(CommandConn& conn);
  void OnStdin();
  void OnSignal();
  int64_t NowMs() const;
  void Log(const std::string& fields);
  std::string ExecuteTokens(const std::vector<std::string>& t);

  EmulatorConfig config_;
  std::string root_;
  std::unique_ptr<FrameSource> frames_;
  std::unique_ptr<CardFolder> card_;
  bool cardIn_ = false;
  FaultSet faults_;
  FILE* log_ = nullptr;
  int64_t startNs_ = 0;
  pid_t parentPid_ = 0;

  bool plugged_ = false;  // from the arrival until the last step of the removal
  bool folderIn_ = false;
  int folderFd_ = -1;  // the member folder this camera made (O_PATH; its inode stays its own)
  bool socketsOpen_ = false;
  int64_t nextStepAtMs_ = -1;  // the removal's second step is due
  Removal removal_;
  bool quit_ = false;
  uint64_t generation_ = 0;  // changes when sockets are opened or closed
  int pipeListen_ = -1;
  int pipeConn_ = -1;
  int controlListen_ = -1;
  std::vector<int> controlConns_;
  std::vector<LateControlReply> lateControl_;  // answers held back by the late-control fault
  int commandListen_ = -1;
  std::vector<CommandConn> commandConns_;
  bool stdinOpen_ = false;
  std::string stdinBuf_;
  int64_t unplugAtMs_ = -1;      // the timed unplug is due (kept while the camera is away or leaving)
  bool unplugDeferred_ = false;  // it fell due then and waits
  int64_t replugAtMs_ = -1;

  Exchange ex_;
  std::deque<OutPacket> out_;
  std::vector<uint8_t> recvBuf_;
  std::map<uint16_t, std::pair<uint64_t, uint32_t>> counts_;  // command: requests, last parameter
};

}  // namespace fotavi::emu
