#!/usr/bin/python3
"""A sender that does not wait for answers: logs on, then sends COUNT page
blocks GAP_MS apart while a thread of its own reads every answer, and prints
how many ACK CR it received.

  flood.py tcp HOST:PORT COUNT GAP_MS
  flood.py pty LINK COUNT GAP_MS   makes a pseudo-terminal, links its
                                   device to LINK for the terminal to open
                                   and waits for the terminal's first bytes

Blocks that arrive while an answer is due are purged by the terminal, as
they are meant to be; the count of ACKs is what a program must have counted
as accepted. Exits 1 when the logon fails.
"""
import os
import socket
import sys
import threading
import time

from tap_caller import block

ACK_CR = b"\x06\r"
LOGON_ACK = b"\x06\r\x1b[p\r"


def page_block(number):
    body = b"\x02" + str(1000 + number % 9000).encode() + b"\r"
    return block(body + b"FLOOD PAGE " + str(number).encode() + b"\r\x03")


class Line:
    def __init__(self, kind, where):
        self.sock = None
        self.master = None
        if kind == "tcp":
            host, port = where.rsplit(":", 1)
            deadline = time.monotonic() + 10
            while True:  # the terminal may not be listening yet
                try:
                    self.sock = socket.create_connection((host, int(port)), timeout=10)
                    break
                except ConnectionRefusedError:
                    if time.monotonic() > deadline:
                        raise
                    time.sleep(0.1)
            self.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            self.sock.settimeout(None)
        else:
            import tty

            # The device stays open here too: the master then never reads as
            # hung up, before the terminal has opened the line or after.
            self.master, self.slave = os.openpty()
            tty.setraw(self.slave)
            name = os.ttyname(self.slave)
            tmp = where + ".new"
            os.symlink(name, tmp)
            os.replace(tmp, where)

    def send(self, data):
        if self.sock:
            self.sock.sendall(data)
        else:
            os.write(self.master, data)

    def recv(self):
        try:
            return self.sock.recv(4096) if self.sock else os.read(self.master, 4096)
        except OSError:
            return b""


def main():
    kind, where, count, gap_ms = sys.argv[1], sys.argv[2], int(sys.argv[3]), float(sys.argv[4])
    line = Line(kind, where)
    received = bytearray()
    lock = threading.Lock()

    def reader():
        while True:
            data = line.recv()
            if not data:
                return
            with lock:
                received.extend(data)

    threading.Thread(target=reader, daemon=True).start()

    def wait_for(what, seconds, resend=None):
        deadline = time.monotonic() + seconds
        next_send = 0.0
        while time.monotonic() < deadline:
            if resend is not None and time.monotonic() >= next_send:
                line.send(resend)
                next_send = time.monotonic() + 1.0
            with lock:
                if what in received:
                    del received[: received.index(what) + len(what)]
                    return True
            time.sleep(0.01)
        return False

    # CR until the prompt comes (the terminal may still be opening the line).
    if not wait_for(b"ID=", 20, resend=b"\r"):
        print("no logon prompt")
        return 1
    line.send(b"\x1bPG1\r")
    if not wait_for(LOGON_ACK, 10):
        print("logon not accepted")
        return 1
    with lock:
        received.clear()
    start = time.monotonic()
    for number in range(count):
        line.send(page_block(number))
        pause = start + (number + 1) * gap_ms / 1000.0 - time.monotonic()
        if pause > 0:
            time.sleep(pause)
    # Every answer due has come once the line has been quiet for a second.
    size = -1
    while True:
        time.sleep(1.0)
        with lock:
            if len(received) == size:
                break
            size = len(received)
    with lock:
        acks = bytes(received).count(ACK_CR)
    print(acks)
    return 0


if __name__ == "__main__":
    sys.exit(main())
