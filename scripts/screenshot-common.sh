# Sourced by the screenshot scripts: a work folder removed at exit with the
# stand-in server and the client, waiting for a condition, and driving the
# window with xdotool ($window is the window's id once the caller found it).
work="$(mktemp -d "${TMPDIR:-/tmp}/calvaro-screenshot.XXXXXX")"
server=""
client=""
finish() {
    for pid in $client $server; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap finish EXIT

fail() {
    echo "screenshot: $*" >&2
    [ -f "$work/server.log" ] && tail -20 "$work/server.log" >&2
    exit 1
}

# Waits up to 60 s until the command succeeds.
wait_until() {
    local description="$1"
    shift
    for _ in $(seq 600); do
        "$@" && return 0
        sleep 0.1
    done
    fail "gave up waiting for $description"
}

log_count_at_least() { [ "$(grep -c -- "$1" "$work/server.log" || true)" -ge "$2" ]; }
jobs_in_state_at_least() { [ "$(grep -c "\"state\": \"$1\"" "$work/data/index.json" 2>/dev/null || true)" -ge "$2" ]; }

click() { xdotool mousemove --window "$window" "$1" "$2" click 1; }
type_into() {
    click "$1" "$2"
    xdotool key --clearmodifiers ctrl+a BackSpace
    xdotool type --delay 5 -- "$3"
}
