#!/usr/bin/env bash
# The public face, one subcommand per CTest entry (see CMakeLists.txt beside this file):
#
#   player         the desktop player built for the https address: first start, start page,
#                  an episode played, its media served by nginx
#   failover       a bounded load through nginx while one site copy is stopped and restarted
#   certificates   the Linux program's count fetch: right certificate, another name's, an
#                  unknown issuer's
#   validators     hostile and conditional requests through nginx (public_http_test),
#                  HTTP/2 over TLS, and no TCP_CORK on episode answers (strace)
#   windows_fetch  the win64 build's fetch (fetch_probe.exe) under wine64, same certificates
#   apt            real apt (its state, lists and sources in the case's folder) against the
#                  site's signed repository through nginx over https: the repository of the
#                  packages tests' player installs it; the next version (packages.next_version's
#                  tree) published into it is the upgrade, Config.ini kept but for Version,
#                  and that player says 当前是最新版本! against a site naming it; an InRelease
#                  with one byte changed, or signed by another key, is refused and nothing
#                  is installed
#
# Each case runs Debian's nginx as an operator has it, under the machine's own stock
# nginx.conf (stock-nginx-conf.sh), with the shipped site configuration, its ports, folders
# and a certificate filled in, in front of two velmora-site copies, all on $PUBLIC_HOST.
# The test CA is trusted only inside a private mount namespace: its own certificate folder
# is mounted over /etc/ssl/certs there (libcurl/OpenSSL, GnuTLS for WebKit and Wine's crypt32
# all read /etc/ssl/certs/ca-certificates.crt). A failed case keeps its logs in
# $PUBLIC_WORK/CASE.
set -euo pipefail
source "$(dirname "$(readlink -f "$0")")/../support/desktop.sh"

CASE=${1:?usage: run-public-tests.sh player|failover|certificates|validators|windows_fetch|apt}
: "${PUBLIC_HOST:?}" "${PUBLIC_WORK:?}" "${NGINX_SITE:?}" "${SITE:?}" "${DEMO_MEDIA:?}"
: "${MEDIA_CACHE:?}" "${ARTIFACTS:?}"

skip() {
    echo "SKIP: $*"
    exit 77
}

if [[ -z ${VELMORA_PUBLIC_NAMESPACE:-} ]]; then
    [[ $(id -u) == 0 ]] || skip "needs root: the test CA is trusted only in a private mount namespace"
    unshare --mount --propagation private true 2>/dev/null ||
        skip "no private mount namespace here (unshare --mount failed)"
    VELMORA_PUBLIC_NAMESPACE=1 exec unshare --mount --propagation private bash "$0" "$@"
fi

if [[ $CASE == player ]]; then
    # Xvfb, openbox and the xdotool helpers of the gui tests. This script keeps its own
    # clean-up (it keeps the logs of a failed run) and work folder.
    source "${GUI_SESSION:?}"
    rmdir "$VELMORA_WORK"
fi

HOST=$PUBLIC_HOST
HTTP_PORT=8080
HTTPS_PORT=8443
SITE_PORTS=(18848 18849)
NOTICE="public-face notice 205"
WORK=$PUBLIC_WORK/$CASE
LOGS=$WORK/logs
ROOT=$WORK/root # the site's folders, as /var/lib/velmora-site
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY no_proxy NO_PROXY

declare -A SITE_PID=()
NGINX_PID=

# Stops everything this case started; a failed case keeps its work folder for its logs.
public_cleanup() {
    local status=${1:-$?} # [STATUS]: the case's, when a trap ran something before
    if [[ $status != 0 && -n ${DISPLAY:-} && $CASE == player ]]; then
        import -window root "$LOGS/failure.png" 2>/dev/null || true
    fi
    stop_started
    if [[ -n ${WINEPREFIX:-} && -d $WINEPREFIX ]]; then
        "$WINESERVER" -k 2>/dev/null || true
    fi
    if [[ $status == 0 || $status == 77 ]]; then
        rm -rf "$WORK"
    else
        echo "logs kept in $LOGS (nginx-access.log, nginx-error.log, site-*.log)" >&2
        [[ $CASE != player ]] || echo "the player's folder and log: $WORK/gui" >&2
    fi
}

# ------------------------------------------------------------------ certificates

