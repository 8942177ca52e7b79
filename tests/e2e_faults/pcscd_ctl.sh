#!/usr/bin/env bash
# Kills the e2e fixture's pcscd outright (SIGKILL) and starts it again with
# the same readers, keeping the fixture's pid file current so that its
# cleanup stops whatever runs at the end. Environment (set by CMake):
#   OMBRIX_E2E_CTL     the fixture's e2e-ctl
#   OMBRIX_PCSCD       the pcscd program
#   OMBRIX_E2E_PROBE   the probe that waits for readers and cards
# Subcommands: kill | start | e2e ARGS (the fixture's e2e-ctl ARGS)
#   soak N TEST   the kill cycles N times (100, say) outside ctest: sets up
#                 the fixture, runs TEST (ombrix_e2e_faults_test), cleans up
set -u -o pipefail
die() { echo "pcscd_ctl: $*" >&2; exit 1; }
STATE=$("$OMBRIX_E2E_CTL" state-dir) || die "no e2e state"
WAIT_MS=${OMBRIX_E2E_WAIT_MS:-8000}
PIDFILE=$STATE/pcscd.pid

gone() {
    local stat
    stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 0
    stat=${stat##*) }
    [[ ${stat%% *} == Z ]]
}

case ${1:-} in
e2e)
    shift
    exec "$OMBRIX_E2E_CTL" "$@"
    ;;
soak)
    cycles=${2:?soak N TEST} test=${3:?soak N TEST}
    trap '"$OMBRIX_E2E_CTL" cleanup' EXIT
    "$OMBRIX_E2E_CTL" setup || die "the fixture did not come up"
    OMBRIX_E2E_FAULTS_CTL=${OMBRIX_E2E_FAULTS_CTL:-$0} OMBRIX_E2E_KILL_CYCLES=$cycles \
        "$test" --gtest_filter='*KillingPcscd*'
    ;;
kill)
    [[ -f $PIDFILE ]] || die "no pcscd pid file"
    pid=$(<"$PIDFILE")
    kill -KILL "$pid" 2>/dev/null || die "pcscd $pid is not running"
    for ((i = 0; i < 250; i++)); do
        gone "$pid" && exit 0
        sleep 0.02
    done
    die "pcscd $pid did not die"
    ;;
start)
    if [[ -f $PIDFILE ]] && ! gone "$(<"$PIDFILE")"; then
        die "pcscd runs already"
    fi
    setsid "$OMBRIX_PCSCD" -f -d -a -c "$STATE/reader.conf.d" \
        </dev/null >>"$STATE/pcscd.log" 2>&1 &
    echo $! >"$PIDFILE"
    "$OMBRIX_E2E_PROBE" --timeout-ms "$WAIT_MS" readers \
        --expect "Virtual PCD 00 00" --expect "Virtual PCD 00 01" >/dev/null ||
        die "pcscd did not come back with its readers"
    # The card "main" reconnects by itself (its backoff is at most 2 s).
    "$OMBRIX_E2E_PROBE" --timeout-ms "$WAIT_MS" wait --reader "Virtual PCD 00 00" \
        --state present >/dev/null || die "the card did not come back"
    ;;
*) die "usage: pcscd_ctl.sh kill|start|e2e ARGS|soak N TEST" ;;
esac
