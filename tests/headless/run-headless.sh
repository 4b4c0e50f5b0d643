#!/usr/bin/env bash
# volnex --headless with no display at all (run it without DISPLAY): pages
# from veldrin-sim over a virtual serial pair and over TCP, each exit
# status, the JSON lines, the timed trace and the end on SIGTERM.
# Usage: run-headless.sh BUILD_DIR
set -u

# shellcheck source=../checks.sh
source "$(dirname "$0")/../checks.sh"
# shellcheck source=../line.sh
source "$(dirname "$0")/../line.sh"

use_build headless "${1:-}"
here=$(cd "$(dirname "$0")" && pwd)

on_failure() { [[ -s "$work/err" ]] && sed 's/^/      stderr: /' "$work/err" | tail -n 10; }

profile() { printf '[Configuration]\n%b' "$1" > "$work/lab.INI"; }
# Starts the headless program in the background with these options.
start_headless() {
    "$volnex" --headless --profile "$work/lab.INI" "$@" > "$work/pages.jsonl" 2> "$work/err" &
    volnex_pid=$!
}
# Waits for it to end; true when its exit status is the one given.
ended_with() { # status [seconds]
    wait_for "${2:-15}" bash -c "! kill -0 $volnex_pid 2>/dev/null" || return 1
    wait "$volnex_pid"
    local status=$?
    volnex_pid=""
    [[ "$status" -eq "$1" ]] || { echo "      exit status $status, not $1"; return 1; }
}
sim() { "$sim" --device "$caller_tty" "$@" > "$work/sim.out" 2>&1; }
lines_parse() { # every line of the file is one JSON object
    while IFS= read -r line; do
        python3 -m json.tool <<< "$line" > /dev/null || return 1
    done < "$1"
}
field() { # line-number name
    sed -n "${1}p" "$work/pages.jsonl" | python3 -c "import json,sys; print(json.load(sys.stdin)['$2'])"
}

check "no display is reachable here" test -z "${DISPLAY:-}"

start_pair
profile "Device1=$volnex_tty\n"
start_headless --exit-after 2 --trace "$work/trace.log"
sim --pager 1234 --message "HELLO, \"WORLD\"" --pager 555 --message "SECOND"
check "two good pages over a serial line: exit status 0" ended_with 0
check "  ... the caller got both answers" grep -q "every answer as expected" "$work/sim.out"
check "  ... two JSON lines on standard output" test "$(wc -l < "$work/pages.jsonl")" -eq 2
check "  ... each one parses" lines_parse "$work/pages.jsonl"
check "  ... pager ID and message apart" test "$(field 1 pager)|$(field 1 message)" = '1234|HELLO, "WORLD"'
check "  ... verdict, answer and blocks" test "$(field 2 verdict)|$(field 2 answer)|$(field 2 blocks)" = "accepted|ACK|1"
check "  ... the trace has millisecond times" \
    grep -qE '^[0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3} <=  <ACK><CR>$' "$work/trace.log"
check "  ... and the received lines" grep -qE '\.[0-9]{3} =>  <STX>555<CR>$' "$work/trace.log"

start_headless --exit-after 2 --trace
sim --pager 77 --message "BAD ONE" --pager 78 --message "GOOD ONE" --fault bad-checksum
check "a page answered NAK: exit status 1" ended_with 1
check "  ... its verdict and reason" \
    test "$(field 1 verdict)|$(field 1 result)" = "bad-checksum|BAD PAGE - INVALID CHECKSUM"
check "  ... --trace alone writes the trace on standard error" grep -q '<=  <NAK><CR>' "$work/err"

check "  ... and says which page on standard error" \
    grep -qx "exit 1: page 1 (pager 77) answered NAK (bad checksum), not sent again" "$work/err"

# The same block sent again good after its NAK: the page was accepted.
start_headless --exit-after 2
PYTHONPATH="$here/../e2e" python3 - "$caller_tty" > "$work/caller.out" 2>&1 <<'PY'
import os, sys
from tap_caller import Caller, block
caller = Caller(os.open(sys.argv[1], os.O_RDWR | os.O_NOCTTY))
caller.log_on()
good = block(b"\x0277\rNAKED ONCE\r\x03")
bad = good[:-4] + (b"000" if good[-4:-1] != b"000" else b"111") + b"\r"
caller.send(bad)
print(caller.read_until(b"\r", 5).hex())
caller.send(good)
print(caller.read_until(b"\r", 5).hex())
PY
check "a page answered NAK and then sent again good: exit status 0" ended_with 0
check "  ... after a NAK and an ACK" test "$(tr '\n' ' ' < "$work/caller.out")" = "150d 060d "

