"""A peer whose HTTP replies never end, for the transport benchmark.

    python3 hostile_peer.py MODE ADDRESS PORT

MODE: chunked401 or chunked200 (401 or 200 with an endless chunked body), headers (endless header
lines), headerline (one endless header line), statusline (an endless status
line). Prints "ready" once it listens, and "sent N" for every connection when
the client has gone. Run it only inside scripts/netns.sh.
"""

import os
import socket
import sys
import threading

HEADS = {
    "chunked401": (b"HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"x\"\r\n"
                   b"Transfer-Encoding: chunked\r\n\r\n", b"1000\r\n" + b"x" * 4096 + b"\r\n"),
    "chunked200": (b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n", b"1000\r\n" + b"x" * 4096 + b"\r\n"),
    "headers": (b"HTTP/1.1 200 OK\r\n", b"X-Filler: abcdefghijklmnopqrstuvwxyz\r\n"),
    "headerline": (b"HTTP/1.1 200 OK\r\nX-Filler: ", b"a" * 4096),
    "statusline": (b"HTTP/1.1 200 ", b"O" * 4096),
}


def serve(connection, head, chunk):
    block = chunk * max(1, 65536 // len(chunk))
    sent = 0
    try:
        connection.recv(65536)
        connection.sendall(head)
        while True:
            connection.sendall(block)
            sent += len(block)
    except OSError:
        pass
    finally:
        connection.close()
        print("sent %d" % sent, flush=True)


def main():
    if os.environ.get("TESSALY_PRIVATE_NET") != "1":
        sys.exit("hostile_peer: run inside scripts/netns.sh")
    mode, address, port = sys.argv[1], sys.argv[2], int(sys.argv[3])
    head, chunk = HEADS[mode]
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind((address, port))
    listener.listen(64)
    print("ready", flush=True)
    while True:
        connection, _ = listener.accept()
        threading.Thread(target=serve, args=(connection, head, chunk), daemon=True).start()


if __name__ == "__main__":
    main()