# A CA of its own, the server's certificate for the site's address, one for another name
# (signed by the same CA) and one for the right address from an unknown CA.
make_certificates() {
    local tls=$WORK/tls
    mkdir -p "$tls"
    (
        cd "$tls"
        issue() { # NAME SUBJECT_ALT_NAME CA
            openssl req -newkey rsa:2048 -nodes -keyout "$1.key" -subj "/CN=$1" -out "$1.csr"
            openssl x509 -req -in "$1.csr" -CA "$3.pem" -CAkey "$3.key" -CAcreateserial \
                -days 2 -extfile <(printf 'subjectAltName=%s\nextendedKeyUsage=serverAuth\n' "$2") \
                -out "$1.pem"
        }
        for ca in ca other-ca; do
            openssl req -x509 -newkey rsa:2048 -nodes -keyout $ca.key -out $ca.pem -days 2 \
                -subj "/CN=Velmora public test $ca" -addext basicConstraints=critical,CA:TRUE \
                -addext keyUsage=critical,keyCertSign,cRLSign
        done
        # The address also as a DNS name: Wine 8's chain policy matches the server name only
        # against DNS names (Windows matches IP addresses too); OpenSSL and GnuTLS take the
        # IP entry for an address.
        issue right "IP:$HOST,DNS:$HOST" ca
        issue wrong-name "DNS:other.tessavo.example,IP:${HOST%.1}.2" ca
        issue unknown-issuer "IP:$HOST,DNS:$HOST" other-ca
    ) >"$LOGS/openssl.log" 2>&1 || fail "openssl could not make the test certificates"
}

# Trusts the test CA, and only it, in this namespace: its own certificate folder over
# /etc/ssl/certs, with ca-certificates.crt and the hashed name OpenSSL looks up.
trust_test_ca() {
    local certs=$WORK/certs
    mkdir -p "$certs"
    cp "$WORK/tls/ca.pem" "$certs/ca-certificates.crt"
    cp "$WORK/tls/ca.pem" "$certs/velmora-public-test-ca.pem"
    openssl rehash "$certs" >/dev/null 2>&1 || fail "openssl rehash failed"
    mount --bind "$certs" /etc/ssl/certs || fail "cannot mount the test CA over /etc/ssl/certs"
}

# ------------------------------------------------------------------ servers

prepare_folders() {
    mkdir -p "$LOGS" "$ROOT/media" "$ROOT/downloads" "$WORK/tmp" "$ARTIFACTS"
    "$DEMO_MEDIA" "$MEDIA_CACHE" 2 >"$LOGS/media.log" 2>&1 || fail "could not make the test clips"
    cp "$MEDIA_CACHE"/00[12].mp4 "$MEDIA_CACHE"/00[12].webm "$ROOT/media/"
    head -c 100000 /dev/urandom >"$ROOT/downloads/VelmoraPlayer-1.0-portable.zip"
    # nginx's workers run as www-data, as Debian's do.
    runuser -u www-data -- test -r "$ROOT/media/001.mp4" ||
        fail "www-data cannot read $ROOT: nginx's workers could not serve it (a folder above is private)"
}

start_site() {
    local port=$1 out=$LOGS/site-$1.out i
    : >"$out"
    "$SITE" --listen "$HOST" --port "$port" --trust-proxy --media "$ROOT/media" \
        --downloads "$ROOT/downloads" --notice "$NOTICE" --log-file "$LOGS/site-$port.log" \
        >>"$out" 2>&1 &
    SITE_PID[$port]=$!
    VELMORA_PIDS+=($!)
    for i in $(seq 1 100); do
        grep -q 'serving' "$out" && return 0
        sleep 0.05
    done
    cat "$out" >&2
    fail "velmora-site did not start on port $port"
}

# The shipped site file with the parts an operator edits filled in; every one must be.
fill_site_conf() {
    local cert=$1 conf=$WORK/velmora-site.conf
    "$(dirname "$0")/fill-nginx-site.sh" "$NGINX_SITE" "$HOST" "$HTTP_PORT" "$HTTPS_PORT" \
        "${SITE_PORTS[@]}" "$WORK/tls/$cert.pem" "$WORK/tls/$cert.key" "$ROOT" "$WORK/cache" \
        >"$conf" || fail "the shipped site configuration cannot be filled in"
    # to-http: every https answer is a redirect to the same address over plain http.
    if [[ ${2:-} == to-http ]]; then
        sed -i "/^[[:space:]]*server_name /a\\    if (\$scheme = https) { return 302 http://$HOST:$HTTP_PORT\$request_uri; }" "$conf"
    fi
}

start_nginx() { # [CERTIFICATE [to-http]]
    local cert=${1:-right} i
    fill_site_conf "$cert" "${2:-}"
    "$(dirname "$0")/stock-nginx-conf.sh" /etc/nginx/nginx.conf "$WORK" "$WORK/velmora-site.conf" \
        "$LOGS/nginx-access.log public" \
        "    log_format public '\$remote_addr \"\$request\" \$status \$body_bytes_sent \$server_protocol '
                      'upstream=\$upstream_addr:\$upstream_status';" >"$WORK/nginx.conf" ||
        fail "this machine's nginx.conf cannot be taken as it is"
    nginx -t -c "$WORK/nginx.conf" -e "$LOGS/nginx-error.log" >"$LOGS/nginx-t.log" 2>&1 ||
        { cat "$LOGS/nginx-t.log" >&2; fail "nginx refuses the filled-in site configuration"; }
    nginx -c "$WORK/nginx.conf" -e "$LOGS/nginx-error.log" -g 'daemon off;' &
    NGINX_PID=$!
    VELMORA_PIDS+=($!)
    for i in $(seq 1 100); do
        curl -s -o /dev/null "http://$HOST:$HTTP_PORT/video/player/?flv=list" && return 0
        sleep 0.05
    done
    fail "nginx did not answer on $HOST:$HTTP_PORT"
}

