#!/bin/sh
# The packer from the command line, as a release engineer uses it: usage: packer_test.sh PACKER WORKDIR
# Checks the report, the cabinet's order and attributes, the payload against an independent
# descrambler, byte-for-byte repeatability, and that bad input leaves no payload behind.
set -u
. "$(dirname "$0")/../support/failure_count.sh"
packer="$1"; work="$2"
rm -rf "$work"; mkdir -p "$work"; cd "$work" || exit 2

# An independent descrambler (the launcher's transform, written from its definition).
support=$(cd "$(dirname "$0")/../support" && pwd)
descramble() { python3 "$support/payload_scrambler.py" descramble "$1" "$2"; }

mkdir installer
head -c 20000 /dev/urandom > installer/setup.exe
printf 'notes\r\n' > installer/notes.txt
head -c 9000 /dev/zero > installer/data.bin

# A folder: cabinet made, program last, attributes and date applied, MD5 reported.
if ! "$packer" --output payload.bin --keep-cabinet kept.cab --folder installer --program setup.exe \
      --date "2009-03-16 08:30:00" --attributes notes.txt=rh >report.txt 2>errors.txt; then
  fail "folder packing failed: $(cat errors.txt)"
fi
cat report.txt
listing=$(gcab -l kept.cab)
[ "$(echo "$listing" | tail -n 1 | cut -d' ' -f1)" = setup.exe ] || fail "program is not last: $listing"
echo "$listing" | grep -q '^notes.txt 7 2009-03-16 08:30:00 0x3$' || fail "notes.txt attributes/date: $listing"
echo "$listing" | grep -q '^data.bin 9000 2009-03-16 08:30:00 0x20$' || fail "data.bin attributes/date: $listing"
expected_md5=$(md5sum installer/setup.exe | cut -d' ' -f1 | tr a-f A-F)
grep -q "program MD5  $expected_md5  setup.exe" report.txt || fail "report lacks MD5 $expected_md5"
chunks=$(( ($(stat -c %s kept.cab) + 4095) / 4096 ))
grep -q "in $chunks chunks" report.txt || fail "report lacks the chunk count $chunks"
[ "$(stat -c %s payload.bin)" = "$(stat -c %s kept.cab)" ] || fail "payload and cabinet sizes differ"
descramble payload.bin descrambled.cab && cmp -s descrambled.cab kept.cab || fail "payload does not descramble to the cabinet"
cmp -s payload.bin kept.cab && fail "payload is not scrambled"

