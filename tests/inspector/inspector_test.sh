#!/bin/sh
# The inspector on this build's launcher, as release engineers and QA use it:
#   inspector_test.sh INSPECTOR LAUNCHER ARCH PAYLOAD.bin EXE-WITHOUT-PAYLOAD DEMO-STAGE|- WORKDIR
# Checks the listing and the program's MD5 against the files the packer packed (and against
# hand-made cabinets: reserve areas, two folders, LZX), the reported payload offsets against the
# payload the packer made, and that damaged, truncated and foreign files each get their own exit
# status and a plain message, never a crash.
set -u
. "$(dirname "$0")/../support/failure_count.sh"
inspector="$1"; launcher="$2"; arch="$3"; payload="$4"; plain_exe="$5"; stage="$6"; work="$7"
rm -rf "$work"; mkdir -p "$work"; cd "$work" || exit 2

# --- The launcher as built -------------------------------------------------------------------
"$inspector" "$launcher" >report.txt 2>errors.txt; status=$?
cat report.txt errors.txt
[ $status -eq 0 ] || fail "the launcher: exit $status"
case "$arch" in
  x86_64) kind='PE32+, x86-64' ;;
  *) kind='PE32, i386' ;;
esac
grep -q "image     $kind," report.txt || fail "image is not reported as $kind"
grep -q 'payload   RT_RCDATA 129, language 1033: ' report.txt || fail "payload resource line missing"

if [ "$stage" != - ]; then
  # row NAME SIZE ATTRIBUTES: one table row, with the demo's fixed cabinet date.
  row() {
    grep -Eq "^  [0-9]+ +$1 +$2  $3 +2009-03-16 08:30:00" report.txt || fail "no row for $1 ($2 bytes, $3)"
  }
  row 'Qarv2009\.exe' "$(stat -c %s "$stage/Qarv2009.exe")" '0x20 ---a'
  row 'readme\.txt' "$(stat -c %s "$stage/readme.txt")" '0x01 r---'
  row 'install\.ini' "$(stat -c %s "$stage/install.ini")" '0x02 -h--'
  row 'Qarv2009Install\.exe' "$(stat -c %s "$stage/Qarv2009Install.exe")" '0x20 ---a'
  grep -q ' 4 files$' report.txt || fail "the cabinet is not reported with 4 files"
  grep -Eq '^  4 +Qarv2009Install\.exe .*<- program to start' report.txt ||
    fail "Qarv2009Install.exe is not the last file, marked as the program to start"
  [ "$(grep -c 'program to start' report.txt)" = 1 ] || fail "more than one file marked as the program to start"
  expected=$(md5sum "$stage/Qarv2009Install.exe" | cut -c1-32 | tr a-f A-F)
  grep -q "^  program MD5  $expected  Qarv2009Install.exe$" report.txt ||
    fail "program MD5 is not $expected (md5sum of the staged installer)"
  grep -Eq 'blocks decoded to [0-9]+ bytes; checksums: all [0-9]+ match' report.txt || fail "data blocks not all checked"
  grep -q 'warning' report.txt && fail "warnings for the demo payload"
fi

# --offsets names exactly the packer's payload bytes.
"$inspector" --offsets "$launcher" >offsets.txt 2>&1 || fail "--offsets failed: $(cat offsets.txt)"
offset=$(sed -n 's/^payload_offset=//p' offsets.txt)
size=$(sed -n 's/^payload_size=//p' offsets.txt)
if [ -z "$offset" ] || [ -z "$size" ]; then
  fail "--offsets printed: $(cat offsets.txt)"
  echo "$failures failure(s)"; exit 1
fi
[ "$size" = "$(stat -c %s "$payload")" ] || fail "payload size $size, the packer made $(stat -c %s "$payload")"
dd if="$launcher" of=embedded.bin bs=65536 skip="$offset" count="$size" iflag=skip_bytes,count_bytes 2>/dev/null
cmp -s embedded.bin "$payload" || fail "the bytes at payload_offset=$offset are not the packer's payload"

