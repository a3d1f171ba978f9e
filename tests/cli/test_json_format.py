"""The command's real JSON output against its documented schema.

Runs tessaly-config-cli (TESSALY_CLI) against a simulated fleet inside the
private network namespace, and validates every document it prints, and the
example of the manual page, against packaging/tessaly-config-cli.schema.json;
then checks what a schema cannot: times with their zone's offset, zones that
are IANA ids, counts that add up, and the exit status the document names.
"""

import datetime
import json
import os
import re
import subprocess
import sys
import tempfile
import time
import unittest
import zoneinfo

import jsonschema

ROOT = os.environ.get("TESSALY_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
COMMAND = os.environ.get("TESSALY_CLI", os.path.join(ROOT, "build", "bin", "tessaly-config-cli"))
SIM = os.path.join(ROOT, "tools", "peer-sim", "peer_sim.py")

# A server on two addresses, one that refuses names, one that keeps its old
# port, and a system locked to the default passwords.
FLEET = {"servers": [
    {"id": "{c11a0000-0000-4000-8000-000000000011}", "name": "Gate", "systemName": "Harbour",
     "addresses": ["127.0.0.11", "127.0.0.12"], "timezoneId": "Asia/Kolkata",
     "interfaces": [{"name": "eth0", "ipAddr": "127.0.0.11", "netMask": "255.0.0.0", "gateway": "127.0.0.1",
                     "dns_servers": "127.0.0.53"},
                    {"name": "eth1", "ipAddr": "127.0.0.12", "netMask": "255.255.255.0"}]},
    {"id": "{c11a0000-0000-4000-8000-000000000013}", "name": "Quay", "systemName": "Harbour",
     "addresses": ["127.0.0.13"], "knobs": {"refuse": ["systemName"], "refuseString": "Name is locked"}},
    {"id": "{c11a0000-0000-4000-8000-000000000014}", "name": "Crane", "systemName": "Harbour",
     "addresses": ["127.0.0.14"], "timeZoneOffset": -18000, "knobs": {"ignorePort": True}},
    {"id": "{c11a0000-0000-4000-8000-000000000021}", "name": "North", "systemName": "Warehouse",
     "addresses": ["127.0.0.21"], "password": "Vault-7"},
]}

ISO = "%Y-%m-%dT%H:%M:%S%z"


def manual_example():
    """The JSON example of the manual page, between its .EX and .EE."""
    with open(os.path.join(ROOT, "packaging", "tessaly-config-cli.1"), encoding="utf-8") as handle:
        page = handle.read()
    match = re.search(r"^\.SH \"?JSON FORMAT\"?$.*?^\.EX$\n(.*?)^\.EE$", page, re.S | re.M)
    if not match:
        raise AssertionError("the manual page has no example in its JSON FORMAT section")
    # roff escapes: \e is a backslash, \- a minus.
    return json.loads(match.group(1).replace("\\e", "\\").replace("\\-", "-"))


class JsonFormat(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if os.environ.get("TESSALY_PRIVATE_NET") != "1":
            raise unittest.SkipTest("starts a fleet: run inside scripts/netns.sh")
        with open(os.path.join(ROOT, "packaging", "tessaly-config-cli.schema.json"), encoding="utf-8") as handle:
            schema = json.load(handle)
        jsonschema.Draft202012Validator.check_schema(schema)
        cls.validator = jsonschema.Draft202012Validator(schema)
        cls.work = tempfile.TemporaryDirectory()
        fleet = os.path.join(cls.work.name, "fleet.json")
        with open(fleet, "w", encoding="utf-8") as handle:
            json.dump(FLEET, handle)
        ready = os.path.join(cls.work.name, "ready")
        cls.sim = subprocess.Popen([sys.executable, SIM, "--fleet", fleet, "--ready-file", ready,
                                    "--parent-pid", str(os.getpid())], stdout=subprocess.DEVNULL)
        deadline = time.monotonic() + 30
        while not os.path.exists(ready):
            if cls.sim.poll() is not None or time.monotonic() > deadline:
                raise RuntimeError("the simulated fleet did not start")
            time.sleep(0.05)

    @classmethod
    def tearDownClass(cls):
        cls.sim.terminate()
        cls.sim.wait(30)
        cls.work.cleanup()

    def run_command(self, *arguments, status):
        done = subprocess.run([COMMAND, *arguments, "--json", "--wait", "1.5"], stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, text=True, timeout=120)
        self.assertEqual(done.returncode, status, done.stderr)
        document = json.loads(done.stdout)
        self.assert_valid(document)
        if document["command"] == "apply":
            self.assertEqual(document["exitStatus"], status)
        return document

    def assert_valid(self, document):
        errors = sorted(self.validator.iter_errors(document), key=lambda error: list(error.absolute_path))
        self.assertFalse(errors, "\n".join("%s: %s" % (list(error.absolute_path), error.message) for error in errors))

    def assert_time(self, text, zone=None):
        moment = datetime.datetime.strptime(text, ISO)
        if zone:
            self.assertEqual(moment.utcoffset(), moment.astimezone(zoneinfo.ZoneInfo(zone)).utcoffset(), text)

    def assert_counts(self, document):
        outcomes = [row["outcome"] for row in document["results"]]
        self.assertEqual(document["counts"], {key: outcomes.count(key) for key in ("ok", "failed", "notSent")})

    def test_manual_example(self):
        example = manual_example()
        self.assert_valid(example)
        self.assert_counts(example)

    def test_list(self):
        document = self.run_command("list", status=0)
        servers = {server["name"]: server for server in document["servers"]}
        self.assertEqual(servers["Gate"]["addresses"], ["127.0.0.11", "127.0.0.12"])
        self.assertEqual(servers["North"]["login"]["state"], "passwordRejected")
        self.assertIsNotNone(servers["North"]["login"]["reason"])
        self.assertEqual(document["counts"], {"servers": 4, "loggedIn": 3})
        for server in document["servers"]:
            if server["login"]["state"] == "loggedIn":
                self.assert_time(server["time"], server["timeZone"])
        self.assert_time(document["generatedAt"])

    def test_a_run_with_every_outcome(self):
        # Quay refuses the name and North is locked: not sent.
        document = self.run_command("apply", "--all", "--set-time", "now", "--set-zone", "Europe/Paris",
                                    "--set-system-name", "Harbour", status=1)
        self.assert_counts(document)
        outcomes = {(row["name"], row["setting"]): row for row in document["results"]}
        self.assertEqual(outcomes[("Quay", "systemName")]["reasonCode"], "refused")
        self.assertEqual(outcomes[("Quay", "systemName")]["reason"], "Name is locked")
        self.assertEqual(outcomes[("North", "dateTime")]["outcome"], "notSent")
        self.assertEqual(outcomes[("North", "dateTime")]["reasonCode"], "passwordRejected")
        north = outcomes[("North", "systemName")]
        self.assertEqual((north["outcome"], north["value"], north["oldValue"]), ("notSent", "Harbour", "Warehouse"))
        for name in ("Gate", "Crane"):
            zone = outcomes[(name, "timeZone")]
            self.assertEqual((zone["outcome"], zone["value"]), ("ok", "Europe/Paris"))
            zoneinfo.ZoneInfo(zone["oldValue"])
            self.assert_time(outcomes[(name, "dateTime")]["value"], zone["value"])
            self.assert_time(outcomes[(name, "dateTime")]["oldValue"], zone["oldValue"])
        self.assertEqual(outcomes[("Gate", "timeZone")]["oldValue"], "Asia/Kolkata")
        # A server that gives only an offset: its Etc zone.
        self.assertEqual(outcomes[("Crane", "timeZone")]["oldValue"], "Etc/GMT+5")
        self.assert_time(document["startedAt"])

    def test_an_interface_change_with_its_old_values(self):
        document = self.run_command("apply", "--server", "127.0.0.12", "--set-ip",
                                    "eth1=127.0.0.12/255.255.0.0,dns=127.0.0.53", status=0)
        rows = {row["setting"]: row for row in document["results"]}
        self.assertEqual({key: (row["interface"], row["oldValue"], row["value"]) for key, row in rows.items()},
                         {"dhcp": ("eth1", "off", "off"), "address": ("eth1", "127.0.0.12", "127.0.0.12"),
                          "mask": ("eth1", "255.255.255.0", "255.255.0.0"), "dns": ("eth1", "", "127.0.0.53")})

    def test_a_port_the_server_does_not_announce(self):
        document = self.run_command("apply", "--server", "127.0.0.14", "--set-port", "7009", status=1)
        (row,) = document["results"]
        self.assertEqual((row["outcome"], row["reasonCode"], row["oldValue"]), ("failed", "portNotAnnounced", "7001"))

    def test_a_refused_selection(self):
        document = self.run_command("apply", "--server", "127.0.0.13", "--server", "127.0.0.99", "--system",
                                    "Warehouse", "--set-port", "7005", status=3)
        self.assertEqual([(item["target"], item["reasonCode"]) for item in document["unmatched"]],
                         [("--system Warehouse", "passwordRejected"), ("--server 127.0.0.99", "notFound")])
        self.assertEqual(document["results"], [])

    def test_a_dry_run(self):
        document = self.run_command("apply", "--system", "Harbour", "--dry-run", "--set-port", "7005", status=0)
        self.assertTrue(document["dryRun"])
        self.assertEqual(sorted(server["name"] for server in document["selected"]), ["Crane", "Gate", "Quay"])
        self.assertIsNone(document["startedAt"])


if __name__ == "__main__":
    unittest.main()
