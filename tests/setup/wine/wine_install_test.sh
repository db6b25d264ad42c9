#!/usr/bin/env bash
# The real installer stub under Wine, answered through a virtual display:
#   wine_install_test.sh ARCH STUB BUILD_INSTALLER VORNPACK FACE_PROBE REMOVER_PROBE
# ARCH is x86 (the PE32 stub) or x64 (the PE32+ stub); every case runs for
# both. Boxes and shell executes come from Wine's relay trace. Skips (77)
# only the x86 cases, and only where the kernel runs no 32-bit programs.
set -euo pipefail

arch=$1
stub=$2
builder=$3
vornpack=$4
face_probe=$5
remover_probe=$6
here=$(cd "$(dirname "$0")" && pwd)
results=$PWD  # screenshots and traces of failed cases land beside the test's output
source "$here/../../../scripts/wine_session.sh"

if [ "$arch" = x86 ] && ! wine_runs_x86; then
  echo "SKIP: this kernel runs no 32-bit programs (its 32-bit emulation is off), so 32-bit Wine cannot start; the x64 cases still run"
  exit 77
fi
loader=wine
[ "$arch" = x86 ] || loader=/usr/lib/wine/wine64
for tool in "$loader" Xvfb xdotool; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (scripts/bootstrap installs it)"; exit 1; }
done

work=$(mktemp -d /tmp/vorn-wine-$arch-XXXXXX)
cleanup() {
  wine_session_stop
  chattr -i "$work/cd" 2>/dev/null || true
  [ -n "${VORN_WINE_KEEP:-}" ] || rm -rf "$work"
}
trap cleanup EXIT

failures=0
fail() {
  echo "FAIL [$case_name]: $*"
  failures=$((failures + 1))
  command -v import >/dev/null && import -window root "$results/setup_wine_$case_name.png" 2>/dev/null || true
  [ ! -f "$work/$case_name.relay" ] || cp "$work/$case_name.relay" "$results/setup_wine_$case_name.relay"
  # What Wine itself said (a program it could not start, a crash), without the trace.
  [ ! -f "$work/$case_name.relay.raw" ] || grep -avE '^[0-9a-f]+:(Call|Ret|trace)' "$work/$case_name.relay.raw" |
    tail -n 40 >"$results/setup_wine_$case_name.wine" || true
}

# --- display and prefix, once for every case ---
wine_session_start "$work" "$arch" || { echo "FAIL: no Wine session"; exit 1; }
# Program Files elsewhere, as on a localised or second-drive system: the NT
# key has no ProgramFilesDir, so "<p>" must come from the Windows key.
timeout 60 "$wine" reg add 'HKLM\Software\Microsoft\Windows\CurrentVersion' /v ProgramFilesDir \
  /t REG_SZ /d 'C:\Vorn Apps' /f >/dev/null 2>&1
drive_c=$WINEPREFIX/drive_c
mkdir -p "$drive_c/dl"

# run_installer CASE EXE RC ANSWER...: runs C:\dl\EXE, expecting exit code RC;
# each ANSWER is KEY@CAPTION for the next box in order (y, n or Return). Leaves
# CASE.relay (the box and shell-execute lines without addresses, dates or times).
run_installer() {
  case_name=$1
  local exe=$2 rc=$3 relay=$work/$1.relay n=0 answer
  shift 3
  (set +e; WINEDEBUG=+relay timeout 120 "$wine" "C:\\dl\\$exe" 2>"$relay.raw"; echo $? >"$work/$case_name.rc") &
  for answer in "$@"; do
    n=$((n + 1))
    if ! wait_until 60 has_count "$n" ':Call user32.MessageBoxA' "$relay.raw" ||
       ! wait_until 30 has_window "${answer#*@}"; then
      fail "box $n (${answer#*@}) never appeared"
      break
    fi
    answer_box "$n" "${answer%%@*}" "${answer#*@}" "$relay.raw" || fail "box $n was not answered"
  done
  wait_until 130 test -s "$work/$case_name.rc" || fail "the installer did not end"
  grep -a -E ':(Call |Ret  )(user32\.MessageBoxA|shell32\.ShellExecuteA|KERNEL32\.SetDefaultDllDirectories)' "$relay.raw" |
    sed -E 's/^[0-9a-f]+://; s/ ret=[0-9a-f]+$//; s/[0-9a-f]{8,16} "/"/g;
            s/started on [^ ]+ at [^\\]+\\r/started on DATE at TIME\\r/;
            s/(ShellExecuteA\(\) retval=)[0-9a-f]+/\1ANY/' >"$relay"
  expect_exit "$rc"
}

# expect_relay <<TRACE: the boxes and shell executes after the DLL search is
# limited to the system folder (LOAD_LIBRARY_SEARCH_SYSTEM32).
expect_relay() {
  { printf '%s\n' 'Call KERNEL32.SetDefaultDllDirectories(00000800)' \
      'Ret  KERNEL32.SetDefaultDllDirectories() retval=00000001'; cat; } |
    diff -u - "$work/$case_name.relay" >"$work/diff" || fail "relay trace differs:
$(cat "$work/diff")"
}

