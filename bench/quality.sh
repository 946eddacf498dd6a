#!/usr/bin/env bash
# Quality table: for each photograph, make the half-size input with `tvq downsample`,
# enlarge it back with each method and print the PSNR (dB) of the grey levels against
# the original (cut to 2w x 2h when its width or height is odd).
# A second table does the same at other factors (see sizes_table below).
# Usage: bench/quality.sh [--sizes-only] [IMAGES_DIR]
#        (default: ../shared/data/images beside the checkout)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
sizes_only=0
if [ "${1:-}" = "--sizes-only" ]; then
  sizes_only=1
  shift
fi
images="${1:-$root/../shared/data/images}"
if [ ! -d "$images" ]; then
  echo "quality.sh: no pictures in $images; skipped"
  exit 0
fi
tvq="$root/build/src/cli/tvq"
[ -x "$tvq" ] || cmake --build "$root/build" --target tvq >/dev/null
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

lowres="$root/build/bench/tvq_lowres"

psnr() { "$tvq" psnr --crop "$1" "$2" | sed -n 's/^PSNR = //p' | xargs printf '%.2f'; }

# Columns: resample = defaults; rs-black-lap = "Black image" start with the Laplacian;
# four single interpolators; lz+dr10 / lz+dr0 = Lanczos enlargement, then deringing with
# method 10 ("Local, 11x11, step 8") / 0 ("Global, modified"); rs-lz = Resample started
# from Lanczos, rs-lz+dr10 = the same with guided deringing method 10 (before / after).
two_times_table() {
methods=("resample" "rs-black-lap" "bilinear" "lanczos" "gradient" "nedi"
  "lz+dr10" "lz+dr0" "rs-lz" "rs-lz+dr10")
printf '%-12s' picture
for m in "${methods[@]}"; do printf ' %12s' "${m:0:12}"; done
printf '\n'
for original in "$images"/*.bmp; do
  name="$(basename "$original" .bmp)"
  case "$name" in *_lr) continue ;; esac
  lr="$work/$name.lr.bmp"
  "$tvq" downsample --quiet "$original" "$lr"
  printf '%-12s' "$name"
  for m in "${methods[@]}"; do
    out="$work/$name.$m.bmp"
    case "$m" in
      resample) "$tvq" resample --quiet "$lr" "$out" ;;
      rs-black-lap) "$tvq" resample --quiet --init black --stabilizer laplace "$lr" "$out" ;;
      lz+dr10)
        "$tvq" upscale --quiet --method lanczos "$lr" "$work/l.bmp"
        "$tvq" dering --quiet --method 10 "$work/l.bmp" "$out" ;;
      lz+dr0)
        "$tvq" upscale --quiet --method lanczos "$lr" "$work/l.bmp"
        "$tvq" dering --quiet --method 0 "$work/l.bmp" "$out" ;;
      rs-lz) "$tvq" resample --quiet --init lanczos "$lr" "$out" ;;
      rs-lz+dr10) "$tvq" resample --quiet --init lanczos --dering 10 "$lr" "$out" ;;
      *) "$tvq" upscale --quiet --method "$m" "$lr" "$out" ;;
    esac
    printf ' %12s' "$(psnr "$original" "$out")"
  done
  printf '\n'
done
}

# The table at other factors S: the low-resolution input is made by the imaging model
# (4x: `tvq downsample` twice; 2x: once; other factors: a Gaussian blur of deviation
# S / 2 and the samples at S * x, bench/lowres.cpp), enlarged back S times and compared
# with the original in Y-PSNR (dB, the grey levels) over the part both share. Columns:
# lanczos = `tvq resize --scale S` (Lanczos 3 lobes on the same grid, the baseline);
# passes = `tvq resample --scale S --size-method passes` (2x passes, one reduction);
# direct = `tvq resample --scale S` (the default: the solve at the next whole factor
# from 2.5x on, the passes below); gain = direct - lanczos.
sizes_table() {
  [ -x "$lowres" ] || cmake --build "$root/build" --target tvq_lowres >/dev/null
  printf '\n%-12s %6s %9s %9s %9s %7s\n' picture factor lanczos passes direct gain
  for factor in 1.5 2 2.5 3 4; do
    local n=0 sum_l=0 sum_p=0 sum_d=0
    for original in "$images"/*.bmp; do
      name="$(basename "$original" .bmp)"
      case "$name" in *_lr | spoon_small) continue ;; esac
      hr="$work/$name.hr.png"
      lr="$work/$name.lr$factor.png"
      [ -f "$hr" ] || "$tvq" resize --quiet --scale 1 "$original" "$hr"
      if [ "$factor" = 4 ]; then
        "$tvq" downsample --quiet "$hr" "$work/half.png"
        "$tvq" downsample --quiet "$work/half.png" "$lr"
      elif [ "$factor" = 2 ]; then
        "$tvq" downsample --quiet "$hr" "$lr"
      else
        "$lowres" "$hr" "$lr" "$factor"
      fi
      "$tvq" resize --quiet --scale "$factor" "$lr" "$work/l.png"
      "$tvq" resample --quiet --scale "$factor" --size-method passes "$lr" "$work/p.png"
      "$tvq" resample --quiet --scale "$factor" "$lr" "$work/d.png"
      l="$(psnr "$hr" "$work/l.png")"
      p="$(psnr "$hr" "$work/p.png")"
      d="$(psnr "$hr" "$work/d.png")"
      printf '%-12s %6s %9s %9s %9s %7.2f\n' "$name" "$factor" "$l" "$p" "$d" \
        "$(echo "$d - $l" | bc)"
      n=$((n + 1))
      sum_l="$(echo "$sum_l + $l" | bc)"
      sum_p="$(echo "$sum_p + $p" | bc)"
      sum_d="$(echo "$sum_d + $d" | bc)"
    done
    printf '%-12s %6s %9.2f %9.2f %9.2f %7.2f\n' average "$factor" \
      "$(echo "$sum_l / $n" | bc -l)" "$(echo "$sum_p / $n" | bc -l)" \
      "$(echo "$sum_d / $n" | bc -l)" "$(echo "($sum_d - $sum_l) / $n" | bc -l)"
  done
}

[ "$sizes_only" = 1 ] || two_times_table
sizes_table
