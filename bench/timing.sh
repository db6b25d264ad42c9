# Timing for the benchmark scripts, sourced by them.

# median_ms COMMAND...: the median wall time of $runs runs, in milliseconds.
median_ms() {
  local i samples="" TIMEFORMAT='%3R'
  for ((i = 0; i < runs; i++)); do
    samples+=$({ time "$@" >/dev/null 2>&1; } 2>&1 | awk '{ printf "%d\n", $1 * 1000 }')$'\n'
  done
  echo -n "$samples" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'
}
