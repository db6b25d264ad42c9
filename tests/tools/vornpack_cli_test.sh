#!/usr/bin/env bash
# vornpack as a user meets it: build -> list -> verify -> extract, byte-
# identical rebuilds, damaged installers, refused inputs, exit codes.
# Usage: vornpack_cli_test.sh PATH_TO_VORNPACK EXAMPLES_DIR STUB_X86 STUB_X64
set -u
vornpack=$(realpath "$1")
examples=$(realpath "$2")
source "$(dirname "$(realpath "$0")")/cli_check.sh"

cp -r "$examples/sample" sample
cp "$3" stub.bin
cp "$4" stub64.bin

"$vornpack" build sample/app.toml -o one.exe --stub stub.bin > out.txt 2> err.txt
check "build exits 0" [ $? -eq 0 ]
check "build sums up files and sizes" grep -qE '^5 files, [0-9]+ bytes in an installer of [0-9]+ bytes$' out.txt
awk '/^icon =/ {next} /^\[version\]/ {skip=1} /^\[\[file/ {skip=0} !skip' sample/app.toml > sample/plain.toml
"$vornpack" build -q sample/plain.toml -o plain.exe --stub stub.bin
check "without icon and version the stub comes first as it is, but for its header checksum: 0, none" /usr/bin/python3 -c "
import sys; stub = bytearray(open('stub.bin', 'rb').read()); at = int.from_bytes(stub[60:64], 'little') + 24 + 64
stub[at:at + 4] = bytes(4); sys.exit(0 if open('plain.exe', 'rb').read()[:len(stub)] == stub else 1)"
"$vornpack" list one.exe > list.txt
check "list shows the version, its strings and the icon's sizes" \
  grep -qxE 'version: 1\.2\.3\.4 \(product 1\.2\.3\.4\)|   CompanyName: Example Ltd\.|icon: 16x16, 32x32, 256x256' list.txt
[ "$(grep -cE '^version: |CompanyName|^icon: ' list.txt)" = 3 ] || check "list shows all three face lines" false
/usr/bin/python3 -c "
import pefile; d = bytearray(open('one.exe', 'rb').read())
d[[s for s in pefile.PE(data=bytes(d)).sections if s.Name.startswith(b'.rsrc')][0].PointerToRawData + 12] = 1  # a named entry
open('named.exe', 'wb').write(d)"
"$vornpack" list named.exe > list.txt 2>&1
check "list says in one line why it shows no version or icon" \
  grep -qx 'version and icon: unreadable, it holds resources with names; vornpack rebuilds numbered ones only' list.txt
check "wrestool finds three icons, the group, the version and the manifest" [ "$(wrestool -l one.exe | grep -oE 'type=[a-z_0-9]+' | tr '\n' ' ')" = \
  "type=3 type=icon type=3 type=icon type=3 type=icon type=14 type=group_icon type=16 type=version type=24 " ]
# The same sample for 64-bit Windows, on the carried x64 stub.
{ echo 'arch = "x64"'; cat sample/app.toml; } > sample/x64.toml
"$vornpack" build -q sample/x64.toml -o x64.exe && rm sample/x64.toml
for exe in one.exe x64.exe; do
  check "pefile reads $exe's version strings, and its checksum is 0, none" /usr/bin/python3 -c "
import pefile, sys
pe = pefile.PE('$exe')
strings = pe.FileInfo[0][0].StringTable[0].entries
sys.exit(0 if strings[b'ProductName'] == b'Vorn Sample Suite' and strings[b'FileVersion'] == b'1.2.3.4'
         and pe.OPTIONAL_HEADER.CheckSum == 0 else 1)"
done
check "list names each installer's architecture" [ "$(head -1 list.txt)/$("$vornpack" list x64.exe | head -1)" = "arch: x86/arch: x64" ]
"$vornpack" build -q sample/app.toml -o toml.exe --stub sample/app.toml 2> err.txt
check "--stub refuses what is no PE32 GUI program, saying what it is" grep -q 'does not start like a PE image' err.txt
# Stubs that are no stub: each refused with one line that names --stub.
mkdir stubdir
truncate -s 5M huge.bin
head -c 100000 stub.bin > cut.bin
cp stub.bin certificate.bin
pe=$(od -An -tu4 -j 60 -N4 stub.bin | tr -d ' ')
printf '\x00\x10\x00\x00\x08\x00\x00\x00' | dd of=certificate.bin bs=1 seek=$((pe + 152)) conv=notrunc 2>/dev/null
python3 -c "import sys; d = open('stub.bin', 'rb').read(); e = b'<requestedExecutionLevel '; i = d.index(e)
open('slot.bin', 'wb').write(d.replace(e, b'<requestedExecutionLeve_ ') + d[i:i + 100])"
while IFS='|' read -r name file message; do
  "$vornpack" build -q sample/app.toml -o stubbed.exe --stub "$file" 2> err.txt
  check "a stub that is $name is refused" [ $? -eq 1 -a ! -e stubbed.exe ]
  check "a stub that is $name is named for it" grep -qxF "vornpack: --stub \"$file\"$message" err.txt
