#!/usr/bin/env bash
# The main job: installs what is missing, builds, starts a private pcscd with
# the virtual reader and virtual Ombrix cards, walks through the ombrix tool
# against them, and stops what it started.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${OMBRIX_BUILD_DIR:-$root/build}/normal
jobs=${OMBRIX_JOBS:-$(nproc)}

"$root/scripts/setup.sh"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOMBRIX_E2E=ON >/dev/null
cmake --build "$build" -j "$jobs" --target ombrix_tool ombrix-sim ombrix-e2e-probe >/dev/null

ctl=$build/tests/e2e/e2e-ctl
ombrix=$build/tools/ombrix/ombrix
trap '"$ctl" cleanup >/dev/null 2>&1 || true' EXIT

# Shows a command as a person would type it, then runs it.
step() {
    echo
    echo "\$ ombrix $*"
    "$ombrix" "$@" || echo "(exit status $?)"
}
say() { echo; echo "## $*"; }

say "A private pcscd with two virtual readers; a demo R2 card in the first"
"$ctl" setup

say "What is there"
step readers
step info -r 0

say "Select the demo directory 5000 and read its length-prefixed file 5001"
step select -r 0 5000/5001
step read -r 0 --file-length-prefixed --raw 5000/5001
echo

say "The same file through secure messaging: GET DATA, GET CHALLENGE, then the protected command"
step read -r 0 --sm --file-length-prefixed --raw 5000/5001
echo

say "File 5004 needs PIN 1: refused, then allowed after VERIFY"
step read -r 0 --length 16 5000/5004
OMBRIX_PIN=1234 step verify-pin -r 0 --pin env:OMBRIX_PIN --ref 1 --then-read 5000/5004 2>/dev/null ||
    true

say "The same exchange as raw APDUs, with the readable trace"
step --trace apdu -r 0 "00 A4 00 00 02 50 00" "00 A4 02 00 02 50 01" "00 B0 00 00 10"

say "A first-generation card in the second reader"
"$ctl" sim-start r1 1 --model R1
step info -r 1
step create-file -r 1 --size 64 3F10
step write -r 1 --length-prefixed 3F10 "48 65 6C 6C 6F 2C 20 52 31"
step read -r 1 --file-length-prefixed --raw 3F10
echo
"$ctl" sim-stop r1

say "The monitor sees the demo card leave and come back"
( sleep 1; "$ctl" sim-remove main; "$ctl" sim-insert main ) &
step monitor -r 0 --count 3 --timeout 20
wait

echo
echo "walk-through done"
