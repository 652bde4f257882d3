#!/usr/bin/env bash
# Runs a command under its own Xvfb and stops the server afterwards.
# Usage: with-xvfb.sh COMMAND [ARG...]
set -uo pipefail

fifo=$(mktemp -u)
mkfifo "$fifo"
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp -noreset 3>"$fifo" >/dev/null 2>&1 &
xvfb=$!
# Bounded: Xvfb writes its display number as soon as it listens.
read -r -t 20 display <"$fifo" || display=
rm -f "$fifo"
if [[ -z "$display" ]]; then
  echo "with-xvfb: Xvfb did not start" >&2
  kill "$xvfb" 2>/dev/null
  exit 1
fi
export DISPLAY=":$display"
unset WAYLAND_DISPLAY

"$@"
status=$?
kill "$xvfb" 2>/dev/null
wait "$xvfb" 2>/dev/null
exit $status
