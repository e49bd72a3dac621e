#!/usr/bin/env python3
"""Loopback HTTP server for the picture fetch tests.

Binds 127.0.0.1 on a free port and prints the port on the first line of
standard output. Ends when its standard input closes (the test is gone) or
after a fixed lifetime. Answers by path:

  /len/N            200, length header N, N pattern bytes
  /page/S/N         status S, length header N, N pattern bytes
  /chunked/N        200, chunked, no length header
  /slow/N           200, length header N, the body in four pieces with pauses
  /short/N          200, length header N, but only half the body, then close
  /negative/N       200, length header -N, N pattern bytes
  /hang             reads the request and never answers
  /redirect?to=L    302 to location L (percent-decoded), with a 1200-byte page
  /echo...          200, 1200 bytes starting with the raw request target
                    and the user agent, one per line
  /connections      200, 1200 bytes starting with the number of connections
                    accepted so far (this one included) and a newline
  /keepalive/N      200, length header N, N pattern bytes, then the
                    connection is kept open for another request; such
                    connections are served one at a time, like a small
                    server with a single worker
"""

import socket
import sys
import threading
import time
import urllib.parse

LIFETIME_S = 120
REQUEST_LIMIT = 65536
SOCKET_TIMEOUT_S = 30
SLOW_PAUSE_S = 0.15
PAGE_SIZE = 1200

connections = 0
single_worker = threading.Lock()


def pattern(n):
    return bytes(i % 251 for i in range(n))


def head(status, headers, close=True):
    lines = ["HTTP/1.1 %d X" % status] + headers + (["Connection: close"] if close else []) + ["", ""]
    return "\r\n".join(lines).encode("latin-1")


def send_page(conn, text):
    body = text + b"." * (PAGE_SIZE - len(text))
    conn.sendall(head(200, ["Content-Length: %d" % len(body)]) + body)


def read_request(conn):
    data = b""
    while b"\r\n\r\n" not in data and len(data) < REQUEST_LIMIT:
        chunk = conn.recv(4096)
        if not chunk:
            return None
        data += chunk
    return data


def answer(conn, request):
    lines = request.split(b"\r\n")
    target = lines[0].split(b" ")[1] if len(lines[0].split(b" ")) >= 2 else b""
    agent = b""
    for line in lines[1:]:
        if line.lower().startswith(b"user-agent:"):
            agent = line.split(b":", 1)[1].strip()
    path = target.decode("latin-1")
    parts = path.split("?")[0].split("/")

    if parts[1] == "len":
        n = int(parts[2])
        conn.sendall(head(200, ["Content-Length: %d" % n]) + pattern(n))
    elif parts[1] == "page":
        status, n = int(parts[2]), int(parts[3])
        conn.sendall(head(status, ["Content-Length: %d" % n]) + pattern(n))
    elif parts[1] == "chunked":
        body = pattern(int(parts[2]))
        conn.sendall(head(200, ["Transfer-Encoding: chunked"]))
        conn.sendall(b"%x\r\n" % len(body) + body + b"\r\n0\r\n\r\n")
    elif parts[1] == "slow":
        body = pattern(int(parts[2]))
        conn.sendall(head(200, ["Content-Length: %d" % len(body)]))
        quarter = (len(body) + 3) // 4
        for start in range(0, len(body), quarter):
            time.sleep(SLOW_PAUSE_S)
            conn.sendall(body[start:start + quarter])
    elif parts[1] == "short":
        n = int(parts[2])
        conn.sendall(head(200, ["Content-Length: %d" % n]) + pattern(n // 2))
    elif parts[1] == "negative":
        n = int(parts[2])
        conn.sendall(head(200, ["Content-Length: -%d" % n]) + pattern(n))
    elif parts[1] == "hang":
        conn.recv(1)  # returns when the client gives up, or times out
    elif parts[1] == "redirect":
        query = urllib.parse.parse_qs(path.split("?", 1)[1])
        page = pattern(PAGE_SIZE)
        conn.sendall(head(302, ["Location: " + query["to"][0], "Content-Length: %d" % len(page)]) + page)
    elif parts[1] == "echo":
        send_page(conn, target + b"\n" + agent + b"\n")
    elif parts[1] == "keepalive":
        n = int(parts[2])
        with single_worker:
            conn.sendall(head(200, ["Content-Length: %d" % n], close=False) + pattern(n))
            conn.recv(1)  # the worker is free again once the client closes
    elif parts[1] == "connections":
        send_page(conn, b"%d\n" % connections)
    else:
        conn.sendall(head(404, ["Content-Length: 0"]))


def serve(conn):
    with conn:
        try:
            conn.settimeout(SOCKET_TIMEOUT_S)
            request = read_request(conn)
            if request:
                answer(conn, request)
        except (OSError, ValueError, IndexError, KeyError):
            pass


def accept_forever(listener):
    global connections
    while True:
        conn, _ = listener.accept()
        connections += 1
        threading.Thread(target=serve, args=(conn,), daemon=True).start()


def main():
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(64)
    threading.Thread(target=accept_forever, args=(listener,), daemon=True).start()
    print(listener.getsockname()[1], flush=True)
    watcher = threading.Thread(target=sys.stdin.read, daemon=True)
    watcher.start()
    watcher.join(LIFETIME_S)


if __name__ == "__main__":
    main()
