#!/usr/bin/env bash
# Runs one test under valgrind:  valgrind-run.sh VALGRIND [valgrind options] -- PROGRAM [arguments]
#
# Valgrind decodes only the instructions its host's CPUID reports. Some
# virtual machines run RDTSCP but hide it from CPUID, and a system library
# that uses it in its load-time constructors (libhwy, under FFmpeg's JPEG XL
# decoder) then stops valgrind with SIGILL before the program's own code
# runs. Such a run says nothing of the program: it is reported as skipped
# (exit 77), with valgrind's report. Every other outcome is the test's own.
set -u
valgrind="$1"
shift
options=()
while [ $# -gt 0 ] && [ "$1" != "--" ]; do
  options+=("$1")
  shift
done
[ $# -gt 0 ] && shift
work="$(mktemp -d "${TMPDIR:-/tmp}/fotavi-valgrind-XXXXXX")" || exit 1
trap 'rm -rf "$work"' EXIT
"$valgrind" --log-file="$work/log" "${options[@]}" "$@"
rc=$?
cat "$work/log" >&2
if [ "$rc" -ne 0 ] && grep -q "valgrind: Unrecognised instruction" "$work/log"; then
  # The first frames after the report: a system library's code, reached
  # from the dynamic loader's constructor calls (before main).
  frames="$(grep -A12 "valgrind: Unrecognised instruction" "$work/log" | grep -E '^==[0-9]+== +(at|by) ')"
  first="$(printf '%s\n' "$frames" | head -1)"
  if printf '%s\n' "$first" | grep -qE '\(in /(usr/)?lib/' && printf '%s\n' "$frames" | grep -q '_dl_init'; then
    echo "SKIPPED: valgrind cannot decode an instruction this host runs, in a system library's load-time code:" >&2
    echo "  $first" >&2
    exit 77
  fi
fi
exit "$rc"