done <<'STUBS'
an installer|one.exe| cannot be the installer's program: it is an installer, not a stub: it carries a package already
a folder|stubdir|: a folder, not a program
over 4 MiB|huge.bin|: the stub is larger than 4 MiB, the most vornpack takes
cut short|cut.bin| cannot be the installer's program: its section 4 lies outside the file (the file is cut short, or the section lies)
signed|certificate.bin| cannot be the installer's program: it is signed already; sign the installer instead
misplaced|slot.bin| cannot be the installer's program: its execution level lies outside its resource section
x64 for x86|stub64.bin| cannot be the installer's program: it is an x64 program, and the manifest's arch is "x86": give an x86 stub, or set arch = "x64"
STUBS
"$vornpack" build -q sample/app.toml -o - --stub stub.bin 2> /dev/null | cat > piped.exe
check "a second build, into a pipe, is byte-identical" cmp -s one.exe piped.exe

"$vornpack" list --json one.exe > list.json
check "list --json is JSON" python3 -c "import json,sys; d=json.load(open('list.json')); sys.exit(0 if len(d['entries'])==5 and d['uninstall']['files']==3 and d['arch']=='x86' and d['entries'][2]['shortcuts']['desktop']['ask'] else 1)"
check "list --json gives the replace rule as data" python3 -c "import json,sys; e=json.load(open('list.json'))['entries']; sys.exit(0 if [x['replace'] for x in e] == [{'ask': 'sample.ini (your settings)'}] + ['always'] * 4 else 1)"
"$vornpack" list --codepage 932 one.exe 2> err.txt
check "a double-byte code page is refused" grep -q "932 is a double-byte code page" err.txt

# [install]: the options stub with its settings; winget reads them back, with the installer's digest.
"$vornpack" winget one.exe > winget.txt 2> err.txt
check "winget refuses an installer without switches" grep -q "has no silent switch" err.txt
{ cat sample/app.toml; printf '[install]\nswitches = true\nshortcuts = "all-users"\n'; } > sample/deploy.toml
"$vornpack" build -q sample/deploy.toml -o deploy.exe > /dev/null && "$vornpack" list deploy.exe > list.txt
check "list shows the [install] keys" grep -qx "install: switches all-users shortcuts" list.txt
check "the keys take the options stub, not the plain one" [ "$(wc -c < deploy.exe)" -ne "$(wc -c < one.exe)" ]
"$vornpack" winget deploy.exe --url https://example.com/setup.exe > winget.txt
check "winget gives the silent switch, the scope, the product code and the digest" grep -qxE \
  "  Silent: /S|Scope: machine|ProductCode: \"Vorn Sample Suite\"|    InstallerSha256: $(sha256sum deploy.exe | cut -c1-64 | tr a-f A-F)" winget.txt
[ "$(grep -cxE "  Silent: /S|Scope: machine|ProductCode: \"Vorn Sample Suite\"|    InstallerSha256: [0-9A-F]{64}" winget.txt)" = 4 ] ||
  check "winget gives all four" false

{ echo 'elevation = "user"'; sed 's/<p>/C:/' sample/app.toml; } > sample/user.toml
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
"$vornpack" extract -q one.exe -C out > /dev/null 2> err.txt
check "extract refuses to replace a file under -C" bash -c "[ $? -eq 1 ] && grep -qF '): \"out/program files/vorn sample/' err.txt &&
  grep -qF '\" exists; --overwrite replaces it' err.txt"
echo changed > "out/program files/vorn sample/license.txt"
"$vornpack" extract -q --overwrite one.exe -C out > /dev/null
check "extract --overwrite replaces it" cmp -s sample/files/license.txt "out/program files/vorn sample/license.txt"
# Names the installer would write one over the other (case folded, in any
# script) or a file where a folder must be: refused before anything is written.
while IFS='|' read -r name first second message; do
  printf '[[file]]\nsource = "sample/files/readme.txt"\ndestination = '"'%s'"'\n[[file]]\nsource = "sample/files/readme.txt"\ndestination = '"'%s'"'\nno-check = ["duplicate"]\n' \
    "$first" "$second" > clash.toml
  "$vornpack" build -q clash.toml -o clash.exe --stub stub.bin > /dev/null
  "$vornpack" extract -q clash.exe -C clash > /dev/null 2> err.txt
  check "extract refuses $name, writing nothing" [ $? -eq 1 -a ! -e clash -a "$(cat err.txt)" = "vornpack: clash.exe: $message" ]
