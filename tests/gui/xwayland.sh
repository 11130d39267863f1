# In a Wayland session with Xwayland (as GNOME and KDE start it) the player takes the X
# server, where a window can be kept on top: its window is an X11 window under the
# application id, and it does not say that pinning is impossible.
source "$(dirname "$0")/xsession.sh"

start_site --episodes 5
start_weston --backend=headless-backend.so --xwayland
export DISPLAY=$WESTON_X_DISPLAY
write_player_config List=5 Top=1
start_player
window=$(wait_window "$(title_pattern "$(start_title)")" 30) ||
    fail "no X11 window on weston's X server; $(cat "$VELMORA_WORK/player.log")"
class=$(xprop -id "$window" WM_CLASS)
[[ "$class" == "WM_CLASS(STRING) = \"$APP_ID\", \"$APP_ID\"" ]] || fail "window class: $class"
# weston's X window manager keeps only its own states in _NET_WM_STATE, so the keep-above
# request shows there only as the player's silence (openbox shows it: first_start).
wait_request '/video/player/?flv=index' || fail "the browser did not load the start page"
! grep -q 'cannot keep the window on top' "$VELMORA_WORK/player.log" ||
    fail "the player says it cannot pin under Xwayland"
echo "PASS: X11 window $window on $DISPLAY (weston $WAYLAND_DISPLAY), class $APP_ID, pinned without complaint"
