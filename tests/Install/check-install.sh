#!/usr/bin/env bash
# Installs the build into a DESTDIR under a temporary folder with the build's
# prefix and checks the tree as a packager and a new user would:
#  - the GNU layout: programs in <bindir>, the private modules once in
#    <libdir>/fotavi, the data source alone in lib/twain/TiryxK27, profiles in
#    <datadir>/fotavi, the machine settings in <sysconfdir>/fotavi with the
#    values scripts/install-settings.sh writes, the emulator as
#    fotavi-camera-emulator; every binary stripped, its libraries resolved
#    without LD_LIBRARY_PATH and the project's own taken from the tree;
#  - the desktop entries and metainfo valid, their programs and icons there;
#  - run by an ordinary user with an empty home (uid 65534 when the test runs
#    as root, else the user running it), against the installed emulator:
#    both programs under Xvfb start, find the installed machine settings and
#    reach the camera, their windows name their desktop entries, and the
#    project's TWAIN host acquires through the installed source; the logs go
#    to the user's state folder, since the installation's "Logs" folder is
#    root's.
#   check-install.sh <build folder> <TWAIN host program> <source folder>
set -euo pipefail
for tool in desktop-file-validate appstreamcli readelf ldd xdotool xprop Xvfb; do
  command -v "$tool" > /dev/null || { echo "FAIL: $tool is missing (scripts/setup.sh installs it)" >&2; exit 1; }
done
build=$1
host=$2
source=$3
unset LD_LIBRARY_PATH FOTAVI_MODULE_PATH FOTAVI_MACHINE_SETTINGS FOTAVI_USER_SETTINGS FOTAVI_FALLBACK_ROOT \
      FOTAVI_WORK_DIR FOTAVI_CACHE_DIR XDG_STATE_HOME XDG_CONFIG_HOME XDG_CACHE_HOME XDG_RUNTIME_DIR

limit=60  # seconds for anything the test waits for
work=$(mktemp -d "${TMPDIR:-/tmp}/fotavi-install-XXXXXX")
chmod 755 "$work"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  for f in "$work"/*.log; do [ -s "$f" ] && { echo "--- $f" >&2; tail -20 "$f" >&2; }; done
  exit 1
}
# Waits until the command succeeds, at most $limit seconds.
wait_for() {
  local what=$1
  shift
  for _ in $(seq $((limit * 10))); do
    "$@" && return 0
    sleep 0.1
  done
  fail "$what (not within $limit s)"
}

prefix_configured=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build/CMakeCache.txt")
libdir=$(sed -n 's/^CMAKE_INSTALL_LIBDIR:PATH=//p' "$build/CMakeCache.txt")
DESTDIR="$work/dest" cmake --install "$build" > "$work/install.log" || fail "cmake --install"
root="$work/dest"
prefix="$root$prefix_configured"
if [ "$prefix_configured" = /usr ]; then etc="$root/etc/fotavi"; else etc="$prefix/etc/fotavi"; fi
bin="$prefix/bin"
modules="$prefix/$libdir/fotavi"
twain="$prefix/lib/twain/TiryxK27"
data="$prefix/share/fotavi"
share="$prefix/share"

# ---------------------------------------------------------------- layout
for f in "$bin/Fotavi" "$bin/FotaviMov" "$bin/fotavi-camera-emulator" \
         "$modules/libFotaviPlatform.so.1" "$modules/FotaviZ5.so" "$modules/FotaviSIMD_Z5.so" \
         "$twain/TiryxK27.ds" "$data/Profile/256-192.prx" "$data/Profile/512-384.prx" "$data/Profile/XGA.prx" \
         "$etc/fotavi-machine.conf"; do
  [ -e "$f" ] || fail "$f is missing"
done
[ "$(ls "$bin")" = "$(printf 'Fotavi\nFotaviMov\nfotavi-camera-emulator')" ] || fail "$bin holds more than the programs: $(ls "$bin")"
[ "$(ls "$twain")" = TiryxK27.ds ] || fail "$twain holds more than the source: $(ls "$twain")"
[ "$(find "$root" -name '*.ds' | wc -l)" = 1 ] || fail "not exactly one data source"
for m in FotaviZ5.so FotaviSIMD_Z5.so 'libFotaviPlatform.so*'; do
  [ "$(find "$root" -name "$m" -type f | wc -l)" = 1 ] || fail "$m is installed more than once"
done
[ -z "$(find "$root" -name Logs -o -name '*.log')" ] || fail "the install writes a log folder or log"

# The machine settings: the values the build's installer writes, with the
# installed data folder as the installation folder.
mkdir -p "$work/fakebuild/bin"
bash "$source/scripts/install-settings.sh" "$work/fakebuild"
expected=$(sed "s|^InstallPath=sz:.*|InstallPath=sz:$prefix_configured/share/fotavi|" "$work/fakebuild/etc/fotavi-machine.conf")
[ "$(cat "$etc/fotavi-machine.conf")" = "$expected" ] || fail "the installed machine settings differ: $(cat "$etc/fotavi-machine.conf")"
grep -q '^JpegLib=dword:0$' "$etc/fotavi-machine.conf" || fail "JpegLib is not the installer's 0"

# Every binary is stripped and resolves its libraries from the tree alone.
for f in "$bin"/* "$modules"/*.so* "$twain"/*; do
  [ -L "$f" ] && continue
  if readelf -S "$f" | grep -q '\.debug_info\|\.symtab'; then fail "$f is not stripped"; fi
  out=$(ldd "$f") || fail "ldd $f"
  if grep -q "not found" <<<"$out"; then
    echo "$out" >&2
    fail "$f has unresolved libraries"
  fi
  own=$(sed -n 's/.*libFotaviPlatform.* => \([^ ]*\).*/\1/p' <<<"$out")
  if [ -n "$own" ] && [ "$(readlink -f "$own")" != "$(readlink -f "$modules/libFotaviPlatform.so.1")" ]; then
    fail "$f takes $own instead of the one in $modules"
  fi