expect_exit() {
  [ "$(cat "$work/$case_name.rc" 2>/dev/null)" = "$1" ] ||
    fail "exit code $(cat "$work/$case_name.rc" 2>/dev/null) instead of $1"
}

# expect_log LINE...: the log, CR LF lines, its start line's date and time
# masked; expect_log_of CASE: the same log as CASE's run.
expect_log() {
  printf '%s\r\n' "$@" >"$work/expected.log"
  expect_log_of expected
}
expect_log_of() {
  sed -E '1s/ started on .* at .*\r$/ started on DATE at TIME\r/' "$drive_c/dl/setup.log" \
    >"$work/actual.log" 2>/dev/null || true
  cmp -s "$work/$1.log" "$work/actual.log" || fail "log differs:
$(diff <(od -c "$work/$1.log") <(od -c "$work/actual.log") | head -20)"
}

printf 'Read me first.\r\nThen run the program.\r\n' >"$work/readme.txt"
head -c 5000 /dev/urandom >"$work/data.bin"
for i in $(seq 1 400); do echo "line $i of a manual the installer expands from LH5"; done >"$work/manual.txt"
# The installer's face: vornpack rebuilds the stub's resources with an icon
# and version information; the install and signed cases run that stub.
printf '%s\n' 'title = "Face"' "arch = \"$arch\"" "icon = \"$here/../../../examples/sample/files/app.ico\"" '[version]' \
  'file-version = "1.2.3.4"' 'product-version = "5.6.7.8"' 'product-name = "Vorn Test Suite"' \
  'company = "Example Ltd."' 'description = "Vorn Test Suite Setup"' 'copyright = "(c) 2026 Example Ltd."' \
  '[[file]]' "source = \"$work/readme.txt\"" "destination = 'C:\\a.txt'" >"$work/face.toml"
"$vornpack" build -q "$work/face.toml" --stub "$stub" -o "$work/face.exe"
head -c "$(tail -c 4 "$work/face.exe" | od -An -tu4 | tr -d ' ')" "$work/face.exe" >"$work/face-stub.exe"
cp "$face_probe" "$drive_c/dl/face_probe.exe"
# expect_face: Windows' version and icon readers on C:\dl\setup.exe.
expect_face() {
  timeout 60 "$wine" 'C:\dl\face_probe.exe' 'C:\dl\setup.exe' 2>/dev/null | tr -d '\r' >"$work/face.txt"
  diff -u - "$work/face.txt" >"$work/diff" <<'FACE' || fail "Windows reads another face:
$(cat "$work/diff")"
file 1.2.3.4 product 5.6.7.8
translation 0409 04b0
CompanyName: Example Ltd.
FileDescription: Vorn Test Suite Setup
FileVersion: 1.2.3.4
LegalCopyright: (c) 2026 Example Ltd.
ProductName: Vorn Test Suite
ProductVersion: 5.6.7.8
icons 1, extracted yes, images 3
FACE
}

"$builder" "$work/face-stub.exe" "$drive_c/dl/setup.exe" "Vorn Test Suite" \
  'C:\VornTest\App\ReadMe.TXT' 2 'Vorn Readme' stored "$work/readme.txt" \
  '\VornTest\App\data.bin' 0 '' raw "$work/data.bin" \
  '<P>\Vorn Test\Manual.txt' 0 '' lh5 "$work/manual.txt" \
  '<P>\Vorn Test\Tool.exe' 0 '' lzma "$stub"

# expect_files: the stored, headerless, LH5 and LZMA (x86-filtered) entries of the confirmed run.
expect_files() {
  cmp -s "$work/readme.txt" "$drive_c/vorntest/app/readme.txt" && cmp -s "$work/data.bin" "$drive_c/vorntest/app/data.bin" &&
    cmp -s "$work/manual.txt" "$drive_c/vorn apps/vorn test/manual.txt" &&
    cmp -s "$stub" "$drive_c/vorn apps/vorn test/tool.exe" || fail "the installed files differ"
}
uninstall() { rm -rf "$drive_c/vorntest" "$drive_c/vorn apps/vorn test" "$drive_c/dl/setup.log" "$link"; }

# --- a confirmed installation ---
run_installer install setup.exe 0 'y@Vorn Test Suite' 'Return@Vorn Test Suite'
expect_relay <<'TRACE'
Call user32.MessageBoxA(00000000,"You are about to install:     \r\r\"Vorn Test Suite\"\r\rDo you want to continue?","Vorn Test Suite",00000024)
Ret  user32.MessageBoxA() retval=00000006
Call shell32.ShellExecuteA(00000000,00000000,"c:\\vorntest\\app\\readme.txt",00000000,00000000,00000005)
Ret  shell32.ShellExecuteA() retval=ANY
Call user32.MessageBoxA(00000000,"Program: \"c:\\dl\\setup.exe\" started on DATE at TIME\r\n\r\nTitle: \"Vorn Test Suite\"\r\rFor details see the log file: c:\\dl\\setup.log\r\n\r\n\r\nCompleted with NO errors\r\n","Vorn Test Suite",00000000)
Ret  user32.MessageBoxA() retval=00000001
TRACE
expect_log 'Program: "c:\dl\setup.exe" started on DATE at TIME' \
  'Title: "Vorn Test Suite"' \
  'Creating "Vorn Readme" shortcut: Vorn Readme for: c:\vorntest\app\readme.txt' \
  'Extracting file: c:\vorntest\app\readme.txt...   ' 'OK' \
  'Extracting file: C:\vorntest\app\data.bin...   ' 'OK' \
  'Extracting file: c:\vorn apps\vorn test\manual.txt...   ' 'OK' \
  'Extracting file: c:\vorn apps\vorn test\tool.exe...   ' 'OK' \
  'Completed with NO errors.' \
  'Run at the end: "c:\vorntest\app\readme.txt"'
