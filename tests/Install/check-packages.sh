#!/usr/bin/env bash
# Runs CPack's DEB generator on the build into a temporary folder and checks
# the packages: one per component, each with its own files only, stripped,
# the programs and the source depending on fotavi-common of the same version
# and on the libraries dpkg-shlibdeps found, nothing a Debian root lacks.
#   check-packages.sh <build folder>
set -euo pipefail
build=$1
for tool in cpack dpkg-deb dpkg-shlibdeps; do
  command -v "$tool" > /dev/null || { echo "FAIL: $tool is missing (scripts/setup.sh installs it)" >&2; exit 1; }
done
work=$(mktemp -d "${TMPDIR:-/tmp}/fotavi-packages-XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

(cd "$build" && cpack -G DEB -B "$work" > "$work/cpack.log" 2>&1) || { cat "$work/cpack.log" >&2; fail "cpack -G DEB"; }
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || fail "the project has no version"
arch=$(dpkg --print-architecture)

# package: files it must hold (patterns), and nothing of the others'.
declare -A holds=(
  [fotavi-common]='/lib/.*fotavi/libFotaviPlatform.so.1$ /lib/.*fotavi/FotaviZ5.so$ /lib/.*fotavi/FotaviSIMD_Z5.so$ /etc/fotavi/fotavi-machine.conf$'
  [fotavi]='/bin/Fotavi$ /bin/FotaviMov$ /share/fotavi/Profile/XGA.prx$ /share/applications/com.tiryx.Fotavi.desktop$ /share/icons/hicolor/256x256/apps/com.tiryx.FotaviMov.png$ /share/metainfo/com.tiryx.Fotavi.metainfo.xml$'
  [fotavi-twain]='/lib/twain/TiryxK27/TiryxK27.ds$'
  [fotavi-camera-emulator]='/bin/fotavi-camera-emulator$'
)
declare -A count=([fotavi-common]=5 [fotavi]=25 [fotavi-twain]=1 [fotavi-camera-emulator]=1)
for package in "${!holds[@]}"; do
  deb="$work/${package}_${version}_${arch}.deb"
  [ -f "$deb" ] || fail "$deb was not made: $(ls "$work")"
  [ "$(dpkg-deb -f "$deb" Package)" = "$package" ] || fail "$deb is not $package"
  [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "$deb is not version $version"
  files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}')
  for pattern in ${holds[$package]}; do
    grep -q "$pattern" <<<"$files" || fail "$package lacks $pattern: $files"
  done
  [ "$(wc -l <<<"$files")" = "${count[$package]}" ] || fail "$package holds $(wc -l <<<"$files") files, not ${count[$package]}: $files"
  depends=$(dpkg-deb -f "$deb" Depends)
  grep -q "libc6 (>=" <<<"$depends" || fail "$package's dependencies were not found from its binaries: $depends"
  case $package in
    fotavi | fotavi-twain)
      grep -q "fotavi-common (= $version)" <<<"$depends" || fail "$package does not depend on fotavi-common $version: $depends"
      grep -q "libqt6widgets6" <<<"$depends" || fail "$package does not depend on Qt's widgets: $depends"
      ;;
  esac
  # Unpacked, every binary is stripped.
  mkdir -p "$work/root-$package"
  dpkg-deb -x "$deb" "$work/root-$package"
  while IFS= read -r f; do
    if head -c 4 "$f" | grep -q $'\x7fELF' && readelf -S "$f" | grep -q '\.debug_info\|\.symtab'; then
      fail "$package: $f is not stripped"
    fi
  done < <(find "$work/root-$package" -type f)
done
[ "$(ls "$work"/*.deb | wc -l)" = 4 ] || fail "not four packages: $(ls "$work")"
echo "packages checked: $(cd "$work" && ls *.deb | tr '\n' ' ')"
