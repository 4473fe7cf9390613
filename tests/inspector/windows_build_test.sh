#!/bin/sh
# The inspector's Windows build under Wine against its host build, on the same files:
#   windows_build_test.sh WINE-RUN WINDOWS-INSPECTOR HOST-INSPECTOR LAUNCHER EXE-WITHOUT-PAYLOAD WORKDIR
# The same report (line ends aside) and the same exit status for a launcher, a copy with a damaged
# payload, a truncated copy, a file without the payload and a file that is not a program.
set -u
. "$(dirname "$0")/../support/failure_count.sh"
wine_run="$1"; windows="$2"; host="$3"; launcher="$4"; plain_exe="$5"; work="$6"
rm -rf "$work"; mkdir -p "$work"; cd "$work" || exit 2

cp "$launcher" launcher.exe
offset=$("$host" --offsets launcher.exe | sed -n 's/^payload_offset=//p')
size=$("$host" --offsets launcher.exe | sed -n 's/^payload_size=//p')
cp launcher.exe damaged.exe && printf 'QarvQarv' | dd of=damaged.exe bs=1 seek=$((offset + size / 2)) conv=notrunc 2>/dev/null
head -c $((offset + size / 2)) launcher.exe > truncated.exe
cp "$plain_exe" plain.exe
printf 'plain text\n' > notes.txt

for file in launcher.exe damaged.exe truncated.exe plain.exe notes.txt missing.exe; do
  "$host" "$file" >host.out 2>host.err; host_status=$?
  "$wine_run" "$windows" "$file" >windows.out 2>windows.err; windows_status=$?
  [ "$windows_status" = "$host_status" ] || fail "$file: Windows build exits $windows_status, host build $host_status: $(cat windows.err)"
  tr -d '\r' <windows.out >windows.txt
  cmp -s host.out windows.txt || { fail "$file: the reports differ"; diff host.out windows.txt; }
  [ -s windows.err ] || [ "$host_status" = 0 ] || fail "$file: Windows build gave no message"
done
# The command line goes through another getopt_long (MinGW's): the same messages and statuses.
for arguments in "" "--offsets" "--bogus launcher.exe" "-x launcher.exe" "--offsets=1 launcher.exe" \
                 "launcher.exe launcher.exe" "--help" "--offsets launcher.exe" "launcher.exe --offsets"; do
  # shellcheck disable=SC2086  # the words are the arguments
  "$host" $arguments >host.out 2>host.err; host_status=$?
  # shellcheck disable=SC2086
  "$wine_run" "$windows" $arguments >windows.out 2>windows.err; windows_status=$?
  [ "$windows_status" = "$host_status" ] || fail "'$arguments': Windows build exits $windows_status, host build $host_status"
  tr -d '\r' <windows.out >windows.txt
  tr -d '\r' <windows.err >windows-err.txt
  cmp -s host.out windows.txt && cmp -s host.err windows-err.txt ||
    { fail "'$arguments': the output differs"; diff host.err windows-err.txt; diff host.out windows.txt; }
done

"$wine_run" "$windows" launcher.exe | tr -d '\r'

finish "Windows build"
