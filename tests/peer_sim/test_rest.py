"""The REST API as a client sees it: challenge, envelope, replies, changes."""

import json
import os
import socket
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from sim_harness import FleetCase, api, ask, call, descriptions, wait_until  # noqa: E402

A = "127.0.0.31"
B = "127.0.0.32"
FLEET = {"servers": [
    {"id": "{11111111-2222-3333-4444-555555555555}", "name": "Alpha", "systemName": "North",
     "addresses": [A], "port": 7201, "password": "secret", "timezoneId": "Asia/Tokyo",
     "flags": "SF_timeCtrl SF_IfListCtrl SF_AutoSystemName",
     "interfaces": [{"name": "eth0", "ipAddr": A, "mac": "02:00:00:00:00:31",
                     "netMask": "255.0.0.0", "gateway": "127.0.0.254",
                     "dns_servers": "127.0.0.53 127.0.0.54", "dhcp": False},
                    {"name": "eth1", "ipAddr": "192.168.7.10", "dhcp": True}]},
    {"name": "Beta", "systemName": "North", "addresses": [B], "port": 7202,
     "timeZoneOffset": 10800, "flags": ""},
]}


class RestCase(FleetCase):
    FLEET = FLEET


class Authentication(RestCase):
    def test_challenge_then_credentials(self):
        status, reason, headers, _ = call(A, 7201, "/api/gettime")
        self.assertEqual((status, reason), (401, "Unauthorized"))
        self.assertTrue(headers["WWW-Authenticate"].startswith("Basic realm="))

        status, reason, _, _ = call(A, 7201, "/api/gettime", password="wrong")
        self.assertEqual((status, reason), (401, "Unauthorized"))
        status, _, _, _ = call(A, 7201, "/api/gettime", password="secret", user="root")
        self.assertEqual(status, 401)
        status, _, _, _ = call(A, 7201, "/api/gettime", password="secret")
        self.assertEqual(status, 200)

        log = self.fleet.log()
        self.assertEqual([entry["auth"] and entry["auth"]["password"] for entry in log],
                         [None, "wrong", "secret", "secret"])
        self.assertEqual([entry["authorized"] for entry in log], [False, False, False, True])
        self.assertEqual([entry["status"] for entry in log], [401, 401, 401, 200])
        with open(self.fleet.path("requests.jsonl"), encoding="utf-8") as handle:
            written = [json.loads(line) for line in handle]
        self.assertEqual([entry for entry in written if entry["kind"] == "http"], log)

    def test_keep_alive_connection_serves_the_retry(self):
        import http.client
        connection = http.client.HTTPConnection(A, 7201, timeout=5)
        self.addCleanup(connection.close)
        connection.request("GET", "/api/iflist")
        first = connection.getresponse()
        first.read()
        connection.request("GET", "/api/iflist", headers={"Authorization": "Basic YWRtaW46c2VjcmV0"})
        second = connection.getresponse()
        self.assertEqual((first.status, second.status), (401, 200))
        self.assertEqual(len(json.loads(second.read())["reply"]), 2)

    def test_digest_when_asked_for(self):
        import urllib.request
        self.fleet.knobs("Alpha", auth="digest")
        status, _, headers, _ = call(A, 7201, "/api/gettime", password="secret")
        self.assertEqual(status, 401)   # Basic is no longer accepted
        self.assertTrue(headers["WWW-Authenticate"].startswith("Digest "))
        manager = urllib.request.HTTPPasswordMgrWithDefaultRealm()
        manager.add_password(None, "http://%s:7201/" % A, "admin", "secret")
        opener = urllib.request.build_opener(urllib.request.HTTPDigestAuthHandler(manager))
        reply = json.loads(opener.open("http://%s:7201/api/gettime" % A, timeout=5).read())
        self.assertEqual(reply["error"], "0")
        self.assertEqual(self.fleet.log()[-1]["auth"]["scheme"], "digest")


