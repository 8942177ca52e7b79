#!/usr/bin/python3
"""What users would use instead: one APDU script through several clients.

    tools_bench.py --reader NAME --exchange-bench PATH --ombrix PATH
                   [--commands 1000] [--reps 5] [--work DIR]

The script: SELECT of the benchmark file (EF 0002), then READ BINARY of 255
bytes, COMMANDS lines in all. Each client runs it as one process:

- raw C: exchange_bench script (SCardTransmit; prints its loop's time too);
- ombrix apdu --script (the project's tool, output to /dev/null);
- pyscard (bench/pyscard_script.py, also prints its loop's time);
- opensc-tool, one -s per command, if installed.

Each repetition runs every client once, the order rotating; every figure is
the median of the repetitions and the ratio the median of the per-repetition
ratios to the raw C process. Prints one JSON result line per figure.
"""
import argparse
import json
import os
import shutil
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SELECT = "00 A4 00 00 02 00 02"
READ = "00 B0 00 00 FF"


def run(argv, env=None):
    start = time.perf_counter()
    p = subprocess.run(argv, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=env)
    elapsed = time.perf_counter() - start
    if p.returncode != 0:
        raise RuntimeError(f"{argv[0]} exited {p.returncode}: {p.stderr.strip()[-400:]}")
    return elapsed, p.stdout


def loop_of(stdout):
    for line in stdout.splitlines():
        if line.startswith("{"):
            return json.loads(line)["loop_s"]
    raise RuntimeError("no loop time printed")


def spread(values):
    return [min(values), max(values)]


def row(bench, unit, ours, base, target="", met=None, note=""):
    ratios = [o / b for o, b in zip(ours, base)]
    print(json.dumps({
        "bench": bench, "unit": unit,
        "ours": statistics.median(ours), "ours_spread": spread(ours),
        "base": statistics.median(base), "base_spread": spread(base),
        "ratio": statistics.median(ratios), "ratio_spread": spread(ratios),
        "target": target, "met": met, "reps": len(ours), "note": note}), flush=True)


def opensc_index(reader):
    """opensc-tool's number for the reader (it lists them itself)."""
    p = subprocess.run(["opensc-tool", "--list-readers"], stdout=subprocess.PIPE,
                       stderr=subprocess.DEVNULL, text=True)
    for line in p.stdout.splitlines():
        parts = line.split(None, 2)
        if len(parts) == 3 and parts[0].isdigit() and parts[2].strip() == reader:
            return parts[0]
    raise RuntimeError(f"opensc-tool does not list {reader}")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--reader", required=True)
    ap.add_argument("--exchange-bench", required=True)
    ap.add_argument("--ombrix", required=True)
    ap.add_argument("--commands", type=int, default=1000)
    ap.add_argument("--reps", type=int, default=5)
    ap.add_argument("--work", default="/tmp")
    a = ap.parse_args()

    os.makedirs(a.work, exist_ok=True)
    script = os.path.join(a.work, "tools_script.apdu")
    lines = [SELECT] + [READ] * (a.commands - 1)
    with open(script, "w", encoding="ascii") as f:
        f.write("# the tools comparison: SELECT EF 0002, then READ BINARY of 255 bytes\n")
        f.write("\n".join(lines) + "\n")

    clients = {
        "raw_c": [a.exchange_bench, "script", "--reader", a.reader, "--file", script],
        "ombrix": [a.ombrix, "apdu", "-r", "=" + a.reader, "--script", script],
        "pyscard": ["/usr/bin/python3", os.path.join(HERE, "pyscard_script.py"), a.reader, script],
    }
    notes = {}
    if shutil.which("opensc-tool"):
        index = opensc_index(a.reader)
        argv = ["opensc-tool", "-r", index]
        for line in lines:
            argv += ["-s", line.replace(" ", ":")]
        clients["opensc_tool"] = argv
    else:
        notes["opensc_tool"] = "opensc-tool is not installed"

    wall = {k: [] for k in clients}
    loops = {"raw_c": [], "pyscard": []}
    names = list(clients)
    for r in range(a.reps):
        order = names[r % len(names):] + names[:r % len(names)]
        for name in order:
            t, out = run(clients[name])
            wall[name].append(t * 1e3)
            if name in loops:
                loops[name].append(loop_of(out) * 1e3)

    n = a.commands
    base = wall["raw_c"]
    print(json.dumps({
        "bench": "tools.raw_c.process", "unit": f"ms per {n}-APDU script",
        "ours": statistics.median(base), "ours_spread": spread(base), "target": "", "met": None,
        "reps": a.reps,
        "note": f"the baseline: one C process with SCardTransmit; its loop alone "
                f"{statistics.median(loops['raw_c']):.1f} ms"}), flush=True)
    row("tools.ombrix_apdu_script.process", f"ms per {n}-APDU script", wall["ombrix"], base,
        note="ombrix apdu --script, output to a pipe, vs the raw C process")
    row("tools.pyscard.process", f"ms per {n}-APDU script", wall["pyscard"], base,
        note="python3 + pyscard, whole process vs the raw C process")
    row("tools.pyscard.loop", f"ms per {n} APDUs", loops["pyscard"], loops["raw_c"],
        note="the sending loops alone (pyscard transmit vs SCardTransmit)")
    if "opensc_tool" in wall:
        row("tools.opensc_tool.process", f"ms per {n}-APDU script", wall["opensc_tool"], base,
            note="opensc-tool with one -s per command, one process")
    else:
        print(json.dumps({"bench": "tools.opensc_tool.process", "unit": "", "ours": None,
                          "target": "", "met": None, "reps": 0,
                          "note": notes["opensc_tool"]}), flush=True)


if __name__ == "__main__":
    try:
        main()
    except Exception as e:  # the run must say what failed, and fail
        print(f"tools_bench: {e}", file=sys.stderr)
        sys.exit(1)