cp "$work/actual.log" "$work/install.log"
expect_files
expect_face
[ ! -e "$drive_c/dl/setup.tmp" ] || fail "the temporary file was left behind"
link=$(find -L "$drive_c/users" -path '*/Desktop/Vorn Readme.lnk' | head -1)
[ -n "$link" ] && [ "$(od -An -tx1 -N4 "$link" | tr -d ' ')" = 4c000000 ] &&
  grep -aqF 'c:\vorntest\app\readme.txt' "$link" || fail "no shell link on the desktop pointing at readme.txt"

# --- a cancelled run: no log, no temporary file, nothing installed ---
uninstall
run_installer cancel setup.exe 0 'n@Vorn Test Suite' 'Return@Vorn Test Suite'
expect_relay <<'TRACE'
Call user32.MessageBoxA(00000000,"You are about to install:     \r\r\"Vorn Test Suite\"\r\rDo you want to continue?","Vorn Test Suite",00000024)
Ret  user32.MessageBoxA() retval=00000007
Call user32.MessageBoxA(00000000,"Program: \"c:\\dl\\setup.exe\" started on DATE at TIME\r\n\r\nTitle: \"Vorn Test Suite\"\r\r\r\nInstallation terminated at user's request\r","Vorn Test Suite",00000000)
Ret  user32.MessageBoxA() retval=00000001
TRACE
[ ! -e "$drive_c/dl/setup.log" ] && [ ! -e "$drive_c/dl/setup.tmp" ] && [ ! -e "$drive_c/vorntest" ] &&
  [ ! -e "$drive_c/vorn apps/vorn test" ] || fail "a cancelled run left its log, its temporary file or files"

# --- the stub without a package: the unhandled-failure report ---
cp "$stub" "$drive_c/dl/bare.exe"
run_installer nopackage bare.exe 1 'Return@Application Error'
expect_relay <<'TRACE'
Call user32.MessageBoxA(00000000,"EPackageError: No install package behind the program","Application Error",00002010)
Ret  user32.MessageBoxA() retval=00000001
TRACE

# --- a signed installer (laid out as vornpack does) installs as the unsigned one ---
case_name=signed
uninstall
setup=$drive_c/dl/setup.exe size=$(stat -c %s "$drive_c/dl/setup.exe")
{ head -c $((size - 4)) "$setup"; head -c $(((8 - size % 8) % 8)) /dev/zero; tail -c 4 "$setup"; } >"$work/aligned.exe"
(cd "$work" && openssl req -x509 -newkey rsa:2048 -nodes -keyout k.pem -out c.pem -days 30 -subj /CN=Test &&
  osslsigncode sign -certs c.pem -key k.pem -in aligned.exe -out signed.exe) >/dev/null 2>&1 &&
  cp "$work/signed.exe" "$setup" || fail "osslsigncode could not sign the installer"
run_installer signed setup.exe 0 'y@Vorn Test Suite' 'Return@Vorn Test Suite'
diff -u "$work/install.relay" "$work/signed.relay" >"$work/diff" || fail "boxes differ from the unsigned run:
$(cat "$work/diff")"
expect_log_of install
expect_files
expect_face

# --- an LH5 entry whose header claims 2 GiB: its extraction fails at once ---
"$builder" "$stub" "$drive_c/dl/setup.exe" "" 'C:\VornLie\manual.txt' 0 '' lh5 "$work/manual.txt" \
  'C:\VornLie\readme.txt' 0 '' stored "$work/readme.txt"
at=$(grep -abo $'VORN\x1aLH5' "$drive_c/dl/setup.exe" | tail -1 | cut -d: -f1)
printf '\xff\xff\xff\x7f' | dd of="$drive_c/dl/setup.exe" bs=1 seek=$((at + 8)) conv=notrunc status=none
run_installer lie setup.exe 0 'Return@setup.exe'
expect_relay <<'TRACE'
Call user32.MessageBoxA(00000000,"Program: \"c:\\dl\\setup.exe\" started on DATE at TIME\r\n\r\nFor details see the log file: c:\\dl\\setup.log\r\n\r\nExtract failed - aborting installation\r\n","setup.exe",00000000)
Ret  user32.MessageBoxA() retval=00000001
TRACE
expect_log 'Program: "c:\dl\setup.exe" started on DATE at TIME' \
  'Extracting file: c:\vornlie\manual.txt...   ' 'ERROR: Extract failed - aborting installation'
[ ! -e "$drive_c/vornlie/readme.txt" ] || fail "the run went on after the failed extraction"

