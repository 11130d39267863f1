# First start on a desktop against the content site: the first-run box, the pinned window,
# the site's episode count in the list, and playing an episode in the embedded browser.
source "$(dirname "$0")/xsession.sh"

episodes=37
start_desktop
start_site --episodes "$episodes"
start_player_window
wait_request '/video/player/?flv=list' || fail "the count was not fetched"
wait_request '/video/player/?flv=index' || fail "the browser did not load the start page"
xprop -id "$window" _NET_WM_STATE | grep -q _NET_WM_STATE_ABOVE || fail "window is not pinned on top"

double_click_row 1
wait_request '/video/player/?flv=1' || fail "double-click did not open episode 1"
wait_episode_title 1 || fail "title did not change"

# Enter in the list (which the click gave the focus) plays the selected episode again, as a
# double-click does.
plays_before=$(count_requests '/video/player/?flv=1')
press "$window" Return
wait_until 5 test "$(count_requests '/video/player/?flv=1')" -gt "$plays_before" ||
    fail "Enter in the list did not play the selected episode"

# The last row is the site's count: End selects it and scrolls it to the bottom of the
# list, where a double-click plays it.
press "$window" End
sleep 0.5
xdotool mousemove --window "$window" 700 490 click --repeat 2 --delay 80 1
wait_request "/video/player/?flv=$episodes" ||
    fail "the list's last row is not episode $episodes"
wait_episode_title "$episodes" || fail "title did not follow the last episode"
grep -q "^Last=$episodes" "$PLAYER_DIR/Config.ini" || fail "Last was not remembered"

sleep 1 # let the page paint before the screenshot
mkdir -p "$ARTIFACTS"
import -window root "$ARTIFACTS/first-start.png" || fail "screenshot failed"

close_player
echo "PASS: box, pinned, $episodes rows, episodes 1 and $episodes played; screenshot $ARTIFACTS/first-start.png"
