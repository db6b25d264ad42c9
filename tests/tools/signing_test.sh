#!/usr/bin/env bash
# Signed installers: vornpack signs the sample at build time with a throwaway
# certificate; osslsigncode accepts the result and vornpack still reads its
# package; a signer that breaks the layout, or fails, is refused.
# Usage: signing_test.sh PATH_TO_VORNPACK EXAMPLES_DIR
set -u
vornpack=$(realpath "$1")
examples=$(realpath "$2")
command -v osslsigncode >/dev/null || { echo "SKIP: osslsigncode is missing (scripts/bootstrap installs it)"; exit 77; }
source "$(dirname "$(realpath "$0")")/cli_check.sh"

cp -r "$examples/sample" sample
openssl req -x509 -newkey rsa:2048 -nodes -keyout k.pem -out c.pem -days 30 -subj /CN=Test 2>/dev/null
printf '[sign]\ncommand = ["osslsigncode", "sign", "-certs", "%s", "-key", "%s", "-n", "{title}", "-in", "{in}", "-out", "{out}"]\n' \
  "$work/c.pem" "$work/k.pem" >>sample/app.toml

"$vornpack" build -q sample/app.toml -o signed.exe > out.txt 2>&1
check "osslsigncode verify accepts it" osslsigncode verify -CAfile c.pem -in signed.exe
# The same for 64-bit Windows: a signed PE32+ installer with its icon and version.
{ echo 'arch = "x64"'; cat sample/app.toml; } > sample/x64.toml
"$vornpack" build -q sample/x64.toml -o signed64.exe > /dev/null 2>&1 && rm sample/x64.toml
check "osslsigncode verify accepts the x64 one" osslsigncode verify -CAfile c.pem -in signed64.exe
check "pefile reads its signature, version and checksum" /usr/bin/python3 -c "
import pefile, sys
pe = pefile.PE('signed64.exe')
security = pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY['IMAGE_DIRECTORY_ENTRY_SECURITY']]
strings = pe.FileInfo[0][0].StringTable[0].entries
sys.exit(0 if pe.OPTIONAL_HEADER.Magic == 0x20B and security.Size > 1000 and strings[b'FileVersion'] == b'1.2.3.4'
         and pe.OPTIONAL_HEADER.CheckSum == pe.generate_checksum() else 1)"
"$vornpack" verify signed64.exe > /dev/null
check "vornpack verifies it" [ $? -eq 0 ]
"$vornpack" list --json signed.exe > list.json
check "list --json tells the signature's size" python3 -c "import json,sys; d=json.load(open('list.json')); sys.exit(0 if d['signed'] and d['signature_size'] > 1000 and len(d['entries']) == 5 else 1)"
"$vornpack" extract -q signed.exe -C out > /dev/null
check "extract reads the signed package" cmp -s sample/files/readme.txt "out/program files/vorn sample/readme.txt"
check "the remover in it is signed too" osslsigncode verify -CAfile c.pem -in "out/program files/vorn sample/uninstall.exe"
check "the signing material stays out" bash -c "! grep -aq -e PRIVATE -e k.pem signed.exe out.txt"

"$vornpack" build -q sample/app.toml -o plain.exe --sign-command "osslsigncode sign -certs 'c.pem' -key k.pem -in '{in}' -out {out}" > /dev/null
check "--sign-command splits at blanks and quotes" [ $? -eq 0 ]
check "the installer is a multiple of 8 bytes long" [ $(( $(stat -c %s plain.exe) % 8 )) -eq 0 ]
# Fake signers, each with what vornpack must say it did instead of signing
# (the sample's remover, which is signed first).
while IFS='#' read -r name script message; do
  "$vornpack" build -q sample/app.toml -o bad.exe --sign-command "sh -c '$script' {in} {out}" 2> err.txt
  check "a signer that $name is refused" [ $? -eq 1 -a ! -e bad.exe ]
  check "a signer that $name is named for it" grep -qF "\"sh\" did not sign the remover: $message" err.txt
done <<'SIGNERS'
copies the file#cp $0 $1#it copied the program unchanged
appends junk#cp $0 $1; echo junk >>$1#it appended 5 bytes but no certificate table
changes a byte#cp $0 $1; printf Z | dd of=$1 bs=1 seek=3000 conv=notrunc 2>/dev/null#it changed the program at offset 0xBB8 and added no signature
signs, then changes a byte#osslsigncode sign -certs c.pem -key k.pem -in $0 -out $1 >/dev/null; printf Z | dd of=$1 bs=1 seek=3000 conv=notrunc 2>/dev/null#it changed the program at offset 0xBB8, where signing
signs, then appends junk#osslsigncode sign -certs c.pem -key k.pem -in $0 -out $1 >/dev/null; echo junk >>$1#its certificate table is not at the end of the file
SIGNERS
"$vornpack" build -q sample/app.toml -o bad.exe --sign-command "sh -c 'echo no card >&2; exit 3' {in} {out}" 2> err.txt
check "a failing signer is refused with what it said" grep -q '"sh" failed (exit 3): no card' err.txt
check "nothing is written when signing fails" [ ! -e bad.exe ]
# Signers that never end or never stop talking: hang.sh leaves a child behind.
ended() {  # gone, or a zombie, within a second
  for i in $(seq 10); do ps -o stat= -p "$(cat pid)" | grep -qv Z || return 0; sleep 0.1; done; return 1; }
printf '#!/bin/sh\nsleep 100 &\necho $! > pid\necho waiting\nwait\n' > hang.sh
printf '#!/bin/sh\nhead -c 100000000 /dev/zero | tr "\\0" x\necho; echo the end; exit 2\n' > flood.sh
chmod +x hang.sh flood.sh
{ cat sample/app.toml; echo "timeout = 1"; } > sample/quick.toml
"$vornpack" build -q sample/quick.toml -o hung.exe --sign-command "./hang.sh {in} {out}" 2> err.txt
check "a hanging signer is ended at [sign] timeout" grep -q '"./hang.sh" did not finish within 1 second.*: waiting' err.txt
check "with what it started" ended
"$vornpack" build -q sample/app.toml -o flood.exe --sign-command "./flood.sh {in} {out}" 2> err.txt
check "a flooding signer is quoted by the tail of its output" grep -q 'failed (exit 2): \.\.\.xxx*\\x0Athe end$' err.txt
check "...and only by its tail" [ $(grep -c 'the end' err.txt) -eq 1 -a $(stat -c %s err.txt) -lt 3000 ]

mkdir tmp
rm -f pid
TMPDIR=$PWD/tmp "$vornpack" build -q sample/app.toml -o slow.exe --sign-command "./hang.sh {in} {out}" &
for i in $(seq 50); do [ -s pid ] && break; sleep 0.1; done
kill -TERM $!; wait $!
check "a signal while signing leaves no signing folder" [ $? -eq 143 -a -z "$(ls -A tmp)" ]
check "...and no signer" ended

cli_summary
