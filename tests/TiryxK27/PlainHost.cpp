// A TWAIN host that is no Qt program, as most TWAIN applications are. It
// loads the source, runs one session and ends through exit(); its exit
// status is 0 when the source answered as expected:
//   PlainHost <source.ds> dialog    open, the capture dialog shown, disable,
//                                   close
//   PlainHost <source.ds> left-open open, the capture dialog shown, and the
//                                   process ends with the source still open
//   PlainHost <source.ds> acquire   open, one picture without the user
//                                   interface by native transfer, close
//   PlainHost <source.ds> refused   an open the source refuses (another
//                                   program holds the camera): TWCC_NODS
//   PlainHost <source.ds> exit-on-close
//                                   open, the capture dialog shown; the
//                                   source's close request (the user closed
//                                   the dialog) ends the process with exit(0)
//                                   from inside the notice
//   PlainHost <source.ds> exit-on-close-disabling-late
//                                   the same, and a session object of the
//                                   host's takes the source's user
//                                   interface down in its exit-time destructor
// Whatever the source made in this process must end cleanly at that exit.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "TwainHost.h"

using twain_test::CTwainHost;

namespace {

int Dialog(CTwainHost& host) {
  if (host.OpenDS(true) != TWRC_SUCCESS) return 3;
  if (host.Enable(true) != TWRC_SUCCESS) return 4;
  // The window is up and drawn for a moment, as a user would see it.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  if (host.Disable() != TWRC_SUCCESS) return 5;
  if (host.CloseDS() != TWRC_SUCCESS) return 6;
  return 0;
}

int LeftOpen(CTwainHost& host) {
  if (host.OpenDS(true) != TWRC_SUCCESS) return 3;
  if (host.Enable(true) != TWRC_SUCCESS) return 4;
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  return 0;
}

int Acquire(CTwainHost& host) {
  if (host.OpenDS(true) != TWRC_SUCCESS) return 3;
  if (host.Enable(false) != TWRC_SUCCESS) return 4;
  if (!host.WaitNotice(MSG_XFERREADY, 1, 10000)) return 5;
  std::vector<TW_UINT8> dib;
  if (host.TransferNative(&dib) != TWRC_XFERDONE || dib.size() <= 40) return 6;
  std::printf("picture of %zu bytes\n", dib.size());
  TW_UINT16 count = 9;
  if (host.EndTransfer(&count) != TWRC_SUCCESS || count != 0) return 7;
  if (host.Disable() != TWRC_SUCCESS) return 8;
  if (host.CloseDS() != TWRC_SUCCESS) return 9;
  return 0;
}

int ExitOnClose(CTwainHost& host) {
  // Many hosts end at once when the source asks to be closed, right in the
  // notice, which arrives on the thread of the source's window.
  host.onNotice = [](TW_UINT16 msg) {
    if (msg != MSG_CLOSEDSREQ) return;
    std::fprintf(stderr, "close request: exit(0)\n");
    std::exit(0);
  };
  if (host.OpenDS(true) != TWRC_SUCCESS) return 3;
  if (host.Enable(true) != TWRC_SUCCESS) return 4;
  std::this_thread::sleep_for(std::chrono::seconds(25));
  return 5;  // nobody closed the dialog
}

// A host's session object whose exit-time destructor takes the source's
// user interface down: made before the source is loaded, it runs after
// Qt's globals are gone.
CTwainHost* g_disablingHost = nullptr;
struct DisablesAtExit {
  ~DisablesAtExit() {
    if (g_disablingHost) g_disablingHost->Disable();
  }
};

int ExitOnCloseDisablingLate(CTwainHost& host) {
  static DisablesAtExit disabler;
  g_disablingHost = &host;
  return ExitOnClose(host);
}

int Refused(CTwainHost& host) {
  if (host.OpenDS(true) != TWRC_FAILURE) return 3;
  const TW_UINT16 cc = host.Status();
  std::printf("condition code %u\n", cc);
  return cc == TWCC_NODS ? 0 : 4;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr,
                 "usage: %s <source.ds> dialog|left-open|acquire|refused|exit-on-close|"
                 "exit-on-close-disabling-late\n",
                 argv[0]);
    return 2;
  }
  CTwainHost host;
  std::string error;
  if (!host.Load(argv[1], &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 2;
  }
  if (!host.Scan()) return 2;
  const std::string session = argv[2];
  if (session == "dialog") return Dialog(host);
  if (session == "acquire") return Acquire(host);
  if (session == "left-open") return LeftOpen(host);
  if (session == "refused") return Refused(host);
  if (session == "exit-on-close") return ExitOnClose(host);
  if (session == "exit-on-close-disabling-late") return ExitOnCloseDisablingLate(host);
  return 2;
}
