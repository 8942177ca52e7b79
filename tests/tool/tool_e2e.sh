#!/usr/bin/env bash
# The ombrix program end to end, inside the e2e fixture of tests/e2e: a
# private pcscd, ombrix-sim's R2 demo card (serial 1) in "Virtual PCD 00 00",
# "Virtual PCD 00 01" empty (the r1 case puts an R1 demo card there and takes
# it out again). One case per run: tool_e2e.sh CASE.
# Needs OMBRIX_TOOL (the program); python3 reads the JSON back.
set -u -o pipefail

: "${OMBRIX_TOOL:?OMBRIX_TOOL is not set}"
READER0="Virtual PCD 00 00"
READER1="Virtual PCD 00 01"
OUT=$(mktemp) ERR=$(mktemp)
trap 'rm -f "$OUT" "$ERR"' EXIT

fail() {
    echo "FAIL: $*" >&2
    echo "--- stdout" >&2; cat "$OUT" >&2
    echo "--- stderr" >&2; cat "$ERR" >&2
    exit 1
}

# Runs ombrix ARGS, expecting exit status WANT.
run() {
    local want=$1; shift
    "$OMBRIX_TOOL" "$@" >"$OUT" 2>"$ERR"
    local got=$?
    [[ $got == "$want" ]] || fail "ombrix $* exited $got, expected $want"
}

# A Python expression over the JSON on stdout (as j) must hold.
json_holds() {
    python3 -c 'import json,sys; j=json.load(open(sys.argv[1])); sys.exit(0 if eval(sys.argv[2]) else 1)' \
        "$OUT" "$1" || fail "JSON does not satisfy: $1"
}

err_has() { grep -qF -- "$1" "$ERR" || fail "standard error lacks: $1"; }
out_has() { grep -qF -- "$1" "$OUT" || fail "standard output lacks: $1"; }

unset OMBRIX_READER OMBRIX_TRACE_SECRETS

case ${1:-} in
readers)
    run 0 readers
    out_has "0: $READER0"
    out_has "1: $READER1"
    run 0 readers --json
    json_holds "[r['name'] for r in j['readers']] == ['$READER0', '$READER1']"
    json_holds "j['readers'][0]['card'] and j['readers'][0]['atr'].startswith('3B')"
    json_holds "not j['readers'][1]['card'] and j['readers'][1]['atr'] is None"
    ;;
info)
    run 0 info --json
    json_holds "j['reader'] == '$READER0' and j['model'] == 'R2' and j['model_id'] == 'C802'"
    json_holds "j['life_cycle'] == '10' and j['uid'] == '000000000001' and j['memory_kb'] is None"
    run 0 info -r 0
    out_has "model:"
    out_has "R2 (C8 02)"
    ;;
atr_json)
    run 0 atr --json
    json_holds "j['reader'] == '$READER0' and len(j['atr']) >= 4"
    run 0 --hex packed atr -r "=$READER0"
    ;;
exit_no_service)
    # The client library looks for pcscd where this points: nobody is there.
    PCSCLITE_CSOCK_NAME=/nonexistent/pcscd.comm run 3 readers
    err_has "SCARD_E_NO_SERVICE"
    err_has "is pcscd running?"
    ;;
exit_no_card)
    run 4 atr -r 1
    err_has "connecting to $READER1: no card in the reader (SCARD_E_NO_SMARTCARD)"
    run 4 info -r "pcd 00 01"
    ;;
exit_no_match)
    run 3 atr -r nosuchreader
    err_has "matches no reader"
    run 2 atr -r virtual
    err_has "  1  $READER1  (empty)"
    run 2 apdu -r 0 "00 A4 0"
    err_has "at column 7"
    ;;
exit_refused)
    # EF 5004 of the demo card needs security reference 01 to be read. The
    # card stays in its reader between cases: the reset first takes back a
    # PIN another case verified.
    refused=$(mktemp)
    printf 'reset\n00 A4 08 00 04 50 00 50 04\n00 B0 00 00 10\n' >"$refused"
    run 5 apdu -r 0 --script "$refused"
    rm -f "$refused"
    err_has "security status not satisfied (6982)"
    run 5 apdu -r 0 "00 CA 01 99"
    ;;
script)
    script=$(mktemp)
    cat >"$script" <<'APDUS'
# select the application DF by path and read its greeting
00 A4 08 00 02 50 00 =9000
reset
00 CA 01 \
   82 02 =9000
00 A4 08 00 04 50 00 50 01 =9000
00 B0 00 00 04 =9000
APDUS
    run 0 apdu -r 0 --script "$script" --json
    rm -f "$script"
    json_holds "j['completed'] and len(j['exchanges']) == 5 and j['exchanges'][1]['reset']"
    json_holds "j['exchanges'][2]['response'] == 'C802' and j['exchanges'][2]['line'] == 4"
    ;;
trace)
    run 0 --trace apdu -r 0 "00 CA 01 82 02"
    err_has "[$READER0 ch0] > 00 CA 01 82 02  (5 bytes)"
    err_has "[$READER0 ch0] < C8 02 90 00  (4 bytes, "
    err_has "[trace] 1 exchanges, 5 bytes sent, 4 received"
    # The demo card's PIN 01 is 1234: accepted (0), or refused (6) by a
    # card with another PIN; either way the PIN must not show.
    "$OMBRIX_TOOL" --trace apdu -r 0 "00 20 00 81 04 31 32 33 34" >"$OUT" 2>"$ERR"
    status=$?
    [[ $status == 0 || $status == 6 ]] || fail "VERIFY exited $status"
    err_has "> 00 20 00 81 04 ** ** ** **"
    if grep -qF "31 32 33 34" "$ERR"; then fail "the PIN shows in the trace"; fi
    ;;
