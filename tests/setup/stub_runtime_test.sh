#!/usr/bin/env bash
# The stub's lean runtime (setup/win32/lean_runtime.cpp) stands in for
# pieces of the toolchain's libraries, which must then stay out of its link:
# the C++ library's per-thread record of exceptions in flight (eh_globals.o),
# the emulated thread-local storage behind it (emutls.o), the start-up
# patcher of data imports (pseudo-reloc.o), the threading unit
# (gthr-win32.o), the exception classes of casts (eh_aux_runtime.o) and, on
# x86, the C personality routine (unwind-c.o) and the unwinder's index of
# frame descriptions (unwind-dw2-fde.o). A toolchain whose libraries
# reach them by another way links them back in beside the replacements, and
# the link map of each stub (and of each remover, built the same way) shows it.
#   stub_runtime_test.sh MAP...
set -u
status=0
for map in "$@"; do
  if ! grep -q 'lean_runtime\.cpp\.obj' "$map"; then
    echo "FAIL: $map: no link map of a stub with the lean runtime"
    status=1
  fi
  linked=$(grep -oE '\((eh_globals|emutls|[a-z0-9_-]*pseudo-reloc|gthr-win32|eh_aux_runtime|unwind-c|unwind-dw2-fde)\.o\)' "$map" |
    sort -u | tr '\n' ' ')
  if [ -n "$linked" ]; then
    echo "FAIL: $map: the stub links $linked beside the lean runtime that replaces them"
    status=1
  fi
done
[ "$status" -ne 0 ] || echo "PASS: each stub links the lean runtime and none of what it replaces"
exit "$status"
