#!/usr/bin/env bash
# Builds the project, installs its settings and starts the camera emulator
# (with a card folder of its own) and, once built, a program: the
# presentation program "Fotavi" (the default) or the movie program
# "FotaviMov", named as the first argument. Other arguments go to the program.
#   scripts/run.sh              the presentation program
#   scripts/run.sh FotaviMov    the movie program
set -euo pipefail
program=Fotavi
case "${1:-}" in
  Fotavi | FotaviMov)
    program="$1"
    shift
    ;;
esac
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
if [ -x "$build/bin/$program" ]; then
  "$build/bin/$program" "$@"
else
  echo "camera emulator running (pid $emulator); press Ctrl+C to stop"
  wait $emulator
fi
