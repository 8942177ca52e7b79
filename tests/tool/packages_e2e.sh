#!/usr/bin/env bash
# ombrix install and apdu --channel end to end, inside the e2e fixture of
# tests/e2e: a fresh R2 demo card in "Virtual PCD 00 01" for this run (the
# card of reader 0 is left as the other cases expect it), prepared for the
# installation scripts, the channel package installed, then two processes
# at once, each reading a different demo file on its own channel.
# Needs OMBRIX_TOOL and OMBRIX_E2E_CTL; python3 reads the JSON back.
set -u -o pipefail

: "${OMBRIX_TOOL:?OMBRIX_TOOL is not set}"
ctl=${OMBRIX_E2E_CTL:?OMBRIX_E2E_CTL is not set}
OUT=$(mktemp) ERR=$(mktemp) WORK=$(mktemp -d)
cleanup() { "$ctl" sim-stop pkg >/dev/null 2>&1; rm -rf "$OUT" "$ERR" "$WORK"; }
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    echo "--- stdout" >&2; cat "$OUT" >&2
    echo "--- stderr" >&2; cat "$ERR" >&2
    exit 1
}
run() {
    local want=$1; shift
    "$OMBRIX_TOOL" "$@" >"$OUT" 2>"$ERR"
    local got=$?
    [[ $got == "$want" ]] || fail "ombrix $* exited $got, expected $want"
}
out_has() { grep -qF -- "$1" "$OUT" || fail "standard output lacks: $1"; }
err_has() { grep -qF -- "$1" "$ERR" || fail "standard error lacks: $1"; }

unset OMBRIX_READER OMBRIX_TRACE_SECRETS
"$ctl" sim-start pkg 1 --model R2 --image demo >/dev/null || fail "no R2 card in reader 1"

# Ready for the scripts: the demo package files gone, administration phase.
run 0 packages -r 1
[[ $(cat "$OUT") == $'47 4B\n4D 43' ]] || fail "the demo card does not list both packages"
run 0 delete-file -r 1 -f 3F00 CF07
run 0 delete-file -r 1 -f 3F00 CF08
run 0 lifecycle -r 1 --switch
out_has "-> 20"
run 5 apdu -r 1 --channel auto "00 B0 00 00 01"
err_has "(6A81)"
run 0 install -r 1 channels
out_has "installed the channel package 4D 43 in file CF08"
run 0 packages -r 1 --json
python3 -c 'import json,sys; sys.exit(0 if json.load(open(sys.argv[1]))["packages"] == ["4D43"] else 1)' "$OUT" ||
    fail "the package list is not [4D43]"
run 5 install -r 1 channels
err_has "step 2 of 7, CREATE FILE CF08"

# Two processes at once, each on its own channel with its own current file,
# reading it over and over so that their commands interleave at the card.
script() { # SELECT command, READ length
    echo "$1 =9000"
    for _ in $(seq 100); do echo "00 B0 00 00 $2 =9000"; done
}
script "00 A4 00 00 02 00 01" 15 >"$WORK/mf.apdu"          # EF 0001: "Ombrix virtual card"
script "00 A4 08 00 04 50 00 50 01" 24 >"$WORK/df.apdu"    # EF 5000/5001: the greeting
"$OMBRIX_TOOL" --trace apdu -r 1 --channel 1 --json --script "$WORK/mf.apdu" >"$WORK/1.json" 2>"$WORK/1.err" &
first=$!
"$OMBRIX_TOOL" --trace apdu -r 1 --channel 2 --json --script "$WORK/df.apdu" >"$WORK/2.json" 2>"$WORK/2.err" &
second=$!
wait "$first"; one=$?
wait "$second"; two=$?
cat "$WORK/1.json" "$WORK/2.json" >"$OUT"; cat "$WORK/1.err" "$WORK/2.err" >"$ERR"
[[ $one == 0 && $two == 0 ]] || fail "the channel processes exited $one and $two"
python3 - "$WORK/1.json" "$WORK/2.json" <<'PY' || fail "a process read another's file"
import json, sys
want = {1: b"\x00\x13Ombrix virtual card", 2: b"\x00\x22Hello from the Ombrix R2 demo card"}
for path in sys.argv[1:]:
    j = json.load(open(path))
    reads = [e for e in j["exchanges"] if e["command"][2:4] == "B0"]
    assert j["completed"] and j["exit_status"] == 0 and len(reads) == 100, path
    assert all(bytes.fromhex(e["response"]) == want[j["channel"]] for e in reads), path
    assert all(e["command"][:2] == "%02X" % j["channel"] for e in j["exchanges"]), path
PY
grep -qF "ch1] > 01 B0 00 00 15" "$WORK/1.err" || fail "the trace of channel 1 lacks its reads"
grep -qF "ch2] > 02 B0 00 00 24" "$WORK/2.err" || fail "the trace of channel 2 lacks its reads"
grep -qF "ch1] > 01 70 80 01" "$WORK/1.err" || fail "channel 1 was not closed"
grep -qF "ch2] > 02 70 80 02" "$WORK/2.err" || fail "channel 2 was not closed"
echo "ok: packages"
