#!/usr/bin/env bash
# vornpack's LZMA installers, lone and solid, beside makensis' solid LZMA
# ones, on a payload of libraries, headers and programs every machine with
# the bootstrap's packages has: PE32 DLLs and programs (Wine's), ELF shared
# libraries and C headers. Prints the installers' sizes and median build
# times; the sizes of whole installers, with vorn's remover and the peer's
# uninstaller, for x86 and x64, on the payload and on an application of
# Wine's DLLs and programs; and, when `vorn` expands LZM streams, `vorn
# expand` of the whole payload as one LZM stream beside `xz -d` of the same
# data (both as whole processes, writing a file). Installs makensis
# (Debian's `nsis`) when it is missing.
#   bench/lzma_peers.sh VORNPACK VORN [RUNS] [LEVEL]
# LEVEL is the manifest's lzma level (default: the manifest's default).
set -euo pipefail
vornpack=$(realpath "${1:?usage: lzma_peers.sh VORNPACK VORN [RUNS] [LEVEL]}")
vorn=$(realpath "${2:?usage: lzma_peers.sh VORNPACK VORN [RUNS] [LEVEL]}")
runs=${3:-3}
level=${4:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if ! command -v makensis >/dev/null; then
  sudo=$([ "$(id -u)" -eq 0 ] || echo sudo)
  $sudo apt-get update -qq && DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq nsis >/dev/null
fi

source "$(dirname "$(realpath "$0")")/payload.sh"
make_payload "$work/payload"
# In the payload's own order (programs, libraries, headers), as a vendor
# would list them: a solid installer gains from like files side by side.
mapfile -t names < <(ls -v "$work/payload")

{
  echo 'title = "LZMA benchmark"'
  echo 'method = "lzma"'
  [ -n "$level" ] && echo "level = $level"
  for name in "${names[@]}"; do
    printf '[[file]]\nsource = "payload/%s"\ndestination = '"'"'<p>\\Bench\\%s'"'"'\n' "$name" "$name"
  done
} >"$work/app.toml"
{ echo 'solid = true'; cat "$work/app.toml"; } >"$work/solid.toml"
{
  echo 'Name "LZMA benchmark"'
  echo "OutFile \"$work/nsis.exe\""
  echo 'SetCompressor /SOLID lzma'
  echo 'RequestExecutionLevel admin'
  echo 'InstallDir "$PROGRAMFILES\Bench"'
  echo 'Section'
  echo 'SetOutPath $INSTDIR'
  for name in "${names[@]}"; do echo "File \"$work/payload/$name\""; done
  echo 'SectionEnd'
} >"$work/app.nsi"
files=$(ls "$work/payload" | wc -l)
bytes=$(cat "$work"/payload/* | wc -c)

source "$(dirname "$(realpath "$0")")/timing.sh"
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }
pct() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f%%", 100 * a / b }'; }

ours=$(median_ms "$vornpack" build "$work/app.toml" -o "$work/vorn.exe" -q -j 2)
solid=$(median_ms "$vornpack" build "$work/solid.toml" -o "$work/solid.exe" -q -j 2)
theirs=$(median_ms makensis -V1 "$work/app.nsi")
vsize=$(stat -c %s "$work/vorn.exe")
ssize=$(stat -c %s "$work/solid.exe")
nsize=$(stat -c %s "$work/nsis.exe")
echo "payload: $files files, $bytes bytes; $runs runs each, median wall time"
printf '%-34s %8s ms  %10s bytes (%s)\n' "vornpack lzma${level:+ level $level} -j2" "$ours" "$vsize" "$(pct "$vsize" "$bytes")"
printf '%-34s %8s ms  %10s bytes (%s)\n' "vornpack lzma${level:+ level $level} solid -j2" "$solid" "$ssize" "$(pct "$ssize" "$bytes")"
printf '%-34s %8s ms  %10s bytes (%s)\n' "makensis /SOLID lzma" "$theirs" "$nsize" "$(pct "$nsize" "$bytes")"
echo "size vornpack/makensis $(ratio "$vsize" "$nsize"), build time vornpack/makensis $(ratio "$ours" "$theirs")"
echo "solid: size vornpack/makensis $(ratio "$ssize" "$nsize"), build time vornpack/makensis $(ratio "$solid" "$theirs")"

# The whole download, stub and remover included, beside the peer's with its
# uninstaller (solid, the default level): for each architecture, on the
# payload and on an application of that architecture's DLLs and programs.
whole() {  # whole LABEL DIR ARCH
  write_installers "$2" "$3" "LZMA benchmark" "$work/whole.toml" "$work/whole.nsi"
  "$vornpack" build -q "$work/whole.toml" -o "$work/whole-vorn.exe" -j 2 >/dev/null
  makensis -V1 "$work/whole.nsi" >/dev/null
  local v n
  v=$(stat -c %s "$work/whole-vorn.exe") n=$(stat -c %s "$work/whole.exe")
  printf '%-34s %10s bytes, makensis %10s bytes, vornpack/makensis %s\n' "with remover, $1 $3" "$v" "$n" "$(ratio "$v" "$n")"
}
for arch in x86 x64; do
  make_app_payload "$work/app-$arch" "$arch"
  whole payload "$work/payload" "$arch"
  whole application "$work/app-$arch" "$arch"
done

cat "$work"/payload/* >"$work/all"
"$vorn" compress -q -m lzma "$work/all" "$work/all.lzm" >/dev/null
xz -k -6 -T1 "$work/all"
if "$vorn" expand -q "$work/all.lzm" "$work/check" >/dev/null 2>&1 && cmp -s "$work/all" "$work/check"; then
  ex=$(median_ms "$vorn" expand -q "$work/all.lzm" "$work/out.v")
  xd=$(median_ms sh -c "xz -dc '$work/all.xz' > '$work/out.x'")
  printf '%-34s %8s ms  (%s bytes of LZM)\n' "vorn expand" "$ex" "$(stat -c %s "$work/all.lzm")"
  printf '%-34s %8s ms  (%s bytes of .xz)\n' "xz -d" "$xd" "$(stat -c %s "$work/all.xz")"
  echo "expand speed vorn/xz $(ratio "$xd" "$ex")"
else
  echo "vorn expand: this vorn does not expand LZM streams; skipped"
fi
