#!/usr/bin/env bash
# Builds the project and runs the benchmarks; each prints its figures.
#   scripts/bench.sh [live-seconds-per-step] [twain-repetitions]
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bash "$here/scripts/build.sh"
bin="${FOTAVI_BUILD_DIR:-$here/build}/bin"
export QT_QPA_PLATFORM=offscreen
echo "== JPEG wrapper";      "$bin/CommonJpegBench" 200
echo "== device library";    "$bin/fotavi_driver_bench"
echo "== I/O control";       "$bin/fotavi_control_bench"
echo "== live monitor";      "$bin/fotavi_live_bench" "${1:-60}"
echo "== conversion";        "$bin/fotavi_convert_bench" 3
echo "== TWAIN data source"; "$bin/TiryxK27Bench" "${2:-20}"
echo "== movie recording";  "$bin/fotavi_mov_record_bench" 10
echo "== card tools";        "$bin/fotavi_card_bench"
echo "== movie program";    "$bin/fotavi_mov_bench" 20