stop_nginx() {
    kill "$NGINX_PID" 2>/dev/null || true
    wait "$NGINX_PID" 2>/dev/null || true
}

start_public_face() {
    prepare_folders
    make_certificates
    start_site "${SITE_PORTS[0]}"
    start_site "${SITE_PORTS[1]}"
    start_nginx right
}

# Lines of a log matching a fixed string (0 when none).
count_lines() { grep -cF -- "$2" "$1" 2>/dev/null || true; }

# ------------------------------------------------------------------ cases

case_player() {
    : "${PLAYER:?}"
    VELMORA_WORK=$WORK/gui
    mkdir -p "$VELMORA_WORK"
    start_public_face
    trust_test_ca
    SITE_LOG=$LOGS/nginx-access.log # wait_request reads the request lines nginx logged
    start_desktop
    start_player_window

    local ini=$PLAYER_DIR/Config.ini
    for i in $(seq 1 100); do
        grep -q "^Update=$NOTICE" "$ini" 2>/dev/null && break
        sleep 0.1
    done
    grep -qx 'List=2' <(tr -d '\r' <"$ini") || fail "List is not the site's count 2: $(grep List "$ini")"
    grep -qx "Update=$NOTICE" <(tr -d '\r' <"$ini") || fail "Update is not the notice: $(grep Update "$ini")"
    wait_request '/video/player/?flv=index' || fail "the start page was not requested from nginx"
    grep -qE '"GET /video/player/\?flv=index HTTP/[0-9.]+" 200 ' "$SITE_LOG" ||
        fail "the start page was not answered 200 over TLS"
    sleep 1 # let the page paint
    import -window root "$ARTIFACTS/public-start.png" || fail "screenshot failed"

    xdotool windowactivate --sync "$window" >/dev/null 2>&1 || true
    xdotool mousemove --window "$window" 700 10 click --repeat 2 --delay 80 1
    wait_request '/video/player/?flv=1' || fail "double-click did not open episode 1"
    wait_request '/media/001.mp4' || fail "the episode's MP4 was not requested from nginx"
    assert_video_plays "$window"
    import -window root "$ARTIFACTS/public-playing.png"
    grep -qE '"GET /media/001\.mp4 HTTP/[0-9.]+" (200|206) .* upstream=-:-$' "$SITE_LOG" ||
        fail "nginx did not serve /media/001.mp4 itself"
    ! grep -hF ' /media/' "$LOGS"/site-*.log || fail "a site copy was asked for /media/"

    press "$window" alt+F4
    wait_player_exit 20 || fail "player did not exit"
    echo "PASS: List=2 and the notice over TLS, start page 200, episode 1 plays from nginx; screenshots $ARTIFACTS/public-start.png, public-playing.png"
}

case_failover() {
    start_public_face
    local pages=$WORK/load.lua report=$LOGS/wrk.log stopped=${SITE_PORTS[0]}
    cat >"$pages" <<'EOF'
-- The count and a page in turn, each address new (n) so that nginx's one-second cache
-- never answers in place of a copy; 8 ms between a connection's requests keeps the load
-- near 500 a second with 4 connections.
local paths = { "/video/player/?flv=list&n=", "/video/player/?flv=1&n=" }
local n = 0
local threads = {}
request = function()
    n = n + 1
    return wrk.format("GET", paths[n % 2 + 1] .. n)
end
delay = function() return 8 end
failed = 0
response = function(status)
    if status < 200 or status > 299 then failed = failed + 1 end
end
setup = function(thread) table.insert(threads, thread) end
done = function(summary)
    local bad = 0
    for _, thread in ipairs(threads) do bad = bad + thread:get("failed") end
    local e = summary.errors
    io.write(string.format("requests=%d failed=%d connect=%d read=%d write=%d timeout=%d status=%d\n",
        summary.requests, bad, e.connect, e.read, e.write, e.timeout, e.status))
end
EOF
    # The stopped copy is left out for fail_timeout (5 s) after its last failure: the
    # load lasts long enough for it to be asked again.
    wrk -t1 -c4 -d9s -s "$pages" "http://$HOST:$HTTP_PORT/" >"$report" 2>&1 &
    local load=$!
    VELMORA_PIDS+=($load)
    sleep 1.5
    kill -TERM "${SITE_PID[$stopped]}"
    wait "${SITE_PID[$stopped]}" 2>/dev/null || true
    note "copy $stopped stopped"
    sleep 1.5
    local before_restart
    before_restart=$(count_lines "$LOGS/site-$stopped.log" '/video/player/?flv=')
    start_site "$stopped"
    note "copy $stopped started again"
    wait "$load" || fail "wrk failed: $(cat "$report")"
    local summary
    summary=$(grep '^requests=' "$report") || fail "no wrk summary: $(cat "$report")"
    note "$summary"
    local requests failed connect read write timeout status
    eval "$summary"
    [[ $requests -ge 1000 ]] || fail "only $requests requests were made"
    [[ "$failed $connect $read $write $timeout $status" == "0 0 0 0 0 0" ]] ||
        fail "answers failed while a copy restarted: $summary"
    local port served
    for port in "${SITE_PORTS[@]}"; do
        served=$(count_lines "$LOGS/site-$port.log" '/video/player/?flv=')
        note "copy $port answered $served requests"
        [[ $served -gt 0 ]] || fail "copy $port served nothing"
    done
    served=$(count_lines "$LOGS/site-$stopped.log" '/video/player/?flv=')
    [[ $served -gt $before_restart ]] || fail "the restarted copy $stopped was not used again"
    # nginx met the stopped copy and passed the request on to the other.
    grep -q "upstream=$HOST:$stopped, " "$LOGS/nginx-access.log" ||
        fail "no request was passed on from the stopped copy"
    echo "PASS: $requests requests, none failed, both copies served while $stopped restarted"
}

