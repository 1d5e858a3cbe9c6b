#!/usr/bin/env bash
# Installs the build into a DESTDIR under a temporary folder with the default
# prefix and checks the tree: the data source in <prefix>/lib/twain/<folder>
# with the modules it loads, the programs in <prefix>/bin with theirs, every
# binary's libraries resolved without LD_LIBRARY_PATH, and the project's own
# TWAIN host acquiring a picture through the installed source from the
# installed camera emulator.
#   check-install.sh <build folder> <TWAIN host program>
set -euo pipefail
build=$1
host=$2
unset LD_LIBRARY_PATH FOTAVI_MODULE_PATH

work=$(mktemp -d "${TMPDIR:-/tmp}/fotavi-install-XXXXXX")
emulator_pid=
cleanup() {
  if [ -n "$emulator_pid" ]; then kill "$emulator_pid" 2>/dev/null || true; wait "$emulator_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

DESTDIR="$work/dest" cmake --install "$build" --prefix /usr/local > "$work/install.log" || {
  cat "$work/install.log" >&2
  fail "cmake --install"
}
prefix="$work/dest/usr/local"
twain="$prefix/lib/twain/TiryxK27"

for f in TiryxK27.ds FotaviZ5.so libFotaviPlatform.so FotaviSIMD_Z5.so; do
  [ -f "$twain/$f" ] || fail "$twain/$f is missing"
done
for f in Fotavi FotaviMov camera-emulator FotaviZ5.so libFotaviPlatform.so FotaviSIMD_Z5.so \
         Profile/256-192.prx Profile/512-384.prx Profile/XGA.prx; do
  [ -f "$prefix/bin/$f" ] || fail "$prefix/bin/$f is missing"
done
[ "$(find "$prefix/lib/twain" -name '*.ds' | wc -l)" = 1 ] || fail "not exactly one data source under lib/twain"

# Every library resolves, and the project's own come from the binary's folder.
for f in "$twain"/* "$prefix"/bin/*; do
  [ -f "$f" ] || continue
  out=$(ldd "$f") || fail "ldd $f"
  if grep -q "not found" <<<"$out"; then
    echo "$out" >&2
    fail "$f has unresolved libraries"
  fi
  own=$(grep "libFotaviPlatform.so" <<<"$out" || true)
  if [ -n "$own" ] && ! grep -q "=> $(dirname "$f")/libFotaviPlatform.so" <<<"$own"; then
    fail "$f takes $own instead of the one beside it"
  fi
done

# The installed source under the host, the installed emulator as the camera.
export FOTAVI_DEVICE_ROOT="$work/devices" FOTAVI_MACHINE_SETTINGS="$work/machine.conf" \
       FOTAVI_USER_SETTINGS="$work/user.conf" FOTAVI_MUTEX_ROOT="$work/mutex" FOTAVI_WORK_DIR="$work/work" \
       FOTAVI_FALLBACK_ROOT="$work/fallback/" QT_QPA_PLATFORM=offscreen
mkdir -p "$work/devices" "$work/mutex" "$work/work" "$work/fallback"
"$prefix/bin/camera-emulator" --root "$work/devices" --no-card > "$work/emulator.log" 2>&1 &
emulator_pid=$!
for _ in $(seq 100); do
  [ "$(find "$work/devices" -type s 2>/dev/null | wc -l)" -ge 2 ] && break
  sleep 0.1
done
[ "$(find "$work/devices" -type s | wc -l)" -ge 2 ] || fail "the installed camera emulator did not come up"
"$host" "$twain/TiryxK27.ds" acquire || fail "the host could not acquire through the installed source"
echo "installed tree checked under $prefix"
