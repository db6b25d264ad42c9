#!/usr/bin/env bash
# vorn installed like a tool: cmake --install into a fresh prefix, then the
# installed vornpack builds the installed sample for each architecture, with
# the stub it carries and with the installed stub as --stub.
#   install_test.sh BUILD_DIR
set -u
source "$(dirname "$(realpath "$0")")/cli_check.sh"
cmake --install "$1" --prefix "$work/prefix" >/dev/null
check "cmake --install puts vorn, vornpack and both stubs in place" \
  test -x prefix/bin/vorn -a -x prefix/bin/vornpack -a -f prefix/share/vorn/vornsetup-x86.exe -a -f prefix/share/vorn/vornsetup-x64.exe
cp -r prefix/share/doc/vorn/examples/sample sample
{ echo 'arch = "x64"'; cat sample/app.toml; } > sample/x64.toml
prefix/bin/vornpack build -q sample/app.toml -o x86.exe > /dev/null
prefix/bin/vornpack build -q sample/x64.toml -o x64.exe --stub prefix/share/vorn/vornsetup-x64.exe > /dev/null
check "the installed vornpack builds the sample for x86 and x64" \
  [ "$(prefix/bin/vornpack list x86.exe | head -1)/$(prefix/bin/vornpack list x64.exe | head -1)" = "arch: x86/arch: x64" ]
cli_summary
