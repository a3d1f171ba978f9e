"""Hostile peers: what each misbehaviour looks like on the wire."""

import base64
import json
import os
import socket
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from sim_harness import Fleet, FleetCase, api, ask, call, descriptions, wait_until  # noqa: E402

A = "127.0.0.61"
B = "127.0.0.62"
ID = "{bbbbbbbb-0000-0000-0000-000000000001}"
FLEET = {"servers": [
    {"id": ID, "name": "Mean", "systemName": "East", "addresses": [A], "port": 7301},
    {"name": "Plain", "systemName": "East", "addresses": [B], "port": 7302},
]}
AUTHORIZED = "GET /api/gettime HTTP/1.1\r\nHost: x\r\nAuthorization: Basic %s\r\n\r\n" % \
    base64.b64encode(b"admin:738").decode("ascii")
OPEN = "GET /api/gettime HTTP/1.1\r\nHost: x\r\n\r\n"


def raw(request, limit=1 << 20, timeout=2.0, address=A, port=7301):
    """Sends one request; returns what came back until `limit` bytes, the
    close, or `timeout` seconds."""
    deadline = time.monotonic() + timeout
    sock = socket.create_connection((address, port), timeout=timeout)
    try:
        sock.sendall(request.encode("latin-1"))
        received = bytearray()
        while len(received) < limit and time.monotonic() < deadline:
            sock.settimeout(max(0.01, deadline - time.monotonic()))
            try:
                data = sock.recv(65536)
            except socket.timeout:
                break
            if not data:
                break
            received += data
        return bytes(received)
    finally:
        sock.close()


class HostileCase(FleetCase):
    FLEET = FLEET


class Http(HostileCase):
    def test_closed_and_silent_ports(self):
        kept = socket.create_connection((A, 7301), timeout=2)
        self.addCleanup(kept.close)
        kept.sendall(AUTHORIZED.encode("latin-1"))
        self.assertTrue(kept.recv(65536).startswith(b"HTTP/1.1 200 OK"))
        self.fleet.knobs("Mean", http="closed")
        self.assertRaises(ConnectionRefusedError, socket.create_connection, (A, 7301), 1)
        self.assertEqual(kept.recv(1), b"")                          # what it served before ends too
        self.fleet.knobs("Mean", http="silent")
        first = socket.create_connection((A, 7301), timeout=1)
        self.addCleanup(first.close)
        first.sendall(OPEN.encode("latin-1"))
        self.assertRaises(socket.timeout, first.recv, 1)            # never accepted, never answered
        self.assertRaises(OSError, socket.create_connection, (A, 7301), 1)
        self.fleet.knobs("Mean", http="normal")
        self.assertEqual(call(A, 7301, "/api/gettime", password="738")[0], 200)
        self.assertEqual(self.fleet.state("Mean")["listening"], ["%s:7301" % A])

    def test_one_byte_at_a_time(self):
        self.fleet.knobs("Mean", dripMs=100)
        self.assertIn(len(raw(OPEN, timeout=0.45)), (4, 5))        # "HTTP"... and no more
        self.assertEqual(call(B, 7302, "/api/gettime", password="738")[0], 200)

    def test_endless_bodies(self):
        self.fleet.knobs("Mean", replyMode="endless")
        head, _, body = raw(AUTHORIZED, limit=3 << 20).partition(b"\r\n\r\n")
        self.assertIn(b"Content-Length: 1125899906842624", head)
        self.assertGreater(len(body), 2 << 20)
        self.fleet.knobs("Mean", replyMode="endlessChunked")
        head, _, body = raw(AUTHORIZED, limit=3 << 20).partition(b"\r\n\r\n")
        self.assertIn(b"Transfer-Encoding: chunked", head)
        self.assertTrue(body.startswith(b"10000\r\nxxxx"))
        self.assertGreater(len(body), 2 << 20)

    def test_endless_heads(self):
        self.fleet.knobs("Mean", replyMode="manyHeaders", headerLines=5000)
        head, _, body = raw(AUTHORIZED, limit=8 << 20).partition(b"\r\n\r\n")
        self.assertEqual(head.count(b"\r\nX-Filler-"), 5000)
        self.assertEqual(json.loads(body)["error"], "0")
        self.fleet.knobs("Mean", replyMode="endlessHeaderLine")
        answer = raw(AUTHORIZED, limit=2 << 20)
        self.assertEqual(answer.count(b"\r\n"), 1)
        self.assertGreaterEqual(len(answer), 2 << 20)
        self.fleet.knobs("Mean", replyMode="endlessStatusLine")
        answer = raw(AUTHORIZED, limit=2 << 20)
        self.assertTrue(answer.startswith(b"HTTP/1.1 200 xxx"))
        self.assertNotIn(b"\r", answer)

    def test_reset_halfway(self):
        self.fleet.knobs("Mean", replyMode="reset")
        sock = socket.create_connection((A, 7301), timeout=2)
        self.addCleanup(sock.close)
        sock.sendall(AUTHORIZED.encode("latin-1"))
        received = b""
        with self.assertRaises(ConnectionResetError):
            while True:
                data = sock.recv(65536)
                if not data:
                    break
                received += data
        head, _, body = received.partition(b"\r\n\r\n")
        self.assertLess(len(body), int(head.split(b"Content-Length: ")[1].split(b"\r\n")[0]))

    def test_garbage_body(self):
        self.fleet.knobs("Mean", replyMode="garbage")
        status, _, _, body = call(A, 7301, "/api/iflist", password="738")
        self.assertEqual((status, len(body)), (200, 4096))

    def test_unauthorized_forever(self):
        self.fleet.knobs("Mean", auth="never")
        self.assertEqual(call(A, 7301, "/api/gettime", password="738")[0], 401)
        self.fleet.knobs("Mean", challengeMode="endlessChunked")
        head, _, body = raw(OPEN, limit=2 << 20).partition(b"\r\n\r\n")
        self.assertTrue(head.startswith(b"HTTP/1.1 401 Unauthorized"))
        self.assertIn(b"Transfer-Encoding: chunked", head)
        self.assertGreater(len(body), 1 << 20)
        self.assertEqual([entry["status"] for entry in self.fleet.log()], [401, 401])

    def test_absurd_clock_and_zone(self):
        self.fleet.knobs("Mean", utcTime="-9223372036854775808", zoneId="../../../../proc/self/fd/0")
        reply = api(A, 7301, "/api/gettime", "738")["reply"]
        self.assertEqual(reply, {"utcTime": "-9223372036854775808", "timezoneId": "../../../../proc/self/fd/0"})


