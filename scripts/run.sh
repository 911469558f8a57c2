#!/usr/bin/env bash
# Installs what is missing, builds, starts the stand-in solver server on
# 127.0.0.1:10000 with a demo user, and starts the client against it.
# Closing the client stops the server again.
#   scripts/run.sh               client and stand-in server
#   scripts/run.sh --client-only only the client (for a real server)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${CALVARO_BUILD_DIR:-$root/build}"
demo="${CALVARO_DEMO_DIR:-$build/demo-server}"
port="${CALVARO_DEMO_PORT:-10000}"
demo_user="demo"
demo_password="demo"

client_only=false
[ "${1:-}" = "--client-only" ] && { client_only=true; shift; }

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    cat >&2 <<MSG
run: there is no display to show the window on.
     On a machine without one, run it inside a virtual display:
         xvfb-run -a -s "-screen 0 1280x1024x24" scripts/run.sh
MSG
    exit 1
fi

"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCALVARO_BUILD_DEVSERVER=ON >/dev/null
cmake --build "$build" -j "$(nproc)" --target CalvaroClient calvaro calvaro-devserver

if ! $client_only; then
    mkdir -p "$demo/data"
    digest=$(printf '%s' "$demo_password" | md5sum | cut -d' ' -f1)
    printf '%s:%s\n' "$demo_user" "$digest" >"$demo/users"
    "$build/devserver/calvaro-devserver" --port "$port" --data-dir "$demo/data" \
        --users "$demo/users" --show-others 2>"$demo/server.log" &
    server=$!
    trap 'kill "$server" 2>/dev/null; wait "$server" 2>/dev/null || true' EXIT
    for _ in $(seq 50); do
        grep -q "listening" "$demo/server.log" 2>/dev/null && break
        kill -0 "$server" 2>/dev/null || { cat "$demo/server.log" >&2; exit 1; }
        sleep 0.1
    done
    cat <<MSG
Stand-in solver server on 127.0.0.1:$port (log: $demo/server.log)
Log in with user "$demo_user" and password "$demo_password".
A sample project to submit: $root/samples/beam-demo/beam.prja
MSG
fi

"$build/src/calvaro-client" "$@"
