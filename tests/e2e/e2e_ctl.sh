#!/usr/bin/env bash
# The end-to-end harness: a private pcscd with two virtual readers and
# ombrix-sim cards in them. Usually run through the e2e-ctl wrapper that CMake
# writes into the build tree, which sets:
#   OMBRIX_E2E_STATE   directory for pids, logs and the reader configuration
#   OMBRIX_SIM         the ombrix-sim program
#   OMBRIX_E2E_PROBE   the ombrix-e2e-probe program
#   OMBRIX_PCSCD       the pcscd program
#   OMBRIX_VPCD_DRIVER the vsmartcard reader driver
#   OMBRIX_E2E_PORT    TCP port of reader 0 (reader i listens on PORT + i)
# and may be given:
#   OMBRIX_E2E_READERS how many virtual readers setup configures: an even
#                      number from 2 (the default) to 16; the other
#                      subcommands take the number that setup recorded
#   OMBRIX_E2E_PCSCD_QUIET=1  pcscd without its debug and APDU log (-d -a)
#
# Subcommands:
#   setup                         start pcscd with the readers, put an R2 demo card into reader 0
#   cleanup                       stop every card and pcscd started here
#   sim-start NAME INDEX [ARGS]   start ombrix-sim NAME in reader INDEX (0 to readers - 1)
#                                 with extra ombrix-sim ARGS; waits for the card
#                                 (the reader must be empty first)
#   sim-stop NAME [--no-wait]     stop that ombrix-sim; waits until its reader is empty
#   sim-remove NAME [--no-wait]   SIGUSR1: the card is removed; waits until pcscd sees it
#   sim-insert NAME [--no-wait]   SIGUSR2: the card is inserted; waits until pcscd sees it
#   reader NAME                   print the reader name that sim NAME occupies
#   reader-name INDEX             print the name of reader INDEX
#   state-dir                     print the state directory
#   status                        what runs
set -u -o pipefail

die() { echo "e2e: $*" >&2; exit 1; }

: "${OMBRIX_E2E_STATE:?e2e: OMBRIX_E2E_STATE is not set}"
: "${OMBRIX_E2E_PORT:=35963}"
STATE=$OMBRIX_E2E_STATE
WAIT_MS=${OMBRIX_E2E_WAIT_MS:-8000}

# Each vpcd entry of the reader configuration gives two readers, on ports
# PORT + 2k and PORT + 2k + 1. pcscd numbers readers of the same friendly name
# alike ("... 00 00" for each), so entry k > 0 is named "Virtual PCD k": its
# readers are "Virtual PCD k 00 00" and "Virtual PCD k 00 01"; entry 0 keeps
# "Virtual PCD 00 00" and "Virtual PCD 00 01". The driver keeps its
# connections in one table indexed by slot alone, so every entry past the
# first loads a copy of the driver of its own (a file of its own: the dynamic
# loader would hand back the loaded one for the same file).
if [[ -n ${OMBRIX_E2E_READERS:-} ]]; then
    READERS=$OMBRIX_E2E_READERS
elif [[ ${1:-} != setup && -f $STATE/readers ]]; then
    READERS=$(<"$STATE/readers")
else
    READERS=2
fi
[[ $READERS =~ ^[0-9]+$ ]] && ((READERS >= 2 && READERS <= 16 && READERS % 2 == 0)) ||
    die "OMBRIX_E2E_READERS=$READERS: an even number from 2 to 16"

friendly_name() { if (($1 == 0)); then echo "Virtual PCD"; else echo "Virtual PCD $1"; fi; }
reader_name() { echo "$(friendly_name $(($1 / 2))) 00 0$(($1 % 2))"; }

# The pid in FILE, when it names a live process whose program is PROGRAM.
live_pid() {
    local file=$1 program=$2 pid
    [[ -f $file ]] || return 1
    pid=$(<"$file")
    [[ $pid =~ ^[0-9]+$ ]] || return 1
    [[ -r /proc/$pid/cmdline ]] || return 1
    tr '\0' ' ' <"/proc/$pid/cmdline" | grep -q -- "$program" || return 1
    echo "$pid"
}

