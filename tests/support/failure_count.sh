# Sourced by the shell tests: `fail MESSAGE` counts one failure; `finish NAME` ends the test with
# status 0 and "NAME ok" when nothing failed, else with status 1. The count itself is never the
# status: an exit status keeps 8 bits, so 256 failures would read as success.
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
finish() {
  if [ "$failures" -eq 0 ]; then
    echo "$1 ok"
    exit 0
  fi
  echo "$failures failure(s)"
  exit 1
}
