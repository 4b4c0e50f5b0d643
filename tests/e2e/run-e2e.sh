#!/usr/bin/env bash
# End-to-end tests: the real volnex in a window (run this under xvfb-run),
# veldrin-sim on the other end of a virtual serial pair made by socat, and a
# throw-away profile. Usage: run-e2e.sh BUILD_DIR
set -u

build=$(cd "${1:?usage: run-e2e.sh BUILD_DIR}" && pwd)
volnex="$build/volnex"
sim="$build/tools/veldrin-sim"
work=$(mktemp -d /tmp/volnex-e2e-XXXXXX)
volnex_tty="$work/volnex-tty"
caller_tty="$work/caller-tty"
passed=0
failed=0
socat_pid=""
volnex_pid=""

cleanup() {
    [[ -n "$volnex_pid" ]] && kill "$volnex_pid" 2>/dev/null
    [[ -n "$socat_pid" ]] && kill "$socat_pid" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

check() {
    local name=$1
    shift
    if "$@"; then
        echo "PASS  $name"
        passed=$((passed + 1))
    else
        echo "FAIL  $name"
        failed=$((failed + 1))
    fi
}

wait_for() { # seconds, command...
    local deadline=$((SECONDS + $1))
    shift
    until "$@"; do
        ((SECONDS >= deadline)) && return 1
        sleep 0.1
    done
}

start_pair() {
    rm -f "$volnex_tty" "$caller_tty"
    socat pty,raw,echo=0,link="$volnex_tty" pty,raw,echo=0,link="$caller_tty" &
    socat_pid=$!
    wait_for 5 test -e "$caller_tty" -a -e "$volnex_tty"
}

start_volnex() {
    mkdir -p "$work/cfg"
    printf '[Configuration]\nDevice1=%s\nViewProtocol=1\n' "$volnex_tty" > "$work/cfg/volnex.INI"
    XDG_CONFIG_HOME="$work/cfg" "$volnex" > "$work/volnex.log" 2>&1 &
    volnex_pid=$!
    wait_for 10 main_window > /dev/null
}

main_window() { xdotool search --name '^Volnex - ' 2>/dev/null | head -1 | grep .; }
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

# A session in progress when the window is closed (File > Exit from the
# keyboard) is ended on the line with ESC EOT CR.
check "a caller logs on and holds the session" open_session
window=$(main_window)
xdotool windowfocus --sync "$window"
xdotool key --clearmodifiers alt+f
sleep 0.3
xdotool key x
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

echo "$passed passed, $failed failed"
((failed == 0))