class Replies(RestCase):
    def test_gettime_honours_local(self):
        before = int(time.time() * 1000)
        local = api(A, 7201, "/api/gettime?local", "secret")
        plain = api(A, 7201, "/api/gettime", "secret")
        after = int(time.time() * 1000)
        self.assertEqual((local["error"], local["errorString"]), ("0", ""))
        self.assertEqual(local["reply"]["timezoneId"], "Asia/Tokyo")
        self.assertNotIn("timeZoneOffset", local["reply"])
        self.assertEqual(plain["reply"]["timeZoneOffset"], 9 * 3600)
        self.assertNotIn("timezoneId", plain["reply"])
        self.assertIsInstance(local["reply"]["utcTime"], str)
        self.assertTrue(before <= int(local["reply"]["utcTime"]) <= after)

    def test_offset_only_zone_and_clock_offset(self):
        self.fleet.update("Beta", clockOffsetMs=-3600000)
        reply = api(B, 7202, "/api/gettime?local", "738")["reply"]
        self.assertEqual(reply["timeZoneOffset"], 10800)
        self.assertNotIn("timezoneId", reply)
        self.assertAlmostEqual(int(reply["utcTime"]), time.time() * 1000 - 3600000, delta=2000)

    def test_iflist_reports_every_key(self):
        reply = api(A, 7201, "/api/iflist", "secret")["reply"]
        self.assertEqual([item["name"] for item in reply], ["eth0", "eth1"])
        self.assertEqual(reply[0], FLEET["servers"][0]["interfaces"][0])
        for item in reply:
            self.assertEqual(sorted(item), sorted(["name", "ipAddr", "mac", "netMask", "gateway",
                                                   "dns_servers", "dhcp"]))
        self.assertIs(reply[1]["dhcp"], True)

    def test_unknown_command_and_wrong_method(self):
        status, _, _, _ = call(A, 7201, "/api/reboot", password="secret")
        self.assertEqual(status, 404)
        status, _, _, _ = call(A, 7201, "/api/ifconfig", password="secret")
        self.assertEqual(status, 405)


