#!/usr/bin/env bash
# vornpack as a user meets it: build -> list -> verify -> extract, byte-
# identical rebuilds, damaged installers, refused inputs, exit codes.
# Usage: vornpack_cli_test.sh PATH_TO_VORNPACK EXAMPLES_DIR STUB
set -u
vornpack=$(realpath "$1")
examples=$(realpath "$2")
source "$(dirname "$(realpath "$0")")/cli_check.sh"

cp -r "$examples/sample" sample
cp "$3" stub.bin

"$vornpack" build sample/app.toml -o one.exe --stub stub.bin > out.txt 2> err.txt
check "build exits 0" [ $? -eq 0 ]
check "build sums up files and sizes" grep -qE '^3 files, [0-9]+ bytes in an installer of [0-9]+ bytes$' out.txt
check "the stub comes first" cmp -s stub.bin <(head -c "$(stat -c %s stub.bin)" one.exe)
"$vornpack" build -q sample/app.toml -o toml.exe --stub sample/app.toml 2> err.txt
check "--stub refuses what is no PE32 GUI program, saying what it is" grep -q 'does not start like a PE image' err.txt
"$vornpack" build -q sample/app.toml -o - --stub stub.bin 2> /dev/null | cat > piped.exe
check "a second build, into a pipe, is byte-identical" cmp -s one.exe piped.exe

"$vornpack" list --json one.exe > list.json
check "list --json is JSON" python3 -c "import json,sys; d=json.load(open('list.json')); sys.exit(0 if len(d['entries'])==3 and d['entries'][2]['shortcuts']['desktop']['ask'] else 1)"

{ echo 'elevation = "user"'; cat sample/app.toml; } > sample/user.toml
"$vornpack" build -q sample/user.toml -o user.exe > /dev/null && "$vornpack" list user.exe > user.txt
check "a per-user installer asks for no elevation" grep -qx "elevation: user" user.txt
rm sample/user.toml
"$vornpack" build -q sample/app.toml -o admin.exe > /dev/null && "$vornpack" list --json admin.exe > admin.json
check "an installer asks for admin by default" grep -qx '  "elevation": "admin",' admin.json

"$vornpack" verify -q one.exe > verify.txt
check "verify passes a sound installer" [ $? -eq 0 ]

"$vornpack" extract -q one.exe -C out > /dev/null
check "extract writes every file under readable folders" \
  cmp -s sample/files/license.txt "out/program files/vorn sample/license.txt"

size=$(stat -c %s one.exe)
cp one.exe trailer.exe
printf '\xff\xff\xff\x7f' | dd of=trailer.exe bs=1 seek=$((size - 4)) conv=notrunc 2>/dev/null
"$vornpack" verify -q trailer.exe 2> err.txt
check "a changed trailer is named" grep -q "outside the file" err.txt
cp one.exe flipped.exe
offset=$(( $(grep -abo 'license.txt|' one.exe | tail -1 | cut -d: -f1) + 60 ))
byte=$(od -An -tu1 -j $offset -N1 one.exe | tr -d ' ')
printf "\\x$(printf %02x $(( byte ^ 0x55 )))" | dd of=flipped.exe bs=1 seek=$offset conv=notrunc 2>/dev/null
"$vornpack" verify -q flipped.exe 2> err.txt
check "a flipped byte fails verify" [ $? -eq 1 ]
check "the damaged entry is named" grep -q "entry 2 " err.txt

# Refused builds: exit 1, the reason, and nothing written over anything.
printf 'title = "x|y"\n[[file]]\nsource = "sample/files/readme.txt"\ndestination = "c:\\\\a"\n' > bad.toml
mkdir dir.toml
truncate -s 17M huge.toml
while IFS='|' read -r name args message; do
  "$vornpack" build -q $args --stub stub.bin 2> err.txt
  check "$name exits 1" [ $? -eq 1 ]
  check "$name says why" grep -qF "$message" err.txt
done <<'CASES'
a bad manifest|bad.toml -o bad.exe|bad.toml:1: title: "|" cannot be stored
-o the manifest|sample/app.toml -o sample/app.toml|sample/app.toml: the output would overwrite the manifest
-o a source|sample/app.toml -o sample/files/readme.txt|the output would overwrite the source of the entry at line 17
a folder as the manifest|dir.toml|dir.toml: the manifest is not a regular file
a manifest over 16 MiB|huge.toml|huge.toml: the manifest is larger than 16 MiB
CASES
check "manifest and sources are intact" diff -r sample "$examples/sample"
check "nothing is written for a bad manifest" [ ! -e bad.exe ]
check "no temporary file is left" no_temp

# LZMA from the top but for one LH5 entry, a program (the stub) with the x86
# filter, random data stored after a sample: listed, verified, extracted.
mkdir lz && cp sample/files/license.txt stub.bin lz/ && head -c 600000 /dev/urandom > lz/random.bin
{ printf 'method = "lzma"\nlevel = 7\n'
  for f in license.txt stub.bin random.bin; do printf '[[file]]\nsource = "%s"\ndestination = "c:\\\\%s"\n' $f $f; done
  printf '[[file]]\nsource = "license.txt"\ndestination = "c:\\\\old.txt"\nmethod = "lh5"\n'; } > lz/app.toml
"$vornpack" build -q lz/app.toml -o lzma.exe --stub stub.bin > /dev/null && "$vornpack" list lzma.exe > lzma.txt
check "LZM entries, random data stored, the override LH5" [ "$(grep -oE '^   [A-Z0-9]+,' lzma.txt | tr -d ' \n')" = LZM,LZM,NON,LH5, ]
"$vornpack" verify -q lzma.exe > /dev/null && "$vornpack" extract -q lzma.exe -C lzout > /dev/null
check "an lzma installer verifies and extracts every file" bash -c \
  'for f in license.txt stub.bin random.bin; do cmp -s lz/$f lzout/c/$f || exit 1; done; cmp -s lz/license.txt lzout/c/old.txt'

truncate -s 2000M zeros.bin
printf '[[file]]\nsource = "zeros.bin"\ndestination = "c:\\\\z"\n' > big.toml
interrupted TERM "build stopped by SIGTERM" "$vornpack" build -q big.toml -o big.exe --stub stub.bin

cli_summary