case_certificates() {
    : "${PUBLIC_FETCH:?}"
    start_public_face
    trust_test_ca
    local run cert expected took folder
    # to-http: the right certificate, then a redirect to plain http, which WinINet refuses.
    for run in right wrong-name unknown-issuer to-http; do
        cert=$run
        [[ $run == to-http ]] && cert=right
        stop_nginx
        start_nginx "$cert" "$run"
        folder=$WORK/player-$run
        mkdir -p "$folder"
        printf '[VelmoraPlayer]\r\nList=5\r\n' >"$folder/Config.ini"
        took=$(cd "$folder" && LC_ALL=zh_CN.UTF-8 timeout 30 "$PUBLIC_FETCH") ||
            fail "the fetch with the $run certificate did not end"
        [[ $run == right ]] && expected=2 || expected=5
        grep -qx "List=$expected" <(tr -d '\r' <"$folder/Config.ini") ||
            fail "$run: List is $(grep List "$folder/Config.ini"), expected $expected"
        # A refused certificate ends the fetch at once, well inside its 10 s bound.
        [[ $took -lt 10500 ]] || fail "$run: the fetch took $took ms"
        note "$run: List=$expected after $took ms"
    done
    grep -qE '"GET /video/player/\?flv=list HTTP/[0-9.]+" 302 ' "$LOGS/nginx-access.log" ||
        fail "the redirect to http was never sent"
    echo "PASS: the right certificate is trusted; another name's and an unknown issuer's are refused, and so is a redirect to http; List kept"
}

case_validators() {
    : "${PUBLIC_HTTP_TEST:?}"
    start_public_face
    PUBLIC_HOST=$HOST PUBLIC_PORT=$HTTP_PORT "$PUBLIC_HTTP_TEST" || fail "public_http_test failed"
    # Over TLS: HTTP/2 reaches both the proxied site and nginx's own files.
    local answer url
    for url in "video/player/?flv=list" "media/001.mp4"; do
        answer=$(curl -s --http2 --cacert "$WORK/tls/ca.pem" -o /dev/null \
            -w '%{http_version} %{http_code}' "https://$HOST:$HTTPS_PORT/$url") || true
        [[ $answer == "2 200" ]] || fail "https://…/$url over HTTP/2 gave '$answer'"
    done
    # Episode ranges go out uncorked: tcp_nopush (TCP_CORK), which the stock nginx.conf turns
    # on, held a seeking player's answers back. A download keeps it, so the trace sees corks.
    local workers row corks
    workers=$(pgrep -d, -P "$NGINX_PID") || fail "nginx has no workers"
    for row in "media/001.mp4 0" "downloads/VelmoraPlayer-1.0-portable.zip 1"; do
        url=${row% *}
        strace -f -e trace=setsockopt -o "$LOGS/cork.trace" -p "$workers" 2>"$LOGS/strace.log" &
        local tracer=$!
        for i in $(seq 1 100); do
            [[ $(grep -c ' attached' "$LOGS/strace.log") -ge $(tr , '\n' <<<"$workers" | wc -l) ]] && break
            sleep 0.05
        done
        curl -s -o /dev/null -H 'Range: bytes=0-65535' "http://$HOST:$HTTP_PORT/$url" || fail "no answer for /$url"
        kill -INT "$tracer"
        wait "$tracer" || true
        corks=$(grep -c 'TCP_CORK, \[1\]' "$LOGS/cork.trace" || true)
        [[ $((corks > 0)) == "${row#* }" ]] || fail "/$url: TCP_CORK set $corks times"
        note "/$url: TCP_CORK set $corks times"
    done
    echo "PASS: clean answers through nginx; HTTP/2 over TLS; episode ranges uncorked"
}