# Same inputs, same bytes: a second run, and the kept cabinet packed as a cabinet.
touch installer/*
"$packer" --output again.bin --folder installer --program setup.exe --date "2009-03-16 08:30:00" \
    --attributes notes.txt=rh >/dev/null 2>&1 || fail "second run failed"
cmp -s payload.bin again.bin || fail "second run gave another payload"
"$packer" --output fromcab.bin --cabinet kept.cab >cabreport.txt 2>&1 || fail "cabinet packing failed: $(cat cabreport.txt)"
cmp -s payload.bin fromcab.bin || fail "packing the kept cabinet gave another payload"
grep -q "program MD5  $expected_md5  setup.exe" cabreport.txt || fail "cabinet report lacks the MD5"

# The reported MD5 at the sizes where its padding changes shape, and of an empty program.
mkdir sizes
for size in 0 1 55 56 63 64 65 119 120 4096; do
  rm -f sizes/*
  head -c "$size" /dev/urandom > sizes/run.exe
  printf 'x' > sizes/a.txt
  expected=$(md5sum sizes/run.exe | cut -d' ' -f1 | tr a-f A-F)
  "$packer" --output sized.bin --folder sizes --program run.exe >sized.txt 2>&1 || fail "packing a $size-byte program failed"
  grep -q "program MD5  $expected  run.exe" sized.txt || fail "MD5 of a $size-byte program: $(grep MD5 sized.txt)"
done

# Bad input: a clear message, a non-zero exit, no payload, no partial file; an old payload stays.
expect_refusal() {  # expect_refusal WORD-IN-MESSAGE packer-arguments...
  word="$1"; shift
  rm -f out.bin; printf 'old' > kept-old.bin
  if "$packer" "$@" >stdout.txt 2>stderr.txt; then fail "accepted: $*"; fi
  grep -qi "$word" stderr.txt || fail "message for '$*' lacks '$word': $(cat stderr.txt)"
  [ -e out.bin ] && fail "payload left behind by: $*"
  ls | grep -q partial && fail "partial file left behind by: $*"
  [ "$(cat kept-old.bin)" = old ] || fail "an existing payload was touched by: $*"
}
expect_refusal "does not exist" --output out.bin --folder missing --program setup.exe
expect_refusal "is not in folder" --output out.bin --folder installer --program other.exe
printf 'MSCF but not really a cabinet' > fake.cab
expect_refusal "not a" --output out.bin --cabinet fake.cab
expect_refusal "not a" --output out.bin --cabinet installer/setup.exe
expect_refusal "cannot read" --output out.bin --cabinet nothing.cab
expect_refusal "cannot write" --output no/such/folder/out.bin --folder installer --program setup.exe
expect_refusal "cannot write" --output kept-old.bin/out.bin --cabinet kept.cab
mkdir -p nested/sub && cp installer/setup.exe nested/ && cp installer/notes.txt nested/sub/
expect_refusal "subfolders" --output out.bin --folder nested --program setup.exe
(cd nested && gcab -c -z ../withpath.cab setup.exe sub/notes.txt)
expect_refusal "folder part" --output out.bin --cabinet withpath.cab
expect_refusal "bad date" --output out.bin --folder installer --program setup.exe --date "2009-13-01 00:00:00"
expect_refusal "not in the cabinet" --output out.bin --folder installer --program setup.exe --attributes nope.txt=r
# Names the launcher refuses, or two names Windows takes for one file: refused before anything is
# written, with the launcher's own reason.
hostile() {  # hostile WORD-IN-MESSAGE NAME [SECOND-NAME]
  rm -rf names && mkdir names && cp installer/setup.exe names/ && printf 'x' > "names/$2"
  [ $# -gt 2 ] && printf 'y' > "names/$3"
  expect_refusal "$1" --output out.bin --folder names --program setup.exe
}
hostile "device name" aux.h
hostile "device name" CON
hostile "device name" nul.txt
hostile "device name" COM1.log
hostile "device name" "COM¹"
hostile "device name" 'CONIN$'
hostile "leaves the work folder" ...
hostile "leaves the work folder" " "
hostile "same file" data.bin data.bin.
hostile "same file" Setup.ini SETUP.INI
hostile "same file" État.dat état.dat
hostile "own container" qarv2009Setup.dat
hostile "own container" QARV2009SETUP.DAT
hostile "short name" QARV20~1.EXE Qarv2009Install.exe
# Every other name is 8.3, but the container the launcher writes beside them has an alias, and
# Windows drops a name's trailing dots and spaces before it looks.
hostile "short name" "SETUP~1.EXE "
hostile "own container" QARV20~1.DAT.
# A name beyond ASCII without the UTF-8 flag is read in each PC's own ANSI code page.
rm -rf names && mkdir names && cp installer/setup.exe names/ && printf 'x' > names/cafX.txt
(cd names && gcab -c -z ../unflagged.cab cafX.txt setup.exe)
python3 -c "import sys; d = open(sys.argv[1], 'rb').read(); open(sys.argv[1], 'wb').write(d.replace(b'cafX.txt', b'caf\xe9.txt'))" unflagged.cab
expect_refusal "code page" --output out.bin --cabinet unflagged.cab
# Non-ASCII names the launcher extracts under their real names pack as they are.
rm -rf names && mkdir names && cp installer/setup.exe names/ && printf 'x' > names/café.txt && printf 'y' > names/cafë.txt
"$packer" --output names.bin --keep-cabinet names.cab --folder names --program setup.exe >/dev/null 2>&1 ||
  fail "non-ASCII names were refused"
gcab -l names.cab | grep -q '^café.txt ' || fail "café.txt is not in the cabinet: $(gcab -l names.cab)"
# Attributes set on a UTF-8 name keep its UTF-8 flag (0x80), so the launcher still reads it as UTF-8.
"$packer" --output names.bin --keep-cabinet names.cab --folder names --program setup.exe --attributes café.txt=r \
  >/dev/null 2>names.err || fail "attributes on a non-ASCII name: $(cat names.err)"
gcab -l names.cab | grep -q '^café.txt 1 .* 0x81$' || fail "café.txt lost its UTF-8 flag: $(gcab -l names.cab)"
# A cabinet with no file at all gives the launcher nothing to start.
python3 - <<'PY'
import struct
header = b'MSCF' + struct.pack('<IIIIIBBHHHHH', 0, 44, 0, 44, 0, 3, 1, 1, 0, 0, 0x1234, 0) + struct.pack('<IHH', 44, 0, 0)
open('empty.cab', 'wb').write(header)
PY
expect_refusal "no files" --output out.bin --cabinet empty.cab

# The command line: a missing value, an unknown option or a stray argument is a usage error (2),
# told in one line before the usage text; --help prints the usage text alone, and exits 0.
usage_error() {  # usage_error STATUS FIRST-LINE packer-arguments...
  want="$1"; line="$2"; shift 2
  rm -f out.bin
  "$packer" "$@" >usage.out 2>usage.err; got=$?
  [ "$got" = "$want" ] || fail "'$*': exit $got, expected $want"
  [ "$(head -n 1 usage.err)" = "$line" ] || fail "'$*': message '$(head -n 1 usage.err)', expected '$line'"
  [ -e out.bin ] && fail "'$*' wrote a payload"
}
usage_error 2 "qarv-packer: --output needs a value" --folder installer --program setup.exe --output
grep -q '^usage: qarv-packer ' usage.err || fail "no usage text after a usage error"
usage_error 2 "qarv-packer: unknown option --bogus" --output out.bin --bogus x --cabinet kept.cab
usage_error 2 "qarv-packer: unknown option -x" -x --output out.bin --cabinet kept.cab
usage_error 2 "qarv-packer: unknown option stray" --output out.bin stray --cabinet kept.cab
usage_error 2 "qarv-packer: give --output, and either --cabinet or --folder with --program" --output out.bin
usage_error 2 "qarv-packer: --attributes takes NAME=LETTERS" --output out.bin --folder installer --program setup.exe --attributes rh
usage_error 2 "qarv-packer: --date and --attributes go with --folder; a given cabinet is packed as it is" \
  --output out.bin --cabinet kept.cab --date "2009-03-16 08:30:00"
usage_error 1 "qarv-packer: error: bad attributes 'q': use the letters r, h, s, a, or - for none" \
  --output out.bin --folder installer --program setup.exe --attributes notes.txt=q
usage_error 1 "qarv-packer: error: bad date '2009-02-30 08:30:00': give YYYY-MM-DD HH:MM:SS, years 1980 to 2107, even seconds" \
  --output out.bin --folder installer --program setup.exe --date "2009-02-30 08:30:00"
"$packer" --output out.bin --help >usage.out 2>usage.err; got=$?
[ "$got" = 0 ] && [ ! -s usage.err ] && grep -q '^usage: qarv-packer ' usage.out || fail "--help: exit $got, $(cat usage.err)"

# A broken cabinet: a valid header over damaged data.
cp kept.cab broken.cab && printf 'XXXXXXXXXXXXXXXX' | dd of=broken.cab bs=1 seek=400 conv=notrunc 2>/dev/null
expect_refusal "checking the cabinet" --output out.bin --cabinet broken.cab

# Payload sizes, by the limits in payload/payload_limits.h (sparse files: no disk is used). Above
# the largest the launcher can carry: refused before the file is read. Above what 32-bit Windows
# holds: a warning that names the Windows versions, then the file is read as any other (and
# refused here as no cabinet). docs/release.md ("Large installers") quotes the limits as the headers have them.
root=$(cd "$(dirname "$0")/../.." && pwd)
limit() { sed -n "s/^constexpr std::uint64_t $1 = \([0-9]*\);.*/\1/p" "$root/payload/payload_limits.h"; }
largest=$(limit kLargestPayload); largest32=$(limit kLargestPayloadOn32BitWindows)
if [ -z "$largest" ] || [ -z "$largest32" ] || [ "$largest32" -ge "$largest" ]; then
  fail "payload limits not read from payload_limits.h: '$largest' '$largest32'"