done

# ---------------------------------------------------------------- desktop
apps="$share/applications"
for id in com.tiryx.Fotavi com.tiryx.FotaviMov; do
  entry="$apps/$id.desktop"
  [ -f "$entry" ] || fail "$entry is missing"
  desktop-file-validate "$entry" > "$work/validate.log" 2>&1 || fail "desktop-file-validate $entry: $(cat "$work/validate.log")"
  [ ! -s "$work/validate.log" ] || fail "desktop-file-validate $entry: $(cat "$work/validate.log")"
  exec=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$entry")
  [ -x "$bin/$exec" ] || fail "$entry starts $exec, which is not installed"
  icon=$(sed -n 's/^Icon=//p' "$entry")
  [ "$icon" = "$id" ] || fail "$entry names the icon $icon"
  for size in 16 22 24 32 48 64 128 256; do
    png="$share/icons/hicolor/${size}x${size}/apps/$icon.png"
    [ -f "$png" ] || fail "$png is missing"
    # PNG signature, then the IHDR's width and height.
    [ "$(od -An -tx1 -N8 "$png" | tr -d ' \n')" = 89504e470d0a1a0a ] || fail "$png is not a PNG"
    [ "$(od -An -tu1 -j16 -N8 "$png" | awk '{print $3*256+$4, $7*256+$8}')" = "$size $size" ] ||
      fail "$png is not $size x $size"
  done
  meta="$share/metainfo/$id.metainfo.xml"
  [ -f "$meta" ] || fail "$meta is missing"
  grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$meta" || fail "$meta does not launch $id.desktop"
