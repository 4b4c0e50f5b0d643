"""volnex --headless against readers of its standard output that a shell
pipeline or a supervisor may give it: one that never reads, one that goes,
and --exit-after with a caller that pages back to back. Each check starts
the program itself (its standard output a pipe this script holds), calls
it on the line, and compares what the caller got with the records.
Usage: output_checks.py CHECK VOLNEX PROFILE CALLER_TTY ERR_FILE
Prints what it found; exits 1 with the reason when a rule is broken."""
import json
import os
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from tap_caller import Caller, block  # noqa: E402

ANSWERS = {b"\x06\r": "ACK", b"\x1e\r": "RS", b"\x15\r": "NAK", b"\x1b\x04\r": "END"}


def start(volnex, profile, err, *options):
    return subprocess.Popen([volnex, "--headless", "--profile", profile, *options],
                            stdout=subprocess.PIPE, stderr=err)


def call(tty):
    caller = Caller(os.open(tty, os.O_RDWR | os.O_NOCTTY))
    caller.log_on()
    return caller


def page(caller, n, seconds=5):
    """Sends page N; the answer the caller got (None: none in time)."""
    caller.send(block(b"\x027\rPAGE %d\r\x03" % n))
    got = caller.read_until(b"\r", seconds)
    return next((name for start, name in ANSWERS.items() if got.startswith(start)), None)


def records_of(text):
    return [json.loads(line) for line in text.decode().splitlines()]


def fail(why):
    print("      " + why)
    sys.exit(1)


def same_answers(answers, records):
    """Every ACKed page has its record, and every record says what the
    caller got."""
    said = {r["message"]: r["answer"] for r in records}
    for n, answer in answers.items():
        if answer == "ACK" and said.get("PAGE %d" % n) != "ACK":
            fail("page %d was acknowledged; its record: %r" % (n, said.get("PAGE %d" % n)))
        if "PAGE %d" % n in said and said["PAGE %d" % n] != answer:
            fail("page %d: the caller got %s, the record says %s"
                 % (n, answer, said["PAGE %d" % n]))


def reader_never_reads(volnex, profile, tty, err):
    proc = start(volnex, profile, err)
    caller = call(tty)
    answers, n, start_time = {}, 0, time.monotonic()
    # Until well past the point where the pipe is full and a record has
    # waited its two seconds.
    while time.monotonic() - start_time < 6 or "RS" not in answers.values():
        n += 1
        answers[n] = page(caller, n)
        if answers[n] is None:
            fail("page %d got no answer: the line froze" % n)
        if time.monotonic() - start_time > 30:
            break
    proc.send_signal(signal.SIGTERM)  # a signal works while the pipe is full
    if not caller.read_until(b"\x1b\x04\r", 5).endswith(b"\x1b\x04\r"):
        fail("no ESC EOT CR after SIGTERM")
    out = proc.stdout.read()
    status = proc.wait(10)
    counts = {a: list(answers.values()).count(a) for a in set(answers.values())}
    if counts.get("ACK", 0) == 0 or counts.get("RS", 0) == 0:
        fail("answers %r: expected ACKs, then RS once the pipe was full" % counts)
    same_answers(answers, records_of(out))
    print("      %d pages: %d ACK, %d RS; exit status %d"
          % (n, counts.get("ACK", 0), counts.get("RS", 0), status))


def reader_goes(volnex, profile, tty, err):
    proc = start(volnex, profile, err)
    caller = call(tty)
    if page(caller, 1) != "ACK":
        fail("the first page was not acknowledged")
    first = proc.stdout.readline()
    proc.stdout.close()  # the reader goes, as `head -n 1` does
    caller.send(block(b"\x027\rPAGE 2\r\x03"))
    if caller.read_until(b"\x1b\x04\r", 5) != b"\x1e\r\x1b\x04\r":
        fail("the page after the reader went was not refused, then the session ended")
    status = proc.wait(10)
    print("      %s; exit status %d" % (json.loads(first)["answer"], status))
    sys.exit(0 if status == 1 else 1)


def exit_after_five(volnex, profile, tty, err, runs=20):
    for run in range(1, runs + 1):
        proc = start(volnex, profile, err, "--exit-after", "5")
        caller = call(tty)
        answers = {}
        for n in range(1, 10):
            answers[n] = page(caller, n, 3)
            if answers[n] != "ACK":
                break
        out, _ = proc.communicate(timeout=10)
        records = records_of(out)
        acked = [n for n, a in answers.items() if a == "ACK"]
        if len(records) != 5 or len(acked) != 5:
            fail("run %d: %d records, %d pages acknowledged (answers %r)"
                 % (run, len(records), len(acked), answers))
        same_answers(answers, records)
    print("      %d runs: 5 records and 5 acknowledged pages in each" % runs)


if __name__ == "__main__":
    check, volnex, profile, tty, err_path = sys.argv[1:6]
    with open(err_path, "w") as err_file:
        {"never-reads": reader_never_reads, "reader-goes": reader_goes,
         "exit-after": exit_after_five}[check](volnex, profile, tty, err_file)