else
  truncate -s "$((largest + 1))" huge.cab
  expect_refusal "at most $largest bytes" --output out.bin --cabinet huge.cab
  grep -q warning stderr.txt && fail "a refused payload also warned"
  truncate -s "$((largest32 + 1))" huge.cab
  expect_refusal "not a cabinet" --output out.bin --cabinet huge.cab
  grep -q "warning: .*64-bit Windows .*32-bit Windows (Vista, 7, 8, 8.1, 10).* 1603" stderr.txt \
    || fail "no warning for a payload only 64-bit Windows can hold: $(cat stderr.txt)"
  truncate -s "$largest32" huge.cab
  expect_refusal "not a cabinet" --output out.bin --cabinet huge.cab
  grep -q warning stderr.txt && fail "a payload of exactly what 32-bit Windows holds was warned about"
  # The limit holds for the file read, not for what a look by its path saw: here every stat() of
  # huge.cab still sees the 1,000 bytes it had before it grew.
  truncate -s "$((largest + 1))" huge.cab
  cat > stale_stat.c <<'C'
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
int stat(const char *path, struct stat *info) {
    int (*real)(const char *, struct stat *) = (int (*)(const char *, struct stat *))dlsym(RTLD_NEXT, "stat");
    const int result = real(path, info);
    const char *stale = getenv("QARV_STALE_STAT");
    if (result == 0 && stale != NULL && strcmp(path, stale) == 0) info->st_size = 1000;
    return result;
}
C
  if cc -shared -fPIC -o stale_stat.so stale_stat.c -ldl; then
    # A sanitized packer's runtime then no longer comes first among the libraries.
    export LD_PRELOAD="$PWD/stale_stat.so" QARV_STALE_STAT=huge.cab ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0"
    expect_refusal "at most $largest bytes" --output out.bin --cabinet huge.cab
    unset LD_PRELOAD QARV_STALE_STAT
  else
    fail "the stat() stand-in could not be compiled"
  fi
  rm -f huge.cab
