"""The running fleet: servers, discovery, request log and control interface."""

import asyncio
import errno
import json
import os
import socket
import struct
import sys
import time
from urllib.parse import unquote

from . import fleet, http
from .server import SimServer

REQUEST = b'{ magic: "7B938F06-ACF1-45f0-8303-98AA8057739A" }'
GROUP = "239.255.11.11"
DISCOVERY_PORT = 5007
SEND_BUFFER = 4 * 1024 * 1024


def send_all(sock, data, target, attempts=2000):
    """Sends one datagram, waiting out a full send queue instead of dropping it."""
    for _ in range(attempts):
        try:
            sock.sendto(data, target)
            return True
        except OSError as error:
            if error.errno not in (errno.EAGAIN, errno.EWOULDBLOCK, errno.ENOBUFS):
                raise
            time.sleep(0.0005)
    return False


class Simulator:
    def __init__(self, servers, askers, options):
        self.options = options
        self.http_enabled = not options.no_http
        self.servers = [SimServer(description, self) for description in servers]
        self.asker_descriptions = askers
        self.entries = []
        self.log_file = open(options.log, "a", encoding="utf-8") if options.log else None
        self.senders = {}               # source address -> UDP socket
        self.tasks = set()
        self.stopped = asyncio.Event()
        self.stats = {"requests": 0, "answers": 0, "sendFailures": 0}

    # --- helpers for the servers ------------------------------------------

    def log(self, entry):
        entry["seq"] = len(self.entries)
        entry["time"] = time.time()
        self.entries.append(entry)
        if self.log_file:
            self.log_file.write(json.dumps(entry) + "\n")
            self.log_file.flush()

    def spawn(self, coroutine):
        task = asyncio.get_running_loop().create_task(coroutine)
        self.tasks.add(task)
        task.add_done_callback(self.tasks.discard)

    def later(self, delay_ms, callback):
        asyncio.get_running_loop().call_later(delay_ms / 1000, callback)

    async def listen(self, address, port, handler, connections=None):
        return await http.listen(address, port, handler, connections)

    def port_free(self, server, port):
        for other in self.servers:
            if other is not server and other.port == port and \
                    set(other.addresses) & set(server.addresses):
                return False
        for address in server.addresses:
            probe = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
            try:
                probe.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
                probe.bind((address, port))
            except OSError:
                return False
            finally:
                probe.close()
        return True

    def find(self, key):
        key = key.strip()
        for index, server in enumerate(self.servers):
            if key in (server.id, server.id.strip("{}"), server.name, str(index)) or \
                    key.lower() == server.id.strip("{}").lower():
                return server
        return None

    # --- discovery ---------------------------------------------------------

    def sender(self, address):
        sock = self.senders.get(address)
        if sock is None:
            sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, SEND_BUFFER)
            sock.bind((address, 0))
            self.senders[address] = sock
        return sock

    def on_datagram(self, data, sender):
        exact = data == REQUEST
        answers = 0
        if exact:
            self.stats["requests"] += 1
            for server in self.servers:
                sources = server.answer_sources()
                if not sources:
                    continue
                payload = server.answer()
                if server.knobs["floodPerSecond"]:
                    server.flood_target = sender
                    self.start_flood(server)
                for source in sources:
                    try:
                        sent = send_all(self.sender(source), payload, sender)
                    except OSError as error:
                        print("peer_sim: answer from %s to %s:%d failed: %s"
                              % (source, sender[0], sender[1], error), file=sys.stderr)
                        sent = False
                    if sent:
                        answers += 1
                    else:
                        self.stats["sendFailures"] += 1
                if not server.knobs["floodPerSecond"] and server.knobs["floodIds"] and not server.bursting:
                    server.bursting = True
                    self.spawn(self.burst(server, sources[0], sender))
            self.stats["answers"] += answers
        if not self.options.quiet_discovery:
            self.log({"kind": "discovery", "from": "%s:%d" % sender, "exact": exact,
                      "size": len(data), "answers": answers})

    async def send_answer(self, source, payload, target):
        """One answer datagram of a burst or flood, waiting out a full send queue without
        holding up the other servers; 1 when it went out."""
        try:
            sock = self.sender(source)
            for _ in range(2000):
                try:
                    sock.sendto(payload, target)
                    return 1
                except OSError as error:
                    if error.errno not in (errno.EAGAIN, errno.EWOULDBLOCK, errno.ENOBUFS):
                        break
                    await asyncio.sleep(0.0005)
        except OSError:
            pass
        self.stats["sendFailures"] += 1
        return 0

    async def burst(self, server, source, target):
        """The made-up answers to one request, handed out in slices so that
        the other servers of the fleet keep answering HTTP meanwhile."""
        try:
            for number, payload in enumerate(server.flood_answers()):
                self.stats["answers"] += await self.send_answer(source, payload, target)
                if number % 64 == 63:
                    await asyncio.sleep(0)
        finally:
            server.bursting = False

    def start_flood(self, server):
        if server.flooding:
            return
        server.flooding = True
        self.spawn(self.flood(server))

    async def flood(self, server):
        """Answers at floodPerSecond to the latest asker, as one server or,
        with floodIds, as that many made-up ones in turn."""
        number = 0
        started = time.monotonic()
        try:
            while server.knobs["floodPerSecond"] and server.addresses:
                made_up = server.flood_answers() if server.knobs["floodIds"] else [server.answer()]
                for payload in made_up:
                    rate = server.knobs["floodPerSecond"]
                    if not rate:
                        return
                    self.stats["answers"] += await self.send_answer(server.addresses[0], payload,
                                                                   server.flood_target)
                    number += 1
                    delay = started + number / rate - time.monotonic()
                    if delay > 0:
                        await asyncio.sleep(delay)
                    elif number % 100 == 0:
                        await asyncio.sleep(0)
        finally:
            server.flooding = False

    def open_listener(self):
        sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, SEND_BUFFER)
        sock.bind(("0.0.0.0", self.options.discovery_port))
        membership = struct.pack("4s4s", socket.inet_aton(self.options.group),
                                 socket.inet_aton("127.0.0.1"))
        sock.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP, membership)
        sock.setblocking(False)
        return sock

    def read_listener(self, sock):
        while True:
            try:
                data, sender = sock.recvfrom(65535)
            except (BlockingIOError, InterruptedError):
                return
            self.on_datagram(data, sender)

    async def run_asker(self, asker):
        """A host that only sends requests, like another tool on the network."""
        sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        sock.bind((asker["address"], 0))
        sock.setblocking(False)
        loop = asyncio.get_running_loop()
        loop.add_reader(sock.fileno(), lambda: _drain(sock))
        while True:
            try:
                sock.sendto(REQUEST, (self.options.group, self.options.discovery_port))
            except OSError as error:
                print("peer_sim: asker %s: %s" % (asker["address"], error), file=sys.stderr)
            await asyncio.sleep(asker["intervalMs"] / 1000)

    async def watch_parent(self, pid):
        """Stops the fleet once the process that started it is gone, so that
        a test that crashed leaves no simulator holding its addresses."""
        while process_alive(pid):
            await asyncio.sleep(0.5)
        self.stopped.set()

    # --- control interface -------------------------------------------------

    async def control(self, request):
        try:
            response = self._control(request)
            for server in self.servers:
                await server.moved()
        except (fleet.FleetError, ValueError) as error:
            return _json(400, {"error": str(error)})
        except OSError as error:
            return _json(400, {"error": "cannot listen: %s" % error.strerror})
        # A server's state is read once its move is done.
        return response() if callable(response) else response

    def _control(self, request):
        parts = [part for part in request.path.split("/") if part]
        method = request.method
        if parts == ["servers"] and method == "GET":
            return _json(200, {"servers": [server.state() for server in self.servers]})
        if len(parts) == 2 and parts[0] == "servers":
            server = self.find(unquote(parts[1]))
            if server is None:
                return _json(404, {"error": "no server %s" % unquote(parts[1])})
            if method == "POST":
                try:
                    changes = json.loads(request.body.decode("utf-8") or "{}")
                except ValueError:
                    raise fleet.FleetError("body: not valid JSON")
                server.update(changes)
                for address in server.addresses:
                    self.sender(address)
                return lambda: _json(200, server.state())
            return _json(200, server.state())
        if parts == ["log"] and method == "GET":
            query = dict(request.query())
            entries = self.entries[int(query.get("since") or 0):]
            if query.get("kind"):
                entries = [entry for entry in entries if entry["kind"] == query["kind"]]
            return _json(200, {"entries": entries, "next": len(self.entries)})
        if parts == ["log"] and method == "DELETE":
            self.entries.clear()
            return _json(200, {"next": 0})
        if parts == ["stats"]:
            return _json(200, dict(self.stats, servers=len(self.servers)))
        if parts == ["shutdown"] and method == "POST":
            response = _json(200, {"stopping": True})
            response.after = lambda: self.stopped.set()
            return response
        return _json(404, {"error": "unknown control request %s %s" % (method, request.path)})

    # --- running -----------------------------------------------------------

    async def run(self):
        loop = asyncio.get_running_loop()
        try:
            listener = self.open_listener()
        except OSError as error:
            raise OSError("cannot hear discovery on port %d: %s"
                          % (self.options.discovery_port, error.strerror)) from None
        loop.add_reader(listener.fileno(), lambda: self.read_listener(listener))
        for server in self.servers:
            for address in server.addresses:
                self.sender(address)
        if self.http_enabled:
            for number, server in enumerate(self.servers):
                try:
                    await server.start_http()
                except OSError as error:
                    raise OSError("servers[%d] (%s): cannot listen on port %d: %s"
                                  % (number, server.name, server.port, error.strerror)) from None
        control = await http.listen("127.0.0.1", self.options.control_port, self.control)
        control_port = control.sockets[0].getsockname()[1]
        for asker in self.asker_descriptions:
            self.spawn(self.run_asker(asker))
        if self.options.parent_pid:
            self.spawn(self.watch_parent(self.options.parent_pid))
        ready = {"controlPort": control_port, "pid": os.getpid(), "servers": len(self.servers)}
        if self.options.ready_file:
            temporary = self.options.ready_file + ".tmp"
            with open(temporary, "w", encoding="utf-8") as handle:
                json.dump(ready, handle)
            os.replace(temporary, self.options.ready_file)
        print("peer_sim: ready %s" % json.dumps(ready), flush=True)
        await self.stopped.wait()
        control.close()
        for server in self.servers:
            server.stop_http()
        loop.remove_reader(listener.fileno())
        listener.close()


def process_alive(pid):
    """Whether the process runs; one that has exited and waits to be reaped
    (a zombie) does not."""
    try:
        with open("/proc/%d/stat" % pid, encoding="ascii", errors="replace") as handle:
            return handle.read().rsplit(")", 1)[-1].split()[0] != "Z"
    except OSError:
        pass
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except PermissionError:
        pass
    return True


def _drain(sock):
    while True:
        try:
            sock.recvfrom(65535)
        except (BlockingIOError, InterruptedError):
            return


def _json(status, body):
    return http.Response(status, json.dumps(body))
