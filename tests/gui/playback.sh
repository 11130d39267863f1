# A double-click plays a real video with no other input; the video's fullscreen button
# fills the screen with it, and Esc gives the fixed window back exactly as it was. A message
# box closed over the ended episode leaves its last frame as it was.
source "$(dirname "$0")/xsession.sh"

media="$VELMORA_WORK/media"
"$DEMO_MEDIA" "$media" 2 >/dev/null || fail "could not make the test clips"
start_desktop
# One episode: nothing runs on to a next one when it ends.
start_site --media "$media" --episodes 1
start_player_window
wait_request '/video/player/?flv=index' || fail "the browser did not load the start page"
sleep 1 # let the window manager place the window before its place is taken

# Where the window is and how it looks from outside: the place, the client size, the title
# bar and frame, the size hints and the keep-above state.
window_state() {
    xwininfo -id "$window" | awk '/Absolute upper-left|Width:|Height:/'
    xprop -id "$window" _NET_FRAME_EXTENTS WM_NORMAL_HINTS _NET_WM_STATE
}
# Mean brightness (0..1) of a part of the screen, from a screenshot.
brightness() {
    convert "$1" -crop "$2" -colorspace Gray -format '%[fx:mean]' info:
}
before=$(window_state)
mkdir -p "$ARTIFACTS"

double_click_row 1
wait_request '/video/player/?flv=1' || fail "double-click did not open episode 1"
wait_request '/media/001.mp4' || fail "the episode's MP4 was not requested"

assert_video_plays "$window"
import -window root "$ARTIFACTS/playing.png"

# The fullscreen button sits at the video's top-left corner once the pointer is over it.
xdotool mousemove --window "$window" 300 200
sleep 0.5
xdotool mousemove --window "$window" 46 76 click 1
screen=$(xwininfo -root | awk '/Width:/ {w=$2} /Height:/ {h=$2} END {print w "x" h}')
fills_screen() { [[ "$(client_size "$window")" == "$screen" ]]; }
wait_until 5 fills_screen ||
    fail "fullscreen window is $(client_size "$window"), not the screen's $screen"
sleep 1
import -window root "$ARTIFACTS/fullscreen.png"
# The video covers everything: where the episode list was, and the far corner, are dark.
for area in 100x100+1100+300 100x100+1150+900; do
    level=$(brightness "$ARTIFACTS/fullscreen.png" "$area")
    awk -v l="$level" 'BEGIN { exit !(l < 0.3) }' ||
        fail "the video does not fill the screen (brightness $level at $area)"
done

# Leave only once the 5 s clip has ended in fullscreen: that is when WebKit, left to
# itself, gives back an empty video box.
sleep 4
press "$window" Escape
back_as_before() { [[ "$(window_state)" == "$before" ]]; }
wait_until 5 back_as_before || true
after=$(window_state)
[[ "$after" == "$before" ]] ||
    fail "the window did not come back as it was:"$'\n'"before:"$'\n'"$before"$'\n'"after:"$'\n'"$after"
sleep 1
import -window root "$ARTIFACTS/after-fullscreen.png"
eval "$(xdotool getwindowgeometry --shell "$window")" # X, Y of the client area
video_area="400x220+$((X + 120))+$((Y + 100))"
# The controls are back (the list is light again) and the video area is not blank.
level=$(brightness "$ARTIFACTS/after-fullscreen.png" "100x300+$((X + 650))+$((Y + 100))")
awk -v l="$level" 'BEGIN { exit !(l > 0.7) }' || fail "the episode list is not back ($level)"
spread=$(convert "$ARTIFACTS/after-fullscreen.png" -crop "$video_area" -colorspace Gray \
    -format '%[fx:standard_deviation]' info:)
awk -v s="$spread" 'BEGIN { exit !(s > 0.01) }' || fail "the video area is blank after fullscreen"

# Play it to its end once more, then the update check's notice (centred on the screen)
# covers part of the video. Where it was, the frame must be as before once it closes: WebKit
# would leave a blank patch there.
xdotool mousemove --window "$window" 328 223 click 1 # the video's play button, at its centre
xdotool mousemove --window "$window" 700 300
sleep 7
import -window root "$ARTIFACTS/ended.png"
xdotool mousemove --window "$window" $(control_point 检测更新) click 1
box=$(wait_window '^提示$') || fail "the update check's notice did not appear"
sleep 0.5
import -window root "$ARTIFACTS/box-over-video.png"
eval "$(xdotool getwindowgeometry --shell --prefix BOX_ "$box")"
# The frame above the video's control bar, where the box was (screen coordinates).
left=$((BOX_X > X + 25 ? BOX_X : X + 25))
right=$((BOX_X + BOX_WIDTH < X + 630 ? BOX_X + BOX_WIDTH : X + 630))
top=$((BOX_Y > Y + 55 ? BOX_Y : Y + 55))
bottom=$((BOX_Y + BOX_HEIGHT < Y + 340 ? BOX_Y + BOX_HEIGHT : Y + 340))
((right - left >= 50 && bottom - top >= 30)) ||
    fail "the notice covers too little of the video to tell (${left}..${right} x ${top}..${bottom})"
covered="$((right - left))x$((bottom - top))+$left+$top"
press "$box" Return
xdotool mousemove --window "$window" 700 300
sleep 1.5
import -window root "$ARTIFACTS/after-box.png"
changed=$(compare -metric AE -fuzz 10% "$ARTIFACTS/ended.png[$covered]" \
    "$ARTIFACTS/after-box.png[$covered]" null: 2>&1 || true)
[[ "$changed" =~ ^[0-9]+$ && "$changed" -lt $(((right - left) * (bottom - top) / 20)) ]] ||
    fail "where the notice was ($covered), $changed pixels changed after it closed"

close_player
echo "PASS: played without a click, fullscreen $screen, window back as it was, frame kept under a closed box ($changed of $covered changed); screenshots in $ARTIFACTS"
