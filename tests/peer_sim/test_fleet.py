"""Fleet descriptions: bad input is named, generated fleets are usable."""

import os
import socket
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from sim_harness import ROOT, SIMULATOR, Fleet, wait_until  # noqa: E402

sys.path.insert(0, os.path.join(ROOT, "tools", "peer-sim"))

from peersim import fleet  # noqa: E402
from peersim.simulator import process_alive  # noqa: E402


class BadDescriptions(unittest.TestCase):
    CASES = [
        ({"servers": [{}, {"port": "7001"}]}, "servers[1].port"),
        ({"servers": [{"port": 70000}]}, "servers[0].port"),
        ({"servers": [{"id": "not-a-uuid"}]}, "servers[0].id"),
        ({"servers": [{"addresses": ["10.0.0.1"]}]}, "servers[0].addresses[0]"),
        ({"servers": [{"addresses": []}]}, "servers[0].addresses"),
        ({"servers": [{"timezoneId": "Mars/Olympus"}]}, "servers[0].timezoneId"),
        ({"servers": [{"timezoneId": "UTC", "timeZoneOffset": 0}]}, "servers[0].timeZoneOffset"),
        ({"servers": [{"interfaces": [{"name": "eth0", "dhcp": "yes"}]}]}, "servers[0].interfaces[0].dhcp"),
        ({"servers": [{"interfaces": [{"name": "a"}, {"name": "a"}]}]}, "servers[0].interfaces"),
        ({"servers": [{"knobs": {"replyMode": "garbled"}}]}, "servers[0].knobs.replyMode"),
        ({"servers": [{"knobs": {"refuse": ["reboot"]}}]}, "servers[0].knobs.refuse[0]"),
        ({"servers": [{"knobs": {"faultCommands": ["gettime", "time"]}}]}, "servers[0].knobs.faultCommands[1]"),
        ({"servers": [{"nmae": "typo"}]}, "servers[0].nmae"),
        ({"servers": [{"id": "{00000000-0000-0000-0000-000000000001}"},
                      {"id": "00000000-0000-0000-0000-000000000001"}]}, "servers[1].id"),
        ({"servers": [{"addresses": ["127.0.0.9"]}, {"addresses": ["127.0.0.9"]}]}, "servers[1].addresses"),
        ({"askers": [{"address": "8.8.8.8"}]}, "askers[0].address"),
        ({"servers": {}}, "servers"),
        ([], "fleet"),
    ]

    def test_error_names_the_field(self):
        for description, field in self.CASES:
            with self.assertRaises(fleet.FleetError, msg=field) as caught:
                fleet.check_fleet(description)
            self.assertTrue(str(caught.exception).startswith(field + ":"), str(caught.exception))

    def test_simulator_refuses_to_start(self):
        for text, expected in (('{"servers": [{"flags": 3}]}', "servers[0].flags"),
                               ('{"servers": [', "not valid JSON")):
            fleet_file = Fleet(text)
            with self.assertRaises(RuntimeError) as caught:
                fleet_file.start()
            self.assertIn(expected, str(caught.exception))
            self.assertEqual(fleet_file.process.returncode, 2)

    def test_missing_file(self):
        result = subprocess.run([sys.executable, SIMULATOR, "--fleet", "/nonexistent/fleet.json"],
                                capture_output=True, text=True, timeout=30)
        self.assertEqual(result.returncode, 2)
        self.assertIn("/nonexistent/fleet.json", result.stderr)

    def test_busy_port_is_named(self):
        busy = socket.socket()
        self.addCleanup(busy.close)
        busy.bind(("127.0.0.66", 7001))
        busy.listen()
        with self.assertRaises(RuntimeError) as caught:
            Fleet({"servers": [{"addresses": ["127.0.0.65"]}, {"addresses": ["127.0.0.66"]}]}).start()
        self.assertIn("servers[1]", str(caught.exception))

    def test_stops_when_its_parent_is_gone(self):
        # A parent that starts the fleet, sees it ready and dies, as a test
        # that crashed.
        directory = tempfile.TemporaryDirectory()
        self.addCleanup(directory.cleanup)
        ready = os.path.join(directory.name, "ready.json")
        starter = ("import os, subprocess, sys, time\n"
                   "p = subprocess.Popen([sys.executable, %r, '--generate', '1', '--ready-file', %r,\n"
                   "                      '--parent-pid', str(os.getpid())], stdout=subprocess.DEVNULL)\n"
                   "while not os.path.exists(%r) and p.poll() is None: time.sleep(0.01)\n"
                   "print(p.pid if p.poll() is None else -1)\n" % (SIMULATOR, ready, ready))
        child = int(subprocess.run([sys.executable, "-c", starter], capture_output=True, text=True,
                                   check=True, timeout=30).stdout)
        self.assertGreater(child, 0)
        self.assertTrue(wait_until(lambda: not process_alive(child), timeout=10))

    def test_refuses_the_host_network(self):
        environment = {key: value for key, value in os.environ.items() if key != "TESSALY_PRIVATE_NET"}
        result = subprocess.run([sys.executable, SIMULATOR, "--generate", "1"], env=environment,
                                capture_output=True, text=True, timeout=30)
        self.assertEqual(result.returncode, 2)
        self.assertIn("netns.sh", result.stderr)


