#!/bin/bash
# The decisions of scripts/test and the emulated PC's image cache (scripts/vm.sh, scripts/lib.sh),
# on temporary folders and a stand-in image recipe: which paths the PC can take, which cache
# folders are trusted, what the clean-up removes, links in place of the lock and the log, the
# image's recorded SHA-256, the verdict without a 32-bit route, and how the route's test
# selection and the caller's QARV_CTEST_ARGS combine in a real ctest tree.
# Usage: vm_cache_test.sh (run by ctest).
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/../../scripts/lib.sh"
source "$here/../../scripts/vm.sh"
. "$here/../support/failure_count.sh"
work=$(mktemp -d /tmp/qarv-vm-cache-test.XXXXXX) || exit 1
chmod 755 "$work"
trap 'rm -rf "$work"' EXIT

# --- Paths the emulated PC can take (QEMU options, the kernel command line, a root hook).
while IFS='|' read -r verdict path; do
    path=$(printf '%bx' "$path") && path="${path%x}"
    qarv_vm_paths_usable "TEST_PATH=$path" >"$work/said" 2>&1 && got=pass || got=refuse
    [ "$got" = "$verdict" ] || fail "path $(printf %q "$path"): $got, not $verdict: $(cat "$work/said")"
    if [ "$got" = refuse ] && ! grep -q TEST_PATH "$work/said"; then
        fail "path $(printf %q "$path"): the refusal does not name the variable: $(cat "$work/said")"
    fi
done <<'CASES'
pass|/work/qarv-2009_clone.d/build+x@host~1:2
pass|/home/Nguy\xe1\xbb\x85n/qarv
refuse|/work/a b
refuse|/work/a,b
refuse|/work/it's
refuse|/work/a"b
refuse|/work/a\nb
refuse|/work/ends\n
refuse|/work/a\tb
refuse|/work/a$b
refuse|/work/a\\\\b
refuse|/work/a;b
refuse|work/relative
CASES

# The whole command stops before it builds anything (its build root is never made).
while IFS='|' read -r setting expected; do
    out=$(cd "$work" && env -u QARV_CTEST_ARGS -u QARV_ALLOW_NO_I686 QARV_I686_ROUTE=auto $setting \
        QARV_BUILD_ROOT="$work/never-built" timeout 60 bash "$here/../../scripts/test" 2>&1)
    status=$?
    [ $status -eq 2 ] || fail "scripts/test with $setting: exit $status, not 2: $out"
    grep -q -- "$expected" <<<"$out" || fail "scripts/test with $setting does not say '$expected': $out"
    [ ! -e "$work/never-built" ] || fail "scripts/test with $setting made its build root"
done <<'CASES'
QARV_VM_CACHE=/tmp/a,b|stopped before building
QARV_VM_CACHE=relative/cache|must be an absolute path
QARV_ALLOW_NO_I686=yes|QARV_ALLOW_NO_I686 is 1 or unset
QARV_CTEST_ARGS=-I1,3|select tests with -R, -E, -L and -LE
CASES

# --- Which cache folders are trusted.
mkdir -p "$work/private/cache" "$work/open/cache" "$work/sticky/cache" "$work/mode"
chmod 755 "$work/private" "$work/private/cache" "$work/open/cache" "$work/sticky/cache"
chmod 777 "$work/open"
chmod 1777 "$work/sticky"
for mode in 777 775 757 1777; do mkdir -p "$work/mode/$mode" && chmod "$mode" "$work/mode/$mode"; done
ln -s "$work/private/cache" "$work/linked"
while IFS='|' read -r verdict dir; do
    qarv_vm_cache_private "$work/$dir" >"$work/said" 2>&1 && got=trusted || got=refused
    [ "$got" = "$verdict" ] || fail "cache $dir: $got, not $verdict: $(cat "$work/said")"
done <<'CASES'
trusted|private/cache
trusted|sticky/cache
refused|open/cache
refused|mode/777
refused|mode/775
refused|mode/757
refused|mode/1777
refused|linked
refused|missing
CASES
if [ "$(id -u)" -eq 0 ]; then
    mkdir -m 755 "$work/theirs" && chown nobody "$work/theirs"
    qarv_vm_cache_private "$work/theirs" 2>/dev/null && fail "a cache owned by nobody is trusted"
else
    echo "skipped: a cache of another user (chown needs root)"
fi

# --- The clean-up removes only what this script names: other recipes' images, their .partial
# and .log, and this recipe's .partial.
cache="$work/private/cache" hash=0123456789abcdef other=fedcba9876543210
for entry in "$hash/" "$hash.log" "$hash.partial/" lock "$other/" "$other.partial/" "$other.log" \
    apt/ notes.txt ABCDEF0123456789/ 0123456789abcdef0/ "$other.old" .hidden/; do
    case "$entry" in */) mkdir -p "$cache/$entry" && touch "$cache/$entry/inside" ;; *) touch "$cache/$entry" ;; esac
done
qarv_vm_cache_clean "$cache" "$hash"
for entry in "$hash/inside" "$hash.log" lock apt/inside notes.txt ABCDEF0123456789/inside \
    0123456789abcdef0/inside "$other.old" .hidden/inside; do
    [ -e "$cache/$entry" ] || fail "the clean-up removed $entry"
done
for entry in "$hash.partial" "$other" "$other.partial" "$other.log"; do
    [ ! -e "$cache/$entry" ] || fail "the clean-up left $entry"
done