# A process that has exited but is not reaped yet (its parent, init here,
# may take a while) is a zombie: gone for our purposes.
alive() {
    local stat
    stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
    stat=${stat##*) }
    [[ ${stat%% *} != Z ]]
}

# Sends SIG to PID and waits, bounded, for it to exit; then kills it outright.
stop_pid() {
    local pid=$1 sig=$2 name=$3 i
    kill "-$sig" "$pid" 2>/dev/null || return 0
    for ((i = 0; i < 250; i++)); do
        alive "$pid" || return 0
        sleep 0.02
    done
    echo "e2e: $name (pid $pid) did not stop within 5 s; killing it" >&2
    kill -KILL "$pid" 2>/dev/null
    return 0
}

probe() { "$OMBRIX_E2E_PROBE" --timeout-ms "$WAIT_MS" "$@"; }

# Waits, bounded, until READER is present or empty as pcscd sees it; gives up
# early when the sim PID that should bring the change has exited.
wait_reader() {
    local reader=$1 state=$2 pid=${3:-} step=250 waited=0
    while ((waited < WAIT_MS)); do
        "$OMBRIX_E2E_PROBE" --timeout-ms "$step" wait --reader "$reader" --state "$state" \
            2>/dev/null && return 0
        if [[ -n $pid ]] && ! alive "$pid"; then
            echo "e2e: ombrix-sim (pid $pid) exited" >&2
            return 1
        fi
        waited=$((waited + step))
    done
    "$OMBRIX_E2E_PROBE" --timeout-ms 0 wait --reader "$reader" --state "$state"
}

port_in_use() {
    command -v ss >/dev/null || return 1
    [[ -n $(ss -Hltn "sport = :$1" 2>/dev/null) ]]
}

write_reader_conf() {
    mkdir -p "$STATE/reader.conf.d"
    # One vpcd entry makes two readers: "... 00 00" on its port, "... 00 01" on the next.
    local k port driver
    for ((k = 0; k < READERS / 2; k++)); do
        port=$((OMBRIX_E2E_PORT + 2 * k))
        driver=$OMBRIX_VPCD_DRIVER
        if ((k > 0)); then
            driver=$STATE/vpcd-driver-$k.so
            cp "$OMBRIX_VPCD_DRIVER" "$driver" || die "cannot copy the vpcd driver to $driver"
        fi
        cat <<EOF
FRIENDLYNAME "$(friendly_name "$k")"
DEVICENAME   /dev/null:$port
LIBPATH      $driver
CHANNELID    $port

EOF
    done >"$STATE/reader.conf.d/vpcd"
}

cmd_setup() {
    mkdir -p "$STATE" || die "cannot create $STATE"
    # A pcscd left over by an interrupted run of this fixture is ours to stop.
    if [[ -f $STATE/pcscd.pid ]]; then
        echo "e2e: stopping what an earlier run left behind" >&2
        cmd_cleanup
    fi
    local others="" pid
    for pid in $(pgrep -x pcscd); do
        alive "$pid" && others+="$pid "
    done
    if [[ -n $others ]]; then
        die "another pcscd is running (pid ${others% }), not started by this fixture; it owns /run/pcscd/pcscd.comm, so the end-to-end tests cannot run until it is stopped"
    fi
    [[ -x $OMBRIX_PCSCD ]] || die "no pcscd at $OMBRIX_PCSCD"
    [[ -f $OMBRIX_VPCD_DRIVER ]] || die "no vpcd driver at $OMBRIX_VPCD_DRIVER"
    [[ -x $OMBRIX_SIM ]] || die "no ombrix-sim at $OMBRIX_SIM (build the ombrix-sim target)"
    local p i expect=()
    for ((p = OMBRIX_E2E_PORT; p < OMBRIX_E2E_PORT + READERS; p++)); do
        port_in_use "$p" && die "TCP port $p is in use; configure with -DOMBRIX_E2E_PORT=<another base port>"
    done
    for ((i = 0; i < READERS; i++)); do
        expect+=(--expect "$(reader_name "$i")")
    done
    # pcscd creates /run/pcscd when it may; without root it needs the directory
    # to exist and be writable already.
    if [[ ! -d /run/pcscd ]]; then
        mkdir -p /run/pcscd 2>/dev/null || die "cannot create /run/pcscd (pcscd's socket directory); run as root or create it writable"
    fi
    [[ -w /run/pcscd ]] || die "/run/pcscd is not writable; pcscd cannot create its socket there"
    write_reader_conf
    echo "$READERS" >"$STATE/readers"
    rm -f "$STATE"/sim-*

    # -f: stay in the foreground (we hold the pid), logs to the file;
    # -d: debug log; -a: every APDU in the log (both left out with
    # OMBRIX_E2E_PCSCD_QUIET=1, for measurements). No --auto-exit.
    local debug=(-d -a)
    [[ ${OMBRIX_E2E_PCSCD_QUIET:-0} == 1 ]] && debug=()
    setsid "$OMBRIX_PCSCD" -f "${debug[@]}" -c "$STATE/reader.conf.d" \
        </dev/null >"$STATE/pcscd.log" 2>&1 &
    echo $! >"$STATE/pcscd.pid"
    if ! probe readers "${expect[@]}" >"$STATE/readers.txt"; then
        tail -n 20 "$STATE/pcscd.log" >&2
        cmd_cleanup
        die "pcscd did not come up with the $READERS virtual readers (log: $STATE/pcscd.log)"
    fi
    # In a subshell, so that a failure inside it still comes back here to clean up.
    (cmd_sim_start main 0 --model "${OMBRIX_E2E_MODEL:-R2}" --image demo) || {
        cmd_cleanup
        die "the card did not appear in $(reader_name 0)"
    }
    echo "e2e: pcscd $(live_pid "$STATE/pcscd.pid" pcscd) ready; card \"main\" in $(reader_name 0); state in $STATE"
}

cmd_sim_start() {
    local name=${1:?sim-start NAME INDEX [ombrix-sim options]} index=${2:?reader index}
    shift 2
    [[ $index =~ ^[0-9]+$ ]] && ((index < READERS)) ||
        die "reader index $index: only 0 to $((READERS - 1)) exist"
    [[ $name =~ ^[A-Za-z0-9_-]+$ ]] || die "bad sim name $name"
    live_pid "$STATE/sim-$name.pid" ombrix-sim >/dev/null && die "sim $name runs already"
    local port=$((OMBRIX_E2E_PORT + index)) reader pid
    reader=$(reader_name "$index")
    local f
    for f in "$STATE"/sim-*.reader; do
        [[ -e $f && $(<"$f") == "$index" ]] || continue
        local other=${f##*/sim-}
        other=${other%.reader}
        live_pid "$STATE/sim-$other.pid" ombrix-sim >/dev/null &&
            die "sim $other is in $reader already"
    done
    # A card that just left may still look present to pcscd (vpcd polls every
    # 400 ms): wait for the reader to be empty, or the new card's arrival
    # cannot be told from the old one's.
    wait_reader "$reader" empty || die "$reader is still occupied"
    setsid "$OMBRIX_SIM" --port "$port" --log "$STATE/sim-$name.apdu" "$@" \
        </dev/null >"$STATE/sim-$name.log" 2>&1 &
    pid=$!
    echo "$pid" >"$STATE/sim-$name.pid"
    echo "$index" >"$STATE/sim-$name.reader"
    if ! wait_reader "$reader" present "$pid"; then
        cat "$STATE/sim-$name.log" >&2
        return 1
    fi
}

sim_pid() {
    live_pid "$STATE/sim-$1.pid" ombrix-sim || die "no sim $1 running"
}

sim_reader() {
    [[ -f $STATE/sim-$1.reader ]] || die "no sim $1"
    reader_name "$(<"$STATE/sim-$1.reader")"
}

cmd_sim_signal() {
    local signal=$1 state=$2 name=${3:?NAME} wait=${4:-}
    local pid reader
    pid=$(sim_pid "$name") || exit 1
    reader=$(sim_reader "$name") || exit 1
    kill "-$signal" "$pid" || die "cannot signal sim $name"
    [[ $wait == --no-wait ]] && return 0
    wait_reader "$reader" "$state" "$pid"
}

cmd_sim_stop() {
    local name=${1:?NAME} wait=${2:-} pid reader=""
    [[ -f $STATE/sim-$name.reader ]] && reader=$(sim_reader "$name")
    if pid=$(live_pid "$STATE/sim-$name.pid" ombrix-sim); then
        stop_pid "$pid" TERM "ombrix-sim $name"
    fi
    rm -f "$STATE/sim-$name.pid" "$STATE/sim-$name.reader"
    if [[ -n $reader && $wait != --no-wait ]]; then
        wait_reader "$reader" empty
    fi
}

cmd_cleanup() {
    local f name pid
    for f in "$STATE"/sim-*.pid; do
        [[ -e $f ]] || continue
        name=${f##*/sim-}
        cmd_sim_stop "${name%.pid}" --no-wait # pcscd goes next
    done
    if pid=$(live_pid "$STATE/pcscd.pid" pcscd); then
        stop_pid "$pid" TERM pcscd
    fi
    rm -f "$STATE/pcscd.pid"
    return 0
}

cmd_status() {
    local f pid
    if pid=$(live_pid "$STATE/pcscd.pid" pcscd); then echo "pcscd: pid $pid"; else echo "pcscd: not running"; fi
    for f in "$STATE"/sim-*.pid; do
        [[ -e $f ]] || continue
        local name=${f##*/sim-}
        name=${name%.pid}
        if pid=$(live_pid "$f" ombrix-sim); then
            echo "sim $name: pid $pid in $(sim_reader "$name")"
        else
            echo "sim $name: not running"
        fi
    done
}

command=${1:-}
shift || true
case $command in
setup) cmd_setup ;;
cleanup) cmd_cleanup ;;
sim-start) cmd_sim_start "$@" ;;
sim-stop) cmd_sim_stop "$@" ;;
sim-remove) cmd_sim_signal USR1 empty "$@" ;;
sim-insert) cmd_sim_signal USR2 present "$@" ;;
reader) sim_reader "$@" ;;
reader-name) reader_name "${1:?reader-name INDEX}" ;;
state-dir) echo "$STATE" ;;
status) cmd_status ;;
*) die "usage: e2e-ctl setup|cleanup|sim-start NAME INDEX [ARGS]|sim-stop NAME|sim-remove NAME|sim-insert NAME|reader NAME|reader-name INDEX|state-dir|status" ;;
esac
