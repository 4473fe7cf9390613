#!/bin/sh
# A junction the user owns above the launcher's work folder, repointed in the middle of a run. Under
# Wine a Unix symbolic link stands in for the junction: C:\qarv-swap\j leads to A, and when the test
# asks (the file swap-now) it is repointed at B in one atomic rename, as a program of the same user
# could repoint its junction. The layout goes whatever happens.
#   junction_swap.sh PREFIX RUNNER TEST_PROGRAM GTEST_FILTER
set -u
prefix="$1"; runner="$2"; program="$3"; filter="$4"
drive_c="$(cd "$prefix/dosdevices/c:" && pwd -P)" || { echo "the prefix has no C: drive"; exit 1; }
base="$drive_c/qarv-swap"
rm -rf "$base"
mkdir -p "$base/A/t" "$base/B/t" && ln -s A "$base/j" || { echo "cannot lay out $base"; exit 1; }

# Waits for the test's request, at most three minutes, repoints the link and says so.
(
    tries=0
    while [ "$tries" -lt 1800 ]; do
        if [ -e "$base/swap-now" ]; then
            ln -s B "$base/j.new" && mv -T "$base/j.new" "$base/j" && : >"$base/swapped"
            exit 0
        fi
        sleep 0.1
        tries=$((tries + 1))
    done
) &
watcher=$!
trap 'kill "$watcher" 2>/dev/null; rm -rf "$base"' EXIT

QARV_SWAP_ROOT='C:\qarv-swap' "$runner" "$program" --gtest_filter="$filter"
