#!/usr/bin/env python3
"""Times tessaly-config-cli apply against the serial floor of the same requests.

    scripts/netns.sh python3 bench/cli/run.py [--servers 1000] [--runs 5]

Each run starts tools/peer-sim/peer_sim.py --generate N --systems N/20 with a
request log, then the command: apply --all --set-system-name --set-port --json,
with its default three seconds of looking. The run's time is the one the
command reports (from the start of the changes to the last answer); its
start-up is the time from just before the process is spawned to the first
discovery request the fleet hears. The same configure requests are then
replayed one at a time on kept-alive connections (bench/tool/replay.py), each
replay against a fresh fleet that logs as the command's did, and the median of
those replays is the run's floor. As in bench/tool/run.py, the fleets run
ahead of other load (nice -10 when run as root).
"""

import argparse
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "bench", "tool"))
import run as tool_bench  # noqa: E402  the fleet helpers of the window's batch bench

REPLAY = os.path.join(ROOT, "bench", "tool", "replay.py")


def first_discovery_after(log, start_s):
    with open(log, encoding="utf-8") as handle:
        for line in handle:
            entry = json.loads(line)
            if entry["kind"] == "discovery" and entry["exact"] and entry["time"] >= start_s:
                return entry["time"]
    return None


def configure_requests(log):
    with open(log, encoding="utf-8") as handle:
        return sum(1 for line in handle
                   if '"/api/configure"' in line and json.loads(line).get("authorized"))


def one_run(options, work, number):
    log = os.path.join(work, "cli-%d.log" % number)
    fleet = tool_bench.start_fleet(options.servers, work, log, favoured=True)
    try:
        command = [options.command, "apply", "--all", "--set-system-name", "Bench %d" % number,
                   "--set-port", "7002", "--json"]
        started = time.time()
        done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, timeout=600)
        wall = time.time() - started
    finally:
        tool_bench.stop(fleet)
    if done.returncode != 0:
        raise RuntimeError("the command ended with %d:\n%s" % (done.returncode, done.stderr))
    result = json.loads(done.stdout)
    heard = first_discovery_after(log, started)

    floors = []
    for replay in range(options.replays):
        fresh = tool_bench.start_fleet(options.servers, work, os.path.join(work, "replay-%d-%d.log" % (number, replay)),
                                       favoured=True)
        try:
            floors.append(json.loads(subprocess.run(
                [sys.executable, REPLAY, log, "--from", "0", "--to", str(time.time() * 1000 + 1)],
                stdout=subprocess.PIPE, text=True, check=True).stdout))
        finally:
            tool_bench.stop(fresh)
    floor_s = statistics.median(floor["seconds"] for floor in floors)
    row = {
        "run_s": result["seconds"],
        "floor_s": floor_s,
        "ratio": result["seconds"] / floor_s,
        "startup_ms": None if heard is None else (heard - started) * 1000,
        "wall_s": wall,
        "succeeded": result["succeeded"],
        "failed": result["failed"],
        "selected": len(result["selected"]),
        "requests_sent": configure_requests(log),
        "requests_replayed": floors[0]["requests"],
    }
    print("run %d: %s" % (number, json.dumps(row)), flush=True)
    return row


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--servers", type=int, default=1000)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--replays", type=int, default=3, help="replays of a run; their median is its floor")
    parser.add_argument("--command", default=os.path.join(ROOT, "build", "bin", "tessaly-config-cli"))
    parser.add_argument("--keep", action="store_true", help="keep the logs (their folder is printed)")
    options = parser.parse_args(argv)
    if os.environ.get("TESSALY_PRIVATE_NET") != "1":
        print("run.py starts fleets and the command: run it inside scripts/netns.sh", file=sys.stderr)
        return 2
    work = tempfile.mkdtemp(prefix="bench-cli-")
    print("servers %d, %d runs, logs in %s" % (options.servers, options.runs, work), flush=True)
    rows = [one_run(options, work, number) for number in range(1, options.runs + 1)]
    tool_bench.summarise(rows)
    if not options.keep:
        subprocess.run(["rm", "-rf", work])
    return 0


if __name__ == "__main__":
    sys.exit(main())
