# Shared by the shell test scripts: a named check that counts passes and
# failures, and a bounded wait for a condition. Source it; a script may
# define on_failure to show more when a check fails.

passed=0
failed=0

check() { # name, command...
    local name=$1
    shift
    if "$@"; then
        echo "PASS  $name"
        passed=$((passed + 1))
    else
        echo "FAIL  $name"
        failed=$((failed + 1))
        if declare -F on_failure > /dev/null; then on_failure; fi
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

# The last line of every script: the counts, and its exit status.
report() {
    echo "$passed passed, $failed failed"
    ((failed == 0))
}
