// camera-emulator: plays the document camera behind the driver stand-in
// (member folder with the "FotaviZ5" pipe and "control" sockets) so that the
// programs and their tests can run without the hardware.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Emulator.h"

namespace {

void Usage(FILE* out) {
  fprintf(out,
          "usage: camera-emulator [options]\n"
          "  --root DIR             device root (default $FOTAVI_DEVICE_ROOT, $XDG_RUNTIME_DIR/fotavi-devices,\n"
          "                         /tmp/fotavi-devices-<uid>)\n"
          "  --instance NAME        member folder name (default cam0)\n"
          "  --card DIR             host folder that plays the SD card (C:\\ is its root)\n"
          "  --no-card              no card in the camera (the default without --card)\n"
          "  --pictures DIR         stream the JPEG pictures of DIR (scaled to 1024x768) instead of the\n"
          "                         generated test pattern\n"
          "  --frames N             frames kept ready (pattern ring size / picture limit, default 48)\n"
          "  --packet-size N        largest packet the camera sends (default 65536, %u to %u)\n"
          "  --exchange-log FILE    one JSON line per packet, control code, command and event\n"
          "  --driver-text TEXT     answer to the driver-text control code\n"
          "  --unplugged            start without the camera present\n"
          "  --unplug-after MS      unplug MS after start (or, when the camera is away or being\n"
          "                         removed then, as soon as it is back)\n"
          "  --replug-after MS      replug MS after every unplug (and after an --unplugged start)\n"
          "  --stdin-commands       read command lines on stdin, answer on stdout; end of input quits\n"
          "  --command-socket PATH  stream socket for command lines\n"
          "  --exit-with-parent     quit when the parent process ends\n"
          "  --fault LINE           run a command line at start-up (repeatable), e.g. --fault \"drop 0x808E 1\"\n"
          "  --delay CMD:MS  --late CMD:MS  --drop CMD:N  --zero-packet CMD:K  --status CMD:VALUE[:STAGE]\n"
          "  --bad-frame N  --frame-length-zero N  --short-frame N   shorthands for --fault\n"
          "Signals: SIGUSR1 unplugs, SIGUSR2 replugs, SIGTERM/SIGINT quit (the member folder is removed).\n\n%s",
          fotavi::emu::kMinPacketSize, fotavi::emu::kMaxPacketSize, fotavi::emu::kCommandHelp);
}

std::string Spaced(std::string s) {
  for (auto& c : s)
    if (c == ':') c = ' ';
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  fotavi::emu::EmulatorConfig config;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) {
        fprintf(stderr, "camera-emulator: %s needs a value\n", a.c_str());
        exit(2);
      }
      return argv[++i];
    };
    auto number = [&]() -> long long {
      std::string v = value();
      char* end = nullptr;
      long long n = strtoll(v.c_str(), &end, 0);
      if (v.empty() || *end != '\0' || n < 0) {
        fprintf(stderr, "camera-emulator: %s: bad number %s\n", a.c_str(), v.c_str());
        exit(2);
      }
      return n;
    };
    if (a == "--help" || a == "-h") {
      Usage(stdout);
      return 0;
    } else if (a == "--root") config.root = value();
    else if (a == "--instance") config.instance = value();
    else if (a == "--card") config.cardDir = value();
    else if (a == "--no-card") config.cardDir.clear();
    else if (a == "--pictures") config.pictureDir = value();
    else if (a == "--frames") config.ringSize = static_cast<int>(number());
    else if (a == "--packet-size") config.packetSize = static_cast<uint32_t>(number());
    else if (a == "--exchange-log") config.exchangeLog = value();
    else if (a == "--driver-text") config.driverText = value();
    else if (a == "--unplugged") config.startUnplugged = true;
    else if (a == "--unplug-after") config.unplugAfterMs = number();
    else if (a == "--replug-after") config.replugAfterMs = number();
    else if (a == "--stdin-commands") config.stdinCommands = true;
    else if (a == "--command-socket") config.commandSocket = value();
    else if (a == "--exit-with-parent") config.exitWithParent = true;
    else if (a == "--fault") config.faultLines.push_back(value());
    else if (a == "--delay") config.faultLines.push_back("delay " + Spaced(value()));
    else if (a == "--late") config.faultLines.push_back("late " + Spaced(value()));
    else if (a == "--drop") config.faultLines.push_back("drop " + Spaced(value()));
    else if (a == "--zero-packet") config.faultLines.push_back("zero-packet " + Spaced(value()));
    else if (a == "--status") config.faultLines.push_back("status " + Spaced(value()));
    else if (a == "--bad-frame") config.faultLines.push_back("bad-frame " + value());
    else if (a == "--frame-length-zero") config.faultLines.push_back("frame-length-zero " + value());
    else if (a == "--short-frame") config.faultLines.push_back("short-frame " + value());
    else {
      fprintf(stderr, "camera-emulator: unknown option %s\n", a.c_str());
      Usage(stderr);
      return 2;
    }
  }
  // --no-card after --card wins; --card after --no-card wins (last one counts).
  fotavi::emu::Emulator::InstallSignalHandlers();
  fotavi::emu::Emulator emulator(config);
  std::string error;
  if (!emulator.Init(&error)) {
    fprintf(stderr, "camera-emulator: %s\n", error.c_str());
    return 1;
  }
  return emulator.Run();
}
