# The set-up the end-to-end scripts share: the build's programs, a throw-away
# work folder removed at exit with the programs started from it, and a
# virtual serial pair made by socat. Source it after checks.sh, then call
# use_build NAME BUILD_DIR.

use_build() { # name build_dir
    if [[ -z "${2:-}" ]]; then
        echo "usage: $(basename "$0") BUILD_DIR" >&2
        exit 2
    fi
    build=$(cd "$2" && pwd)
    volnex="$build/volnex"
    sim="$build/tools/veldrin-sim"
    work=$(mktemp -d "/tmp/volnex-$1-XXXXXX")
    volnex_tty="$work/volnex-tty"
    caller_tty="$work/caller-tty"
    socat_pid=""
    volnex_pid=""
    trap cleanup EXIT
}

cleanup() {
    [[ -n "$volnex_pid" ]] && kill "$volnex_pid" 2>/dev/null
    [[ -n "$socat_pid" ]] && kill "$socat_pid" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$work"
}

start_pair() { # [cooked: leave the program's side in the kernel's default mode]
    local volnex_side="pty,raw,echo=0"
    [[ "${1:-}" == cooked ]] && volnex_side="pty"
    rm -f "$volnex_tty" "$caller_tty"
    socat "$volnex_side,link=$volnex_tty" pty,raw,echo=0,link="$caller_tty" &
    socat_pid=$!
    wait_for 5 test -e "$caller_tty" -a -e "$volnex_tty"
}

stop_pair() {
    kill "$socat_pid" 2>/dev/null
    wait "$socat_pid" 2>/dev/null
    socat_pid=""
}
