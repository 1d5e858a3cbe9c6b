#!/usr/bin/env bash
# Plays the installer for a build folder: writes the machine settings
# (install path, device parameters, JPEG library choice) and lays out the
# installation's folders beside the programs in <build>/bin.
set -euo pipefail
build="$(cd "${1:?usage: install-settings.sh BUILD_DIR}" && pwd)"
bin="$build/bin"
conf="$build/etc/fotavi-machine.conf"
mkdir -p "$build/etc" "$bin/Logs"
if [ ! -f "$conf" ]; then
  cat > "$conf" <<CONF
[SOFTWARE\\Tiryx\\Utility Software (K27)\\Parameters]
InstallPath=sz:$bin
JpegLib=dword:0
[SOFTWARE\\Tiryx\\Z5\\Device Parameters]
MaxTransferSize=dword:64
LogFileSize=dword:1024
LogLevel=dword:1
CONF
fi
