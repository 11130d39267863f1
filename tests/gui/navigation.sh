# The player follows its embedded browser: another site's link and a new-window request go
# to the user's browser while the page stays; an episode that ends runs on to the next one,
# and the title, the list's selection and Last follow the episode on screen; an episode left
# partway and opened again resumes where it was.
source "$(dirname "$0")/xsession.sh"

use_test_browser

# The site behind nginx, whose start page has two links of the test's: one to another site,
# one to a new window.
# Episodes 1 and 3 are the 5 s demo clips, episode 2 a 20 s one.
media="$VELMORA_WORK/media"
"$DEMO_MEDIA" "$media" 3 >/dev/null || fail "could not make the test clips"
rm "$media"/002.*
gst-launch-1.0 -q videotestsrc num-buffers=500 pattern=ball ! \
    video/x-raw,width=320,height=240,framerate=25/1 ! vp8enc deadline=1 ! webmmux ! \
    filesink location="$media/002.webm" || fail "could not make the 20 s clip"
start_desktop
elsewhere="http://${SITE_HOST%.1}.2:$SITE_PORT/elsewhere"
new_window="http://$SITE_HOST:$SITE_PORT/video/player/?flv=2"
start_site_behind_nginx '<!DOCTYPE html><body style="margin:0">
<a href="'"$elsewhere"'" style="display:block;height:150px;background:#ddd">elsewhere</a>
<a href="'"$new_window"'" target="_blank" style="display:block;height:150px;background:#bbb">new window</a>' \
    '' '' --media "$media"

start_player_window
start_pattern=$(title_pattern "$(start_title)")
sleep 2 # the start page painted

click_page() { # X Y in the main window's client area
    xdotool windowactivate --sync "$window" >/dev/null 2>&1 || true
    xdotool mousemove --window "$window" "$1" "$2" click 1
}

# Another site's link: the user's browser gets it, the page stays.
click_page 300 75
wait_opened "$elsewhere" || fail "the other site's link did not reach the user's browser ($(cat "$opened" 2>/dev/null))"
# A new-window link, even to the site itself: the user's browser, no window, no navigation.
# The page hands the viewer off at most once in the program's interval: the next one waits.
sleep "$(($(sed -n 's/.*HandOffIntervalMs = \([0-9]*\);/\1/p' "$(dirname "$0")/../../ui/BrowserEvents.cpp") / 1000 + 1))"
click_page 300 225
wait_opened "$new_window" || fail "the new-window link did not reach the user's browser ($(cat "$opened" 2>/dev/null))"
sleep 1
! grep -qF 'GET /video/player/?flv=2 ' "$SITE_LOG" || fail "the new-window link was loaded in the player"
[[ $(xdotool search --onlyvisible --pid "$PLAYER_PID" 2>/dev/null | wc -l) -le 2 ]] ||
    fail "the player opened a window of its own"
wait_window "$start_pattern" 1 >/dev/null || fail "the title changed while the start page stayed"
import -window root "$ARTIFACTS/links-stayed.png"

# Episode 1 runs to its end and on to episode 2: the player follows.
double_click_row 1
wait_request '/video/player/?flv=1' || fail "double-click did not open episode 1"
wait_episode_title 1 5 || fail "title did not show episode 1"
xdotool mousemove --window "$window" 700 300 # away from the video
wait_request '/video/player/?flv=2' 20 || fail "episode 1 did not run on to episode 2"
wait_episode_title 2 5 || fail "the title did not follow episode 2"
wait_until 2 grep -q '^Last=2' "$PLAYER_DIR/Config.ini" || fail "Last did not follow: $(grep Last "$PLAYER_DIR/Config.ini")"
# The selected row is drawn in the theme's selection colour: row 2 now, not row 1.
read -r X Y < <(xwininfo -id "$window" | awk '/Absolute upper-left X/ {x=$4} /Absolute upper-left Y/ {y=$4} END {print x, y}')
row_colour() { # client y of a row: its blue minus its red, 0..255
    import -window root -crop "1x1+$((X + 690))+$((Y + $1))" png:- |
        convert - -format '%[fx:int(255*(b-r))]' info:
}
sleep 0.5
(($(row_colour 27) > 60 && $(row_colour 9) < 20)) ||
    fail "the list does not select row 2 (row 1: $(row_colour 9), row 2: $(row_colour 27))"
import -window root "$ARTIFACTS/followed.png"

# Episode 2 left after about 8 s and opened again resumes there: it ends about 12 s later
# and runs on to episode 3 5 s after that, where from the start it would take 25 s.
sleep 8
double_click_row 1
wait_episode_title 1 5 || fail "episode 1 did not open again"
double_click_row 2
reopened=$(date +%s%N)
wait_episode_title 2 5 || fail "episode 2 did not open again"
xdotool mousemove --window "$window" 700 300
wait_request '/video/player/?flv=3' 40 || fail "episode 2 did not run on to episode 3"
took=$((($(date +%s%N) - reopened) / 1000000))
((took >= 13000 && took <= 21000)) ||
    fail "episode 2 opened again ran on to 3 after $took ms: it did not resume near 8 s (from the start: about 25 s)"

close_player
echo "PASS: other site and new window to the user's browser, the page stayed; episode 1 ran on to 2 and the title, row 2 and Last=2 followed; episode 2 resumed ($took ms to run on); screenshots in $ARTIFACTS"
