#!/usr/bin/env bash
# Starts a program on the X display of the caller (a virtual one), waits
# until its window with the given title is up, clicks the window's Close
# button and waits until the program has ended by itself.
#
#   open_and_close_window.sh PROGRAM TITLE
#
# Prints "closed with exit code N" at the end; exits non-zero when no window
# came up or the program did not end.
set -u
program=$1
title=$2

QT_QPA_PLATFORM=xcb "$program" & pid=$!
window=$(timeout 30 xdotool search --sync --name "^$title\$" 2>/dev/null | head -n 1)
if [ -z "$window" ]; then
  echo "no window \"$title\" came up within 30 s"
  kill "$pid" 2>/dev/null
  exit 1
fi
echo "window \"$title\" is up"

# The upgrade window's Close button: 75 x 25 pixels at 416, 304 in the window.
xdotool mousemove --window "$window" 453 316 click 1
for _ in $(seq 1 100); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
if kill -0 "$pid" 2>/dev/null; then
  echo "the window did not close on its Close button"
  kill "$pid"
  wait "$pid"
  exit 1
fi
wait "$pid"
echo "closed with exit code $?"