start_headless --timeout 1
check "no page before the time-out: exit status 1" ended_with 1 10
check "  ... saying so" grep -qx "exit 1: no page came" "$work/err"
check "  ... and nothing on standard output" test ! -s "$work/pages.jsonl"

# Ended by a signal in the middle of a session: ESC EOT CR goes out first.
start_headless
# The caller logs on, then the program is told to stop; the caller reads
# what comes next.
PYTHONPATH="$here/../e2e" python3 - "$caller_tty" "$volnex_pid" > "$work/caller.out" 2>&1 <<'PY'
import os, signal, sys
from tap_caller import Caller
caller = Caller(os.open(sys.argv[1], os.O_RDWR | os.O_NOCTTY))
caller.log_on()
os.kill(int(sys.argv[2]), signal.SIGTERM)
print(caller.read_until(b"\x1b\x04\r", 5).hex())
PY
check "SIGTERM in a session: the session is ended on the line" \
    test "$(tail -n 1 "$work/caller.out")" = "1b040d"
check "  ... and no page came: exit status 1" ended_with 1

# SIGHUP (the terminal or the supervisor's session went) ends it as SIGTERM.
start_headless
PYTHONPATH="$here/../e2e" python3 - "$caller_tty" "$volnex_pid" > "$work/caller.out" 2>&1 <<'PY'
import os, signal, sys
from tap_caller import Caller
caller = Caller(os.open(sys.argv[1], os.O_RDWR | os.O_NOCTTY))
caller.log_on()
os.kill(int(sys.argv[2]), signal.SIGHUP)
print(caller.read_until(b"\x1b\x04\r", 5).hex())
PY
check "SIGHUP in a session: the session is ended on the line" \
    test "$(tail -n 1 "$work/caller.out")" = "1b040d"
check "  ... and the exit status is the verdict's (1), not the signal's" ended_with 1

# Standard output that cannot take a record: the page is refused, not
# acknowledged unrecorded, and the run ends saying why.
"$volnex" --headless --profile "$work/lab.INI" > /dev/full 2> "$work/err" &
volnex_pid=$!
PYTHONPATH="$here/../e2e" python3 - "$caller_tty" > "$work/caller.out" 2>&1 <<'PY'
import os, sys
from tap_caller import Caller, block
caller = Caller(os.open(sys.argv[1], os.O_RDWR | os.O_NOCTTY))
caller.log_on()
caller.send(block(b"\x0212\rNOWHERE TO WRITE IT\r\x03"))
print(caller.read_until(b"\x1b\x04\r", 5).hex())
PY
check "standard output full: the page is answered RS, then the session ends" \
    test "$(tail -n 1 "$work/caller.out")" = "1e0d1b040d"
check "  ... exit status 1" ended_with 1
check "  ... and standard error says why" \
    grep -qx "exit 1: standard output: No space left on device after 0 records" "$work/err"

"$volnex" --headless --profile "$work/lab.INI" --timeout 5 >&- 2> "$work/err"
check "standard output closed at the start: exit status 2" test $? -eq 2
check "  ... saying so" grep -q "standard output is closed" "$work/err"

# The session log: both files, whole lines, the same pages as standard
# output, and a file size limit told once while the line keeps answering.
mkdir -p "$work/log"
profile "Device1=$volnex_tty\nLogFolder1=$work/log\n"
start_headless --exit-after 3
sim --pager 1 --message "LOGGED" --pager 2 --message "BAD" --pager 3 --message "LAST" \
    --fault bad-checksum
check "with a session log: the pages still come (one NAK: exit status 1)" ended_with 1
check "  ... the day's page log holds the same lines as standard output" \
    cmp -s "$work/pages.jsonl" "$work/log/pages-$(date +%F).jsonl"
check "  ... each one parses" lines_parse "$work/log/pages-$(date +%F).jsonl"
check "  ... the trace log has millisecond times" \
    grep -qE '^[0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3} <=  <NAK><CR>$' "$work/log/trace-$(date +%F).log"
check "  ... and the line events" grep -q '    LINE: DCD ON$' "$work/log/trace-$(date +%F).log"

