#!/usr/bin/env bash
# Makes docs/screenshot.png: the client's window with a filled job table.
# Builds, then inside a virtual display starts the stand-in server and drives
# the real client as a user would, with xdotool: a colleague submits two jobs
# (shown greyed out, as another user's), then the demo user packs the sample
# project and submits jobs until the table holds jobs in several states.
#   scripts/screenshot.sh [output.png]
#   scripts/screenshot.sh --dark [output.png]     the window in a dark desktop theme,
#                                                 docs/screenshot-dark.png by default
#   CALVARO_BUILD_DIR=dir scripts/screenshot.sh   builds in dir instead of build-screenshot/
# The click positions below fit the window at the size set here with the
# fonts of the reference platform and Qt 5, whose widgets are taller than
# Qt 6's; so the client is built with Qt 5 here, in a folder of its own. If the
# layout changes, measure them again on a screenshot of the empty window.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${CALVARO_BUILD_DIR:-$root/build-screenshot}"
dark=""
default_output="$root/docs/screenshot.png"
if [ "${1:-}" = "--dark" ]; then
    dark="--dark"
    default_output="$root/docs/screenshot-dark.png"
    shift
fi
output="$(realpath -m "${1:-$default_output}")"

if [ -z "${CALVARO_SCREENSHOT_INSIDE:-}" ]; then
    "$root/scripts/install-deps.sh"
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCALVARO_QT_MAJOR=5 >/dev/null
    cmake --build "$build" -j "$(nproc)" --target CalvaroClient calvaro-devserver
    # Without -noreset the display resets when the first client quits, and
    # the second one could not connect while it does.
    exec env CALVARO_SCREENSHOT_INSIDE=1 CALVARO_BUILD_DIR="$build" \
        xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" "$0" $dark "$output"
fi

window_size=(1000 780)
# Positions inside the window.
server_field=(345 32)
port_field=(355 63)
user_field=(355 94)
password_field=(355 124)
select_project_button=(933 196)
solver_box=(501 258)
command_line_field=(501 289)
fast_radio=(137 320)
slow_radio=(290 320)
submit_button=(933 320)
refresh_button=(60 369)
first_row_y=447 # middle of the table's first row
row_height=18
row_x=200
header_y=421
solver_status_border_x=171
status_path_border_x=287
path_progress_border_x=391
progress_view=(478 645)

# The work folder, the child processes and the helpers both screenshot
# scripts share.
. "$(dirname "${BASH_SOURCE[0]}")/screenshot-common.sh"
archiver_done() { [ -f "$work/projects/beam-demo.zip" ] && ! pgrep -P "$client" >/dev/null; }

# The client keeps its settings in the work folder, never in the user's own.
export XDG_CONFIG_HOME="$work/config"
export QT_QPA_PLATFORM=xcb
# A dark theme as a desktop hands it to the toolkit: the colour scheme of a
# desktop whose settings the toolkit reads itself, with the Fusion style and
# the toolkit's usual font, so that the positions above still hold.
if [ -n "$dark" ]; then
    export XDG_CURRENT_DESKTOP=KDE KDE_SESSION_VERSION=5
    mkdir -p "$XDG_CONFIG_HOME"
    cat >"$XDG_CONFIG_HOME/kdeglobals" <<'COLOURS'
[General]
widgetStyle=Fusion
font=Sans Serif,9,-1,5,50,0,0,0,0,0

[Colors:View]
BackgroundNormal=35,38,41
BackgroundAlternate=49,54,59
ForegroundNormal=239,240,241
ForegroundLink=41,128,185
ForegroundVisited=127,140,141

[Colors:Window]
BackgroundNormal=49,54,59
ForegroundNormal=239,240,241

[Colors:Button]
BackgroundNormal=49,54,59
ForegroundNormal=239,240,241

[Colors:Selection]
BackgroundNormal=61,174,233
ForegroundNormal=252,252,252

[Colors:Tooltip]
BackgroundNormal=49,54,59
ForegroundNormal=239,240,241
COLOURS
fi

printf 'demo:%s\ncolleague:%s\n' "$(printf %s demo | md5sum | cut -c1-32)" \
    "$(printf %s colleague | md5sum | cut -c1-32)" >"$work/users"
