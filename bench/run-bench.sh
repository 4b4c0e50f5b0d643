#!/usr/bin/env bash
# Performance figures of Volnex, measured on this machine in one run.
# Run under xvfb-run (make bench does). Usage: run-bench.sh BUILD_DIR
set -u

build=$(cd "${1:?usage: run-bench.sh BUILD_DIR}" && pwd)
work=$(mktemp -d /tmp/volnex-bench-XXXXXX)
volnex_pid=""
socat_pid=""
cleanup() {
    [[ -n "$volnex_pid" ]] && kill "$volnex_pid" 2>/dev/null
    [[ -n "$socat_pid" ]] && kill "$socat_pid" 2>/dev/null
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

echo "== engine alone"
"$build/engine_bench"

echo "== protocol window"
"$build/trace_bench"

start() { # view_protocol [big: about 1 MB of other settings in the profile]
    socat pty,raw,echo=0,link="$work/volnex-tty" pty,raw,echo=0,link="$work/caller-tty" &
    socat_pid=$!
    for _ in $(seq 50); do [[ -e "$work/caller-tty" ]] && break; sleep 0.1; done
    mkdir -p "$work/cfg"
    printf '[Configuration]\nDevice1=%s\nViewProtocol=%s\n' "$work/volnex-tty" "$1" \
        > "$work/cfg/volnex.INI"
    if [[ "${2:-}" == big ]]; then
        { echo "[Other]"; seq -f 'Key%06g=some value kept by another tool for this key' 25000; } \
            >> "$work/cfg/volnex.INI"
    fi
    XDG_CONFIG_HOME="$work/cfg" "$build/volnex" > /dev/null 2>&1 &
    volnex_pid=$!
    sleep 2
}
stop() {
    kill "$volnex_pid" "$socat_pid" 2>/dev/null || true
    wait 2>/dev/null || true
    volnex_pid=""
    socat_pid=""
}
rss_kb() { awk '/VmRSS/ {print $2}' "/proc/$volnex_pid/status"; }
cpu_ticks() { awk '{print $14 + $15}' "/proc/$volnex_pid/stat"; }
pages() { # count -> prints "seconds summary"
    local t0 t1
    t0=$(date +%s.%N)
    "$build/tools/veldrin-sim" --device "$work/caller-tty" --count "$1" --quiet > "$work/sim.out"
    t1=$(date +%s.%N)
    echo "$(echo "$t1 - $t0" | bc -l) $(cat "$work/sim.out")"
}

echo "== answer speed: the floor, the window (protocol window open), headless, and headless with its status page scraped every 100 ms"
# 3000 short pages, one at a time over a pseudo-terminal, each ACK timed by
# the caller. The floor is a program that does nothing but answer: the
# machine's own cost of a round trip. Three rounds in turn, so that a change
# in the machine's load falls on all three; the figures are each round's
# middle value.
speed_run() { # floor | window | headless | scraped -> "median p99 pages/s"
    rm -f "$work/line"
    printf '[Configuration]\nDevice1=%s\nViewProtocol=1\n' "$work/line" > "$work/cfg/volnex.INI"
    local scraper=""
    if [[ "$1" == scraped ]]; then
        printf 'StatusListen=127.0.0.1:%s\n' "$status_port" >> "$work/cfg/volnex.INI"
        # A Prometheus that scrapes far more often than any does.
        (while :; do curl -s -o /dev/null --max-time 1 "http://127.0.0.1:$status_port/metrics"
                    sleep 0.1; done) &
        scraper=$!
    fi
    "$build/tools/veldrin-sim" --pty "$work/line" --count 3000 --quiet > "$work/sim.out" &
    local sim=$!
    for _ in $(seq 50); do [[ -e "$work/line" ]] && break; sleep 0.05; done
    case "$1" in
    floor) "$build/answer_floor" "$work/line" & volnex_pid=$! ;;
    window) XDG_CONFIG_HOME="$work/cfg" "$build/volnex" > /dev/null 2>&1 & volnex_pid=$! ;;
    headless | scraped) XDG_CONFIG_HOME="$work/cfg" "$build/volnex" --headless > /dev/null 2>&1 &
        volnex_pid=$! ;;
    esac
    wait "$sim"
    [[ -n "$scraper" ]] && { kill "$scraper"; wait "$scraper" 2>/dev/null; }
    kill "$volnex_pid" 2>/dev/null
    wait "$volnex_pid" 2>/dev/null
    volnex_pid=""
    sed -nE 's/.*\(([0-9]+) blocks\/s\); answer latency median ([0-9.]+) ms, 99th percentile ([0-9.]+) ms.*/\2 \3 \1/p' \
        "$work/sim.out"
}
mkdir -p "$work/cfg"
status_port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
declare -A speed
for round in 1 2 3; do
    for kind in floor window headless scraped; do
        speed[$kind]+="$(speed_run "$kind")"$'\n'
    done