files)
    run 0 select -r 0 3F00/5000/5001
    out_has "selected 3F00/5000/5001"
    run 0 read -r 0 -f 5000/5001 --file-length-prefixed --raw
    out_has "Hello from the Ombrix R2 demo card"
    run 0 read -r 0 -f 5000/5006 --json
    json_holds "j['length'] == 600 and j['data'][:8] == '00010203' and j['file'] == '3F00/5000/5006'"
    run 0 read-record -r 0 -f 5000/5002 -n 2 --json
    json_holds "bytes.fromhex(j['data']) == b'Bob'"
    run 5 select -r 0 5999
    err_has "file or application not found (6A82)"
    ;;
files_sm)
    # EF 5007 is read only by protected commands.
    "$OMBRIX_TOOL" read -r 0 -f 5000/5007 --length 19 >"$OUT" 2>"$ERR" && fail "a plain read of 5007 passed"
    run 0 --trace read -r 0 -f 5000/5007 --length 19 --sm --raw
    out_has "Protected reading"
    err_has "ch0] > 0C B0 00 00"
    ;;
pin)
    # A wrong PIN first (the right one afterwards resets the counter).
    echo 9999 | "$OMBRIX_TOOL" --trace verify-pin -r 0 --pin-stdin --json >"$OUT" 2>"$ERR"
    status=$?
    [[ $status == 6 ]] || fail "a wrong PIN exited $status"
    err_has "verification failed: 2 tries left (63C2)"
    json_holds "j['ok'] is False and j['tries_left'] == 2"
    echo 1234 | "$OMBRIX_TOOL" --trace verify-pin -r 0 --pin-stdin >"$OUT" 2>"$ERR" || fail "the demo PIN was refused"
    err_has "> 00 20 00 81 04 ** ** ** **"
    if grep -qF -e "31 32 33 34" -e 1234 "$OUT" "$ERR"; then fail "the PIN shows"; fi
    ;;
monitor)
    ctl=${OMBRIX_E2E_CTL:?OMBRIX_E2E_CTL is not set}
    events=$(mktemp)
    "$OMBRIX_TOOL" monitor -r 0 --count 2 --timeout 30 --json >"$events" 2>"$ERR" &
    monitor=$!
    for _ in $(seq 100); do grep -q present "$events" && break; sleep 0.1; done
    grep -q present "$events" || { kill "$monitor"; fail "the monitor did not report the card"; }
    "$ctl" sim-remove main || { kill "$monitor"; fail "sim-remove"; }
    "$ctl" sim-insert main || { kill "$monitor"; fail "sim-insert"; }
    wait "$monitor"
    status=$?
    cp "$events" "$OUT"
    rm -f "$events"
    [[ $status == 0 ]] || fail "monitor exited $status"
    python3 -c 'import json,sys; e=[json.loads(l)["event"] for l in open(sys.argv[1])]; sys.exit(0 if e == ["present", "removed", "inserted"] else 1)' \
        "$OUT" || fail "the events are not present, removed, inserted"
    # SIGINT stops it with exit 0.
    "$OMBRIX_TOOL" monitor -r 0 >"$OUT" 2>"$ERR" &
    monitor=$!
    sleep 0.5
    kill -INT "$monitor"
    wait "$monitor"
    status=$?
    [[ $status == 0 ]] || fail "monitor exited $status after SIGINT"
    out_has "present"
    ;;
r1)
    # A first-generation demo card in reader 1 for this case only.
    ctl=${OMBRIX_E2E_CTL:?OMBRIX_E2E_CTL is not set}
    "$ctl" sim-start r1 1 --model R1 --image demo >/dev/null || fail "no R1 card in reader 1"
    trap '"$ctl" sim-stop r1 >/dev/null 2>&1; rm -f "$OUT" "$ERR"' EXIT
    run 0 info -r 1 --json
    json_holds "j['model'] == 'R1'"
    run 0 create-file -r 1 -f 5000 5010 --size 300
    out_has "created 5010"
    run 0 write -r 1 -f 5000/5010 --length-prefixed 48656C6C6F2C205231
    run 0 read -r 1 -f 5000/5010 --file-length-prefixed --raw
    out_has "Hello, R1"
    run 2 read -r 1 --sm
    err_has "has no secure messaging"
    for left in "2 tries left (63C2)" "1 try left (63C1)" "(63C0)"; do
        echo 0000 | "$OMBRIX_TOOL" verify-pin -r 1 --pin-stdin >"$OUT" 2>"$ERR"
        status=$?
        [[ $status == 6 ]] || fail "a wrong PIN exited $status"
        err_has "$left"
    done
    echo 1234 | "$OMBRIX_TOOL" verify-pin -r 1 --pin-stdin >"$OUT" 2>"$ERR"
    status=$?
    [[ $status == 6 ]] || fail "the blocked PIN exited $status"
    err_has "(6983)"
    ;;
*)
    echo "usage: tool_e2e.sh readers|info|atr_json|exit_no_service|exit_no_card|exit_no_match|exit_refused|script|trace|files|files_sm|pin|monitor|r1" >&2
    exit 2
    ;;
esac
echo "ok: $1"
