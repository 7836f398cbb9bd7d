#!/usr/bin/env bash
# Starts a virtual desktop (Xvfb + openbox) for trying the window by hand:
#   scripts/desktop.sh start [DISPLAY_NUMBER]   prints the DISPLAY to export
#   scripts/desktop.sh shot FILE.png            screenshot of the whole screen
#   scripts/desktop.sh stop
# Drive the program with xdotool (key, type, mousemove, click) on that DISPLAY.
set -euo pipefail
cmd=${1:-start}
num=${2:-${DESKTOP_NUM:-$(( 50 + RANDOM % 400 ))}}
state=${TMPDIR:-/tmp}/tarnel-desktop-$(id -u)
case $cmd in
  start)
    Xvfb ":$num" -screen 0 1600x1100x24 -nolisten tcp >/dev/null 2>&1 &
    echo $! > "$state.$num.xvfb"
    for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$num" ] && break; sleep 0.1; done
    DISPLAY=":$num" openbox >/dev/null 2>&1 &
    echo $! > "$state.$num.wm"
    # A window mapped before the manager is up may never be shown: wait for it.
    for _ in $(seq 50); do DISPLAY=":$num" xdotool get_num_desktops >/dev/null 2>&1 && break; sleep 0.1; done
    echo ":$num"
    ;;
  shot)
    import -display "${DISPLAY:?export DISPLAY first}" -window root "${2:?file}"
    ;;
  stop)
    d=${DISPLAY#:}
    for f in "$state.$d.wm" "$state.$d.xvfb"; do [ -f "$f" ] && kill "$(cat "$f")" 2>/dev/null; rm -f "$f"; done
    ;;
esac
