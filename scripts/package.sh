#!/usr/bin/env bash
# Builds the Debian packages: configures a build of its own for the prefix
# /usr without the tests, builds it and runs CPack's DEB generator. The
# packages land in that build folder (default build-deb/):
#   fotavi-common_<version>_<arch>.deb           private modules, machine settings
#   fotavi_<version>_<arch>.deb                  Fotavi and FotaviMov
#   fotavi-twain_<version>_<arch>.deb            the TWAIN data source
#   fotavi-camera-emulator_<version>_<arch>.deb  the camera emulator
# Install them with `apt-get install ./build-deb/*.deb`.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$here"
bash scripts/setup.sh
build="${FOTAVI_PACKAGE_DIR:-$here/build-deb}"
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
      -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" --parallel "$(nproc)"
rm -f "$build"/*.deb
(cd "$build" && cpack -G DEB)
ls -1 "$build"/*.deb
