#!/usr/bin/env bash
# Runs one command under a fresh Xvfb on a free display number, optionally with openbox as
# window manager, and tears both down afterwards whatever happens to the command.
#   run-under-xvfb.sh [--window-manager] [--dbus] command [args...]
# --dbus runs the command inside a private D-Bus session bus (dbus-run-session).
set -euo pipefail

window_manager=0
dbus=0
while [ $# -gt 0 ]; do
    case "$1" in
        --window-manager) window_manager=1; shift ;;
        --dbus) dbus=1; shift ;;
        --) shift; break ;;
        *) break ;;
    esac
done
[ $# -gt 0 ] || { echo "usage: $0 [--window-manager] [--dbus] command [args...]" >&2; exit 2; }

workdir=$(mktemp -d "${TMPDIR:-/tmp}/kn-xvfb.XXXXXX")
pids=()
cleanup() {
    local status=$?
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$workdir"
    exit "$status"
}
trap cleanup EXIT
trap 'exit 143' TERM INT

# -displayfd lets Xvfb pick a display nobody uses and tell us once it accepts clients.
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp -noreset \
    3>"$workdir/display" >"$workdir/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 200); do
    grep -q . "$workdir/display" 2>/dev/null && break
    kill -0 "${pids[0]}" 2>/dev/null || { cat "$workdir/xvfb.log" >&2; exit 1; }
    sleep 0.05
done
display=$(head -n1 "$workdir/display" | tr -d '[:space:]')
[ -n "$display" ] || { echo "Xvfb did not start" >&2; cat "$workdir/xvfb.log" >&2; exit 1; }
export DISPLAY=":$display"
unset WAYLAND_DISPLAY

if [ "$window_manager" -eq 1 ]; then
    openbox --sm-disable >"$workdir/openbox.log" 2>&1 &
    pids+=($!)
    # The window manager is ready once it announces itself on the root window.
    for _ in $(seq 200); do
        xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
        sleep 0.05
    done
fi

if [ "$dbus" -eq 1 ]; then
    dbus-run-session -- "$@" &
else
    "$@" &
fi
pids+=($!)
set +e
wait "${pids[-1]}"
status=$?
set -e
exit "$status"
