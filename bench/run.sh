#!/usr/bin/env bash
# The benchmark suite in one command (docs/benchmarks.md).
#
#   bench/run.sh [--smoke] [--build-dir DIR] [--no-build] [--wait-s S]
#
# Installs what is missing (scripts/setup.sh), builds what it needs (in DIR,
# default build/bench-release; a new DIR is configured as a
# Release build), starts a private pcscd with eight virtual readers and an
# ombrix-sim card in each through the e2e harness (tests/e2e/e2e_ctl.sh, state
# in DIR/bench/e2e-state), runs every benchmark, prints one table and writes
# it as JSON to DIR/bench/report.json. --smoke runs everything briefly: it
# checks that the suite runs, not how fast. Only one pcscd can run on the
# machine: while another one runs, setup is retried for up to --wait-s
# seconds (default 600, smoke 120). Everything started here is stopped at exit.
#
# Exit status: 0 when every benchmark ran (whether or not its target was met),
# 1 when one failed, 2 for usage.
set -u -o pipefail

SRC=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
SMOKE=0
BUILD=$SRC/build/bench-release
DO_BUILD=1
WAIT_S=""
while (($#)); do
    case $1 in
    --smoke) SMOKE=1 ;;
    --build-dir) BUILD=${2:?--build-dir DIR}; shift ;;
    --no-build) DO_BUILD=0 ;;
    --wait-s) WAIT_S=${2:?--wait-s S}; shift ;;
    *) echo "usage: bench/run.sh [--smoke] [--build-dir DIR] [--no-build] [--wait-s S]" >&2; exit 2 ;;
    esac
    shift
done
[[ -n $WAIT_S ]] || WAIT_S=$((SMOKE ? 120 : 600))
BUILD=$(mkdir -p "$BUILD" && cd "$BUILD" && pwd)
OUT=$BUILD/bench
LOGS=$OUT/logs
IMAGES=$OUT/images
ROWS=$OUT/rows.jsonl
mkdir -p "$LOGS" "$IMAGES"
: >"$ROWS"

log() { echo "bench: $*" >&2; }
die() { log "$*"; exit 1; }

# -- 1. build -------------------------------------------------------------------
NOT_BUILT=()
TARGETS=(ombrix ombrix_tool ombrix-sim ombrix-e2e-probe sm_wrap_bench exchange_bench file_ops_bench
    monitor_bench readers_bench memory_bench minimal_card sim_card_bench)
if ((DO_BUILD)); then
    # What a fresh machine lacks (pcscd, the virtual reader, the libraries).
    "$SRC/scripts/setup.sh" >"$LOGS/setup-packages.log" 2>&1 ||
        { tail -n 20 "$LOGS/setup-packages.log" >&2; die "installing what is missing failed"; }
    if [[ ! -f $BUILD/CMakeCache.txt ]]; then
        # -O2: GCC 12 at -O3 reports a false stringop-overread in tools/ombrix-sim.
        cmake -S "$SRC" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
            -DOMBRIX_E2E=ON >"$LOGS/configure.log" 2>&1 || { tail -n 30 "$LOGS/configure.log" >&2; die "configure failed"; }
    fi
    log "building ${TARGETS[*]}"
    : >"$LOGS/build.log"
    # One target at a time, so that a target that does not build (the tree is
    # being edited) leaves out only the benchmarks that need it.
    for t in "${TARGETS[@]}"; do
        cmake --build "$BUILD" -j2 --target "$t" >>"$LOGS/build.log" 2>&1 ||
            { log "target $t does not build (log: $LOGS/build.log)"; NOT_BUILT+=("$t"); }
    done
fi
BUILD_TYPE=$(sed -n 's/^CMAKE_BUILD_TYPE:STRING=//p' "$BUILD/CMakeCache.txt" 2>/dev/null)
B=$BUILD/bench
for t in exchange_bench file_ops_bench monitor_bench readers_bench memory_bench minimal_card sim_card_bench sm_wrap_bench; do
    [[ -x $B/$t ]] || die "$B/$t is not built"
