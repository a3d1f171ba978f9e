#!/usr/bin/env python3
"""Randomized batches against faulty simulated servers, every result row held
against the servers' final state: counts per series, for one build or two.

Run inside the private namespace:

    scripts/netns.sh python3 bench/batch_truth/run.py [--build DIR]... [--runs 200]
                                                      [--seeds 36,7,11] [--fresh]

Each build's tst_batch_truth plays --runs batches per seed (by default one
run's end is the next one's start; --fresh starts fleet and tool anew per
run). Builds alternate per seed, so that a noisy machine treats them alike.
"""

import argparse
import os
import re
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SUMMARY = re.compile(
    r"batch truth: seed (\d+), (\w+), runs (\d+) \(skipped (\d+)\), rows (\d+): agree (\d+), "
    r"may have been applied (\d+), indeterminate (\d+), 2xx lies (\d+), contradictions (\d+), "
    r"yes from unreadable answers (\d+); change requests (\d+), unasked (\d+)")
FIELDS = ("runs", "skipped", "rows", "agree", "may", "indeterminate", "lies", "contradictions",
          "unreadableYes", "requests", "unasked")


def series(build, seed, runs, fresh):
    environment = dict(os.environ, TESSALY_BATCH_RUNS=str(runs), TESSALY_BATCH_SEED=str(seed),
                       TESSALY_BATCH_FRESH="1" if fresh else "0", QT_QPA_PLATFORM="offscreen")
    started = time.monotonic()
    output = subprocess.run([os.path.join(build, "bin", "tst_batch_truth")], env=environment,
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True).stdout
    seconds = time.monotonic() - started
    match = SUMMARY.search(output)
    if not match:
        sys.exit("%s, seed %d: no summary line\n%s" % (build, seed, output[-3000:]))
    counts = dict(zip(FIELDS, (int(value) for value in match.groups()[2:])))
    counts["seconds"] = seconds
    return counts


def spread(values):
    ordered = sorted(values)
    return "%g / %g / %g" % (ordered[0], ordered[len(ordered) // 2], ordered[-1])


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", action="append", help="build directory (repeatable; default build/)")
    parser.add_argument("--runs", type=int, default=200)
    parser.add_argument("--seeds", default="36,7,11")
    parser.add_argument("--fresh", action="store_true")
    arguments = parser.parse_args()
    if os.environ.get("TESSALY_PRIVATE_NET") != "1":
        sys.exit("run inside scripts/netns.sh")
    builds = arguments.build or [os.path.join(ROOT, "build")]
    seeds = [int(seed) for seed in arguments.seeds.split(",")]

    results = {build: [] for build in builds}
    for seed in seeds:
        for build in builds:
            counts = series(build, seed, arguments.runs, arguments.fresh)
            results[build].append(counts)
            print("%s seed %d: %s" % (build, seed, ", ".join("%s %s" % (key, round(value, 1))
                                                             for key, value in counts.items())),
                  flush=True)

    print("\n%d %s runs per seed, seeds %s; min / median / max over the seeds, then the sum"
          % (arguments.runs, "fresh" if arguments.fresh else "persistent", arguments.seeds))
    print("| | " + " | ".join(builds) + " |")
    print("|---|" + "---|" * len(builds))
    for field in FIELDS + ("seconds",):
        cells = []
        for build in builds:
            values = [counts[field] for counts in results[build]]
            total = sum(values)
            cells.append("%s (sum %s)" % (spread(values), round(total, 1)))
        print("| %s | %s |" % (field, " | ".join(cells)))


if __name__ == "__main__":
    main()