class Exchanges(HostileCase):
    """Answers that leave bytes behind, changes carried out unanswered."""

    SETTIME = "GET /api/settime?datetime=%d&timezone=Europe/Berlin HTTP/1.1\r\nHost: x\r\n" \
              "Authorization: Basic %s\r\n\r\n"

    def exchange(self, request, wait=0.3):
        return raw(request % (int(time.time() * 1000), base64.b64encode(b"admin:738").decode("ascii")),
                   timeout=wait)

    def test_trailing_modes_leave_a_second_answer(self):
        heads = {"lateResponse": b"HTTP/1.1 200 OK", "bodyAfter204": b"HTTP/1.1 204 No Content",
                 "bodyAfterEmpty": b"Content-Length: 0", "chunkedWithLength": b"Transfer-Encoding: chunked",
                 "spaceBeforeColon": b"Transfer-Encoding : chunked", "http10Chunked": b"HTTP/1.0 200 OK"}
        for mode, head in heads.items():
            with self.subTest(mode=mode):
                self.fleet.knobs("Mean", replyMode=mode, faultCommands=["settime"], trailMs=50)
                received = self.exchange(self.SETTIME)
                self.assertIn(head, received.partition(b"\r\n\r\n")[0])
                stray = received[received.rindex(b"HTTP/1.1 200 OK"):]
                self.assertEqual(received.count(b"HTTP/1."), 2)
                self.assertTrue(stray.endswith(b'{"error": "0", "errorString": "", "reply": {}}'))

    def test_change_carried_out_then_closed_unanswered(self):
        self.fleet.knobs("Mean", dropAnswer=["password"], dropHoldMs=200)
        started = time.monotonic()
        with self.assertRaises(ConnectionError):                     # closed without a byte
            call(A, 7301, "/api/configure?password=new&oldPassword=738", password="738")
        self.assertGreaterEqual(time.monotonic() - started, 0.2)
        self.assertEqual(self.fleet.state("Mean")["password"], "new")
        self.assertIsNone(self.fleet.log()[-1]["status"])
        # Only the first one: the next is answered.
        self.assertEqual(api(A, 7301, "/api/configure?password=738&oldPassword=new", "new")["error"], "0")

    def test_port_answered_and_kept(self):
        self.fleet.knobs("Mean", ignorePort=True)
        self.assertEqual(api(A, 7301, "/api/configure?port=7399&oldPassword=738", "738")["error"], "0")
        self.assertEqual(self.fleet.state("Mean")["port"], 7301)

    def test_error_of_any_type_changes_nothing(self):
        rename = "/api/configure?systemName=Other&oldPassword=738"
        for error in (1, True, "1.0", "0x1", 0, False, "0.0"):
            with self.subTest(error=error):
                self.fleet.knobs("Mean", error=error)
                self.assertEqual(api(A, 7301, rename, "738"), {"error": error})
                self.assertEqual(self.fleet.state("Mean")["systemName"], "East")
        self.fleet.knobs("Mean", error="0")
        self.assertEqual(api(A, 7301, rename, "738")["error"], "0")
        self.assertEqual(self.fleet.state("Mean")["systemName"], "Other")

    def test_reply_status_follows_the_change(self):
        self.fleet.knobs("Mean", replyStatus=500, faultCommands=["configure"])
        status, reason, _, _ = call(A, 7301, "/api/configure?systemName=Other&oldPassword=738", password="738")
        self.assertEqual((status, reason), (500, "Internal Server Error"))
        self.assertEqual(self.fleet.state("Mean")["systemName"], "Other")
        self.fleet.knobs("Mean", replyStatus=503)
        self.assertEqual(call(A, 7301, "/api/gettime", password="738")[:2], (200, "OK"))
        self.assertEqual(call(A, 7301, "/api/configure?port=7391&oldPassword=738", password="738")[:2],
                         (503, "Service Unavailable"))
        self.assertEqual(self.fleet.state("Mean")["port"], 7391)

    def test_delay_of_some_commands(self):
        self.fleet.knobs("Mean", delayMs=400, delayCommands=["gettime"])
        started = time.monotonic()
        api(A, 7301, "/api/iflist", "738")
        self.assertLess(time.monotonic() - started, 0.3)
        api(A, 7301, "/api/gettime", "738")
        self.assertGreaterEqual(time.monotonic() - started, 0.4)