done
OMBRIX_TOOL=$BUILD/tools/ombrix/ombrix
[[ -x $OMBRIX_TOOL ]] || log "$OMBRIX_TOOL is not built: the tool's rows are left out"

# -- 2. the harness: a pcscd of our own with eight readers ----------------------
WRAPPER=$BUILD/tests/e2e/e2e-ctl
[[ -f $WRAPPER ]] || die "no $WRAPPER: configure with -DOMBRIX_E2E=ON (needs pcscd, vsmartcard-vpcd)"
eval "$(grep '^export ' "$WRAPPER")"
export OMBRIX_E2E_STATE=$OUT/e2e-state
export OMBRIX_E2E_READERS=8
export OMBRIX_E2E_PCSCD_QUIET=1 # no debug or APDU log in pcscd while measuring
CTL=(bash "$SRC/tests/e2e/e2e_ctl.sh")
STATE=$OMBRIX_E2E_STATE
reader() { "${CTL[@]}" reader-name "$1"; }
pid_of() { cat "$STATE/$1.pid" 2>/dev/null; }

EXTRA_PIDS=()
cleanup() {
    local p
    for p in "${EXTRA_PIDS[@]}"; do
        kill -TERM "$p" 2>/dev/null && wait "$p" 2>/dev/null
    done
    "${CTL[@]}" cleanup >>"$LOGS/harness.log" 2>&1
}
trap cleanup EXIT
trap 'exit 1' INT TERM

LOAD_BEFORE=$(cut -d' ' -f1-3 /proc/loadavg)
deadline=$((SECONDS + WAIT_S))
until "${CTL[@]}" setup >"$LOGS/setup.log" 2>&1; do
    if grep -q "another pcscd is running" "$LOGS/setup.log" && ((SECONDS < deadline)); then
        log "another pcscd runs (another agent's tests?); waiting for it to go"
        sleep 10
        continue
    fi
    cat "$LOGS/setup.log" >&2
    die "the harness could not start"
done
log "pcscd $(pid_of pcscd) with 8 readers"

# Card images: a transparent EF 0002 of 32770 bytes (a length-prefixed 32 KiB
# file) under the MF, free access, 64 KB of card memory; R2 in readers 0-6,
# R1 in reader 7.
python3 - "$IMAGES" <<'PY'
import json, os, sys
out = sys.argv[1]
for i in range(8):
    model, code, ac = ("R1", "01", "00" * 11) if i == 7 else ("R2", "02", "00" * 9)
    ident = "4F4D" + "C8" + code + "0100" + "20240601" + f"{i + 1:012X}" + "00" * 8
    image = {"format": "ombrix-card-image/1", "model": model, "identification": ident,
             "life_cycle": "10", "memory_kb": 64,
             "mf": {"fid": "3F00", "type": "DF", "children": [
                 {"fid": "0002", "type": "transparent", "size": 32770, "ac": ac, "data": "8000"}]}}
    with open(os.path.join(out, f"card-{i}.json"), "w") as f:
        json.dump(image, f)
PY
"${CTL[@]}" sim-stop main >>"$LOGS/harness.log" 2>&1
for i in 0 1 2 3 4 5 6 7; do
    model=R2
    ((i == 7)) && model=R1
    name=c$i
    cp "$IMAGES/card-$i.json" "$IMAGES/live-$i.json"
    "${CTL[@]}" sim-start "$name" "$i" --model "$model" --image "$IMAGES/live-$i.json" \
        >>"$LOGS/harness.log" 2>&1 || die "sim $name did not start in $(reader "$i") (log: $LOGS/harness.log)"
done
log "cards in all 8 readers"

