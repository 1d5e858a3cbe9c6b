#!/usr/bin/env bash
# Plays the installer for a build folder: writes the machine settings
# (install path, device parameters, JPEG library choice) to
# <build>/etc/fotavi-machine.conf, through the same rule as `cmake --install`
# (cmake/MachineSettings.cmake), and lays out the installation's folders
# beside the programs in <build>/bin.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(cd "${1:?usage: install-settings.sh BUILD_DIR}" && pwd)"
bin="$build/bin"
conf="$build/etc/fotavi-machine.conf"
mkdir -p "$build/etc" "$bin/Logs"
if [ ! -f "$conf" ]; then
  cmake -DFOTAVI_INSTALL_PATH="$bin" -DFOTAVI_MACHINE_SETTINGS_FILE="$conf" -P "$here/cmake/MachineSettings.cmake"
fi