done
appstreamcli validate --no-net "$share"/metainfo/*.xml > "$work/appstream.log" 2>&1 ||
  fail "appstreamcli validate: $(cat "$work/appstream.log")"
rm "$work/appstream.log"

# ---------------------------------------------------------------- a user runs it
# Run by an ordinary user: uid 65534 when this runs as root (as CI does),
# else the user running it. Its home is empty; the installation is root's
# (as root), and its "Logs" folder too.
if [ "$(id -u)" = 0 ]; then
  run_as=(setpriv --reuid=65534 --regid=65534 --clear-groups)
  user=65534
else
  run_as=()
  user=$(id -u)
fi
if [ "$(id -u)" = 0 ] && ! "${run_as[@]}" test -x "$work/dest"; then
  fail "$work is not reachable for uid 65534 (a temporary folder below a private one): set TMPDIR to a folder others may enter"
fi
home="$work/home"
mkdir -p "$home" "$work/run" "$work/devices" "$work/mutex"
chmod 700 "$work/run" "$work/devices"
chown "$user" "$home" "$work/run" "$work/devices" "$work/mutex"
# The installation folder in the tree's settings is the installed data folder
# of this tree (the DESTDIR is not part of what the install writes), with a
# logs folder that is root's, as an installation's is.
mkdir -p "$data/Logs"
sed -i "s|^InstallPath=sz:.*|InstallPath=sz:$data|" "$etc/fotavi-machine.conf"
cp "$host" "$work/host"
chmod 755 "$work/host"
user_env=(env -i PATH=/usr/bin:/bin HOME="$home" XDG_RUNTIME_DIR="$work/run" FOTAVI_DEVICE_ROOT="$work/devices"
          FOTAVI_MUTEX_ROOT="$work/mutex" LANG=C.UTF-8)

"${run_as[@]}" "${user_env[@]}" "$bin/fotavi-camera-emulator" --root "$work/devices" --no-card > "$work/emulator.log" 2>&1 &
pids+=($!)
sockets() { [ "$(find "$work/devices" -type s 2>/dev/null | wc -l)" -ge 2 ]; }
wait_for "the installed camera emulator did not come up" sockets

# An X server of the test's own, open to that user for the test's length.
Xvfb -displayfd 3 -ac -nolisten tcp -screen 0 1280x1024x24 3> "$work/display" > "$work/xvfb.log" 2>&1 &
pids+=($!)
has_display() { [ -s "$work/display" ]; }
wait_for "Xvfb did not start" has_display
display=$(head -1 "$work/display")
user_env+=(DISPLAY=":$display" QT_QPA_PLATFORM=xcb)

logs="$home/.local/state/fotavi/Logs"
for program in Fotavi FotaviMov; do
  id=com.tiryx.$program
  "${run_as[@]}" "${user_env[@]}" "$bin/$program" > "$work/$program.log" 2>&1 &
  pid=$!
  pids+=($pid)
  window() {
    local w
    for w in $(DISPLAY=":$display" xdotool search --pid "$pid" 2> /dev/null); do
      DISPLAY=":$display" xprop -id "$w" WM_CLASS 2> /dev/null | grep -q '"' && { echo "$w"; return; }
    done
  }
  shown() { [ -n "$(window)" ]; }
  wait_for "$program shows no window" shown
  # The shell matches the window with its entry: by its class on X11 (the
  # entry's StartupWMClass), by the desktop file name on Wayland.
  class=$(sed -n 's/^StartupWMClass=//p' "$apps/$id.desktop")
  props=$(DISPLAY=":$display" xprop -id "$(window)" WM_CLASS)
  grep -q "\"$class\"" <<<"$props" || fail "$program's window class is not $class: $props"
  # The program reached the camera: its open is in the device log, in the
  # user's log folder, since the installation's is root's.
  opened() { grep -qs "END.*:bOpen[[:space:]]*$" "$logs"/Device*.log; }
  wait_for "$program did not reach the camera (no device log in $logs)" opened
  case $program in
    Fotavi) trace=FotaviPreTrc.log ;;
    FotaviMov) trace=FotaviMovTrc.log ;;
  esac
  # Its trace log says which JPEG library it took: none, as the installed
  # settings' JpegLib 0 asks (the programs' default is 1).
  traced() { grep -qs "The library is not used." "$logs/$trace"; }
  wait_for "$program's trace log $logs/$trace does not show the installed settings" traced
  kill "$pid"
  wait "$pid" 2>/dev/null || true
  rm -f "$logs"/Device*.log
done
[ -z "$(ls -A "$data/Logs")" ] || fail "a log was written into the root-owned installation folder"
[ -s "$logs/FotaviPreTrc.log" ] && [ -s "$logs/FotaviMovTrc.log" ] || fail "a trace log is missing in $logs"
if grep -q "cannot be written" "$work"/Fotavi*.log; then fail "a log was reported lost: $(cat "$work"/Fotavi*.log)"; fi

# The project's TWAIN host, run by the same user, acquires through the
# installed source. With the installation's logs folder now the user's, the
# device log goes there: the source found the installed machine settings
# (their InstallPath) from its own folder, not from the host's.
chown "$user" "$data/Logs"
"${run_as[@]}" "${user_env[@]}" "$work/host" "$twain/TiryxK27.ds" acquire > "$work/host.log" 2>&1 ||
  fail "the host could not acquire through the installed source"
grep -qs "END.*:bOpen[[:space:]]*$" "$data"/Logs/Device*.log || fail "the data source did not log into the installation's logs folder"
grep -qs "bRead" "$data"/Logs/Device*.log || fail "the data source's acquisition is not in the device log"

# The settings the user never wrote stay the installer's alone.
[ ! -e "$home/.config/fotavi/machine.conf" ] || fail "machine settings were written to the home folder"
# ---------------------------------------------------------------- uninstall
# What the install wrote goes again, with the project's own folders.
rm -rf "$data/Logs"
DESTDIR="$root" cmake --build "$build" --target uninstall > "$work/uninstall.log" 2>&1 || fail "the uninstall target"
left=$(find "$root" -type f -o -type l -o -iname '*fotavi*' -o -name twain)
[ -z "$left" ] || fail "left after uninstall: $left"
echo "installed tree checked under $prefix"
