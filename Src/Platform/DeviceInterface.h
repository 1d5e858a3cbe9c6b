// The device-interface layer: enumeration of the present members of a device
// interface class and I/O on a member's pipe, in place of the system's device
// set-up calls and the camera driver.
//
// Contract (any camera implementation can plug in):
//   device root:  $FOTAVI_DEVICE_ROOT, else $XDG_RUNTIME_DIR/fotavi-devices,
//                 else /tmp/fotavi-devices-<uid>
//   class folder: <root>/{CLASS-GUID}
//   both folders must be the user's own and writable by nobody else;
//   a present member is a sub-folder of the class folder holding two
//   SOCK_SEQPACKET Unix sockets, the pipe ("FotaviZ5") and "control", whose
//   control socket accepts connections.
//   Members are enumerated in name order; the device path is the sub-folder.
//   Pipe: one datagram is one protocol packet, both directions; the camera
//   serves one pipe connection at a time.
//   Control: the host sends {u32 code, u32 output length} and receives
//   {u32 ok, u32 bytes returned, bytes}; any number of control connections.
//   Arrival: the sub-folder is built under a temporary name and renamed in.
//   Removal: the sub-folder is removed, then the sockets close. The member
//   is gone with its folder: from then on its handles fail, though the
//   camera may still answer on its sockets for a while.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Types.h"

// The camera's device interface class.
constexpr const char* FOTAVI_DEVICE_CLASS_GUID = "{30091DC9-1A0E-41F1-BC70-C7C3A9142BC6}";
constexpr const char* DEVICE_PIPE_SOCKET = "FotaviZ5";
constexpr const char* DEVICE_CONTROL_SOCKET = "control";

// Control codes of the camera driver.
constexpr DWORD IOCTL_FOTAVI_RESET = 0x222000;
constexpr DWORD IOCTL_FOTAVI_GET_DRIVER_LOG = 0x222004;
constexpr DWORD IOCTL_FOTAVI_GET_STATUS = 0x22200C;

FOTAVI_PLATFORM_API std::string DeviceRootFolder();
FOTAVI_PLATFORM_API std::string DeviceClassFolder(const std::string& classGuid);

// Snapshot of the present members of a class (the "device list").
// Empty when the device root and the class folder may be used (or do not
// exist yet); otherwise why they are refused: a folder that is not the
// user's own, or that other users can write to.
FOTAVI_PLATFORM_API std::string DeviceRootRefusal(const std::string& classGuid);

class FOTAVI_PLATFORM_API CDeviceInfoSet {
 public:
  // NULL (GetLastError set) when the list cannot be made; ERROR_ACCESS_DENIED
  // with `refusal` set when the folders are refused (DeviceRootRefusal). A
  // member whose control socket refuses connections (its camera died
  // without removing it) is not present; one whose camera listens but takes
  // no connection (it hangs) is, and connecting to it gives up after 1 s.
  static std::unique_ptr<CDeviceInfoSet> GetPresent(const std::string& classGuid, std::string* refusal = nullptr);
  // ERROR_SUCCESS with the member's device path, ERROR_NO_MORE_ITEMS past the
  // last member.
  DWORD EnumMember(DWORD index, std::string* devicePath) const;
  size_t size() const { return paths_.size(); }

 private:
  std::vector<std::string> paths_;
};

enum class DeviceIoResult { Ok, Failed, Timeout };

// Which member folder a camera is: its device and inode. A camera removed
// and put back under the same name is another member folder, so another
// identity, however fast it came back.
struct DeviceMemberId {
  dev_t dev = 0;
  ino_t ino = 0;
  bool operator==(const DeviceMemberId& o) const { return dev == o.dev && ino == o.ino; }
  bool operator!=(const DeviceMemberId& o) const { return !(*this == o); }
};

// A member folder held open (O_PATH, never followed): while it is held its
// inode cannot be handed to a later folder, so a camera put back under the
// same name always has another identity. Copies hold the folder too.
class FOTAVI_PLATFORM_API CHeldMember {
 public:
  CHeldMember() = default;
  // Holds the folder at `path`; not held when there is none.
  explicit CHeldMember(const std::string& path);
  ~CHeldMember();
  CHeldMember(const CHeldMember& o);
  CHeldMember& operator=(const CHeldMember& o);
  bool Held() const { return fd_ >= 0; }
  DeviceMemberId Id() const { return id_; }
  // The same folder as `o` (both held), or neither held.
  bool SameAs(const CHeldMember& o) const { return Held() == o.Held() && (!Held() || id_ == o.id_); }
  // True while `path` still names this folder.
  bool NamedBy(const std::string& path) const;

 private:
  friend class CDeviceHandle;
  CHeldMember(int fd, DeviceMemberId id);  // holds a copy of `fd`
  int fd_ = -1;
  DeviceMemberId id_;
};

