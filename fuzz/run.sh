#!/bin/sh
# Builds the libFuzzer targets with clang and runs each for a fixed time.
#
#   fuzz/run.sh [SECONDS] [TARGET...]
#
# SECONDS: per target (default 20). TARGET: session sm commands readers
# monitor cardmodel (default: all). The build goes to build/fuzz (BUILD_DIR
# to change it); each target grows a working corpus there, seeded from
# fuzz/corpus/<target>, and leaves crash, leak, timeout and out-of-memory
# inputs in build/fuzz/artifacts/<target>/. Prints, per target, the
# executions, executions per second, coverage (cov: edges, ft: features)
# and whether it found anything; the exit status is 1 when any target did.
set -eu

SECONDS_PER_TARGET=${1:-20}
[ $# -gt 0 ] && shift
SOURCE_DIR=$(cd "$(dirname "$0")/.." && pwd)
BUILD_DIR=${BUILD_DIR:-$SOURCE_DIR/build/fuzz}
TARGETS=${*:-session sm commands readers monitor cardmodel}
JOBS=${JOBS:-2}

if [ ! -f "$BUILD_DIR/CMakeCache.txt" ]; then
    CC=clang CXX=clang++ cmake -S "$SOURCE_DIR" -B "$BUILD_DIR" \
        -DOMBRIX_FUZZ=ON -DOMBRIX_E2E=OFF -DOMBRIX_BUILD_TOOLS=OFF \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        "-DOMBRIX_SKIP_REGEX=bench|tools/|tests/[a-z_]+$" >/dev/null
fi
for target in $TARGETS; do
    cmake --build "$BUILD_DIR" --target "${target}_fuzz" -j "$JOBS" >/dev/null
done

status=0
printf '%-10s %12s %9s %7s %8s  %s\n' target executions exec/s cov ft result
for target in $TARGETS; do
    work="$BUILD_DIR/corpus/$target"
    artifacts="$BUILD_DIR/artifacts/$target/"
    log="$BUILD_DIR/$target.log"
    mkdir -p "$work" "$artifacts"
    rc=0
    # With -jobs, libFuzzer writes the job's log (fuzz-0.log) to the current directory.
    mkdir -p "$BUILD_DIR/logs/$target"
    (cd "$BUILD_DIR/logs/$target" &&
        "$BUILD_DIR/fuzz/${target}_fuzz" -max_total_time="$SECONDS_PER_TARGET" -timeout=1 \
            -rss_limit_mb=2048 -close_fd_mask=1 -print_final_stats=1 -jobs=1 -workers=1 \
            -artifact_prefix="$artifacts" "$work" "$SOURCE_DIR/fuzz/corpus/$target") >"$log" 2>&1 || rc=$?
    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
    last=$(grep -E '^#[0-9]+' "$log" | tail -n 1)
    cov=$(echo "$last" | sed -n 's/.*cov: \([0-9]*\).*/\1/p')
    ft=$(echo "$last" | sed -n 's/.*ft: \([0-9]*\).*/\1/p')
    result=ok
    if [ "$rc" -ne 0 ] || [ -n "$(ls -A "$artifacts")" ]; then
        result="FOUND (see $BUILD_DIR/logs/$target/fuzz-0.log and $artifacts)"
        status=1
    fi
    printf '%-10s %12s %9s %7s %8s  %s\n' "$target" "${executions:-?}" "${rate:-?}" "${cov:-?}" "${ft:-?}" "$result"
done
exit $status