class Discovery(HostileCase):
    def test_answers_a_limited_number_of_times(self):
        self.fleet.knobs("Mean", discoveryLimit=1)
        self.assertIn(ID, descriptions(ask(expected=2)))
        self.assertNotIn(ID, descriptions(ask(quiet=0.3)))

    def test_flapping(self):
        self.fleet.knobs("Mean", flapMs=300)
        seen = []
        for _ in range(8):
            seen.append(ID in descriptions(ask(quiet=0.15)))
        self.assertIn(True, seen)
        self.assertIn(False, seen)

    def test_many_ids_from_one_host(self):
        self.fleet.knobs("Mean", floodIds=500)
        answers = ask(expected=502, buffer=1 << 22)
        found = descriptions(answers)
        self.assertEqual(len(found), 502)
        self.assertEqual({sender for _, sender in answers}, {A, B})
        self.assertEqual(sum(sender == A for _, sender in answers), 501)

    def test_steady_stream_from_one_host(self):
        self.fleet.knobs("Mean", floodPerSecond=200)
        sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.addCleanup(sock.close)
        sock.bind(("127.0.0.1", 0))
        sock.sendto(b'{ magic: "7B938F06-ACF1-45f0-8303-98AA8057739A" }', ("239.255.11.11", 5007))
        sock.settimeout(1)
        started, count = time.monotonic(), 0
        while time.monotonic() - started < 1.0:
            data, sender = sock.recvfrom(65535)
            count += sender[0] == A
        self.assertGreater(count, 120)      # 200 a second, on a loaded machine
        self.assertLess(count, 300)
        self.fleet.knobs("Mean", floodPerSecond=0)

    def test_malformed_answers(self):
        self.fleet.knobs("Mean", answerMode="duplicateKeys", answerBytes=65000)
        data = [data for data, sender in ask(expected=2) if sender == A][0]
        self.assertGreater(len(data), 64000)
        self.assertTrue(data.startswith(b'{"k":[1],"k":[1],'))
        self.assertEqual(json.loads(data)["id"], ID)
        for mode in ("truncated", "garbage"):
            self.fleet.knobs("Mean", answerMode=mode)
            data = [data for data, sender in ask(expected=2) if sender == A][0]
            self.assertRaises(ValueError, lambda: json.loads(data.decode("utf-8")))

    def test_moves_port_and_address(self):
        state = self.fleet.update("Mean", port=7311, addresses=["127.0.0.63"])
        self.assertEqual(state["listening"], ["127.0.0.63:7311"])
        self.assertEqual(call("127.0.0.63", 7311, "/api/gettime", password="738")[0], 200)
        self.assertRaises(ConnectionRefusedError, socket.create_connection, (A, 7301), 1)
        description, sender = descriptions(ask(expected=2))[ID][0]
        self.assertEqual((description["port"], sender), (7311, "127.0.0.63"))


class Impostor(unittest.TestCase):
    def test_one_id_from_two_addresses(self):
        fleet = {"servers": [{"id": ID, "name": "Real", "addresses": [A], "password": "real"},
                             {"id": ID, "name": "Fake", "addresses": [B], "impostor": True}]}
        with Fleet(fleet) as running:
            answers = descriptions(ask(expected=2))[ID]
            self.assertEqual([(item["name"], sender) for item, sender in answers], [("Real", A), ("Fake", B)])
            self.assertEqual(call(B, 7001, "/api/gettime", password="738")[0], 200)
            self.assertEqual(running.state("Fake")["addresses"], [B])
        fleet["servers"].reverse()              # the impostor answers first
        with Fleet(fleet):
            answers = descriptions(ask(expected=2))[ID]
            self.assertEqual([item["name"] for item, _ in answers], ["Fake", "Real"])
        fleet["servers"][0]["impostor"] = False
        with self.assertRaises(RuntimeError):
            Fleet(fleet).start()


if __name__ == "__main__":
    unittest.main()
