#!/usr/bin/env bash
# Makes docs/screenshot-study.png: a study of 30 jobs being cleaned up in the
# window. Builds, then inside a virtual display starts the stand-in server,
# submits the study with calvaro (some jobs fail, a few wait in the slow
# queue), and drives the real client from the keyboard as a user would: the
# quick filter "Finished", every finished job selected, Delete, and the
# Remove confirmation open. Cancel is pressed afterwards; nothing is removed.
#   scripts/screenshot-study.sh [output.png]
#   CALVARO_BUILD_DIR=dir scripts/screenshot-study.sh   builds in dir instead of build-screenshot/
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${CALVARO_BUILD_DIR:-$root/build-screenshot}"
output="$(realpath -m "${1:-$root/docs/screenshot-study.png}")"

if [ -z "${CALVARO_SCREENSHOT_INSIDE:-}" ]; then
    "$root/scripts/install-deps.sh"
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCALVARO_QT_MAJOR=5 >/dev/null
    cmake --build "$build" -j "$(nproc)" --target CalvaroClient calvaro calvaro-devserver
    exec env CALVARO_SCREENSHOT_INSIDE=1 CALVARO_BUILD_DIR="$build" \
        xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" "$0" "$output"
fi

window_size=(1000 780)
# Positions inside the window, as scripts/screenshot.sh measured them.
server_field=(345 32)
port_field=(355 63)
user_field=(355 94)
password_field=(355 124)

# The work folder, the child processes and the helpers both screenshot
# scripts share.
. "$(dirname "${BASH_SOURCE[0]}")/screenshot-common.sh"
window_named() { xdotool search --onlyvisible --name "$1" >/dev/null 2>&1; }

# Neither the client nor calvaro touches the user's own settings or journal.
export XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/share"
export QT_QPA_PLATFORM=xcb

printf 'demo:%s\n' "$(printf %s demo | md5sum | cut -c1-32)" >"$work/users"
"$build/devserver/calvaro-devserver" --port 0 --data-dir "$work/data" --users "$work/users" \
    --tick-ms 100 --steps 10 --fast-slots 6 --slow-slots 1 2>"$work/server.log" &
server=$!
wait_until "the server to listen" grep -q "listening on" "$work/server.log"
port="$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$work/server.log")"
mkdir "$work/projects"
cp -r "$root/samples/beam-demo" "$work/projects/"

# The study: 26 load cases in the fast queue, three of which fail, then four
# in the slow queue, one at a time, still queued or running at the end.
export CALVARO_SERVER=127.0.0.1 CALVARO_PORT="$port" CALVARO_USER=demo CALVARO_PASSWORD=demo
for load in $(seq 10 10 300); do
    queue=fast
    [ "$load" -gt 260 ] && queue=slow
    extra=""
    case "$load" in 40 | 130 | 220) extra=" --fail" ;; esac
    "$build/cli/calvaro" submit "$work/projects/beam-demo/beam.prja" --solver thermal \
        --queue "$queue" --command-line "--load $load$extra" >/dev/null ||
        fail "calvaro submit failed"
done
wait_until "the fast jobs to finish" jobs_in_state_at_least processed 23

"$build/src/calvaro-client" -geometry "${window_size[0]}x${window_size[1]}+0+0" &
client=$!
window="$(timeout 30 xdotool search --sync --onlyvisible --name '^Calvaro Client - ')" ||
    fail "the client's window did not show"
type_into "${server_field[@]}" 127.0.0.1
type_into "${port_field[@]}" "$port"
type_into "${user_field[@]}" demo
type_into "${password_field[@]}" demo
xdotool key Return
wait_until "the job list" log_count_at_least " demo MT_JobStatus" 1
sleep 0.5 # for the table to be filled and painted

# From the keyboard only: the filter field, the quick filter beside it set to
# "Finished", back to the field and on to the rows it found, all of them.
xdotool key ctrl+f Tab Down Down Down Down shift+Tab Return ctrl+a Delete
wait_until "the Remove confirmation" window_named '^Remove jobs$'
sleep 0.5 # for the last repaint

mkdir -p "$(dirname "$output")"
import -window root -crop "${window_size[0]}x${window_size[1]}+0+0" +repage "$output"
xdotool key Escape
echo "screenshot: wrote $output"
