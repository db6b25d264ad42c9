#!/usr/bin/env bash
# Installs the LZMA benchmarks' payload (bench/payload.sh) under Wine from
# three installers built by vornpack, LH5 (the default), LZMA and solid LZMA, and
# prints the time from the answer to the first question to the summary box
# (Wine's relay timestamps), with every installed file compared.
#   bench/wine_install.sh VORNPACK [RUNS]
set -euo pipefail
vornpack=$(realpath "${1:?usage: wine_install.sh VORNPACK [RUNS]}")
runs=${2:-3}
here=$(dirname "$(realpath "$0")")
work=$(mktemp -d /tmp/vorn-wine-bench-XXXXXX)
source "$here/payload.sh"
source "$here/../scripts/wine_session.sh"
trap 'wine_session_stop; rm -rf "$work"' EXIT

wine_session_start "$work"
drive_c=$WINEPREFIX/drive_c
make_payload "$work/payload"
for method in lh5 lzma solid; do
  { echo 'title = "Wine install benchmark"'; echo "method = \"${method/solid/lzma}\""
    [ $method = solid ] && echo 'solid = true'
    for f in "$work"/payload/*; do
      printf '[[file]]\nsource = "payload/%s"\ndestination = '"'"'C:\\bench\\%s'"'"'\n' "${f##*/}" "${f##*/}"
    done; } >"$work/$method.toml"
  "$vornpack" build -q "$work/$method.toml" -o "$drive_c/$method.exe" >/dev/null
done

# answer_box N KEY: waits for the N-th box of the run and answers it.
answer_box() {
  local raw=$work/run.raw window
  wait_until 300 has_count "$1" ':Call user32.MessageBoxA' "$raw" &&
    wait_until 30 has_window "Wine install benchmark" || { echo "box $1 never appeared" >&2; return 1; }
  window=$(window_of "Wine install benchmark")
  xdotool key --window "$window" "$2" 2>/dev/null
  wait_until 30 has_count "$1" ':Ret  user32.MessageBoxA' "$work/run.raw"
}

# install_seconds METHOD: seconds from the answer to the question to the
# summary box, in one run; fails when an installed file differs.
install_seconds() {
  rm -rf "$drive_c/bench" "$work/rc"
  (WINEDEBUG=+timestamp,+relay timeout 300 wine "C:\\$1.exe" 2>"$work/run.raw"; echo $? >"$work/rc") &
  answer_box 1 y && answer_box 2 Return
  wait_until 60 test -s "$work/rc"
  diff -rq "$work/payload" "$drive_c/bench" >/dev/null || { echo "FAIL: the $1 installer's files differ" >&2; return 1; }
  awk -F: '/:Ret  user32.MessageBoxA/ && !t1 { t1 = $1 } /:Call user32.MessageBoxA/ { t2 = $1 }
           END { printf "%.3f\n", t2 - t1 }' "$work/run.raw"
}
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

echo "payload: $(ls "$work/payload" | wc -l) files, $(cat "$work"/payload/* | wc -c) bytes; median of $runs installs"
for method in lh5 lzma solid; do
  t=$(for ((i = 0; i < runs; i++)); do install_seconds $method; done | median)
  eval "time_$method=$t"
  printf '%-6s installer %10s bytes  %s s\n' "$method" "$(stat -c %s "$drive_c/$method.exe")" "$t"
done
awk -v a="$time_lzma" -v s="$time_solid" -v b="$time_lh5" \
  'BEGIN { printf "install time lzma/lh5 %.2f, solid lzma/lh5 %.2f\n", a / b, s / b }'
