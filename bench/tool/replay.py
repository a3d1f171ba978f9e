#!/usr/bin/env python3
"""The protocol floor of a batch: the same requests, one at a time.

Reads simulator request logs (one per simulator process of the fleet), takes
the authorized HTTP requests of the given paths sent in a time window, and
sends them again, in the same order, to fresh simulators of the same fleet:
one kept-alive connection per server address, each request only after the
previous answer is complete. Prints the seconds from the first request to the
last answer. With --fresh every request goes on a connection of its own,
closed after its answer, as the tool sends changes.

    replay.py LOG [LOG...] --from EPOCH_MS --to EPOCH_MS [--path /api/configure] [--fresh]
"""

import argparse
import base64
import http.client
import json
import sys
import time


def requests_in(log_paths, start_ms, end_ms, paths):
    chosen = []
    for number, log_path in enumerate(log_paths):
        with open(log_path, encoding="utf-8") as handle:
            chosen += [(number, entry) for entry in entries_of(handle, start_ms, end_ms, paths)]
    # One log keeps its own order; several are merged by time.
    chosen.sort(key=lambda item: (item[1]["time"], item[0], item[1]["seq"]) if len(log_paths) > 1
                else item[1]["seq"])
    return [entry for _, entry in chosen]


def entries_of(handle, start_ms, end_ms, paths):
    chosen = []
    for line in handle:
        entry = json.loads(line)
        if entry.get("kind") != "http" or not entry.get("authorized"):
            continue
        if entry.get("path") not in paths:
            continue
        if not start_ms / 1000.0 <= entry["time"] <= end_ms / 1000.0:
            continue
        chosen.append(entry)
    return chosen


def replay(entries, fresh=False):
    connections = {}
    started = time.perf_counter()
    for entry in entries:
        local = entry["local"]
        connection = None if fresh else connections.get(local)
        if connection is None:
            host, port = local.rsplit(":", 1)
            connection = http.client.HTTPConnection(host, int(port), timeout=10)
            if not fresh:
                connections[local] = connection
        target = entry["path"] + ("?" + entry["rawQuery"] if entry.get("rawQuery") else "")
        headers = {}
        auth = entry.get("auth") or {}
        if auth.get("scheme") == "basic":
            token = base64.b64encode(("%s:%s" % (auth["user"], auth["password"])).encode()).decode()
            headers["Authorization"] = "Basic " + token
        body = entry.get("body") or None
        connection.request(entry["method"], target, body=body.encode() if body else None, headers=headers)
        response = connection.getresponse()
        response.read()
        if response.status != 200:
            raise RuntimeError("%s %s answered %d" % (entry["method"], target, response.status))
        if fresh:
            connection.close()
        elif response.will_close:
            connection.close()
            del connections[local]
    elapsed = time.perf_counter() - started
    for connection in connections.values():
        connection.close()
    return elapsed


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("log", nargs="+")
    parser.add_argument("--from", dest="start", type=float, required=True, metavar="EPOCH_MS")
    parser.add_argument("--to", dest="end", type=float, required=True, metavar="EPOCH_MS")
    parser.add_argument("--path", action="append", default=None)
    parser.add_argument("--fresh", action="store_true", help="a connection of its own for every request")
    options = parser.parse_args(argv)
    entries = requests_in(options.log, options.start, options.end, set(options.path or ["/api/configure"]))
    if not entries:
        print("replay: no request in the window", file=sys.stderr)
        return 1
    seconds = replay(entries, options.fresh)
    print(json.dumps({"requests": len(entries), "seconds": seconds}))
    return 0


if __name__ == "__main__":
    sys.exit(main())
