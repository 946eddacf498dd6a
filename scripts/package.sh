#!/usr/bin/env bash
# Builds the Debian packages of tvq into dist/ from a build folder (default build/):
# configures it for the /usr prefix (quick, and nothing is recompiled), builds what is
# missing, and runs CPack (packaging/cpack.cmake): tvq, tvq-app, and libtvq0,
# libtvq-dev and python3-tvq where the build has them. Then lintian checks every
# package and fails on an error.
#
#   scripts/package.sh [BUILD_DIR]
set -euo pipefail
TVQ_ROOT="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$TVQ_ROOT/build}" && pwd)"
dist="$TVQ_ROOT/dist"

# The installed paths of a Debian package: /usr, and the multiarch library folder.
cmake -S "$TVQ_ROOT" -B "$build" -DCMAKE_INSTALL_PREFIX=/usr -UCMAKE_INSTALL_LIBDIR >/dev/null
cmake --build "$build" -j "$(nproc)"

rm -rf "$dist"
mkdir -p "$dist"
# fakeroot: the files in the packages belong to root whoever builds them.
(cd "$build" && fakeroot cpack -G DEB -B "$dist" >/dev/null)
rm -rf "$dist/_CPack_Packages"
ls "$dist"/*.deb

if command -v lintian >/dev/null; then
  lintian --fail-on error "$dist"/*.deb
else
  echo "lintian is not installed: the packages were not checked" >&2
fi
