#!/usr/bin/env bash
# End-to-end tests: the real volnex in a window (run this under xvfb-run),
# veldrin-sim on the other end of a virtual serial pair made by socat, and a
# throw-away profile. Usage: run-e2e.sh BUILD_DIR
set -u

# shellcheck source=../checks.sh
source "$(dirname "$0")/../checks.sh"
# shellcheck source=../line.sh
source "$(dirname "$0")/../line.sh"

use_build e2e "${1:-}"

on_failure() { [[ -s "$work/volnex.log" ]] && sed 's/^/      volnex: /' "$work/volnex.log" | tail -n 20; }

# Starts the program; the profile is Device1 and ViewProtocol=1 unless
# given (as printf lines, after [Configuration]).
start_volnex() {
    mkdir -p "$work/cfg"
    printf '[Configuration]\n%b' "${1:-Device1=$volnex_tty\nViewProtocol=1\n}" \
        > "$work/cfg/volnex.INI"
    local try
    for try in 1 2; do
        XDG_CONFIG_HOME="$work/cfg" "$volnex" > "$work/volnex.log" 2>&1 &
        volnex_pid=$!
        wait_for 10 main_window > /dev/null && return 0
        # The virtual display refused the connection (it says so): that is
        # the test bench's trouble, not the program's; start it once more.
        grep -q "Unable to initialize GTK" "$work/volnex.log" || return 1
        echo "      (the display refused the program's connection; starting it again)"
        wait "$volnex_pid" 2>/dev/null
    done
    return 1
}

# The program's own message box (its caption is the application title).
app_box() { xdotool search --name '^Marivane Didoza Zuri Zovivazir$' 2>/dev/null | head -1 | grep .; }
answer_box() { # window
    xdotool windowfocus --sync "$1" 2>/dev/null
    xdotool key --window "$1" Return
}
# Ends the program with a signal; true when it exited with status 0 within
# the given seconds.
stopped_by() { # signal seconds
    kill "-$1" "$volnex_pid"
    wait_for "$2" bash -c "! kill -0 $volnex_pid 2>/dev/null" || return 1
    wait "$volnex_pid"
    local status=$?
    volnex_pid=""
    return "$status"
}

# The program holds the device the program's side of the pair leads to.
holds_line() {
    local device
    device=$(readlink -f "$volnex_tty") || return 1
    ls -l "/proc/$volnex_pid/fd" 2>/dev/null | grep -q -- "-> $device\$"
}
main_window() { xdotool search --name '^Volnex - ' 2>/dev/null | head -1 | grep .; }
# A menu command from the keyboard: Alt and the menu's letter, then the key
# of its item.
menu() { # menu-letter item-key
    xdotool windowfocus --sync "$(main_window)"
    xdotool key --clearmodifiers "alt+$1"
    sleep 0.3
    xdotool key "$2"
}
alive() { kill -0 "$volnex_pid" 2>/dev/null; }
error_boxes() { xdotool search --name 'Application Error' 2>/dev/null | wc -l; }

# Runs veldrin-sim against the program; its output goes to $work/sim.out.
sim() { "$sim" --device "$caller_tty" "$@" > "$work/sim.out" 2>&1; }
sim_says() { grep -q -- "$1" "$work/sim.out"; }
normal_session() { sim --pager 4242 --message "AFTER THE FAULT" --quiet; }

# The next N bytes the program writes to the caller's side, in hex.
read_bytes() { # count
    timeout 5 head -c "$1" <&3 | od -An -tx1 | tr -s ' \n' ' '
}

