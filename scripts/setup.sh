#!/usr/bin/env bash
# Installs the Debian 12 packages the project builds and tests with.
# Idempotent and non-interactive; needs root for apt-get.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev
  qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev
  libjpeg62-turbo-dev libturbojpeg0-dev libjpeg-turbo-progs
  libavformat-dev libavcodec-dev libavutil-dev libswscale-dev
  ffmpeg libimage-exiftool-perl
  mediainfo gstreamer1.0-tools gstreamer1.0-plugins-base-apps
  gstreamer1.0-plugins-good gstreamer1.0-plugins-ugly
  xdg-utils
  libreoffice-impress-nogui libpoppler-qt6-dev exiv2
  adwaita-icon-theme
  xvfb xdotool x11-utils valgrind
  desktop-file-utils appstream dpkg-dev
  # scripts/fuzz.sh: clang with libFuzzer and the sanitizer runtimes
  clang-14 libclang-rt-14-dev
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "These packages are missing. Install them as root with:" >&2
  echo "  apt-get update && apt-get install -y --no-install-recommends ${missing[*]}" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q --no-install-recommends "${missing[@]}"
