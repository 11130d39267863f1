# Sourced by the shell tests and scripts/run-player.sh: a private X display with a window
# manager, the content site, waiting for windows and for the site's requests. Every process
# started here goes into VELMORA_PIDS; the caller's EXIT trap ends them with stop_started.
#
# The site: $SITE (the binary) on $SITE_HOST:$SITE_PORT, its request log in $SITE_LOG.
# Xvfb's and openbox's output goes to $DESKTOP_LOG when it is set.

VELMORA_PIDS=()

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# Ends every process in VELMORA_PIDS and waits for each.
stop_started() {
    local pid
    for pid in "${VELMORA_PIDS[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${VELMORA_PIDS[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    VELMORA_PIDS=()
}

# Starts Xvfb on a free display and openbox on it; exports DISPLAY. Now and then a fresh
# Xvfb's display cannot be opened at once (openbox fails to open it): then both start again.
start_desktop() {
    local attempt
    for attempt in 1 2 3; do
        try_desktop && return 0
        echo "-- desktop attempt $attempt failed" >&2
    done
    fail "no desktop after 3 attempts${DESKTOP_LOG:+: $(cat "$DESKTOP_LOG")}"
}

try_desktop() {
    local log=${DESKTOP_LOG:-/dev/null} wm i
    start_xvfb || return 1
    openbox >>"$log" 2>&1 &
    wm=$!
    VELMORA_PIDS+=("$wm")
    # openbox is ready once it announces what it supports: xdotool refuses to activate
    # windows until _NET_ACTIVE_WINDOW is listed.
    for i in $(seq 100); do
        xprop -root _NET_SUPPORTED 2>/dev/null | grep -q _NET_ACTIVE_WINDOW && return 0
        kill -0 "$wm" 2>/dev/null || break
        sleep 0.1
    done
    kill "$wm" "$XVFB_PID" 2>/dev/null || true
    wait "$wm" "$XVFB_PID" 2>/dev/null || true
    return 1
}

# Starts Xvfb on a free display and exports DISPLAY once the display answers; sets
# XVFB_PID. Returns 1 when it does not come up (and ends it).
start_xvfb() {
    local log=${DESKTOP_LOG:-/dev/null} display_file i
    display_file=$(mktemp)
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$display_file" >>"$log" 2>&1 &
    XVFB_PID=$!
    VELMORA_PIDS+=("$XVFB_PID")
    for i in $(seq 100); do
        [[ -s "$display_file" ]] && break
        sleep 0.1
    done
    if [[ -s "$display_file" ]]; then
        export DISPLAY=":$(head -1 "$display_file")"
        for i in $(seq 100); do
            if xprop -root >/dev/null 2>&1; then
                rm -f "$display_file"
                return 0
            fi
            sleep 0.1
        done
    fi
    rm -f "$display_file"
    kill "$XVFB_PID" 2>/dev/null || true
    wait "$XVFB_PID" 2>/dev/null || true
    return 1
}

# Xvfb alone, with no window manager (weston's X11 backend runs in it).
start_bare_display() {
    start_xvfb || fail "Xvfb did not start or its display does not answer"
}

note() { echo "-- $*"; }

# find_wine: sets WINE64 and WINESERVER, the server that belongs to that loader; fails
# (returns 1) when either is missing.
find_wine() {
    WINE64=$(command -v wine64 || echo /usr/lib/wine/wine64)
    WINESERVER=$(dirname "$(readlink -f "$WINE64")")/wineserver
    [[ -x "$WINESERVER" ]] || WINESERVER=$(command -v wineserver || true)
    [[ -x "$WINE64" && -x "$WINESERVER" ]]
}
now_ms() { echo $(($(date +%s%N) / 1000000)); }

# title_pattern TEXT: a wait_window pattern that matches exactly TEXT.
title_pattern() { printf '^%s$' "$(printf '%s' "$1" | sed 's/[].[*^$()+?{}|\\]/\\&/g')"; }

# start_title [VERSION]: the main window's title while no Title is stored ($VERSION by
# default), as the program formats it ($CHILD_LAYOUT reads it from the program).
start_title() { "$CHILD_LAYOUT" title "${1:-$VERSION}"; }