done <<'CASES'
names equal once case is folded|c:\Read.txt|C:\READ.TXT|entry 2 ("C:\READ.TXT"): "c/read.txt" is also entry 1's file, once case is folded
accented names equal once case is folded|c:\Ärger|c:\ärger|entry 2 ("c:\ärger"): "c/ärger" is also entry 1's file, once case is folded
a file where a folder must be|c:\a|c:\a\b|entry 2 ("c:\a\b"): its folder "c/a" is entry 1's file
CASES

# What the installer holds is shown as it is, not as a terminal would act on
# it; unchecked data is named; extract takes no code page that could turn a
# byte into '/' (037 turns "a..." below into /dev/null) and stays inside -C
# whatever links lie there.
printf 'VORN\x1aNON\x05\0\0\0\0\0\0\0\0\0\0\0\0hello' > zero.non
printf '%s\n' 'title = "\u001b]0;PWNED\u0007"' '[[file]]' 'source = "zero.non"' 'method = "as-is"' \
  "destination = 'c:\\a$(printf '\x84\x85\xa5a\x95\xa4\x93\x93' | iconv -f cp1252 -t utf-8)'" > odd.toml
"$vornpack" build -q odd.toml -o odd.exe > /dev/null && "$vornpack" list odd.exe > list.txt
check "list escapes control characters" grep -qxF 'title: \x1B]0;PWNED\x07' list.txt
"$vornpack" verify odd.exe > verify.txt
check "verify names an entry stored without a checksum" env LC_ALL=C grep -q '^entry 1 (.*): not checked: stored without a checksum' verify.txt
"$vornpack" extract odd.exe -C box/in --codepage 037 > out.txt 2>&1
check "extract refuses code page 037 and writes nothing" [ $? -eq 2 -a ! -e box ]
mkdir -p outside links1/in "links2/in/program files/vorn sample"
ln -s ../../outside "links1/in/program files"
ln -s ../../../../outside/lic "links2/in/program files/vorn sample/license.txt"
for links in links1 links2; do
  "$vornpack" extract -q one.exe -C $links/in > /dev/null 2> err.txt
  check "extract refuses a link inside -C ($links)" bash -c "[ $? -eq 1 ] && grep -q 'symbolic link' err.txt"
done
check "nothing went through the links" [ -z "$(ls -A outside)" ]
truncate -s 16M zeros16.exe
if command -v strace > /dev/null; then
  strace -qq -e trace=read -o reads.txt "$vornpack" list zeros16.exe > /dev/null 2>&1
  check "a 16 MiB field is read in large reads" [ "$(wc -l < reads.txt)" -lt 1000 ]
fi

size=$(stat -c %s one.exe)
cp one.exe trailer.exe
printf '\xff\xff\xff\x7f' | dd of=trailer.exe bs=1 seek=$((size - 4)) conv=notrunc 2>/dev/null
head -c $((size / 2)) one.exe > cut.exe
echo text > text.txt
for file in trailer.exe cut.exe stub.bin text.txt; do
  for command in list verify extract; do
    "$vornpack" $command $file > out.txt 2>&1
    check "$command of $file gives one line: no package, and the size" [ $? -eq 1 -a "$(cat out.txt)" = \
      "vornpack: $file: not a vorn installer: it carries no install package ($(stat -c %s $file) bytes)" ]
  done
done
for table in "$((size - 16)) 8 is not at the end of the file" "$((size - 4)) 16 lies outside the file"; do
  set -- $table
  cp one.exe table.exe
  printf "$(printf '\\x%02x' $(( $1 & 255 )) $(( $1 >> 8 & 255 )) $(( $1 >> 16 & 255 )) 0 $2 0 0 0)" |
    dd of=table.exe bs=1 seek=$((pe + 152)) conv=notrunc 2>/dev/null
  "$vornpack" verify -q table.exe 2> err.txt
  check "a certificate table that ${*:3} is named so" grep -qF "table.exe: The program's certificate table ${*:3}" err.txt
done
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
truncate -s 1025K huge.toml
truncate -s 5M huge.ico
sed 's|^icon = .*|icon = "../huge.ico"|' sample/app.toml > sample/hugeicon.toml
printf '[[file]]\ndestination = "c:\\\\a"\nsource = "sample/files/readme.txt\\u0000.x"\n' > nul.toml
truncate -s 1900M z19.bin
printf 'method = "non"\n[[file]]\nsource = "z19.bin"\ndestination = "c:\\\\a"\n[[file]]\nsource = "z19.bin"\ndestination = "c:\\\\b"\n' > big2.toml
while IFS='|' read -r name args message; do
  "$vornpack" build -q $args --stub stub.bin 2> err.txt
  check "$name exits 1" [ $? -eq 1 ]
  check "$name says why" grep -qF "$message" err.txt
