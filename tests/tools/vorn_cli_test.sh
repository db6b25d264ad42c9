#!/usr/bin/env bash
# The vorn command as a user meets it: round trips, exit codes, error lines,
# and outputs that appear whole or not at all, whatever kind of file OUT is.
# Usage: vorn_cli_test.sh PATH_TO_VORN STUB
set -u
vorn=$(realpath "$1")
stub=$(realpath "$2")
source "$(dirname "$(realpath "$0")")/cli_check.sh"

head -c 200000 /dev/urandom > random.bin
for i in $(seq 1 3000); do echo "line $i of the sample, with some repeated words words words"; done > text.txt

for method in non rle lzh lh5; do
  "$vorn" compress -q -m $method text.txt t.$method > sum.$method && "$vorn" expand -q t.$method t.$method.out > /dev/null
  check "$method round trip" cmp -s text.txt t.$method.out
done
"$vorn" compress -q -m rle random.bin r.rle > out.txt
check "random data is stored, the summary counts the header" grep -q "r.rle: NON, 200000 -> 200021 bytes" out.txt

# LZMA of an x86 program (vorn itself, ELF): the filter, a level, the head in info.
"$vorn" compress -q -m lzma -l 1 "$vorn" prog.lzm > /dev/null && "$vorn" expand -q prog.lzm prog.out > /dev/null && "$vorn" info prog.lzm > info.txt
check "a program round trips with the x86 filter" bash -c "cmp -s '$vorn' prog.out && grep -qE 'lc 3, lp 0, pb 2, dictionary [0-9]+ bytes' info.txt && grep -q 'filter: *x86' info.txt"
for f in "$stub" text.txt; do "$vorn" compress -q -m lzma "$f" f.lzm > /dev/null && "$vorn" info f.lzm | grep filter; done > filters.txt
check "the x86 filter for a PE program, none for text" [ "$(awk '{print $3}' filters.txt | tr '\n' ' ')" = "x86 none " ]
"$vorn" compress -q -m lh5 -l 3 text.txt x.lh5 2> /dev/null
check "--level without lzma is a usage error" [ $? -eq 2 ]

# Failures: exit 1, one line naming the input and the reason, OUT untouched.
"$vorn" compress -q -m rle -k 0x1234 text.txt locked.rle > /dev/null
cp t.rle damaged.rle
printf '\x00\x00' | dd of=damaged.rle bs=1 seek=100 conv=notrunc 2>/dev/null
cp prog.lzm damaged.lzm
printf '\x55' | dd of=damaged.lzm bs=1 seek=300 conv=notrunc 2>/dev/null
cp prog.lzm dictionary.lzm
printf '\x10' | dd of=dictionary.lzm bs=1 seek=26 conv=notrunc 2>/dev/null  # the dictionary's top byte
echo keep > kept.out
while IFS='|' read -r name input message; do
  "$vorn" expand -q "$input" kept.out 2> err.txt
  check "$name exits 1" [ $? -eq 1 ]
  check "$name names the file and the reason" grep -qF "vorn: $input: $message" err.txt
  check "$name leaves OUT as it was" grep -qx keep kept.out
done <<'CASES'
missing key|locked.rle|File locked -- valid key required
damaged stream|damaged.rle|Bad checksum during expansion -- data may be invalid
missing input|missing.vorn|Cannot open file
damaged lzma|damaged.lzm|Damaged stream: the LZM data are damaged
an lzma dictionary over 64 MiB|dictionary.lzm|Damaged stream: the LZM dictionary is larger than 64 MiB
CASES
"$vorn" info dictionary.lzm > info.txt 2> err.txt
check "info of a damaged lzma head exits 1 with the reason" bash -c "[ $? -eq 1 ] && grep -q 'lzma head: *damaged' info.txt &&
  grep -qF 'dictionary.lzm: Damaged stream: the LZM dictionary is larger than 64 MiB' err.txt"
check "failures leave no temporary file" no_temp
"$vorn" compress -q -m lzma -k 1 text.txt locked.lzm 2> /dev/null
check "a key with lzma is refused, nothing written" [ ! -e locked.lzm ]
"$vorn" expand -q -k 4660 locked.rle key.out > /dev/null
"$vorn" info locked.rle > info.txt
check "info tells method, size and lock level" grep -qzE 'method: +RLE.*size: +184893.*lock level: +2 \(locked and scrambled' info.txt
check "decimal key opens the stream" cmp -s text.txt key.out

