#!/usr/bin/env bash
# Runs a command inside a headless Wayland compositor with XWayland, then stops it.
# Usage: with-compositor.sh sway|kwin|gnome COMMAND [ARG...]
# The command gets WAYLAND_DISPLAY, DISPLAY (XWayland), XDG_RUNTIME_DIR (and on GNOME
# DBUS_SESSION_BUS_ADDRESS, XAUTHORITY) and PELKIN_COMPOSITOR. The screen is 1600 x 1000.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
kind=${1:?usage: with-compositor.sh sway|kwin|gnome COMMAND...}
shift
work=$(mktemp -d /tmp/pelkin-wayland.XXXXXX)
case $kind in
  sway) start=("$here/start-sway.sh") ;;
  kwin) start=("$here/start-kwin.sh") ;;
  gnome) start=("$here/start-gnome.sh") ;;
  *) echo "with-compositor: unknown compositor $kind" >&2; exit 2 ;;
esac
unset WAYLAND_DISPLAY DISPLAY XAUTHORITY QT_QPA_PLATFORM
if ! lines=$("${start[@]}" --lifetime 600 --size 1600x1000 "$work"); then
  echo "with-compositor: $kind did not start" >&2
  cat "$work"/*/*.log 2>/dev/null | tail -n 20 >&2
  rm -rf "$work"
  exit 1
fi
eval "$lines"
export PELKIN_COMPOSITOR=$kind
"$@"
status=$?
if [[ $status -ne 0 ]]; then
  echo "with-compositor: $kind log (tail):" >&2
  tail -n 30 "$work"/*/*.log >&2 2>/dev/null
fi
eval "$STOP"
rm -rf "$work"
exit $status
