#!/usr/bin/env bash
# The real volnex read through the accessibility bus. Run under
# dbus-run-session and xvfb-run (ctest does): the session bus starts the
# accessibility bus and its registry when they are first asked for.
# Usage: run-a11y.sh BUILD_DIR
set -u

build=$(cd "${1:?usage: run-a11y.sh BUILD_DIR}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
check="/usr/bin/python3 $here/a11y_check.py"
work=$(mktemp -d /tmp/volnex-a11y-XXXXXX)
sim_pid=""
volnex_pid=""
# The program's own shutdown is tested elsewhere: here it only has to go.
stop() { # pid
    kill "$1" 2>/dev/null || return 0
    for _ in $(seq 30); do kill -0 "$1" 2>/dev/null || return 0; sleep 0.1; done
    kill -KILL "$1" 2>/dev/null
}
cleanup() {
    [[ -n "$volnex_pid" ]] && stop "$volnex_pid"
    [[ -n "$sim_pid" ]] && stop "$sim_pid"
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
failed=0
expect() { # name, command...
    local name=$1
    shift
    if "$@"; then echo "PASS  $name"; else echo "FAIL  $name"; failed=1; fi
}

# A caller with five pages, the first with a bad checksum; it waits for the
# terminal to open its line and keeps sending CR until it answers.
"$build/tools/veldrin-sim" --pty "$work/line" --count 5 --fault bad-checksum \
    --logon-tries 200 --quiet > "$work/sim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do [[ -e "$work/line" ]] && break; sleep 0.1; done

# DTR handshake, which Linux cannot do: the port's error box at start-up.
mkdir -p "$work/cfg"
printf '[Configuration]\nDevice1=%s\nDTR1=2\n' "$work/line" > "$work/cfg/volnex.INI"
env -u GDK_BACKEND XDG_CONFIG_HOME="$work/cfg" "$build/volnex" > "$work/volnex.log" 2>&1 &
volnex_pid=$!

$check box "Application Error" || failed=1
expect "the box's window title is \"Application Error\"" \
    bash -c 'xdotool search --name "^Application Error\$" > /dev/null'
$check ok "Application Error" || failed=1
wait "$sim_pid"
echo "veldrin-sim: $(tail -n 1 "$work/sim.out")"
sim_pid=""
# After the session the caller hangs up: the line levels go off.
$check form "Good Pages=4" "Bad Pages=1" " State=VELDRIN DISCONNECTED" \
    "CTS=OFF" "DSR=OFF" "DCD=OFF" || failed=1
stop "$volnex_pid"
volnex_pid=""

# The session log of a session with every kind of page: each JSON line
# is a page of the window's list, in the same order; the trace log has
# millisecond times.
rm -f "$work/line"
mkdir -p "$work/log"
"$build/tools/veldrin-sim" --pty "$work/line" --logon-tries 200 --quiet \
    --pager 1001 --message "FIRST, A BAD ONE" --pager 1002 --message "GOOD" \
    --pager 1003 --message "$(printf 'A MESSAGE IN THREE BLOCKS %.0s' 1 2 3)" \
    --block-size 30 --fault bad-checksum > "$work/sim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do [[ -e "$work/line" ]] && break; sleep 0.1; done
printf '[Configuration]\nDevice1=%s\nLogFolder1=%s\n' "$work/line" "$work/log" \
    > "$work/cfg/volnex.INI"
env -u GDK_BACKEND XDG_CONFIG_HOME="$work/cfg" "$build/volnex" > "$work/volnex.log" 2>&1 &
volnex_pid=$!
wait "$sim_pid"
"$build/tools/veldrin-sim" --pty "$work/line" --logon-tries 200 --quiet \
    --pager 1004 --message "ONE FIELD" --fault missing-field > "$work/sim.out" 2>&1
# A message whose first block is taken, then the caller's EOT CR.
PYTHONPATH="$here/../e2e" /usr/bin/python3 - "$work/line" <<'PY'
import os, sys, tty
from tap_caller import Caller, block
master, slave = os.openpty()
tty.setraw(slave)
os.symlink(os.ttyname(slave), sys.argv[1] + ".new")
os.replace(sys.argv[1] + ".new", sys.argv[1])
caller = Caller(master)
caller.log_on(tries=50)
caller.send(block(b"\x021005\rUNFINISHED\r\x17"))
caller.read_until(b"\x06\r", 3)
caller.send(b"\x04\r")
caller.read_until(b"\x1b\x04\r", 3)
PY
sim_pid=""
$check form "Good Pages=2" "Bad Pages=3" || failed=1
$check pages "$work/log/pages-$(date +%F).jsonl" || failed=1
expect "the trace log has millisecond times" grep -qE \
    '^[0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3} <=  <ACK><CR>$' "$work/log/trace-$(date +%F).log"
stop "$volnex_pid"
volnex_pid=""

# A sender that does not wait for its answers, 3,000 blocks 1 ms apart over
# a network line and over a virtual line: every page the program counts as
# accepted had its ACK written. Blocks that came while an answer was due are
# purged, as they are meant to be.
flood="/usr/bin/python3 $here/../e2e/flood.py"
tcp_port=$(shuf -i 20000-59999 -n 1)
while (exec 3<>"/dev/tcp/127.0.0.1/$tcp_port") 2>/dev/null; do tcp_port=$((tcp_port + 1)); done
for line in "tcp 127.0.0.1:$tcp_port" "pty $work/flood-line"; do
    set -- $line
    device=$2
    [[ $1 == tcp ]] && device="tcp-listen:$tcp_port"
    rm -f "$work/flood-line"
    $flood "$1" "$2" 3000 1 > "$work/flood.out" 2>&1 &
    flood_pid=$!
    [[ $1 == pty ]] && for _ in $(seq 100); do [[ -e "$2" ]] && break; sleep 0.1; done
    printf '[Configuration]\nDevice1=%s\n' "$device" > "$work/cfg/volnex.INI"
    env -u GDK_BACKEND XDG_CONFIG_HOME="$work/cfg" "$build/volnex" > "$work/volnex.log" 2>&1 &
    volnex_pid=$!
    wait "$flood_pid"
    acks=$(tail -n 1 "$work/flood.out")
    echo "flood over $1: $acks ACK CR received"
    expect "flood over $1: the sender got answers" test "$acks" -gt 100 2> /dev/null
    $check form "Good Pages=$acks" || failed=1
    stop "$volnex_pid"
    volnex_pid=""
done
exit "$failed"
