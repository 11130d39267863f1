# The desktop build maps its titled, fixed-size window under the application id, and
# the window destroyed by another X client ends the process with exit code 0 (the other
# tests close it with alt+F4).
source "$(dirname "$0")/xsession.sh"

start_desktop
start_site --episodes 5
start_player_window

size=$(client_size "$window")
read -r client_width client_height < <("$CHILD_LAYOUT" client)
[[ "$size" == "${client_width}x$client_height" ]] ||
    fail "client area is $size, expected ${client_width}x$client_height"

# Not resizable: the window manager is told the minimum and maximum are the same size.
hints=$(xprop -id "$window" WM_NORMAL_HINTS)
for bound in minimum maximum; do
    grep -q "$bound size: $client_width by $client_height" <<<"$hints" || fail "no fixed $bound size: $hints"
done
xprop -id "$window" _NET_WM_ALLOWED_ACTIONS | grep -q MAXIMIZE && fail "window can be maximised"
xprop -id "$window" _NET_WM_ICON | grep -q '32 x 32' || fail "window has no 32x32 icon"
# The desktop matches the window to its entry ($APP_ID.desktop) by this class.
class=$(xprop -id "$window" WM_CLASS)
[[ "$class" == "WM_CLASS(STRING) = \"$APP_ID\", \"$APP_ID\"" ]] || fail "window class: $class"

wait_request '/video/player/?flv=index' || fail "the browser did not load the start page"
close_player destroy
echo "PASS: title, client size $size, fixed size, icon, class $APP_ID, exit code 0 when destroyed"