# --- Other cabinets in the payload's place ----------------------------------------------------
# implant CABINET OUT.exe: the launcher with CABINET, cut or zero-padded to the payload's size,
# scrambled by an independent scrambler (written from the transform's definition) in its place.
support=$(cd "$(dirname "$0")/../support" && pwd)
implant() {
  cp "$1" implant.cab && truncate -s "$size" implant.cab &&
    python3 "$support/payload_scrambler.py" scramble implant.cab implant.bin &&
    cp "$launcher" "$2" && dd if=implant.bin of="$2" bs=65536 seek="$offset" oflag=seek_bytes conv=notrunc 2>/dev/null
}
mkdir stored
head -c 70000 /dev/urandom > stored/data.bin
printf 'notes\r\n' > stored/notes.txt
head -c 100001 /dev/urandom > stored/run.exe
gcab -c -n stored.cab stored/data.bin stored/notes.txt stored/run.exe
# Stored (uncompressed) data, shorter than the payload: listed, digested, the padding mentioned.
implant stored.cab stored.exe
"$inspector" stored.exe >stored.txt 2>&1 || fail "stored cabinet: $(cat stored.txt)"
expected=$(md5sum stored/run.exe | cut -c1-32 | tr a-f A-F)
grep -q "^  program MD5  $expected  run.exe$" stored.txt || fail "stored cabinet: MD5 is not $expected: $(cat stored.txt)"
grep -q '1 folder (stored), 3 files' stored.txt || fail "stored cabinet: not reported as stored with 3 files"
grep -q "warning: $((size - $(stat -c %s stored.cab))) bytes follow the cabinet's end" stored.txt ||
  fail "stored cabinet: the padding after it is not mentioned"
# Cabinets gcab does not make, written here: two folders (MSZIP whose blocks reach back into the
# blocks before them, then stored), reserve areas in the header, folders and blocks, no
# checksums, and the program listed last though its data is in the first folder.
cat > make_cabinet.py <<'PY'
import random, struct, sys, zlib
out, variant = sys.argv[1], sys.argv[2]
rng = random.Random(129)
words = [bytes(rng.choice(b'abcdefghij') for _ in range(rng.randrange(2, 9))) for _ in range(300)]
def text(n): return b' '.join(rng.choice(words) for _ in range(n))[:n]
files = [('setup.dat', 0, text(45000)), ('notes.txt', 1, b'stored\r\n' * 900), ('go.exe', 0, text(70000))]
open('crafted-program.bin', 'wb').write(files[2][2])
if variant == 'return':  # go.exe, no longer last, goes back to the folder notes.txt left
    files.append(('tail.txt', 1, b'tail\r\n'))
folder_data = [b''.join(d for _, f, d in files if f == i) for i in (0, 1)]
def blocks(data, mszip):
    out, history = [], b''
    for start in range(0, len(data), 32768):
        chunk = data[start:start + 32768]
        if mszip:
            c = zlib.compressobj(9, zlib.DEFLATED, -15, zdict=history) if history else zlib.compressobj(9, zlib.DEFLATED, -15)
            body = b'CK' + c.compress(chunk) + c.flush()
            history = (history + chunk)[-32768:]
        else:
            body = chunk
        out.append(struct.pack('<IHH', 0, len(body), len(chunk)) + b'RR' + body)
    return out
