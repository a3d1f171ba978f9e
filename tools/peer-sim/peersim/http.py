"""A small HTTP/1.1 server on asyncio streams: keep-alive, Content-Length.

One event loop serves every simulated server, so a fleet costs sockets, not
threads.
"""

import asyncio
import http
import socket
import struct
from urllib.parse import unquote

REASONS = {200: "OK", 400: "Bad Request", 401: "Unauthorized", 404: "Not Found",
           405: "Method Not Allowed", 411: "Length Required", 413: "Payload Too Large",
           500: "Internal Server Error"}
MAX_BODY = 1024 * 1024


def reason_phrase(status):
    if status in REASONS:
        return REASONS[status]
    try:
        return http.HTTPStatus(status).phrase
    except ValueError:
        return "Unknown"


class Request:
    def __init__(self, method, target, version, headers, body, local, peer):
        self.method = method
        self.target = target
        self.version = version
        self.headers = headers          # lower-case names
        self.body = body
        self.local = local              # (address, port) the request came in on
        self.peer = peer
        self.path, _, self.raw_query = target.partition("?")

    def query(self):
        """Items in wire order; a bare key has the value None."""
        items = []
        if not self.raw_query:
            return items
        for part in self.raw_query.split("&"):
            key, equals, value = part.partition("=")
            items.append([unquote(key), unquote(value) if equals else None])
        return items

    def wants_close(self):
        connection = self.headers.get("connection", "").lower()
        if self.version == "HTTP/1.0":
            return connection != "keep-alive"
        return connection == "close"


