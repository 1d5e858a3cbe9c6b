#!/usr/bin/env bash
# Builds the project, installs its settings and starts the camera emulator
# (with a card folder of its own) and, once built, the presentation program.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bash "$here/scripts/build.sh"
build="${FOTAVI_BUILD_DIR:-$here/build}"
bash "$here/scripts/install-settings.sh" "$build"
state="${XDG_STATE_HOME:-$HOME/.local/state}/fotavi"
card="$state/sdcard"
mkdir -p "$card/DCIM"
"$build/bin/camera-emulator" --card "$card" &
emulator=$!
trap 'kill $emulator 2>/dev/null; wait $emulator 2>/dev/null || true' EXIT
if [ -x "$build/bin/Fotavi" ]; then
  "$build/bin/Fotavi" "$@"
else
  echo "camera emulator running (pid $emulator); press Ctrl+C to stop"
  wait $emulator
fi
