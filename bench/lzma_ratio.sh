#!/usr/bin/env bash
# The LZM expander's speed as a multiple of liblzma's raw decoder on the same
# data, in memory (vorn_bench's LzmaExpand beside LiblzmaRawDecode, the two
# interleaved in one run, median of REPS). Builds the corpus when missing.
# Fails (exit 1) when the text or the PE code falls behind the floor.
#   bench/lzma_ratio.sh VORN_BENCH [CORPUS] [REPS] [FLOOR]
set -euo pipefail
bench=$(realpath "${1:?usage: lzma_ratio.sh VORN_BENCH [CORPUS] [REPS] [FLOOR]}")
corpus=${2:-/tmp/vorn-corpus}
reps=${3:-7}
floor=${4:-1.10}
gated="text.txt code.pe"

"$(dirname "$(realpath "$0")")/corpus.sh" "$corpus" >/dev/null
VORN_CORPUS=$corpus "$bench" --benchmark_filter='^(LzmaExpand|LiblzmaRawDecode)/' \
  --benchmark_repetitions="$reps" --benchmark_enable_random_interleaving=true \
  --benchmark_report_aggregates_only=true --benchmark_format=csv 2>/dev/null |
  awk -F, -v floor="$floor" -v gated="$gated" '
    # name,iterations,real_time,cpu_time,time_unit,bytes_per_second,...
    $1 ~ /_median"?$/ {
      name = $1; gsub(/"/, "", name); sub(/_median$/, "", name)
      split(name, part, "/")
      speed[part[1], part[2]] = $6; inputs[part[2]] = 1
    }
    END {
      split(gated, g, " "); for (i in g) gate[g[i]] = 1
      failed = 0
      for (input in inputs) {
        ours = speed["LzmaExpand", input]; theirs = speed["LiblzmaRawDecode", input]
        if (ours == "" || theirs == "") { print input ": no figure"; failed = 1; continue }
        ratio = ours / theirs
        verdict = !(input in gate) ? "" : ratio >= floor ? "  ok" : "  BEHIND the floor of " floor
        printf "%-12s LzmaExpand %7.1f MB/s  liblzma %7.1f MB/s  ratio %.3f%s\n", input, ours / 1e6,
               theirs / 1e6, ratio, verdict
        if (input in gate && ratio < floor) failed = 1
        delete gate[input]
      }
      for (input in gate) { print input ": missing from the corpus"; failed = 1 }
      exit failed
    }'