done <<'CASES'
a bad manifest|bad.toml -o bad.exe|bad.toml:1: title: "|" cannot be stored
-o the manifest|sample/app.toml -o sample/app.toml|sample/app.toml: the output would overwrite the manifest
-o a source|sample/app.toml -o sample/files/readme.txt|the output would overwrite the source of the entry at line 33
a folder as the manifest|dir.toml|"dir.toml": the manifest is not a regular file
a manifest over 1 MiB|huge.toml|"huge.toml": the manifest is larger than 1 MiB, the most vornpack takes
an icon over 4 MiB|sample/hugeicon.toml|sample/hugeicon.toml:9: icon: "sample/../huge.ico": the icon is larger than 4 MiB
a NUL in a string|nul.toml|nul.toml:3: source: a NUL character cannot be stored
two 1.9 GB stored sources|big2.toml -o big2.exe|big2.toml:5: source: with this entry the installer would pass 2 GiB (at least
-o the icon|sample/app.toml -o sample/files/app.ico|sample/files/app.ico: the output would overwrite the icon
-o the stub|sample/app.toml -o stub.bin|stub.bin: the output would overwrite the stub (--stub)
CASES
rm sample/plain.toml sample/hugeicon.toml sample/deploy.toml
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

# Made solid: one chain past the stored and LH5 entries, listed with offsets.
{ echo 'solid = true'; cat lz/app.toml; } > lz/solid.toml
"$vornpack" build -q lz/solid.toml -o solid1.exe --stub stub.bin > /dev/null && "$vornpack" list solid1.exe > solid.txt
check "solid entries are listed at their chain offsets" [ "$(grep -oE '^   [A-Z0-9]+,|offset [0-9]+' solid.txt | tr -d ' \n')" = \
  "LZM,offset0LZM,offset$(stat -c %s lz/license.txt)NON,LH5," ]
"$vornpack" list --json solid1.exe > solid.json
check "list --json gives the chain offsets of solid entries only" python3 -c "import json,sys
e = json.load(open('solid.json'))['entries']; sys.exit(0 if [x.get('chain_offset') for x in e] == [0, $(stat -c %s lz/license.txt), None, None] else 1)"
rm -rf lzout && "$vornpack" verify -q solid1.exe > /dev/null && "$vornpack" extract -q solid1.exe -C lzout > /dev/null
check "a solid installer verifies and extracts every file" bash -c \
  'for f in license.txt stub.bin random.bin; do cmp -s lz/$f lzout/c/$f || exit 1; done; cmp -s lz/license.txt lzout/c/old.txt'

# A vendor's tree of 200 files in nested folders with spaces, from three
# [[folder]] tables: extracted byte for byte (in the installer's lower case),
# and the same installer twice, and again after touch.
for i in $(seq 200); do
  dir="tree/Part $((i % 4))/Sub Folder $((i % 7))"; mkdir -p "$dir"; echo "file $i" > "$dir/File $i.txt"
done
cat > tree.toml <<'TOML'
[[folder]]
source = "tree/Part 0"
destination = 'c:\App\Part 0'
[[folder]]
source = "tree"
destination = 'c:\App'
include = ["Part 1", "Part 2"]
[[folder]]
source = "tree/Part 3"
destination = 'c:\App\Part 3'
method = "lzma"
TOML
"$vornpack" build -q tree.toml -o tree1.exe --stub stub.bin && touch -d '2001-01-01' tree/*/*/* &&
  "$vornpack" build -q tree.toml -o tree2.exe --stub stub.bin
check "three [[folder]] tables: the same installer twice, and after touch" cmp -s tree1.exe tree2.exe
"$vornpack" extract -q tree1.exe -C treeout > /dev/null
check "they extract all 200 files, byte for byte, in lower case" bash -c '
  [ "$(find treeout -type f | wc -l)" = 200 ] || exit 1
  find tree -type f | while read -r f; do cmp -s "$f" "treeout/c/app/$(echo "${f#tree/}" | tr A-Z a-z)" || exit 1; done'

truncate -s 2000M zeros.bin
printf '[[file]]\nsource = "zeros.bin"\ndestination = "c:\\\\z"\n' > big.toml
interrupted TERM "build stopped by SIGTERM" "$vornpack" build -q big.toml -o big.exe --stub stub.bin

cli_summary
