#!/usr/bin/env bash
# Builds the benchmark corpus into DIR from files every Debian machine has:
#   text.txt    C and C++ headers from /usr/include
#   binary.elf  ELF executables from /usr/bin
#   code.pe     PE32 DLLs and programs (Wine's, from the bootstrap's packages)
#   log.txt     a repetitive, log-like text
#   random.bin  random bytes
# Each file is SIZE_MIB mebibytes (default 8). Existing files are kept.
#   bench/corpus.sh DIR [SIZE_MIB]
set -euo pipefail
dir=${1:?usage: corpus.sh DIR [SIZE_MIB]}
size=$(( ${2:-8} * 1024 * 1024 ))
mkdir -p "$dir"

# Concatenates the listed files, in a fixed order, until size bytes.
take() {
  sort | while IFS= read -r f; do cat "$f" 2>/dev/null || true; done | head -c "$size"
}

make_file() {
  local name=$1
  shift
  [ -s "$dir/$name" ] && [ "$(stat -c %s "$dir/$name")" -eq "$size" ] && return
  "$@" >"$dir/$name.part"
  mv "$dir/$name.part" "$dir/$name"
}

headers() { find /usr/include -type f \( -name '*.h' -o -path '*/c++/*' \) | take; }

executables() {
  find /usr/bin /usr/sbin /usr/lib/x86_64-linux-gnu -maxdepth 1 -type f -size +8k 2>/dev/null |
    while IFS= read -r f; do
      [ "$(head -c 4 "$f" 2>/dev/null | od -An -tx1 | tr -d ' ')" = 7f454c46 ] && echo "$f"
    done | take
}

pe_files() { find /usr/lib/i386-linux-gnu/wine/i386-windows -type f \( -name '*.dll' -o -name '*.exe' \) | take; }

log_lines() {
  awk -v size="$size" 'BEGIN {
    srand(7)
    split("INFO INFO INFO DEBUG WARN ERROR", level, " ")
    split("installer copy-file shortcut registry extract log", unit, " ")
    split("opened|wrote block|skipped existing file|created folder|checksum OK|retrying after timeout", text, "|")
    t = 0; n = 0
    while (n < size) {
      t += int(rand() * 1500)
      line = sprintf("2026-12-06 %02d:%02d:%02d.%03d [%-5s] %s: %s id=%d size=%d\n",
                     int(t / 3600000) % 24, int(t / 60000) % 60, int(t / 1000) % 60, t % 1000,
                     level[1 + int(rand() * 6)], unit[1 + int(rand() * 6)],
                     text[1 + int(rand() * 6)], int(rand() * 4000), int(rand() * 65536))
      if (n + length(line) > size) line = substr(line, 1, size - n)
      printf "%s", line
      n += length(line)
    }
  }'
}

random_bytes() { head -c "$size" /dev/urandom; }

make_file text.txt headers
make_file binary.elf executables
make_file code.pe pe_files
make_file log.txt log_lines
make_file random.bin random_bytes
ls -l "$dir"
