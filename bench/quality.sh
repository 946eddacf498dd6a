#!/usr/bin/env bash
# Quality table: for each photograph, make the half-size input with `tvq downsample`,
# enlarge it back with each method and print the PSNR (dB) of the grey levels against
# the original (cut to 2w x 2h when its width or height is odd).
# Usage: bench/quality.sh [IMAGES_DIR]   (default: ../shared/data/images beside the checkout)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
images="${1:-$root/../shared/data/images}"
if [ ! -d "$images" ]; then
  echo "quality.sh: no pictures in $images; skipped"
  exit 0
fi
tvq="$root/build/src/cli/tvq"
[ -x "$tvq" ] || cmake --build "$root/build" --target tvq >/dev/null
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

psnr() { "$tvq" psnr --crop "$1" "$2" | sed -n 's/^PSNR = //p' | xargs printf '%.2f'; }

# Columns: resample = defaults; rs-black-lap = "Black image" start with the Laplacian;
# four single interpolators; lz+dr10 / lz+dr0 = Lanczos enlargement, then deringing with
# method 10 ("Local, 11x11, step 8") / 0 ("Global, modified"); rs-lz = Resample started
# from Lanczos, rs-lz+dr10 = the same with guided deringing method 10 (before / after).
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
