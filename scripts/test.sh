#!/usr/bin/env bash
# Every test: installs what is missing, builds with warnings as errors and runs
# ctest, then again in the ASan+UBSan build (unit tests) and the TSan build
# (the threaded tests), then the Windows build under Wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${OMBRIX_BUILD_DIR:-$root/build}
jobs=${OMBRIX_JOBS:-$(nproc)}
# Extra configure arguments for every build (development: e.g. skipping areas).
read -r -a extra <<<"${OMBRIX_CMAKE_ARGS:-}"

"$root/scripts/setup.sh"

step() { echo; echo "=== $*"; }

step "build (warnings as errors)"
cmake -S "$root" -B "$build/normal" -DOMBRIX_WERROR=ON "${extra[@]}"
cmake --build "$build/normal" -j "$jobs"
step "tests"
ctest --test-dir "$build/normal" --output-on-failure -j "$jobs"

step "build with ASan+UBSan"
cmake -S "$root" -B "$build/asan" -DCMAKE_BUILD_TYPE=Debug -DOMBRIX_SANITIZE=address -DOMBRIX_E2E=OFF "${extra[@]}"
cmake --build "$build/asan" -j "$jobs"
step "tests under ASan+UBSan"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir "$build/asan" --output-on-failure -j "$jobs"

step "build with TSan (the threaded tests)"
cmake -S "$root" -B "$build/tsan" -DCMAKE_BUILD_TYPE=Debug -DOMBRIX_SANITIZE=thread -DOMBRIX_E2E=OFF "${extra[@]}"
# Only the executables whose tests carry the label "threads".
cmake --build "$build/tsan" -j "$jobs" --target ombrix_threaded_tests
step "threaded tests under TSan"
TSAN_OPTIONS=halt_on_error=1 ctest --test-dir "$build/tsan" --output-on-failure -j "$jobs" -L threads

# Every fuzz corpus is replayed above, in both builds. The libFuzzer campaign
# itself (a clang build of the library) runs with OMBRIX_FUZZ_SECONDS=N.
if [[ -n "${OMBRIX_FUZZ_SECONDS:-}" ]]; then
    step "fuzz targets, $OMBRIX_FUZZ_SECONDS s each (clang, libFuzzer, ASan+UBSan)"
    BUILD_DIR="$build/fuzz" JOBS="$jobs" sh "$root/fuzz/run.sh" "$OMBRIX_FUZZ_SECONDS"
fi

# The Windows side: cross-built with mingw-w64, the in-process tests under
# Wine (OMBRIX_WINDOWS=0 leaves it out). A machine that cannot get the
# toolchain or OpenSSL's sources says so and goes on.
if [[ "${OMBRIX_WINDOWS:-1}" == 1 ]]; then
    step "Windows: cross-build with mingw-w64, in-process tests under Wine"
    rc=0
    OMBRIX_BUILD_DIR="$build" bash "$root/scripts/windows.sh" || rc=$?
    if [[ $rc == 77 ]]; then
        echo "Windows side not built: this machine cannot get its toolchain or OpenSSL's sources"
    elif [[ $rc != 0 ]]; then
        exit "$rc"
    fi
fi

step "all tests passed"