class Response:
    def __init__(self, status=200, body=b"", content_type="application/json", headers=None):
        self.status = status
        self.body = body if isinstance(body, bytes) else body.encode("utf-8")
        self.content_type = content_type
        self.headers = list(headers or [])
        self.close = False
        self.after = None               # called once the answer has been written
        self.mode = "normal"            # or one of the hostile framings (fleet.FRAMING_MODES)
        self.drip_ms = 0                # write one byte per drip_ms
        self.header_lines = 10000       # for the "manyHeaders" framing
        self.trail_ms = 20              # until the stray answer of a trailing mode
        self.drop = False               # carried out; the connection ends unanswered

    def status_line(self):
        return "HTTP/1.1 %d %s" % (self.status, reason_phrase(self.status))

    def head(self, keep_alive, length=None, extra=()):
        lines = [self.status_line(), "Content-Type: %s" % self.content_type]
        if length is not None:
            lines.append("Content-Length: %d" % length)
        lines.append("Connection: %s" % ("keep-alive" if keep_alive else "close"))
        lines += ["%s: %s" % item for item in list(self.headers) + list(extra)]
        return ("\r\n".join(lines) + "\r\n\r\n").encode("latin-1")

    def trailing_head(self):
        if self.mode == "lateResponse":
            return self.head(True, len(self.body))
        if self.mode == "bodyAfter204":
            return b"HTTP/1.1 204 No Content\r\nConnection: keep-alive\r\n\r\n"
        if self.mode == "bodyAfterEmpty":
            return self.head(True, 0)
        if self.mode == "chunkedWithLength":
            return self.head(True, len(self.body), [("Transfer-Encoding", "chunked")])
        if self.mode == "spaceBeforeColon":
            return self.head(True, None, [("Transfer-Encoding ", "chunked")])
        # http10Chunked
        return self.head(True, None, [("Transfer-Encoding", "chunked")]).replace(b"HTTP/1.1", b"HTTP/1.0", 1)

    def trailing_body(self):
        if self.mode in ("bodyAfter204", "bodyAfterEmpty"):
            return b""
        if self.mode == "lateResponse":
            return self.body
        return b"%x\r\n%s\r\n0\r\n\r\n" % (len(self.body), self.body) if self.body else b"0\r\n\r\n"

    def encode(self, keep_alive):
        return self.head(keep_alive, len(self.body)) + self.body

    async def send(self, writer, keep_alive):
        """Writes the answer as its mode says; False when the connection must end."""
        if self.mode == "normal":
            await _write(writer, self.encode(keep_alive), self.drip_ms)
            return keep_alive
        if self.mode in TRAILING:
            await _write(writer, self.trailing_head() + self.trailing_body(), self.drip_ms)
            asyncio.get_running_loop().call_later(self.trail_ms / 1000, _stray, writer)
            return True
        filler = b"x" * 65536
        if self.mode == "endless":
            await _write(writer, self.head(False, 1 << 50), self.drip_ms)
            await _forever(writer, filler, self.drip_ms)
        elif self.mode == "endlessChunked":
            await _write(writer, self.head(False, None, [("Transfer-Encoding", "chunked")]), self.drip_ms)
            await _forever(writer, b"%x\r\n%s\r\n" % (len(filler), filler), self.drip_ms)
        elif self.mode == "manyHeaders":
            await _write(writer, (self.status_line() + "\r\n").encode("latin-1"), self.drip_ms)
            for number in range(self.header_lines):
                await _write(writer, b"X-Filler-%d: %s\r\n" % (number, b"y" * 64), self.drip_ms)
            await _write(writer, self.encode(False)[len(self.status_line()) + 2:], self.drip_ms)
        elif self.mode == "endlessHeaderLine":
            await _write(writer, (self.status_line() + "\r\nX-Filler: ").encode("latin-1"), self.drip_ms)
            await _forever(writer, filler, self.drip_ms)
        elif self.mode == "endlessStatusLine":
            await _write(writer, b"HTTP/1.1 %d " % self.status, self.drip_ms)
            await _forever(writer, filler, self.drip_ms)
        elif self.mode == "reset":
            data = self.encode(False)
            await _write(writer, data[:len(data) - max(1, len(self.body) // 2)], self.drip_ms)
            reset(writer)
        return False


# Modes whose answer is followed, trail_ms later, by a success answer nobody
# asked for.
TRAILING = ("lateResponse", "bodyAfter204", "bodyAfterEmpty", "chunkedWithLength", "spaceBeforeColon",
            "http10Chunked")
STRAY = b'{"error": "0", "errorString": "", "reply": {}}'


def _stray(writer):
    if not writer.is_closing():
        writer.write(b"HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: %d\r\n"
                     b"Connection: keep-alive\r\n\r\n%s" % (len(STRAY), STRAY))


async def _write(writer, data, drip_ms):
    if not drip_ms:
        writer.write(data)
        await writer.drain()
        return
    for index in range(len(data)):
        writer.write(data[index:index + 1])
        await writer.drain()
        await asyncio.sleep(drip_ms / 1000)


async def _forever(writer, data, drip_ms):
    """Writes until the client goes away."""
    while True:
        await _write(writer, data, drip_ms)


def reset(writer):
    """Ends the connection with a reset instead of an orderly close."""
    sock = writer.get_extra_info("socket")
    if sock is not None:
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    writer.transport.abort()


class Drop(Exception):
    """Raised by a handler to close the connection without any answer."""


class Hang(Exception):
    """Raised by a handler to keep the connection open and never answer."""


async def _read_request(reader, local, peer):
    line = await reader.readline()
    if not line:
        return None
    while line in (b"\r\n", b"\n"):
        line = await reader.readline()
        if not line:
            return None
    parts = line.decode("latin-1").strip().split()
    if len(parts) != 3:
        raise ValueError("bad request line")
    headers = {}
    while True:
        header = await reader.readline()
        if not header:
            return None
        if header in (b"\r\n", b"\n"):
            break
        name, _, value = header.decode("latin-1").partition(":")
        headers[name.strip().lower()] = value.strip()
    if "transfer-encoding" in headers:
        raise ValueError("only Content-Length bodies are read")
    length = int(headers.get("content-length", "0") or "0")
    if length < 0 or length > MAX_BODY:
        raise ValueError("body too large")
    body = await reader.readexactly(length) if length else b""
    return Request(parts[0], parts[1], parts[2], headers, body, local, peer)


async def serve_connection(reader, writer, handler, connections=None):
    """Runs requests of one connection through handler(request) -> Response;
    the connection is in `connections` while it is open."""
    if connections is not None:
        connections.add(writer)
    local = writer.get_extra_info("sockname")[:2]
    peer = writer.get_extra_info("peername")[:2]
    try:
        while True:
            try:
                request = await _read_request(reader, local, peer)
            except (ValueError, asyncio.IncompleteReadError, asyncio.LimitOverrunError):
                writer.write(Response(400, b"bad request", "text/plain").encode(False))
                await writer.drain()
                break
            if request is None:
                break
            try:
                response = await handler(request)
            except Drop:
                break
            except Hang:
                while await reader.read(65536):
                    pass
                break
            keep_alive = not (request.wants_close() or response.close)
            keep_alive = await response.send(writer, keep_alive)
            if response.after:
                response.after()
            if not keep_alive:
                break
    except (ConnectionError, OSError):
        pass
    finally:
        if connections is not None:
            connections.discard(writer)
        writer.close()


async def listen(address, port, handler, connections=None):
    return await asyncio.start_server(
        lambda reader, writer: serve_connection(reader, writer, handler, connections),
        host=address, port=port, reuse_address=True)