# -- 3. the benchmarks ----------------------------------------------------------
FAILED=()
# run_bench NAME COMMAND...: result lines to the rows, the rest to the log.
run_bench() {
    local name=$1
    shift
    log "running $name"
    local start=$SECONDS
    if "$@" >"$LOGS/$name.out" 2>"$LOGS/$name.log"; then
        grep '^{"bench"' "$LOGS/$name.out" >>"$ROWS"
        log "  $name: $(grep -c '^{"bench"' "$LOGS/$name.out") figures in $((SECONDS - start)) s"
    else
        grep '^{"bench"' "$LOGS/$name.out" >>"$ROWS"
        FAILED+=("$name")
        log "  $name FAILED: $(tail -n 3 "$LOGS/$name.log" | tr '\n' ' ')"
    fi
}
if ((SMOKE)); then
    EX=(--n 100 --reps 2); TOOLS=(--commands 50 --reps 1); SM=(--reps 2 --scale 0.02)
    FILES=(--kib 2 --reps 1); READERS=(--ms 200 --reps 1); MEM=(--n 2000); SIMB=(--n 2000 --reps 1)
    PAIR=(--n 200 --reps 2); MON=(--idle-ms 1000 --windows 2 --events 2 --stop-reps 2)
else
    EX=(--n 2000 --reps 9); TOOLS=(--commands 1000 --reps 5); SM=(--reps 7)
    FILES=(--kib 32 --reps 5); READERS=(--ms 2000 --reps 5); MEM=(--n 100000); SIMB=(--n 200000 --reps 5)
    PAIR=(--n 3000 --reps 7); MON=(--idle-ms 10000 --windows 5 --events 10 --stop-reps 5)
fi

run_bench exchange "$B/exchange_bench" send --reader "$(reader 0)" "${EX[@]}" --trace-file "$OUT/trace.log"
if [[ -x $OMBRIX_TOOL ]]; then
    run_bench tools python3 "$SRC/bench/tools_bench.py" --reader "$(reader 0)" --exchange-bench "$B/exchange_bench" \
        --ombrix "$OMBRIX_TOOL" --work "$OUT" "${TOOLS[@]}"
else
    FAILED+=(tools)
fi
run_bench sm_wrap "$B/sm_wrap_bench" "${SM[@]}"
run_bench file_ops "$B/file_ops_bench" --r1-reader "$(reader 7)" --r2-reader "$(reader 1)" "${FILES[@]}"
run_bench readers "$B/readers_bench" --counts 1,2,4,8 "${READERS[@]}"
run_bench memory_session "$B/memory_bench" --mode session --reader "$(reader 0)" "${MEM[@]}"
run_bench memory_process "$B/memory_bench" --mode process --readers 8 "${MEM[@]}"
run_bench sim_inprocess "$B/sim_card_bench" --image "$IMAGES/card-0.json" --log "$OUT/sim-inprocess.apdu" "${SIMB[@]}"

# The virtual card against the minimal card: the minimal card takes reader 6;
# reader 5 keeps its sim as e2e-ctl starts it (with its APDU log), reader 4
# gets a sim started without one.
wait_reader() { "$OMBRIX_E2E_PROBE" --timeout-ms 8000 wait --reader "$1" --state "$2" >/dev/null 2>&1; }
"${CTL[@]}" sim-stop c6 >>"$LOGS/harness.log" 2>&1
"$B/minimal_card" --port $((OMBRIX_E2E_PORT + 6)) 2>>"$LOGS/minimal_card.log" &
MINIMAL=$!
EXTRA_PIDS+=("$MINIMAL")
"${CTL[@]}" sim-stop c4 >>"$LOGS/harness.log" 2>&1
"$OMBRIX_SIM" --port $((OMBRIX_E2E_PORT + 4)) --model R2 --image "$IMAGES/live-4.json" 2>>"$LOGS/sim-nolog.log" &
NOLOG=$!
EXTRA_PIDS+=("$NOLOG")
if wait_reader "$(reader 6)" present && wait_reader "$(reader 4)" present; then
    run_bench card_vs_minimal "$B/exchange_bench" pair --reader-a "$(reader 5)" --pid-a "$(pid_of sim-c5)" \
        --reader-b "$(reader 6)" --pid-b "$MINIMAL" --label-a sim --label-b minimal "${PAIR[@]}"
    run_bench card_nolog_vs_minimal "$B/exchange_bench" pair --reader-a "$(reader 4)" --pid-a "$NOLOG" \
        --reader-b "$(reader 6)" --pid-b "$MINIMAL" --label-a sim_without_log --label-b minimal "${PAIR[@]}"
else
    FAILED+=(card_vs_minimal)
    log "the minimal card or the sim without log did not appear"
