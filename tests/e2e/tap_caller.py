"""The caller's side of the paging dialogue, byte by byte, for test scripts
that need what veldrin-sim does not do (a signal at an exact point, a
message left unfinished): a line given as an open descriptor."""
import os
import select
import sys
import time


def block(body):
    """A block's bytes: BODY (STX through its end character), checksum, CR."""
    total = sum(b if b < 128 else b - 256 for b in body) & 0xFFF
    return body + bytes(0x30 + (total >> shift & 0xF) for shift in (8, 4, 0)) + b"\r"


class Caller:
    def __init__(self, fd):
        self.fd = fd

    def read_until(self, want, seconds):
        """What the terminal sends until WANT is among it or time is up."""
        seen, end = b"", time.monotonic() + seconds
        while want not in seen and time.monotonic() < end:
            if select.select([self.fd], [], [], 0.2)[0]:
                seen += os.read(self.fd, 256)
        return seen

    def log_on(self, tries=10):
        """CR until the prompt comes, then ESC PG1 CR; exits when refused."""
        for _ in range(tries):
            os.write(self.fd, b"\r")
            if b"ID=" in self.read_until(b"ID=", 1):
                break
        else:
            sys.exit("no ID= prompt")
        os.write(self.fd, b"\x1bPG1\r")
        if b"\x06\r\x1b[p\r" not in self.read_until(b"\x1b[p\r", 3):
            sys.exit("no logon answer")

    def send(self, data):
        os.write(self.fd, data)
