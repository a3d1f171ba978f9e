"""One simulated server: its settings, its discovery answer and its REST API."""

import asyncio
import base64
import hashlib
import ipaddress
import json
import os
import socket
import sys
import time
import uuid

from . import fleet
from .http import Drop, Hang, Response

ADMIN = "admin"
REALM = "tessaly-peer"
TYPE = "Media Server"


def real_now_ms():
    return int(time.time() * 1000)


def envelope(reply=None, error="0", error_string=""):
    body = {"error": error, "errorString": error_string}
    if reply is not None:
        body["reply"] = reply
    return body


def refusing(error):
    """Whether the error knob is set: "0" and "" are the ordinary answer."""
    return error is not None and not (isinstance(error, str) and error in ("", "0"))


class Refusal(Exception):
    """A request the server answers with a non-zero "error"."""


def _is_ipv4(text):
    try:
        ipaddress.IPv4Address(text)
        return True
    except ValueError:
        return False


def _is_mask(text):
    try:
        ipaddress.IPv4Network("0.0.0.0/" + text)
        return True
    except ValueError:
        return False


class SimServer:
    def __init__(self, description, simulator):
        self.sim = simulator
        self.id = description["id"]
        self.name = description["name"]
        self.system_name = description["systemName"]
        self.port = description["port"]
        self.flags = description["flags"]
        self.addresses = list(description["addresses"])
        self.wrap = description["wrap"]
        self.type_key = description["typeKey"]
        self.password = description["password"]
        self.clock_offset_ms = description["clockOffsetMs"]
        self.timezone_id = description["timezoneId"]
        self.timezone_offset = description["timeZoneOffset"]
        self.interfaces = [dict(item) for item in description["interfaces"]]
        self.knobs = dict(description["knobs"])
        self.answer_extra = dict(description["answerExtra"])
        self.listeners = {}             # (address, port) -> asyncio server
        self.connections = set()        # writers of the HTTP connections open now
        self.binding = {}               # (address, port) -> listener being set up
        self.moving_to = None           # the new port while its answer is on the way
        self.turn = 0                   # for answering from two addresses in turn
        self.nonces = set()
        self.impostor = description["impostor"]
        self.discovery_answers = 0      # counted against the discoveryLimit knob
        self.silent_sockets = []        # listeners that never accept ("http": "silent")
        self.restart = False            # HTTP must move after a control change
        self.flooding = False           # a flood of answers is under way
        self.bursting = False           # made-up answers to a request are going out
        self.flood_target = None        # where it goes: the latest asker
        self.dropped = 0                # answers dropped under the dropAnswer knob

    # --- state -------------------------------------------------------------

    def now_ms(self):
        return real_now_ms() + self.clock_offset_ms

    def state(self):
        return {
            "id": self.id, "name": self.name, "systemName": self.system_name,
            "port": self.port, "flags": self.flags, "addresses": list(self.addresses),
            "password": self.password, "interfaces": [dict(item) for item in self.interfaces],
            "clockOffsetMs": self.clock_offset_ms, "utcTimeMs": self.now_ms(),
            "timezoneId": self.timezone_id, "timeZoneOffset": self.timezone_offset,
            "knobs": dict(self.knobs),
            "listening": sorted("%s:%d" % key for key in self.listeners),
        }

    def update(self, changes):
        """Applies a control-interface change; raises FleetError naming the field."""
        if not isinstance(changes, dict):
            raise fleet.FleetError("body: expected a JSON object")
        allowed = ("name", "systemName", "flags", "password", "clockOffsetMs",
                   "timezoneId", "timeZoneOffset", "knobs", "answerExtra", "port", "addresses")
        for key in changes:
            if key not in allowed:
                raise fleet.FleetError("%s: cannot be changed here" % key)
        knobs = fleet.check_knobs("knobs", changes.get("knobs", {}), self.knobs)
        for key in ("name", "systemName", "flags", "password"):
            if key in changes:
                fleet.check_string(key, changes[key])
        if "clockOffsetMs" in changes:
            fleet.check_integer("clockOffsetMs", changes["clockOffsetMs"])
        if "timezoneId" in changes:
            fleet.check_zone("timezoneId", changes["timezoneId"])
        if "timeZoneOffset" in changes:
            fleet.check_integer("timeZoneOffset", changes["timeZoneOffset"], -14 * 3600, 14 * 3600)
        if "answerExtra" in changes and not isinstance(changes["answerExtra"], dict):
            raise fleet.FleetError("answerExtra: expected an object")
        if "port" in changes:
            fleet.check_integer("port", changes["port"], 1, 65535)
        if "addresses" in changes:
            addresses = changes["addresses"]
            if not isinstance(addresses, list) or not addresses:
                raise fleet.FleetError("addresses: expected a non-empty list of 127.x.x.x addresses")
            for index, address in enumerate(addresses):
                fleet.loopback_address("addresses[%d]" % index, address)
        # A move or a change of the HTTP behaviour takes effect before the
        # control interface answers (see moved()).
        self.restart = any(key in changes for key in ("port", "addresses")) or \
            knobs["http"] != self.knobs["http"]
        if "knobs" in changes:
            self.dropped = 0
        self.knobs = knobs
        self.port = changes.get("port", self.port)
        self.addresses = list(changes.get("addresses", self.addresses))
        self.name = changes.get("name", self.name)
        self.system_name = changes.get("systemName", self.system_name)
        self.flags = changes.get("flags", self.flags)
        self.password = changes.get("password", self.password)
        self.clock_offset_ms = changes.get("clockOffsetMs", self.clock_offset_ms)
        self.answer_extra = changes.get("answerExtra", self.answer_extra)
        if "timezoneId" in changes:
            self.timezone_id, self.timezone_offset = changes["timezoneId"], None
        if "timeZoneOffset" in changes:
            self.timezone_id, self.timezone_offset = None, changes["timeZoneOffset"]

    # --- discovery ---------------------------------------------------------

    def answer_sources(self):
        """Addresses to answer one request from."""
        if not self.knobs["discovery"] or not self.addresses:
            return []
        limit = self.knobs["discoveryLimit"]
        if limit is not None:
            if self.discovery_answers >= limit:
                return []
            self.discovery_answers += 1
        flap = self.knobs["flapMs"]
        if flap and (time.monotonic_ns() // 1000000 // flap) % 2 == 1:
            return []
        if self.knobs["alternate"] and len(self.addresses) > 1:
            self.turn += 1
            return [self.addresses[self.turn % 2]]
        return list(self.addresses)

    def answer(self, server_id=None, name=None):
        mode = self.knobs["answerMode"]
        server_id = server_id or self.id
        if mode == "nonJson":
            return b"Media Server " + server_id.encode("ascii")
        if mode == "garbage":
            return os.urandom(min(self.knobs["answerBytes"], 1024))
        description = {
            self.type_key: TYPE if mode != "foreign" else "Storage Server",
            "id": server_id, "name": name or self.name, "systemName": self.system_name,
            "port": self.port, "flags": self.flags, "version": "2.3.0.0",
        }
        description.update(self.answer_extra)
        data = {"reply": description} if self.wrap else description
        text = json.dumps(data).encode("utf-8")
        if mode == "oversize":
            description["padding"] = ""
            base = len(json.dumps(data).encode("utf-8"))
            description["padding"] = "x" * max(0, self.knobs["answerBytes"] - base)
            text = json.dumps(data).encode("utf-8")
        elif mode == "duplicateKeys":
            # A valid answer that names one key over and over before its own
            # keys: a parser that keeps every value pays for all of them.
            repeated = b'"k":[1],' * max(0, (self.knobs["answerBytes"] - len(text) - 1) // 8)
            text = b"{" + repeated + text[1:]
        elif mode == "truncated":
            text = text[:len(text) // 2]
        return text

    def flood_answers(self):
        """Answers as made-up servers: the same host with many ids."""
        result = []
        for number in range(self.knobs["floodIds"]):
            made_up = "{%s}" % uuid.uuid5(uuid.UUID(self.id.strip("{}")), "flood-%d" % number)
            result.append(self.answer(made_up, "%s %05d" % (self.name, number)))
        return result

    # --- HTTP listeners ----------------------------------------------------

    def serves(self, address, port):
        return port in (self.port, self.moving_to) and address in self.addresses

    async def bind(self, address, port):
        key = (address, port)
        if key in self.listeners:
            return
        # Requests that come in during a move all ask for the new port: they
        # share one attempt instead of racing each other for the address.
        pending = self.binding.get(key)
        if pending is None:
            pending = asyncio.ensure_future(self.sim.listen(address, port, self.handle, self.connections))
            self.binding[key] = pending
            try:
                self.listeners[key] = await pending
            finally:
                self.binding.pop(key, None)
        else:
            await asyncio.shield(pending)

    def unbind_stale(self):
        for key in list(self.listeners):
            if not self.serves(*key):
                self.listeners.pop(key).close()

    async def start_http(self):
        mode = self.knobs["http"]
        if mode != "normal":
            # Nothing it served before goes on either.
            for writer in list(self.connections):
                writer.close()
        if mode == "normal":
            for address in self.addresses:
                await self.bind(address, self.port)
        elif mode == "silent":
            # Listening with no room in the queue and never accepting: the
            # first connection hangs unanswered, later ones are never set up.
            for address in self.addresses:
                sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
                sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
                sock.bind((address, self.port))
                sock.listen(0)
                self.silent_sockets.append(sock)

    async def moved(self):
        """Follows a change of the "http" knob, the port or the addresses."""
        if self.restart and self.sim.http_enabled:
            self.restart = False
            self.stop_http()
            await self.start_http()

    async def serve_on(self, addresses, port):
        """Listens there before anyone is told to come; False when it cannot."""
        if not self.sim.http_enabled:
            return True
        try:
            for address in addresses:
                await self.bind(address, port)
        except OSError as error:
            print("peer_sim: %s cannot listen on port %d: %s" % (self.name, port, error),
                  file=sys.stderr)
            return False
        return True

    def stop_http(self):
        for server in self.listeners.values():
            server.close()
        self.listeners.clear()
        for sock in self.silent_sockets:
            sock.close()
        self.silent_sockets.clear()

    # --- REST --------------------------------------------------------------

    def _credentials(self, request):
        """(logged credentials, whether they are the server's)."""
        header = request.headers.get("authorization", "")
        scheme, _, value = header.partition(" ")
        scheme = scheme.lower()
        if scheme == "basic":
            try:
                user, _, password = base64.b64decode(value.strip()).decode("utf-8").partition(":")
            except (ValueError, UnicodeDecodeError):
                return {"scheme": "basic", "user": None, "password": None}, False
            ok = self.knobs["auth"] == "basic" and user == ADMIN and password == self.password
            return {"scheme": "basic", "user": user, "password": password}, ok
        if scheme == "digest":
            params = _digest_params(value)
            ok = self.knobs["auth"] == "digest" and self._digest_ok(request, params)
            return {"scheme": "digest", "user": params.get("username"), "password": None}, ok
        return None, False

    def _digest_ok(self, request, params):
        if params.get("username") != ADMIN or params.get("nonce") not in self.nonces:
            return False
        ha1 = _md5("%s:%s:%s" % (ADMIN, REALM, self.password))
        ha2 = _md5("%s:%s" % (request.method, params.get("uri", "")))
        if params.get("qop"):
            expected = _md5(":".join([ha1, params["nonce"], params.get("nc", ""),
                                      params.get("cnonce", ""), params["qop"], ha2]))
        else:
            expected = _md5("%s:%s:%s" % (ha1, params["nonce"], ha2))
        return expected == params.get("response")

    def _challenge(self):
        if self.knobs["auth"] == "digest":
            nonce = os.urandom(16).hex()
            self.nonces.add(nonce)
            value = 'Digest realm="%s", nonce="%s", qop="auth", algorithm=MD5' % (REALM, nonce)
        else:
            value = 'Basic realm="%s"' % REALM
        return Response(401, b'{"error": "401", "errorString": "Unauthorized"}',
                        headers=[("WWW-Authenticate", value)])

    async def handle(self, request):
        if not self.serves(*request.local):
            raise Drop()                # the server has moved away from here
        auth, ok = self._credentials(request)
        entry = {
            "kind": "http", "server": self.id, "name": self.name,
            "local": "%s:%d" % request.local, "method": request.method,
            "path": request.path, "query": request.query(), "rawQuery": request.raw_query,
            "auth": auth, "authorized": ok,
            "body": request.body.decode("utf-8", "replace"),
        }
        if self.knobs["hang"]:
            entry["status"] = None
            self.sim.log(entry)
            raise Hang()
        if not ok:
            entry["status"] = 401
            self.sim.log(entry)
            return self._shaped(self._challenge(), self.knobs["challengeMode"])
        response = self._dispatch(request)
        if self.moving_to is not None and not await self.serve_on(self.addresses, self.moving_to):
            self.moving_to = None
            self.unbind_stale()
            response = Response(200, json.dumps(envelope({}, "1", "Port is in use")))
        if response.drop:
            # Carried out, then the connection ends before any byte of an answer.
            entry["status"] = None
            self.sim.log(entry)
            if response.after:
                response.after()
            if self.knobs["dropHoldMs"]:
                await asyncio.sleep(self.knobs["dropHoldMs"] / 1000)
            raise Drop()
        entry["status"] = response.status
        self.sim.log(entry)
        delayed = self.knobs["delayCommands"]
        if self.knobs["delayMs"] and (delayed is None or self._command(request) in delayed):
            await asyncio.sleep(self.knobs["delayMs"] / 1000)
        return self._shaped(response, response.mode)

    def _shaped(self, response, mode):
        """The wire behaviour that goes with every answer of this server."""
        response.mode = mode
        response.drip_ms = self.knobs["dripMs"]
        response.header_lines = self.knobs["headerLines"]
        response.trail_ms = self.knobs["trailMs"]
        return response

    @staticmethod
    def _command(request):
        return request.path[len("/api/"):] if request.path.startswith("/api/") else None

    def _drops(self, command, request, body):
        """Whether this carried-out change goes unanswered (the dropAnswer knob)."""
        if body.get("error", "0") != "0":
            return False
        kinds = [command] if command in ("settime", "ifconfig") else \
            [key for key, _ in request.query() if key in ("systemName", "password", "port")]
        if not any(kind in self.knobs["dropAnswer"] for kind in kinds):
            return False
        limit = self.knobs["dropCount"]
        if limit is not None and self.dropped >= limit:
            return False
        self.dropped += 1
        return True

    def _dispatch(self, request):
        command = self._command(request)
        handlers = {"gettime": ("GET", self._gettime), "iflist": ("GET", self._iflist),
                    "settime": ("GET", self._settime), "configure": ("GET", self._configure),
                    "ifconfig": ("POST", self._ifconfig)}
        if command not in handlers:
            return Response(404, json.dumps(envelope(None, "1", "Unknown command")))
        method, handler = handlers[command]
        if request.method != method:
            return Response(405, json.dumps(envelope(None, "1", "Method not allowed")))
        faulty = self.knobs["faultCommands"] is None or command in self.knobs["faultCommands"]
        error = self.knobs["error"]
        if faulty and refusing(error):
            body = {"error": error}
            if self.knobs["errorString"] is not None:
                body["errorString"] = self.knobs["errorString"]
            return Response(200, json.dumps(body))
        try:
            body, after = handler(request)
        except Refusal as refusal:
            body, after = envelope({}, "1", str(refusal)), None
        response = Response(self.knobs["replyStatus"] if faulty else 200,
                            self._mangle(command, body) if faulty else json.dumps(body))
        response.drop = self._drops(command, request, body)
        if faulty and self.knobs["replyMode"] in fleet.FRAMING_MODES + fleet.TRAILING_MODES:
            response.mode = self.knobs["replyMode"]
        if after:
            response.after, response.close = after, True
        return response

    def _mangle(self, command, body):
        mode = self.knobs["replyMode"]
        if mode == "nonJson":
            return "<html><body>Service temporarily unavailable</body></html>"
        if mode == "truncated":
            text = json.dumps(body)
            return text[:len(text) // 2]
        if mode == "keyless":
            if command == "gettime":
                body["reply"] = {key: value for key, value in body["reply"].items()
                                 if key != "utcTime"}
            elif command == "iflist":
                body["reply"] = [{key: value for key, value in item.items() if key != "mac"}
                                 for item in body["reply"]]
            else:
                body = {}
        elif mode == "oversize":
            body["padding"] = "x" * self.knobs["oversizeBytes"]
        elif mode == "garbage":
            return os.urandom(4096)
        return json.dumps(body)

    def _refuse(self, kind):
        if kind in self.knobs["refuse"]:
            raise Refusal(self.knobs["refuseString"])

    def _gettime(self, request):
        local = any(key == "local" for key, _ in request.query())
        now = self.now_ms()
        reply = {"utcTime": str(now)}
        if local and self.timezone_id is not None:
            reply["timezoneId"] = self.timezone_id
        else:
            reply["timeZoneOffset"] = self.current_offset(now)
        if self.knobs["utcTime"] is not None:
            reply["utcTime"] = self.knobs["utcTime"]
        if self.knobs["zoneId"] is not None:
            reply.pop("timeZoneOffset", None)
            reply["timezoneId"] = self.knobs["zoneId"]
        return envelope(reply), None

    def current_offset(self, utc_ms):
        if self.timezone_id is None:
            return self.timezone_offset
        return fleet.zone_offset_seconds(self.timezone_id, utc_ms)

    def _iflist(self, request):
        return envelope([dict(item) for item in self.interfaces]), None

    def _settime(self, request):
        self._refuse("settime")
        if "SF_timeCtrl" not in self.flags:
            raise Refusal("Changing the date and time is not supported")
        query = dict(request.query())
        try:
            utc_ms = int(query.get("datetime") or "")
        except ValueError:
            raise Refusal("Invalid datetime")
        if utc_ms <= 0:
            raise Refusal("Invalid datetime")
        zone = query.get("timezone")
        if zone:
            try:
                fleet.check_zone("timezone", zone)
            except fleet.FleetError:
                raise Refusal("Unknown time zone")
        self.clock_offset_ms = utc_ms - real_now_ms()
        if zone:
            if self.timezone_id is not None:
                self.timezone_id = zone
            else:
                # A server that knows only offsets keeps the zone's offset.
                self.timezone_offset = fleet.zone_offset_seconds(zone, utc_ms)
        return envelope({}), None

    def _configure(self, request):
        query = dict(request.query())
        if query.get("oldPassword") != self.password:
            raise Refusal("Wrong old password")
        kinds = [key for key in ("systemName", "password", "port") if key in query]
        if not kinds:
            raise Refusal("Nothing to configure")
        for kind in kinds:
            self._refuse(kind)
        if "systemName" in query and not query["systemName"]:
            raise Refusal("Invalid system name")
        if "password" in query and not query["password"]:
            raise Refusal("Invalid password")
        port = None
        if "port" in query:
            try:
                port = int(query["port"] or "")
            except ValueError:
                raise Refusal("Invalid port")
            if not 0 < port < 65536:
                raise Refusal("Invalid port")
            if port != self.port and not self.sim.port_free(self, port):
                raise Refusal("Port %d is in use" % port)
        if "systemName" in query:
            self.system_name = query["systemName"]
            self.flags = " ".join(part for part in self.flags.split() if part != "SF_AutoSystemName")
        if "password" in query:
            self.password = query["password"]
        if port is not None and port != self.port and not self.knobs["ignorePort"]:
            self.moving_to = port
            return envelope({}), self.finish_move
        return envelope({}), None

    def finish_move(self):
        """Leaves the old port once the answer has gone out through it."""
        if self.moving_to is None:      # the move was called off meanwhile
            return
        self.port, self.moving_to = self.moving_to, None
        self.unbind_stale()

    def _ifconfig(self, request):
        self._refuse("ifconfig")
        if "SF_IfListCtrl" not in self.flags:
            raise Refusal("Interface configuration is not supported")
        try:
            changes = json.loads(request.body.decode("utf-8"))
        except (ValueError, UnicodeDecodeError):
            raise Refusal("Invalid JSON")
        if not isinstance(changes, list):
            raise Refusal("Expected an array of interfaces")
        names = [item["name"] for item in self.interfaces]
        for change in changes:
            if not isinstance(change, dict) or change.get("name") not in names:
                raise Refusal("Unknown interface")
            for key, value in change.items():
                if key == "dhcp":
                    valid = isinstance(value, bool)
                elif key in ("ipAddr", "netMask"):
                    valid = isinstance(value, str) and (_is_ipv4(value) if key == "ipAddr"
                                                        else _is_mask(value))
                elif key == "gateway":
                    valid = isinstance(value, str) and (value == "" or _is_ipv4(value))
                elif key == "dns_servers":
                    valid = isinstance(value, str) and all(_is_ipv4(part) for part in value.split())
                else:
                    valid = key == "name"
                if not valid:
                    raise Refusal("Invalid value of %s" % key)
        if self.knobs["ifconfigApply"]:
            self.sim.later(self.knobs["ifconfigDelayMs"],
                           lambda: self.sim.spawn(self.apply_interfaces(changes)))
        return envelope({}), None

    async def apply_interfaces(self, changes):
        addresses = list(self.addresses)
        for change in changes:
            interface = next(item for item in self.interfaces if item["name"] == change["name"])
            old_ip = interface["ipAddr"]
            interface.update({key: value for key, value in change.items() if key != "name"})
            new_ip = interface["ipAddr"]
            if new_ip == old_ip:
                continue
            if old_ip in addresses:
                index = addresses.index(old_ip)
                if fleet.is_loopback(new_ip) and new_ip not in addresses:
                    addresses[index] = new_ip
                else:
                    del addresses[index]
            elif fleet.is_loopback(new_ip) and new_ip not in addresses:
                addresses.append(new_ip)
        # Discovery announces the new address only once HTTP listens there.
        await self.serve_on(addresses, self.port)
        self.addresses = addresses
        self.unbind_stale()


def _md5(text):
    return hashlib.md5(text.encode("utf-8")).hexdigest()


def _digest_params(text):
    params = {}
    for part in _split_params(text):
        key, _, value = part.partition("=")
        params[key.strip().lower()] = value.strip().strip('"')
    return params


def _split_params(text):
    parts, current, quoted = [], "", False
    for char in text:
        if char == '"':
            quoted = not quoted
        if char == "," and not quoted:
            parts.append(current)
            current = ""
        else:
            current += char
    if current.strip():
        parts.append(current)
    return parts