fi
# What one cabinet folder holds (tools/cabinet/cabinet_directory.h): a file, or the installer
# folder's files together, above it are refused before gcab runs, with the file, its size and the limit.
folder_limit=$(sed -n 's/^constexpr std::uint64_t kLargestFolderData = \([0-9]*\);.*/\1/p' "$root/tools/cabinet/cabinet_directory.h")
if [ -z "$folder_limit" ]; then
  fail "kLargestFolderData not read from cabinet_directory.h"
else
  rm -rf big && mkdir big && cp installer/setup.exe big/
  truncate -s "$((folder_limit + 1))" big/zeros.bin
  expect_refusal "file 'big/zeros.bin' holds $((folder_limit + 1)) bytes; a cabinet folder holds at most $folder_limit bytes" \
    --output out.bin --folder big --program setup.exe
  truncate -s "$folder_limit" big/zeros.bin
  expect_refusal "the files of folder 'big' hold $((folder_limit + 20000)) bytes together" --output out.bin --folder big --program setup.exe
  rm -rf big
fi
for value in "$largest" "$largest32" "$folder_limit"; do
  grouped=$(echo "$value" | sed ':a;s/\B[0-9]\{3\}\>/,&/;ta')
  grep -q "$grouped" "$root/docs/release.md" || fail "docs/release.md does not quote the limit $grouped"
done

finish "packer"