# A stored stream with checksum 0 is not called verified, and must still hold
# exactly its size; info reads only the header from a pipe (with room for
# the longest LZM head, 49 bytes in all).
"$vorn" compress -q -m non text.txt z.non > /dev/null
printf '\0\0\0\0' | dd of=z.non bs=1 seek=13 conv=notrunc 2> /dev/null
"$vorn" expand -q z.non z.out > out.txt
check "checksum 0: not checked, not verified" grep -q 'bytes, not checked: stored without a checksum$' out.txt
head -c 121 z.non > z.cut; cat z.non random.bin > z.long
for bad in z.cut z.long; do "$vorn" expand -q $bad kept.out 2> /dev/null; check "checksum 0, $bad: refused" [ $? -eq 1 ]; done
cat z.non | { "$vorn" info - > info.txt; wc -c > rest.txt; }
check "info - leaves all but the header in the pipe" [ "$(cat rest.txt)" -eq $(( $(stat -c %s z.non) - 49 )) ]
check "info - says the size is unknown" grep -q 'codec data: *not read' info.txt
"$vorn" expand -q $'\e]0;PWNED\a' kept.out 2> err.txt
check "control characters in messages are escaped" grep -qF 'vorn: \x1B]0;PWNED\x07: ' err.txt

# Every kind of OUT gets the bytes and the summary a regular file gets; the
# summary goes to stderr when the data goes to stdout.
same() { check "$1: data" cmp -s "$2" t.lh5; check "$1: summary" [ "$(cut -d: -f2- "$3")" = "$(cut -d: -f2- sum.lh5)" ]; }
"$vorn" compress -q text.txt - > a.v 2> a.txt; same "OUT -" a.v a.txt
"$vorn" compress -q text.txt /dev/fd/1 > b.v 2> b.txt; same "OUT naming stdout" b.v b.txt
"$vorn" compress -q text.txt - 2> c.txt | cat > c.v; same "OUT - into a pipe" c.v c.txt
"$vorn" compress -q text.txt /dev/null > d.txt; same "OUT /dev/null" t.lh5 d.txt
mkfifo fifo
timeout 20 cat fifo > e.v & "$vorn" compress -q text.txt fifo > e.txt; wait; same "OUT a FIFO" e.v e.txt
timeout 20 cat fifo > f.out & "$vorn" expand -q t.lh5 fifo > /dev/null; wait
check "expand into a FIFO" cmp -s text.txt f.out
check "the FIFO stays a FIFO" [ -p fifo ]
"$vorn" expand -q t.lh5 /dev/fd/1 2> /dev/null | cmp -s - text.txt
check "expand into stdout piped: the data alone" [ $? -eq 0 ]
cat t.lh5 | "$vorn" expand -q - piped.out > /dev/null && cat text.txt | "$vorn" compress -q - piped.v > /dev/null
check "IN from a pipe, both ways" bash -c "cmp -s text.txt piped.out && cmp -s t.lh5 piped.v"

# A link OUT stays a link: the file it leads to is replaced, keeping its mode.
mkdir elsewhere
echo old > elsewhere/target && chmod 640 elsewhere/target && ln -s elsewhere/target link.out
"$vorn" expand -q t.lh5 link.out > /dev/null
check "a link OUT stays a link" [ -L link.out ]
check "the file it leads to gets the data" cmp -s text.txt elsewhere/target
check "and keeps its mode, alone in its folder" [ "$(stat -c %a elsewhere/*)" = 640 ]
ln -s nowhere dangling.out
"$vorn" expand -q t.lh5 dangling.out 2> err.txt
check "a dangling link OUT is refused, and stays" bash -c "grep -q 'it leads nowhere' err.txt && [ -L dangling.out ]"
cp text.txt setuid.out && chmod 6755 setuid.out && "$vorn" expand -q t.lh5 setuid.out > /dev/null
check "a setuid OUT's replacement is not setuid" [ "$(stat -c %a setuid.out)" = 755 ]
(umask 027; "$vorn" expand -q t.lh5 new.out > /dev/null)
check "a new OUT gets 0666 less the umask" [ "$(stat -c %a new.out)" = 640 ]

truncate -s 2000M zeros.bin
for signal in TERM USR1; do interrupted $signal "compress stopped by SIG$signal" "$vorn" compress -q zeros.bin z.v; done
for signal in HUP ALRM; do
  interrupted $signal "a named temporary, SIG$signal" "${no_proc[@]}" "$vorn" compress -q zeros.bin z.v
done
check "an interrupted compress leaves no OUT" [ ! -e z.v ]
for named in "" yes; do
  run=(); [ -n "$named" ] && run=("${no_proc[@]}")
  (ulimit -f 100; "${run[@]}" "$vorn" compress -q -m non random.bin z.v > /dev/null 2>&1); status=$?
  check "over the file size limit${named:+, named}: exits 128+SIGXFSZ, leaves nothing" \
    [ $status -eq 153 -a ! -e z.v -a -z "$(ls -A | grep -F .part)" ]
done

cli_summary