# A session held open on descriptor 3: CR, "ID=", logon, its answer.
open_session() {
    exec 3<>"$caller_tty"
    printf '\r' >&3
    # A freshly started program wrote ESC EOT CR before the caller came.
    local seen=""
    while [[ "$seen" != *" 49 44 3d " ]] && ((${#seen} < 60)); do
        local byte
        byte=$(read_bytes 1)
        [[ -n "${byte// /}" ]] || return 1
        seen="${seen% }$byte"
    done
    [[ "$seen" == *" 49 44 3d " ]] || return 1
    printf '\033PG1\r' >&3
    [[ "$(read_bytes 6)" == " 06 0d 1b 5b 70 0d " ]]
}

# The program ended the session on descriptor 3 with ESC EOT CR.
session_ended() {
    local bytes
    bytes=$(read_bytes 3)
    exec 3>&-
    [[ "$bytes" == " 1b 04 0d " ]]
}

start_pair
start_volnex
check "the program starts and shows its window" alive

sim --pager 1234 --message "HELLO WORLD" --pager 555 --message "NURSE CALL ROOM 12" \
    --count 3 --retries 1
check "a full session: every page answered ACK" test $? -eq 0
check "  ... five pages accepted" sim_says "5 accepted, 0 rejected, 0 unanswered in"

sim --pager 77 --message "BAD ONE" --pager 78 --message "GOOD ONE" --fault bad-checksum
check "a bad page is answered NAK, the next ACK" test $? -eq 0
check "  ... the bad page got NAK" sim_says "page 1 (77): NAK"
check "  ... the good page got ACK" sim_says "page 2 (78): ACK"

for fault in third-field missing-field password no-logon noise eot-mid-block; do
    sim --pager 10 --message "FAULT $fault" --pager 11 --message "NEXT" --fault "$fault"
    check "fault $fault: the program answers as expected" test $? -eq 0
    check "fault $fault: the program is still running" alive
    # Unanswered prompts may leave the terminal waiting for a logon: the
    # caller's CRs bring the next prompt within about eight seconds.
    normal_session
    check "fault $fault: the next session works" test $? -eq 0
done
check "no error box came up" test "$(error_boxes)" -eq 0

# The whole dialogue byte for byte, ended by the caller's EOT CR, which the
# terminal answers with ESC EOT CR.
check "a caller logs on" open_session
printf '\002' >&3; printf '1234\rHI\r\00317:\r' >&3
check "  ... its block is answered ACK CR" test "$(read_bytes 2)" == " 06 0d "
printf '\002' >&3; printf '1234\rHI\r\00317;\r' >&3
check "  ... a wrong checksum NAK CR" test "$(read_bytes 2)" == " 15 0d "
printf '\004\r' >&3
check "  ... and its EOT CR ESC EOT CR" session_ended

# Pages of real length: one block of 252 characters, a 250-character
# message in two blocks (US), one in three (blocks of 100), each ACKed block
# by block and listed once with its whole text in the saved page report.
long_text() { # length
    local text="ROOM 412 BED 2 PATIENT CALL - NURSE ASSIST REQUESTED - CARDIAC MONITOR ALARM ON TELEMETRY UNIT 7 - "
    while ((${#text} < $1)); do text="$text$text"; done
    echo "${text:0:$1}"
}
# Saves the page list through the LogFile button and its Save dialog, from
# the keyboard: a click into the list, Tab past the counters to the button.
save_page_report() { # file
    local window geometry width height
    window=$(main_window)
    xdotool windowfocus --sync "$window"
    geometry=$(xdotool getwindowgeometry "$window" | awk '/Geometry/ {print $2}')
    width=${geometry%x*}
    height=${geometry#*x}
    xdotool mousemove --window "$window" $((width * 3 / 10)) $((height * 6 / 10)) click 1
    sleep 0.3
    for _ in 1 2 3 4; do xdotool key Tab; sleep 0.1; done
    xdotool key space
    sleep 1
    xdotool key ctrl+a
    xdotool type --delay 5 "$1"
    xdotool key Return
    sleep 1
    xdotool key Return
    wait_for 5 test -s "$1"
}
in_report() { grep -qF -- "$2" "$1"; }
text240=$(long_text 240)
text250=$(long_text 250)
text280=$(long_text 280)
sim --pager 1234 --message "$text240" --pager 1234 --message "$text250"
check "long pages: a 240-character page and a 250-character one, all ACKed" test $? -eq 0
check "  ... the 250-character page went in two blocks" sim_says "page 2 (1234) block 2 of 2: ACK"
sim --pager 5501 --message "$text280" --block-size 100
check "a 280-character message in three blocks of 100, all ACKed" test $? -eq 0
check "  ... block by block" sim_says "page 1 (5501) block 3 of 3: ACK"
check "  ... three blocks sent, three accepted" sim_says "3 blocks sent, 3 accepted"
save_page_report "$work/long-pages.txt"
check "the page report holds the 240-character page whole" \
    in_report "$work/long-pages.txt" " 1234 $text240  "
check "  ... the 250-character one whole" in_report "$work/long-pages.txt" " 1234 $text250  "
check "  ... and the three-block message whole" \
    in_report "$work/long-pages.txt" " 5501 $text280  "
check "  ... listed once" test "$(grep -cF " 5501 $text280  " "$work/long-pages.txt")" -eq 1
sim --pager 1234 --message "WITH A PASSWORD" --password 000000 --logon-tries 2 --expect no-logon
check "a logon with a password is not taken while Password1 is empty" sim_says "logon not accepted"
normal_session
check "  ... and the next session works" test $? -eq 0

# A session in progress when the window is closed (File > Exit from the
# keyboard) is ended on the line with ESC EOT CR.
check "a caller logs on and holds the session" open_session
menu f x
wait_for 10 bash -c "! kill -0 $volnex_pid 2>/dev/null"
check "File > Exit closes the program" test $? -eq 0
wait "$volnex_pid"
check "  ... with exit status 0" test $? -eq 0
volnex_pid=""
check "  ... and ESC EOT CR ends the session on the line" session_ended

# Stopped from outside (kill, logout) during a session: the same clean end.
start_volnex
check "a caller logs on again" open_session
kill -TERM "$volnex_pid"
wait "$volnex_pid"
check "SIGTERM during a session ends the program with exit status 0" test $? -eq 0
volnex_pid=""
check "  ... and ESC EOT CR on the line" session_ended

# The line hangs up in the middle of a block: the session ends without a
# flood of error boxes and the program goes on.
start_volnex
sim --pager 99 --message "CUT OFF IN THE MIDDLE" --fault hangup
check "a hang-up in the middle of a block is handled" test $? -eq 0
sleep 1
check "  ... the program is still running" alive
check "  ... at most one error box" test "$(error_boxes)" -le 1
window=$(main_window)
check "  ... and its window still answers" test -n "$window"
# The caller at once again, at the far end of the pair, which shows the
# program no hang-up: its second CR, after the wait for a prompt, is
# answered as a new call (not eaten by the half block for 8 s).
sim --pager 99 --message "CUT OFF IN THE MIDDLE AGAIN" --fault hangup
sim --pager 12 --message "RIGHT AFTER THE HANG-UP"
check "a caller right after a hang-up the line did not show is served" test $? -eq 0
check "  ... logged on at its first or second CR" \
    test "$(grep -c 'sent <CR>$' "$work/sim.out")" -le 2

stop_pair
[[ -n "$volnex_pid" ]] && { kill "$volnex_pid"; wait "$volnex_pid"; volnex_pid=""; }

# A device path that opens but is no terminal: one box, then the window,
# from which the settings can be mended.
mkdir -p "$work/cfg"
printf '[Configuration]\nDevice1=/dev/null\n' > "$work/cfg/volnex.INI"
XDG_CONFIG_HOME="$work/cfg" "$volnex" > "$work/volnex.log" 2>&1 &
volnex_pid=$!
wait_for 10 app_box > /dev/null
check "a device that is no terminal: its open-failure box comes" test -n "$(app_box)"
answer_box "$(app_box)"
wait_for 10 main_window > /dev/null
check "  ... then the main window, with no error box" \
    test -n "$(main_window)" -a "$(error_boxes)" -eq 0
check "  ... and SIGTERM ends it with status 0" stopped_by TERM 5

# SIGTERM while the program sits idle (no traffic, no protocol window), and
# to a second instance on the same line while it shows its open failure.
start_pair
start_volnex "Device1=$volnex_tty\nViewProtocol=0\n"
first_pid=$volnex_pid
XDG_CONFIG_HOME="$work/cfg" "$volnex" > "$work/second.log" 2>&1 &
volnex_pid=$!
wait_for 10 app_box > /dev/null
check "a second instance on the same line shows its open-failure box" test -n "$(app_box)"
check "  ... and SIGTERM then ends it with status 0" stopped_by TERM 5
volnex_pid=$first_pid
check "  ... the first one still runs" alive
sleep 1
check "SIGTERM while idle ends the program at once, with status 0" stopped_by TERM 2

# Signals while a modal dialog is open: the dialog is ended, then the
# program closes as its close box does.
start_volnex
menu h a
wait_for 5 bash -c "xdotool search --name 'application\$' | grep -q ." 
check "SIGTERM with the About box open ends the program with status 0" stopped_by TERM 5

start_volnex
check "a caller logs on and holds the session" open_session
menu c Return
wait_for 5 bash -c "xdotool search --name '^Connection\$' | grep -q ."
check "  ... the Connection sheet is open" test $? -eq 0
check "SIGINT with the Connection sheet open ends the program with status 0" stopped_by INT 5
check "  ... and ESC EOT CR ends the session on the line" session_ended

# The line goes away (the virtual pair ends, as an unplugged adapter) and
# comes back: the program serves the next caller without a Logon.
start_volnex
normal_session
check "a session before the line goes away" test $? -eq 0
stop_pair
sleep 1
start_pair
wait_for 10 holds_line
check "  ... the program opened the new line by itself" test $? -eq 0
normal_session
check "the line came back by itself: the next session works without Logon" test $? -eq 0
check "  ... with no error box" test "$(error_boxes)" -eq 0
kill "$volnex_pid"; wait "$volnex_pid"; volnex_pid=""
stop_pair

# A line format the port rejects, on a line left in the kernel's cooked mode:
# the box comes, and the line still carries the dialogue byte for byte.
start_pair cooked
start_volnex "Device1=$volnex_tty\nBaudRate1=fast\n"
wait_for 5 bash -c "xdotool search --name '^Application Error\$' | grep -q ."
box=$(xdotool search --name '^Application Error$' | head -1)
check "a rejected line format: the port's error box comes" test -n "$box"
answer_box "$box"
normal_session
check "  ... and a session on the cooked line works" test $? -eq 0

kill "$volnex_pid"; wait "$volnex_pid"; volnex_pid=""
stop_pair

# A network line: the same dialogue over TCP, no serial device at all.
# A port nobody listens on.
tcp_port=$(shuf -i 20000-59999 -n 1)
while (exec 3<>"/dev/tcp/127.0.0.1/$tcp_port") 2>/dev/null; do tcp_port=$((tcp_port + 1)); done
start_volnex "Device1=tcp-listen:$tcp_port\nViewProtocol=1\n"
tcp_sim() { "$sim" --tcp "127.0.0.1:$tcp_port" "$@" > "$work/sim.out" 2>&1; }
tcp_sim --pager 1234 --message "OVER TCP" --pager 555 --message "SECOND PAGE" --fault bad-checksum
check "over TCP: logon, a bad page NAK, a good page ACK, EOT answered" test $? -eq 0
check "  ... the bad page got NAK" sim_says "page 1 (1234): NAK"
check "  ... the good page got ACK" sim_says "page 2 (555): ACK"
tcp_sim --pager 5501 --message "$text280" --block-size 100
check "over TCP: a message in three blocks, each ACKed" test $? -eq 0
check "  ... block by block" sim_says "page 1 (5501) block 3 of 3: ACK"
tcp_sim --pager 99 --message "CUT OFF" --fault hangup
check "over TCP: a caller that drops in the middle of a block" test $? -eq 0
tcp_sim --pager 4242 --message "NEXT CALLER"
check "  ... and the next caller completes a session without Logon" test $? -eq 0
check "  ... with no error box" test "$(error_boxes)" -eq 0

kill "$volnex_pid"; wait "$volnex_pid"; volnex_pid=""

# A peer that connects and never logs on (one CR, then silence): once its
# prompts have run out the connection is closed, and the next caller is a
# new call. The line format does not apply to a network line: a bad one is
# not reported.
silent_peer() {
    python3 - "$tcp_port" > "$work/peer.out" 2>&1 << 'EOF'
import socket, sys
peer = socket.create_connection(("127.0.0.1", int(sys.argv[1])))
peer.sendall(b"\r")
peer.settimeout(60)
got = b""
try:
    while True:
        data = peer.recv(256)
        if not data:
            break
        got += data
except socket.timeout:
    print("still connected after 60 s")
    sys.exit(1)
print(got.count(b"ID="), "prompts, then", repr(got[-3:]))
sys.exit(0 if got.endswith(b"\x1b\x04\r") else 1)
EOF
}
start_volnex "Device1=tcp-listen:$tcp_port\nBaudRate1=fast\nViewProtocol=1\n"
silent_peer
check "a silent peer on a network line is hung up after its prompts" test $? -eq 0
check "  ... it got ID= four times" grep -q "^4 prompts" "$work/peer.out"
tcp_sim --pager 4242 --message "AFTER THE SILENT ONE"
check "  ... and the next caller is served" test $? -eq 0
check "  ... with no error box for the line format" test "$(error_boxes)" -eq 0
kill "$volnex_pid"; wait "$volnex_pid"; volnex_pid=""

# A bad Misbehave1 (a 100 KB value) is reported once the line is open: a
# caller is served while the box waits for OK, and the box stays narrower
# than the screen and closes with Enter.
start_pair
mkdir -p "$work/cfg"
{
    printf '[Configuration]\nDevice1=%s\nViewProtocol=0\nMisbehave1=' "$volnex_tty"
    head -c 102400 /dev/zero | tr '\0' x
    printf '\n'
} > "$work/cfg/volnex.INI"
XDG_CONFIG_HOME="$work/cfg" "$volnex" > "$work/volnex.log" 2>&1 &
volnex_pid=$!
wait_for 10 app_box > /dev/null
box=$(app_box)
check "a bad Misbehave1: its box comes" test -n "$box"
normal_session
check "  ... and a caller is served while it waits for OK" test $? -eq 0
check "  ... the box is still open" test "$(app_box)" == "$box"
box_width=$(xdotool getwindowgeometry --shell "$box" 2>/dev/null | sed -n 's/^WIDTH=//p')
check "  ... and narrower than the screen (${box_width:-?} pixels)" \
    test "${box_width:-99999}" -lt 1920
answer_box "$box"
wait_for 5 bash -c "! xdotool search --name '^Marivane Didoza Zuri Zovivazir\$' | grep -q ."
check "  ... Enter closes it" test $? -eq 0
kill "$volnex_pid"; wait "$volnex_pid"; volnex_pid=""
stop_pair

# A terminal that misbehaves on purpose (Misbehave1), against a caller on a
# virtual line of its own: each test mode, and how the caller copes.
misbehaving() { # modes, veldrin-sim arguments...
    local modes=$1 sim_pid status
    shift
    rm -f "$work/line"
    "$sim" --pty "$work/line" "$@" > "$work/sim.out" 2>&1 &
    sim_pid=$!
    wait_for 5 test -L "$work/line"
    start_volnex "Device1=$work/line\nMisbehave1=$modes\nViewProtocol=1\n${EXTRA_KEYS:-}"
    wait "$sim_pid"
    status=$?
    kill "$volnex_pid"
    wait "$volnex_pid"
    volnex_pid=""
    return "$status"
}
misbehaving nak-every:2 --count 4 --retries 1
check "nak-every:2: the caller sends every NAKed page again, and all get ACK" test $? -eq 0
check "  ... it did send again" sim_says "sending again (1 of 1)"
misbehaving nak-every:1 --count 1 --retries 2
check "nak-every:1: the caller gives up after its retries" test $? -eq 1
check "  ... and says so" sim_says "giving up after 2 retries"
misbehaving silent-every:2 --count 3 --retries 1 --answer-timeout 1500
check "silent-every:2: the caller sends again after the silence" test $? -eq 0
check "  ... it did send again" sim_says "page 2 (1001): sending again"
misbehaving delay:1500 --count 1 --answer-timeout 3000
check "delay:1500: the answer comes late, within the caller's time-out" test $? -eq 0
check "  ... after 1.5 s or more" sim_says "ACK after \\(1[5-9]\\|2[0-9]\\)[0-9][0-9]\\."
misbehaving delay:4000 --count 1 --answer-timeout 2000 --expect none
check "delay:4000: the answer comes after the caller's time-out" test $? -eq 0
misbehaving no-logon --count 1 --expect no-logon
check "no-logon: the logon is never answered" test $? -eq 0
check "  ... and the caller says so" sim_says "logon not accepted"
misbehaving garble-every:1 --count 2
check "garble-every:1: a caller that looks for ACK past a stray byte copes" test $? -eq 0
misbehaving hangup-after:2 --count 3 --redial
check "hangup-after:2: the line is hung up, the caller calls again and goes on" test $? -eq 0
check "  ... it was hung up" sim_says "line hung up by the terminal"
check "  ... and logged on again" sim_says "sending again after the hang-up"
start_volnex "Device1=tcp-listen:$tcp_port\nMisbehave1=hangup-after:2\n"
tcp_sim --count 3 --redial
check "hangup-after:2 on a network line: the connection is closed, the caller reconnects" \
    test $? -eq 0
check "  ... it was closed" sim_says "line closed by the terminal"
check "no error box came up in the test modes" test "$(error_boxes)" -eq 0
kill "$volnex_pid"; wait "$volnex_pid"; volnex_pid=""

# A strict revision 1.8 terminal (Responses1=tap18): message sequences
# before the answers, and each refusal with its code, over a pty and TCP.
EXTRA_KEYS='Responses1=tap18\n' misbehaving "" --count 2
check "tap18: a session with message sequences, every page ACKed" test $? -eq 0
check "  ... the logon came with 110" sim_says "terminal says 110: 1.8"
check "  ... each page with 211" sim_says "terminal says 211: PAGE(S) SENT SUCCESSFULLY"
check "  ... and the end with 115" sim_says "terminal says 115: THANK YOU"
EXTRA_KEYS='Responses1=tap18\n' misbehaving "accept-pagers:1000" --count 3 --expect ack,rs
check "tap18 accept-pagers: another pager ID is refused with 511 and RS" test $? -eq 0
check "  ... the code came" sim_says "terminal says 511: INVALID PAGER ID"
check "  ... and the caller went on" sim_says "page 3 (1002): RS (refused)"
misbehaving "max-pages:1" --count 2 --expect ack,disconnect
check "max-pages:1: the block after the first page ends the session" test $? -eq 0
EXTRA_KEYS='Responses1=tap18\n' misbehaving "truncate:10,defer-every:2" --count 2 --length 30
check "tap18 truncate and defer-every: both pages ACKed with their codes" test $? -eq 0
check "  ... 214 for the cut page" sim_says "terminal says 214: 10 CHARACTER MAXIMUM"
check "  ... 213 for the deferred one" sim_says "terminal says 213: MESSAGE ACCEPTED"
misbehaving "max-length:150" --pager 1234 --message "$text280" --block-size 100 --expect rs
check "max-length:150: a message in blocks is refused (RS) at the block that passes it" \
    test $? -eq 0
check "  ... its second block" sim_says "page 1 (1234) block 2 of 3: RS (refused)"
start_volnex "Device1=tcp-listen:$tcp_port\nMisbehave1=busy-every:2\nResponses1=tap18\n"
tcp_sim --count 3 --expect ack,rs,ack
check "over TCP, tap18 busy-every:2: the second page refused with 512" test $? -eq 0
check "  ... the code came" sim_says "terminal says 512: TEMPORARILY CANNOT DELIVER"
kill "$volnex_pid"; wait "$volnex_pid"; volnex_pid=""

# A port that takes a logon with its password only.
start_volnex "Device1=tcp-listen:$tcp_port\nPassword1=000000\n"
tcp_sim --pager 1234 --message "WITH ITS PASSWORD" --password 000000
check "Password1=000000: a logon with that password is taken" test $? -eq 0
tcp_sim --pager 1234 --message "WITHOUT" --logon-tries 1 --expect no-logon
check "  ... one without it is not" sim_says "logon not accepted"

report
