#!/usr/bin/env bash
# Runs `vorn expand` and `vorn compress -m lh5` as whole processes side by
# side with the LHA-format tools Debian packages, on the same files: archives
# for the peers are made by jlha from the same input. Prints each tool's
# median wall time and throughput (MB/s of uncompressed data), and our
# throughput as a ratio of each peer's. jlha's compress time is taken net of
# its start-up (the median time to archive a one-byte file).
#   bench/peers.sh VORN CORPUS_DIR [RUNS]
# CORPUS_DIR comes from bench/corpus.sh. Peers that are not installed are
# skipped. PEERS_EXPAND_ONLY=1 leaves out the compress runs.
set -euo pipefail
vorn=$(realpath "${1:?usage: peers.sh VORN CORPUS_DIR [RUNS]}")
corpus=$(realpath "${2:?usage: peers.sh VORN CORPUS_DIR [RUNS]}")
runs=${3:-7}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

have() { command -v "$1" >/dev/null 2>&1; }

# median_ms PREPARE COMMAND: runs PREPARE untimed, then COMMAND timed, $runs
# times; prints the median wall time and the median CPU time (user + system,
# all threads) in milliseconds. On a busy machine the CPU time is the steadier
# figure: the engine yields the processor once per 8 KB block.
median_ms() {
  local prepare=$1 command=$2 i samples="" TIMEFORMAT='%3R %3U %3S'
  for ((i = 0; i < runs; i++)); do
    eval "$prepare"
    samples+=$({ time eval "$command" >/dev/null 2>&1; } 2>&1 | awk '{ printf "%d %d\n", $1 * 1000, ($2 + $3) * 1000 }')$'\n'
  done
  echo "$(median_of 1 "$samples") $(median_of 2 "$samples")"
}
median_of() { echo -n "$2" | sort -n -k"$1","$1" | awk -v c="$1" '{ v[NR] = $c } END { print v[int((NR + 1) / 2)] }'; }

mbps() { awk -v b="$1" -v ms="$2" 'BEGIN { printf "%.1f", (ms > 0 ? b / 1e6 / (ms / 1000) : 0) }'; }
ratio() { awk -v ours="$1" -v peer="$2" 'BEGIN { printf "%.2f", (ours > 0 ? peer / ours : 0) }'; }

# row FILE DIRECTION TOOL "WALL CPU" [RATIO...]
row() {
  local file=$1 direction=$2 tool=$3 wall=${4% *} cpu=${4#* }
  shift 4
  printf '%-11s %-9s %-21s %8s ms %7s MB/s  cpu %8s ms %7s MB/s  %s\n' "$file" "$direction" "$tool" \
    "$wall" "$(mbps "$size" "$wall")" "$cpu" "$(mbps "$size" "$cpu")" "$*"
}
# both OURS PEER NAME: our throughput over the peer's, by wall and by CPU time
both() {
  echo "vorn/$3 $(ratio "${1% *}" "${2% *}") (cpu $(ratio "${1#* }" "${2#* }"))"
}
# minus "WALL CPU" "WALL CPU": the difference of both figures
minus() {
  awk -v a="$1" -v b="$2" 'BEGIN { split(a, x, " "); split(b, y, " "); printf "%.1f %.1f", x[1] - y[1], x[2] - y[2] }'
}

jlha_startup="0 0"
if have jlha; then
  head -c 1 /dev/zero >"$work/one"
  jlha_startup=$(median_ms "rm -f '$work/one.lzh'" "cd '$work' && jlha a one.lzh one")
  echo "jlha start-up (archiving one byte): wall ${jlha_startup% *} ms, cpu ${jlha_startup#* } ms"
fi

for path in "$corpus"/*; do
  [ -f "$path" ] || continue
  name=$(basename "$path")
  size=$(stat -L -c %s "$path")
  dir=$work/$name.d
  mkdir -p "$dir/in" "$dir/out"
  cp "$path" "$dir/in/$name"
  "$vorn" compress -m lh5 "$dir/in/$name" "$dir/$name.vorn" >/dev/null
  have jlha && (cd "$dir/in" && jlha a "../$name.lzh" "$name" >/dev/null 2>&1)
  echo
  echo "$name: $size bytes; vorn $(stat -c %s "$dir/$name.vorn"), jlha $(stat -c %s "$dir/$name.lzh" 2>/dev/null || echo -) bytes"

  ours=$(median_ms "rm -f '$dir/out/$name'" "'$vorn' expand '$dir/$name.vorn' '$dir/out/$name'")
  cmp -s "$dir/out/$name" "$path" || { echo "vorn expand gave different bytes for $name"; exit 1; }
  row "$name" expand "vorn expand" "$ours"
  if [ -f "$dir/$name.lzh" ]; then
    if have 7zz; then
      t=$(median_ms "rm -f '$dir/out/$name'" "7zz x -y -bso0 -o'$dir/out' '$dir/$name.lzh'")
      row "$name" expand "7zz x" "$t" "$(both "$ours" "$t" 7zz)"
    fi
    if have lhasa; then
      t=$(median_ms "rm -f '$dir/out/$name'" "cd '$dir/out' && lhasa x '../$name.lzh'")
      row "$name" expand "lhasa x" "$t" "$(both "$ours" "$t" lhasa)"
    fi
    t=$(median_ms "rm -f '$dir/out/$name'" "cd '$dir/out' && jlha x '../$name.lzh'")
    row "$name" expand "jlha x" "$t" "$(both "$ours" "$t" jlha)"
  fi

  if [ -z "${PEERS_EXPAND_ONLY:-}" ]; then
    ours=$(median_ms "" "'$vorn' compress -m lh5 '$dir/in/$name' '$dir/again.vorn'")
    row "$name" compress "vorn compress -m lh5" "$ours"
    if have jlha; then
      t=$(median_ms "rm -f '$dir/again.lzh'" "cd '$dir/in' && jlha a ../again.lzh '$name'")
      net=$(minus "$t" "$jlha_startup")
      row "$name" compress "jlha a (net)" "$net" "$(both "$ours" "$net" jlha)"
    fi
  fi
  rm -rf "$dir"
done
