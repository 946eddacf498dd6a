#!/usr/bin/env bash
# Speed table: runs every command on a photograph-like picture three times - with the
# plain single-thread loops (TVQ_KERNELS=reference), with the fast kernels on one
# thread, and with the fast kernels on all cores - and prints the seconds, the ratio
# reference / all cores, and whether the three outputs are identical (PFM files, so
# identical means float for float). With --baseline, the same command of another tvq
# program (an earlier build) runs too, as it would for a user, and the table adds its
# seconds, the ratio baseline / all cores and whether its output is the same.
#
# Usage: bench/speed.sh [--build DIR] [--baseline DIR] [--size N] [--runs N] [--images DIR]
#                       [COMMAND...]
#   --build DIR   an existing build (default: build/ of this checkout); nothing is built
#   --baseline DIR  a build (DIR/src/cli/tvq) or a folder holding a tvq program
#   --size N      side of the square test picture (default 1024)
#   --runs N      run each command N times and keep the shortest time (default 1)
#   --images DIR  the photographs (default: ../shared/data/images beside the checkout)
#   COMMAND...    the rows of these names, and those named NAME-...: `dering` is every
#                 deringing row (`dering-default` the default method, `dering-3` method
#                 3), `upscale` every enlarger; without any, every row
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build"
size=1024
runs=1
images="$root/../shared/data/images"
filters=()
baseline=""
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build="$2"; shift 2 ;;
    --size) size="$2"; shift 2 ;;
    --runs) runs="$2"; shift 2 ;;
    --images) images="$2"; shift 2 ;;
    --baseline) baseline="$2"; shift 2 ;;
    -h | --help) sed -n '2,21s/^# \{0,1\}//p' "$0"; exit 0 ;;
    -*) echo "speed.sh: unknown option $1" >&2; exit 2 ;;
    *) filters+=("$1"); shift ;;
  esac
done
for n in "$size" "$runs"; do
  case "$n" in '' | *[!0-9]*) echo "speed.sh: --size and --runs need a number" >&2; exit 2 ;; esac
done
if [ "$runs" -lt 1 ]; then echo "speed.sh: --runs must be at least 1" >&2; exit 2; fi
if [ "$size" -lt 16 ]; then echo "speed.sh: --size must be at least 16" >&2; exit 2; fi
tvq="$build/src/cli/tvq"
if [ ! -x "$tvq" ]; then
  echo "speed.sh: no tvq program in $build; build first (./run or ./test)" >&2
  exit 1
fi
base=""
if [ -n "$baseline" ]; then
  for candidate in "$baseline/src/cli/tvq" "$baseline/tvq" "$baseline"; do
    if [ -f "$candidate" ] && [ -x "$candidate" ]; then base="$candidate"; break; fi
  done
  if [ -z "$base" ]; then
    echo "speed.sh: no tvq program in $baseline (looked for src/cli/tvq and tvq)" >&2
    exit 1
  fi
fi
if [ ! -d "$images" ]; then
  echo "speed.sh: no photographs in $images; skipped"
  exit 0