# --- The image, made by a stand-in recipe that counts its builds: built and sealed, reused
# while it matches its SHA-256, built anew when it does not, never built past a linked log or lock.
fake="$work/clone"
mkdir -p "$fake/scripts"
cat >"$fake/scripts/vm-image.sh" <<FAKE
mkdir -p "\$1" && echo disk >"\$1/root.img" && echo kernel >"\$1/vmlinuz" && echo ramdisk >"\$1/initrd.img"
echo built >>"$work/builds"
FAKE
image() {
    (QARV_ROOT="$fake" QARV_VM_CACHE="$work/images" qarv_vm_image >"$work/said" 2>&1 && echo "$QARV_VM_IMAGE" >"$work/image")
}
builds() { [ -f "$work/builds" ] && wc -l <"$work/builds" || echo 0; }
expect_builds() {
    [ "$(builds)" -eq "$1" ] || fail "$2: $(builds) builds, not $1: $(cat "$work/said")"
}
image || fail "the first image is not made: $(cat "$work/said")"
expect_builds 1 "a first run"
dir=$(cat "$work/image")
[ -f "$dir/SHA256SUMS" ] && (cd "$dir" && sha256sum -c --quiet SHA256SUMS) ||
    fail "no SHA-256 of the image beside it"
image && expect_builds 1 "a run with the image sealed"
grep -q "SHA-256 checked" "$work/said" || fail "the reuse does not say it checked the image: $(cat "$work/said")"
while IFS='|' read -r what change; do
    (cd "$dir" && eval "$change")
    before=$(builds)
    image || fail "$what: no image: $(cat "$work/said")"
    expect_builds $((before + 1)) "$what"
    grep -q "building it anew" "$work/said" || fail "$what: not said: $(cat "$work/said")"
    qarv_vm_image_sound "$dir" || fail "$what: the image built anew is not sound"
done <<'CASES'
a changed disk|echo planted >root.img
a changed kernel|echo planted >vmlinuz
no recorded sums|rm SHA256SUMS
a disk that is a link|mv root.img elsewhere.img && ln -s elsewhere.img root.img
a folder open to all|chmod 777 .
a disk open to all|chmod 666 root.img
CASES
hash=$(basename "$dir")
for name in "$hash.log" lock; do
    rm -rf "$dir" && echo untouched >"$work/target" && rm -f "$work/images/$name"
    ln -s "$work/target" "$work/images/$name"
    before=$(builds)
    image && fail "a linked $name is opened"
    expect_builds "$before" "a linked $name"
    [ "$(cat "$work/target")" = untouched ] || fail "the linked $name's target was written"
    rm -f "$work/images/$name"
done

# --- The verdict where the shipped launcher's runs have no route (QARV_ALLOW_NO_I686).
while IFS='|' read -r route allow verdict; do
    qarv_i686_verdict "$route" "$allow" "no route here" >"$work/said" 2>&1 && got=pass || got=fail
    [ "$got" = "$verdict" ] || fail "route $route, QARV_ALLOW_NO_I686='$allow': $got, not $verdict"
    if [ "$route" = none ] && ! grep -q "no route here" "$work/said"; then
        fail "route none, QARV_ALLOW_NO_I686='$allow': the reason is not said: $(cat "$work/said")"
    fi
done <<'CASES'
native||pass
vm||pass
none||fail
none|0|fail
none|1|pass
CASES

# --- The route's selection and the caller's, in a ctest tree of named, labelled tests.
tree="$work/tree"
mkdir -p "$tree"
cat >"$tree/CMakeLists.txt" <<'TREE'
cmake_minimum_required(VERSION 3.16)
project(selection NONE)
enable_testing()
foreach(name I686.Run.one I686.Run.two I686Image.pe Wow64Registry.view Wow64Signed.run sign_setup other.fast other.slow)
  add_test(NAME ${name} COMMAND true)
endforeach()
set_tests_properties(I686.Run.one PROPERTIES LABELS "wow64;slow")
set_tests_properties(I686.Run.two PROPERTIES LABELS wow64)
set_tests_properties(other.slow PROPERTIES LABELS slow)
set_tests_properties(sign_setup PROPERTIES FIXTURES_SETUP signed)
set_tests_properties(Wow64Signed.run PROPERTIES FIXTURES_REQUIRED signed)
TREE
cmake -S "$tree" -B "$tree/build" >"$work/cmake.log" 2>&1 || fail "the test tree does not configure: $(cat "$work/cmake.log")"
# include#exclude#caller's args#more args#the tests ctest runs
while IFS='#' read -r include exclude caller more expected; do
    read -r -a QARV_CTEST_ARGV <<<"$caller"
    read -r -a extra <<<"$more"
    ran=$(qarv_ctest_run "$tree/build" "$include" "$exclude" "${extra[@]}" 2>&1 |
        sed -n 's/^ *[0-9]*\/[0-9]* Test *#[0-9]*: \([^ ]*\) .*/\1/p' | LC_ALL=C sort | paste -sd' ' -)
    [ "$ran" = "$expected" ] ||
        fail "route [$include] but [$exclude], caller [$caller]: ran [$ran], not [$expected]"
done <<'CASES'
-R Wow64##-R Signed#-FS signed#Wow64Signed.run
-R Wow64##-R Registry##Wow64Registry.view
-R Wow64##-R other##
-R Wow64##-E Registry#-FS signed#Wow64Signed.run
-L wow64##-L slow##I686.Run.one
-L wow64##-LE slow##I686.Run.two
-L wow64##-R two##I686.Run.two
#-L wow64#-LE slow##I686Image.pe Wow64Registry.view Wow64Signed.run other.fast sign_setup
#-L wow64#-R I686##I686Image.pe
#-R Wow64#-E fast##I686.Run.one I686.Run.two I686Image.pe other.slow sign_setup
#-R Wow64#-E (fast|slow) -R I686##I686.Run.one I686.Run.two I686Image.pe
##-R (Signed|fast)##Wow64Signed.run other.fast sign_setup
CASES
finish "vm cache and test selection"