done
middle_of() { # kind column
    printf '%s' "${speed[$1]}" | awk -v c="$2" 'NF {print $c}' | sort -g | sed -n 2p
}
floor_median=$(middle_of floor 1) floor_p99=$(middle_of floor 2) floor_rate=$(middle_of floor 3)
for kind in floor window headless scraped; do
    m=$(middle_of "$kind" 1) p=$(middle_of "$kind" 2) r=$(middle_of "$kind" 3)
    printf '%-9s median %.3f ms (%.1fx the floor), p99 %.3f ms (%.1fx), %d pages/s (%.2f of the floor)\n' \
        "$kind" "$m" "$(echo "$m / $floor_median" | bc -l)" "$p" "$(echo "$p / $floor_p99" | bc -l)" \
        "$r" "$(echo "$r / $floor_rate" | bc -l)"
done
echo "(goal for the window: median at most 2x the floor, p99 at most 3x, pages/s at least 0.5 of it;"
echo " scraped: the status page served and scraped every 100 ms, to set beside headless)"

# One run of the caller against the window with the protocol window open,
# on a pseudo-terminal veldrin-sim makes itself (no relay between the two);
# the caller's output in $work/sim.out.
sim_run() { # extra profile lines, veldrin-sim options...
    local extra=$1
    shift
    mkdir -p "$work/cfg"
    printf '[Configuration]\nDevice1=%s\nViewProtocol=1\n%b' "$work/line" "$extra" \
        > "$work/cfg/volnex.INI"
    rm -f "$work/line"
    "$build/tools/veldrin-sim" --pty "$work/line" "$@" --quiet > "$work/sim.out" &
    sim_pid=$!
    sleep 0.3
    XDG_CONFIG_HOME="$work/cfg" "$build/volnex" > /dev/null 2>&1 &
    volnex_pid=$!
    wait "$sim_pid"
}

echo "== end to end: the program with the protocol window open, over a pseudo-terminal"
sim_run "" --count 5000
summary=$(grep summary "$work/sim.out")
rate=$(sed -E 's/.*\(([0-9]+) blocks\/s\).*/\1/' <<< "$summary")
block_bytes=$(( 1 + 4 + 1 + 19 + 1 + 1 + 3 + 1 ))  # STX 1234 CR message CR ETX ccc CR
line_rate=$(echo "11520 / ($block_bytes + 2)" | bc -l)  # 115200 baud 8N1: block and ACK CR
echo "caller's $summary"
printf 'end to end: %d pages/s; a 115200-baud line carries at most %.0f of the same pages a second: ratio %.1f (goal >= 10)\n' \
    "$rate" "$line_rate" "$(echo "$rate / $line_rate" | bc -l)"
echo "(answer latency goal: 99th percentile under 5 ms)"
stop

