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
exit "$failed"
