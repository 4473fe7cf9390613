#!/usr/bin/env bash
# Makes the fuzz targets' seed inputs in corpus/<target>/ from the kinds of files the tests use:
# cabinets from gcab and hand-made ones (reserve areas, two folders, LZX, blocks without a
# checksum, files listed out of order), a small PE32 and PE32+ image carrying RT_RCDATA 129, the same image signed with a
# throwaway certificate, and lists of names the launcher's rule accepts and refuses.
# corpus/authenticode/dual-timestamped.p7 (a SHA-1 signature with a SHA-256 one nested in it, both
# with RFC 3161 timestamps) is the certificate table of packer_sign_timestamp's dual.exe, which
# needs that test's local timestamp authority; this script leaves it as it is.
# Run again only to renew the seeds; the fuzzers' own finds stay in the build folder.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
corpus="$here/corpus"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir -p "$corpus"/{pe_resources,cabinet_directory,cabinet_data,authenticode,name_rule}

# --- Cabinets ---------------------------------------------------------------------------------
mkdir files
printf 'notes\r\n' > files/notes.txt
printf '[setup]\r\nlanguage=1066\r\n' > files/install.ini
printf 'MZ-not-a-real-program' > files/run.exe
printf 'accented' > "files/état.txt"
(cd files && gcab -c -n ../stored.cab notes.txt install.ini run.exe)
(cd files && gcab -c -z -n ../mszip.cab notes.txt "état.txt" run.exe)
python3 - <<'PY'
import struct, zlib
text = b''.join(b'line %d of the readme\r\n' % i for i in range(2000))  # 2 MSZIP blocks, shared history
def mszip(data):
    out, history = [], b''
    for start in range(0, len(data), 32768):
        chunk = data[start:start + 32768]
        c = zlib.compressobj(9, zlib.DEFLATED, -15, zdict=history) if history else zlib.compressobj(9, zlib.DEFLATED, -15)
        body = b'CK' + c.compress(chunk) + c.flush()
        history = (history + chunk)[-32768:]
        out.append((body, len(chunk)))
    return out
def lzx(data):  # uncompressed LZX blocks, one per frame
    out = []
    for n, start in enumerate(range(0, len(data), 32768)):
        chunk = data[start:start + 32768]
        bits = ('0' if n == 0 else '') + '011' + format(len(chunk), '024b')
        bits += '0' * (-len(bits) % 16)
        words = b''.join(struct.pack('<H', int(bits[i:i + 16], 2)) for i in range(0, len(bits), 16))
        out.append((words + struct.pack('<III', 1, 1, 1) + chunk, len(chunk)))
    return out
def checksum(data, seed):
    s = seed
    n = len(data) // 4 * 4
    for i in range(0, n, 4):
        s ^= struct.unpack_from('<I', data, i)[0]
    t = 0
    for b in data[n:]:
        t = ((t << 8) | b) & 0xFFFFFFFF
    return s ^ t
def cabinet(folders, files, reserve, checksums):
    # folders: [(method, [(body, size)])]; files: [(name, folder, offset, size)]
    header = 36 + (4 + 6 if reserve else 0)
    folder_size = 8 + (3 if reserve else 0)
    entries = b''.join(struct.pack('<IIHHHH', size, offset, folder, 0x3A70, 0x43C0, 0x20) + name + b'\0'
                       for name, folder, offset, size in files)
    files_offset = header + folder_size * len(folders)
    at = files_offset + len(entries)
    table, data = b'', b''
    for method, blocks in folders:
        table += struct.pack('<IHH', at, len(blocks), method) + (b'FFF' if reserve else b'')
        for body, size in blocks:
            sizes = struct.pack('<HH', len(body), size)
            sum_ = checksum(sizes, checksum(body, 0)) if checksums else 0
            block = struct.pack('<I', sum_) + sizes + (b'RR' if reserve else b'') + body
            data += block
            at += len(block)
    flags = 0x0004 if reserve else 0
    head = struct.pack('<4sIIIIIBBHHHHH', b'MSCF', 0, at, 0, files_offset, 0, 3, 1, len(folders), len(files), flags, 7, 0)
    if reserve:
        head += struct.pack('<HBB', 6, 3, 2) + b'HHHHHH'
    return head + table + entries + data
program = bytes(range(256)) * 8
open('two-folders-reserve.cab', 'wb').write(cabinet(
    [(1, mszip(text)), (0x1503, lzx(program))],
    [(b'readme.txt', 0, 0, len(text)), (b'setup.exe', 1, 0, len(program))], True, False))