# --- read-only media, and a folder the code page (1252) cannot name ---
# media_case CASE EXE LOGDIR: runs EXE (no title, two files of one LZMA
# chain) agreeing to all; the files must be installed and the log the
# summary names must lie in LOGDIR and hold the whole run.
media_case() {
  case_name=$1
  rm -rf "$drive_c/vorntest"
  wine_run_answering "$1" "$2"
  expect_exit 0
  cmp -s "$work/manual.txt" "$drive_c/vorntest/media/manual.txt" && cmp -s "$stub" "$drive_c/vorntest/media/tool.exe" ||
    fail "the files were not installed"
  local named log
  named=$(sed -nE 's/.*see the log file: (.*)\\r\\n\\r\\n\\r\\nCompleted with NO errors\\r\\n".*/\1/p' \
    "$work/$1.relay" | sed 's/\\\\/\\/g')
  log=$(timeout 60 "$wine" winepath -u "$named" 2>/dev/null)
  [ -n "$named" ] && [ "$(dirname "$log")" -ef "$3" ] || fail "the summary names \"$named\", no log in $3"
  [ "$(tail -1 "$log" 2>/dev/null)" = $'Completed with NO errors.\r' ] || fail "the log is not complete"
  [ ! -e "$3/setup.tmp" ] || fail "the temporary file was left behind"
}
far="$drive_c/Загрузки 下载"
mkdir -p "$work/cd" "$far"
"$builder" "$stub" "$work/cd/setup.exe" "" 'C:\VornTest\Media\manual.txt' 0 '' solid "$work/manual.txt" \
  'C:\VornTest\Media\tool.exe' 0 '' solid "$stub"
cp "$work/cd/setup.exe" "$far/"
chmod a-w "$work/cd"
[ "$(id -u)" != 0 ] || chattr +i "$work/cd"  # root writes past permissions
ln -sfn "$work/cd" "$WINEPREFIX/dosdevices/r:"
timeout 60 "$wine" reg add 'HKLM\Software\Wine\Drives' /v r: /t REG_SZ /d cdrom /f >/dev/null 2>&1
media_case cdrom 'r:\setup.exe' "$(find "$drive_c/users" -maxdepth 4 -iname temp -type d | head -1)"
media_case nonansi 'C:\Загрузки 下载\setup.exe' "$far"
grep -aq 'Program: \\"c:\\\\[^"]*~[^"]*\\\\setup.exe\\"' "$work/nonansi.relay" ||
  fail "the installer did not name itself by its short path"

# --- a shortcut folder the user cannot write (the read-only r:): logged, and the run has errors ---
timeout 60 "$wine" reg add 'HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders' /v Desktop \
  /t REG_SZ /d 'r:\' /f >/dev/null 2>&1
"$builder" "$stub" "$drive_c/dl/setup.exe" "" 'C:\VornTest\Link\readme.txt' 0 'Vorn Readme' stored "$work/readme.txt"
run_installer nolink setup.exe 0 'Return@setup.exe'
expect_log 'Program: "c:\dl\setup.exe" started on DATE at TIME' \
  'Creating "Vorn Readme" shortcut: Vorn Readme for: c:\vorntest\link\readme.txt' \
  'ERROR: Can not save shortcut: r:\\Vorn Readme.lnk' \
  'Extracting file: c:\vorntest\link\readme.txt...   ' 'OK' 'Completed WITH ERRORS.'
grep -aq 'Completed WITH ERRORS\\r\\n"' "$work/nolink.relay" || fail "the summary does not tell of the error"

# --- the system's folders: "<p>" is Program Files as the installer's own
# registry view gives it (an x64 installer never reads the 32-bit view's
# "Program Files (x86)"); "<s>" is the Windows folder's system ---
for view in 32 64; do
  timeout 60 "$wine" reg add 'HKLM\Software\Microsoft\Windows\CurrentVersion' /v ProgramFilesDir /t REG_SZ \
    /d "C:\\Program Files$([ $view = 32 ] && [ "$arch" = x64 ] && echo ' (x86)')" /reg:$view /f >/dev/null 2>&1 || true
done
"$builder" "$stub" "$drive_c/dl/setup.exe" "" '<P>\VornTest\p.txt' 0 '' stored "$work/readme.txt" \
  '<S>\VornTest\s.txt' 0 '' stored "$work/readme.txt"
run_installer folders setup.exe 0 'Return@setup.exe'
[ -f "$drive_c/Program Files/vorntest/p.txt" ] && [ -f "$drive_c/windows/system/vorntest/s.txt" ] ||
  fail "<p> or <s> is not Program Files or the Windows folder's system: $(grep -a Extracting "$drive_c/dl/setup.log")"

