#!/usr/bin/env bash
# Builds one installer of many files with `vornpack build` at -j1 and at one
# job per core, and with makensis (zlib, its default compressor) from the
# same files; prints the median wall times and the ratios.
#   bench/build_peers.sh VORNPACK CORPUS_DIR [RUNS] [FILES]
# CORPUS_DIR comes from bench/corpus.sh; the payload is FILES (default 240)
# slices of its files, 16 KiB to 512 KiB each, about 60 MB in all.
set -euo pipefail
vornpack=$(realpath "${1:?usage: build_peers.sh VORNPACK CORPUS_DIR [RUNS] [FILES]}")
corpus=$(realpath "${2:?usage: build_peers.sh VORNPACK CORPUS_DIR [RUNS] [FILES]}")
runs=${3:-5}
files=${4:-240}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mkdir -p "$work/payload"
kinds=(text.txt binary.elf log.txt random.bin)
{
  echo 'title = "Build benchmark"'
  for ((i = 0; i < files; i++)); do
    kind=${kinds[i % 4]}
    kib=$((16 + (i * 37) % 497))
    dd if="$corpus/$kind" of="$work/payload/f$i.dat" bs=1024 skip=$(((i * 131) % 7000)) count=$kib status=none
    printf '[[file]]\nsource = "payload/f%d.dat"\ndestination = '"'"'<p>\\Bench\\f%d.dat'"'"'\n' "$i" "$i"
  done
} >"$work/app.toml"
{
  echo 'Name "Build benchmark"'
  echo "OutFile \"$work/nsis.exe\""
  echo 'SetCompressor zlib'
  echo 'RequestExecutionLevel admin'
  echo 'InstallDir "$PROGRAMFILES\Bench"'
  echo 'Section'
  echo 'SetOutPath $INSTDIR'
  for ((i = 0; i < files; i++)); do echo "File \"$work/payload/f$i.dat\""; done
  echo 'SectionEnd'
} >"$work/app.nsi"
bytes=$(du -cb "$work"/payload/* | tail -1 | cut -f1)

source "$(dirname "$(realpath "$0")")/timing.sh"
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", b / a }'; }

cores=$(nproc)
one=$(median_ms "$vornpack" build "$work/app.toml" -o "$work/v1.exe" -q -j 1)
all=$(median_ms "$vornpack" build "$work/app.toml" -o "$work/vn.exe" -q -j "$cores")
cmp -s "$work/v1.exe" "$work/vn.exe" || { echo "FAIL: -j1 and -j$cores gave different installers" >&2; exit 1; }
echo "payload: $files files, $bytes bytes; $runs runs each, median wall time"
printf '%-28s %8s ms  %s bytes\n' "vornpack -j1" "$one" "$(stat -c %s "$work/v1.exe")"
printf '%-28s %8s ms  -j%s/-j1 %s\n' "vornpack -j$cores" "$all" "$cores" "$(ratio "$all" "$one")"
if command -v makensis >/dev/null; then
  nsis=$(median_ms makensis -V1 "$work/app.nsi")
  printf '%-28s %8s ms  %s bytes  vornpack -j1 %sx, -j%s %sx faster\n' "makensis (zlib)" "$nsis" \
    "$(stat -c %s "$work/nsis.exe")" "$(ratio "$one" "$nsis")" "$cores" "$(ratio "$all" "$nsis")"
fi