open('lzx-checksummed.cab', 'wb').write(cabinet(
    [(0x1503, lzx(text[:4000]))], [(b'a.txt', 0, 0, 2000), (b'b.exe', 0, 2000, 2000)], False, True))
open('quantum.cab', 'wb').write(cabinet(
    [(0x0A12, [(bytes(range(64)), 64)])], [(b'q.exe', 0, 0, 64)], False, True))
# Listings the directory reader refuses: files that go back over one LZX folder, and a file that
# returns to a folder the listing left (each would decode the folder again).
open('overlap-lzx.cab', 'wb').write(cabinet(
    [(0x1503, lzx(text[:4000]))], [(b'a.txt', 0, 0, 4000), (b'b.txt', 0, 0, 4000), (b'c.exe', 0, 2000, 2000)], False, True))
open('return-folder.cab', 'wb').write(cabinet(
    [(1, mszip(text[:3000])), (0, [(program[:100], 100)])],
    [(b'a.txt', 0, 0, 1000), (b'b.txt', 1, 0, 100), (b'c.txt', 0, 1000, 1000), (b'd.exe', 1, 100, 0)], False, True))
PY
for cab in stored.cab mszip.cab two-folders-reserve.cab lzx-checksummed.cab quantum.cab overlap-lzx.cab return-folder.cab; do
  cp "$cab" "$corpus/cabinet_directory/$cab"
  cp "$cab" "$corpus/cabinet_data/$cab"
done

# --- PE images with RT_RCDATA 129, and a signed one -------------------------------------------
printf 'void entry(void) {}\n' > tiny.c
printf 'LANGUAGE 9, 1\n129 RCDATA "stored.cab"\n' > tiny.rc
for arch in x86_64 i686; do
  "$arch-w64-mingw32-windres" tiny.rc -O coff -o "tiny-$arch.res.o"
  entry=entry; [ "$arch" = i686 ] && entry=_entry
  "$arch-w64-mingw32-gcc" -nostdlib -e "$entry" -s -O2 -o "tiny-$arch.exe" tiny.c "tiny-$arch.res.o"
  cp "tiny-$arch.exe" "$corpus/pe_resources/tiny-$arch.exe"
done
openssl req -x509 -newkey rsa:2048 -nodes -keyout seed.key -out seed.crt -days 2 -subj '/CN=Fuzz Seed/O=Qarv' 2>/dev/null
osslsigncode sign -certs seed.crt -key seed.key -h sha256 -in tiny-x86_64.exe -out signed.exe >/dev/null
cp signed.exe "$corpus/authenticode/signed-x86_64.exe"
cp signed.exe "$corpus/pe_resources/signed-x86_64.exe"
# The signature alone: the fuzz target wraps it in an image of its own.
python3 - <<'PY' signed.exe "$corpus/authenticode/signature.p7"
import struct, sys
data = open(sys.argv[1], 'rb').read()
pe = struct.unpack_from('<I', data, 0x3C)[0]
optional = pe + 24
count = 108 if struct.unpack_from('<H', data, optional)[0] == 0x20B else 92
offset, size = struct.unpack_from('<II', data, optional + count + 4 + 8 * 4)
length = struct.unpack_from('<I', data, offset)[0]
open(sys.argv[2], 'wb').write(data[offset + 8:offset + length])
PY

# --- Name lists: one attribute byte, the name, a NUL ------------------------------------------
names() { printf "$2" > "$corpus/name_rule/$1"; }
names accepted '\x20setup.exe\0\x20readme.txt\0\x01install.ini\0'
names utf8 '\xa0\xc3\xa9tat.txt\0\xa0\xc3\x89TAT.TXT\0\x20run.exe\0'
names same-file '\x20Setup.ini\0\x20SETUP.INI.\0\x20data.bin \0'
names devices '\x20aux.h\0\x20CON\0\x20COM1.log\0\xa0LPT\xc2\xb2\0\x20CONIN$\0'
names container '\x20qarv2009Setup.dat\0\x20QARV20~1.DAT\0\x20...\0\x20 \0'
names not-utf8 '\xa0\xff\xfe.txt\0\x20caf\xe9.txt\0\x20a/b.txt\0'
# Names as Windows stores them, trailing dots and spaces dropped: the container's alias, an alias
# beside a long name, a device.
names stored '\x20QARV20~1.DAT.\0\x20Qarv2009Install.exe\0\x20SETUP~1.EXE \0\x20CON. \0\x20qarv20~1.dat .\0'
