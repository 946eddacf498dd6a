#!/usr/bin/env bash
# Installs a build (examples/cpp/test-installed.sh BUILDDIR) into a scratch prefix,
# builds the example against it with CMake and with pkg-config, runs both on a small
# picture, and imports the installed Python module with Debian's python3.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="$(cd "$1" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
libdir="$(dirname "$(find "$prefix" -name 'libtvq.so' | head -1)")"

# A small picture to enlarge, written by the tool itself.
"$build/src/cli/tvq" downsample "$root/tests/data/resample_golden.pfm" "$work/in.png"

cmake -S "$root/examples/cpp" -B "$work/example" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_BUILD_RPATH="$libdir" >/dev/null
cmake --build "$work/example" >/dev/null
"$work/example/enlarge" "$work/in.png" "$work/cmake.png" 2>/dev/null

PKG_CONFIG_PATH="$libdir/pkgconfig" c++ -std=c++17 -Wall -Wextra -Wpedantic -Werror \
  "$root/examples/cpp/enlarge.cpp" -o "$work/enlarge-pc" \
  $(PKG_CONFIG_PATH="$libdir/pkgconfig" pkg-config --cflags --libs tvq) -Wl,-rpath,"$libdir"
"$work/enlarge-pc" "$work/in.png" "$work/pc.png" 2>/dev/null

"$build/src/cli/tvq" resample "$work/in.png" "$work/tool.png"
cmp "$work/cmake.png" "$work/tool.png"
cmp "$work/pc.png" "$work/tool.png"

pydir="$(dirname "$(find "$prefix" -name 'tvq.cpython-*.so' | head -1)")"
PYTHONPATH="$pydir" /usr/bin/python3 -c 'import tvq; assert tvq.__version__' 
echo "installed library: the example built with CMake and pkg-config gives the tool's bytes"
