#!/usr/bin/env bash
# Compresses many inputs with LH5 through two builds of `vorn` and fails at
# the first stream that differs: the check that a change to the compressor
# left its output as it was, bit for bit.
#   bench/lh5_identity.sh OLD_VORN NEW_VORN CORPUS_DIR
# CORPUS_DIR comes from bench/corpus.sh. Random bytes go in beside text, so
# that the stream stays LH5 rather than falling back to a stored copy.
set -euo pipefail
old=$(realpath "${1:?usage: lh5_identity.sh OLD_VORN NEW_VORN CORPUS_DIR}")
new=$(realpath "${2:?usage: lh5_identity.sh OLD_VORN NEW_VORN CORPUS_DIR}")
corpus=$(realpath "${3:?usage: lh5_identity.sh OLD_VORN NEW_VORN CORPUS_DIR}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/in"

# Cuts around the window (8,192), the text (16,384, 8,448 + 256) and the
# block sizes, and odd ones.
sizes=(0 1 2 3 4 255 256 257 511 8191 8192 8193 8447 8448 8449 8703 8704
       16383 16384 16385 16639 16640 16641 24575 24576 32767 32768 65535 65536
       65537 99991 131071 262144 1000003)
for kind in text.txt binary.elf log.txt; do
  cp "$corpus/$kind" "$work/in/$kind"
  for n in "${sizes[@]}"; do head -c "$n" "$corpus/$kind" >"$work/in/$kind.$n"; done
done
for n in 300 8191 8193 16384 70000 300000; do
  { head -c "$n" "$corpus/random.bin"; head -c $((3 * n)) "$corpus/text.txt"; } >"$work/in/mix.$n"
  { head -c $((3 * n)) "$corpus/log.txt"; tail -c "$n" "$corpus/random.bin"; } >"$work/in/mixend.$n"
done
for n in 1 3 4 256 257 258 8192 8450 16640 100000 1000000; do
  head -c "$n" /dev/zero >"$work/in/zero.$n"
  head -c "$n" /dev/zero | tr '\0' ' ' >"$work/in/space.$n"
done
# Periodic patterns of periods 1..300 cut from the binary, 24,000 bytes and
# a period long.
for ((p = 1; p <= 300; p++)); do
  head -c $((p * 978)) "$corpus/binary.elf" | tail -c "$p" >"$work/p"
  while [ "$(stat -c %s "$work/p")" -lt 24000 ]; do cat "$work/p" "$work/p" >"$work/pp"; mv "$work/pp" "$work/p"; done
  head -c $((24000 + p)) "$work/p" >"$work/in/period.$p"
done
# The twelve largest programs on this machine.
for f in $(ls -S /usr/bin | head -12); do cp "/usr/bin/$f" "$work/in/usr.$f" 2>/dev/null || true; done

count=0
for f in "$work"/in/*; do
  "$old" compress -q -m lh5 "$f" "$work/old.vorn" >/dev/null
  "$new" compress -q -m lh5 "$f" "$work/new.vorn" >/dev/null
  cmp -s "$work/old.vorn" "$work/new.vorn" || { echo "FAIL: ${f##*/} differs" >&2; exit 1; }
  count=$((count + 1))
done
echo "identical: $count inputs"
