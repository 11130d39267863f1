# An MP4-only episode on a system without gstreamer1.0-libav: the player says on stderr
# which package is missing instead of showing a black box for ever.
source "$(dirname "$0")/xsession.sh"

media="$VELMORA_WORK/media"
"$DEMO_MEDIA" "$media" 1 >/dev/null || fail "could not make the test clip"
rm "$media/001.webm"
# GStreamer as it is without gstreamer1.0-libav: every system plugin but that one.
plugins="$VELMORA_WORK/plugins"
mkdir -p "$plugins"
system_plugins=$(dirname "$(dpkg -L gstreamer1.0-plugins-base | grep -m1 '/gstreamer-1.0/.*\.so$')")
for plugin in "$system_plugins"/*.so; do
    [[ "$(basename "$plugin")" == libgstlibav.so ]] || ln -s "$plugin" "$plugins/"
done
export GST_PLUGIN_SYSTEM_PATH_1_0="$plugins" GST_REGISTRY_1_0="$VELMORA_WORK/registry.bin"

start_desktop
start_site --media "$media"
start_player_window
double_click_row 1
wait_request '/video/player/?flv=1' || fail "double-click did not open episode 1"
expected="cannot play http://$SITE_HOST:$SITE_PORT/media/001.mp4: GStreamer has no decoder for it; install the Debian package gstreamer1.0-libav"
wait_until 10 grep -qF "$expected" "$VELMORA_WORK/player.log" ||
    fail "no line naming the missing package; the player wrote:"$'\n'"$(grep velmora "$VELMORA_WORK/player.log")"
[[ $(grep -c 'cannot play' "$VELMORA_WORK/player.log") == 1 ]] || fail "more than one line"

close_player
echo "PASS: $expected"
