#!/usr/bin/env bash
# What the Python module adds to a call: times the same command on the same 1 MP
# picture through the C++ API and through the Python module (no file I/O in either
# timing), keeps the shortest of N runs of each, and fails when Python is more than 5 %
# slower. The C++ side is the command-line tool's work without reading and writing.
#
# Usage: bench/api_speed.sh [--build DIR] [--runs N] [--size N]
#   --build DIR  an existing build with libtvq and the Python module (default: build/)
#   --runs N     runs of each call, the shortest kept (default 3)
#   --size N     side of the square picture (default 1024)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build"
runs=3
size=1024
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build="$2"; shift 2 ;;
    --runs) runs="$2"; shift 2 ;;
    --size) size="$2"; shift 2 ;;
    -h | --help) sed -n '2,11s/^# \{0,1\}//p' "$0"; exit 0 ;;
    *) echo "api_speed.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done
build="$(cd "$build" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# The C++ side: writes the picture (edges on a gradient) for both, then times each call.
cat >"$work/speed.cpp" <<'CPP'
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "tvq/tvq.hpp"

int main(int argc, char** argv) {
  const int size = std::atoi(argv[2]), runs = std::atoi(argv[3]);
  tvq::Image image(size, size, 3, tvq::SampleType::kUInt8);
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size * 3; ++x)
      image.Row(y)[x] = static_cast<std::uint8_t>(((x / 3) / 64 + y / 48) % 2 ? 200 - y / 8 : 30 + x / 24);
  tvq::Write(argv[1], image);
  const auto time = [&](const char* name, const std::function<void()>& call) {
    double best = 1e30;
    for (int i = 0; i < runs; ++i) {
      const auto start = std::chrono::steady_clock::now();
      call();
      best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    std::printf("%s %.6f\n", name, best);
  };
  tvq::ResampleOptions resample;
  resample.iterations = 10;
  time("resample", [&] { tvq::Resample(image, resample); });
  time("dering", [&] { tvq::Dering(image); });
  time("greyscale", [&] { tvq::Greyscale(image); });
}
CPP
c++ -std=c++20 -O2 -I"$root/include" -I"$build/include" "$work/speed.cpp" -o "$work/speed" \
  -L"$build/src/api" -ltvq -Wl,-rpath,"$build/src/api"
"$work/speed" "$work/picture.png" "$size" "$runs" >"$work/cpp.txt"

PYTHONPATH="$build/python" /usr/bin/python3 - "$work/picture.png" "$runs" >"$work/py.txt" <<'PY'
import sys, time
import tvq
array, _ = tvq.read(sys.argv[1])
runs = int(sys.argv[2])
for name, call in (("resample", lambda: tvq.resample(array, iterations=10)),
                   ("dering", lambda: tvq.dering(array)),
                   ("greyscale", lambda: tvq.greyscale(array))):
    best = float("inf")
    for _ in range(runs):
        start = time.perf_counter()
        call()
        best = min(best, time.perf_counter() - start)
    print(name, "%.6f" % best)
PY

echo "command      C++ s    Python s  Python / C++ (${size} x ${size}, shortest of ${runs})"
status=0
while read -r name cpp && read -r _ py <&3; do
  ratio=$(awk -v a="$py" -v b="$cpp" 'BEGIN { printf "%.3f", a / b }')
  printf "%-10s %8.4f %10.4f  %s\n" "$name" "$cpp" "$py" "$ratio"
  # Commands of a few milliseconds are left out of the verdict: their timing noise
  # exceeds 5 %.
  if awk -v r="$ratio" -v b="$cpp" 'BEGIN { exit !(r > 1.05 && b > 0.05) }'; then status=1; fi
done <"$work/cpp.txt" 3<"$work/py.txt"
[ $status -eq 0 ] && echo "within 5 %" || echo "Python is more than 5 % slower" >&2
exit $status
