#!/usr/bin/env bash
# The vorn command as a user meets it: outputs, exit codes, error lines and
# no half-written files. Usage: vorn_cli_test.sh PATH_TO_VORN
set -u
vorn=$(realpath "$1")
source "$(dirname "$(realpath "$0")")/cli_check.sh"

head -c 200000 /dev/urandom > random.bin
for i in $(seq 1 3000); do echo "line $i of the sample, with some repeated words words words"; done > text.txt

for method in non rle lzh lh5; do
  "$vorn" compress -q -m $method text.txt t.$method > out.txt 2> err.txt
  check "compress $method exits 0" [ $? -eq 0 ]
  check "compress $method names the method" grep -qi "$method" out.txt
  "$vorn" expand -q t.$method t.$method.out > /dev/null 2>&1
  check "expand $method round trip" cmp -s text.txt t.$method.out
done

"$vorn" compress -q -m rle random.bin r.rle > out.txt
check "random data falls back to NON" grep -q "NON" out.txt
"$vorn" info r.rle > info.txt
check "info shows the method" grep -q "method: *NON" info.txt
check "info shows the size" grep -q "uncompressed size: *200000" info.txt

"$vorn" info text.txt > info.txt
check "info on plain data says headerless" grep -q "headerless" info.txt

"$vorn" compress -q -m rle -k 0x1234 text.txt locked.rle > /dev/null
"$vorn" expand -q locked.rle nokey.out 2> err.txt
check "missing key exits 1" [ $? -eq 1 ]
check "missing key names the file and the message" \
  grep -qx "vorn: locked.rle: File locked -- valid key required" err.txt
check "no output file after a failure" [ ! -e nokey.out ]
check "no temporary file left behind" [ -z "$(ls | grep part)" ]
"$vorn" expand -q -k 4660 locked.rle key.out > /dev/null
check "decimal key opens the stream" cmp -s text.txt key.out

cp t.rle damaged.rle
printf '\x00' | dd of=damaged.rle bs=1 seek=100 conv=notrunc 2>/dev/null
printf '\x00' | dd of=damaged.rle bs=1 seek=101 conv=notrunc 2>/dev/null
"$vorn" expand -q damaged.rle damaged.out 2> err.txt
check "damaged stream exits 1" [ $? -eq 1 ]
check "damaged stream reports the checksum" grep -q "Bad checksum during expansion" err.txt
check "damaged stream leaves no output" [ ! -e damaged.out ]

echo keep > existing.out
"$vorn" expand -q missing.vorn existing.out 2> err.txt
check "missing input exits 1" [ $? -eq 1 ]
check "missing input names the file" grep -q '^vorn: missing.vorn: Cannot open file' err.txt
check "an existing output survives a failure" grep -qx keep existing.out

"$vorn" compress -m zip text.txt x.out > /dev/null 2>&1
check "unknown method is a usage error" [ $? -eq 2 ]
"$vorn" > /dev/null 2>&1
check "no subcommand is a usage error" [ $? -eq 2 ]
# A target that is not a regular file is written in place, not replaced.
mkfifo pipe
timeout 20 cat pipe > piped.out &
reader=$!
"$vorn" expand -q t.lh5 pipe > /dev/null 2>&1
check "expand into a pipe exits 0" [ $? -eq 0 ]
wait $reader
check "expand into a pipe writes through it" cmp -s text.txt piped.out
check "the pipe stays a pipe" [ -p pipe ]

"$vorn" expand -k notanumber t.rle x.out > /dev/null 2>&1
check "bad key is a usage error" [ $? -eq 2 ]

cli_summary
