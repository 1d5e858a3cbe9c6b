#!/usr/bin/env bash
# Builds the project and runs every test.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bash "$here/scripts/build.sh"
build="${FOTAVI_BUILD_DIR:-$here/build}"
export QT_QPA_PLATFORM=offscreen
# Logs of tests that name no folder of their own go to a state folder of the
# run's own, not the user's.
XDG_STATE_HOME="$(mktemp -d "${TMPDIR:-/tmp}/fotavi-test-state-XXXXXX")"
export XDG_STATE_HOME
trap 'rm -rf "$XDG_STATE_HOME"' EXIT
ctest --test-dir "$build" --output-on-failure --parallel "$(nproc)" --timeout 300
