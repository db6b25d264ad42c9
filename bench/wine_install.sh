#!/usr/bin/env bash
# Install and removal time under Wine against the peer builder, on the same
# architecture: the LZMA benchmarks' payload (bench/payload.sh) as a solid
# LZMA installer of vornpack's and as makensis' /SOLID lzma installer, each
# with its uninstaller, for x86 and for x64 (x86 only where the kernel runs
# 32-bit programs). vorn's install is timed from the answer to its question
# to its summary box (Wine's relay timestamps), the peer's silent install
# (/S) as the whole process; each removal is quiet (vorn's /quiet, the
# peer's /S) and timed until every process it started has ended; each after
# a warm-up round. Every installed file is compared, and every removal must
# leave nothing.
#   bench/wine_install.sh VORNPACK [RUNS]
set -euo pipefail
vornpack=$(realpath "${1:?usage: wine_install.sh VORNPACK [RUNS]}")
runs=${2:-3}
here=$(dirname "$(realpath "$0")")
work=$(mktemp -d /tmp/vorn-wine-bench-XXXXXX)
source "$here/payload.sh"
source "$here/../scripts/wine_session.sh"
trap 'wine_session_stop; rm -rf "$work"' EXIT

if ! command -v makensis >/dev/null; then
  sudo=$([ "$(id -u)" -eq 0 ] || echo sudo)
  $sudo apt-get update -qq && DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq nsis >/dev/null
fi

make_payload "$work/payload"
mapfile -t names < <(ls -v "$work/payload")
title="Wine install benchmark"
uninstall_key="Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$title"

# build ARCH: vorn-ARCH.exe and nsis-ARCH.exe of the payload in $work.
build() {
  write_installers "$work/payload" "$1" "$title" "$work/vorn-$1.toml" "$work/nsis-$1.nsi"
  "$vornpack" build -q "$work/vorn-$1.toml" -o "$work/vorn-$1.exe" >/dev/null
  makensis -V1 "$work/nsis-$1.nsi" >/dev/null
}

# answer_box N KEY: waits for the N-th box of the run and answers it.
answer_box() {
  local raw=$work/run.raw window
  wait_until 300 has_count "$1" ':Call user32.MessageBoxA' "$raw" &&
    wait_until 30 has_window "$title" || { echo "box $1 never appeared" >&2; return 1; }
  window=$(window_of "$title")
  xdotool key --window "$window" "$2" 2>/dev/null
  wait_until 30 has_count "$1" ':Ret  user32.MessageBoxA' "$work/run.raw"
}

installed() {  # the payload's folder under Program Files, whatever its case
  find "$WINEPREFIX/drive_c/Program Files" -maxdepth 1 -iname bench | head -1
}
check_files() {
  diff -rq -x uninstall.exe -x uninstall.dat "$work/payload" "$(installed)" >/dev/null ||
    { echo "FAIL: the $1 installer's files differ" >&2; return 1; }
}
registered() { timeout 30 "$wine" reg query "HKLM\\$uninstall_key" >/dev/null 2>&1; }

# remove_seconds NAME COMMAND...: seconds of a quiet removal, until every
# process it started has ended; nothing may stay.
remove_seconds() {
  local name=$1 start end
  shift
  start=$(date +%s.%N)
  timeout 300 "$wine" "$@"
  "$WINESERVER_CMD" -w
  end=$(date +%s.%N)
  [ -z "$(installed)" ] && ! registered || { echo "FAIL: the $name removal left files or its entry" >&2; return 1; }
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f\n", b - a }'
}

# vorn_seconds ARCH: seconds from the answer to the question to the summary box.
vorn_seconds() {
  rm -f "$work/rc"
  (WINEDEBUG=+timestamp,+relay timeout 300 "$wine" "C:\\vorn-$1.exe" 2>"$work/run.raw"; echo $? >"$work/rc") &
  answer_box 1 y && answer_box 2 Return
  wait_until 60 test -s "$work/rc"
  check_files "vorn $1"
  wait_until 60 registered || echo "FAIL: vorn's remover did not register" >&2
  awk -F: '/:Ret  user32.MessageBoxA/ && !t1 { t1 = $1 } /:Call user32.MessageBoxA/ { t2 = $1 }
           END { printf "%.3f\n", t2 - t1 }' "$work/run.raw"
}

# nsis_seconds ARCH: seconds of the peer's whole silent run.
nsis_seconds() {
  local start end
  start=$(date +%s.%N)
  timeout 300 "$wine" "C:\\nsis-$1.exe" /S
  "$WINESERVER_CMD" -w  # the installer may leave the work to a child
  end=$(date +%s.%N)
  check_files "peer $1"
  registered || echo "FAIL: the peer's uninstaller is not registered" >&2
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f\n", b - a }'
}
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

arches=(x64)
if wine_runs_x86; then arches=(x86 x64); else echo "x86: skipped, this kernel runs no 32-bit programs"; fi
echo "payload: ${#names[@]} files, $(cat "$work"/payload/* | wc -c) bytes; median of $runs installs after a warm-up"
for arch in "${arches[@]}"; do
  build "$arch"
  wine_session_start "$work/$arch" "$arch"
  WINESERVER_CMD=${WINESERVER:-wineserver}
  cp "$work/vorn-$arch.exe" "$work/nsis-$arch.exe" "$WINEPREFIX/drive_c/"
  app='C:\Program Files\Bench\uninstall.exe'
  : >"$work/times"
  for ((i = 0; i <= runs; i++)); do  # the first round warms up
    { vorn_seconds "$arch"; remove_seconds vorn "$app" /uninstall /quiet
      nsis_seconds "$arch"; remove_seconds peer "$app" /S; } | paste -sd' ' >>"$work/times"
  done
  median_of() { tail -n +2 "$work/times" | cut -d' ' -f"$1" | median; }
  vorn=$(median_of 1) vorn_removal=$(median_of 2) nsis=$(median_of 3) nsis_removal=$(median_of 4)
  printf '%s vorn solid lzma   %10s bytes  %s s (answer to summary box)  removal %s s\n' "$arch" \
    "$(stat -c %s "$work/vorn-$arch.exe")" "$vorn" "$vorn_removal"
  printf '%s peer /SOLID lzma  %10s bytes  %s s (silent, whole process)  removal %s s\n' "$arch" \
    "$(stat -c %s "$work/nsis-$arch.exe")" "$nsis" "$nsis_removal"
  awk -v a="$vorn" -v b="$nsis" -v c="$vorn_removal" -v d="$nsis_removal" -v arch="$arch" \
    'BEGIN { printf "%s vorn/peer: install time %.2f, removal time %.2f\n", arch, a / b, c / d }'
  wine_session_stop
done
