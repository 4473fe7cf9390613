#!/bin/sh
# Checks that the launcher that ships starts on Windows Vista: none of its imports from kernel32,
# user32, advapi32, shell32, shlwapi or comctl32 is a function those DLLs gained after Vista. An
# import the loader cannot resolve stops the program before its first instruction, so a call
# that newer systems alone offer must be looked up at run time instead.
# usage: check_vista_imports.sh <exe> [objdump]
set -eu
exe="$1"; objdump="${2:-i686-w64-mingw32-objdump}"

# Known to be newer than Vista (Windows 7, 8 and 10 additions, and KB2533623's DLL directory
# calls). Not every later function: the ones a toolchain or a newer sample pulls in unnoticed.
newer='^(K32[A-Za-z]+'\
'|SetDefaultDllDirectories|AddDllDirectory|RemoveDllDirectory'\
'|GetSystemTimePreciseAsFileTime|GetCurrentThreadStackLimits|CreateFile2|CopyFile2'\
'|TryAcquireSRWLockExclusive|TryAcquireSRWLockShared|GetLogicalProcessorInformationEx'\
'|GetCurrentProcessorNumberEx|CreateRemoteThreadEx|SetThreadInformation|GetProcessInformation'\
'|SetThreadDescription|GetThreadDescription|PrefetchVirtualMemory'\
'|InitializeSynchronizationBarrier|EnterSynchronizationBarrier|DeleteSynchronizationBarrier'\
'|WaitOnAddress|WakeByAddressSingle|WakeByAddressAll'\
'|ChangeWindowMessageFilterEx|RegisterTouchWindow|GetDpiForWindow|GetDpiForSystem'\
'|SetProcessDpiAwarenessContext|SetThreadDpiAwarenessContext|AdjustWindowRectExForDpi'\
'|SetCurrentProcessExplicitAppUserModelID|SHGetPropertyStoreForWindow)$'

# "DLL function" per import, from objdump's import tables.
imports=$("$objdump" -p "$exe" | awk '
  /^[[:space:]]*DLL Name:/ { dll = toupper($3); next }
  /^[[:space:]]*$/ { dll = "" ; next }
  dll != "" && NF == 3 && $1 ~ /^[0-9a-f]+$/ && $2 ~ /^[0-9]+$/ { print dll, $3 }')

# A parser that finds nothing would pass any file: the launcher must show its known imports.
for expected in "KERNEL32.DLL CreateProcessW" "USER32.DLL MessageBoxW" "ADVAPI32.DLL RegOpenKeyExA"; do
  echo "$imports" | grep -qx "$expected" || { echo "FAIL: import list unreadable (no $expected)"; exit 1; }
done

fail=0
checked=0
while read -r dll function; do
  case "$dll" in
    KERNEL32.DLL|USER32.DLL|ADVAPI32.DLL|SHELL32.DLL|SHLWAPI.DLL|COMCTL32.DLL) ;;
    *) continue ;;
  esac
  checked=$((checked + 1))
  if echo "$function" | grep -Eq "$newer"; then
    echo "FAIL: $dll $function does not exist on Windows Vista"
    fail=1
  fi
done <<LIST
$imports
LIST
[ $fail -eq 0 ] && echo "Vista imports ok: $checked functions from the system DLLs of Vista, none newer"
exit $fail
