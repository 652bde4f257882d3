#!/usr/bin/env bash
# Runs a command inside a fresh headless compositor (sway, KWin 5.27 or mutter 43) with XWayland
# on a 1600 x 1000 screen, for at most 10 min, then stops it. Root works.
# Usage: with-compositor.sh sway|kwin|gnome COMMAND [ARG...]
# The command gets WAYLAND_DISPLAY, DISPLAY (XWayland), XDG_RUNTIME_DIR (on GNOME also
# DBUS_SESSION_BUS_ADDRESS and XAUTHORITY) and PELKIN_COMPOSITOR.
set -uo pipefail
kind=${1:?usage: with-compositor.sh sway|kwin|gnome COMMAND...}
shift
unset WAYLAND_DISPLAY DISPLAY XAUTHORITY QT_QPA_PLATFORM
dir=$(mktemp -d /tmp/pelkin-wayland.XXXXXX)
chmod 755 "$dir"
mkdir -m 700 "$dir/run" "$dir/home"
export XDG_RUNTIME_DIR=$dir/run
pids=()

# Polls for 20 s until the condition (evaluated) holds, while the compositor runs.
await() {
  for _ in $(seq 1 200); do
    eval "$1" && return 0
    kill -0 "${pids[-1]}" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

# sway refuses to run as root: as root it runs as "nobody". It hands its
# children the XWayland display after letting the caller's X clients in.
start_sway() {
  cat >"$dir/sway.conf" <<CONF
xwayland enable
output HEADLESS-1 resolution 1600x1000 position 0 0
default_border none
focus_follows_mouse no
exec sh -c 'xhost +si:localuser:$(id -un) >/dev/null 2>&1; echo "\$DISPLAY" > "$dir/run/display"'
CONF
  local as=()
  if [[ $(id -u) -eq 0 ]]; then
    chown -R nobody:nogroup "$dir/run" "$dir/home"
    as=(setpriv --reuid=65534 --regid=65534 --clear-groups)
  fi
  timeout 600 "${as[@]}" env -i PATH=/usr/bin:/bin HOME="$dir/home" XDG_RUNTIME_DIR="$dir/run" \
    WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman \
    sway -c "$dir/sway.conf" -d >"$dir/sway.log" 2>&1 &
  pids+=($!)
  await '[[ -s $dir/run/display ]] && compgen -G "$dir/run/wayland-*" >/dev/null' || return 1
  chmod 755 "$dir/run" # root's clients may connect to nobody's sockets
  export DISPLAY=$(cat "$dir/run/display")
  export WAYLAND_DISPLAY=$(basename "$(compgen -G "$dir/run/wayland-*" | grep -v lock | head -n 1)")
}

# KWin offers the fake-input protocol that vptr uses only with KWIN_WAYLAND_NO_PERMISSION_CHECKS=1.
start_kwin() {
  # The packaged binary carries a file capability that a container refuses to exec; a copy has none.
  cp /usr/bin/kwin_wayland "$dir/kwin_wayland"
  timeout 600 env -i PATH=/usr/bin:/bin HOME="$dir/home" XDG_RUNTIME_DIR="$dir/run" \
    KWIN_COMPOSE=Q KWIN_WAYLAND_NO_PERMISSION_CHECKS=1 QT_QPA_PLATFORM=wayland \
    "$dir/kwin_wayland" --virtual --xwayland --width 1600 --height 1000 \
    --socket wayland-kw --no-lockscreen --no-global-shortcuts --no-kactivities \
    "sh -c 'echo \$DISPLAY > $dir/display'" >"$dir/kwin.log" 2>&1 &
  pids+=($!)
  await '[[ -s $dir/display ]]' || return 1
  export WAYLAND_DISPLAY=wayland-kw DISPLAY=$(cat "$dir/display")
}

# mutter's remote-desktop API, which gnome_pointer.py drives, needs pipewire and
# a system bus: private ones here.
start_gnome() {
  local -x HOME=$dir/home DBUS_SYSTEM_BUS_ADDRESS=unix:path=$dir/system_bus_socket
  dbus-daemon --session --fork --print-address=3 --print-pid=4 3>"$dir/bus.addr" 4>"$dir/bus.pid"
  export DBUS_SESSION_BUS_ADDRESS=$(cat "$dir/bus.addr")
  dbus-daemon --session --fork --address="$DBUS_SYSTEM_BUS_ADDRESS" --print-pid=4 4>"$dir/sysbus.pid"
  timeout 600 pipewire >"$dir/pipewire.log" 2>&1 &
  pids+=("$(cat "$dir/bus.pid")" "$(cat "$dir/sysbus.pid")" $!)
  timeout 600 mutter --headless --virtual-monitor 1600x1000 --wayland --wayland-display wl-gnome \
    >"$dir/gnome.log" 2>&1 &
  pids+=($!)
  await xwayland_of_gnome || return 1
  export WAYLAND_DISPLAY=wl-gnome DISPLAY XAUTHORITY
}

# mutter's XWayland has its display and -auth file (in our runtime folder) on its command line.
xwayland_of_gnome() {
  local p args
  [[ -S $dir/run/wl-gnome ]] || return 1
  for p in $(pgrep -x Xwayland); do
    args=$(tr '\0' ' ' <"/proc/$p/cmdline" 2>/dev/null) && [[ $args == *"$dir/run/"* ]] || continue
    DISPLAY=$(grep -oE ' :[0-9]+' <<<"$args" | head -n 1 | tr -d ' ')
    XAUTHORITY=$(grep -oE -- '-auth [^ ]+' <<<"$args" | cut -d' ' -f2)
    return 0
  done
  return 1
}

status=1
if ! declare -F "start_$kind" >/dev/null; then
  echo "with-compositor: unknown compositor $kind" >&2
  status=2
elif "start_$kind"; then
  PELKIN_COMPOSITOR=$kind "$@"
  status=$?
else
  echo "with-compositor: $kind did not start" >&2
fi
[[ $status -eq 0 ]] || { echo "with-compositor: $kind log (tail):" >&2; tail -n 30 "$dir"/*.log >&2; }
kill "${pids[@]}" 2>/dev/null
sleep 0.5
rm -rf "$dir"
exit $status
