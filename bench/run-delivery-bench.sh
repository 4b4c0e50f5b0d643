#!/usr/bin/env bash
# Delivery onward, measured on this machine in one run: the answer latency
# with a target (AnswerWhen stored) against none, beside the time of one
# fdatasync on the same disk; draining a backlog of 10,000 pages to a local
# broker (QoS 1) and to a local HTTP receiver; and 100,000 pages accepted
# while the broker is down, then delivered, with the program's memory and
# the outbox's size. Usage: run-delivery-bench.sh BUILD_DIR
set -u

build=$(cd "${1:?usage: run-delivery-bench.sh BUILD_DIR}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
volnex="$build/volnex"
sim="$build/tools/veldrin-sim"
py=/usr/bin/python3
work=$(mktemp -d /tmp/volnex-dbench-XXXXXX)
volnex_pid="" broker_pid="" receiver_pid=""
cleanup() {
    for pid in "$volnex_pid" "$broker_pid" "$receiver_pid"; do
        [[ -n "$pid" ]] && kill "$pid" 2>/dev/null
    done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

free_port() { "$py" -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
wait_until() { # seconds command...
    local deadline=$((SECONDS + $1)); shift
    until "$@"; do ((SECONDS >= deadline)) && return 1; sleep 0.05; done
}
profile() { printf '[Configuration]\nDevice1=%s\nStateFolder=%s\n%b' "$work/line" "$work/state" "$1" \
    > "$work/lab.INI"; }
# The caller makes the line and sends N pages; the program answers headless
# and is stopped. The caller's summary is left in $work/sim.out.
run_pages() { # count
    rm -f "$work/line"
    "$sim" --pty "$work/line" --count "$1" --quiet > "$work/sim.out" &
    local sim_pid=$!
    wait_until 10 test -e "$work/line"
    "$volnex" --headless --profile "$work/lab.INI" > /dev/null 2> "$work/err" &
    volnex_pid=$!
    wait "$sim_pid"
    stop_volnex
}
summary() { grep summary "$work/sim.out"; }
stop_volnex() { kill "$volnex_pid" 2>/dev/null; wait "$volnex_pid" 2>/dev/null; volnex_pid=""; }
start_broker() { # port
    printf 'listener %s 127.0.0.1\nallow_anonymous true\npersistence false\nmax_queued_messages 0\n' \
        "$1" > "$work/mosquitto.conf"
    mosquitto -c "$work/mosquitto.conf" > /dev/null 2>&1 &
    broker_pid=$!
    wait_until 10 mosquitto_pub -h 127.0.0.1 -p "$1" -t probe -m up 2>/dev/null
}
pending() { "$volnex" --outbox --json --profile "$work/lab.INI" |
    "$py" -c 'import json,sys; print(sum(t["pending"] for t in json.load(sys.stdin)["targets"]))'; }
nothing_pending() { test "$(pending)" -eq 0; }
# Starts the program on the backlog and times it until nothing is pending.
drain() { # count -> pages/s
    rm -f "$work/line"
    "$sim" --pty "$work/line" --count 1 --quiet > /dev/null & # a line to open
    local sim_pid=$!
    wait_until 10 test -e "$work/line"
    local t0 t1
    t0=$(date +%s.%N)
    "$volnex" --headless --profile "$work/lab.INI" > /dev/null 2> "$work/err" &
    volnex_pid=$!
    wait_until 600 nothing_pending
    t1=$(date +%s.%N)
    stop_volnex
    wait "$sim_pid" 2>/dev/null
    echo "$1 / ($t1 - $t0)" | bc -l
}
median_ms() { grep -oE 'median [0-9.]+' <<< "$1" | awk '{print $2}'; }
p99_ms() { grep -oE 'percentile [0-9.]+' <<< "$1" | awk '{print $2}'; }

mkdir -p "$work/state"
echo "== delivery onward: answer latency, 3000 pages a run, headless"
fsync_ms=$("$py" - "$work/state" <<'PY'
import os, sys, time
fd = os.open(os.path.join(sys.argv[1], "probe"), os.O_WRONLY | os.O_CREAT, 0o600)
times = []
for _ in range(300):
    os.write(fd, b"x" * 300)
    t = time.perf_counter(); os.fdatasync(fd); times.append(time.perf_counter() - t)
os.close(fd); os.unlink(os.path.join(sys.argv[1], "probe"))
times.sort(); print("%.3f" % (times[len(times) // 2] * 1000))
PY
)
profile ""
run_pages 3000; none=$(summary)
# The target's receiver down: the commit alone; then a program that takes
# every page at once, its worker committing beside the line.
profile "[Target down]\nUrl=mqtt://127.0.0.1:$(free_port)/paging/{pager}\n"
run_pages 3000; kept=$(summary)
rm -f "$work/state/"*
profile "[Target script]\nUrl=exec:/bin/true\n"
run_pages 3000; busy=$(summary)
rm -f "$work/state/"*
echo "no target:                            $none"
echo "one target (receiver down), stored:   $kept"
echo "one target (delivering too), stored:  $busy"
printf 'median %s ms -> %s ms (+%.3f ms), delivering at once %s ms; one fdatasync on this disk: %s ms (goal: the growth about one fdatasync)\n' \
    "$(median_ms "$none")" "$(median_ms "$kept")" \
    "$(echo "$(median_ms "$kept") - $(median_ms "$none")" | bc -l)" "$(median_ms "$busy")" "$fsync_ms"
printf 'p99 %s ms -> %s ms, delivering at once %s ms\n' "$(p99_ms "$none")" "$(p99_ms "$kept")" "$(p99_ms "$busy")"

echo "== draining a backlog of 10,000 pages"
rm -f "$work/state/"*
mqtt_port=$(free_port)
profile "[Target broker]\nUrl=mqtt://127.0.0.1:$mqtt_port/paging/{pager}\nQos=1\n"
run_pages 10000
start_broker "$mqtt_port"
printf 'to a local broker, QoS 1: %.0f pages/s (goal >= 1000)\n' "$(drain 10000)"
kill "$broker_pid"; wait "$broker_pid" 2>/dev/null; broker_pid=""

rm -f "$work/state/"*
http_port=$(free_port)
profile "[Target hook]\nUrl=http://127.0.0.1:$http_port/pages\n"
run_pages 10000
"$py" "$here/../tests/delivery/http_receiver.py" --port "$http_port" --log "$work/http.jsonl" \
    > "$work/http.port" 2>/dev/null &
receiver_pid=$!
wait_until 10 grep -q '^PORT' "$work/http.port"
printf 'to a local HTTP receiver: %.0f pages/s (goal >= 300); connections used: %s\n' \
    "$(drain 10000)" "$("$py" -c "import json,sys; print(len({json.loads(l)['client'] for l in open('$work/http.jsonl')}))")"
kill "$receiver_pid"; wait "$receiver_pid" 2>/dev/null; receiver_pid=""

echo "== 100,000 pages accepted while the broker is down, then delivered"
rm -f "$work/state/"*
profile "[Target broker]\nUrl=mqtt://127.0.0.1:$mqtt_port/paging/{pager}\n"
rm -f "$work/line"
"$sim" --pty "$work/line" --count 100000 --quiet > "$work/sim.out" &
sim_pid=$!
wait_until 10 test -e "$work/line"
"$volnex" --headless --profile "$work/lab.INI" > /dev/null 2> "$work/err" &
volnex_pid=$!
rss=()
while kill -0 "$sim_pid" 2>/dev/null; do
    rss+=("$(awk '/VmRSS/ {print $2}' "/proc/$volnex_pid/status" 2>/dev/null)")
    sleep 5
done
echo "caller's $(grep summary "$work/sim.out")"
echo "RSS every 5 s while accepting (kB): ${rss[*]}"
stop_volnex
printf 'outbox: %d MB for 100,000 pages\n' "$(( $(du -sk "$work/state" | cut -f1) / 1024 ))"
start_broker "$mqtt_port"
printf 'then delivered to the broker: %.0f pages/s\n' "$(drain 100000)"
