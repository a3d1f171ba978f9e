#!/usr/bin/env python3
"""Times tessaly-config-cli apply against the serial floor of the same requests.

    scripts/netns.sh python3 bench/cli/run.py [--servers 1000] [--runs 5]
    scripts/netns.sh python3 bench/cli/run.py --servers 10000 --processes 2 --changes name

Each run starts a fleet of N generated servers over N/20 systems, in one
simulator process or split over several (each with its own addresses and
request log), then the command: apply --all with the changes asked for
(system name and port by default) and --json, without --wait, so that it
looks as long as the fleet takes to log in. It reports:
- first_change_s: from just before the process is spawned to the first
  change request a simulator heard;
- run_s: the run as the command reports it (first change to last answer);
- total_s: the whole command, looking and the check of a new port included;
- floor_s and ratio: the same configure requests replayed one at a time on
  kept-alive connections (bench/tool/replay.py) against fresh fleets that log
  as the command's did, the median of the replays, and run_s over it;
- startup_ms: to the first discovery request heard;
- the exit status and the rows: ok, failed, not sent, and servers selected.
As in bench/tool/run.py, the fleets run ahead of other load (nice -10 when
run as root).
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
CHANGES = ("/api/configure", "/api/settime", "/api/ifconfig")


def start_fleets(options, work, logs):
    return tool_bench.start_fleets(options.servers, options.processes, work, logs, favoured=True)


def entries(logs):
    for log in logs:
        with open(log, encoding="utf-8") as handle:
            for line in handle:
                yield json.loads(line)


def first_after(logs, start_s, wanted):
    times = [entry["time"] for entry in entries(logs) if entry["time"] >= start_s and wanted(entry)]
    return min(times) if times else None


def counts_of(result):
    # Format version 1 counts rows by outcome; older builds printed totals.
    counts = result.get("counts") or {}
    return (counts.get("ok", result.get("succeeded")), counts.get("failed", result.get("failed")),
            counts.get("notSent", result.get("notSent", 0)))


def one_run(options, work, number):
    logs = [os.path.join(work, "cli-%d-%d.log" % (number, part)) for part in range(options.processes)]
    fleets = start_fleets(options, work, logs)
    try:
        command = [options.command, "apply", "--all", "--json"]
        if "name" in options.changes:
            command += ["--set-system-name", "Bench %d" % number]
        if "port" in options.changes:
            command += ["--set-port", "7002"]
        command += options.extra
        started = time.time()
        done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, timeout=1800)
        total = time.time() - started
    finally:
        for fleet in fleets:
            tool_bench.stop(fleet)
    if done.returncode not in (0, 1):
        raise RuntimeError("the command ended with %d:\n%s" % (done.returncode, done.stderr[-3000:]))
    result = json.loads(done.stdout)
    heard = first_after(logs, started, lambda entry: entry["kind"] == "discovery" and entry["exact"])
    first_change = first_after(logs, started, lambda entry: entry["kind"] == "http" and entry["path"] in CHANGES)
    sent = sum(1 for entry in entries(logs)
               if entry["kind"] == "http" and entry["path"] == "/api/configure" and entry.get("authorized"))

    floors = []
    for replay in range(options.replays):
        replay_logs = [os.path.join(work, "replay-%d-%d-%d.log" % (number, replay, part))
                       for part in range(options.processes)]
        fresh = start_fleets(options, work, replay_logs)
        try:
            floors.append(json.loads(subprocess.run(
                [sys.executable, REPLAY] + logs + ["--from", "0", "--to", str(time.time() * 1000 + 1)],
                stdout=subprocess.PIPE, text=True, check=True).stdout))
        finally:
            for fleet in fresh:
                tool_bench.stop(fleet)
    floor_s = statistics.median(floor["seconds"] for floor in floors)
    ok, failed, not_sent = counts_of(result)
    row = {
        "first_change_s": None if first_change is None else first_change - started,
        "run_s": result["seconds"],
        "total_s": total,
        "floor_s": floor_s,
        "ratio": result["seconds"] / floor_s,
        "startup_ms": None if heard is None else (heard - started) * 1000,
        "exit": done.returncode,
        "ok": ok,
        "failed": failed,
        "not_sent": not_sent,
        "selected": len(result["selected"]),
        "requests_sent": sent,
        "requests_replayed": floors[0]["requests"],
    }
    print("run %d: %s" % (number, json.dumps(row)), flush=True)
    return row


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--servers", type=int, default=1000)
    parser.add_argument("--processes", type=int, default=1, help="simulator processes the fleet is split over")
    parser.add_argument("--changes", default="name,port", help="name, port or both (comma-separated)")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--replays", type=int, default=3, help="replays of a run; their median is its floor")
    parser.add_argument("--command", default=os.path.join(ROOT, "build", "bin", "tessaly-config-cli"))
    parser.add_argument("--keep", action="store_true", help="keep the logs (their folder is printed)")
    parser.add_argument("extra", nargs="*", help="more arguments for the command (after --)")
    options = parser.parse_args(argv)
    if os.environ.get("TESSALY_PRIVATE_NET") != "1":
        print("run.py starts fleets and the command: run it inside scripts/netns.sh", file=sys.stderr)
        return 2
    work = tempfile.mkdtemp(prefix="bench-cli-")
    print("servers %d in %d simulator processes, changes %s, %d runs, logs in %s"
          % (options.servers, options.processes, options.changes, options.runs, work), flush=True)
    rows = [one_run(options, work, number) for number in range(1, options.runs + 1)]
    tool_bench.summarise(rows)
    if not options.keep:
        subprocess.run(["rm", "-rf", work])
    return 0


if __name__ == "__main__":
    sys.exit(main())