// An open handle to a member's pipe. Opening connects the control socket;
// the pipe socket is connected at the first read or write, so a handle used
// only for I/O controls (presence queries) never takes the camera's one pipe
// connection.
// A handle belongs to the member folder it was opened in. Once that folder
// has been removed (or replaced by another one of the same name) the device
// is gone, as a removed device interface is: every later read, write and
// I/O control fails with ERROR_DEVICE_NOT_CONNECTED, and one waiting at that
// moment fails within kRemovalCheckMs, whatever the camera still does on its
// sockets.
class FOTAVI_PLATFORM_API CDeviceHandle {
 public:
  // `pipePath` is the device path followed by "/" and the pipe name. NULL
  // (GetLastError set) when the member is not there.
  static std::unique_ptr<CDeviceHandle> Open(const std::string& pipePath);
  ~CDeviceHandle();
  CDeviceHandle(const CDeviceHandle&) = delete;
  CDeviceHandle& operator=(const CDeviceHandle&) = delete;

  // Reads one packet into `buffer`. A packet larger than `size` is a failure
  // (the packet is consumed). Waits at most `timeoutMs`.
  // A read or write that runs out of time is cancelled the way the driver
  // cancels a pipe transfer: the pipe connection is dropped (and made again
  // by the next read or write), so that an answer the camera sends after the
  // time-out can never be read as the reply of a later exchange.
  DeviceIoResult Read(void* buffer, DWORD size, DWORD* bytesRead, DWORD timeoutMs);
  // Writes one packet.
  DeviceIoResult Write(const void* data, DWORD size, DWORD* bytesWritten, DWORD timeoutMs);
  // I/O control: no input buffer; the driver fills at most `outSize` bytes.
  // One that runs out of time drops the control connection in the same way,
  // so that its late answer is never taken as the next control's.
  DeviceIoResult IoControl(DWORD code, void* outBuffer, DWORD outSize, DWORD* bytesReturned, DWORD timeoutMs);
  // Abandons transfers in progress on other threads (they fail at once, with
  // ERROR_OPERATION_ABORTED); like a time-out, this drops their connection,
  // so that the camera's answer to them is never read later.
  void Cancel();

  // The member folder the handle was opened in, held.
  CHeldMember HoldMember() const;

  // How often a waiting transfer looks whether its member folder has gone.
  static constexpr DWORD kRemovalCheckMs = 100;

 private:
  CDeviceHandle() = default;
  // True once the member folder this handle was opened in has gone.
  // `lookAtName`: also look at once whether its name still leads to it
  // (otherwise done at most every kRemovalCheckMs).
  bool MemberRemoved(bool lookAtName = false);
  // A connection to the socket at `path` in the member folder, or -1 when
  // it cannot be made or the name no longer leads to the held folder.
  int ConnectInMember(const std::string& path);
  // Waits until the connection is ready, the handle is cancelled, the member
  // is removed (Failed, ERROR_DEVICE_NOT_CONNECTED) or the time runs out.
  DeviceIoResult WaitReady(int fd, short events, DWORD timeoutMs, short* revents);
  bool ConnectPipe();
  void DropPipeIfAbandoned(DeviceIoResult r);
  bool ConnectControl();
  std::mutex pipeLock_;  // connecting and dropping the pipe connection
  std::atomic<bool> dropPipe_{false};
  std::mutex controlLock_;  // the same for the control connection
  std::atomic<bool> dropControl_{false};
  std::string pipePath_;
  std::string controlPath_;
  std::string memberPath_;
  int memberFd_ = -1;  // the member folder (O_PATH): keeps its inode its own while the handle lives
  dev_t memberDev_ = 0;
  ino_t memberIno_ = 0;
  std::atomic<bool> removed_{false};
  std::atomic<DWORD> lastNameCheck_{0};  // GetTickCount() of the last look at the name
  int pipeFd_ = -1;
  int controlFd_ = -1;
  int cancelFd_ = -1;  // eventfd that wakes waits on Cancel()
  std::atomic<int> active_{0};  // transfers in progress
  struct ActiveTransfer {
    explicit ActiveTransfer(CDeviceHandle& h);
    ~ActiveTransfer();
    CDeviceHandle& h_;
  };
};

// Starts (once per process) the watcher that broadcasts WM_DEVICECHANGE with
// DBT_DEVNODES_CHANGED to the top-level targets whenever a member of the
// camera's class appears or disappears. Members are told apart by their
// folder's identity, not their name: a camera removed and put back under the
// same name between two looks is a removal and an arrival. Changes read at
// once are told by one broadcast; the receiver asks what is there now.
// Called by the first top-level target.
FOTAVI_PLATFORM_API void StartDeviceWatcher();

// For tests: while held, the watcher takes in none of the changes it is
// woken for; on release it reads all that came meanwhile in one batch, as a
// watcher held up by a loaded machine does. A hold ends by itself after
// kDeviceWatcherHoldMs.
FOTAVI_PLATFORM_API void HoldDeviceWatcher(bool hold);
constexpr DWORD kDeviceWatcherHoldMs = 30000;

// Injects a power event (PBT_APMSUSPEND, PBT_APMRESUMESUSPEND, ...) as a
// WM_POWERBROADCAST broadcast. The programs feed it from the session's sleep
// signal; tests call it directly.
FOTAVI_PLATFORM_API void InjectPowerEvent(WPARAM event);