"$build/devserver/calvaro-devserver" --port 0 --data-dir "$work/data" --users "$work/users" \
    --show-others --tick-ms 250 --steps 24 --slow-slots 1 2>"$work/server.log" &
server=$!
wait_until "the server to listen" grep -q "listening on" "$work/server.log"
port="$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$work/server.log")"
mkdir "$work/projects"
cp -r "$root/samples/beam-demo" "$work/projects/"

start_client() {
    "$build/src/calvaro-client" -geometry "${window_size[0]}x${window_size[1]}+0+0" &
    client=$!
    window="$(timeout 30 xdotool search --sync --onlyvisible --name '^Calvaro Client - ')" ||
        fail "the client's window did not show"
}

stop_client() {
    kill "$client"
    wait "$client" 2>/dev/null || true
    client=""
}

login() {
    local user="$1"
    type_into "${server_field[@]}" 127.0.0.1
    type_into "${port_field[@]}" "$port"
    type_into "${user_field[@]}" "$user"
    type_into "${password_field[@]}" "$user"
    xdotool key Return
    wait_until "$user's job list" log_count_at_least " $user MT_JobStatus" 1
}

select_project() {
    rm -f "$work/projects/beam-demo.zip"
    click "${select_project_button[@]}"
    local dialog
    dialog="$(timeout 30 xdotool search --sync --onlyvisible --name '^Select project file')" ||
        fail "the project file dialog did not show"
    xdotool windowfocus --sync "$dialog"
    xdotool type --delay 5 -- "$work/projects/beam-demo/beam.prja"
    xdotool key Return
    wait_until "the project archive" archiver_done
}

job_lists() { grep -c " $1 MT_JobStatus" "$work/server.log" || true; }

# Clicks and waits until the server has answered one more job list request.
click_for_job_list() {
    local user="$1" lists
    lists="$(job_lists "$user")"
    click "$2" "$3"
    wait_until "a job list for $user" log_count_at_least " $user MT_JobStatus" $((lists + 1))
}

# Picks a solver by its place in the list that the server sent.
choose_solver() {
    click "${solver_box[@]}"
    xdotool key Home
    for _ in $(seq "$1"); do xdotool key Down; done
    xdotool key Return
}

drag_header_border() {
    xdotool mousemove --window "$window" "$1" "$header_y" mousedown 1 \
        mousemove --window "$window" "$2" "$header_y" mouseup 1
}

submitted=0
submit() {
    local user="$1" solver="$2" queue_radio=("$3" "$4") command_line="$5"
    choose_solver "$solver"
    type_into "${command_line_field[@]}" "$command_line"
    click "${queue_radio[@]}"
    # A submission brings a job list along.
    click_for_job_list "$user" "${submit_button[@]}"
    submitted=$((submitted + 1))
    log_count_at_least "MT_SubmitJob(3) .* -> MT_SubmitJobOk" "$submitted" || fail "job $submitted was refused"
}

start_client
login colleague
select_project
submit colleague 2 "${fast_radio[@]}" "-np 8"
submit colleague 2 "${fast_radio[@]}" "-np 8 --fail"
stop_client

start_client
login demo
select_project
submit demo 0 "${fast_radio[@]}" "-np 4"
wait_until "the demo job to be processed" jobs_in_state_at_least processed 2
submit demo 1 "${slow_radio[@]}" "-np 16 -mem 32G"
submit demo 1 "${slow_radio[@]}" "-np 16 -mem 64G"
wait_until "a slow job to run" jobs_in_state_at_least running 1
click_for_job_list demo "${refresh_button[@]}"
# Wide enough for whole names, statuses and paths, as a user would drag
# them; from the right, so that no border has moved before it is dragged.
drag_header_border "$path_progress_border_x" $((path_progress_border_x + 110))
drag_header_border "$status_path_border_x" $((status_path_border_x + 40))
drag_header_border "$solver_status_border_x" $((solver_status_border_x + 40))
# The processed job, so that its progress messages show below the table.
click "$row_x" $((first_row_y + 2 * row_height))
click "${progress_view[@]}"
xdotool key ctrl+End
sleep 0.5 # for the last repaint

mkdir -p "$(dirname "$output")"
import -window root -crop "${window_size[0]}x${window_size[1]}+0+0" +repage "$output"
echo "screenshot: wrote $output"
