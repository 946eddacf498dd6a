#!/usr/bin/env bash
# Prints one checksum line per command run over the sample pictures, so that two
# builds can be compared byte for byte: scripts/output-digests.sh TVQ IMAGEDIR > a.txt
# with each build, then diff the two files.
set -euo pipefail
tvq="$1"
images="$2"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
runs=(
  "resample|.bmp"
  "resample|.pfm"
  "resample --dering 10|.pfm"
  "resample --dering 14 --mask|.pfm"
  "resample --mask|.bmp"
  "resample --stabilizer laplace --convergence conditional|.pfm"
  "resample --init black --min-factor 0.2|.pfm"
  "resample --fractal|.bmp"
  "dering|.bmp"
  "dering|.pfm"
  "dering --method 0|.pfm"
  "dering --method 5|.bmp"
  "dering --mask|.pfm"
  "mask|.bmp"
  "downsample|.bmp"
  "noise|.bmp"
  "grey|.bmp"
  "canny|.bmp"
  "upscale --method gradient|.bmp"
  "upscale --method gradient-color|.bmp"
  "upscale --method nedi|.bmp"
  "upscale --method lanczos|.pfm"
  "upscale --method bilinear|.bmp"
  "upscale --method directional|.bmp"
  "resample|.png"
  "dering|.tif"
)
for image in "$images"/*_lr.bmp; do
  name="$(basename "$image" .bmp)"
  for run in "${runs[@]}"; do
    args="${run%|*}"
    ext="${run#*|}"
    out="$work/out$ext"
    rm -f "$out"
    # shellcheck disable=SC2086
    status=0
    "$tvq" $args --quiet "$image" "$out" >/dev/null 2>&1 || status=$?
    if [ -f "$out" ]; then sum="$(md5sum <"$out" | cut -d' ' -f1)"; else sum="-"; fi
    echo "$name | $args $ext | exit $status | $sum"
  done
  echo "$name | psnr | $("$tvq" psnr "$image" "$image" 2>&1 | tr '\n' ' ')"
done
