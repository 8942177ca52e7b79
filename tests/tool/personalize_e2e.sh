#!/usr/bin/env bash
# `ombrix personalize` end to end, inside the e2e fixture of tests/e2e: the
# fixture's demo card ("main", reader 0) is stood aside for blank ombrix-sim
# cards, personalized through pcscd, then used with the operational commands;
# the demo card goes back in afterwards, whatever happened.
# One case per run: personalize_e2e.sh CASE. Needs OMBRIX_TOOL, OMBRIX_E2E_CTL
# and OMBRIX_SOURCE_DIR; python3 reads the JSON back.
set -u -o pipefail

: "${OMBRIX_TOOL:?OMBRIX_TOOL is not set}"
: "${OMBRIX_E2E_CTL:?OMBRIX_E2E_CTL is not set}"
: "${OMBRIX_SOURCE_DIR:?OMBRIX_SOURCE_DIR is not set}"
READER0="Virtual PCD 00 00"
READER1="Virtual PCD 00 01"
WORK=$(mktemp -d)
OUT=$WORK/out ERR=$WORK/err
PROFILE=$OMBRIX_SOURCE_DIR/examples/profiles/r2-demo.json

restore() {
    "$OMBRIX_E2E_CTL" sim-stop blank0 >/dev/null 2>&1
    "$OMBRIX_E2E_CTL" sim-stop blank1 >/dev/null 2>&1
    "$OMBRIX_E2E_CTL" sim-start main 0 --model R2 --image demo >/dev/null 2>&1 ||
        echo "could not put the demo card back into $READER0" >&2
    rm -rf "$WORK"
}
trap restore EXIT

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

blank_cards() {
    "$OMBRIX_E2E_CTL" sim-stop main || fail "cannot take the demo card out"
    "$OMBRIX_E2E_CTL" sim-start blank0 0 --model R2 --image blank --serial 1 || fail "no blank card in $READER0"
    if [[ ${1:-} == two ]]; then
        "$OMBRIX_E2E_CTL" sim-start blank1 1 --model R2 --image blank --serial 2 || fail "no blank card in $READER1"
    fi
}

unset OMBRIX_READER OMBRIX_TRACE_SECRETS
export OMBRIX_DEMO_PIN=2468 WRONG_PIN=1357

case ${1:-} in
r2_demo)
    blank_cards
    run 0 personalize -r 0 --output-dir "$WORK" "$PROFILE"
    out_has "step 1/"
    out_has "personalized the R2 card in $READER0 (UID 000000000001)"
    puk=$WORK/r2-demo-puk-000000000001.txt
    [[ $(stat -c %a "$puk") == 600 ]] || fail "the generated PIN's file is not 0600"
    grep -qF "$OMBRIX_DEMO_PIN" "$OUT" "$ERR" && fail "a PIN reached the output"
    # The operational commands use the new card.
    run 0 verify-pin -r 0 --ref 1 --pin env:OMBRIX_DEMO_PIN
    PUK=$(head -n 1 "$puk") run 0 verify-pin -r 0 --ref 2 --pin env:PUK
    run 0 read -r 0 -f 5000/5001 --file-length-prefixed --json
    python3 -c 'import json,sys; d=json.load(open(sys.argv[1]))["data"]; sys.exit(bytes.fromhex(d) != b"Hello from the personalized card")' "$OUT" ||
        fail "5001 does not hold the profile's greeting"
    run 0 lifecycle -r 0 --json
    out_has '"life_cycle": "10"'
    grep -q "BEGIN PUBLIC KEY" "$WORK/r2-demo-key05-000000000001.pem" || fail "no exported public key"
    ;;
all_readers)
    blank_cards two
    run 0 personalize --all-readers --report "$WORK/report.jsonl" --output-dir "$WORK" "$PROFILE"
    out_has "personalized 2 of 2 cards (0 failed"
    python3 - "$WORK/report.jsonl" "$READER0" "$READER1" <<'PY' || fail "the report does not say both cards were made"
import json, sys
lines = [json.loads(l) for l in open(sys.argv[1])]
by = {l["reader"]: l for l in lines}
ok = (len(lines) == 2 and by[sys.argv[2]]["uid"] == "000000000001" and by[sys.argv[3]]["uid"] == "000000000002"
      and all(l["result"] == "personalized" and l["exit_status"] == 0 and l["elapsed_s"] > 0 for l in lines))
sys.exit(0 if ok else 1)
PY
    run 0 verify-pin -r 1 --ref 1 --pin env:OMBRIX_DEMO_PIN
    ;;
r22_demo)
    # The shipped R22 profile on a blank R22 card, then a protected read of
    # the PIN-guarded file and a signature OpenSSL checks with the exported key.
    "$OMBRIX_E2E_CTL" sim-stop main || fail "cannot take the demo card out"
    "$OMBRIX_E2E_CTL" sim-start blank0 0 --model R22 --image blank --serial 3 || fail "no blank R22 card in $READER0"
    run 0 personalize -r 0 --output-dir "$WORK" "$OMBRIX_SOURCE_DIR/examples/profiles/r22-demo.json"
    out_has "personalized the R22 card in $READER0 (UID 000000000003)"
    run 0 info -r 0 --json
    out_has '"model": "R22"'
    run 6 verify-pin -r 0 --ref 1 --pin env:WRONG_PIN
    run 0 verify-pin -r 0 --ref 1 --pin env:OMBRIX_DEMO_PIN
    run 0 read -r 0 -f 5000/5004 --sm --json
    out_has '"data": "0102030405060708090A0B0C0D0E0F10"'
    printf 'signed on an R22 card' >"$WORK/message.txt"
    openssl dgst -sha1 -binary "$WORK/message.txt" >"$WORK/hash.bin"
    run 0 sign -r 0 --key 5 --sha1-digest-info -i "$WORK/hash.bin" -o "$WORK/signature.bin"
    openssl pkeyutl -verify -pubin -keyform DER -inkey "$WORK/r22-demo-key05-000000000003.der" \
        -sigfile "$WORK/signature.bin" -in "$WORK/hash.bin" -pkeyopt digest:sha1 >"$OUT" 2>"$ERR" ||
        fail "OpenSSL does not verify the R22 card's signature"
    ;;
*)
    echo "usage: personalize_e2e.sh r2_demo|all_readers|r22_demo" >&2
    exit 2
    ;;
esac
echo "ok: $1"
