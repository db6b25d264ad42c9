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

cli_summary() {
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
}
