#!/usr/bin/env bash
# The main job: installs what is missing, builds, starts a private pcscd with
# the virtual reader and virtual Ombrix cards, walks through the ombrix tool
# against them, and stops what it started.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${OMBRIX_BUILD_DIR:-$root/build}/normal
jobs=${OMBRIX_JOBS:-$(nproc)}

"$root/scripts/setup.sh"
cmake -S "$root" -B "$build" -DOMBRIX_E2E=ON >/dev/null
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
step read -r 0 -f 5000/5001 --file-length-prefixed --raw
echo

say "The same file through secure messaging: GET DATA, GET CHALLENGE, then the protected command"
step --trace read -r 0 -f 5000/5001 --file-length-prefixed --raw --sm
echo

say "File 5004 needs PIN 1: refused before VERIFY, read after it (the PIN from the environment, never shown)"
step read -r 0 -f 5000/5004
export OMBRIX_DEMO_PIN=1234
step verify-pin -r 0 --ref 1 --pin env:OMBRIX_DEMO_PIN
step read -r 0 -f 5000/5004

say "A wrong PIN: the card counts the tries"
export OMBRIX_WRONG_PIN=0000
step verify-pin -r 0 --ref 1 --pin env:OMBRIX_WRONG_PIN
step verify-pin -r 0 --ref 1 --pin env:OMBRIX_DEMO_PIN

say "The card signs a hash with its RSA key 5 after PIN 1; the public key is in file 5008"
printf '0123456789abcdef0123' > "$build/walkthrough-hash.bin"
step verify-pin -r 0 --ref 1 --pin env:OMBRIX_DEMO_PIN
step sign -r 0 --key 5 --sha1-digest-info -i "$build/walkthrough-hash.bin"

say "Raw APDUs, with the readable trace"
step --trace apdu -r 0 "00 A4 00 00 02 50 00" "00 A4 02 00 02 50 01" "00 B0 00 00 10"

say "A first-generation card in the second reader"
"$ctl" sim-start r1 1 --model R1 --image demo
step info -r 1
step create-file -r 1 3F10 --size 64
step write -r 1 -f 3F10 --length-prefixed "48 65 6C 6C 6F 2C 20 52 31"
step read -r 1 -f 3F10 --file-length-prefixed --raw
echo
"$ctl" sim-stop r1

say "The monitor sees the demo card leave and come back"
( sleep 1; "$ctl" sim-remove main; "$ctl" sim-insert main ) &
step monitor -r 0 --count 3 --timeout 20
wait

echo
echo "walk-through done"
