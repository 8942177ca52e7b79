#!/usr/bin/env bash
# The Windows build in one command: installs the mingw-w64 toolchain and Wine
# when missing, builds what the build machine does not package for Windows
# (OpenSSL's libcrypto, once, into a cache outside the clone), cross-builds into
# build/windows with warnings as errors and runs the tests under Wine.
# Idempotent; exits non-zero on any failure, 77 when the machine cannot get
# the toolchain or OpenSSL's sources. See docs/windows.md.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# The libraries built for Windows outlive the clone and its build trees:
# OMBRIX_WINDOWS_DEPS, else the user's cache.
deps=${OMBRIX_WINDOWS_DEPS:-${XDG_CACHE_HOME:-$HOME/.cache}/ombrix/windows-deps}
export OMBRIX_WINDOWS_DEPS=$deps
build=$root/build/windows
jobs=${OMBRIX_JOBS:-2}
mingw=x86_64-w64-mingw32

step() { echo; echo "=== windows: $*"; }

step "toolchain and Wine"
"$root/scripts/setup.sh" --windows ||
    { echo "windows: could not install the mingw-w64 toolchain and Wine" >&2; exit 77; }

# OpenSSL 3 from Debian's source package (apt-get source with lists of its own,
# so that the machine's apt configuration stays as it is), static, default
# provider only: what qvcrypto, the virtual card and the tests use.
build_openssl() {
    local src=$deps/src
    mkdir -p "$src/lists/partial" "$src/cache/archives/partial"
    # Source lines mirroring the machine's own binary archives (one-line and
    # deb822 formats), so that no archive is named here.
    {
        # A machine may have no one-line list at all (deb822 only): grep then
        # fails, which must not end the script.
        { grep -hE '^deb ' /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null || true; } |
            sed 's/^deb /deb-src /'
        for f in /etc/apt/sources.list.d/*.sources; do
            [[ -f $f ]] || continue
            awk '/^URIs:/ {u = $2} /^Suites:/ {n = split(substr($0, 8), s, " ")}
                 /^Components:/ {c = substr($0, 12)}
                 /^$/ {for (i = 1; i <= n; i++) if (u != "") print "deb-src", u, s[i], c; u = ""; n = 0}
                 END {for (i = 1; i <= n; i++) if (u != "") print "deb-src", u, s[i], c}' "$f"
        done
    } > "$src/sources.list"
    local apt=(-o Dir::Etc::SourceList="$src/sources.list" -o Dir::Etc::SourceParts=-
               -o Dir::State::Lists="$src/lists" -o Dir::Cache="$src/cache" -o APT::Sandbox::User=root)
    (cd "$src" && apt-get "${apt[@]}" -qq update &&
        apt-get "${apt[@]}" source --download-only openssl) >"$src/fetch.log" 2>&1 || true
    local tarball
    tarball=$(ls "$src"/openssl_3.*.orig.tar.gz 2>/dev/null | sort -V | tail -n 1)
    # No sources to be had (no deb-src reachable from here): the machine
    # cannot build the Windows side, which is not a fault of the tree.
    [[ -n "$tarball" ]] || {
        echo "windows: could not fetch the OpenSSL sources (log: $src/fetch.log)" >&2
        tail -n 5 "$src/fetch.log" >&2
        exit 77
    }
    rm -rf "$src/tree" && mkdir -p "$src/tree"
    tar -xzf "$tarball" -C "$src/tree" --strip-components=1
    (cd "$src/tree" &&
        ./Configure mingw64 --cross-compile-prefix=$mingw- --prefix="$deps" --libdir=lib \
            no-shared no-module no-asm no-tests no-engine no-dso no-async no-comp \
            no-ui-console no-legacy > "$src/configure.log" &&
        make -j "$jobs" build_libs > "$src/build.log" 2>&1 &&
        make install_dev > "$src/install.log")
    rm -rf "$src/tree"
}

# Header-only libraries of the build machine, with their CMake packages,
# staged apart so that none of its other headers reach the cross build.
stage_headers() {
    mkdir -p "$deps/include" "$deps/share/cmake"
    for dir in CLI nlohmann; do cp -r "/usr/include/$dir" "$deps/include/"; done
    for pkg in CLI11 nlohmann_json; do cp -r "/usr/share/cmake/$pkg" "$deps/share/cmake/"; done
}

step "libraries for Windows in $deps"
[[ -f "$deps/lib/libcrypto.a" ]] || build_openssl
[[ -d "$deps/share/cmake/CLI11" && -d "$deps/share/cmake/nlohmann_json" ]] || stage_headers

# The tests' Wine: a prefix of the build tree's own (registry entries of the
# tests stay out of the user's), one wineserver kept for the whole run.
export WINEPREFIX=$build/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine=/usr/lib/wine/wine64 wineserver=/usr/lib/wine/wineserver
[[ -x $wine ]] || { wine=$(command -v wine64 || command -v wine); wineserver=$(command -v wineserver); }
step "Wine prefix $WINEPREFIX"
mkdir -p "$build"
[[ -f "$WINEPREFIX/system.reg" ]] || "$wine" wineboot --init

step "configure and build (warnings as errors)"
cmake --preset windows -S "$root" > "$build/configure.log" || { cat "$build/configure.log"; exit 1; }
cmake --build "$build" -j "$jobs"

step "tests under Wine"
# One wineserver for the whole run, and Wine's helper processes (services,
# devices) started now with nothing of ours as their output: started by the
# first test, they would inherit the pipe ctest reads the test list from and
# hold it open, and the listing would time out.
"$wineserver" -p 2>/dev/null || true # a server of this prefix may run already
trap '"$wineserver" -k 2>/dev/null || true' EXIT
"$wine" wineboot </dev/null >/dev/null 2>&1 || true
# A case that fails is run once more: Wine's own client now and then loses
# its wineserver connection ("wine client error:0: recvmsg: Connection reset
# by peer") while another case starts; a real failure fails twice.
ctest --test-dir "$build" --output-on-failure -j "$jobs" --timeout 300 --repeat until-pass:2
"$wine" "$build/bin/ombrix.exe" --version