def lzx_blocks(data, block_type=3):
    # One LZX block per 32 KiB frame, each of block type 3 (uncompressed). The bits go most
    # significant first into 16-bit little-endian words: the translation flag (off) once per
    # folder, the block type, its 24-bit size; padded to the word, then R0, R1, R2 and the bytes.
    # Every block is even-sized, so no pad byte follows one.
    out = []
    for n, start in enumerate(range(0, len(data), 32768)):
        chunk = data[start:start + 32768]
        assert len(chunk) % 2 == 0
        bits = ('0' if n == 0 else '') + format(block_type, '03b') + format(len(chunk), '024b')
        bits += '0' * (-len(bits) % 16)
        words = b''.join(struct.pack('<H', int(bits[i:i + 16], 2)) for i in range(0, len(bits), 16))
        body = words + struct.pack('<III', 1, 1, 1) + chunk
        out.append(struct.pack('<IHH', 0, len(body), len(chunk)) + b'RR' + body)
    return out
if variant in ('lzx', 'lzx-damaged'):
    # LZX with a 2 MiB window; the damaged variant names block type 0, which LZX does not have.
    folder_blocks = [lzx_blocks(folder_data[0], 3 if variant == 'lzx' else 0), blocks(folder_data[1], False)]
    methods = [0x1503, 0]
else:
    folder_blocks = [blocks(folder_data[0], True), blocks(folder_data[1], False)]
    # Quantum with a window of 2^0 bytes: a decoder refuses it before it reads a byte.
    methods = [0x0002 if variant == 'quantum-window' else 1, 0]
header_size = 36 + 4 + 6
folders_size = 2 * (8 + 3)
entries, offsets = b'', [0, 0]
for name, folder, data in files:
    size = len(data) + (1 if variant == 'long-file' and name == 'go.exe' else 0)
    index = 5 if variant == 'no-folder' and name == 'notes.txt' else folder
    start = 0 if variant == 'overlap' and name == 'go.exe' else offsets[folder]
    entries += struct.pack('<IIHHHH', size, start, index, 0x3A70, 0x43C0, 0x20) + name.encode() + b'\0'
    offsets[folder] += len(data)
files_offset = header_size + folders_size
data_offset = files_offset + len(entries)
folders = b''
for blist, method in zip(folder_blocks, methods):
    folders += struct.pack('<IHH', data_offset, len(blist), method) + b'FFF'
    data_offset += sum(len(b) for b in blist)
flags = 0x0004 | (0x0002 if variant == 'set' else 0)
header = struct.pack('<4sIIIIIBBHHHHH', b'MSCF', 0, data_offset, 0, files_offset, 0, 3, 1, 2, len(files), flags, 7, 0)
header += struct.pack('<HBB', 6, 3, 2) + b'HHHHHH'
open(out, 'wb').write(header + folders + entries + b''.join(b for bl in folder_blocks for b in bl))
PY
python3 make_cabinet.py crafted.cab good && implant crafted.cab crafted.exe
"$inspector" crafted.exe >crafted.txt 2>&1 || fail "crafted cabinet: $(cat crafted.txt)"
expected=$(md5sum crafted-program.bin | cut -c1-32 | tr a-f A-F)
grep -q "^  program MD5  $expected  go.exe$" crafted.txt || fail "crafted cabinet: MD5 is not $expected: $(cat crafted.txt)"
grep -q '2 folders (MSZIP, stored), 3 files' crafted.txt || fail "crafted cabinet: folders not reported"
grep -q 'checksums: none in the cabinet' crafted.txt || fail "crafted cabinet: blocks without a checksum not reported"
# The same files with the program's folder in LZX: decoded through libmspack, digested alike.
python3 make_cabinet.py crafted-lzx.cab lzx && implant crafted-lzx.cab crafted-lzx.exe
"$inspector" crafted-lzx.exe >crafted-lzx.txt 2>&1 || fail "LZX cabinet: $(cat crafted-lzx.txt)"
grep -q "^  program MD5  $expected  go.exe$" crafted-lzx.txt || fail "LZX cabinet: MD5 is not $expected: $(cat crafted-lzx.txt)"
grep -q '2 folders (LZX, stored), 3 files' crafted-lzx.txt || fail "LZX cabinet: folders not reported"
for variant in set lzx-damaged quantum-window long-file no-folder overlap return; do
  python3 make_cabinet.py "crafted-$variant.cab" "$variant" && implant "crafted-$variant.cab" "crafted-$variant.exe"
