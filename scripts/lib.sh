# Shared by scripts/test and scripts/demo: packages, builds, the Wine prefix and the X display.
# Sourced, not run. Every process it starts is recorded and ended by qarv_cleanup.

QARV_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# Every script's build trees, logs and prefixes live here unless the caller names another place.
export QARV_BUILD_ROOT="${QARV_BUILD_ROOT:-$QARV_ROOT/build}"
QARV_PACKAGES="cmake make g++ g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64 \
googletest wine wine64 gcab cabextract xvfb x11-utils imagemagick fonts-dejavu-core python3 zlib1g-dev libz-mingw-w64-dev \
openssl osslsigncode wixl msitools nettle-dev libmspack-dev clang libclang-rt-14-dev"
QARV_WINE=/usr/lib/wine/wine64
QARV_WINESERVER=/usr/lib/wine/wineserver
QARV_PIDS=()

qarv_log() { printf '== %s\n' "$*" >&2; }

# "sudo" for a caller that is not root, else nothing: the prefix of every package command.
qarv_sudo() {
    [ "$(id -u)" -ne 0 ] && echo sudo || true
}

qarv_package_installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

# Installs the Debian packages named (by default those the build and the tests need) that are
# missing; quick when they are all there. A failed index update (a mirror mid-sync) is said and
# the install goes on with the lists at hand.
qarv_install_packages() {
    local wanted=("$@") missing=() p
    [ $# -gt 0 ] || wanted=($QARV_PACKAGES)
    for p in "${wanted[@]}"; do
        qarv_package_installed "$p" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    qarv_log "installing: ${missing[*]}"
    local sudo; sudo=$(qarv_sudo)
    $sudo apt-get update -qq || qarv_log "apt-get update failed; installing from the package lists at hand"
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# The 32-bit Wine from Debian's i386 architecture, for the i686 launcher: a prefix made after it
# is a WoW64 prefix (windows/syswow64), 64-bit Windows running 32-bit programs. Quick when it is
# there; returns non-zero when it cannot be installed, and the caller goes on without it.
qarv_install_wine32() {
    qarv_package_installed wine32:i386 && return 0
    qarv_log "installing: wine32:i386"
    local sudo; sudo=$(qarv_sudo)
    dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386 || return 1
    $sudo apt-get update -qq || return 1
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends wine32:i386 >/dev/null
}

# True when the prefix (qarv_wine_prefix first) runs 32-bit Windows code: its 32-bit cmd.exe,
# started by the 32-bit loader, exits 0. Some kernels refuse 32-bit code altogether.
qarv_runs_32bit_code() {
    [ -x /usr/lib/wine/wine ] && [ -d "$WINEPREFIX/drive_c/windows/syswow64" ] || return 1
    timeout 60 /usr/lib/wine/wine 'C:\windows\syswow64\cmd.exe' /c exit 0 </dev/null >/dev/null 2>&1
}

# Why qarv_runs_32bit_code says no, in a few words.
qarv_why_no_32bit_code() {
    if ! qarv_package_installed wine32:i386; then
        echo "the 32-bit Wine (wine32:i386) is not installed here"
    elif ! timeout 60 /usr/lib/wine/wine --version </dev/null >/dev/null 2>&1; then
        echo "this machine's kernel refuses 32-bit code (the 32-bit Wine loader does not start)"
    else
        echo "the Wine prefix does not run its 32-bit cmd.exe"
    fi
}

# Configures SOURCE into DIR with the arguments up to a lone "--", then builds the targets after
# it (all without any), each step logged to DIR.configure.log and DIR.build.log. On failure it
# shows the configure log, or the build log's errors, and returns non-zero; warnings are shown
# after a build that succeeds.
#   qarv_cmake_build SOURCE DIR [CONFIGURE-ARG...] [-- TARGET...]
qarv_cmake_build() {
    local source="$1" dir="$2" configure=() targets=()
    shift 2
    while [ $# -gt 0 ] && [ "$1" != -- ]; do configure+=("$1"); shift; done
    [ $# -gt 0 ] && shift
    targets=("$@")
    mkdir -p "$dir"
    cmake -S "$source" -B "$dir" "${configure[@]}" >"$dir.configure.log" 2>&1 ||
        { cat "$dir.configure.log" >&2; return 1; }
    if ! cmake --build "$dir" -j"$(nproc)" ${targets[@]+--target "${targets[@]}"} >"$dir.build.log" 2>&1; then
        grep -E 'error|Error [0-9]' "$dir.build.log" | head -n 40 >&2
        return 1
    fi
    grep -E 'warning:' "$dir.build.log" >&2 || true
}

# The host tools (the packer and the inspector), built once with the host compiler into
# $QARV_BUILD_ROOT/host for every cross tree of the run: qarv_build passes the folder on as
# QARV_HOST_TOOLS_DIR. Each tool's own build tracks its sources.
qarv_build_host_tools() {
    local dir="$QARV_BUILD_ROOT/host" tool
    for tool in packer:tools/packer inspector:tools/inspector; do
        qarv_cmake_build "$QARV_ROOT/${tool#*:}" "$dir/${tool%%:*}" -DCMAKE_BUILD_TYPE=Release \
            -DCMAKE_CXX_COMPILER=c++ -DQARV_SOURCE_ROOT="$QARV_ROOT" || return 1
    done
    QARV_HOST_TOOLS_DIR="$dir"
}

# The same host tools built with the host compiler, AddressSanitizer and UndefinedBehaviorSanitizer into
# $QARV_BUILD_ROOT/host-sanitized, for one run of their tests (the x86_64 tree's *_sanitized tests,
# through -DQARV_SANITIZED_TOOLS_DIR); sets QARV_SANITIZED_TOOLS_DIR.
qarv_build_sanitized_host_tools() {
    local dir="$QARV_BUILD_ROOT/host-sanitized" tool
    local flags="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer -g"
    for tool in packer:tools/packer inspector:tools/inspector; do
        qarv_cmake_build "$QARV_ROOT/${tool#*:}" "$dir/${tool%%:*}" -DCMAKE_BUILD_TYPE=Release \
            -DCMAKE_CXX_COMPILER=c++ -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
            -DQARV_SOURCE_ROOT="$QARV_ROOT" || return 1
    done
    QARV_SANITIZED_TOOLS_DIR="$dir"
}

# Configures and builds one architecture: qarv_build i686|x86_64 [extra cmake args...] [-- TARGET...]
# With QARV_HOST_TOOLS_DIR set (qarv_build_host_tools), the tree uses those host tools; without it,
# it builds its own.
qarv_build() {
    local arch="$1"; shift
    qarv_cmake_build "$QARV_ROOT" "$QARV_BUILD_ROOT/$arch" -DCMAKE_TOOLCHAIN_FILE="$QARV_ROOT/cmake/toolchain-$arch.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DQARV_HOST_TOOLS_DIR="${QARV_HOST_TOOLS_DIR:-}" "$@"
}

# A fresh, private Wine prefix with a persistent server: qarv_wine_prefix DIR [SETUP]
# SETUP, a function, sets the prefix up before its desktop process starts for good (the desktop
# reads its size and the fonts when it starts).
qarv_wine_prefix() {
    export WINEPREFIX="$1" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    # A server still running for an old prefix of this name would write its registry back.
    [ -d "$WINEPREFIX" ] && "$QARV_WINESERVER" -k >/dev/null 2>&1 || true
    # Emptied rather than removed: in the emulated PC the folder is a mount point.
    mkdir -p "$WINEPREFIX"
    find "$WINEPREFIX" -mindepth 1 -maxdepth 1 -exec rm -rf {} +
    "$QARV_WINE" wineboot -i </dev/null >/dev/null 2>&1
    if [ -n "${2:-}" ]; then
        "$2"
        # Whatever wineboot started ends here, the desktop with it, and starts anew below.
        "$QARV_WINESERVER" -k >/dev/null 2>&1 || true
        "$QARV_WINESERVER" -w >/dev/null 2>&1 || true
    fi
    # A persistent server, and the prefix's services started once, so that no test inherits them
    # (they would hold ctest's output pipe open) and no test pays their start-up.
    "$QARV_WINESERVER" -p 600 </dev/null >/dev/null 2>&1 &
    "$QARV_WINE" cmd /c exit </dev/null >/dev/null 2>&1
}

# The demos' screen (a qarv_wine_prefix SETUP): a virtual desktop of 800x500, which draws window
# frames, and a font with Vietnamese letters in place of Wine's dialog fonts. Marlett, the symbol
# font Wine draws the caption buttons with, is not replaced; Debian's Wine packages leave it out
# (it comes with fonts-wine), and without it the close box shows the letter "r".
qarv_demo_desktop() {
    "$QARV_WINE" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
    "$QARV_WINE" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 800x500 /f >/dev/null 2>&1
    local font
    for font in Tahoma "MS Shell Dlg" "MS Shell Dlg 2" "MS Sans Serif"; do
        "$QARV_WINE" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$font" /d "DejaVu Sans" /f >/dev/null 2>&1
    done
    qarv_prefix_marlett || qarv_log "no Marlett font for the prefix: caption buttons show letters"
}

# Puts Wine's Marlett into the prefix's Fonts folder: from fonts-wine when it is installed, else
# unpacked from that package under the build root, not installed, so that the tests' prefixes keep
# the fonts they always had.
qarv_prefix_marlett() {
    local font=/usr/share/wine/fonts/marlett.ttf unpacked="$QARV_BUILD_ROOT/fonts-wine"
    if [ ! -f "$font" ]; then
        font="$unpacked/usr/share/wine/fonts/marlett.ttf"
        if [ ! -f "$font" ]; then
            rm -rf "$unpacked" && mkdir -p "$unpacked" || return 1
            (cd "$unpacked" && apt-get download -qq fonts-wine >/dev/null 2>&1 && dpkg-deb -x fonts-wine_*.deb .) || return 1
        fi
    fi
    mkdir -p "$WINEPREFIX/drive_c/windows/Fonts" && cp "$font" "$WINEPREFIX/drive_c/windows/Fonts/marlett.ttf"
}

# The demos' virtual desktop (qarv_demo_desktop, 800x500) as a PNG at PATH; a failed shot is said,
# never fatal.
qarv_screenshot() {
    if import -window root -crop 800x500+0+0 +repage "$1" 2>/dev/null; then
        qarv_log "screenshot: $1"
    else
        qarv_log "no screenshot: $1"
    fi
}

# An Xvfb display of its own; sets DISPLAY.
qarv_start_display() {
    local fdfile; fdfile=$(mktemp)
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fdfile" </dev/null >/dev/null 2>&1 &
    QARV_PIDS+=($!)
    # Up to 30 s: in the emulated PC the server takes seconds to start.
    for _ in $(seq 600); do [ -s "$fdfile" ] && break; sleep 0.05; done
    export DISPLAY=":$(head -n1 "$fdfile")"
    rm -f "$fdfile"
}

# Ends the prefix's server and everything recorded, by process id.
qarv_cleanup() {
    if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then
        "$QARV_WINESERVER" -k >/dev/null 2>&1 || true
        # Services of a killed server can linger: end them by the prefix they belong to.
        for pid in $(pgrep -f 'wine|\.exe' 2>/dev/null); do
            if { tr "\0" "\n" </proc/"$pid"/environ; } 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX"; then
                kill -9 "$pid" 2>/dev/null || true
            fi
        done
    fi
    for pid in "${QARV_PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
}

# QARV_CTEST_ARGS as words (no file-name expansion) in QARV_CTEST_ARGV. Refuses -I and -U:
# qarv_ctest_run adds a regular expression of its own, which a list of test numbers would index
# into and a union would add to.
qarv_ctest_args() {
    read -r -a QARV_CTEST_ARGV <<<"${QARV_CTEST_ARGS:-}"
    local arg
    for arg in "${QARV_CTEST_ARGV[@]}"; do
        case "$arg" in
            -I* | --tests-information* | -U | --union)
                qarv_log "QARV_CTEST_ARGS: $arg is not taken; select tests with -R, -E, -L and -LE"
                return 1 ;;
        esac
    done
}

# The names of the tests ARGS select in the tree DIR, one a line, sorted: qarv_ctest_names DIR ARGS...
# Fixtures' setup and cleanup tests are not added (-FA): the run adds those of the tests it takes,
# and an exclusion must not take them from the others.
qarv_ctest_names() {
    local dir="$1" listing; shift
    listing=$(cd "$dir" && ctest -N "$@" -FA '.*') || { qarv_log "ctest -N $* failed in $dir"; return 1; }
    sed -n 's/^ *Test *#[0-9][0-9]*: \(.*\)/\1/p' <<<"$listing" | sed 's/ (Disabled)$//' | LC_ALL=C sort -u
}

# The option that, placed last on ctest's command line after the caller's own options, runs
# exactly the tests a route takes: qarv_ctest_pick DIR INCLUDE EXCLUDE CALLER_ARGS...
# INCLUDE and EXCLUDE are the route's own selection (ctest options in one string, "" for none);
# a test runs where INCLUDE and the caller's options select it and EXCLUDE does not. Prints the
# option and its regular expression on two lines, nothing where no test is left. Worked out from
# listings, because ctest keeps only the last -R and the last -E, and repeated -L or -LE do not
# add up to one filter.
qarv_ctest_pick() {
    local dir="$1" include_args exclude_args; shift
    read -r -a include_args <<<"$1"
    read -r -a exclude_args <<<"$2"
    shift 2
    local all caller_set include_set exclude_set="" keep others option regex
    all=$(qarv_ctest_names "$dir") || return 1
    caller_set=$(qarv_ctest_names "$dir" "$@") || return 1
    include_set=$(qarv_ctest_names "$dir" "${include_args[@]}") || return 1
    if [ ${#exclude_args[@]} -gt 0 ]; then
        exclude_set=$(qarv_ctest_names "$dir" "${exclude_args[@]}") || return 1
    fi
    keep=$(LC_ALL=C comm -12 <(printf '%s\n' "$caller_set") <(printf '%s\n' "$include_set") |
        LC_ALL=C comm -23 - <(printf '%s\n' "$exclude_set") | sed '/^$/d')
    [ -n "$keep" ] || return 0
    # One alternative per name, its regular expression's own characters escaped.
    alternatives() { sed 's/[][\\^$.|?*+(){}]/\\&/g' | paste -sd'|' - | sed 's/.*/^(&)$/'; }
    # -R of the names taken, so that ctest adds their fixtures' tests as it would; -E of the others
    # where that list is too long (ctest's regular expressions end at about 50,000 characters, and
    # one too long matches nothing).
    option=-R regex=$(alternatives <<<"$keep")
    if [ ${#regex} -gt 30000 ]; then
        others=$(LC_ALL=C comm -23 <(printf '%s\n' "$all") <(printf '%s\n' "$keep") | sed '/^$/d')
        option=-E regex=$(alternatives <<<"$others")
    fi
    # What ctest makes of it, checked: a selection that is not exactly the tests taken fails the run.
    if [ "$(qarv_ctest_names "$dir" "$@" "$option" "$regex")" != "$keep" ]; then
        qarv_log "ctest in $dir does not select the $(wc -l <<<"$keep") tests worked out for this run with $option of ${#regex} characters"
        return 1
    fi
    printf '%s\n%s\n' "$option" "$regex"
}

# Runs a route's tests in DIR with the caller's QARV_CTEST_ARGS (qarv_ctest_args first) applied
# on top: qarv_ctest_run DIR INCLUDE EXCLUDE [MORE_ARGS...] (see qarv_ctest_pick).
qarv_ctest_run() {
    local dir="$1" include="$2" exclude="$3" picked; shift 3
    picked=$(qarv_ctest_pick "$dir" "$include" "$exclude" "${QARV_CTEST_ARGV[@]}") || return 1
    if [ -z "$picked" ]; then
        qarv_log "no test of this route in $dir (${include:-every test}${exclude:+ less $exclude}) is selected by QARV_CTEST_ARGS='${QARV_CTEST_ARGS:-}'"
        return 0
    fi
    (cd "$dir" && ctest --output-on-failure "${QARV_CTEST_ARGV[@]}" "$@" "${picked%%$'\n'*}" "${picked#*$'\n'}")
}

# Whether a run may pass where the shipped launcher's runs have no route:
# qarv_i686_verdict ROUTE ALLOW WHY, ALLOW being QARV_ALLOW_NO_I686. Says so either way; returns
# 1 for a run that must fail.
qarv_i686_verdict() {
    [ "$1" = none ] || return 0
    if [ "$2" = 1 ]; then
        qarv_log "NOT RUN: the i686 launcher's runs under WoW64 (I686.*, Wow64*): $3 (QARV_ALLOW_NO_I686=1 lets the run pass without them)"
        return 0
    fi
    qarv_log "FAILED: the i686 launcher's runs under WoW64 (I686.*, Wow64*) cannot run: $3 (QARV_ALLOW_NO_I686=1 lets a run pass without them)"
    return 1
}

# Which launcher a demo runs, once its prefix is made (qarv_wine_prefix): the i686 one that ships
# where the prefix runs 32-bit Windows code (under WoW64, as on 64-bit Windows), else the x86_64
# twin, said in one line with the reason. Sets QARV_DEMO_ARCH (the build tree's name),
# QARV_DEMO_LOADER (the Wine loader of its programs), QARV_DEMO_VIEW (reg's option for the registry
# view the launcher sees) and QARV_DEMO_HKLM_SOFTWARE (that view's HKLM\SOFTWARE as 64-bit reg.exe
# names it).
qarv_demo_route() {
    if qarv_runs_32bit_code; then
        QARV_DEMO_ARCH=i686 QARV_DEMO_LOADER=/usr/lib/wine/wine QARV_DEMO_VIEW=/reg:32
        QARV_DEMO_HKLM_SOFTWARE='HKLM\SOFTWARE\WOW6432Node'
        qarv_log "the i686 launcher (the one that ships) runs here under WoW64: its registry is the 32-bit view"
    else
        QARV_DEMO_ARCH=x86_64 QARV_DEMO_LOADER="$QARV_WINE" QARV_DEMO_VIEW=/reg:64
        QARV_DEMO_HKLM_SOFTWARE='HKLM\SOFTWARE'
        qarv_log "running the x86_64 twin, not the i686 launcher that ships: $(qarv_why_no_32bit_code)"
    fi
}
