#!/usr/bin/python3
"""Collects the benchmark programs' result lines into one table and one JSON report.

    report.py ROWS.jsonl REPORT.json [--meta KEY=VALUE ...] [--expect N]

ROWS.jsonl holds the {"bench": ...} lines the programs printed. Adds the
derived rows (a secure-messaging wrap against one exchange), prints the table
(benchmark, our figure, baseline figure, ratio, target, met?) and writes
REPORT.json: {"meta": {...}, "rows": [...]}. Exit status 1 when fewer than N
rows arrived.
"""
import json
import sys


def fmt(v):
    if v is None:
        return "-"
    if isinstance(v, str):
        return v
    a = abs(v)
    if a == 0:
        return "0"
    if a >= 1000:
        return f"{v:.0f}"
    if a >= 100:
        return f"{v:.1f}"
    if a >= 1:
        return f"{v:.2f}"
    return f"{v:.3g}"


def figure(r, key):
    v = r.get(key)
    if v is None:
        return "-"
    s = r.get(key + "_spread")
    if s and s[0] is not None and (s[0] != v or s[1] != v):
        return f"{fmt(v)} [{fmt(s[0])}..{fmt(s[1])}]"
    return fmt(v)


def derived(rows):
    by = {r["bench"]: r for r in rows}
    out = []
    wrap = by.get("sm.SM_ENC_SIG_C_wrap_64B")
    ex = by.get("exchange.case1")
    if wrap and ex and ex.get("base"):
        wrap_us = wrap["ours"] / 1000.0
        ex_us = ex["base"]
        out.append({
            "bench": "sm.wrap_vs_one_exchange", "unit": "us",
            "ours": wrap_us, "base": ex_us, "ratio": wrap_us / ex_us,
            "target": "", "met": None, "reps": wrap.get("reps", 0),
            "note": f"one SM_ENC_SIG_C wrap is {ex_us / wrap_us:.1f}x cheaper than one raw exchange "
                    f"(and a protected command adds a GET CHALLENGE exchange besides)"})
    return out


def main():
    rows_path, report_path = sys.argv[1], sys.argv[2]
    meta, expect = {}, 0
    args = sys.argv[3:]
    i = 0
    while i < len(args):
        if args[i] == "--meta":
            k, _, v = args[i + 1].partition("=")
            meta[k] = v
            i += 2
        elif args[i] == "--expect":
            expect = int(args[i + 1])
            i += 2
        else:
            i += 1
    rows = []
    with open(rows_path, encoding="utf-8") as f:
        for line in f:
            line = line.strip()
            if line.startswith('{"bench"'):
                rows.append(json.loads(line))
    rows += derived(rows)

    head = ["benchmark", "unit", "ours", "baseline", "ratio", "target", "met?"]
    table = []
    for r in rows:
        met = r.get("met")
        table.append([r["bench"], r.get("unit", ""), figure(r, "ours"), figure(r, "base"),
                      figure(r, "ratio"), r.get("target", "") or "-",
                      "-" if met is None else ("yes" if met else "NO")])
    widths = [max(len(h), *(len(t[c]) for t in table)) if table else len(h) for c, h in enumerate(head)]
    line = "  ".join(h.ljust(w) for h, w in zip(head, widths))
    print(line)
    print("-" * len(line))
    for t in table:
        print("  ".join(c.ljust(w) for c, w in zip(t, widths)))
    print()
    for r in rows:
        if r.get("note"):
            print(f"  {r['bench']}: {r['note']}")
    targets = [r for r in rows if r.get("met") is not None]
    missed = [r["bench"] for r in targets if not r["met"]]
    print()
    print(f"{len(rows)} figures, {len(targets)} with a target, {len(targets) - len(missed)} met"
          + (f"; not met: {', '.join(missed)}" if missed else ""))
    for k, v in meta.items():
        print(f"  {k}: {v}")
    with open(report_path, "w", encoding="utf-8") as f:
        json.dump({"meta": meta, "rows": rows}, f, indent=1)
        f.write("\n")
    if len(rows) < expect:
        print(f"report: expected at least {expect} figures, got {len(rows)}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
