"""Discovery answers as a tool on the network receives them."""

import json
import os
import socket
import struct
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from sim_harness import GROUP, REQUEST, Fleet, FleetCase, ask, descriptions  # noqa: E402

FLEET = {"servers": [
    {"id": "{aaaaaaaa-0000-0000-0000-000000000001}", "name": "One", "systemName": "East",
     "addresses": ["127.0.0.41"], "port": 7001},
    {"id": "{aaaaaaaa-0000-0000-0000-000000000002}", "name": "Two", "systemName": "East",
     "addresses": ["127.0.0.42", "127.0.0.43"], "port": 7002, "wrap": True, "typeKey": "type",
     "flags": "SF_timeCtrl"},
    {"id": "{aaaaaaaa-0000-0000-0000-000000000003}", "name": "Three", "systemName": "West",
     "addresses": ["127.0.0.44"], "port": 7003, "answerExtra": {"seed": "{aaaaaaaa-0000-0000-0000-0000000000ff}"}},
]}
ONE, TWO, THREE = (server["id"] for server in FLEET["servers"])


class DiscoveryCase(FleetCase):
    FLEET = FLEET


class Answers(DiscoveryCase):
    def test_each_server_answers_from_its_own_addresses(self):
        answers = ask(expected=4)
        self.assertEqual(len(answers), 4)
        found = descriptions(answers)
        self.assertEqual(sorted(sender for _, sender in found[TWO]), ["127.0.0.42", "127.0.0.43"])
        self.assertEqual([sender for _, sender in found[ONE]], ["127.0.0.41"])
        one = found[ONE][0][0]
        self.assertEqual(one["application"], "Media Server")
        self.assertEqual((one["name"], one["systemName"], one["port"]), ("One", "East", 7001))
        self.assertEqual(one["flags"], "SF_timeCtrl SF_IfListCtrl")
        self.assertEqual(found[THREE][0][0]["seed"], "{aaaaaaaa-0000-0000-0000-0000000000ff}")

    def test_wrapped_answer_with_type_key(self):
        for data, sender in ask(expected=4):
            if sender == "127.0.0.42":
                parsed = json.loads(data)
                self.assertEqual(list(parsed), ["reply"])
                self.assertEqual(parsed["reply"]["type"], "Media Server")
                self.assertNotIn("application", parsed["reply"])
                return
        self.fail("no answer from 127.0.0.42")

    def test_answers_go_to_the_asking_socket(self):
        answers = ask(expected=4, source="127.0.0.77")
        self.assertEqual(len(answers), 4)
        self.assertEqual(self.fleet.log("discovery")[-1]["from"].split(":")[0], "127.0.0.77")

    def test_only_the_exact_request_is_answered(self):
        changed = bytearray(REQUEST)
        changed[30] ^= 0x20                         # one letter's case
        for payload in (bytes(changed), REQUEST + b"\0", REQUEST + b"\n", REQUEST[:-1],
                        b" " + REQUEST, REQUEST.replace(b" ", b"", 1)):
            self.assertEqual(ask(payload, quiet=0.2), [], payload)
        self.assertEqual(len(ask(expected=4)), 4)
        exact = [entry["exact"] for entry in self.fleet.log("discovery")]
        self.assertEqual(exact, [False] * 6 + [True])


class Knobs(DiscoveryCase):
    def test_stop_and_restart_answering(self):
        self.fleet.knobs("One", discovery=False)
        self.assertNotIn(ONE, descriptions(ask(quiet=0.3)))
        self.fleet.knobs("One", discovery=True)
        self.assertIn(ONE, descriptions(ask(expected=4)))

    def test_alternating_addresses(self):
        self.fleet.knobs("Two", alternate=True)
        senders = []
        for _ in range(4):
            senders += [sender for _, sender in ask(expected=3)
                        if sender in ("127.0.0.42", "127.0.0.43")]
        self.assertEqual(len(senders), 4)
        self.assertEqual(senders[0::2], [senders[0]] * 2)
        self.assertEqual(senders[1::2], [senders[1]] * 2)
        self.assertNotEqual(senders[0], senders[1])

    def test_flags_change_shows_in_answers(self):
        self.fleet.update("One", flags="SF_AutoSystemName")
        self.assertEqual(descriptions(ask(expected=4))[ONE][0][0]["flags"], "SF_AutoSystemName")

    def test_broken_answers(self):
        self.fleet.knobs("One", answerMode="nonJson")
        self.fleet.knobs("Three", answerMode="foreign")
        answers = dict((sender, data) for data, sender in ask(expected=4))
        self.assertRaises(ValueError, json.loads, answers["127.0.0.41"])
        self.assertEqual(json.loads(answers["127.0.0.44"])["application"], "Storage Server")
        self.fleet.knobs("One", answerMode="oversize", answerBytes=50000)
        answers = dict((sender, data) for data, sender in ask(expected=4))
        self.assertEqual(len(answers["127.0.0.41"]), 50000)
        self.assertEqual(json.loads(answers["127.0.0.41"])["id"], ONE)


class OtherPort(unittest.TestCase):
    def test_listens_where_told(self):
        with Fleet({"servers": [{"addresses": ["127.0.0.45"]}]}, ["--discovery-port", "5107"]):
            self.assertEqual(ask(quiet=0.3), [])
            self.assertEqual([sender for _, sender in ask(expected=1, group=(GROUP[0], 5107))],
                             ["127.0.0.45"])


class Asker(unittest.TestCase):
    def test_asker_sends_the_request_to_the_group(self):
        listener = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.addCleanup(listener.close)
        listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        listener.bind(("0.0.0.0", GROUP[1]))
        listener.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP,
                            struct.pack("4s4s", socket.inet_aton(GROUP[0]), socket.inet_aton("127.0.0.1")))
        listener.settimeout(5)
        with Fleet({"servers": [], "askers": [{"address": "127.0.0.88", "intervalMs": 100}]}):
            heard = []
            while len(heard) < 2:
                data, sender = listener.recvfrom(1000)
                heard.append((data, sender[0]))
        self.assertEqual(heard, [(REQUEST, "127.0.0.88")] * 2)


class ScaleFleet(unittest.TestCase):
    def test_thousand_servers_answer_one_request(self):
        with Fleet(None, ["--generate", "1000", "--systems", "10", "--no-http"]) as fleet:
            answers = ask(expected=1000, buffer=16 * 1024 * 1024, timeout=20)
            stats = fleet.control("GET", "/stats")
        self.assertEqual(stats["answers"], 1000)
        self.assertEqual(stats["sendFailures"], 0)
        self.assertEqual(len(answers), 1000)
        found = descriptions(answers)
        self.assertEqual(len(found), 1000)
        self.assertEqual(len({description["systemName"] for [(description, _)] in found.values()}), 10)
        self.assertEqual(len({sender for [(_, sender)] in found.values()}), 1000)


if __name__ == "__main__":
    unittest.main()