# --- [uninstall]: the remover registers the product in Windows' list of
# programs, and removes it: asked or quiet, keeping a changed file, leaving
# nothing after two installs, keeping its entry while a file is locked, and
# per user under <l> ---
uninstall_key='Software\Microsoft\Windows\CurrentVersion\Uninstall\Vorn Remove Test'
reg_value() { timeout 30 "$wine" reg query "$1\\$uninstall_key" /v "$2" 2>/dev/null | tr -d '\r' | sed -nE "s/^ +$2 +REG_[A-Z_]+ +//p" || true; }
registered() { [ -n "$(reg_value "$1" DisplayName)" ]; }
# remover_manifest NAME ELEVATION MACRO [LINE...]: three files, a shortcut,
# [uninstall] and the manifest lines given.
remover_manifest() {
  printf '%s\n' 'title = "Vorn Remove Test"' "arch = \"$arch\"" "elevation = \"$2\"" \
    "icon = \"$here/../../../examples/sample/files/app.ico\"" '[version]' 'file-version = "2.0.0.0"' \
    'product-name = "Vorn Remove Test"' 'company = "Example Ltd."' '[uninstall]' "folder = '$3\\Vorn Remove'" \
    '[[file]]' "source = \"$work/readme.txt\"" "destination = '$3\\Vorn Remove\\readme.txt'" \
    'shortcuts.programs = { name = "Vorn Remove Readme" }' \
    '[[file]]' "source = \"$work/manual.txt\"" "destination = '$3\\Vorn Remove\\docs\\manual.txt'" \
    '[[file]]' "source = \"$work/data.bin\"" "destination = '$3\\Vorn Remove\\data.bin'" "${@:4}" >"$work/$1.toml"
  "$vornpack" build -q "$work/$1.toml" -o "$drive_c/dl/$1.exe" >/dev/null
}
# install_registered CASE EXE ROOT: installs, then waits for the remover to register.
install_registered() {
  case_name=$1
  timeout 30 "$wine" reg delete "$3\\$uninstall_key" /f >/dev/null 2>&1 || true
  wine_run_answering "$1" "C:\\dl\\$2.exe"
  expect_exit 0
  wait_until 60 registered "$3" || fail "the remover did not register under $3"
}
# remove_quietly CASE ROOT RC: runs the QuietUninstallString, which shows no box.
remove_quietly() {
  case_name=$1
  local command exe
  command=$(reg_value "$2" QuietUninstallString)
  exe=$(sed -E 's/^"([^"]*)".*/\1/' <<<"$command")
  [ "$command" = "\"$exe\" /uninstall /quiet" ] || fail "QuietUninstallString is \"$command\""
  wine_run_answering "$1" "$exe" /uninstall /quiet
  expect_exit "$3"
  ! grep -aq MessageBoxA "$work/$1.relay" || fail "a quiet removal showed a box"
}
programs=$(find "$drive_c/users" -maxdepth 8 -ipath '*start menu/programs' -type d | head -1)
app=$drive_c/Program\ Files/vorn\ remove
remover_manifest rsetup admin '<p>'
install_registered remover-install rsetup HKLM
for value in DisplayName DisplayVersion Publisher DisplayIcon InstallLocation UninstallString QuietUninstallString \
  EstimatedSize NoModify NoRepair InstallDate; do
  [ -n "$(reg_value HKLM $value)" ] || fail "the entry has no $value"
done
[ "$(reg_value HKLM DisplayIcon)" = 'c:\program files\vorn remove\uninstall.exe' ] &&
  [ "$(reg_value HKLM Publisher)" = 'Example Ltd.' ] || fail "the entry's icon or publisher is wrong"
[ -f "$programs/Vorn Remove Readme.lnk" ] || fail "no shortcut in the Programs folder"

