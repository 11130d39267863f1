# Started with the site down, the player shows its own page with 重试 in the browser area, not
# the engine's; once the site is up, 重试 loads the start page that failed.
source "$(dirname "$0")/xsession.sh"

mkdir -p "$ARTIFACTS"
# The site must be down: another test's site on the same address would answer instead.
wait_until 60 sh -c "! curl -s -o /dev/null http://$SITE_HOST:$SITE_PORT/" ||
    fail "another site answers on $SITE_HOST:$SITE_PORT"
start_desktop
# Run from a folder whose name an address must escape, as a Chinese user's folders may be:
# the page's res: address holds the program's path.
installed="$VELMORA_WORK/播放 器"
mkdir -p "$installed"
cp "$PLAYER" "$(dirname "$PLAYER")"/velmora-{webkit,curl}.so "$installed/"
PLAYER="$installed/$(basename "$PLAYER")"
write_player_config List=20
start_player
window=$(wait_window "$(title_pattern "$(start_title)")") || fail "the main window did not appear"

# The 重试 link's underline, drawn in the page's link colour: where the viewer clicks.
link_colour=$(sed -n 's/^a { color: \(#[0-9a-f]*\); }$/\1/p' "$(dirname "$0")/../../resources/NetworkError.htm")
[[ -n "$link_colour" ]] || fail "the page's link colour is not found"
link_point() {
    import -window "$window" "$VELMORA_WORK/page.png" &&
        convert "$VELMORA_WORK/page.png" txt:- |
        awk -v colour="${link_colour^^}" '$3 == colour { sub(":", "", $1); split($1, p, ","); print p[1], p[2]; exit }'
}
# Each look reads every pixel of the window: once a second, not as often as wait_until looks.
point=
for _ in $(seq 20); do
    point=$(link_point) || true
    [[ -n "$point" ]] && break
    sleep 1
done
[[ -n "$point" ]] || {
    import -window root "$ARTIFACTS/unreachable-failed.png"
    cat "$VELMORA_WORK/player.log" >&2
    fail "the program's page with 重试 did not show"
}
import -window root "$ARTIFACTS/unreachable.png"

start_site
xdotool windowactivate --sync "$window" >/dev/null 2>&1 || true
xdotool mousemove --window "$window" $point click 1
wait_request '/video/player/?flv=index' 15 || fail "重试 did not load the start page"
sleep 1
import -window root "$ARTIFACTS/unreachable-retried.png"
[[ -z "$(link_point)" ]] || fail "the program's page stayed after 重试"

press "$window" alt+F4
wait_player_exit 20 || fail "player did not exit"
echo "PASS: the program's page with 重试 showed while the site was down; 重试 loaded the start page once it was up; screenshots in $ARTIFACTS"
