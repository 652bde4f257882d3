#!/usr/bin/env bash
# Runs a command inside a fresh headless compositor with XWayland on a 1600 x 1000 screen, then
# stops it. Usage: with-compositor.sh sway|kwin|gnome COMMAND [ARG...]
# The command gets WAYLAND_DISPLAY, DISPLAY (XWayland), XDG_RUNTIME_DIR (on GNOME also
# DBUS_SESSION_BUS_ADDRESS and XAUTHORITY) and PELKIN_COMPOSITOR.
set -uo pipefail
kind=${1:?usage: with-compositor.sh sway|kwin|gnome COMMAND...}
shift
start=$(cd "$(dirname "$0")" && pwd)/start-$kind.sh
[[ -f $start ]] || { echo "with-compositor: unknown compositor $kind" >&2; exit 2; }
work=$(mktemp -d /tmp/pelkin-wayland.XXXXXX)
unset WAYLAND_DISPLAY DISPLAY XAUTHORITY QT_QPA_PLATFORM
if ! lines=$("$start" "$work"); then
  echo "with-compositor: $kind did not start" >&2
  tail -n 20 "$work"/*/*.log >&2
  rm -rf "$work"
  exit 1
fi
eval "$lines"
export PELKIN_COMPOSITOR=$kind
"$@"
status=$?
[[ $status -eq 0 ]] || { echo "with-compositor: $kind log (tail):" >&2; tail -n 30 "$work"/*/*.log >&2; }
eval "$STOP"
rm -rf "$work"
exit $status
