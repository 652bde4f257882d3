#!/usr/bin/env python3
"""A minimal upload sink for benchmarks: reads each request body, throws it
away and answers a valid upload reply. Prints its port on the first line."""
import json
import socket
import sys
import threading

REPLY = json.dumps({"success": True, "url": "http://127.0.0.1/bench"}).encode()


def serve(conn):
    with conn:
        buf = bytearray(1 << 20)
        view = memoryview(buf)
        head = b""
        while b"\r\n\r\n" not in head:
            chunk = conn.recv(65536)
            if not chunk:
                return
            head += chunk
        head, rest = head.split(b"\r\n\r\n", 1)
        length = 0
        expect = False
        for line in head.split(b"\r\n")[1:]:
            name, _, value = line.partition(b":")
            name = name.strip().lower()
            if name == b"content-length":
                length = int(value.strip())
            elif name == b"expect" and value.strip().lower() == b"100-continue":
                expect = True
        if expect:
            conn.sendall(b"HTTP/1.1 100 Continue\r\n\r\n")
        left = length - len(rest)
        while left > 0:
            n = conn.recv_into(view, min(left, len(buf)))
            if n == 0:
                return
            left -= n
        conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n"
                     b"Content-Length: %d\r\nConnection: close\r\n\r\n" % len(REPLY) + REPLY)


def main():
    server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind(("127.0.0.1", 0))
    server.listen(16)
    print(server.getsockname()[1], flush=True)
    while True:
        conn, _ = server.accept()
        threading.Thread(target=serve, args=(conn,), daemon=True).start()


if __name__ == "__main__":
    try:
        main()
    except KeyboardInterrupt:
        sys.exit(0)