# answer_box KEY [SECONDS]: the message box captioned 提示 (the first-run box among them)
# gets KEY once it has the focus, and must close.
answer_box() {
    local key=$1 seconds=${2:-30} box i
    box=$(wait_window "$(title_pattern 提示)" "$seconds") ||
        fail "no box \"提示\" within $seconds s; windows: $(list_windows)"
    xdotool windowactivate --sync "$box" >/dev/null 2>&1 || fail "cannot activate the box"
    xdotool key "$key"
    for i in $(seq 100); do
        xdotool search --onlyvisible --name "$(title_pattern 提示)" >/dev/null 2>&1 || return 0
        sleep 0.1
    done
    fail "the box \"提示\" is still open after $key"
}

list_windows() {
    local id
    for id in $(xdotool search --name . 2>/dev/null); do
        printf '[%s] ' "$(xdotool getwindowname "$id")"
    done
}

# wait_until SECONDS COMMAND...: runs COMMAND every tenth of a second until it succeeds;
# returns 1 when it has not within SECONDS.
wait_until() {
    local tenths=$(($1 * 10)) i
    shift
    for ((i = 0; i < tenths; i++)); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}

# wait_window PATTERN [SECONDS [FIELD]]: prints the id of a visible window whose name (or
# FIELD: classname, ...) matches.
wait_window() {
    local pattern=$1 seconds=${2:-20} field=${3:-name} i id
    for i in $(seq $((seconds * 10))); do
        id=$(xdotool search --onlyvisible "--$field" "$pattern" 2>/dev/null | head -1 || true)
        if [[ -n "$id" ]]; then
            echo "$id"
            return 0
        fi
        sleep 0.1
    done
    return 1
}

# start_site OPTION...: the content site with these options; sets SITE_PID.
start_site() {
    : >"$SITE_LOG"
    "$SITE" --listen "$SITE_HOST" --port "$SITE_PORT" "$@" >>"$SITE_LOG" 2>&1 &
    SITE_PID=$!
    VELMORA_PIDS+=("$SITE_PID")
    local i
    for i in $(seq 100); do
        grep -q 'serving' "$SITE_LOG" 2>/dev/null && return 0
        kill -0 "$SITE_PID" 2>/dev/null || break
        sleep 0.1
    done
    fail "the content site did not start on $SITE_HOST:$SITE_PORT: $(cat "$SITE_LOG")"
}

stop_site() {
    kill "$SITE_PID" 2>/dev/null || true
    wait "$SITE_PID" 2>/dev/null || true
}

# count_requests TARGET: how many GET requests for TARGET (path and query) $SITE_LOG holds;
# the site's log and nginx's both write the method, a blank and the target.
count_requests() {
    grep -cF "GET $1 " "$SITE_LOG" 2>/dev/null || true
}

# wait_request TARGET [SECONDS]: waits until $SITE_LOG holds a request for TARGET.
wait_request() {
    local target=$1 seconds=${2:-15} i
    for i in $(seq $((seconds * 10))); do
        [[ $(count_requests "$target") -gt 0 ]] && return 0
        sleep 0.1
    done
    return 1
}

# The program's child-window table, printed by $CHILD_LAYOUT (tests/windows/child_layout).
# The middle of the control with TEXT, as "X Y" in the main window's client area ("" is the
# episode list, the one control without text).
control_point() {
    local point
    point=$("$CHILD_LAYOUT" | awk -F '\t' -v text="$1" '$1 == text { print $2, $3; exit }')
    [[ -n "$point" ]] || fail "the program has no control \"$1\": $("$CHILD_LAYOUT")"
    echo "$point"
}

# The middle of the episode list's ROW-th visible row (1-based; rows are 18 pixels high).
list_row_point() {
    local x top
    read -r x top < <("$CHILD_LAYOUT" | awk -F '\t' '$1 == "" { print $2, $4; exit }')
    echo "$x $((top + 18 * $1 - 9))"
}

# tabs_between FROM TO: how many Tabs move the focus from the control showing FROM to the one
# showing TO, in the table's tab order ("" is the episode list).
tabs_between() {
    local count
    count=$("$CHILD_LAYOUT" | awk -F '\t' -v from="$1" -v to="$2" '
        $5 == "tab" { order[n++] = $1 }
        END { for (i = 0; i < n; i++) { if (order[i] == from) f = i; if (order[i] == to) t = i }
              if (f == "" || t == "") exit 1; print (t - f + n) % n }')
    [[ -n "$count" ]] || fail "Tab does not stop on \"$1\" and \"$2\": $("$CHILD_LAYOUT")"
    echo "$count"
}
