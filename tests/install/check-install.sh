#!/usr/bin/env bash
# The installation, staged with DESTDIR: every file in place, the desktop
# entry, AppStream data and manual pages valid, the installed programs
# answering --version with no display, and the installed program showing
# its help book (this part needs a display: run the script under xvfb-run).
# Usage: check-install.sh BUILD_DIR VERSION
set -u

build=$(cd "${1:?usage: check-install.sh BUILD_DIR VERSION}" && pwd)
version=${2:?usage: check-install.sh BUILD_DIR VERSION}
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=../checks.sh
source "$here/../checks.sh"
work=$(mktemp -d /tmp/volnex-install-XXXXXX)
stage="$work/stage"
prefix="$stage/usr"
volnex_pid=""
socat_pid=""

# SIGTERM, and SIGKILL after five seconds so that a program that failed to
# end cannot outlive the check.
stop() { # pid
    kill "$1" 2>/dev/null || return 0
    local deadline=$((SECONDS + 5))
    while kill -0 "$1" 2>/dev/null && ((SECONDS < deadline)); do sleep 0.1; done
    kill -KILL "$1" 2>/dev/null
    wait "$1" 2>/dev/null
}
cleanup() {
    [[ -n "$volnex_pid" ]] && stop "$volnex_pid"
    [[ -n "$socat_pid" ]] && stop "$socat_pid"
    rm -rf "$work"
}
trap cleanup EXIT



# Passes when the command succeeds and prints nothing at all.
silent() {
    local output
    output=$("$@" 2>&1) && [[ -z "$output" ]] || { echo "$output"; return 1; }
}

DESTDIR="$stage" cmake --install "$build" --prefix /usr > "$work/install.log" 2>&1
check "cmake --install into a staging folder" test $? -eq 0

all_present() {
    local file missing=0
    while read -r file; do
        [[ -z "$file" || "$file" == \#* ]] && continue
        if [[ ! -s "$prefix/$file" ]]; then
            echo "  missing: $file"
            missing=1
        fi
    done < "$here/expected-files"
    [[ -x "$prefix/bin/volnex" && -x "$prefix/bin/veldrin-sim" ]] || missing=1
    return $missing
}
check "every file is installed" all_present

check "desktop-file-validate is clean" \
    silent desktop-file-validate "$prefix/share/applications/org.volnex.Volnex.desktop"
check "appstreamcli validate --no-net passes" \
    appstreamcli validate --no-net --strict "$prefix/share/metainfo/org.volnex.Volnex.metainfo.xml"

man_clean() { # page
    local warnings
    warnings=$(MANWIDTH=80 man --warnings -l "$1" 2>&1 > "$work/man.txt") || return 1
    [[ -z "$warnings" ]] || { echo "$warnings"; return 1; }
    grep -q "^NAME" "$work/man.txt"
}
check "man renders volnex.1 without warnings" man_clean "$prefix/share/man/man1/volnex.1.gz"
check "man renders veldrin-sim.1 without warnings" \
    man_clean "$prefix/share/man/man1/veldrin-sim.1.gz"

says() { # expected-output command...
    local expected=$1 output
    shift
    output=$("$@" 2>&1) && [[ "$output" == "$expected" ]] ||
        { echo "  got: $output"; return 1; }
}
check "installed volnex --version, no display" \
    says "volnex $version" env -u DISPLAY -u WAYLAND_DISPLAY "$prefix/bin/volnex" --version
check "installed veldrin-sim --version" \
    says "veldrin-sim $version" "$prefix/bin/veldrin-sim" --version
refuses_bad_option() {
    env -u DISPLAY "$prefix/bin/volnex" --no-such-option > "$work/out" 2> "$work/err"
    [[ $? -eq 2 && ! -s "$work/out" ]] && grep -q "^Usage: volnex" "$work/err"
}
check "installed volnex refuses a wrong option with status 2" refuses_bad_option

# The installed program on a virtual line with a profile of its own: Help >
# Index opens the book from share/volnex/help (there is none beside the
# staged executable).
socat pty,raw,echo=0,link="$work/tty" pty,raw,echo=0,link="$work/caller" &
socat_pid=$!
wait_for 5 test -e "$work/tty"
printf '[Configuration]\nDevice1=%s\n' "$work/tty" > "$work/line.INI"
GSETTINGS_BACKEND=memory "$prefix/bin/volnex" --profile "$work/line.INI" > "$work/volnex.log" 2>&1 &
volnex_pid=$!
main_window() { xdotool search --name '^Volnex - ' 2>/dev/null | head -1 | grep .; }
check "the installed program shows its window" wait_for 20 main_window > /dev/null
window=$(main_window)
help_shown() { xdotool search --name '^Help: Volnex' > /dev/null 2>&1; }
open_help() {
    xdotool windowfocus --sync "$window" 2>/dev/null
    xdotool key --clearmodifiers alt+h
    sleep 0.3
    xdotool key i
    wait_for 10 help_shown
}
check "Help > Index shows the installed help book" open_help
check "no error came up" test -z "$(xdotool search --name 'Application Error|Error' 2>/dev/null)"

report
