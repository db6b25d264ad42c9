#!/usr/bin/env bash
# Runs `vorn expand` and `vorn compress -m lh5` as whole processes side by
# side with the LHA-format tools Debian packages, on the same files: archives
# for the peers are made by jlha from the same input. Prints each tool's
# median wall time and throughput (MB/s of uncompressed data), and our
# throughput as a ratio of each peer's. jlha's compress time is taken net of
# its start-up (the median time to archive a one-byte file).
#   bench/peers.sh VORN CORPUS_DIR [RUNS]
# CORPUS_DIR comes from bench/corpus.sh. Peers that are not installed are
# skipped.
set -euo pipefail
vorn=$(realpath "${1:?usage: peers.sh VORN CORPUS_DIR [RUNS]}")
corpus=$(realpath "${2:?usage: peers.sh VORN CORPUS_DIR [RUNS]}")
runs=${3:-7}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

have() { command -v "$1" >/dev/null 2>&1; }

# median_ms PREPARE COMMAND: runs PREPARE untimed, then COMMAND timed, $runs
# times; prints the median wall time in milliseconds.
median_ms() {
  local prepare=$1 command=$2 i t0 t1
  for ((i = 0; i < runs; i++)); do
    eval "$prepare"
    t0=$(date +%s%N)
    eval "$command" >/dev/null 2>&1
    t1=$(date +%s%N)
    echo $(( (t1 - t0) / 1000 ))
  done | sort -n | awk '{ v[NR] = $1 } END { printf "%.2f", v[int((NR + 1) / 2)] / 1000 }'
}

mbps() { awk -v b="$1" -v ms="$2" 'BEGIN { printf "%.1f", (ms > 0 ? b / 1e6 / (ms / 1000) : 0) }'; }
ratio() { awk -v ours="$1" -v peer="$2" 'BEGIN { printf "%.2f", (ours > 0 ? peer / ours : 0) }'; }

row() { printf '%-12s %-9s %-22s %9s ms %9s MB/s %s\n' "$@"; }

jlha_startup=0
if have jlha; then
  head -c 1 /dev/zero >"$work/one"
  jlha_startup=$(median_ms "rm -f '$work/one.lzh'" "cd '$work' && jlha a one.lzh one")
  echo "jlha start-up (archiving one byte): $jlha_startup ms"
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
  row "$name" expand "vorn expand" "$ours" "$(mbps "$size" "$ours")"
  if [ -f "$dir/$name.lzh" ]; then
    if have 7zz; then
      t=$(median_ms "rm -f '$dir/out/$name'" "7zz x -y -bso0 -o'$dir/out' '$dir/$name.lzh'")
      row "$name" expand "7zz x" "$t" "$(mbps "$size" "$t")" "vorn/7zz $(ratio "$ours" "$t")"
    fi
    if have lhasa; then
      t=$(median_ms "rm -f '$dir/out/$name'" "cd '$dir/out' && lhasa x '../$name.lzh'")
      row "$name" expand "lhasa x" "$t" "$(mbps "$size" "$t")" "vorn/lhasa $(ratio "$ours" "$t")"
    fi
    t=$(median_ms "rm -f '$dir/out/$name'" "cd '$dir/out' && jlha x '../$name.lzh'")
    row "$name" expand "jlha x" "$t" "$(mbps "$size" "$t")" "vorn/jlha $(ratio "$ours" "$t")"
  fi

  [ -n "${PEERS_EXPAND_ONLY:-}" ] && { rm -rf "$dir"; continue; }
  ours=$(median_ms "" "'$vorn' compress -m lh5 '$dir/in/$name' '$dir/again.vorn'")
  row "$name" compress "vorn compress -m lh5" "$ours" "$(mbps "$size" "$ours")"
  if have jlha; then
    t=$(median_ms "rm -f '$dir/again.lzh'" "cd '$dir/in' && jlha a ../again.lzh '$name'")
    net=$(awk -v t="$t" -v s="$jlha_startup" 'BEGIN { printf "%.2f", t - s }')
    row "$name" compress "jlha a (net)" "$net" "$(mbps "$size" "$net")" "vorn/jlha $(ratio "$ours" "$net")"
  fi
  rm -rf "$dir"
done
