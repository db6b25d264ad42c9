# Shell functions for running the installer stub under Wine on a virtual
# display, sourced by the demo and the end-to-end tests. Every wait is
# bounded.
#
#   wine_runs_x86                true where the kernel runs 32-bit programs,
#                                which 32-bit Wine needs; some have that off
#   wine_session_start WORKDIR [x86|x64]
#                                Xvfb, a fresh prefix in WORKDIR/prefix for
#                                32-bit (x86, the default) or 64-bit Windows
#                                programs, and a relay trace of message boxes
#                                and shell executes; exports DISPLAY and
#                                WINEPREFIX and sets $wine to the loader
#   wine_session_stop            ends Wine and the display
#   wine_run_answering CASE EXE [ARG...]
#                                runs EXE, answering every box as a user
#                                who agrees (Yes to questions, OK to notices);
#                                leaves CASE.relay and CASE.rc in WORKDIR

wine_session_pids=()

# wait_until SECONDS COMMAND...: polls every 0.2 s; false when time runs out.
wait_until() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.2
  done
}

has_count() { local n; n=$(grep -ac -- "$2" "$3" 2>/dev/null); [ "${n:-0}" -ge "$1" ]; }
# Only a mapped window: a box that has closed may leave an unmapped one behind.
window_of() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | tail -1; }
has_window() { [ -n "$(window_of "$1")" ]; }

# answer_box N KEY CAPTION RAW: presses KEY on the box CAPTION until the
# n-th box has returned in the relay trace RAW, for at most 30 s. A box
# that has only just been mapped may drop a key on a loaded machine.
answer_box() {
  local window _
  for _ in 1 2 3 4 5 6; do
    ! has_count "$1" ':Ret  user32.MessageBoxA' "$4" || return 0
    window=$(window_of "$3")
    [ -z "$window" ] || xdotool key --window "$window" "$2" 2>/dev/null
    wait_until 5 has_count "$1" ':Ret  user32.MessageBoxA' "$4" && return 0
  done
  return 1
}

wine_runs_x86() { /lib/ld-linux.so.2 --version >/dev/null 2>&1; }

# 32-bit programs run under Debian's wine wrapper in a 32-bit prefix, as on
# 32-bit Windows; 64-bit ones under the 64-bit loader and server, which
# start where the kernel runs no 32-bit programs.
wine_use_arch() {
  if [ "$1" = x64 ]; then
    export WINELOADER=/usr/lib/wine/wine64 WINESERVER=/usr/lib/wine/wineserver64
    wine=$WINELOADER
  else
    unset WINELOADER WINESERVER
    wine=wine
  fi
}

wine_session_start() {
  wine_session_dir=$1
  wine_use_arch "${2:-x86}"
  export WINEPREFIX=$wine_session_dir/prefix HOME=$wine_session_dir/home WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  mkdir -p "$HOME/Desktop"
  Xvfb -displayfd 3 -screen 0 1024x768x24 3>"$wine_session_dir/display" 2>/dev/null &
  wine_session_pids+=($!)
  wait_until 20 test -s "$wine_session_dir/display" || { echo "Xvfb did not start" >&2; return 1; }
  export DISPLAY=:$(head -1 "$wine_session_dir/display")
  timeout 180 "$wine" wineboot -i >/dev/null 2>&1 || { echo "wineboot did not finish" >&2; return 1; }
  timeout 60 "$wine" reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /t REG_SZ \
    /d 'user32.MessageBoxA;shell32.ShellExecuteA;kernel32.SetDefaultDllDirectories;advapi32.ConvertStringSecurityDescriptorToSecurityDescriptorA' /f >/dev/null 2>&1
}

wine_session_stop() {
  "${WINESERVER:-wineserver}" -k 2>/dev/null || true
  local pid
  for pid in "${wine_session_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wine_session_pids=()
}

# The caption and style of the n-th message box in a relay trace.
box_caption() { grep -a ':Call user32.MessageBoxA' "$2" | sed -n "$1p" | sed -E 's/.*,[0-9a-f]{8,16} "(.*)",[0-9a-f]{8}\)( ret=.*)?$/\1/'; }
box_style() { grep -a ':Call user32.MessageBoxA' "$2" | sed -n "$1p" | sed -E 's/.*,([0-9a-f]{8})\)( ret=.*)?$/\1/'; }

wine_run_answering() {
  local name=$1 exe=$2 raw=$wine_session_dir/$1.relay.raw rc=$wine_session_dir/$1.rc n=0 key
  shift 2
  rm -f "$rc"
  (set +e; WINEDEBUG=+relay timeout 120 "$wine" "$exe" "$@" 2>"$raw"; echo $? >"$rc") &
  while ! test -s "$rc"; do
    wait_until 60 eval 'has_count $((n + 1)) ":Call user32.MessageBoxA" "$raw" || test -s "$rc"' || break
    test -s "$rc" && break
    n=$((n + 1))
    key=Return
    [ "$(box_style "$n" "$raw")" = 00000024 ] && key=y
    wait_until 30 has_window "$(box_caption "$n" "$raw")" || { echo "box $n never appeared" >&2; break; }
    answer_box "$n" "$key" "$(box_caption "$n" "$raw")" "$raw" || { echo "box $n was not answered" >&2; break; }
  done
  wait_until 130 test -s "$rc" || echo "the installer did not end" >&2
  { grep -a -E ':(Call |Ret  )(user32\.MessageBoxA|shell32\.ShellExecuteA)' "$raw" || true; } |
    sed -E 's/^[0-9a-f]+://; s/ ret=[0-9a-f]+$//; s/[0-9a-f]{8,16} "/"/g' >"$wine_session_dir/$name.relay"
}
