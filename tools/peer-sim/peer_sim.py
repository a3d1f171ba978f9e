#!/usr/bin/env python3
"""Simulated fleet of Media Servers: discovery answers and the REST API.

    peer_sim.py --fleet FILE [--generate N --systems K] [--control-port P]
                [--ready-file F] [--log F] [--no-http]

See README.md beside this file.
"""

import argparse
import asyncio
import os
import resource
import signal
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from peersim import fleet  # noqa: E402
from peersim.simulator import DISCOVERY_PORT, GROUP, Simulator  # noqa: E402


def parse_arguments(argv):
    parser = argparse.ArgumentParser(description="Simulated fleet of Media Servers.")
    parser.add_argument("--fleet", help="fleet description (JSON)")
    parser.add_argument("--generate", type=int, default=0, metavar="N",
                        help="add N generated servers")
    parser.add_argument("--systems", type=int, default=1, metavar="K",
                        help="spread generated servers over K systems")
    parser.add_argument("--control-port", type=int, default=0, metavar="P",
                        help="control interface port on 127.0.0.1 (default: any free port)")
    parser.add_argument("--ready-file", metavar="F",
                        help="written (JSON with controlPort) once everything listens")
    parser.add_argument("--log", metavar="F", help="append every request as a JSON line")
    parser.add_argument("--no-http", action="store_true",
                        help="answer discovery only (for very large fleets)")
    parser.add_argument("--quiet-discovery", action="store_true",
                        help="leave discovery requests out of the request log")
    parser.add_argument("--asker", action="append", default=[], metavar="ADDRESS",
                        help="also run a host that only sends requests from ADDRESS")
    parser.add_argument("--outside-namespace", action="store_true",
                        help="run even outside scripts/netns.sh (answers may reach the real network)")
    parser.add_argument("--discovery-port", type=int, default=DISCOVERY_PORT, metavar="PORT",
                        help="UDP port of the discovery group (default %(default)s)")
    parser.add_argument("--group", default=GROUP, metavar="ADDRESS",
                        help="discovery multicast group (default %(default)s)")
    parser.add_argument("--parent-pid", type=int, default=0, metavar="PID",
                        help="stop when the process PID is gone (a test that died)")
    options = parser.parse_args(argv)
    if not options.fleet and not options.generate:
        parser.error("give --fleet FILE or --generate N")
    return options


def raise_file_limit():
    # Every server address costs a UDP socket and an HTTP listener.
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    if soft != hard:
        resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))


def main(argv=None):
    options = parse_arguments(sys.argv[1:] if argv is None else argv)
    if os.environ.get("TESSALY_PRIVATE_NET") != "1" and not options.outside_namespace:
        print("peer_sim: run me inside a private network namespace: scripts/netns.sh COMMAND...",
              file=sys.stderr)
        return 2
    try:
        servers, askers = fleet.load(options.fleet, options.generate, options.systems)
        extra = [fleet.check_fleet({"askers": [{"address": address}]})[1][0]
                 for address in options.asker]
    except fleet.FleetError as error:
        print("peer_sim: %s" % error, file=sys.stderr)
        return 2
    raise_file_limit()
    simulator = Simulator(servers, askers + extra, options)

    async def run():
        loop = asyncio.get_running_loop()
        for number in (signal.SIGTERM, signal.SIGINT):
            loop.add_signal_handler(number, lambda: simulator.stopped.set())
        await simulator.run()

    try:
        asyncio.run(run())
    except OSError as error:
        print("peer_sim: %s" % error, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