class Defaults(unittest.TestCase):
    def test_interfaces_and_addresses_follow_each_other(self):
        servers, _ = fleet.check_fleet({"servers": [
            {"interfaces": [{"name": "lan", "ipAddr": "127.0.0.60"},
                            {"name": "wan", "ipAddr": "192.168.1.60"}]},
            {"addresses": ["127.0.0.61", "127.0.0.62"]},
        ]})
        self.assertEqual(servers[0]["addresses"], ["127.0.0.60"])
        self.assertEqual([item["ipAddr"] for item in servers[1]["interfaces"]], ["127.0.0.61"])
        macs = [item["mac"] for server in servers for item in server["interfaces"]]
        self.assertEqual(len(set(macs)), 3)

    def test_generated_fleet(self):
        servers, _ = fleet.check_fleet({"servers": [{"addresses": ["127.0.0.2"], "port": 9000}]},
                                       fleet.generate(600, 7))
        generated = servers[1:]
        self.assertEqual(len(generated), 600)
        self.assertEqual(len({server["systemName"] for server in generated}), 7)
        self.assertEqual(len({server["id"] for server in servers}), 601)
        addresses = [server["addresses"][0] for server in servers]
        self.assertEqual(len(set(addresses)), 601)
        self.assertTrue(all(fleet.is_loopback(address) and not address.endswith((".0", ".1", ".255"))
                            for address in addresses))
        self.assertEqual(fleet.generate(3, 2), fleet.generate(3, 2))


class DemoFleet(unittest.TestCase):
    """The demo shows what its README promises."""

    def test_demo_fleet_has_its_cases(self):
        path = os.path.join(ROOT, "tools", "peer-sim", "fleets", "demo.json")
        servers, askers = fleet.load(path)
        systems = {server["systemName"] for server in servers}
        self.assertEqual(len(systems), 3)
        self.assertEqual(len(servers), 8)
        factory = [server for server in servers if "SF_AutoSystemName" in server["flags"]]
        self.assertEqual(len(factory), 1)
        self.assertTrue(any(len(server["interfaces"]) == 2 for server in servers))
        self.assertTrue(any("SF_IfListCtrl" not in server["flags"] for server in servers))
        refusing = {server["systemName"] for server in servers
                    if server["password"] not in ("738", "morvy")}
        self.assertEqual(len(refusing), 1)
        for system in refusing:
            members = [server for server in servers if server["systemName"] == system]
            self.assertEqual(len({server["password"] for server in members}), 1)
            with open(os.path.join(ROOT, "README.md"), encoding="utf-8") as handle:
                readme = handle.read()
            self.assertIn(members[0]["password"], readme.split("## Demo", 1)[1])
        self.assertEqual(len(askers), 1)


if __name__ == "__main__":
    unittest.main()
