#!/usr/bin/env bash
# Builds the project and runs every test.
#   scripts/test.sh                      the ordinary build (build/) and suite
#   scripts/test.sh --sanitize=address   AddressSanitizer with UndefinedBehaviorSanitizer, in build-asan/
#   scripts/test.sh --sanitize=thread    ThreadSanitizer, in build-tsan/
# Further arguments go to ctest (e.g. -R <regex>).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
sanitize=""
ctest_args=()
for arg in "$@"; do
  case "$arg" in
    --sanitize=address|--sanitize=thread) sanitize="${arg#--sanitize=}" ;;
    --sanitize=*) echo "test.sh: unknown sanitizer '${arg#--sanitize=}' (address or thread)" >&2; exit 2 ;;
    *) ctest_args+=("$arg") ;;
  esac
done
export QT_QPA_PLATFORM=offscreen
# Logs of tests that name no folder of their own go to a state folder of the
# run's own, not the user's.
XDG_STATE_HOME="$(mktemp -d "${TMPDIR:-/tmp}/fotavi-test-state-XXXXXX")"
export XDG_STATE_HOME
trap 'rm -rf "$XDG_STATE_HOME"' EXIT

if [ -z "$sanitize" ]; then
  bash "$here/scripts/build.sh"
  build="${FOTAVI_BUILD_DIR:-$here/build}"
  ctest --test-dir "$build" --output-on-failure --parallel "$(nproc)" --timeout 300 "${ctest_args[@]}"
  exit
fi

bash "$here/scripts/setup.sh"
supp="$here/scripts/sanitizers"
case "$sanitize" in
  address)
    build="${FOTAVI_BUILD_DIR:-$here/build-asan}"
    flags="-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined"
    # use_tls=0: LeakSanitizer's tracer crashes reading thread-local storage
    # after a module was unloaded. allocator_may_return_null: the tests of
    # impossible sizes expect a failed allocation, not an abort.
    # die_after_fork=0: the named-mutex tests fork helpers.
    export ASAN_OPTIONS="detect_leaks=1:allocator_may_return_null=1:detect_stack_use_after_return=0:abort_on_error=0:halt_on_error=1:strict_string_checks=0:check_initialization_order=1"
    export LSAN_OPTIONS="use_tls=0:suppressions=$supp/lsan.supp:print_suppressions=0"
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:suppressions=$supp/ubsan.supp"
    ;;
  thread)
    build="${FOTAVI_BUILD_DIR:-$here/build-tsan}"
    flags="-fsanitize=thread -fno-omit-frame-pointer"
    # allocator_may_return_null and die_after_fork=0: as for AddressSanitizer.
    export TSAN_OPTIONS="halt_on_error=0:second_deadlock_stack=1:die_after_fork=0:allocator_may_return_null=1:report_signal_unsafe=0:suppressions=$supp/tsan.supp"
    ;;
esac
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFOTAVI_TEST_TIMEOUT_SCALE=5 \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS="$flags" -DCMAKE_SHARED_LINKER_FLAGS="$flags" \
  -DCMAKE_MODULE_LINKER_FLAGS="$flags" >/dev/null
cmake --build "$build" --parallel "$(nproc)"
# Left to valgrind (a sanitizer and valgrind cannot share a process), and the
# address-space-limit test (a sanitizer reserves terabytes of shadow memory).
skip='UnderValgrind|AddressSpaceLimit'
# The sanitizers slow the program down several times: the limits grow with
# them (FOTAVI_TEST_TIMEOUT_SCALE for the tests that set their own).
ctest --test-dir "$build" --output-on-failure --parallel "$(nproc)" --timeout 1500 -E "$skip" "${ctest_args[@]}"
