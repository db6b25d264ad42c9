# The LZMA benchmarks' payload, sourced by bench/lzma_peers.sh and
# bench/wine_install.sh: about 30 MB of PE32 DLLs and programs (Wine's),
# 18 MB of ELF shared libraries and 6 MB of C headers, 354 files on a
# machine with the bootstrap's packages.

# take DIR MIN_KIB MAX_BYTES PATTERN...: files under DIR of at least
# MIN_KIB KiB matching a pattern, in name order, until MAX_BYTES.
take() {
  local dir=$1 min=$2 max=$3 total=0 f size
  shift 3
  find "$dir" -type f -size +"$min"k \( "$@" \) 2>/dev/null | sort | while IFS= read -r f; do
    size=$(stat -c %s "$f")
    [ $((total + size)) -gt "$max" ] && continue
    total=$((total + size))
    echo "$f"
  done
}
# make_payload DIR: copies the payload into DIR, numbered in order.
make_payload() {
  local mb=$((1 << 20))
  {
    take /usr/lib/i386-linux-gnu/wine/i386-windows 32 $((30 * mb)) -name '*.dll' -o -name '*.exe'
    take /usr/lib/x86_64-linux-gnu 32 $((18 * mb)) -name '*.so*'
    take /usr/include 4 $((6 * mb)) -name '*.h'
  } >"$1.list"
  mkdir -p "$1"
  local i=0 f
  while IFS= read -r f; do
    cp "$f" "$1/$i-$(basename "$f" | tr A-Z a-z)"  # the installer lowercases names
    i=$((i + 1))
  done <"$1.list"
}

