#!/usr/bin/env bash
# Installs the Debian packages in dist/ on this machine with apt-get, tries the
# installed files (desktop and AppStream validators, tvq --version, man -w, a resample
# of a small picture, a completion query, the Python module where packaged), then
# purges the packages and checks that none of their files is left. Needs root (or
# sudo). Run by ./test after scripts/package.sh.
#
#   packaging/install-check.sh [DIST_DIR]
set -euo pipefail
TVQ_ROOT="$(cd "$(dirname "$0")/.." && pwd)"
dist="$(cd "${1:-$TVQ_ROOT/dist}" && pwd)"
as_root=()
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "installing the packages needs root or sudo" >&2; exit 1; }
  as_root=(sudo)
fi
debs=("$dist"/*.deb)
packages=()
for deb in "${debs[@]}"; do packages+=("$(dpkg-deb -f "$deb" Package)"); done
scratch=$(mktemp -d)
purge() {
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get purge -y -q "${packages[@]}" >/dev/null
}
trap 'purge || true; rm -rf "$scratch"' EXIT

"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
  "${debs[@]}" >/dev/null
for package in "${packages[@]}"; do dpkg -L "$package" >>"$scratch/files"; done

# Every installed tool from a folder that is not the source tree's.
cd "$scratch"
[ "$(command -v tvq)" = /usr/bin/tvq ]
tvq --version
man -w tvq
if [[ " ${packages[*]} " == *" tvq-app "* ]]; then
  desktop-file-validate /usr/share/applications/tvq-app.desktop
  appstreamcli validate --no-net /usr/share/metainfo/*.metainfo.xml
  QT_QPA_PLATFORM=offscreen tvq-app --version
  man -w tvq-app
fi
# A 6 x 4 grey ramp, written by hand as a PFM file (a header and floats), enlarged.
{
  printf 'Pf\n6 4\n-1.0\n'
  python3 -c 'import struct,sys; sys.stdout.buffer.write(struct.pack("<24f", *[x * 10.0 for x in range(24)]))'
} >small.pfm
tvq resample --quiet small.pfm big.png
info=$(tvq info big.png)
grep -qx "width: 12" <<<"$info"
grep -qx "height: 8" <<<"$info"
# What bash offers for `tvq resample --stabilizer <Tab>`, from the installed script.
offered=$(bash -c '. /usr/share/bash-completion/completions/tvq
  COMP_WORDS=(tvq resample --stabilizer ""); COMP_CWORD=3; _tvq; echo "${COMPREPLY[*]}"')
echo "tvq resample --stabilizer <Tab>: $offered"
[[ " $offered " == *" btv3 "* ]]
if [[ " ${packages[*]} " == *" python3-tvq "* ]]; then
  /usr/bin/python3 -c "import tvq"
fi

purge
trap 'rm -rf "$scratch"' EXIT
for package in "${packages[@]}"; do
  if dpkg -L "$package" >/dev/null 2>&1; then
    echo "$package is still known to dpkg after the purge" >&2
    exit 1
  fi
done
left=$(while read -r path; do
  if [ -f "$path" ] || [ -L "$path" ]; then echo "$path"; fi
done <"$scratch/files")
if [ -n "$left" ]; then
  echo "files left after the purge:" >&2
  echo "$left" >&2
  exit 1
fi
echo "install check: ${packages[*]} installed, tried and purged"
