#!/usr/bin/env bash
# vornpack as a user meets it: build -> list -> verify -> extract, byte-
# identical rebuilds, damaged installers, exit codes.
# Usage: vornpack_cli_test.sh PATH_TO_VORNPACK EXAMPLES_DIR
set -u
vornpack=$(realpath "$1")
examples=$(realpath "$2")
source "$(dirname "$(realpath "$0")")/cli_check.sh"

cp -r "$examples/sample" sample
# A stand-in stub: zeros around the execution-level slot that build fills.
{ head -c 2048 /dev/zero; printf '<requestedExecutionLevel level="requireAdministrator" uiAccess="false"/>'
  head -c 1976 /dev/zero; } > stub.bin

"$vornpack" build -q sample/app.toml -o one.exe --stub stub.bin > out.txt 2> err.txt
check "build exits 0" [ $? -eq 0 ]
"$vornpack" build -q sample/app.toml -o two.exe --stub stub.bin > /dev/null
check "two builds are byte-identical" cmp -s one.exe two.exe
check "the stub comes first" cmp -s stub.bin <(head -c 4096 one.exe)

"$vornpack" list one.exe > list.txt
check "list shows the title" grep -qx "title: Vorn Sample Suite" list.txt
check "list shows a destination" grep -qF '<p>\Vorn Sample\readme.txt' list.txt
check "list shows an asked shortcut" grep -qx "   shortcut in desktop: Vorn Sample Readme (asked)" list.txt
check "list shows the run mode" grep -q "run: at-end" list.txt
check "list shows the method" grep -q "LH5" list.txt
"$vornpack" list --json one.exe > list.json
check "list --json is JSON" python3 -c "import json,sys; d=json.load(open('list.json')); sys.exit(0 if len(d['entries'])==3 and d['entries'][2]['shortcuts']['desktop']['ask'] else 1)"

{ echo 'elevation = "user"'; cat sample/app.toml; } > sample/user.toml
"$vornpack" build -q sample/user.toml -o user.exe > /dev/null && "$vornpack" list user.exe > user.txt
check "a per-user installer asks for no elevation" grep -qx "elevation: user" user.txt
"$vornpack" build -q sample/app.toml -o admin.exe > /dev/null && "$vornpack" list --json admin.exe > admin.json
check "an installer asks for admin by default" grep -qx '  "elevation": "admin",' admin.json
head -c 4096 /dev/zero > bare.bin
"$vornpack" build -q sample/app.toml -o bare.exe --stub bare.bin 2> err.txt
check "a stub without the slot is refused" grep -q "the stub cannot take an execution level: it has no" err.txt

"$vornpack" verify -q one.exe > verify.txt
check "verify passes a sound installer" [ $? -eq 0 ]

"$vornpack" extract -q one.exe -C out > /dev/null
check "extract exits 0" [ $? -eq 0 ]
check "extract writes under readable folders" cmp -s sample/files/readme.txt "out/program files/vorn sample/readme.txt"
check "extract writes every file" cmp -s sample/files/license.txt "out/program files/vorn sample/license.txt"

size=$(stat -c %s one.exe)
head -c $((size - 1)) one.exe > truncated.exe
"$vornpack" verify -q truncated.exe 2> err.txt
check "a truncated installer fails verify" [ $? -eq 1 ]
cp one.exe trailer.exe
printf '\xff\xff\xff\x7f' | dd of=trailer.exe bs=1 seek=$((size - 4)) conv=notrunc 2>/dev/null
"$vornpack" verify -q trailer.exe 2> err.txt
check "a changed trailer fails verify" [ $? -eq 1 ]
check "a changed trailer is named" grep -q "outside the file" err.txt
cp one.exe flipped.exe
offset=$(( $(grep -abo 'license.txt|' one.exe | tail -1 | cut -d: -f1) + 60 ))
byte=$(od -An -tu1 -j $offset -N1 one.exe | tr -d ' ')
printf "\\x$(printf %02x $(( byte ^ 0x55 )))" | dd of=flipped.exe bs=1 seek=$offset conv=notrunc 2>/dev/null
"$vornpack" verify -q flipped.exe 2> err.txt
check "a flipped byte fails verify" [ $? -eq 1 ]
check "the damaged entry is named" grep -q "entry 2 " err.txt

printf 'title = "x|y"\n[[file]]\nsource = "sample/files/readme.txt"\ndestination = "c:\\\\a"\n' > bad.toml
"$vornpack" build -q bad.toml -o bad.exe --stub stub.bin 2> err.txt
check "a bad manifest exits 1" [ $? -eq 1 ]
check "a bad manifest names file, line and field" grep -q 'bad.toml:1: title: ' err.txt
check "nothing is written for a bad manifest" [ ! -e bad.exe ]
check "no temporary file is left" [ -z "$(ls | grep part)" ]

"$vornpack" frobnicate > /dev/null 2>&1
check "an unknown subcommand is a usage error" [ $? -eq 2 ]
"$vornpack" --version | grep -q "^vornpack "
check "--version names the tool" [ $? -eq 0 ]

cli_summary