class Changes(RestCase):
    def test_port_moves_after_the_answer(self):
        answer = api(A, 7201, "/api/configure?port=7301&oldPassword=secret", "secret")
        self.assertEqual(answer["error"], "0")
        self.assertTrue(_serves(A, 7301, "secret"))     # at once: the tool goes there next
        self.assertTrue(wait_until(lambda: not _serves(A, 7201, "secret")))
        self.assertRaises(ConnectionRefusedError, socket.create_connection, (A, 7201), 1)
        found = descriptions(ask(expected=2))
        self.assertEqual(found["{11111111-2222-3333-4444-555555555555}"][0][0]["port"], 7301)
        self.assertEqual(self.fleet.state("Alpha")["port"], 7301)

    def test_port_in_use_is_refused(self):
        other = socket.socket()
        self.addCleanup(other.close)
        other.bind((A, 7400))
        other.listen()
        refused = api(A, 7201, "/api/configure?port=7400&oldPassword=secret", "secret")
        self.assertEqual(refused["error"], "1")
        self.assertTrue(_serves(A, 7201, "secret"))
        self.assertEqual(self.fleet.state("Alpha")["port"], 7201)

    def test_password_needs_the_old_one_and_applies_to_later_requests(self):
        refused = api(A, 7201, "/api/configure?password=n3w&oldPassword=guess", "secret")
        self.assertEqual(refused["error"], "1")
        self.assertTrue(refused["errorString"])
        self.assertEqual(self.fleet.state("Alpha")["password"], "secret")

        accepted = api(A, 7201, "/api/configure?password=n3w&oldPassword=secret", "secret")
        self.assertEqual(accepted["error"], "0")
        self.assertEqual(call(A, 7201, "/api/gettime", password="secret")[0], 401)
        self.assertEqual(call(A, 7201, "/api/gettime", password="n3w")[0], 200)

    def test_system_name_drops_the_factory_marker(self):
        answer = api(A, 7201, "/api/configure?systemName=South%20Wing&oldPassword=secret", "secret")
        self.assertEqual(answer["error"], "0")
        found = descriptions(ask(expected=2))
        description = found["{11111111-2222-3333-4444-555555555555}"][0][0]
        self.assertEqual(description["systemName"], "South Wing")
        self.assertNotIn("SF_AutoSystemName", description["flags"])
        self.assertIn("SF_timeCtrl", description["flags"])
        query = self.fleet.log()[-1]["query"]
        self.assertEqual(query, [["systemName", "South Wing"], ["oldPassword", "secret"]])

    def test_settime_sets_clock_and_zone(self):
        target = int(time.time() * 1000) + 86400000
        answer = api(A, 7201, "/api/settime?datetime=%d&timezone=Europe/Lisbon" % target, "secret")
        self.assertEqual(answer["error"], "0")
        reply = api(A, 7201, "/api/gettime?local", "secret")["reply"]
        self.assertEqual(reply["timezoneId"], "Europe/Lisbon")
        self.assertAlmostEqual(int(reply["utcTime"]), target, delta=2000)

    def test_settime_on_offset_only_server_keeps_an_offset(self):
        self.fleet.update("Beta", flags="SF_timeCtrl")
        target = 1700000000000
        self.assertEqual(api(B, 7202, "/api/settime?datetime=%d&timezone=Asia/Kolkata" % target,
                             "738")["error"], "0")
        reply = api(B, 7202, "/api/gettime?local", "738")["reply"]
        self.assertEqual(reply["timeZoneOffset"], 19800)

    def test_settime_zone_forms(self):
        target = int(time.time() * 1000)

        def set_zone(zone):
            path = "/api/settime?datetime=%d&timezone=%s" % (target, zone)
            return api(A, 7201, path, "secret")["error"]

        self.assertEqual(set_zone("UTC-02:30"), "0")
        self.assertEqual(api(A, 7201, "/api/gettime", "secret")["reply"]["timeZoneOffset"], -9000)
        self.assertEqual(set_zone("UTC"), "0")
        self.assertEqual(set_zone("Nowhere/City"), "1")
        self.assertEqual(api(A, 7201, "/api/gettime?local", "secret")["reply"]["timezoneId"], "UTC")
        self.assertEqual(api(A, 7201, "/api/settime?datetime=0", "secret")["error"], "1")

    def test_ifconfig_shows_after_its_delay_and_moves_the_server(self):
        self.fleet.knobs("Alpha", ifconfigDelayMs=400)
        change = [{"name": "eth0", "ipAddr": "127.0.0.99", "netMask": "255.255.0.0",
                   "dns_servers": "127.0.0.8", "gateway": ""}]
        sent = time.monotonic()
        self.assertEqual(api(A, 7201, "/api/ifconfig", "secret", method="POST", body=change)["error"], "0")
        before = api(A, 7201, "/api/iflist", "secret")["reply"][0]
        self.assertEqual(before["ipAddr"], A)

        self.assertTrue(wait_until(lambda: _serves("127.0.0.99", 7201, "secret")))
        self.assertGreaterEqual(time.monotonic() - sent, 0.4)
        after = api("127.0.0.99", 7201, "/api/iflist", "secret")["reply"]
        self.assertEqual(after[0]["ipAddr"], "127.0.0.99")
        self.assertEqual((after[0]["netMask"], after[0]["dns_servers"], after[0]["gateway"]),
                         ("255.255.0.0", "127.0.0.8", ""))
        self.assertEqual(after[1]["ipAddr"], "192.168.7.10")
        self.assertRaises(ConnectionRefusedError, socket.create_connection, (A, 7201), 1)
        senders = [sender for _, sender in ask(expected=2)]
        self.assertIn("127.0.0.99", senders)
        self.assertNotIn(A, senders)
        self.assertEqual(json.loads(self.fleet.log()[0]["body"]), change)

    def test_ifconfig_refused_without_interface_control(self):
        answer = api(B, 7202, "/api/ifconfig", "738", method="POST", body=[{"name": "eth0", "dhcp": True}])
        self.assertEqual(answer["error"], "1")
        self.assertIs(self.fleet.state("Beta")["interfaces"][0]["dhcp"], False)

    def test_bad_ifconfig_values_are_refused(self):
        for change in ([{"name": "wlan9", "dhcp": True}], [{"name": "eth0", "ipAddr": "300.1.1.1"}],
                       [{"name": "eth0", "dhcp": "true"}], {"name": "eth0"}):
            answer = api(A, 7201, "/api/ifconfig", "secret", method="POST", body=change)
            self.assertEqual(answer["error"], "1", change)


