"""Runs the simulator as a child process for the tests and talks to it."""

import base64
import http.client
import json
import os
import socket
import subprocess
import sys
import tempfile
import time
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SIMULATOR = os.path.join(ROOT, "tools", "peer-sim", "peer_sim.py")
REQUEST = b'{ magic: "7B938F06-ACF1-45f0-8303-98AA8057739A" }'
GROUP = ("239.255.11.11", 5007)
SO_RCVBUFFORCE = getattr(socket, "SO_RCVBUFFORCE", 33)  # Linux; not exported by Python


def wait_until(predicate, timeout=5.0, step=0.01):
    """Polls until predicate() is truthy; returns its last value."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value or time.monotonic() > deadline:
            return value
        time.sleep(step)


class Fleet:
    def __init__(self, description=None, arguments=()):
        self.description = description
        self.arguments = list(arguments)
        self.directory = tempfile.TemporaryDirectory()
        self.process = None
        self.control_port = None

    def path(self, name):
        return os.path.join(self.directory.name, name)

    def start(self):
        command = [sys.executable, SIMULATOR, "--ready-file", self.path("ready.json"),
                   "--log", self.path("requests.jsonl"), "--parent-pid", str(os.getpid())] + self.arguments
        if self.description is not None:
            with open(self.path("fleet.json"), "w", encoding="utf-8") as handle:
                if isinstance(self.description, str):
                    handle.write(self.description)
                else:
                    json.dump(self.description, handle)
            command += ["--fleet", self.path("fleet.json")]
        self.stderr = open(self.path("stderr.txt"), "w+", encoding="utf-8")
        self.process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=self.stderr)
        ready = wait_until(lambda: os.path.exists(self.path("ready.json"))
                           or self.process.poll() is not None, timeout=20)
        if not ready or not os.path.exists(self.path("ready.json")):
            text = self.error_text()
            self.stop()
            raise RuntimeError("simulator did not start: " + text)
        with open(self.path("ready.json"), encoding="utf-8") as handle:
            self.control_port = json.load(handle)["controlPort"]
        return self

    def error_text(self):
        self.stderr.seek(0)
        return self.stderr.read()

    def stop(self):
        if self.process and self.process.poll() is None:
            try:
                self.control("POST", "/shutdown")
                self.process.wait(5)
            except (OSError, subprocess.TimeoutExpired, RuntimeError):
                self.process.kill()
                self.process.wait()
        if self.process:
            self.stderr.close()
        self.directory.cleanup()

    def __enter__(self):
        return self.start()

    def __exit__(self, *error):
        self.stop()

    # --- control interface -------------------------------------------------

    def control(self, method, path, body=None):
        connection = http.client.HTTPConnection("127.0.0.1", self.control_port, timeout=10)
        try:
            data = json.dumps(body).encode("utf-8") if body is not None else None
            connection.request(method, path, body=data)
            response = connection.getresponse()
            result = json.loads(response.read().decode("utf-8"))
        finally:
            connection.close()
        if response.status != 200:
            raise RuntimeError(result.get("error", "status %d" % response.status))
        return result

    def servers(self):
        return self.control("GET", "/servers")["servers"]

    def state(self, key):
        return self.control("GET", "/servers/" + key)

    def update(self, key, **changes):
        return self.control("POST", "/servers/" + key, changes)

    def knobs(self, key, **knobs):
        return self.update(key, knobs=knobs)

    def log(self, kind="http"):
        return self.control("GET", "/log?kind=" + kind if kind else "/log")["entries"]


class FleetCase(unittest.TestCase):
    """Runs FLEET afresh for every test, as self.fleet."""
    FLEET = None

    def setUp(self):
        self.fleet = Fleet(self.FLEET).start()
        self.addCleanup(self.fleet.stop)


def call(address, port, path, method="GET", body=None, password=None, user="admin",
         timeout=5.0):
    """One HTTP request; returns (status, reason, headers, body)."""
    headers = {}
    if password is not None:
        token = base64.b64encode(("%s:%s" % (user, password)).encode("utf-8")).decode("ascii")
        headers["Authorization"] = "Basic " + token
    if body is not None and not isinstance(body, (bytes, str)):
        body = json.dumps(body)
        headers["Content-Type"] = "application/json"
    connection = http.client.HTTPConnection(address, port, timeout=timeout)
    try:
        connection.request(method, path, body=body, headers=headers)
        response = connection.getresponse()
        return response.status, response.reason, dict(response.getheaders()), response.read()
    finally:
        connection.close()


def api(address, port, path, password, **options):
    """An authenticated request whose answer must be a JSON object."""
    status, _, _, body = call(address, port, path, password=password, **options)
    if status != 200:
        raise AssertionError("status %d for %s" % (status, path))
    return json.loads(body.decode("utf-8"))


def ask(payload=REQUEST, expected=None, quiet=0.4, source="127.0.0.1", buffer=None,
        timeout=5.0, group=GROUP):
    """Sends one datagram to the group; returns [(answer, sender address)].

    Collects until `expected` answers arrived, or until `quiet` seconds pass
    without an answer."""
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    try:
        if buffer:
            try:
                sock.setsockopt(socket.SOL_SOCKET, SO_RCVBUFFORCE, buffer)
            except OSError:
                sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, buffer)
        sock.bind((source, 0))
        sock.sendto(payload, group)
        answers = []
        deadline = time.monotonic() + timeout
        while expected is None or len(answers) < expected:
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                break
            sock.settimeout(min(quiet, remaining) if expected is None else remaining)
            try:
                data, sender = sock.recvfrom(65535)
            except socket.timeout:
                break
            answers.append((data, sender[0]))
        return answers
    finally:
        sock.close()


def descriptions(answers):
    """Answers parsed as JSON, unwrapped from {"reply": ...}, keyed by id."""
    result = {}
    for data, sender in answers:
        parsed = json.loads(data.decode("utf-8"))
        parsed = parsed.get("reply", parsed)
        result.setdefault(parsed["id"], []).append((parsed, sender))
    return result
