#!/bin/sh
# The shell tests' verdict: any number of failures, 256 and its multiples included, ends non-zero;
# none ends with 0. Usage: failure_count_test.sh (run by ctest).
helper="$(cd "$(dirname "$0")" && pwd)/failure_count.sh"
bad=0
for count in 0 1 255 256 512 1000; do
  sh -c '. "$1"; i=0; while [ $i -lt "$2" ]; do fail "case $i" >/dev/null; i=$((i + 1)); done; finish counted' \
    sh "$helper" "$count" >/dev/null
  status=$?
  if [ "$count" -eq 0 ] && [ $status -ne 0 ]; then echo "FAIL: no failure, exit $status"; bad=1; fi
  if [ "$count" -ne 0 ] && [ $status -eq 0 ]; then echo "FAIL: $count failures, exit 0"; bad=1; fi
done
[ $bad -eq 0 ] && echo "failure count ok"
[ $bad -eq 0 ]
