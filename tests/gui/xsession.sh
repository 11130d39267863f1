# Sourced by the GUI tests: a private X display with a window manager, and cleanup of
# everything a test started, whatever way it ends.
set -euo pipefail

declare -a VELMORA_PIDS=()
VELMORA_WORK=$(mktemp -d /tmp/velmora-gui-XXXXXX)

cleanup() {
    local pid
    for pid in "${VELMORA_PIDS[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${VELMORA_PIDS[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$VELMORA_WORK"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# Starts Xvfb on a free display and openbox on it; exports DISPLAY. Now and then a fresh
# Xvfb's display cannot be opened at once: then everything is started again.
start_desktop() {
    local attempt
    for attempt in 1 2 3; do
        try_desktop && return 0
        echo "-- desktop attempt $attempt failed; starting again" >&2
    done
    fail "no desktop after 3 attempts"
}

try_desktop() {
    local fd_file="$VELMORA_WORK/display"
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fd_file" >/dev/null 2>&1 &
    VELMORA_PIDS+=($!)
    local i
    for i in $(seq 1 100); do
        [[ -s "$fd_file" ]] && break
        sleep 0.1
    done
    [[ -s "$fd_file" ]] || return 1
    export DISPLAY=":$(head -1 "$fd_file")"
    openbox >/dev/null 2>&1 &
    local wm=$!
    VELMORA_PIDS+=($wm)
    # openbox is ready once it announces what it supports: xdotool refuses to activate
    # windows until _NET_ACTIVE_WINDOW is listed.
    for i in $(seq 1 100); do
        xprop -root _NET_SUPPORTED 2>/dev/null | grep -q '_NET_ACTIVE_WINDOW' && return 0
        kill -0 "$wm" 2>/dev/null || break
        sleep 0.1
    done
    kill "$wm" "${VELMORA_PIDS[-2]}" 2>/dev/null || true
    return 1
}

# Starts the content site with the given options; its request log goes to $SITE_LOG.
start_site() {
    SITE_LOG="$VELMORA_WORK/site.log"
    "$SITE" --listen "$SITE_HOST" --port "$SITE_PORT" "$@" >"$SITE_LOG" 2>&1 &
    VELMORA_PIDS+=($!)
    local i
    for i in $(seq 1 100); do
        grep -q 'serving' "$SITE_LOG" 2>/dev/null && return 0
        sleep 0.1
    done
    cat "$SITE_LOG" >&2
    fail "content site did not start"
}

# Waits until a window whose name matches the pattern is mapped; prints its id.
wait_window() {
    local pattern=$1 timeout=${2:-20} i id
    for i in $(seq 1 $((timeout * 10))); do
        id=$(xdotool search --onlyvisible --name "$pattern" 2>/dev/null | head -1 || true)
        if [[ -n "$id" ]]; then
            echo "$id"
            return 0
        fi
        sleep 0.1
    done
    return 1
}

# Waits until the site has logged a request for the path and query.
wait_request() {
    local target=$1 timeout=${2:-15} i
    for i in $(seq 1 $((timeout * 10))); do
        grep -qF "GET $target " "$SITE_LOG" && return 0
        sleep 0.1
    done
    return 1
}

# Runs the player in the background in its own working directory, under a Chinese locale
# (its ANSI code page is then 936, as on Chinese Windows); sets PLAYER_PID.
start_player() {
    PLAYER_DIR="$VELMORA_WORK/player"
    mkdir -p "$PLAYER_DIR"
    (cd "$PLAYER_DIR" && LC_ALL=zh_CN.UTF-8 exec "$PLAYER") >"$VELMORA_WORK/player.log" 2>&1 &
    PLAYER_PID=$!
    VELMORA_PIDS+=($PLAYER_PID)
}

# Starts the player, answers its first-run box with Enter (its default button) and waits
# for the main window with the start title; sets window.
start_player_window() {
    start_player
    local box
    box=$(wait_window '^提示$') || fail "first-run box did not appear"
    press "$box" Return
    window=$(wait_window '^Tessavo全集在线播放器 - VelmoraPlayer 1.0$') ||
        fail "main window with the start title did not appear"
}

# Waits for the player to exit and sets PLAYER_EXIT to its exit code. Must not run in a
# subshell: only the shell that started the player can collect its exit code.
wait_player_exit() {
    local timeout=${1:-20} i
    for i in $(seq 1 $((timeout * 10))); do
        if ! kill -0 "$PLAYER_PID" 2>/dev/null; then
            PLAYER_EXIT=0
            wait "$PLAYER_PID" || PLAYER_EXIT=$?
            return 0
        fi
        sleep 0.1
    done
    return 1
}

# Activates and focuses a window, then types keys (synthetic --window events are ignored).
press() {
    local window=$1
    shift
    xdotool windowactivate --sync "$window" >/dev/null 2>&1 || true
    xdotool windowfocus --sync "$window" >/dev/null 2>&1 || true
    xdotool key "$@"
}

# Client-area size of a window as "WxH".
client_size() {
    xwininfo -id "$1" | awk '/Width:/ {w=$2} /Height:/ {h=$2} END {print w "x" h}'
}

# Fails unless the episode's picture keeps changing by itself, which a paused video never
# does. The mouse waits over the list, away from the video, so nothing else touches it.
assert_video_plays() {
    local window=$1 X Y shot changed
    xdotool mousemove --window "$window" 700 300
    sleep 1
    eval "$(xdotool getwindowgeometry --shell "$window")" # X, Y of the client area
    local area="400x220+$((X + 120))+$((Y + 100))"
    for shot in 1 2 3; do
        import -window root -crop "$area" "$VELMORA_WORK/frame$shot.png"
        sleep 0.4
    done
    for shot in "1 2" "2 3"; do
        set -- $shot
        changed=$(compare -metric AE "$VELMORA_WORK/frame$1.png" "$VELMORA_WORK/frame$2.png" null: 2>&1 || true)
        [[ "$changed" =~ ^[0-9]+$ && "$changed" -gt 100 ]] ||
            fail "the video does not play by itself (frames $1 and $2 differ in '$changed' pixels)"
    done
}

# The user's browser becomes a script that notes the addresses it is given in $opened
# (through XDG_DATA_HOME and XDG_CONFIG_HOME, which then also hold WebKit's storage).
use_test_browser() {
    opened="$VELMORA_WORK/opened.txt"
    mkdir -p "$VELMORA_WORK/xdg-data/applications" "$VELMORA_WORK/xdg-config"
    printf '#!/bin/sh\necho "$1" >> "%s"\n' "$opened" >"$VELMORA_WORK/browser.sh"
    chmod +x "$VELMORA_WORK/browser.sh"
    printf '[Desktop Entry]\nType=Application\nName=Test browser\nExec=%s %%u\nMimeType=x-scheme-handler/http;\n' \
        "$VELMORA_WORK/browser.sh" >"$VELMORA_WORK/xdg-data/applications/velmora-test-browser.desktop"
    printf '[Default Applications]\nx-scheme-handler/http=velmora-test-browser.desktop\n' \
        >"$VELMORA_WORK/xdg-config/mimeapps.list"
    export XDG_DATA_HOME="$VELMORA_WORK/xdg-data" XDG_CONFIG_HOME="$VELMORA_WORK/xdg-config"
}
