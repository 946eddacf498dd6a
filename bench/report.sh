#!/usr/bin/env bash
# The quality report: enlarges the low-resolution photographs of ../shared/data/images
# (NAME_lr.bmp, made by Downsampling) two times with the aligned Lanczos baseline and the
# tvq variants, measures each against NAME.bmp with `tvq compare --crop --shave 2`, and
# writes bench/report/index.html: the averages of every measure per method, the figures
# per picture, and for each picture crops of one region side by side (reference, then
# each method) above their difference maps (|Y difference| 0..32 levels as viridis).
# bench/report/strip.png, the crop strip README shows, is rewritten too; the rest of
# bench/report/ is generated and not kept in the repository.
# Usage: bench/report.sh [IMAGES_DIR]   (uses the existing build/, building only the
#        tvq and tvq_strip targets when they are missing; configure with
#        -DTVQ_BUILD_BENCH=ON for tvq_strip)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
images="${1:-$root/../shared/data/images}"
if [ ! -d "$images" ]; then
  echo "report.sh: no pictures in $images; skipped"
  exit 0
fi
tvq="$root/build/src/cli/tvq"
strip="$root/build/bench/tvq_strip"
[ -x "$tvq" ] || cmake --build "$root/build" --target tvq >/dev/null
[ -x "$strip" ] || cmake --build "$root/build" --target tvq_strip >/dev/null
out="$root/bench/report"
mkdir -p "$out/pictures"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# Methods: key, caption, how the enlargement is made from $lr into $1.
methods=(lanczos resample resample-dr10 rs-lanczos-dr10 lanczos-dr10 lanczos-dr0)
caption() {
  case "$1" in
    lanczos) echo "Aligned Lanczos (resize --scale 2)" ;;
    resample) echo "tvq resample (defaults)" ;;
    resample-dr10) echo "tvq resample --dering 10" ;;
    rs-lanczos-dr10) echo "tvq resample --init lanczos --dering 10" ;;
    lanczos-dr10) echo "Lanczos + tvq dering --method 10" ;;
    lanczos-dr0) echo "Lanczos + tvq dering --method 0" ;;
  esac
}
enlarge() {
  local method="$1" lr="$2" to="$3"
  case "$method" in
    lanczos) "$tvq" resize --quiet --scale 2 "$lr" "$to" ;;
    resample) "$tvq" resample --quiet "$lr" "$to" ;;
    resample-dr10) "$tvq" resample --quiet --dering 10 "$lr" "$to" ;;
    rs-lanczos-dr10) "$tvq" resample --quiet --init lanczos --dering 10 "$lr" "$to" ;;
    lanczos-dr10 | lanczos-dr0)
      "$tvq" resize --quiet --scale 2 "$lr" "$work/l.png"
      "$tvq" dering --quiet --method "${method#lanczos-dr}" "$work/l.png" "$to" ;;
  esac
}
# The crop region (x y) of each picture, 64 x 64 pixels, where edges and ringing show.
region() {
  case "$1" in
    camera) echo "150 60" ;;
    brick) echo "96 96" ;;
    text) echo "40 40" ;;
    page) echo "100 60" ;;
    rocket) echo "140 80" ;;
    coffee) echo "150 170" ;;
    *) echo "0 0" ;;
  esac
}
strip_picture=coffee  # the strip README shows

