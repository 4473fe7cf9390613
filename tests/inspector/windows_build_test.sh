#!/bin/sh
# The inspector's Windows build under Wine against its host build, on the same files:
#   windows_build_test.sh WINE-RUN WINDOWS-INSPECTOR HOST-INSPECTOR LAUNCHER EXE-WITHOUT-PAYLOAD WORKDIR
# The same report (line ends aside) and the same exit status for a launcher, a copy with a damaged
# payload, a truncated copy, a file without the payload, a file that is not a program, and copies
# with an LZX payload, whole and damaged.
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
# An LZX payload, which the Windows build extracts through the system's Cabinet.dll and the host
# build through libmspack: uncompressed LZX blocks, one per 32 KiB frame, each frame's bits led by
# the block type (3) and its 24-bit size, the first also by the translation flag (off). In the
# damaged copy the second frame names block type 0, which LZX does not have.
python3 - <<'PY' || fail "the LZX cabinets could not be made"
import random, struct
rng = random.Random(3)
program = bytes(rng.randrange(256) for _ in range(70000))
def cabinet(path, second_type):
    blocks = b''
    for n, start in enumerate(range(0, len(program), 32768)):
        chunk = program[start:start + 32768]
        bits = ('0' if n == 0 else '') + format(second_type if n == 1 else 3, '03b') + format(len(chunk), '024b')
        bits += '0' * (-len(bits) % 16)
        body = b''.join(struct.pack('<H', int(bits[i:i + 16], 2)) for i in range(0, len(bits), 16))
        body += struct.pack('<III', 1, 1, 1) + chunk
        blocks += struct.pack('<IHH', 0, len(body), len(chunk)) + body
    entry = struct.pack('<IIHHHH', len(program), 0, 0, 0x3A70, 0x43C0, 0x20) + b'setup.exe\0'
    data = 36 + 8 + len(entry)
    header = struct.pack('<4sIIIIIBBHHHHH', b'MSCF', 0, data + len(blocks), 0, 44, 0, 3, 1, 1, 1, 0, 7, 0)
    open(path, 'wb').write(header + struct.pack('<IHH', data, 3, 0x1503) + entry + blocks)
    open('lzx-program.bin', 'wb').write(program)
cabinet('lzx.cab', 3)
cabinet('lzx-damaged.cab', 0)
PY
support=$(cd "$(dirname "$0")/../support" && pwd)
for cabinet in lzx lzx-damaged; do
  cp "$cabinet.cab" implant.cab && truncate -s "$size" implant.cab &&
    python3 "$support/payload_scrambler.py" scramble implant.cab implant.bin &&
    cp launcher.exe "$cabinet.exe" && dd if=implant.bin of="$cabinet.exe" bs=65536 seek="$offset" oflag=seek_bytes conv=notrunc 2>/dev/null ||
    fail "$cabinet.exe could not be made"
done
expected=$(md5sum lzx-program.bin | cut -c1-32 | tr a-f A-F)
"$wine_run" "$windows" lzx.exe | tr -d '\r' | grep -q "^  program MD5  $expected  setup.exe$" ||
  fail "the Windows build does not digest the LZX payload's program as $expected"

for file in launcher.exe damaged.exe truncated.exe plain.exe notes.txt missing.exe lzx.exe lzx-damaged.exe; do
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
