# Message boxes answer as on Windows: the first button is the default, a yes/no box cannot
# be cancelled, an owner under its box looks unchanged, and a box answered under a nested
# one leaves the screen at once. An information box shows its icon at 32 pixels, left of
# the text.
source "$(dirname "$0")/xsession.sh"

use_test_browser

boxes() { xdotool search --onlyvisible --name '^提示$' 2>/dev/null | wc -l; }
click_update() {
    xdotool windowactivate --sync "$window" >/dev/null 2>&1 || true
    xdotool mousemove --window "$window" $(control_point 检测更新) click 1
}

start_desktop
start_site --latest-version 2.0
start_player_window
sleep 1
eval "$(xdotool getwindowgeometry --shell "$window")"
list_area="120x300+$((X + 642))+$((Y + 100))"
import -window root -crop "$list_area" "$VELMORA_WORK/list-before.png"

# A newer version: "有新版本 是否升级?", owned by the main window.
click_update
box=$(wait_window '^提示$') || fail "the update question did not appear"
sleep 0.5
import -window root -crop "$list_area" "$VELMORA_WORK/list-during.png"
changed=$(compare -metric AE "$VELMORA_WORK/list-before.png" "$VELMORA_WORK/list-during.png" null: 2>&1 || true)
[[ "$changed" == 0 ]] || fail "the main window changed under its box ($changed pixels): greyed out?"
# Left of the text, above the buttons, only the icon is drawn: the box's tallest thing there.
import -window "$box" "$VELMORA_WORK/box.png"
icon=$(convert "$VELMORA_WORK/box.png" -crop 90x60+0+0 +repage -fuzz 10% -trim \
    -format '%w %h' info: 2>/dev/null || true)
read -r icon_width icon_height <<<"$icon"
((${icon_height:-0} >= 24 && ${icon_height:-0} <= 32 && ${icon_width:-0} <= 32)) ||
    fail "no 32-pixel icon left of the text (drawn there: '$icon' pixels wide and high)"
press "$box" Escape
sleep 0.5
[[ $(boxes) == 1 ]] || fail "Esc closed the yes/no box"
press "$box" Return
wait_until 5 test -s "$opened" || true
grep -qx "http://$SITE_HOST:$SITE_PORT/video/player/?flv=download" "$opened" ||
    fail "Enter did not answer Yes (browser was given: $(cat "$opened" 2>/dev/null))"
[[ $(boxes) == 0 ]] || fail "the box stayed after its answer"

# The same version: "当前是最新版本!" has no owner, so the check can run again under it.
stop_site
start_site --latest-version "$VERSION"
click_update
outer=$(wait_window '^提示$') || fail "the up-to-date notice did not appear"
click_update
two_boxes() { [[ $(boxes) == 2 ]]; }
wait_until 5 two_boxes || fail "no second notice under the first"
press "$outer" Return
sleep 0.5
[[ $(boxes) == 1 ]] || fail "the outer notice stayed on screen after its OK"
press "$(wait_window '^提示$')" Return
sleep 0.5
[[ $(boxes) == 0 ]] || fail "the inner notice stayed on screen after its OK"

close_player
echo "PASS: Enter answers Yes, Esc keeps the yes/no box, owner unchanged, nested boxes leave when answered, icon ${icon_width}x${icon_height}"
