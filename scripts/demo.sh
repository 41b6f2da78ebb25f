#!/usr/bin/env bash
# The demo: BrindleHost with its test camera, capturing, sending and saving
# every second, and BrindleView connected to it, each with its own data
# folder under build/demo. On a display BrindleHost opens its window (in the
# tray when the desktop has one); without one both run headless. Runs until
# Ctrl-C.
#
#   make demo                 or   scripts/demo.sh
#   DEMO_PORT=23456 PRESET=dev     (the defaults)
set -eu
cd "$(dirname "$0")/.."

PRESET="${PRESET:-dev}"
PORT="${DEMO_PORT:-23456}"
DEMO="$PWD/build/demo"

./scripts/bootstrap.sh
cmake --preset "$PRESET" >/dev/null
cmake --build --preset "$PRESET" --target BrindleHost BrindleView
HOST_PROGRAM="build/$PRESET/bin/BrindleHost"
VIEW_PROGRAM="build/$PRESET/bin/BrindleView"

# A fresh server settings file each run: the test camera in use, its images
# sent and saved every second, the time stamp at the bottom right.
mkdir -p "$DEMO/host" "$DEMO/view"
printf '[Settings]\r\nPort=%s\r\n[testcam:0]\r\nUse=Yes\r\nSend=Yes\r\nSave=Yes\r\nCycle=1\r\nTime=4\r\n' \
    "$PORT" > "$DEMO/host/BrindleHost.ini"

HOST_PID=""
VIEW_PID=""
stop() {
    trap - INT TERM
    echo
    echo "demo: stopping"
    [ -n "$VIEW_PID" ] && kill -TERM "$VIEW_PID" 2>/dev/null || true
    [ -n "$VIEW_PID" ] && wait "$VIEW_PID" 2>/dev/null || true
    [ -n "$HOST_PID" ] && kill -TERM "$HOST_PID" 2>/dev/null || true
    [ -n "$HOST_PID" ] && wait "$HOST_PID" 2>/dev/null || true
    echo "demo: stopped; the images stay in $DEMO"
    exit 0
}
trap stop INT TERM

HOST_MODE="--headless"
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    HOST_MODE=""
fi
# shellcheck disable=SC2086
"$HOST_PROGRAM" $HOST_MODE --data-dir "$DEMO/host" --test-camera --listen 127.0.0.1 &
HOST_PID=$!
for _ in $(seq 1 100); do
    if (exec 3<>"/dev/tcp/127.0.0.1/$PORT") 2>/dev/null; then
        break
    fi
    if ! kill -0 "$HOST_PID" 2>/dev/null; then
        echo "demo: BrindleHost ended; see $DEMO/host/BrindleHost.log" >&2
        exit 1
    fi
    sleep 0.2
done

# With a display BrindleView opens its window (in the tray when there is
# one; the image window opens with the first picture); without, headless.
VIEW_MODE=--headless
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    VIEW_MODE=
fi
"$VIEW_PROGRAM" $VIEW_MODE --data-dir "$DEMO/view" --connect "127.0.0.1:$PORT" &
VIEW_PID=$!

CAMERA=$(sed -n '/^\[testcam:0\]/,/^\[/s/^Name2=\(.*\)\r\{0,1\}$/\1/p' "$DEMO/host/BrindleHost.ini" |
    tr -d '\r' | head -n 1)
echo
echo "demo: BrindleHost on 127.0.0.1:$PORT saves to  $DEMO/host/${CAMERA:-<camera>}/<yyyymmdd>/"
echo "demo: BrindleView stores what it receives in    $DEMO/view/127.0.0.1/${CAMERA:-<camera>}/<yyyymmdd>/"
echo "demo: logs: $DEMO/host/BrindleHost.log and $DEMO/view/BrindleView.log"
echo "demo: press Ctrl-C to stop both"
wait
