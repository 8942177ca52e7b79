#!/usr/bin/env python3
"""ombrix personalize --all-readers on N blank cards against N sequential runs.

  personalize_all_bench.py --ombrix TOOL --profile P --ctl E2E_CTL
                           --readers N --reps R --work DIR

Every reader 0 .. N-1 must be empty when this starts and is empty again when
it ends. Each repetition puts a blank R2 card (serials 1 .. N, so that the
files the profile writes per card do not collide) into every reader, then
either personalizes them all with one --all-readers run or one after the
other with -r; both orders alternate. Prints one JSON result line per figure.
"""

import argparse
import json
import os
import statistics
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from personalize_bench import fresh_dir, sim, timed  # noqa: E402


def blank_cards(ctl, n):
    for i in range(n):
        sim(ctl, "sim-start", f"pa{i}", str(i), "--model", "R2", "--image", "blank", "--serial", str(i + 1))


def remove_cards(ctl, n):
    for i in range(n):
        sim(ctl, "sim-stop", f"pa{i}")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--ombrix", required=True)
    ap.add_argument("--profile", required=True)
    ap.add_argument("--ctl", required=True)
    ap.add_argument("--readers", type=int, required=True)
    ap.add_argument("--reps", type=int, default=3)
    ap.add_argument("--work", default="/tmp")
    a = ap.parse_args()
    n = a.readers
    out_dir = os.path.join(a.work, "personalize-all-out")
    env = dict(os.environ, OMBRIX_DEMO_PIN="1234")
    names = [reader_name(a.ctl, i) for i in range(n)]

    def all_at_once():
        blank_cards(a.ctl, n)
        fresh_dir(out_dir)
        t, p = timed([a.ombrix, "personalize", "--all-readers", "--report", os.path.join(out_dir, "report.jsonl"),
                      "--output-dir", out_dir, a.profile], env)
        remove_cards(a.ctl, n)
        if p.returncode != 0 or f"personalized {n} of {n} cards" not in p.stdout:
            raise RuntimeError(f"--all-readers exited {p.returncode}: {(p.stdout + p.stderr).strip()[-300:]}")
        return t * 1e3

    def one_after_the_other():
        blank_cards(a.ctl, n)
        fresh_dir(out_dir)
        total = 0.0
        for name in names:
            t, p = timed([a.ombrix, "personalize", "-r", "=" + name, "--output-dir", out_dir, a.profile], env)
            if p.returncode != 0:
                remove_cards(a.ctl, n)
                raise RuntimeError(f"personalize -r {name} exited {p.returncode}: {p.stderr.strip()[-300:]}")
            total += t
        remove_cards(a.ctl, n)
        return total * 1e3

    ours, seq = [], []
    for r in range(a.reps):
        if r % 2 == 0:
            ours.append(all_at_once())
            seq.append(one_after_the_other())
        else:
            seq.append(one_after_the_other())
            ours.append(all_at_once())
    ratios = [o / s for o, s in zip(ours, seq)]
    print(json.dumps({
        "bench": f"readers.personalize_all_{n}", "unit": f"ms for {n} cards",
        "ours": statistics.median(ours), "ours_spread": [min(ours), max(ours)],
        "base": statistics.median(seq), "base_spread": [min(seq), max(seq)],
        "ratio": statistics.median(ratios), "ratio_spread": [min(ratios), max(ratios)],
        "target": "", "met": None, "reps": a.reps,
        "note": f"ombrix personalize --all-readers on {n} blank R2 cards vs {n} runs with -r one after "
                f"the other (whole processes)"}))


def reader_name(ctl, index):
    p = subprocess.run(["bash", ctl, "reader-name", str(index)], check=True, stdout=subprocess.PIPE, text=True)
    return p.stdout.strip()


if __name__ == "__main__":
    try:
        main()
    except Exception as e:
        print(json.dumps({"bench": "readers.personalize_all", "unit": "ms", "ours": None, "target": "",
                          "met": None, "reps": 0, "note": f"did not run: {str(e)[:160]}"}))
        print(f"personalize_all_bench: {e}", file=sys.stderr)
        sys.exit(1)