case_name=remover-asked
echo "the user's own line" >>"$app/data.bin"
command=$(reg_value HKLM UninstallString)
wine_run_answering remover-asked "$(sed -E 's/^"([^"]*)".*/\1/' <<<"$command")" /uninstall
expect_exit 1
grep -aqF 'These files were kept:\rc:\\program files\\vorn remove\\data.bin (changed since it was installed)' \
  "$work/remover-asked.relay" || fail "the closing box does not name the changed file: $(grep -a MessageBoxA "$work/remover-asked.relay")"
wait_until 30 test ! -e "$app/uninstall.exe" || fail "the remover did not remove itself"
# The copy that removed it ran from a folder only SYSTEM, Administrators and
# the user may enter. Wine 8 keeps no access lists (it makes one up from the
# Unix mode bits), so where the list read back is no protected one, the
# list the remover created the folder with is read from the trace instead.
copy_folder=$(find "$drive_c/users" -maxdepth 6 -type d -name 'vorn-remove-*' | head -1)
private='D:P(\(A;OICI;FA;;;(SY|BA|S-1-5-[0-9-]+)\)){3}'
security=$(timeout 30 "$wine" "$remover_probe" security "$(timeout 30 "$wine" winepath -w "$copy_folder" 2>/dev/null)" |
  tr -d '\r')
[[ "$security" != D:P* ]] &&
  security=$(grep -a -o 'ConvertStringSecurityDescriptorToSecurityDescriptorA([0-9a-f]* "[^"]*"' \
    "$work/remover-asked.relay.raw" | sed -E 's/.*"(.*)"/\1/')
[ -n "$copy_folder" ] && [[ "$security" =~ ^$private$ ]] ||
  fail "the remover's copy ran from \"$copy_folder\", which allows: ${security:-nothing readable}"
[ "$(ls -A "$app")" = data.bin ] && [ ! -e "$programs/Vorn Remove Readme.lnk" ] && ! registered HKLM ||
  fail "after removal: $(ls -AR "$app"), link $(ls "$programs" | grep -c Vorn), entry $(reg_value HKLM DisplayName)"

rm -rf "$app"
install_registered remover-again rsetup HKLM
install_registered remover-again rsetup HKLM
remove_quietly remover-quiet HKLM 0
wait_until 30 test ! -e "$app" || fail "two installs and a quiet removal left $(ls -AR "$app")"
! registered HKLM && [ ! -e "$programs/Vorn Remove Readme.lnk" ] || fail "the entry or the shortcut stayed"

# Version 2 drops a file, its folder and its shortcut of version 1, and adds
# a file: the upgrade removes what it dropped, and removal leaves nothing.
remover_manifest v1setup admin '<p>' '[[file]]' "source = \"$work/readme.txt\"" \
  "destination = '<p>\\Vorn Remove\\old\\notes.txt'" 'shortcuts.programs = { name = "Vorn Old Notes" }'
install_registered remover-v1 v1setup HKLM
remover_manifest v2setup admin '<p>' '[[file]]' "source = \"$work/manual.txt\"" "destination = '<p>\\Vorn Remove\\new.txt'"
case_name=remover-v2
wine_run_answering remover-v2 'C:\dl\v2setup.exe'
expect_exit 0
wait_until 60 test ! -e "$app/old" || fail "the upgrade left what version 2 dropped: $(ls -AR "$app")"
[ -f "$app/new.txt" ] && [ ! -e "$programs/Vorn Old Notes.lnk" ] && [ -f "$programs/Vorn Remove Readme.lnk" ] ||
  fail "after the upgrade: $(ls -AR "$app"), shortcuts $(ls "$programs" | grep Vorn | tr '\n' ' ')"
remove_quietly remover-v2-quiet HKLM 0
wait_until 30 test ! -e "$app" || fail "removing the upgraded product left $(ls -AR "$app")"

# A program that runs cannot be replaced or deleted: the bare stub, waiting
# in its error box. Version 2 over it keeps the running version in the
# record and says the install is not complete; removal finishes once the
# program has ended.
remover_manifest bsetup admin '<p>' '[[file]]' "source = \"$stub\"" "destination = '<p>\\Vorn Remove\\busy.exe'"
install_registered remover-locked bsetup HKLM
"$wine" 'C:\Program Files\Vorn Remove\busy.exe' >/dev/null 2>&1 &
wait_until 30 has_window 'Application Error' || fail "the busy program did not start"
remover_manifest b2setup admin '<p>' '[[file]]' "source = \"$face_probe\"" "destination = '<p>\\Vorn Remove\\busy.exe'"
case_name=remover-busy-upgrade
wine_run_answering remover-busy-upgrade 'C:\dl\b2setup.exe'
wait_until 60 eval '[ -n "$(reg_value HKLM InstallIncomplete)" ]' ||
  fail "an upgrade that could not replace a running program did not say so"
cmp -s "$stub" "$app/busy.exe" || fail "the running program was replaced"
remove_quietly remover-locked HKLM 2
registered HKLM && [ -f "$app/busy.exe" ] && [ -f "$app/uninstall.exe" ] && [ -f "$app/uninstall.dat" ] &&
  [ ! -e "$app/readme.txt" ] || fail "a busy file did not keep the entry, the remover and its record"
xdotool key --window "$(window_of 'Application Error')" Return 2>/dev/null
wait_until 30 eval '! has_window "Application Error"'
rm -f "$app/busy.log"  # the stub's own log
remove_quietly remover-unlocked HKLM 0
wait_until 30 test ! -e "$app" || fail "removing again once the program ended left $(ls -AR "$app")"

remover_manifest usetup user '<l>'
install_registered remover-user usetup HKCU
user_app=$(timeout 30 "$wine" winepath -u "$(reg_value HKCU InstallLocation)" 2>/dev/null)
[[ "$(reg_value HKCU InstallLocation | tr A-Z a-z)" == *'\appdata\local\programs\vorn remove' ]] &&
  [ -f "$user_app/data.bin" ] ||
  fail "the per-user install is not in the user's programs folder: $(reg_value HKCU InstallLocation)"
! registered HKLM || fail "a per-user install registered for the machine"
remove_quietly remover-user-quiet HKCU 0
wait_until 30 test ! -e "$user_app" || fail "the per-user removal left $(ls -AR "$user_app")"
! registered HKCU || fail "the per-user entry stayed"

# --- two products install one file into <s>: removing one keeps it (its
# count), removing the other removes it ---
shared_key='HKLM\Software\Microsoft\Windows\CurrentVersion\SharedDLLs'
for product in 'Vorn Shared A' 'Vorn Shared B'; do
  printf '%s\n' "title = \"$product\"" "arch = \"$arch\"" '[uninstall]' "folder = '<p>\\$product'" \
    '[[file]]' "source = \"$work/readme.txt\"" "destination = '<s>\\vorn shared.txt'" >"$work/shared.toml"
  "$vornpack" build -q "$work/shared.toml" -o "$drive_c/dl/shared.exe" >/dev/null
  case_name="remover-shared-install-${product: -1}"
  wine_run_answering "$case_name" 'C:\dl\shared.exe'
  expect_exit 0
  wait_until 60 test ! -e "$drive_c/Program Files/$product/uninstall.new" || fail "$product did not register"
done
shared_count() { timeout 30 "$wine" reg query "$shared_key" /v 'c:\windows\system\vorn shared.txt' 2>/dev/null |
  tr -d '\r' | sed -nE 's/.*REG_DWORD +0x([0-9a-f]+)$/\1/p'; }
[ "$(shared_count)" = 2 ] || fail "two products count the shared file $(shared_count) times"
for product in 'Vorn Shared A' 'Vorn Shared B'; do
  case_name="remover-shared-remove-${product: -1}"
  wine_run_answering "$case_name" "C:\\Program Files\\$product\\uninstall.exe" /uninstall /quiet
  if [ "$product" = 'Vorn Shared A' ]; then
    expect_exit 1  # kept: another program still uses it
    [ -f "$drive_c/windows/system/vorn shared.txt" ] && [ "$(shared_count)" = 1 ] ||
      fail "removing one of two products took the shared file, or left its count at $(shared_count)"
  else
    expect_exit 0
  fi
done
[ ! -e "$drive_c/windows/system/vorn shared.txt" ] && [ -z "$(shared_count)" ] ||
  fail "the shared file or its count outlived both products"

# --- the remover judges paths where Windows resolves them (the table the
# native tests read too), and /finish deletes no file but a finished
# remover: a foreign path, run from the Windows folder, is refused ---
case_name=remover-paths
table=$here/../../data/path_spellings.txt
mapfile -t spellings < <(grep -v '^#' "$table" | cut -f1)
short=$(timeout 30 "$wine" "$remover_probe" short 'C:\Program Files' | tr -d '\r')
judged=$(timeout 60 "$wine" "$remover_probe" judge 'C:\Windows' "${spellings[@]}" "$short" | tr -d '\r')
expected=$(grep -v '^#' "$table" | cut -f2-; printf 'c:\\program files\tprotected')
[ "$judged" = "$expected" ] || fail "Windows resolves paths otherwise: $(diff <(echo "$expected") <(echo "$judged"))"
echo "a file to open under every spelling" >"$drive_c/windows/vorn.txt"
opened=$(timeout 60 "$wine" "$remover_probe" judge 'C:\Windows' "${spellings[@]}" | tr -d '\r')
rm -f "$drive_c/windows/vorn.txt"
! grep -q 'opened elsewhere' <<<"$opened" && grep -q 'vorn.txt' <<<"$opened" ||
  fail "a file opened to be removed resolves otherwise than its path: $opened"

case_name=remover-finish
remover_manifest fsetup admin '<p>'
install_registered remover-finish fsetup HKLM
echo "the user's own file" >"$drive_c/victim.txt"
pending='HKLM\System\CurrentControlSet\Control\Session Manager'
for target in 'C:\victim.txt' 'c:\windows\..\victim.txt' 'C:\Program Files\Vorn Remove\uninstall.exe'; do
  (set +e; cd "$drive_c/windows" && timeout 60 "$wine" 'C:\Program Files\Vorn Remove\uninstall.exe' /finish 0 \
    "$target" >/dev/null 2>&1; echo $? >"$work/finish.rc")
  [ "$(cat "$work/finish.rc")" = 5 ] || fail "/finish 0 $target ended $(cat "$work/finish.rc"), not 5 (refused)"
done
[ -f "$drive_c/victim.txt" ] && [ -f "$app/uninstall.exe" ] && [ -f "$app/readme.txt" ] ||
  fail "/finish deleted what it was handed: $(ls "$drive_c" "$app")"
! timeout 30 "$wine" reg query "$pending" /v PendingFileRenameOperations 2>/dev/null | grep -qi 'vorn remove' ||
  fail "/finish queued the installed remover for deletion"
remove_quietly remover-finish-quiet HKLM 0

# --- [install]: quiet runs with nobody answering (no xdotool), a product
# folder moved by /D=, kept case, all-users shortcuts, the exit codes; an
# installer without the keys ignores /S ---
# run_quiet CASE EXE RC ARG...: runs C:\dl\EXE with the switches, expecting
# exit code RC and no box at all.
run_quiet() {
  case_name=$1
  local exe=$2 rc=$3
  shift 3
  (set +e; WINEDEBUG=+relay timeout 120 "$wine" "C:\\dl\\$exe" "$@" 2>"$work/$case_name.relay"; echo $? >"$work/$case_name.rc")
  expect_exit "$rc"
  ! grep -aq 'Call user32.MessageBoxA' "$work/$case_name.relay" || fail "a quiet run showed a box"
}
uninstall_key='Software\Microsoft\Windows\CurrentVersion\Uninstall\Vorn Deploy Test'
common_folder() {
  timeout 30 "$wine" winepath -u "$(timeout 30 "$wine" reg query \
    'HKLM\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders' /v "$1" 2>/dev/null |
    tr -d '\r' | sed -nE "s/^ +$1 +REG_[A-Z_]+ +//p")" 2>/dev/null
}
printf '%s\n' 'title = "Vorn Deploy Test"' "arch = \"$arch\"" '[version]' 'file-version = "3.0.0.0"' \
  'product-name = "Vorn Deploy Test"' 'company = "Example Ltd."' \
  '[install]' 'switches = true' 'keep-case = true' 'shortcuts = "all-users"' \
  '[uninstall]' "folder = '<p>\\Vorn Deploy'" \
  '[[file]]' "source = \"$work/readme.txt\"" "destination = '<p>\\Vorn Deploy\\ReadMe.TXT'" \
  'replace = { ask = "ReadMe.TXT" }' 'run = "at-end"' \
  'shortcuts.programs = { name = "Vorn Deploy Readme" }' 'shortcuts.desktop = { name = "Vorn Deploy Asked", ask = true }' \
  '[[file]]' "source = \"$work/manual.txt\"" "destination = '<p>\\Vorn Deploy\\Docs\\Manual.txt'" \
  '[[file]]' "source = \"$stub\"" "destination = '<p>\\Vorn Deploy\\Busy.exe'" >"$work/deploy.toml"
"$vornpack" build -q "$work/deploy.toml" -o "$drive_c/dl/deploy.exe" >/dev/null
deployed="$drive_c/Program Files/Vorn Deploy"
common_programs=$(common_folder 'Common Programs')
[ -n "$common_programs" ] || fail "Wine names no Common Programs folder"
run_quiet deploy-quiet deploy.exe 0 /S
[ -f "$deployed/ReadMe.TXT" ] && [ -f "$deployed/Docs/Manual.txt" ] && cmp -s "$work/manual.txt" "$deployed/Docs/Manual.txt" ||
  fail "the quiet install did not keep the case or the files: $(ls -R "$drive_c/Program Files" | head -20)"
grep -aqF 'Extracting file: C:\Program Files\Vorn Deploy\Docs\Manual.txt' "$drive_c/dl/deploy.log" ||
  fail "the log does not keep the case: $(cat "$drive_c/dl/deploy.log")"
! grep -aq 'ShellExecuteA(.*ReadMe' "$work/deploy-quiet.relay" || fail "a quiet run started its run-at-end file"
wait_until 60 registered HKLM || fail "the quiet install did not register the product"
[ -f "$common_programs/Vorn Deploy Readme.lnk" ] || fail "no shortcut in the common Programs folder"
[ -z "$(find -L "$drive_c/users" -name 'Vorn Deploy*.lnk')" ] || fail "a shortcut went to a user's folder, or an asked one was made"
echo "the user's" >"$deployed/ReadMe.TXT"
"$wine" 'C:\Program Files\Vorn Deploy\Busy.exe' >/dev/null 2>&1 &
wait_until 30 has_window 'Application Error' || fail "the busy program did not start"
run_quiet deploy-busy deploy.exe 2 /S /LOG=C:\\dl\\busy.log
[ "$(cat "$deployed/ReadMe.TXT")" = "the user's" ] || fail "a quiet run replaced an asked file"
grep -aq 'ERROR: Can not delete' "$drive_c/dl/busy.log" || fail "/LOG= did not take the log"
xdotool key --window "$(window_of 'Application Error')" Return 2>/dev/null
wait_until 30 eval '! has_window "Application Error"'
remove_quietly deploy-remove HKLM 1  # the changed ReadMe.TXT stays
[ ! -e "$common_programs/Vorn Deploy Readme.lnk" ] && [ ! -e "$deployed/Docs" ] ||
  fail "removal left the common shortcut or the files: $(ls -AR "$deployed")"
rm -rf "$deployed"

run_quiet deploy-moved deploy.exe 0 /S /D=C:\\Deploy Here\\App
[ -f "$drive_c/Deploy Here/App/Docs/Manual.txt" ] && [ -f "$drive_c/Deploy Here/App/uninstall.exe" ] &&
  [ ! -e "$deployed" ] || fail "/D= did not move the product folder: $(ls -R "$drive_c/Deploy Here" 2>&1 | head)"
wait_until 60 registered HKLM || fail "the moved install did not register"
[ "$(reg_value HKLM InstallLocation | tr A-Z a-z)" = 'c:\deploy here\app' ] ||
  fail "InstallLocation is $(reg_value HKLM InstallLocation)"
timeout 30 "$wine" reg delete "HKLM\\$uninstall_key" /f >/dev/null 2>&1 || true
rm -rf "$drive_c/Deploy Here" "$common_programs/Vorn Deploy Readme.lnk"

run_quiet deploy-badswitch deploy.exe 3 /S /X
run_quiet deploy-relative deploy.exe 3 /S /D=Relative\\App
[ ! -e "$deployed" ] && [ ! -e "$drive_c/dl/Relative" ] || fail "a run that was not started installed something"

# The plain stub ignores its arguments: the same package without [install] asks.
sed '/^\[install\]/,/^shortcuts = "all-users"/d' "$work/deploy.toml" >"$work/plain.toml"
"$vornpack" build -q "$work/plain.toml" -o "$drive_c/dl/plain.exe" >/dev/null
wine_run_answering plain-ignores C:\\dl\\plain.exe /S /X
grep -aq 'You are about to install' "$work/plain-ignores.relay" || fail "the plain installer did not ask despite /S"
wait_until 60 registered HKLM && remove_quietly plain-remove HKLM 0

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed; screenshots and traces are in $results"
  exit 1
fi
echo "PASS: install (with icon and version), cancel, missing-package, signed, lying-stream, read-only media, non-ANSI folder, unwritable shortcut folder, system folder, remover, upgrade, shared-file, path-judging and deploying runs of the $arch stub under Wine"