# SIGKILL during a flood of pages: every page acknowledged before the kill
# is whole in the page log (its record was written before its ACK).
rm -f "$work/log"/*
start_headless
PYTHONPATH="$here/../e2e" python3 - "$caller_tty" "$volnex_pid" > "$work/caller.out" 2>&1 <<'PY'
import os, signal, sys, time
from tap_caller import Caller, block
caller = Caller(os.open(sys.argv[1], os.O_RDWR | os.O_NOCTTY))
caller.log_on()
acked, start = [], time.monotonic()
while time.monotonic() - start < 2.5:
    caller.send(block(b"\x027\rFLOOD %d\r\x03" % (len(acked) + 1)))
    if b"\x06\r" not in caller.read_until(b"\x06\r", 2):
        sys.exit("no ACK")
    acked.append(time.monotonic())
os.kill(int(sys.argv[2]), signal.SIGKILL)
killed = time.monotonic()
print(len(acked))
PY
check "SIGKILL during a flood of pages: the caller was served until then" \
    test "$(tail -n 1 "$work/caller.out")" -gt 100 2> /dev/null
wait "$volnex_pid" 2> /dev/null
volnex_pid=""
logged_in_order() { # count: the log holds pages FLOOD 1 to at least that
    python3 - "$work/log/pages-$(date +%F).jsonl" "$1" <<'PY'
import json, sys
# A kill in the middle of a write may leave a last line without its end.
messages = [json.loads(line)["message"] for line in open(sys.argv[1]) if line.endswith("\n")]
n = int(sys.argv[2])
want = ["FLOOD %d" % i for i in range(1, n + 1)]
bad = [i for i in range(min(n, len(messages))) if messages[i] != want[i]]
if bad or len(messages) < n:
    print("      line %d: %r" % (bad[0] + 1, messages[bad[0]]) if bad else "      short")
    sys.exit(1)
PY
}
check "  ... every page acknowledged before the kill is in the log, whole" \
    logged_in_order "$(tail -n 1 "$work/caller.out")"
echo "      $(tail -n 1 "$work/caller.out") pages acknowledged before the kill," \
    "$(wc -l < "$work/log/pages-$(date +%F).jsonl") in the log"

rm -f "$work/log"/*
# (Standard output goes to /dev/null, which no size limit touches: a record
# it could not take would refuse the page.)
(ulimit -f 1; exec "$volnex" --headless --profile "$work/lab.INI" --exit-after 20 \
    > /dev/null 2> "$work/err") &
volnex_pid=$!
sim --count 20 --quiet
check "a full disk (a 1 KiB file size limit): every page still answered" ended_with 0
check "  ... the failure is told once, with the path and the reason" \
    test "$(grep -c "SESSION LOG: CANNOT WRITE $work/log/.*: File too large" "$work/err")" -eq 1
check "  ... and the log holds whole lines only" lines_parse "$work/log/pages-$(date +%F).jsonl"

profile "Device1=$work/no-such-device\n"
start_headless --exit-after 1
check "a device that is not there: exit status 2" ended_with 2
check "  ... the message box is one line on standard error" \
    test "$(grep -c 'Unable to Open CommPort' "$work/err")" -eq 1

profile "CommPort=COM0\n"
start_headless --exit-after 1
check "a port name that names no port: exit status 2" ended_with 2
check "  ... standard error names the setting and why" \
    grep -q "Unable to Open CommPort. Please check Comm. Settings CommPort=COM0 names no port" \
    "$work/err"

# A profile that cannot be used is named, not replaced by the defaults.
headless_profile() { # path: runs with that profile; true when it ended with 2
    "$volnex" --headless --profile "$1" --timeout 5 > /dev/null 2> "$work/err"
    local status=$?
    [[ "$status" -eq 2 ]] || { echo "      exit status $status, not 2"; return 1; }
}
mkdir -p "$work/folder.INI"
check "a folder as --profile: exit status 2" headless_profile "$work/folder.INI"
check "  ... saying so" \
    grep -qx "volnex: cannot use the profile $work/folder.INI: is a folder" "$work/err"
{ printf '\177ELF\2\1\1\0\0\0'; head -c 2048 /dev/urandom; } > "$work/garbage.INI"
check "binary garbage as --profile: exit status 2" headless_profile "$work/garbage.INI"
check "  ... saying so" \
    grep -qx "volnex: cannot use the profile $work/garbage.INI: is not a text file" "$work/err"
check "a missing --profile: exit status 2" headless_profile "$work/none.INI"
check "  ... saying so" grep -qx "volnex: no such profile: $work/none.INI" "$work/err"
check "  ... and not making it" test ! -e "$work/none.INI"
if [[ "$(id -u)" -ne 0 ]]; then # root reads any file
    cp "$work/lab.INI" "$work/locked.INI" && chmod 000 "$work/locked.INI"
    check "an unreadable --profile: exit status 2" headless_profile "$work/locked.INI"
    check "  ... saying so" grep -qx \
        "volnex: cannot use the profile $work/locked.INI: Permission denied" "$work/err"
fi

"$volnex" --headless --exit-after none > /dev/null 2>&1
check "a wrong option: exit status 2" test $? -eq 2

# A network line, and a display named that nobody serves.
tcp_port=$(shuf -i 20000-59999 -n 1)
while (exec 3<>"/dev/tcp/127.0.0.1/$tcp_port") 2>/dev/null; do tcp_port=$((tcp_port + 1)); done
profile "Device1=tcp-listen:$tcp_port\n"
DISPLAY=:97 start_headless --exit-after 1 --timeout 20
wait_for 5 bash -c "exec 3<>/dev/tcp/127.0.0.1/$tcp_port" 2>/dev/null
"$sim" --tcp "127.0.0.1:$tcp_port" --pager 42 --message "OVER TCP" > "$work/sim.out" 2>&1
check "one page over TCP with an unreachable display: exit status 0" ended_with 0
check "  ... its JSON line names the network line" \
    test "$(field 1 device)" = "tcp-listen:$tcp_port"

# Every byte value 20 to FF hex in one message, through each Charset: the
# JSON line on standard output and the session log's record carry the exact
# bytes as message_hex, and the message is text in that charset.
all_bytes=$(for i in $(seq 32 255); do printf "\\$(printf %03o "$i")"; done)
all_hex=$(printf '%s' "$all_bytes" | od -An -tx1 -v | tr -d ' \n' | tr a-f A-F)
decoded() { # file line -> the message, then: and what it shows for E9, 80
    sed -n "${2}p" "$1" | /usr/bin/python3 -c '
import json, sys
o = json.load(sys.stdin)
m = o["message"]
print(o.get("message_hex", ""), "\u00e9" in m, "\u20ac" in m, "\\xE9" in m, "\\x81" in m)'
}
for charset in ascii latin1 cp1252 utf-8; do
    rm -rf "$work/log"
    mkdir "$work/log"
    profile "Device1=$volnex_tty\nCharset1=$charset\nLogFolder1=$work/log\n"
    start_headless --exit-after 1
    sim --pager 7 --message "$all_bytes"
    check "every byte in $charset: exit status 0" ended_with 0
    case $charset in # has e-acute, the euro sign, \xE9, \x81
    ascii) shows="False False True True" ;;
    latin1) shows="True False False True" ;;
    cp1252) shows="True True False True" ;;
    utf-8) shows="False False True True" ;;
    esac
    check "  ... standard output: the exact bytes, the text in $charset" \
        test "$(decoded "$work/pages.jsonl" 1)" = "$all_hex $shows"
    check "  ... the session log's record: the same" \
        test "$(decoded "$work/log/pages-$(date +%F).jsonl" 1)" = "$all_hex $shows"
done

# Readers of standard output that do not keep up or go, and --exit-after
# against a caller that pages back to back (the script starts the program
# with its standard output on a pipe of its own).
profile "Device1=$volnex_tty\n"
output_check() { # check
    /usr/bin/python3 "$here/output_checks.py" "$1" "$volnex" "$work/lab.INI" \
        "$caller_tty" "$work/err"
}
check "a reader that never reads: the line goes on answering (RS once full)" \
    output_check never-reads
check "  ... the lag is said once on standard error" \
    test "$(grep -c "the reader is not keeping up" "$work/err")" -eq 1
check "a reader that goes: the next page is refused, the session ends, exit 1" \
    output_check reader-goes
check "  ... standard error says why" \
    grep -qx "exit 1: standard output: Broken pipe after 1 records" "$work/err"
check "--exit-after 5, twenty runs: exactly 5 records, each the caller's answer" \
    output_check exit-after

report
