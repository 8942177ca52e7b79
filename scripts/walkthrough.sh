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
step --trace read -r 0 -f 5000/5001 --raw --sm
echo

say "File 5007 accepts only protected commands: refused in plain, written and read back through secure messaging"
step read -r 0 -f 5000/5007 --length 8
step write -r 0 -f 5000/5007 --sm "50 72 6F 74 65 63 74 65 64 21"
step read -r 0 -f 5000/5007 --length 10 --raw --sm
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

say "Logical channels: the demo card's channel package, two files read on two channels"
step apdu -r 0 --channel auto "00 A4 00 00 02 50 00" "00 A4 02 00 02 50 01" "00 B0 00 00 10"
step apdu -r 0 --channel 2 "00 A4 00 00 02 00 01" "00 B0 00 00 10"

say "Personalization: a blank R2 card in the second reader gets its file system, PINs and keys from a profile"
work=$build/walkthrough
rm -rf "$work" && mkdir -p "$work"
"$ctl" sim-start blank 1 --model R2 --image blank
step info -r 1
step personalize "$root/examples/profiles/r2-demo.json" --check
step personalize -r 1 "$root/examples/profiles/r2-demo.json" --output-dir "$work"
step info -r 1
step verify-pin -r 1 --ref 1 --pin env:OMBRIX_DEMO_PIN

say "The card signs a SHA-1 hash with the key it generated; OpenSSL checks the signature with the exported public key"
printf 'the walk-through signs this' > "$work/message.txt"
openssl dgst -sha1 -binary "$work/message.txt" > "$work/hash.bin"
step sign -r 1 --key 5 --sha1-digest-info -i "$work/hash.bin" --raw -o "$work/signature.bin"
openssl pkeyutl -verify -pubin -inkey "$(ls "$work"/r2-demo-key05-*.pem)" -sigfile "$work/signature.bin" \
    -in "$work/hash.bin" -pkeyopt digest:sha1 && echo "OpenSSL: the card's signature verifies"

say "The channel package installed on the freshly personalized card"
step packages -r 1
step lifecycle -r 1 --switch
step install -r 1 channels
step packages -r 1
"$ctl" sim-stop blank

say "The R22 revision: a blank R22 card personalized from its own profile (a dry run first)"
"$ctl" sim-start r22 1 --model R22 --image blank
step personalize "$root/examples/profiles/r22-demo.json" --dry-run >"$work/r22-dry-run.txt" &&
    echo "(dry run: $(grep -c . "$work/r22-dry-run.txt") lines in $work/r22-dry-run.txt)"
step personalize -r 1 "$root/examples/profiles/r22-demo.json" --output-dir "$work"
step info -r 1
"$ctl" sim-stop r22

say "The monitor sees the demo card leave and come back"
( sleep 1; "$ctl" sim-remove main; "$ctl" sim-insert main ) &
step monitor -r 0 --count 2 --timeout 20
wait

echo
echo "walk-through done"
