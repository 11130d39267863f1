# A page is content, never a command: a page of the site whose frames answer with files, and
# whose frames and scripts point at other sites, leaves the home and download folders as they
# were, loads nothing of the other sites and never opens the user's browser; a package the
# viewer clicks on the download page goes to the user's browser. The web process runs in a
# mount namespace of its own (WebKit's sandbox).
source "$(dirname "$0")/xsession.sh"

use_test_browser
export HOME="$VELMORA_WORK/home" XDG_CACHE_HOME="$VELMORA_WORK/cache"
downloads="$HOME/Downloads"
mkdir -p "$downloads" "$VELMORA_WORK/packages" "$ARTIFACTS"
echo 'XDG_DOWNLOAD_DIR="$HOME/Downloads"' >"$XDG_CONFIG_HOME/user-dirs.dirs"
echo "the viewer's own" >"$downloads/kept.bin"
package=velmora-player_1.0_amd64.deb
echo package >"$VELMORA_WORK/packages/$package"
snapshot() { find "$HOME" -printf '%p %s %T@\n' | sort; }
before=$(snapshot)

# The start page: frames answering with a new file and with one the viewer has (text, as an
# attachment), frames of other sites (another host, another port, both: nginx logs what they
# are asked), scripts saving files and, later, sending the page to a file of another type and
# to another site.
start_desktop
others=("${SITE_HOST%.1}.2:$SITE_PORT" "$SITE_HOST:$((SITE_PORT + 2))" "${SITE_HOST%.1}.3:$((SITE_PORT + 3))")
frames='<iframe src="/file/fresh.bin"></iframe><iframe src="/file/kept.bin"></iframe>'
for other in "${others[@]}"; do
    frames+="<iframe src=\"http://$other/\"></iframe>"
done
start_site_behind_nginx '<!DOCTYPE html><body style="margin:0">
<a href="?flv=download" style="display:block;height:150px;background:#ddd">download page</a>'"$frames"'
<script>
function save(href) { var a = document.createElement("a"); a.href = href; a.download = "x.bin"; document.body.appendChild(a); a.click(); }
save("/file/script.bin"); save("data:application/octet-stream,x"); save(URL.createObjectURL(new Blob(["x"])));
setTimeout(function () { location.href = "/file/top.bin"; }, 500);
setTimeout(function () { location.href = "http://'"${others[0]}"'/"; }, 1000);
</script>' '
        location ~ ^/file/(?<name>\w+\.bin)$ {
            add_header Content-Disposition "attachment; filename=\"$name\"";
            default_type text/plain;
            return 200 "file\n";
        }
        location = /file/top.bin { default_type application/octet-stream; return 200 "file\n"; }' "
    server {
        $(printf 'listen %s; ' "${others[@]}")
        access_log $VELMORA_WORK/nginx/others.log;
        return 200 'another site';
    }" --downloads "$VELMORA_WORK/packages"

start_player_window
sleep 4 # the page, its frames and its scripts have had their time
import -window root "$ARTIFACTS/hostile-page.png"
[[ ! -s "$opened" ]] || fail "the page opened the user's browser: $(cat "$opened")"
[[ ! -s "$VELMORA_WORK/nginx/others.log" ]] || fail "other sites were loaded: $(cat "$VELMORA_WORK/nginx/others.log")"

descendants() { local child; for child in $(pgrep -P "$1"); do echo "$child"; descendants "$child"; done; }
web_process=$(for pid in $(descendants "$PLAYER_PID"); do grep -qx WebKitWebProces "/proc/$pid/comm" && echo "$pid"; done || true)
[[ -n "$web_process" ]] || fail "the player has no web process"
[[ $(readlink "/proc/$web_process/ns/mnt") != $(readlink "/proc/$PLAYER_PID/ns/mnt") ]] ||
    fail "the web process shares the player's mount namespace: no sandbox"

# The viewer opens the download page and clicks the package.
xdotool windowactivate --sync "$window" >/dev/null 2>&1 || true
xdotool mousemove --window "$window" 300 75 click 1
wait_request '/video/player/?flv=download' || fail "the download page did not open"
sleep 1
# Where the package's line falls depends on the fonts: click down the lines above the page's
# last link (返回首页) until the package's is hit.
for y in $(seq 64 8 136); do
    xdotool mousemove --window "$window" 150 "$y" click 1
    sleep 0.5
    grep -qxF "$site_root/downloads/$package" "$opened" 2>/dev/null && break
done
wait_opened "$site_root/downloads/$package" ||
    fail "the package did not reach the user's browser: $(cat "$opened" 2>/dev/null)"
close_player
[[ $(snapshot) == "$before" ]] || fail "files changed in the home folder: $(diff <(echo "$before") <(snapshot))"
echo "PASS: no file saved, no other site loaded, the user's browser not opened by the page; the package went to the user's browser; the web process is sandboxed"
