#!/usr/bin/env bash
# Sets everything up, starts the content site on loopback (with demo episodes unless
# --media is given), runs the desktop player against it, and stops the site when the
# player exits. Without a desktop (no DISPLAY) the player runs on a virtual one (Xvfb) and
# a screenshot is saved when it exits.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [[ "${VELMORA_SKIP_SETUP:-}" != 1 ]]; then
    "$root/scripts/setup.sh"
fi
"$root/scripts/build.sh" linux

# Without a media folder of the user's, the site plays demo episodes (made once, kept).
site_args=("$@")
media_given=0
for arg in "$@"; do
    if [[ $arg == --media || $arg == --media=* ]]; then media_given=1; fi
done
if [[ $media_given == 0 ]]; then
    "$root/scripts/make-demo-media.sh" "$root/build/demo-media"
    site_args+=(--media "$root/build/demo-media")
fi

pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
}
trap cleanup EXIT

"$root/build/linux/velmora-site" --listen 127.0.0.1 --port 8848 "${site_args[@]}" &
pids+=($!)
sleep 0.5
kill -0 "${pids[0]}" 2>/dev/null || { echo "run-player.sh: the content site did not start" >&2; exit 1; }

virtual=0
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
    virtual=1
    display_file=$(mktemp)
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$display_file" >/dev/null 2>&1 &
    pids+=($!)
    for _ in $(seq 50); do [[ -s "$display_file" ]] && break; sleep 0.1; done
    [[ -s "$display_file" ]] || { echo "run-player.sh: Xvfb did not start" >&2; exit 1; }
    export DISPLAY=":$(head -1 "$display_file")"
    rm -f "$display_file"
    openbox >/dev/null 2>&1 &
    pids+=($!)
    sleep 1
    echo "run-player.sh: no desktop found; the player runs on the virtual display $DISPLAY"
    echo "run-player.sh: watch it with e.g. 'DISPLAY=$DISPLAY import -window root shot.png'"
fi

# The player keeps Config.ini in its working directory: use one beside the build.
mkdir -p "$root/build/player-home"
cd "$root/build/player-home"
status=0
# A Chinese locale, as the player's users have: its texts and Config.ini are then read and
# written in code page 936 (GBK), as on Chinese Windows, whatever this shell's locale is.
LC_ALL=zh_CN.UTF-8 "$root/build/linux/velmora-player" || status=$?
if [[ $virtual == 1 ]]; then
    import -window root "$root/build/player-home/last-screen.png" 2>/dev/null || true
fi
exit $status