results="$work/results.tsv"
: >"$results"
for original in "$images"/*.bmp; do
  name="$(basename "$original" .bmp)"
  case "$name" in *_lr | spoon_small) continue ;; esac
  lr="$images/${name}_lr.bmp"
  [ -f "$lr" ] || continue
  echo "report.sh: $name" >&2
  row=("$original")
  diffs=()
  for m in "${methods[@]}"; do
    result="$work/$name.$m.png"
    enlarge "$m" "$lr" "$result"
    diff="$out/pictures/$name.$m.diff.png"
    json="$("$tvq" compare --json --quiet --crop --shave 2 --diff "$diff" "$original" "$result")"
    printf '%s\t%s\t%s\n' "$name" "$m" "$json" >>"$results"
    row+=("$result")
    diffs+=("$diff")
  done
  read -r x y <<<"$(region "$name")"
  # Crops 3x: the pictures, then under them the difference maps (under the reference: none).
  "$strip" "$out/pictures/$name.crops.png" "$x" "$y" 64 64 3 "${row[@]}" / "$original" \
    "${diffs[@]}"
  if [ "$name" = "$strip_picture" ]; then
    "$strip" "$out/strip.png" "$x" "$y" 64 64 2 "${row[@]:0:4}" / "$original" "${diffs[@]:0:3}"
  fi
done

captions="$work/captions.tsv"
for m in "${methods[@]}"; do printf '%s\t%s\n' "$m" "$(caption "$m")"; done >"$captions"
/usr/bin/python3 - "$results" "$captions" "$out/index.html" <<'PY'
import html, json, sys
results, captions, target = sys.argv[1:4]
methods = [l.rstrip("\n").split("\t") for l in open(captions)]
rows = [l.rstrip("\n").split("\t", 2) for l in open(results)]
data = {(n, m): json.loads(j) for n, m, j in rows}
names = list(dict.fromkeys(n for n, _, _ in rows))
columns = [("PSNR Y", lambda r: r["psnr_y"], 2), ("PSNR RGB", lambda r: r["psnr_rgb"], 2),
           ("SSIM", lambda r: r["ssim"], 4), ("MS-SSIM", lambda r: r["ms_ssim"], 4),
           ("GMSD", lambda r: r["gmsd"], 4), ("Edge PSNR Y", lambda r: r["edge"]["psnr_y"], 2),
           ("Edge overshoot", lambda r: r["edge"]["overshoot"], 3)]

def mean(values):
    values = [v for v in values if v is not None]
    return sum(values) / len(values) if values else None

def fmt(v, d):
    return "n/a" if v is None else "%.*f" % (d, v)

summary = [[caption] + [fmt(mean([get(data[(n, key)]) for n in names]), d)
                        for _, get, d in columns] for key, caption in methods]
out = ["<!doctype html><meta charset=utf-8><title>tvq quality report</title>",
       "<style>body{font-family:sans-serif;margin:2em}td,th{padding:2px 8px;text-align:right}"
       "td:first-child,th:first-child{text-align:left}table{border-collapse:collapse}"
       "tr:nth-child(even){background:#eee}img{image-rendering:pixelated}</style>",
       "<h1>tvq quality report</h1>",
       "<p>Two-times enlargements of the low-resolution photographs (Downsampling of each "
       "original), measured against the original with <code>tvq compare --crop --shave 2"
       "</code>: Y is BT.601 luma (16..235); SSIM, MS-SSIM and GMSD on Y; the edge figures "
       "2 to 6 pixels from the original's edges (Sobel gradient above 16 levels per "
       "pixel). Averages over %d pictures (%s).</p>" % (len(names), ", ".join(names)),
       "<h2>Averages</h2><table><tr><th>Method</th>" +
       "".join("<th>%s</th>" % c for c, _, _ in columns) + "</tr>"]
out += ["<tr>" + "".join("<td>%s</td>" % html.escape(c) for c in r) + "</tr>" for r in summary]
out.append("</table>")
for n in names:
    out.append("<h2>%s</h2><table><tr><th>Method</th>" % html.escape(n) +
               "".join("<th>%s</th>" % c for c, _, _ in columns) + "</tr>")
    for key, caption in methods:
        out.append("<tr><td>%s</td>" % html.escape(caption) + "".join(
            "<td>%s</td>" % fmt(get(data[(n, key)]), d) for _, get, d in columns) + "</tr>")
    out.append("</table><p>Crops (3x): reference, then %s; below, their difference maps."
               "</p><img src=\"pictures/%s.crops.png\">" %
               (", ".join(html.escape(c) for _, c in methods), html.escape(n)))
open(target, "w").write("\n".join(out) + "\n")
# The summary as a Markdown table for README.
print("| Method | " + " | ".join(c for c, _, _ in columns) + " |")
print("|---" * (len(columns) + 1) + "|")
for r in summary:
    print("| " + " | ".join(r) + " |")
PY
echo "report.sh: wrote $out/index.html" >&2