fi
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# The test picture: a 3 x 3 mosaic of the photographs (colour ones first) at their own
# resolution (no resampling, so it keeps their noise and sharp edges), each cell cut
# from the middle of a photograph and mirrored at its borders where it is smaller.
c++ -std=c++17 -O2 -x c++ -o "$work/mosaic" - <<'EOF'
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>
struct Picture { int w = 0, h = 0; std::vector<std::uint8_t> bgr; };
std::uint32_t U32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | std::uint32_t(b[at + 3]) << 24;
}
// Reads a bottom-up or top-down 24-bit BI_RGB file; an empty picture otherwise.
Picture Read(const char* path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::uint8_t> b((std::istreambuf_iterator<char>(in)), {});
  Picture p;
  if (b.size() < 54 || b[0] != 'B' || b[1] != 'M' || (b[28] | b[29] << 8) != 24 || U32(b, 30))
    return p;
  const int w = int(U32(b, 18)), hs = int(U32(b, 22)), h = std::abs(hs);
  const std::size_t stride = (3 * std::size_t(w) + 3) / 4 * 4, offset = U32(b, 10);
  if (w <= 0 || h <= 0 || offset + stride * h > b.size()) return p;
  p.w = w, p.h = h, p.bgr.resize(3 * std::size_t(w) * h);
  for (int y = 0; y < h; ++y) {
    const std::size_t row = offset + stride * std::size_t(hs > 0 ? h - 1 - y : y);
    std::copy(b.begin() + row, b.begin() + row + 3 * w, p.bgr.begin() + 3 * std::size_t(y) * w);
  }
  return p;
}
int Mirror(int i, int n) {
  i %= 2 * n;
  return i < n ? i : 2 * n - 1 - i;
}
int main(int argc, char** argv) {
  const int size = std::atoi(argv[1]), cell = (size + 2) / 3;
  std::vector<Picture> photos;
  for (int i = 3; i < argc; ++i)
    if (Picture p = Read(argv[i]); p.w >= 128 && p.h >= 128) photos.push_back(p);
  if (photos.empty()) return 1;
  // Colour photographs first, so that most cells are in colour.
  std::stable_partition(photos.begin(), photos.end(), [](const Picture& p) {
    for (std::size_t i = 0; i + 2 < p.bgr.size(); i += 3)
      if (p.bgr[i] != p.bgr[i + 1] || p.bgr[i + 1] != p.bgr[i + 2]) return true;
    return false;
  });
  const std::size_t stride = (3 * std::size_t(size) + 3) / 4 * 4;
  std::vector<std::uint8_t> file(54 + stride * size);
  auto put = [&](std::size_t at, std::uint32_t v, int bytes) {
    for (int k = 0; k < bytes; ++k) file[at + k] = std::uint8_t(v >> 8 * k);
  };
  file[0] = 'B', file[1] = 'M';
  put(2, std::uint32_t(file.size()), 4), put(10, 54, 4), put(14, 40, 4), put(18, size, 4);
  put(22, size, 4), put(26, 1, 2), put(28, 24, 2), put(34, std::uint32_t(stride * size), 4);
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) {
      const Picture& p = photos[(y / cell * 3 + x / cell) % photos.size()];
      const int sx = Mirror(x % cell + (p.w > cell ? (p.w - cell) / 2 : 0), p.w);
      const int sy = Mirror(y % cell + (p.h > cell ? (p.h - cell) / 2 : 0), p.h);
      for (int k = 0; k < 3; ++k)
        file[54 + stride * (size - 1 - y) + 3 * x + k] = p.bgr[3 * (std::size_t(sy) * p.w + sx) + k];
    }
  std::ofstream(argv[2], std::ios::binary).write(reinterpret_cast<const char*>(file.data()),
                                                 std::streamsize(file.size()));
  return 0;
}
EOF
photos=()
for f in "$images"/*.bmp; do
  case "$f" in *_lr.bmp) ;; *) photos+=("$f") ;; esac
done
picture="$work/photo.bmp"
if [ ${#photos[@]} -eq 0 ] || ! "$work/mosaic" "$size" "$picture" "${photos[@]}"; then
  echo "speed.sh: no usable 24-bit photographs in $images; skipped"
  exit 0
fi

# Rows: name and the tvq arguments before IN OUT.
rows=("resample|resample" "dering-default|dering")
for m in $(seq 0 14); do
  [ "$m" -eq 10 ] || rows+=("dering-$m|dering --method $m")
done
rows+=("dering-mask|dering --mask" "mask|mask")
for m in gradient gradient-color nedi lanczos bilinear directional; do
  rows+=("upscale-$m|upscale --method $m")
done
rows+=("downsample|downsample" "canny|canny" "grey|grey")

selected() {
  [ ${#filters[@]} -eq 0 ] && return 0
  local f
  for f in "${filters[@]}"; do
    case "$1" in "$f" | "$f"-*) return 0 ;; esac
  done
  return 1
}

# seconds ENV... PROGRAM ARGS...: runs the program under `env` --runs times, prints the
# shortest wall-clock seconds, or "failed" (its messages go to stderr).
TIMEFORMAT=%3R
seconds() {
  local log="$work/log" t best="" i
  for ((i = 0; i < runs; ++i)); do
    if ! t="$( { time env "$@" >"$log" 2>&1; } 2>&1)"; then
      cat "$log" >&2
      echo failed
      return
    fi
    if [ -z "$best" ] || awk -v a="$t" -v b="$best" 'BEGIN { exit !(a < b) }'; then best="$t"; fi
  done
  echo "$best"
}

chosen=()
for row in "${rows[@]}"; do
  if selected "${row%%|*}"; then chosen+=("$row"); fi
done
if [ ${#chosen[@]} -eq 0 ]; then
  echo "speed.sh: no command matches ${filters[*]}" >&2
  exit 2
fi

cores="$(nproc)"
echo "tvq speed: ${size}x${size} 24-bit mosaic of the photographs in $images"
echo "build $build; $cores cores; whole-process wall-clock seconds, shortest of $runs run(s)."
echo "Quick commands are dominated by reading and writing the files; the Google Benchmark"
echo "programs in bench/ give the kernel times. ratio = reference / all cores."
if [ -n "$base" ]; then
  echo "baseline $base: ratio/base = baseline / all cores; same = its output equals the reference."
  printf '\n%-22s %10s %10s %10s %7s %10s %10s  %s %s\n' command reference 1-thread \
    "$cores-thread" ratio baseline ratio/base identical same
else
  printf '\n%-22s %10s %10s %10s %7s  %s\n' command reference 1-thread "$cores-thread" ratio identical
fi
for row in "${chosen[@]}"; do
  name="${row%%|*}"
  read -r -a args <<<"${row#*|}"
  ref="$work/ref.pfm" one="$work/one.pfm" all="$work/all.pfm"
  rm -f "$ref" "$one" "$all"
  tr="$(seconds TVQ_KERNELS=reference "$tvq" "${args[@]}" --quiet "$picture" "$ref")"
  t1="$(seconds -u TVQ_KERNELS "$tvq" "${args[@]}" --quiet --threads 1 "$picture" "$one")"
  tn="$(seconds -u TVQ_KERNELS "$tvq" "${args[@]}" --quiet "$picture" "$all")"
  ratio=-
  case "$tr$tn" in
    *failed*) ;;
    *) ratio="$(awk -v a="$tr" -v b="$tn" 'BEGIN { if (b > 0) printf "%.1fx", a / b; else print "-" }')" ;;
  esac
  if [ -f "$ref" ] && cmp -s "$ref" "$one" && cmp -s "$ref" "$all"; then
    same=yes
  else
    same=NO
  fi
  if [ -z "$base" ]; then
    printf '%-22s %10s %10s %10s %7s  %s\n' "$name" "$tr" "$t1" "$tn" "$ratio" "$same"
    continue
  fi
  # The baseline runs with its own defaults (an earlier build may not know --threads or
  # TVQ_KERNELS); a command or option it does not know shows as failed.
  old="$work/base.pfm"
  rm -f "$old"
  tb="$(seconds -u TVQ_KERNELS "$base" "${args[@]}" --quiet "$picture" "$old" 2>/dev/null)"
  rb=-
  case "$tb$tn" in
    *failed*) ;;
    *) rb="$(awk -v a="$tb" -v b="$tn" 'BEGIN { if (b > 0) printf "%.1fx", a / b; else print "-" }')" ;;
  esac
  if [ -f "$old" ] && [ -f "$ref" ] && cmp -s "$ref" "$old"; then old=yes; else old=NO; fi
  printf '%-22s %10s %10s %10s %7s %10s %10s  %-9s %s\n' "$name" "$tr" "$t1" "$tn" "$ratio" "$tb" \
    "$rb" "$same" "$old"
done
