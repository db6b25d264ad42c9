# Sourced by the command-line tests: a scratch folder to work in, and
# check NAME CONDITION... counting what passes; cli_summary ends the test.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
passed=0 failed=0

check() {
  local name=$1; shift
  if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAILED: $name"; fi
}

# "${no_proc[@]}" CMD...: CMD where /proc is hidden, so that OUT gets a named
# temporary file (CMD as it is where namespaces are not allowed).
no_proc=(unshare -rm sh -c 'mount -t tmpfs none /proc && exec "$0" "$@"')
"${no_proc[@]}" true 2> /dev/null || no_proc=()

no_temp() { [ -z "$(ls -A | grep -F .part)" ]; }

# interrupted SIGNAL NAME CMD...: CMD stopped by SIGNAL while writing has a private
# temporary file (unnamed, or named where /proc is hidden), leaves none behind
# and exits with the signal's status (128+n).
interrupted() {
  local signal=$1 name=$2 part="" i; shift 2
  "$@" > /dev/null 2>&1 &
  local pid=$!
  for i in $(seq 100); do
    part=$(ls -A | grep -F .part || find /proc/$pid/fd -lname "$work/*(deleted)" 2> /dev/null)
    [ -n "$part" ] && break; sleep 0.1
  done
  check "$name: the temporary file is 0600" [ -n "$part" -a "$(stat -L -c %a "$part" 2>/dev/null)" = 600 ]
  kill -s "$signal" $pid; wait $pid
  check "$name: exits 128+SIG$signal" [ $? -eq $((128 + $(kill -l "$signal"))) ]
  check "$name: leaves no temporary file" no_temp
}

cli_summary() {
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
}