fi
kill -TERM "$MINIMAL" "$NOLOG" 2>/dev/null
wait "$MINIMAL" "$NOLOG" 2>/dev/null
EXTRA_PIDS=()
wait_reader "$(reader 6)" empty
wait_reader "$(reader 4)" empty
"${CTL[@]}" sim-start c4 4 --model R2 --image "$IMAGES/live-4.json" >>"$LOGS/harness.log" 2>&1 ||
    die "sim c4 did not come back"

# ombrix personalize of the example profile onto a blank card in reader 6.
PROFILE=$SRC/examples/profiles/r2-demo.json
if [[ -f $PROFILE && -x $OMBRIX_TOOL ]] && "$OMBRIX_TOOL" personalize --help >/dev/null 2>&1; then
    run_bench personalize python3 "$SRC/bench/personalize_bench.py" --ombrix "$OMBRIX_TOOL" --profile "$PROFILE" \
        --reader "$(reader 6)" --ctl "$SRC/tests/e2e/e2e_ctl.sh" --exchange-bench "$B/exchange_bench" \
        --reps $((SMOKE ? 1 : 3)) --work "$OUT"
else
    echo '{"bench": "file.personalize_example_profile", "unit": "", "ours": null, "target": "", "met": null, "reps": 0, "note": "not available yet (no ombrix personalize or no examples/profiles/r2-demo.json)"}' >>"$ROWS"
fi

# ombrix personalize --all-readers on eight blank cards against eight runs
# one after the other: every reader is emptied first, its card put back after.
if [[ -f $PROFILE && -x $OMBRIX_TOOL ]]; then
    for i in 0 1 2 3 4 5 7; do "${CTL[@]}" sim-stop "c$i" >>"$LOGS/harness.log" 2>&1; done
    run_bench personalize_all python3 "$SRC/bench/personalize_all_bench.py" --ombrix "$OMBRIX_TOOL" \
        --profile "$PROFILE" --ctl "$SRC/tests/e2e/e2e_ctl.sh" --readers 8 --reps $((SMOKE ? 1 : 3)) --work "$OUT"
    for i in 0 1 2 3 4 5 7; do
        model=R2
        ((i == 7)) && model=R1
        "${CTL[@]}" sim-start "c$i" "$i" --model "$model" --image "$IMAGES/live-$i.json" >>"$LOGS/harness.log" 2>&1 ||
            die "sim c$i did not come back"
    done
fi

"${CTL[@]}" sim-start c6 6 --model R2 --image "$IMAGES/live-6.json" >>"$LOGS/harness.log" 2>&1 ||
    die "sim c6 did not come back"

# Monitoring last: it takes the card in reader 0 out and puts it back.
run_bench monitor "$B/monitor_bench" --readers 8 --sim-pid "$(pid_of sim-c0)" \
    --pcscd-pid "$(pid_of pcscd)" "${MON[@]}"

LOAD_AFTER=$(cut -d' ' -f1-3 /proc/loadavg)
cleanup
trap - EXIT

# -- 4. the table -----------------------------------------------------------------
EXPECT=$((SMOKE ? 40 : 40))
python3 "$SRC/bench/report.py" "$ROWS" "$OUT/report.json" --expect "$EXPECT" \
    --meta "mode=$([[ $SMOKE == 1 ]] && echo smoke || echo full)" \
    --meta "date=$(date -u +%Y-%m-%dT%H:%M:%SZ)" \
    --meta "commit=$(git -C "$SRC" rev-parse --short HEAD 2>/dev/null)$(git -C "$SRC" diff --quiet 2>/dev/null || echo '+changes')" \
    --meta "build=$BUILD ($BUILD_TYPE)" \
    --meta "load average before=$LOAD_BEFORE" --meta "load average after=$LOAD_AFTER" \
    --meta "cpus=$(nproc)" \
    --meta "failed=${FAILED[*]:-none}" --meta "not built=${NOT_BUILT[*]:-none}" || FAILED+=(report)
log "report: $OUT/report.json"
if ((${#FAILED[@]})); then
    log "failed: ${FAILED[*]} (logs in $LOGS)"
    exit 1
fi
exit 0
