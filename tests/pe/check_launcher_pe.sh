#!/bin/sh
# Checks a built launcher's PE image: format for its architecture, GUI subsystem, no symbol table or
# debug sections, and imports from system DLLs only (no MinGW runtime DLL may be needed beside it);
# the 32-bit one large-address-aware.
# usage: check_launcher_pe.sh <exe> <i686|x86_64>
set -eu
exe="$1"; arch="$2"
case "$arch" in
  i686) objdump=i686-w64-mingw32-objdump; format=pei-i386 ;;
  x86_64) objdump=x86_64-w64-mingw32-objdump; format=pei-x86-64 ;;
  *) echo "unknown architecture $arch"; exit 2 ;;
esac
headers=$("$objdump" -p "$exe")
fail=0
echo "$headers" | grep -q "file format $format" || { echo "FAIL: not $format"; fail=1; }
echo "$headers" | grep -Eq '^Subsystem[[:space:]]+00000002' || { echo "FAIL: subsystem is not Windows GUI"; fail=1; }
# The 32-bit launcher is large-address-aware: without the mark, 64-bit Windows gives it half the
# address space, and large payloads fail their drop.
if [ "$arch" = i686 ]; then
  echo "$headers" | grep -q "^[[:space:]]*large address aware" || { echo "FAIL: not large-address-aware"; fail=1; }
fi
"$objdump" -f "$exe" | grep -Eq 'HAS_SYMS|HAS_DEBUG' && { echo "FAIL: the image carries a symbol table or debug data"; fail=1; }
"$objdump" -h "$exe" | grep -q ' \.debug' && { echo "FAIL: the image carries debug sections"; fail=1; }
allowed='^(KERNEL32|USER32|GDI32|ADVAPI32|SHELL32|SHLWAPI|COMCTL32|msvcrt|OLE32|VERSION|CRYPT32)\.dll$'
imports=$(echo "$headers" | sed -n 's/^[[:space:]]*DLL Name: //p')
[ -n "$imports" ] || { echo "FAIL: no imports found"; fail=1; }
for dll in $imports; do
  if echo "$dll" | grep -Eiq "$allowed"; then echo "import ok: $dll"; else echo "FAIL: non-system import $dll"; fail=1; fi
done
[ $fail -eq 0 ] && echo "PE image ok: $exe"
exit $fail