case_windows_fetch() {
    : "${FETCH_PROBE_EXE:?}"
    [[ -f $FETCH_PROBE_EXE ]] || skip "$FETCH_PROBE_EXE is missing: build the win64 tree first"
    find_wine || skip "wine64 is not installed"
    start_public_face
    trust_test_ca
    export WINEPREFIX=$WORK/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml="
    local started answer cert expected
    started=$(now_ms)
    "$WINE64" wineboot -i >"$LOGS/wineboot.log" 2>&1 || fail "wineboot failed"
    note "Wine prefix ready in $(($(now_ms) - started)) ms"
    for cert in right wrong-name unknown-issuer; do
        stop_nginx
        start_nginx "$cert"
        answer=$(timeout 60 "$WINE64" "$FETCH_PROBE_EXE" \
            "https://$HOST:$HTTPS_PORT/video/player/?flv=list" 10000 2>>"$LOGS/wine.log" | tr -d '\r') ||
            fail "fetch_probe.exe did not end with the $cert certificate"
        [[ $cert == right ]] && expected="TRUE 2" || expected="FALSE "
        [[ $(head -1 <<<"$answer") == "$expected" ]] ||
            fail "$cert certificate: fetch_probe.exe printed '$(echo $answer)', expected '$expected'"
        [[ $(sed -n 2p <<<"$answer") -lt 10500 ]] ||
            fail "$cert certificate: the fetch took $(sed -n 2p <<<"$answer") ms"
        note "$cert: $(echo $answer) ms"
    done
    echo "PASS: the win64 fetch trusts the test CA and refuses another name's and an unknown issuer's certificate"
}

# ------------------------------------------------------------------ apt

# apt_key NAME: an OpenPGP signing key of the test's own: $KEYS/NAME.asc (armored secret
# key, as package.sh --apt-signing-key takes it) and $KEYS/NAME.gpg (the public keyring).
apt_key() {
    local gnupg
    gnupg=$(mktemp -d /tmp/velmora-gnupg.XXXXXX) # gpg-agent's socket wants a short path
    {
        gpg --homedir "$gnupg" --batch --passphrase '' --quick-gen-key "Velmora test $1 <$1@tessavo.example>" \
            ed25519 sign never &&
            gpg --homedir "$gnupg" --batch --armor --export-secret-keys "$1@tessavo.example" >"$KEYS/$1.asc" &&
            gpg --homedir "$gnupg" --batch --export "$1@tessavo.example" >"$KEYS/$1.gpg"
    } >"$LOGS/gpg-$1.log" 2>&1 || fail "gpg could not make the key $1: $(cat "$LOGS/gpg-$1.log")"
    gpgconf --homedir "$gnupg" --kill all >/dev/null 2>&1 || true
    rm -rf "$gnupg"
    chmod 644 "$KEYS/$1.gpg"
}

# sign_release_with NAME: InRelease and Release.gpg of the served repository signed by
# another key (the Release itself unchanged).
sign_release_with() {
    local gnupg dists=$ROOT/apt/dists/stable
    gnupg=$(mktemp -d /tmp/velmora-gnupg.XXXXXX)
    gpg --homedir "$gnupg" --batch --quiet --import "$KEYS/$1.asc" 2>/dev/null &&
        gpg --homedir "$gnupg" --batch --yes --quiet --clearsign -o "$dists/InRelease" "$dists/Release" &&
        gpg --homedir "$gnupg" --batch --yes --quiet --armor --detach-sign -o "$dists/Release.gpg" "$dists/Release" ||
        fail "gpg could not sign with $1"
    gpgconf --homedir "$gnupg" --kill all >/dev/null 2>&1 || true
    rm -rf "$gnupg"
    chmod 644 "$dists/InRelease" "$dists/Release.gpg"
}

# apt with its configuration, state, lists, cache and sources in the test's folder
# (APT_CONFIG is read before the machine's apt.conf.d, and moves it too); the machine's dpkg.
private_apt() {
    APT_CONFIG=$APT_DIR/apt.conf DEBIAN_FRONTEND=noninteractive timeout 120 apt-get \
        -o Dir::Etc="$APT_DIR/etc" -o Dir::State="$APT_DIR/state" -o Dir::Cache="$APT_DIR/cache" \
        -o Dir::State::status=/var/lib/dpkg/status -o Dir::Log="$APT_DIR/log" \
        -o Acquire::Retries=0 -o DPkg::Lock::Timeout=60 "$@"
}