done

# A cabinet longer than the payload: its header promises bytes that are not there.
head -c $((size + 5000)) /dev/urandom > stored/run.exe
gcab -c -n long.cab stored/notes.txt stored/run.exe
implant long.cab long.exe

# --- Bad inputs: expect STATUS WORD FILE ------------------------------------------------------
expect() {
  want="$1"; word="$2"; shift 2
  "$inspector" "$@" >out.txt 2>err.txt; got=$?
  [ "$got" = "$want" ] || fail "$*: exit $got, expected $want: $(cat err.txt)"
  grep -qi "$word" err.txt || fail "$*: message lacks '$word': $(cat err.txt)"
}
# patch FILE OFFSET TEXT: overwrites bytes in place.
patch() { printf '%s' "$3" | dd of="$1" bs=1 seek="$2" conv=notrunc 2>/dev/null; }

# Names the launcher refuses, in cabinets gcab makes: the reason, and exit 9.
refused() {  # refused WORD NAME [SECOND-NAME]
  rm -rf named && mkdir named && printf 'x' > "named/$2" && printf 'MZ' > named/run.exe
  [ $# -gt 2 ] && printf 'y' > "named/$3"
  (cd named && ls -A | grep -vx run.exe | sort > ../named.list && set -- &&
   while IFS= read -r n; do set -- "$@" "$n"; done < ../named.list && gcab -c -n ../named.cab "$@" run.exe)
  implant named.cab named.exe
  expect 11 "$1" named.exe
  grep -q "refused: .*$1" out.txt || fail "$2: the listing lacks the reason: $(cat out.txt)"
}
refused "device name" aux.h
refused "device name" CON
refused "device name" nul.txt
refused "device name" COM1.log
refused "device name" "LPT²"
refused "leaves the work folder" ...
refused "leaves the work folder" " "
refused "same file" data.bin data.bin.
refused "same file" Setup.ini SETUP.INI
refused "same file" État.dat état.dat
refused "own container" qarv2009Setup.dat
refused "own container" QARV20~1.DAT.
# A name beyond ASCII without the UTF-8 flag: each PC reads it in its own ANSI code page.
rm -rf named && mkdir named && printf 'x' > named/cafX.txt && printf 'MZ' > named/run.exe
(cd named && gcab -c -n ../unflagged.cab cafX.txt run.exe)
python3 -c "import sys; d = open(sys.argv[1], 'rb').read(); open(sys.argv[1], 'wb').write(d.replace(b'cafX.txt', b'caf\xe9.txt'))" unflagged.cab
implant unflagged.cab unflagged.exe
expect 11 "code page" unflagged.exe

# A cabinet without a file: nothing to extract, and nothing for the launcher to start.
python3 -c "import struct; open('no-files.cab', 'wb').write(struct.pack('<4sIIIIIBBHHHHH', b'MSCF', 0, 36, 0, 36, 0, 3, 1, 0, 0, 0, 7, 0))"
implant no-files.cab no-files.exe
expect 11 'holds no files' no-files.exe

# The command line: usage errors exit 2 with one line before the usage text.
expect 2 '^usage: qarv-inspector' --offsets
expect 2 '^qarv-inspector: unknown option --bogus$' --bogus "$launcher"
expect 2 '^qarv-inspector: unknown option --offsets=1$' --offsets=1 "$launcher"
expect 2 '^qarv-inspector: give one launcher$' "$launcher" "$launcher"
expect 2 '^qarv-inspector: give one launcher$' "$launcher" --bogus
"$inspector" --help >out.txt 2>err.txt || fail "--help: exit $?"
grep -q '^usage: qarv-inspector' out.txt && [ ! -s err.txt ] || fail "--help does not print the usage text alone"
expect 1 'no such file' missing.exe
expect 1 'no such file' --offsets missing.exe
printf 'plain text, not a program\n' > notes.txt
expect 3 'not a PE' notes.txt
: > empty.exe
expect 3 'not a PE' empty.exe
head -c 512 /dev/zero > mz.exe && patch mz.exe 0 MZ
expect 3 'no PE signature' mz.exe
expect 4 'no payload resource' "$plain_exe"

cp "$launcher" header.exe && patch header.exe "$offset" XXXX
expect 5 'not a cabinet' header.exe
cp "$launcher" middle.exe && patch middle.exe $((offset + size / 2)) 'QarvQarvQarvQarv'
expect 7 'damaged' middle.exe
cp "$launcher" tail.exe && patch tail.exe $((offset + size - 5)) XXXXX
expect 7 'damaged' tail.exe

expect 6 'truncated cabinet' long.exe
expect 8 'cabinet set' crafted-set.exe
expect 7 "'setup.dat' does not extract" crafted-lzx-damaged.exe
expect 7 'folder 0 gives its Quantum data a window of 2^0 bytes' crafted-quantum-window.exe
expect 7 "'go.exe' .* lies past the folder's" crafted-long-file.exe
expect 7 "'notes.txt' is in folder 5" crafted-no-folder.exe
# Files that go back in their folder, or back to a folder left, would each decode it again.
expect 7 "'go.exe' (bytes 0 to 70000 of folder 0) overlaps or comes before file 'setup.dat'" crafted-overlap.exe
expect 7 "'go.exe' .* returns to a folder an earlier file left" crafted-return.exe
head -c $((offset + size / 2)) "$launcher" > cut-payload.exe
expect 6 'truncated' cut-payload.exe
head -c 200 "$launcher" > cut-headers.exe
expect 6 'truncated' cut-headers.exe

# Truncated anywhere, or with bytes of its headers and resource directory overwritten: a message
# and a defined status (1 to 11: a damaged certificate-table entry is 10), never a signal or a hang.
rsrc=$(x86_64-w64-mingw32-objdump -h "$launcher" | awk '$2 == ".rsrc" { print $6 }')
[ -n "$rsrc" ] || fail "objdump shows no .rsrc section"
python3 - "$launcher" "$((0x${rsrc:-0}))" "$offset" <<'PY' || fail "damaged copies could not be made"
import random, sys
data = open(sys.argv[1], 'rb').read()
rsrc, payload = int(sys.argv[2]), int(sys.argv[3])
rng = random.Random(2009)
cuts = sorted(set([0, 1, 2, 63, 64, 0x3C + 4] + [rng.randrange(len(data)) for _ in range(40)]
                  + list(range(rsrc, rsrc + 1024, 37)) + [payload - 1, payload, payload + 1, len(data) - 1]))
for n, cut in enumerate(cuts):
    open('fuzz-cut-%03d.exe' % n, 'wb').write(data[:cut])
regions = [(0, 1024), (rsrc, rsrc + 2048), (payload - 64, payload + 4096)]
for n in range(150):
    damaged = bytearray(data)
    start, end = regions[n % len(regions)]
    for _ in range(rng.randrange(1, 5)):
        damaged[rng.randrange(start, end)] = rng.randrange(256)
    open('fuzz-byte-%03d.exe' % n, 'wb').write(damaged)
PY
for copy in fuzz-*.exe; do
  timeout 20 "$inspector" "$copy" >out.txt 2>err.txt; got=$?
  case "$got" in
    0) cmp -s "$copy" "$launcher" 2>/dev/null || grep -q 'program MD5' out.txt || fail "$copy: exit 0 without a listing" ;;
    [1-9]|10|11) [ -s err.txt ] || fail "$copy: exit $got without a message" ;;
    *) fail "$copy: exit $got (crash or hang): $(cat err.txt)" ;;
  esac
done

finish "inspector"
