#!/usr/bin/env python3
"""Google Benchmark JSON files of one folder -> a Markdown table: benchmark, result (real
time per iteration), target (the counter "target_ns" a benchmark sets) and whether the
result is within it."""
import json
import pathlib
import sys

UNITS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}


def readable(ns):
    for unit, scale in (("s", 1e9), ("ms", 1e6), ("µs", 1e3)):
        if ns >= scale:
            return f"{ns / scale:.3g} {unit}"
    return f"{ns:.3g} ns"


def rows(folder):
    for path in sorted(pathlib.Path(folder).glob("*.json")):
        data = json.loads(path.read_text())
        for b in data.get("benchmarks", []):
            if b.get("run_type") == "aggregate":
                continue
            if b.get("error_occurred"):
                yield path.stem, b["name"], "error: " + b.get("error_message", ""), "", ""
                continue
            ns = b["real_time"] * UNITS[b.get("time_unit", "ns")]
            target = b.get("target_ns")
            verdict = "" if target is None else ("yes" if ns <= target else "**no**")
            yield path.stem, b["name"], readable(ns), readable(target) if target else "—", verdict


def main():
    folder, machine = sys.argv[1], sys.argv[2]
    print(f"Benchmarks on {machine}; real time per iteration.\n")
    print("| program | benchmark | result | target | within |")
    print("|---|---|---|---|---|")
    for row in rows(folder):
        print("| " + " | ".join(row) + " |")


if __name__ == "__main__":
    main()
