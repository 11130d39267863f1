# Sourced by the GUI tests: the desktop helpers, the player on the desktop, and cleanup of
# everything a test started, whatever way it ends.
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/../support/desktop.sh"

VELMORA_WORK=$(mktemp -d /tmp/velmora-gui-XXXXXX)
SITE_LOG="$VELMORA_WORK/site.log"

cleanup() {
    stop_started
    rm -rf "$VELMORA_WORK"
}
trap cleanup EXIT

# The site on the next port with the given options, behind a small nginx on the player's
# address that answers the start page with the test's own page ($1); $2 goes into that
# server's block, $3 into nginx's http block (other servers). Sets site_root.
start_site_behind_nginx() {
    local page=$1 server=$2 http=$3 i
    shift 3
    site_root="http://$SITE_HOST:$SITE_PORT"
    "$SITE" --listen "$SITE_HOST" --port $((SITE_PORT + 1)) "$@" >"$SITE_LOG" 2>&1 &
    VELMORA_PIDS+=($!)
    mkdir -p "$VELMORA_WORK/nginx"
    cat >"$VELMORA_WORK/nginx/nginx.conf" <<EOF
daemon off;
pid $VELMORA_WORK/nginx/nginx.pid;
error_log $VELMORA_WORK/nginx/error.log;
events {}
http {
    access_log off;
    proxy_max_temp_file_size 0; # the workers cannot write in the test's private folder
    client_body_temp_path $VELMORA_WORK/nginx;
    proxy_temp_path $VELMORA_WORK/nginx;
    default_type text/html;
    server {
        listen $SITE_HOST:$SITE_PORT;
        location = /video/player/ {
            if (\$arg_flv = index) {
                return 200 '$page';
            }
            proxy_pass http://$SITE_HOST:$((SITE_PORT + 1));
        }
        location / { proxy_pass http://$SITE_HOST:$((SITE_PORT + 1)); }
        $server
    }
    $http
}
EOF
    nginx -p "$VELMORA_WORK/nginx" -c "$VELMORA_WORK/nginx/nginx.conf" -e "$VELMORA_WORK/nginx/error.log" &
    VELMORA_PIDS+=($!)
    for i in $(seq 1 100); do
        curl -s "$site_root/video/player/?flv=list" >/dev/null && return 0
        sleep 0.1
    done
    fail "the site behind nginx does not answer: $(cat "$VELMORA_WORK/nginx/error.log")"
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
    answer_box Return 20
    window=$(wait_window "$(title_pattern "$(start_title)")") ||
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

# close_player [destroy]: alt+F4 on the main window, or with "destroy" another X client
# destroying it, ends the player with exit code 0.
close_player() {
    if [[ "${1:-}" == destroy ]]; then
        xdotool windowclose "$window"
    else
        press "$window" alt+F4
    fi
    wait_player_exit 20 || fail "player did not exit after closing its window"
    [[ "$PLAYER_EXIT" == 0 ]] || fail "player exited with $PLAYER_EXIT"
}

# Activates and focuses a window, then types keys (synthetic --window events are ignored).
press() {
    local window=$1
    shift
    xdotool windowactivate --sync "$window" >/dev/null 2>&1 || true
    xdotool windowfocus --sync "$window" >/dev/null 2>&1 || true
    xdotool key "$@"
}

# double_click_row ROW: a double-click on the episode list's ROW-th visible row (1-based).
double_click_row() {
    xdotool windowactivate --sync "$window" >/dev/null 2>&1 || true
    xdotool mousemove --window "$window" $(list_row_point "$1") click --repeat 2 --delay 80 1
}

# wait_episode_title N [SECONDS]: waits for the title of episode N with no Title stored.
wait_episode_title() {
    wait_window "$(title_pattern "Tessavo第${1}集 - VelmoraPlayer $VERSION")" "${2:-10}" >/dev/null
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

# wait_opened URL: waits up to 5 s until the user's browser has been given URL.
wait_opened() {
    local i
    for i in $(seq 1 50); do
        grep -qxF "$1" "$opened" 2>/dev/null && return 0
        sleep 0.1
    done
    return 1
}

# Starts weston with the given options on a socket of its own (its runtime folder is in the
# test's folder); exports WAYLAND_DISPLAY. With --xwayland it also sets WESTON_X_DISPLAY,
# the display of its X server (Xwayland, started on the first X connection).
start_weston() {
    export XDG_RUNTIME_DIR="$VELMORA_WORK/runtime"
    mkdir -p -m 700 "$XDG_RUNTIME_DIR"
    local log="$VELMORA_WORK/weston.log" socket=velmora-weston i
    weston --socket="$socket" --idle-time=0 "$@" >"$log" 2>&1 &
    VELMORA_PIDS+=($!)
    for i in $(seq 1 100); do
        [[ -S "$XDG_RUNTIME_DIR/$socket" ]] && break
        sleep 0.1
    done
    [[ -S "$XDG_RUNTIME_DIR/$socket" ]] || { cat "$log" >&2; fail "weston did not start"; }
    export WAYLAND_DISPLAY=$socket
    if [[ " $* " == *" --xwayland "* ]]; then
        for i in $(seq 1 100); do
            WESTON_X_DISPLAY=$(sed -n 's/.*xserver listening on display \(:[0-9]*\).*/\1/p' "$log")
            [[ -n "$WESTON_X_DISPLAY" ]] && return 0
            sleep 0.1
        done
        cat "$log" >&2
        fail "weston's X server did not start"
    fi
}

# Writes the player's Config.ini before it starts: a player that has run before, with the
# given lines ("Top=1", ...) in its section.
write_player_config() {
    PLAYER_DIR="$VELMORA_WORK/player"
    mkdir -p "$PLAYER_DIR"
    printf '[VelmoraPlayer]\r\nVersion=%s\r\nOnce=1\r\nLast=1\r\n' "$VERSION" >"$PLAYER_DIR/Config.ini"
    printf '%s\r\n' "$@" >>"$PLAYER_DIR/Config.ini"
}
