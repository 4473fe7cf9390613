#!/bin/sh
# The trace capture program on a program that writes a wide and an ANSI debug string:
#   tracecap_test.sh WINE-RUN TRACECAP WRITER WORKDIR
# Where the system hands debuggers wide strings, both lines come as written; elsewhere each line
# is marked as having passed through the ANSI code page, and standard error says what that means.
set -u
. "$(dirname "$0")/../support/failure_count.sh"
wine_run="$1"; tracecap="$2"; writer="$3"; work="$4"
rm -rf "$work"; mkdir -p "$work"; cd "$work" || exit 2

route=$("$wine_run" "$writer" --wide-route | tr -d '\r')
"$wine_run" "$tracecap" "$writer" >out.txt 2>err.txt; status=$?
cat out.txt err.txt
[ $status = 7 ] || fail "tracecap exits $status, not the program's 7"
case "$route" in
  wide)
    grep -qx 'wide: bād Học' out.txt || fail "the wide line is not as written"
    grep -qx 'narrow: plain' out.txt || fail "the ANSI line is not as written"
    [ ! -s err.txt ] || fail "a note on standard error where every line came as written" ;;
  ansi)
    [ "$(wc -l <out.txt)" = 2 ] || fail "expected two lines"
    grep -qv '^(ANSI) ' out.txt && fail "a line that passed through the ANSI code page is not marked"
    grep -qx '(ANSI) narrow: plain' out.txt || fail "the ANSI line is not marked"
    grep -q 'ANSI code page ([0-9]*); in lines marked (ANSI), letters outside it' err.txt ||
      fail "standard error does not say what the mark means" ;;
  *) fail "the writer could not tell the route: '$route'" ;;
esac
finish "tracecap"
