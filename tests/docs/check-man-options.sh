#!/usr/bin/env bash
# Every option a program's --help prints is in its manual page, and so is
# every --expect answer and fault kind of veldrin-sim.
# Usage: check-man-options.sh PROGRAM MAN_PAGE [PROGRAM MAN_PAGE ...]
set -u
missing=0
while (($# >= 2)); do
    program=$1 page=$2
    shift 2
    # troff escapes its hyphens (\-\-block\-size); the words are compared
    # without them.
    text=$(sed 's/\\-/-/g; s/\\(em/-/g' "$page")
    if ! help=$("$program" --help) || [[ -z "$help" ]]; then
        echo "$(basename "$program") --help failed or printed nothing"
        exit 1
    fi
    words=$(grep -oE -- '--[a-z][a-z-]*' <<< "$help" | sort -u)
    # The indented names of the fault list and the answers --expect takes.
    words+=$'\n'$(sed -n '/^Faults/,$p' <<< "$help" | grep -oE '^  [a-z][a-z-]+' | tr -d ' ')
    words+=$'\n'$(sed -n '/--expect/,/--redial/p' <<< "$help" |
        grep -oE '\b(ack|nak|none|no-logon|rs|disconnect)\b' | sort -u)
    for word in $words; do
        # A whole word: --length is not found inside --length-limit.
        if ! grep -qE -- "(^|[^-a-z])${word}(\$|[^-a-z])" <<< "$text"; then
            echo "$(basename "$page"): $word is in $(basename "$program") --help but not in the manual page"
            missing=$((missing + 1))
        fi
    done
done
if ((missing > 0)); then
    echo "$missing missing"
    exit 1
fi
echo "every option is in the manual pages"
