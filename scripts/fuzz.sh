#!/usr/bin/env bash
# Builds the fuzz targets with clang (build-fuzz/) and runs each for the given
# time in seconds (default 60). Fails on any crash, leak, timeout or memory
# blow-up; the input that did it is left in build-fuzz/fuzz/artifacts/.
#   scripts/fuzz.sh [seconds] [target...]
# FOTAVI_FUZZ_SEED=N starts every target from the same random seed (CI).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
seconds="${1:-60}"
shift || true
build="${FOTAVI_FUZZ_BUILD_DIR:-$here/build-fuzz}"
bash "$here/scripts/setup.sh"
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF -DFOTAVI_FUZZ=ON \
  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 >/dev/null
cmake --build "$build" --parallel "$(nproc)" --target fuzz_all

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for t in "$build"/fuzz/fuzz_*; do
    [ -x "$t" ] && targets+=("$(basename "$t")")
  done
fi
export QT_QPA_PLATFORM=offscreen
# verify_asan_link_order=0: libFuzzer pulls libstdc++ in ahead of the shared
# sanitizer runtime, which is still the one every module uses.
export ASAN_OPTIONS="allocator_may_return_null=1:detect_leaks=1:verify_asan_link_order=0"
# leak_check_at_exit=0: libFuzzer checks every input for leaks itself; what
# is left at exit are system libraries' load-time objects (libsrt under
# FFmpeg), whose stacks the fast unwinder cannot follow to a suppression.
export LSAN_OPTIONS="leak_check_at_exit=0:use_tls=0:suppressions=$here/scripts/sanitizers/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
artifacts="$build/fuzz/artifacts"
mkdir -p "$artifacts"
failed=()
for t in "${targets[@]}"; do
  seeds="$build/fuzz/seeds/$t"
  corpus="$build/fuzz/corpus/$t"
  rm -rf "$seeds"
  mkdir -p "$seeds" "$corpus"
  if ! FOTAVI_FUZZ_WRITE_SEEDS="$seeds" "$build/fuzz/$t" >"$build/fuzz/$t.seeds.log" 2>&1; then
    echo "$t: cannot write its seeds (log: $build/fuzz/$t.seeds.log)" >&2
    tail -20 "$build/fuzz/$t.seeds.log" >&2
    failed+=("$t")
    continue
  fi
  echo "== $t: ${seconds} s"
  # -timeout: one input taking this long is a hang; -rss_limit_mb and
  # -malloc_limit_mb: an input that makes the code take this much memory is a fault.
  if ! "$build/fuzz/$t" -max_total_time="$seconds" ${FOTAVI_FUZZ_SEED:+-seed="$FOTAVI_FUZZ_SEED"} -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=512 \
       -max_len=8192 -print_final_stats=1 -artifact_prefix="$artifacts/$t-" "$corpus" "$seeds" \
       >"$build/fuzz/$t.log" 2>&1; then
    echo "$t: FAILED (log: $build/fuzz/$t.log)" >&2
    tail -40 "$build/fuzz/$t.log" >&2
    failed+=("$t")
  else
    grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb' "$build/fuzz/$t.log" | tr '\n' ' '
    echo
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: failed: ${failed[*]}" >&2
  exit 1
fi
echo "fuzz: all ${#targets[@]} targets ran ${seconds} s each without a fault"