installed_version() { dpkg-query -W -f '${Version}' velmora-player 2>/dev/null || true; }

# apt_run NAME ARGS...: private apt, its transcript in $LOGS/apt-NAME.log, echoed indented.
apt_run() {
    local name=$1 status=0
    shift
    echo "\$ apt-get $*" >"$LOGS/apt-$name.log"
    private_apt "$@" >>"$LOGS/apt-$name.log" 2>&1 || status=$?
    echo "(exit $status)" >>"$LOGS/apt-$name.log"
    sed 's/^/    /' "$LOGS/apt-$name.log"
    return "$status"
}

purge_player() {
    dpkg -s velmora-player >/dev/null 2>&1 || return 0
    DEBIAN_FRONTEND=noninteractive timeout 120 dpkg --purge velmora-player >/dev/null 2>&1 || true
}

# check_upgraded_player HOME CONFIG VERSION: the upgraded player, started from PATH as the
# viewer starts it, records its Version and keeps every other key; its 检测更新 against a site
# naming VERSION says 当前是最新版本!: a box with no owner (有新版本 is the main window's) after
# an answered ?flv=update (a failed fetch's box has no owner either).
check_upgraded_player() {
    : "${CHILD_LAYOUT:?}"
    local home=$1 config=$2 version=$3 address host port i
    # The packaged player's address: the one packages.next_version built its tree for.
    address=$(sed -n 's/^VELMORA_SITE_ROOT:[A-Z]*=//p' "$NEXT_TREE/linux/CMakeCache.txt")
    [[ $address =~ ^http://([0-9.]+):([0-9]+)/$ ]] || fail "the $version player's address is $address"
    host=${BASH_REMATCH[1]} port=${BASH_REMATCH[2]}
    mkdir -p "$WORK/empty-media"
    "$SITE" --listen "$host" --port "$port" --media "$WORK/empty-media" --latest-version "$version" \
        --log-file "$LOGS/next-site.log" >"$LOGS/next-site.out" 2>&1 &
    VELMORA_PIDS+=($!)
    for i in $(seq 1 100); do grep -q serving "$LOGS/next-site.out" && break; sleep 0.05; done
    DESKTOP_LOG=$LOGS/desktop.log start_desktop
    (
        export HOME=$home LANG=C.UTF-8 LC_CTYPE=zh_CN.UTF-8
        unset XDG_CONFIG_HOME LC_ALL
        cd "$WORK" && exec velmora-player
    ) >"$LOGS/player.log" 2>&1 &
    local player=$!
    VELMORA_PIDS+=($player)
    local window
    window=$(wait_window "^Tessavo全集在线播放器 - VelmoraPlayer ${version//./\\.}\$" 30) ||
        fail "the upgraded player shows no $version window: $(cat "$LOGS/player.log")"
    for i in $(seq 1 100); do grep -q "^Version=$version"$'\r' "$config" && break; sleep 0.1; done
    grep -q "^Version=$version"$'\r' "$config" || fail "the $version player did not record its Version: $(cat "$config")"
    diff <(grep -v '^Version=' "$WORK/Config.ini.before") <(grep -v '^Version=' "$config") >"$LOGS/config.diff" ||
        fail "Config.ini changed beyond Version: $(cat "$LOGS/config.diff")"
    note "the $version player keeps every key of Config.ini but Version, now $version"

    xdotool windowactivate --sync "$window" >/dev/null 2>&1 || true
    xdotool mousemove --window "$window" $(control_point 检测更新) click 1
    local box
    box=$(wait_window '^提示$' 20) || fail "检测更新 showed no box"
    grep -qF 'GET /video/player/?flv=update ' "$LOGS/next-site.log" || fail "检测更新 did not ask the site"
    ! xprop -id "$box" WM_TRANSIENT_FOR 2>/dev/null | grep -q 'window id' ||
        fail "检测更新 asked 有新版本 是否升级? (a box owned by the main window)"
    import -window root "$ARTIFACTS/apt-upgraded-up-to-date.png" 2>/dev/null || true
    xdotool windowactivate --sync "$box" >/dev/null 2>&1 || true
    xdotool key Return
    xdotool windowactivate --sync "$window" >/dev/null 2>&1 || true
    xdotool key alt+F4
    for i in $(seq 1 100); do kill -0 "$player" 2>/dev/null || break; sleep 0.1; done
    note "its 检测更新 against the site naming $version: 当前是最新版本! (screenshot $ARTIFACTS/apt-upgraded-up-to-date.png)"
}

case_apt() {
    : "${PLAYER_DEBS:?}" "${NEXT_TREE:?}" "${APT_REPOSITORY:?}" "${VERSION:?}"
    local deb10=$PLAYER_DEBS/velmora-player_${VERSION}_amd64.deb site10=$PLAYER_DEBS/velmora-site_${VERSION}_amd64.deb
    local next_version
    next_version=$(echo "$VERSION" | awk -F. '{ print $1 "." $2 + 1 }')
    [[ -f $deb10 && -f $site10 ]] || skip "no $deb10: the packages tests make it (ctest -L packages)"
    [[ -f $NEXT_TREE/linux/velmora-player ]] ||
        skip "no $next_version player in $NEXT_TREE/linux: packages.next_version builds it"
    ! dpkg -s velmora-player >/dev/null 2>&1 ||
        fail "velmora-player is installed already: this test installs and purges it itself"
    # The next version's player .deb, from the tree packages.next_version built (one at a time).
    (
        flock 9
        cd "$NEXT_TREE/linux" && cpack -B "$WORK/cpack" -D CPACK_COMPONENTS_ALL=player
    ) 9>"$NEXT_TREE.lock" >"$LOGS/cpack.log" 2>&1 || fail "cpack in $NEXT_TREE/linux: $(cat "$LOGS/cpack.log")"
    local deb11=$WORK/cpack/velmora-player_${next_version}_amd64.deb
    [[ -f $deb11 ]] || fail "no $deb11"

    start_public_face
    trust_test_ca
    KEYS=$WORK/keys
    mkdir -p "$KEYS"
    apt_key tessavo
    apt_key other
    # Release 1.0: the repository in the site's folder, as package.sh --apt-signing-key writes it.
    "$APT_REPOSITORY" "$ROOT/apt" "$KEYS/tessavo.asc" "$deb10" "$site10" >"$LOGS/repository.log" 2>&1 ||
        fail "apt-repository.sh: $(cat "$LOGS/repository.log")"
    chmod -R go+rX "$ROOT/apt"

    # nginx serves it as static files: the indexes sent whole every time (even to a client
    # that says it has them, or part of them), the pool kept long; the site copies never see
    # /apt/, and velmora-site alone does not serve it.
    local base=https://$HOST:$HTTPS_PORT/apt headers url since
    for url in dists/stable/InRelease dists/stable/main/binary-amd64/Packages.gz velmora-archive-keyring.gpg; do
        since=$(curl -sS -D - -o /dev/null "$base/$url" | tr -d '\r' | sed -n 's/^last-modified: //Ip')
        headers=$(curl -sS -D - -o /dev/null -H "If-Modified-Since: $since" -H "If-Range: $since" \
            -H "Range: bytes=1-" "$base/$url") ||
            fail "no answer for /apt/$url"
        grep -q '^HTTP/[0-9.]* 200' <<<"$headers" && grep -qi '^cache-control: no-cache' <<<"$headers" ||
            fail "/apt/$url: $headers"
    done
    headers=$(curl -sS -D - -o /dev/null "$base/pool/main/v/velmora-player/velmora-player_${VERSION}_amd64.deb")
    grep -q '^HTTP/[0-9.]* 200' <<<"$headers" &&
        grep -qi '^cache-control: public, max-age=31536000, immutable' <<<"$headers" || fail "the pool's .deb: $headers"
    [[ $(curl -s -o /dev/null -w '%{http_code}' "$base/pool/") == 404 &&
        $(curl -s -o /dev/null -w '%{http_code}' "$base/.hidden") == 404 ]] || fail "/apt/ lists a folder or a hidden file"
    [[ $(curl -s -o /dev/null -w '%{http_code}' "http://$HOST:${SITE_PORTS[0]}/apt/dists/stable/InRelease") == 404 ]] ||
        fail "velmora-site serves /apt/ itself"
    note "nginx serves /apt/: indexes no-cache, pool max-age=31536000 immutable, no listings; velmora-site answers 404"

    # apt with a state of its own, its one source the site's repository over https.
    APT_DIR=$WORK/apt
    mkdir -p "$APT_DIR/etc/sources.list.d" "$APT_DIR/etc/apt.conf.d" "$APT_DIR/etc/preferences.d" \
        "$APT_DIR/etc/trusted.gpg.d" "$APT_DIR/state/lists/partial" "$APT_DIR/cache/archives/partial" \
        "$APT_DIR/log"
    : >"$APT_DIR/etc/sources.list"
    printf 'Dir::Etc "%s/etc/";\nDir::State "%s/state/";\nDir::Cache "%s/cache/";\nDir::Log "%s/log/";\nDir::State::status "/var/lib/dpkg/status";\n' \
        "$APT_DIR" "$APT_DIR" "$APT_DIR" "$APT_DIR" >"$APT_DIR/apt.conf"
    printf 'Types: deb\nURIs: %s/\nSuites: stable\nComponents: main\nArchitectures: amd64\nSigned-By: %s\n' \
        "$base" "$KEYS/tessavo.gpg" >"$APT_DIR/etc/sources.list.d/velmora-player.sources"
    chmod -R go+rX "$APT_DIR" "$KEYS"
    # The package goes again whatever happens; public_cleanup still sees the case's status.
    trap 'status=$?; purge_player; public_cleanup "$status"' EXIT

    echo "-- repository of $VERSION: update, install"
    apt_run update-1 update --error-on=any || fail "apt-get update failed"
    apt_run install-1 install -y --no-install-recommends velmora-player || fail "apt-get install failed"
    [[ $(installed_version) == "$VERSION" ]] || fail "installed: '$(installed_version)', not $VERSION"

    # The viewer's settings, as the $VERSION player left them (no title of their own: the
    # window's names the version).
    local home=$WORK/home config
    config=$home/.config/velmora-player/Config.ini
    mkdir -p "$(dirname "$config")"
    printf '[VelmoraPlayer]\r\nVersion=%s\r\nList=7\r\nLast=3\r\nTop=0\r\nOnce=1\r\nTitle=\r\nUpdate=%s\r\nCopyRight=%s\r\n' \
        "$VERSION" "my notice" "my copyright" >"$config"
    cp "$config" "$WORK/Config.ini.before"

    # Release $next_version into the same repository.
    "$APT_REPOSITORY" "$ROOT/apt" "$KEYS/tessavo.asc" "$deb11" >>"$LOGS/repository.log" 2>&1 ||
        fail "apt-repository.sh for $next_version: $(cat "$LOGS/repository.log")"
    chmod -R go+rX "$ROOT/apt"
    cp -p "$ROOT/apt/dists/stable/InRelease" "$WORK/InRelease.good"

    # refused NAME WHAT PATTERN: apt refuses the repository (PATTERN in its log) and nothing
    # new is installed. --error-on=any: apt keeps the previous indexes and would otherwise
    # exit 0 with a warning.
    refused() {
        echo "-- $2"
        apt_run "update-$1" update --error-on=any && fail "apt-get update accepted $2" || true
        grep -qE "$3" "$LOGS/apt-update-$1.log" || fail "apt did not refuse $2"
        apt_run "upgrade-$1" install -y --only-upgrade velmora-player || true
        [[ $(installed_version) == "$VERSION" ]] || fail "with $2, $(installed_version) was installed"
    }
    sed -i '0,/^Label: Tessavo$/s//Label: Tessavp/' "$ROOT/apt/dists/stable/InRelease"
    [[ $(cmp -l "$WORK/InRelease.good" "$ROOT/apt/dists/stable/InRelease" | wc -l) == 1 ]] ||
        fail "not one byte changed"
    refused tampered "an InRelease with one byte changed" 'BADSIG|signatures were invalid|is not signed'
    sign_release_with other
    refused other "a repository signed by another key" \
        'NO_PUBKEY|signatures were invalid|is not signed|not available'

    # The repository as published: the upgrade.
    echo "-- the repository as published: update, upgrade"
    cp -p "$WORK/InRelease.good" "$ROOT/apt/dists/stable/InRelease"
    "$APT_REPOSITORY" "$ROOT/apt" "$KEYS/tessavo.asc" "$deb11" >>"$LOGS/repository.log" 2>&1 ||
        fail "apt-repository.sh: $(cat "$LOGS/repository.log")"
    chmod -R go+rX "$ROOT/apt"
    apt_run update-2 update --error-on=any || fail "apt-get update failed"
    apt_run upgrade install -y --only-upgrade velmora-player || fail "apt-get install --only-upgrade failed"
    [[ $(installed_version) == "$next_version" ]] || fail "after the upgrade: '$(installed_version)', not $next_version"
    cmp -s "$config" "$WORK/Config.ini.before" || fail "the upgrade changed Config.ini"
    grep -q "GET /apt/pool/main/v/velmora-player/velmora-player_${next_version}_amd64.deb HTTP/[0-9.]*\" 200 .*upstream=-:-" \
        "$LOGS/nginx-access.log" || fail "nginx did not serve the $next_version .deb itself"
    # The copies saw only the test's own direct request above.
    [[ $(cat "$LOGS"/site-*.log | grep -cF ' /apt/') == 1 ]] || fail "a site copy was asked for /apt/"
    note "$VERSION installed from the repository; $next_version published into it and upgraded to; a changed InRelease and another key's were refused"

    check_upgraded_player "$home" "$config" "$next_version"
    purge_player
    echo "PASS: apt installs $VERSION from the site's repository through nginx, upgrades to $next_version, refuses a changed or foreign-signed InRelease"
}

trap public_cleanup EXIT
rm -rf "$WORK"
mkdir -p "$LOGS"
started=$(now_ms)
case $CASE in
player | failover | certificates | validators | windows_fetch | apt) "case_$CASE" ;;
*) fail "unknown case $CASE" ;;
esac
note "$CASE took $(($(now_ms) - started)) ms"
