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

methods=("resample" "resample-black-laplace" "bilinear" "lanczos" "gradient" "nedi"
  "lanczos+dering10" "lanczos+dering0" "resample-lanczos+dering10")
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
      resample-black-laplace) "$tvq" resample --quiet --init black --stabilizer laplace "$lr" "$out" ;;
      lanczos+dering10)
        "$tvq" upscale --quiet --method lanczos "$lr" "$work/l.bmp"
        "$tvq" dering --quiet --method 10 "$work/l.bmp" "$out" ;;
      lanczos+dering0)
        "$tvq" upscale --quiet --method lanczos "$lr" "$work/l.bmp"
        "$tvq" dering --quiet --method 0 "$work/l.bmp" "$out" ;;
      resample-lanczos+dering10) "$tvq" resample --quiet --init lanczos --dering 10 "$lr" "$out" ;;
      *) "$tvq" upscale --quiet --method "$m" "$lr" "$out" ;;
    esac
    printf ' %12s' "$(psnr "$original" "$out")"
  done
  printf '\n'
done