class Knobs(RestCase):
    def test_refusing_one_kind_of_change(self):
        self.fleet.knobs("Alpha", refuse=["port"], refuseString="Not now")
        refused = api(A, 7201, "/api/configure?port=7301&oldPassword=secret", "secret")
        self.assertEqual((refused["error"], refused["errorString"]), ("1", "Not now"))
        accepted = api(A, 7201, "/api/configure?systemName=X&oldPassword=secret", "secret")
        self.assertEqual(accepted["error"], "0")
        self.assertEqual(self.fleet.state("Alpha")["port"], 7201)

    def test_error_with_and_without_text(self):
        self.fleet.knobs("Alpha", error="5", errorString="Busy", faultCommands=["configure"])
        answer = api(A, 7201, "/api/configure?systemName=X&oldPassword=secret", "secret")
        self.assertEqual(answer, {"error": "5", "errorString": "Busy"})
        self.assertEqual(self.fleet.state("Alpha")["systemName"], "North")
        self.assertEqual(api(A, 7201, "/api/gettime", "secret")["error"], "0")
        self.fleet.knobs("Alpha", errorString=None)
        self.assertEqual(api(A, 7201, "/api/configure?systemName=X&oldPassword=secret", "secret"),
                         {"error": "5"})

    def test_broken_replies(self):
        self.fleet.knobs("Alpha", replyMode="nonJson")
        body = call(A, 7201, "/api/gettime", password="secret")[3]
        self.assertRaises(ValueError, json.loads, body)
        self.fleet.knobs("Alpha", replyMode="truncated")
        body = call(A, 7201, "/api/gettime", password="secret")[3]
        self.assertRaises(ValueError, json.loads, body)
        self.assertTrue(body.startswith(b'{"error"'))
        self.fleet.knobs("Alpha", replyMode="keyless")
        self.assertNotIn("utcTime", api(A, 7201, "/api/gettime", "secret")["reply"])
        self.assertNotIn("mac", api(A, 7201, "/api/iflist", "secret")["reply"][1])
        self.fleet.knobs("Alpha", replyMode="oversize", oversizeBytes=3000000)
        self.assertGreater(len(call(A, 7201, "/api/iflist", password="secret")[3]), 3000000)

    def test_ifconfig_accepted_but_not_applied(self):
        self.fleet.knobs("Alpha", ifconfigApply=False, ifconfigDelayMs=0)
        answer = api(A, 7201, "/api/ifconfig", "secret", method="POST", body=[{"name": "eth0", "dhcp": True}])
        self.assertEqual(answer["error"], "0")
        time.sleep(0.2)     # nothing to wait for: the change must not show up at all
        self.assertIs(api(A, 7201, "/api/iflist", "secret")["reply"][0]["dhcp"], False)

    def test_hang_and_delay(self):
        self.fleet.knobs("Alpha", delayMs=800)
        started = time.monotonic()
        self.assertEqual(call(A, 7201, "/api/gettime")[0], 401)     # the challenge is not delayed
        self.assertLess(time.monotonic() - started, 0.8)
        started = time.monotonic()
        api(A, 7201, "/api/gettime", "secret")
        self.assertGreaterEqual(time.monotonic() - started, 0.8)

        self.fleet.knobs("Alpha", hang=True)
        with self.assertRaises(OSError):
            call(A, 7201, "/api/gettime", password="secret", timeout=0.5)
        self.assertIsNone(self.fleet.log()[-1]["status"])


def _serves(address, port, password):
    try:
        return call(address, port, "/api/gettime", password=password, timeout=1)[0] == 200
    except OSError:
        return False


if __name__ == "__main__":
    unittest.main()