echo "== end to end with pages of 250 characters (two blocks each), protocol window open"
# A load page's message padded to 250 characters: "1234" CR, 250, CR is 256
# characters of fields, so veldrin-sim sends each in two blocks (US).
sim_run "" --count 2000 --length 250
summary=$(grep summary "$work/sim.out")
block_rate=$(sed -E 's/.*\(([0-9]+) blocks\/s\).*/\1/' <<< "$summary")
# Two blocks a page: STX, 250 characters of fields, US, ccc, CR; then STX,
# the 6 left, ETX, ccc, CR; an ACK CR each.
long_bytes=$(( (1 + 250 + 1 + 3 + 1) + (1 + 6 + 1 + 3 + 1) + 4 ))
long_line_rate=$(echo "11520 / $long_bytes" | bc -l)
echo "caller's $summary"
printf 'end to end, 250-character pages: %.0f pages/s; a 115200-baud line carries at most %.1f a second: ratio %.1f\n' \
    "$(echo "$block_rate / 2" | bc -l)" "$long_line_rate" "$(echo "$block_rate / 2 / $long_line_rate" | bc -l)"
stop

echo "== answer latency with the session log off and on (5000 pages a run)"
latency_run() { # extra profile lines
    sim_run "$1" --count 5000
    grep -oE 'answer latency [^;]*' "$work/sim.out"
    stop
}
mkdir -p "$work/log" "$work/cfg"
# Three rounds, off and on in turn, so that a change in the machine's load
# falls on both; the figure to compare is the middle round of each.
off=() on=()
for round in 1 2 3; do
    off+=("$(latency_run "")")
    on+=("$(latency_run "LogFolder1=$work/log\n")")
    echo "round $round: log off: ${off[-1]}"
    echo "         log on:  ${on[-1]}"
done
middle() { printf '%s\n' "$@" | grep -oE 'median [0-9.]+' | awk '{print $2}' | sort -n | sed -n 2p; }
echo "median of the three medians: log off $(middle "${off[@]}") ms, log on $(middle "${on[@]}") ms"
echo "(goal: the log on no worse than off; $(cat "$work"/log/pages-*.jsonl | wc -l) pages logged)"

echo "== end to end over a network line: the same, with the caller on TCP loopback"
tcp_port=$(shuf -i 20000-59999 -n 1)
while (exec 3<>"/dev/tcp/127.0.0.1/$tcp_port") 2>/dev/null; do tcp_port=$((tcp_port + 1)); done
printf '[Configuration]\nDevice1=tcp-listen:%s\nViewProtocol=1\n' "$tcp_port" > "$work/cfg/volnex.INI"
XDG_CONFIG_HOME="$work/cfg" "$build/volnex" > /dev/null 2>&1 &
volnex_pid=$!
sleep 2
"$build/tools/veldrin-sim" --tcp "127.0.0.1:$tcp_port" --count 5000 --quiet > "$work/sim.out"
echo "caller's $(grep summary "$work/sim.out")"
stop

start 1
echo "== idle CPU with the 100 ms timer running"
t0=$(cpu_ticks)
sleep 10
t1=$(cpu_ticks)
hz=$(getconf CLK_TCK)
printf 'idle: %.2f %% of a core over 10 s (goal < 1 %%)\n' \
    "$(echo "($t1 - $t0) * 100 / $hz / 10" | bc -l)"
stop

start 1 big
echo "== idle CPU with a $(( $(stat -c %s "$work/cfg/volnex.INI") / 1024 )) kB profile"
t0=$(cpu_ticks)
sleep 10
t1=$(cpu_ticks)
printf 'idle, large profile: %.2f %% of a core over 10 s (goal: the same as above)\n' \
    "$(echo "($t1 - $t0) * 100 / $(getconf CLK_TCK) / 10" | bc -l)"
stop

echo "== resident memory (protocol window closed, then open)"
for view in 0 1; do
    start "$view"
    pages 1000 > /dev/null
    r1=$(rss_kb)
    pages 49000 > /dev/null
    r2=$(rss_kb)
    printf 'protocol window %s: RSS after 1,000 pages %d kB, after 50,000 pages %d kB: %+d kB (goal within 5 MB)\n' \
        "$([[ $view == 1 ]] && echo open || echo closed)" "$r1" "$r2" "$((r2 - r1))"
    stop
done

bash "$(dirname "$0")/run-delivery-bench.sh" "$build"
