#!/usr/bin/env bash
# The packages tests, one subcommand per CTest entry (see CMakeLists.txt beside this file):
#
#   make       scripts/package.sh for this tree into $PACKAGES (fixture)
#   signing    package.sh with a code-signing certificate of the test's own CA (PKCS#12, its
#              password from the environment): osslsigncode verifies the installer, the
#              program and uninstaller inside it (7-Zip unpacks them) and the zip's program
#              with that CA; one changed byte fails
#   lint       lintian (no errors), desktop-file-validate, appstreamcli and the files each
#              .deb holds
#   install    both .debs installed with apt: the units verified, the site's folders
#              readable by nginx's user, both units' ExecStart run by hand as copies that
#              share the folders, the nginx site passes nginx -t with a throw-away
#              certificate, the player started from PATH on Xvfb + openbox writes its
#              first-run Config.ini in the XDG folder; both packages purged again, whatever
#              happens, and the operator's files kept
#   windows    the installer built for amd64 with the 64-bit program, signed with a test
#              certificate, run silently under wine64: the installed program and uninstaller
#              verify, files, shortcuts, uninstall key, the program writes Config.ini in
#              its folder; the next version installed silently over the running player:
#              the player closed, the program replaced, Config.ini the same file, the
#              shortcut starts the new one; the silent uninstall leaves only Config.ini
#   site_root  package.sh --site-root for another address, with an apt key: the Windows
#              program's version resource and the player .deb's description name it; the
#              player .deb ships the apt source and key (lintian, purge removes them); the
#              release's apt/ is signed and holds both .debs; its release folder,
#              served by velmora-site, names the version and lists the packages with their
#              SHA-256, installer first
#   next_version  the next minor version built as an operator makes it (project(VERSION)
#              changed in a copy of the source): the player .deb's version, the window title
#              and the first-run Config.ini say it
set -euo pipefail
source "$(dirname "$(readlink -f "$0")")/../support/desktop.sh"
: "${SOURCE_DIR:?}" "${PACKAGES:?}" "${WORK_ROOT:?}" "${APP_ID:?}" "${VERSION:?}"
version=$VERSION
player_deb="$PACKAGES/velmora-player_${version}_amd64.deb"
site_deb="$PACKAGES/velmora-site_${version}_amd64.deb"
DEFAULT_NOTICE=$("${CHILD_LAYOUT:?}" notice) # the first-run CopyRight value

# The next minor version, built from a copy of the source in which only project(VERSION)
# differs, as an operator releasing it would have it. The copy and its trees stay in
# $RELEASE_TREES/next between runs: unchanged files keep their times, so a run rebuilds only
# what changed. The next_version and windows tests share it, one at a time.
next_version=$(echo "$version" | awk -F. '{ print $1 "." $2 + 1 }')
next=${RELEASE_TREES:-}/next
NEXT_PORT=$((${SITE_PORT:-8848} + 3))

# next_tree PRESET TARGET...: builds the TARGETs in the next version's PRESET tree.
next_tree() {
    local preset=$1 src=$next/source
    shift
    mkdir -p "$src"
    (
        flock 9
        tar -C "$SOURCE_DIR" --exclude=./build --exclude=./.git --exclude=./CMakeLists.txt -cf - . |
            tar -C "$src" -xf -
        sed "s/^project(VelmoraPlayer VERSION $version /project(VelmoraPlayer VERSION $next_version /" \
            "$SOURCE_DIR/CMakeLists.txt" >"$next/CMakeLists.txt"
        grep -q "^project(VelmoraPlayer VERSION $next_version " "$next/CMakeLists.txt" ||
            fail "no project(VelmoraPlayer VERSION $version ...) line to change"
        cmp -s "$next/CMakeLists.txt" "$src/CMakeLists.txt" || cp "$next/CMakeLists.txt" "$src/CMakeLists.txt"
        if [[ ! -f "$next/$preset/CMakeCache.txt" ]]; then
            (cd "$src" && cmake --preset "$preset" -B "$next/$preset" \
                "-DVELMORA_SITE_ROOT=http://$SITE_HOST:$NEXT_PORT/" >"$next/$preset.log" 2>&1) ||
                fail "configuring $next/$preset: $(tail -20 "$next/$preset.log")"
        fi
        cmake --build "$next/$preset" --target "$@" >"$next/$preset.log" 2>&1 ||
            fail "building $next/$preset: $(tail -30 "$next/$preset.log")"
    ) 9>"$next.lock" || exit 1
}

WORK=
CLEANUPS=()
finish() {
    local status=$? step
    for step in "${CLEANUPS[@]}"; do eval "$step" || true; done
    stop_started
    if [[ -n "$WORK" ]]; then
        # A Wine prefix is most of a gigabyte: the logs are what a failure needs.
        rm -rf "$WORK/prefix"
        if [[ $status -eq 0 ]]; then rm -rf "$WORK"; else echo "test files kept in $WORK" >&2; fi
    fi
    exit "$status"
}
new_work() {
    mkdir -p "$WORK_ROOT"
    WORK=$(mktemp -d "$WORK_ROOT/$1.XXXXXX")
    trap finish EXIT
    trap 'exit 130' INT TERM
}

# expect_first_run_config FILE: the eight keys in order, as the first run writes them, in
# code page 936 (the player ran with a Chinese character type), CR LF line ends.
expect_first_run_config() {
    local text names
    text=$(iconv -f GBK -t UTF-8 "$1" | tr -d '\r') || fail "$1 is not in code page 936"
    names=$(echo "$text" | sed 's/=.*//' | tr '\n' ' ')
    [[ "$names" == "[VelmoraPlayer] Version List Last Top Once Title Update CopyRight " ]] ||
        fail "$1 holds other keys: $text"
    echo "$text" | grep -qxF "Version=$version" || fail "no Version=$version in $1: $text"
    echo "$text" | grep -qxF "CopyRight=$DEFAULT_NOTICE" || fail "CopyRight is not the default notice: $text"
    grep -q $'\r$' "$1" || fail "$1 has no CR LF line ends"
}

# make_signing_material DIR: a CA of the test's own and a code-signing certificate it issued
# (extended key usage codeSigning), as PEM (sign.pem, sign.key) and as PKCS#12 (sign.p12, its
# password $SIGN_PASSWORD). Trusted nowhere but where a check names ca.pem.
SIGN_PASSWORD="velmora test pass"
make_signing_material() {
    mkdir -p "$1"
    (
        cd "$1"
        openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 \
            -subj "/CN=Velmora signing test CA" -addext basicConstraints=critical,CA:TRUE \
            -addext keyUsage=critical,keyCertSign,cRLSign
        openssl req -newkey rsa:2048 -nodes -keyout sign.key -subj "/CN=Tessavo/O=Tessavo" -out sign.csr
        openssl x509 -req -in sign.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -out sign.pem \
            -extfile <(printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n')
        openssl pkcs12 -export -inkey sign.key -in sign.pem -certfile ca.pem \
            -passout "pass:$SIGN_PASSWORD" -out sign.p12
    ) >"$1/openssl.log" 2>&1 || fail "openssl could not make the signing material: $(cat "$1/openssl.log")"
}

# verify_signed CA FILE [NAME]: osslsigncode verifies FILE's Authenticode signature (SHA-256,
# by the test's certificate) with CA as the only trusted root; prints its verdict.
verify_signed() {
    local report
    report=$(osslsigncode verify -CAfile "$1" -in "$2" 2>&1) ||
        fail "osslsigncode verify fails on ${3:-$2}: $report"
    echo "$report" | grep -qx 'Signature verification: ok' || fail "no 'Signature verification: ok' for ${3:-$2}: $report"
    echo "$report" | grep -q 'Message digest algorithm *: SHA256' || fail "${3:-$2} is not signed with SHA-256: $report"
    echo "$report" | grep -q 'Subject: /CN=Tessavo/O=Tessavo' || fail "${3:-$2} is not signed by the test certificate: $report"
    echo "osslsigncode verify ${3:-$2}: $(echo "$report" | grep -E '^(Current message digest|Calculated message digest|Signature verification)' | tr '\n' ';' | sed 's/ \{2,\}/ /g')"
}

# refuse_changed CA FILE NAME: FILE with one byte changed (in the middle, in what the
# signature covers) no longer verifies.
refuse_changed() {
    local copy size at byte report
    copy=$WORK/changed-$(basename "$2")
    cp "$2" "$copy"
    size=$(stat -c %s "$copy")
    at=$((size / 2))
    byte=$(od -An -tu1 -j "$at" -N1 "$copy" | tr -d ' ')
    printf "\\x$(printf %02x $(((byte + 1) % 256)))" | dd of="$copy" bs=1 seek="$at" conv=notrunc status=none
    ! cmp -s "$copy" "$2" || fail "the byte was not changed"
    if report=$(osslsigncode verify -CAfile "$1" -in "$copy" 2>&1); then
        fail "osslsigncode verify accepts $3 with a byte changed: $report"
    fi
    echo "osslsigncode verify $3 with byte $at changed: $(echo "$report" | grep -E 'MISMATCH|Signature verification' | tr '\n' ';' | sed 's/ \{2,\}/ /g')"
}

# make_apt_key DIR NAME: an OpenPGP signing key of the test's own, without a passphrase, as
# the README makes one: DIR/NAME.asc (armored secret key), DIR/NAME.gpg (public keyring).
make_apt_key() {
    local gnupg
    # gpg-agent's socket lives in the home folder: a short path (a Unix socket's is bounded).
    gnupg=$(mktemp -d /tmp/velmora-gnupg.XXXXXX)
    mkdir -p "$1"
    {
        gpg --homedir "$gnupg" --batch --passphrase '' --quick-gen-key "Velmora test $2 <$2@tessavo.example>" \
            ed25519 sign never &&
            gpg --homedir "$gnupg" --batch --armor --export-secret-keys "$2@tessavo.example" >"$1/$2.asc" &&
            gpg --homedir "$gnupg" --batch --export "$2@tessavo.example" >"$1/$2.gpg"
    } >"$1/$2.log" 2>&1 || fail "gpg could not make the key $2: $(cat "$1/$2.log")"
    gpgconf --homedir "$gnupg" --kill all >/dev/null 2>&1 || true
    rm -rf "$gnupg"
}

# ---------------------------------------------------------------------------- make

cmd_make() {
    : "${LINUX_TREE:?}" "${WIN32_TREE:?}"
    [[ -f "$WIN32_TREE/build.ninja" ]] ||
        fail "no win32 tree in $WIN32_TREE: scripts/build.sh win32 first"
    VELMORA_LINUX_TREE=$LINUX_TREE VELMORA_WIN32_TREE=$WIN32_TREE VELMORA_PACKAGES=$PACKAGES \
        "$SOURCE_DIR/scripts/package.sh"
}

# ---------------------------------------------------------------------------- signing

cmd_signing() {
    : "${LINUX_TREE:?}" "${WIN32_TREE:?}"
    command -v osslsigncode >/dev/null || fail "osslsigncode is missing (scripts/setup.sh installs it)"
    command -v 7zz >/dev/null || fail "7zz is missing (scripts/setup.sh installs 7zip)"
    new_work signing
    local sign=$WORK/sign out=$WORK/packages
    make_signing_material "$sign"
    # The unsigned packages (the make fixture's) carry no signature at all.
    ! osslsigncode verify -in "$PACKAGES/VelmoraPlayer-$version-setup.exe" >/dev/null 2>&1 ||
        fail "the installer made without signing material is signed"
    # PKCS#12, its password from the environment; the same trees, another output folder.
    VELMORA_SIGN_PASSWORD=$SIGN_PASSWORD VELMORA_LINUX_TREE=$LINUX_TREE VELMORA_WIN32_TREE=$WIN32_TREE \
        VELMORA_PACKAGES=$out "$SOURCE_DIR/scripts/package.sh" --sign-pkcs12 "$sign/sign.p12" \
        >"$WORK/package.log" 2>&1 || { cat "$WORK/package.log" >&2; fail "package.sh --sign-pkcs12"; }
    local setup="$out/VelmoraPlayer-$version-setup.exe" zip="$out/VelmoraPlayer-$version-portable.zip"
    # What the installer unpacks, as 7-Zip reads it out of the NSIS file: the program, and the
    # uninstaller the install writes.
    7zz x -y -o"$WORK/setup" "$setup" >"$WORK/7z.log" 2>&1 || fail "7zz cannot unpack the installer: $(cat "$WORK/7z.log")"
    mkdir -p "$WORK/zip"
    unzip -q -d "$WORK/zip" "$zip" || fail "cannot unzip $zip"
    local uninstaller
    uninstaller=$(find "$WORK/setup" -iname 'uninstall.exe' | head -1)
    [[ -n "$uninstaller" ]] || fail "7zz found no uninstall.exe in the installer: $(cd "$WORK/setup" && find .)"
    verify_signed "$sign/ca.pem" "$setup" "VelmoraPlayer-$version-setup.exe"
    verify_signed "$sign/ca.pem" "$WORK/setup/VelmoraPlayer.exe" "VelmoraPlayer.exe (in the installer)"
    verify_signed "$sign/ca.pem" "$uninstaller" "uninstall.exe (in the installer)"
    verify_signed "$sign/ca.pem" "$WORK/zip/VelmoraPlayer-$version/VelmoraPlayer.exe" "VelmoraPlayer.exe (in the zip)"
    cmp -s "$WORK/setup/VelmoraPlayer.exe" "$WORK/zip/VelmoraPlayer-$version/VelmoraPlayer.exe" ||
        fail "the installer and the zip hold different programs"
    # Another CA is not trusted.
    openssl req -x509 -newkey rsa:2048 -nodes -keyout "$WORK/other-ca.key" -out "$WORK/other-ca.pem" \
        -days 2 -subj "/CN=Another CA" >/dev/null 2>&1 || fail "openssl req"
    ! osslsigncode verify -CAfile "$WORK/other-ca.pem" -in "$setup" >/dev/null 2>&1 ||
        fail "the installer verifies with another CA"
    refuse_changed "$sign/ca.pem" "$setup" "VelmoraPlayer-$version-setup.exe"
    refuse_changed "$sign/ca.pem" "$WORK/zip/VelmoraPlayer-$version/VelmoraPlayer.exe" "VelmoraPlayer.exe (in the zip)"
    note "the program, the uninstaller and the installer are signed (SHA-256) by the test certificate; one changed byte or another CA fails the check"
}

# ---------------------------------------------------------------------------- lint

cmd_lint() {
    new_work lint
    local deb report
    # Errors fail; the warnings and notes are printed for the record.
    report=$(lintian --tag-display-limit 0 "$player_deb" "$site_deb" 2>&1 | grep -v '^running with root') || true
    [[ -z "$report" ]] || echo "$report"
    ! echo "$report" | grep -q '^E:' || fail "lintian reports errors"

    for deb in "$player_deb" "$site_deb"; do
        dpkg-deb -x "$deb" "$WORK/root" || fail "cannot unpack $deb"
    done
    local r="$WORK/root" path size
    # One id: the only desktop entry is named after the application id the window carries
    # (Wayland app id, X11 WM_CLASS), so the dock finds its name and icon; AppStream agrees.
    local entries
    entries=$(cd "$r/usr/share/applications" && ls)
    [[ "$entries" == "$APP_ID.desktop" ]] || fail "desktop entries '$entries', expected $APP_ID.desktop"
    grep -qx "StartupWMClass=$APP_ID" "$r/usr/share/applications/$APP_ID.desktop" ||
        fail "StartupWMClass is not $APP_ID"
    grep -qx "  <id>$APP_ID</id>" "$r/usr/share/metainfo/$APP_ID.metainfo.xml" &&
        grep -qF ">$APP_ID.desktop</launchable>" "$r/usr/share/metainfo/$APP_ID.metainfo.xml" ||
        fail "the AppStream id or launchable is not $APP_ID"
    desktop-file-validate "$r/usr/share/applications/$APP_ID.desktop" || fail "desktop-file-validate"
    appstreamcli validate --no-net "$r/usr/share/metainfo/$APP_ID.metainfo.xml" ||
        fail "appstreamcli validate"
    for path in usr/bin/velmora-player usr/lib/velmora-player/velmora-player usr/sbin/velmora-site; do
        [[ -x "$r/$path" ]] || fail "/$path is missing or not executable"
    done
    for path in usr/share/icons/hicolor/scalable/apps/velmora-player.svg \
        usr/share/doc/velmora-player/copyright usr/share/doc/velmora-player/changelog.gz \
        usr/share/doc/velmora-site/copyright usr/share/doc/velmora-site/changelog.gz \
        usr/share/man/man1/velmora-player.1.gz usr/share/man/man8/velmora-site.8.gz \
        lib/systemd/system/velmora-site.service lib/systemd/system/velmora-site@.service \
        etc/default/velmora-site etc/nginx/sites-available/velmora-site; do
        [[ -f "$r/$path" ]] || fail "/$path is missing"
    done
    # Each hicolor size is drawn at that size, not one picture renamed.
    for size in 16 22 24 32 48 64 128 256; do
        path="$r/usr/share/icons/hicolor/${size}x${size}/apps/velmora-player.png"
        [[ -f "$path" ]] || fail "no ${size}x${size} icon"
        [[ "$(identify -format '%wx%h' "$path")" == "${size}x${size}" ]] ||
            fail "the ${size}x${size} icon is $(identify -format '%wx%h' "$path")"
    done
    for path in /etc/default/velmora-site /etc/nginx/sites-available/velmora-site; do
        dpkg-deb -I "$site_deb" conffiles | grep -qx "$path" || fail "$path is not a conffile"
    done
    # dpkg-shlibdeps reads these from the program and its modules; libcurl also as new as the
    # fetches need (the symbols alone would take one that fails every fetch).
    for library in libwebkit2gtk "libcurl4 (>= $CURL_MIN_VERSION)"; do
        dpkg-deb -f "$player_deb" Depends | grep -qF "$library" || fail "the player's Depends lack $library"
    done
    # Without glib-networking's TLS module WebKitGTK shows no https page.
    dpkg-deb -f "$player_deb" Depends | grep -qw glib-networking || fail "the player's Depends lack glib-networking"
    # The message boxes' information icon comes from the icon theme.
    dpkg-deb -f "$player_deb" Depends | grep -qw adwaita-icon-theme || fail "the player's Depends lack adwaita-icon-theme"
    # WebKit's sandbox for the web process.
    for tool in bubblewrap xdg-dbus-proxy; do
        dpkg-deb -f "$player_deb" Depends | grep -qw "$tool" || fail "the player's Depends lack $tool"
    done
    dpkg-deb -f "$site_deb" Suggests | grep -qw nginx || fail "the site does not suggest nginx"
    dpkg-deb -f "$site_deb" Depends | grep -q libmicrohttpd || fail "the site's Depends lack libmicrohttpd"
    note "lintian: $(echo "$report" | grep -c '^W:' || true) warnings, no errors; desktop entry, metainfo, files in place"
}

# ---------------------------------------------------------------------------- install

purge_packages() {
    DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq velmora-player velmora-site >/dev/null 2>&1
    ! dpkg -s velmora-player >/dev/null 2>&1 && ! dpkg -s velmora-site >/dev/null 2>&1
}

cmd_install() {
    if [[ $(id -u) -ne 0 ]]; then
        echo "install: needs root (it installs the packages system-wide); skipped"
        exit 77
    fi
    : "${SITE_HOST:?}" "${SITE_PORT:?}"
    local owner
    for owner in velmora-player velmora-site; do
        ! dpkg -s "$owner" >/dev/null 2>&1 ||
            fail "$owner is installed already: this test installs and removes it itself"
    done
    [[ ! -e /var/lib/velmora-site ]] ||
        fail "/var/lib/velmora-site is left from an earlier install: this test fills and removes it itself"
    new_work install
    CLEANUPS+=(purge_packages)
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
        "$player_deb" "$site_deb" >"$WORK/apt.log" 2>&1 || { cat "$WORK/apt.log" >&2; fail "apt-get install"; }
    note "installed: $(dpkg-query -W -f '${Package} ${Version}, ' velmora-player velmora-site)"

    # The units as installed: systemd-analyze checks their syntax, the binary and the man
    # page (the template as an instance of its own).
    systemd-analyze verify /lib/systemd/system/velmora-site.service \
        /lib/systemd/system/velmora-site@.service || fail "systemd-analyze verify"
    # The units' hardening as systemd rates it (from the files: systemd need not run).
    local unit exposure
    for unit in velmora-site.service velmora-site@.service; do
        exposure=$(systemd-analyze security --offline=true --no-pager "/lib/systemd/system/$unit" |
            sed -n 's/^.*Overall exposure level for .*: \([0-9.]*\) .*$/\1/p')
        [[ -n "$exposure" ]] && awk -v e="$exposure" 'BEGIN { exit !(e <= 2.0) }' ||
            fail "systemd-analyze security rates $unit's exposure ${exposure:-(none)}, above 2.0"
    done
    note "systemd-analyze security: both units' exposure at most 2.0 (the template's: $exposure)"
    grep -qx 'VELMORA_SITE_LISTEN=127.0.0.1' /etc/default/velmora-site ||
        fail "/etc/default/velmora-site does not keep the site on loopback"
    [[ -f /etc/nginx/sites-available/velmora-site && ! -e /etc/nginx/sites-enabled/velmora-site ]] ||
        fail "the nginx site is not in sites-available, or is enabled"

    # An operator's episode, copied in as root: nginx's user reads it and the downloads.
    local forget_episode="rm -f /var/lib/velmora-site/media/003.mp4; rmdir -p /var/lib/velmora-site/media 2>/dev/null"
    CLEANUPS+=("$forget_episode")
    (umask 022 && head -c 4096 /dev/zero >/var/lib/velmora-site/media/003.mp4)
    if ! runuser -u www-data -- cat /var/lib/velmora-site/media/003.mp4 >/dev/null ||
        ! runuser -u www-data -- ls /var/lib/velmora-site/downloads >/dev/null; then
        fail "www-data cannot read /var/lib/velmora-site: $(ls -la /var/lib/velmora-site)"
    fi

    # Both units' ExecStart with the values from /etc/default, as systemd expands it: ${X}
    # is one word, $X splits at blanks, %i the instance. Each runs as an unprivileged user
    # of its own, like the units' dynamic users, on the test's address (127.0.0.1:8848 may
    # be some developer's site): both see the operator's episode.
    local port exec_start i answer
    for unit in velmora-site velmora-site@; do
        port=$SITE_PORT
        [[ "$unit" == velmora-site@ ]] && port=$((SITE_PORT + 1))
        exec_start=$(sed -n 's/^ExecStart=//p' "/lib/systemd/system/$unit.service")
        (
            set -a
            # shellcheck disable=SC1091
            . /etc/default/velmora-site
            # shellcheck disable=SC2034 # read by the ExecStart line below
            VELMORA_SITE_LISTEN=$SITE_HOST VELMORA_SITE_PORT=$port
            set +a
            eval "exec setpriv --reuid=$((65000 + port % 100)) --regid=65534 --clear-groups ${exec_start//%i/$port}"
        ) >"$WORK/$unit.log" 2>&1 &
        VELMORA_PIDS+=("$!")
        answer=
        for i in $(seq 50); do
            answer=$(curl -s --noproxy '*' "http://$SITE_HOST:$port/video/player/?flv=list") && break
            sleep 0.1
        done
        [[ "$answer" == 3 ]] ||
            fail "$unit as its unit starts it answers the count \"$answer\", not 3: $(cat "$WORK/$unit.log")"
    done
    note "velmora-site and a velmora-site@ copy, as their units start them, share the folders"

    # The nginx site in Debian's nginx.conf beside its default site, with a throw-away
    # certificate of the test's own (trusted nowhere) in place of the operator's and its
    # cache in the test's folder; then again with its commented choices switched on (pages
    # redirected to https, players built for an address with a path).
    openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=tessavo.example \
        -keyout "$WORK/privkey.pem" -out "$WORK/fullchain.pem" 2>/dev/null || fail "openssl req"
    sed -e "s|/etc/ssl/velmora-site/|$WORK/|; s|/var/lib/nginx/velmora-site|$WORK/nginx-cache|" \
        /etc/nginx/sites-available/velmora-site >"$WORK/nginx-site"
    sed 's/^\( *\)#\(if\|rewrite\) /\1\2 /' "$WORK/nginx-site" >"$WORK/nginx-site-choices"
    [[ $(diff "$WORK/nginx-site" "$WORK/nginx-site-choices" | grep -c '^>') == 4 ]] ||
        fail "the nginx site no longer has its four commented choices"
    local site
    for site in nginx-site nginx-site-choices; do
        sed "s|include /etc/nginx/sites-enabled/\*;|&\n\tinclude $WORK/$site;|" /etc/nginx/nginx.conf >"$WORK/$site.conf"
        grep -q "include $WORK/$site;" "$WORK/$site.conf" || fail "/etc/nginx/nginx.conf includes no sites-enabled"
        nginx -t -q -c "$WORK/$site.conf" || fail "nginx -t with $site"
    done
    note "nginx -t accepts the site, with and without its commented choices"

    # The player from PATH, in a fresh home and a non-Chinese locale: the launcher gives it
    # its XDG folder and a Chinese character type.
    start_desktop
    export HOME="$WORK/home"
    unset XDG_CONFIG_HOME LC_ALL LC_CTYPE
    export LANG=C.UTF-8
    mkdir -p "$HOME"
    [[ "$(command -v velmora-player)" == /usr/bin/velmora-player ]] || fail "velmora-player is not on PATH"
    mkdir "$WORK/elsewhere"
    (cd "$WORK/elsewhere" && exec velmora-player) >"$WORK/player.log" 2>&1 &
    local player=$!
    VELMORA_PIDS+=("$player")
    answer_box Return 30
    local window
    window=$(wait_window "$(title_pattern "$(start_title)")" 30) ||
        fail "no main window; $(cat "$WORK/player.log")"
    xprop -id "$window" WM_CLASS | grep -qF "= \"$APP_ID\", \"$APP_ID\"" ||
        fail "the window's class is not $APP_ID"
    local config="$HOME/.config/velmora-player/Config.ini"
    for i in $(seq 100); do grep -q '^CopyRight=' "$config" 2>/dev/null && break; sleep 0.1; done
    [[ -f "$config" ]] || fail "no Config.ini in ~/.config/velmora-player; $HOME holds: $(find "$HOME")"
    expect_first_run_config "$config"
    [[ ! -e "$WORK/elsewhere/Config.ini" ]] || fail "the player wrote Config.ini where it was started"
    xdotool windowactivate --sync "$window" >/dev/null 2>&1 || true
    xdotool key alt+F4
    for i in $(seq 100); do kill -0 "$player" 2>/dev/null || break; sleep 0.1; done
    ! kill -0 "$player" 2>/dev/null || fail "the player did not end on alt+F4"
    # A web view that could not be made (its module missing beside the program) ends it too.
    wait "$player" || fail "the player ended with status $?: $(cat "$WORK/player.log")"
    note "the player from PATH showed its window and wrote the first-run Config.ini in ~/.config/velmora-player"

    purge_packages || fail "apt-get purge left a package installed"
    [[ -f /var/lib/velmora-site/media/003.mp4 ]] || fail "apt-get purge removed the operator's episode"
    eval "$forget_episode" || true
    CLEANUPS=()
    for i in /usr/bin/velmora-player /usr/lib/velmora-player /usr/sbin/velmora-site \
        /etc/default/velmora-site /lib/systemd/system/velmora-site.service \
        /lib/systemd/system/velmora-site@.service /etc/nginx/sites-available/velmora-site \
        /etc/systemd/system/multi-user.target.wants/velmora-site.service; do
        [[ ! -e "$i" ]] || fail "$i is left after purge"
    done
    note "both packages purged"
}

# ---------------------------------------------------------------------------- windows

# lnk_working_dir FILE: the working directory a shell link (.lnk) holds, as UTF-8. The
# header's flags say which parts follow it: the item id list, the link info, then counted
# strings (name, relative path, working directory, ...), UTF-16 when IsUnicode is set.
lnk_working_dir() {
    local -a b
    mapfile -t b < <(od -An -v -tu1 -w1 "$1" | tr -d ' ')
    [[ ${#b[@]} -gt 76 && ${b[0]} -eq 76 ]] || fail "$1 is not a shell link"
    local flags=$((b[20] | b[21] << 8)) at=76 i n len
    ((flags & 1)) && at=$((at + 2 + (b[at] | b[at + 1] << 8)))
    ((flags & 2)) && at=$((at + (b[at] | b[at + 1] << 8 | b[at + 2] << 16)))
    local unicode=$(((flags & 0x80) ? 2 : 1))
    for i in 4 8; do # name, relative path: skipped when present
        if ((flags & i)); then
            len=$((b[at] | b[at + 1] << 8))
            at=$((at + 2 + len * unicode))
        fi
    done
    ((flags & 0x10)) || return 1
    len=$((b[at] | b[at + 1] << 8))
    at=$((at + 2))
    for ((n = 0; n < len * unicode; n++)); do printf '\\x%02x' "${b[at + n]}"; done |
        xargs -0 printf '%b' | iconv -f "$([[ $unicode == 2 ]] && echo UTF-16LE || echo CP936)" -t UTF-8 |
        tr -d '\0' # Wine counts a terminating NUL in
}

wine_path() { "$WINE64" winepath -u "$1" 2>/dev/null | tr -d '\r'; }
winepath_w() { "$WINE64" winepath -w "$1" 2>/dev/null | tr -d '\r'; }

cmd_windows() {
    : "${WIN64_TREE:?}"
    local exe64="$WIN64_TREE/VelmoraPlayer.exe" ico64="$WIN64_TREE/resources/VelmoraPlayer.ico"
    [[ -f "$exe64" ]] || fail "$exe64 is missing: scripts/build.sh win64 first"
    new_work windows
    # What ships: the installer holds the 32-bit program; the zip the program and read-me.
    x86_64-w64-mingw32-objdump -f "$PACKAGES/VelmoraPlayer-$version-setup.exe" | grep -q 'pei-i386' ||
        fail "the installer is not a 32-bit program"
    [[ "$(unzip -Z1 "$PACKAGES/VelmoraPlayer-$version-portable.zip" | sort | tr '\n' ' ')" == \
        "VelmoraPlayer-$version/ VelmoraPlayer-$version/VelmoraPlayer.exe VelmoraPlayer-$version/read-me.txt " ]] ||
        fail "the zip holds $(unzip -Z1 "$PACKAGES/VelmoraPlayer-$version-portable.zip")"

    # These machines run no 32-bit code: the same script again for amd64, the 64-bit program,
    # signed (PEM certificate and key) as a release is: the signed program must still run.
    make_signing_material "$WORK/sign"
    "$SOURCE_DIR/scripts/package.sh" --sign-cert "$WORK/sign/sign.pem" --sign-key "$WORK/sign/sign.key" \
        --installer-only "$exe64" "$ico64" "$WORK/setup64.exe" ARCH64 || fail "makensis for amd64"
    verify_signed "$WORK/sign/ca.pem" "$WORK/setup64.exe" "setup64.exe" >/dev/null

    find_wine || fail "wine64 or its wineserver not found (Debian package wine64)"
    export WINEPREFIX="$WORK/prefix" WINEDEBUG=-all HOME="$WORK/home"
    # No Mono, no Gecko, and no menu entries on this machine for the shortcuts Wine sees.
    export WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe="
    export LC_ALL=zh_CN.UTF-8 LANG=zh_CN.UTF-8
    unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY
    mkdir -p "$HOME"
    CLEANUPS+=("\"$WINESERVER\" -k 2>/dev/null")
    local saved_display=${DISPLAY:-}
    unset DISPLAY
    "$WINE64" wineboot -i >"$WORK/wineboot.log" 2>&1
    "$WINESERVER" -w
    "$WINE64" "$WORK/setup64.exe" /S || fail "the silent install failed"
    "$WINESERVER" -w

    local appdata localappdata desktop dir start_lnk desktop_lnk user
    user=$(id -un)
    localappdata=$(wine_path 'C:\users\'"$user"'\AppData\Local')
    dir="$localappdata/Programs/VelmoraPlayer"
    appdata=$(wine_path "$("$WINE64" cmd /c echo %APPDATA% | tr -d '\r')")
    desktop=$(wine_path "$("$WINE64" cmd /c echo %USERPROFILE%\\Desktop | tr -d '\r')")
    start_lnk="$appdata/Microsoft/Windows/Start Menu/Programs/Tessavo全集在线播放器.lnk"
    desktop_lnk="$desktop/Tessavo全集在线播放器.lnk"
    [[ -f "$dir/VelmoraPlayer.exe" && -f "$dir/uninstall.exe" ]] ||
        fail "not installed in $dir: $(ls -la "$dir" 2>&1)"
    # The installed program is the one built plus its signature, and so is the uninstaller.
    verify_signed "$WORK/sign/ca.pem" "$dir/VelmoraPlayer.exe" "the installed VelmoraPlayer.exe (win64)"
    verify_signed "$WORK/sign/ca.pem" "$dir/uninstall.exe" "the installed uninstall.exe (win64)"
    osslsigncode remove-signature -in "$dir/VelmoraPlayer.exe" -out "$WORK/unsigned.exe" >/dev/null 2>&1 ||
        fail "osslsigncode remove-signature"
    cmp -s "$WORK/unsigned.exe" "$exe64" || fail "the installed program is not the one packed"
    # Wine's own check, WinVerifyTrust (WINTRUST_ACTION_GENERIC_VERIFY_V2), with the test CA
    # in this prefix's Root store only: the signed program passes, a changed byte is a bad
    # digest, the unsigned build has no signature. (Wine 8 does not refuse an unknown root:
    # the first line, before the CA is added, is printed for the record only.)
    local probe="$WIN64_TREE/trust_probe.exe" verdict
    if [[ -f "$probe" ]]; then
        openssl x509 -in "$WORK/sign/ca.pem" -outform der -out "$WORK/sign/ca.der" || fail "openssl x509"
        refuse_changed "$WORK/sign/ca.pem" "$dir/VelmoraPlayer.exe" "the installed VelmoraPlayer.exe" >/dev/null
        verdict=$("$WINE64" "$probe" "$(winepath_w "$dir/VelmoraPlayer.exe")" | tr -d '\r')
        note "WinVerifyTrust, test CA not yet trusted: $verdict"
        verdict=$("$WINE64" "$probe" "$(winepath_w "$dir/VelmoraPlayer.exe")" "$(winepath_w "$WORK/sign/ca.der")" | tr -d '\r')
        [[ "$verdict" == 0x00000000 ]] || fail "WinVerifyTrust refuses the signed program: $verdict"
        verdict=$("$WINE64" "$probe" "$(winepath_w "$WORK/changed-VelmoraPlayer.exe")" | tr -d '\r')
        [[ "$verdict" == 0x80096010 ]] || fail "WinVerifyTrust on the program with a changed byte: $verdict, not TRUST_E_BAD_DIGEST"
        verdict=$("$WINE64" "$probe" "$(winepath_w "$exe64")" | tr -d '\r')
        [[ "$verdict" == 0x800b0100 ]] || fail "WinVerifyTrust on the unsigned build: $verdict, not TRUST_E_NOSIGNATURE"
        note "WinVerifyTrust: the signed program 0 (trusted), a changed byte TRUST_E_BAD_DIGEST, unsigned TRUST_E_NOSIGNATURE"
    else
        note "no $probe (scripts/build.sh win64 builds it): WinVerifyTrust not asked"
    fi
    local lnk working
    for lnk in "$start_lnk" "$desktop_lnk"; do
        [[ -f "$lnk" ]] || fail "no shortcut $lnk"
        working=$(lnk_working_dir "$lnk") || fail "$lnk has no working directory"
        [[ "$working" == *'\AppData\Local\Programs\VelmoraPlayer' ]] ||
            fail "$lnk starts in $working, not the install folder"
    done
    note "installed in $dir; shortcuts in the Start menu and on the desktop start in $working"

    local key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\VelmoraPlayer' values row
    values=$("$WINE64" reg query "$key" 2>&1 | iconv -f GBK -t UTF-8 | tr -d '\r')
    for row in "DisplayName REG_SZ Tessavo全集在线播放器" "DisplayVersion REG_SZ $version" \
        "Publisher REG_SZ Tessavo" "DisplayIcon REG_SZ C:\\users\\$user\\AppData\\Local\\Programs\\VelmoraPlayer\\VelmoraPlayer.exe,0" \
        "UninstallString REG_SZ \"C:\\users\\$user\\AppData\\Local\\Programs\\VelmoraPlayer\\uninstall.exe\"" \
        "QuietUninstallString REG_SZ \"C:\\users\\$user\\AppData\\Local\\Programs\\VelmoraPlayer\\uninstall.exe\" /S"; do
        echo "$values" | awk '{ $1 = $1; print }' | grep -qxF "$row" || fail "no \"$row\" in $key: $values"
    done
    echo "$values" | grep -Eq 'EstimatedSize +REG_DWORD +0x[1-9a-f]' || fail "no EstimatedSize: $values"
    note "uninstall key: $(echo "$values" | grep -c REG_) values"

    # Started from its Start-menu shortcut, from elsewhere: the first-run box, then Config.ini
    # in the install folder. The Wine processes of the checks above ran with no display: once
    # they and their wineserver are gone, the next desktop process takes the display.
    "$WINESERVER" -w
    [[ -n "$saved_display" ]] && export DISPLAY=$saved_display
    start_desktop
    mkdir -p "$WORK/elsewhere"
    (cd "$WORK/elsewhere" && "$WINE64" start /unix "$start_lnk") >"$WORK/program.log" 2>&1
    answer_box Return 60
    local i
    for i in $(seq 100); do grep -q '^CopyRight=' "$dir/Config.ini" 2>/dev/null && break; sleep 0.1; done
    [[ -f "$dir/Config.ini" ]] || fail "no Config.ini in the install folder; elsewhere: $(ls "$WORK/elsewhere")"
    expect_first_run_config "$dir/Config.ini"
    note "the program started from its shortcut wrote its first-run Config.ini in $dir"

    # The next version, installed silently over the running player: the installer closes it
    # and replaces the program; Config.ini is the user's and stays the same file.
    next_tree win64 VelmoraPlayer
    "$next/source/scripts/package.sh" --installer-only "$next/win64/VelmoraPlayer.exe" \
        "$next/win64/resources/VelmoraPlayer.ico" "$WORK/setup64-next.exe" ARCH64 ||
        fail "makensis for $next_version"
    local old_title
    old_title=$(title_pattern "$(start_title)")
    wait_window "$old_title" 30 >/dev/null || fail "the $version player shows no window"
    cp -p "$dir/Config.ini" "$WORK/Config.ini.before"
    "$WINE64" "$WORK/setup64-next.exe" /S || fail "the silent upgrade over the running player failed"
    ! xdotool search --name "$old_title" >/dev/null 2>&1 || fail "the $version player is still running"
    cmp -s "$dir/VelmoraPlayer.exe" "$next/win64/VelmoraPlayer.exe" || fail "the program was not replaced"
    cmp -s "$dir/Config.ini" "$WORK/Config.ini.before" || fail "the upgrade changed Config.ini"
    "$WINE64" reg query "$key" /v DisplayVersion 2>&1 | tr -d '\r' | grep -Eq "DisplayVersion +REG_SZ +$next_version\$" ||
        fail "Apps & features does not show $next_version"
    (cd "$WORK/elsewhere" && "$WINE64" start /unix "$start_lnk") >>"$WORK/program.log" 2>&1
    # No site answered the first start: the count is fetched again, after the same box.
    answer_box Return 60
    wait_window "$(title_pattern "$(start_title "$next_version")")" 60 >/dev/null ||
        fail "the Start-menu shortcut does not start $next_version"
    for i in $(seq 100); do grep -q "^Version=$next_version"$'\r' "$dir/Config.ini" && break; sleep 0.1; done
    version=$next_version expect_first_run_config "$dir/Config.ini"
    "$WINESERVER" -k 2>/dev/null || true
    "$WINESERVER" -w
    note "$next_version installed silently over the running $version: it closed, the program was replaced, Config.ini kept; the shortcut starts $next_version, which records its Version"

    unset DISPLAY
    "$WINE64" "$dir/uninstall.exe" /S || fail "the silent uninstall failed"
    "$WINESERVER" -w # the uninstaller runs on from a copy in %TEMP%
    [[ "$(ls -A "$dir")" == Config.ini ]] || fail "after uninstalling, $dir holds: $(ls -A "$dir" | tr '\n' ' ')"
    [[ ! -e "$start_lnk" && ! -e "$desktop_lnk" ]] || fail "a shortcut is left after uninstalling"
    ! "$WINE64" reg query "$key" >/dev/null 2>&1 || fail "the uninstall key is left"
    note "the silent uninstall left only Config.ini"
}

# ---------------------------------------------------------------------------- site_root

cmd_site_root() {
    : "${RELEASE_TREES:?}"
    new_work site-root
    local url=https://tessavo.example/tessavo/ out="$WORK/packages" comment
    make_apt_key "$WORK/apt-key" tessavo
    # Trees of the test's own, kept between runs: only the first run builds everything.
    VELMORA_LINUX_TREE=$RELEASE_TREES/linux VELMORA_WIN32_TREE=$RELEASE_TREES/win32 \
        VELMORA_PACKAGES=$out "$SOURCE_DIR/scripts/package.sh" --site-root "$url" \
        --apt-signing-key "$WORK/apt-key/tessavo.asc" >"$WORK/package.log" 2>&1 ||
        { cat "$WORK/package.log" >&2; fail "package.sh --site-root $url"; }
    # The version resource holds each name, then its value.
    comment=$(unzip -p "$out/VelmoraPlayer-$version-portable.zip" "VelmoraPlayer-$version/VelmoraPlayer.exe" |
        strings -el | grep -x -A1 Comments | tail -1) || true
    [[ "$comment" == "$url" ]] || fail "the zipped program's version comment is \"$comment\", not $url"
    dpkg-deb -f "$out/velmora-player_${version}_amd64.deb" Description | grep -qF "uses the site at $url" ||
        fail "the player .deb's description does not name $url"
    note "built for $url: the program's version comment and the player .deb's description say so"

    # The apt source and key the player .deb installs for that site: postinst writes the
    # source where apt reads it, remove and purge take it away; lintian without errors.
    local player="$out/velmora-player_${version}_amd64.deb" r=$WORK/player-root
    dpkg-deb -x "$player" "$r" || fail "cannot unpack $player"
    local sources=$r/usr/share/velmora-player/velmora-player.sources
    [[ -f "$sources" ]] || fail "the player .deb ships no /usr/share/velmora-player/velmora-player.sources"
    [[ "$(grep -v '^#' "$sources")" == "Types: deb
URIs: ${url}apt/
Suites: stable
Components: main
Architectures: amd64
Signed-By: /usr/share/keyrings/velmora-archive-keyring.gpg" ]] || fail "the apt source holds: $(cat "$sources")"
    cmp -s "$r/usr/share/keyrings/velmora-archive-keyring.gpg" "$WORK/apt-key/tessavo.gpg" ||
        fail "the shipped keyring is not the apt key's public part"
    local report
    report=$(lintian --tag-display-limit 0 "$player" 2>&1 | grep -v '^running with root') || true
    echo "lintian on the player .deb with the apt source: ${report:-(nothing)}"
    ! echo "$report" | grep -q '^E:' || fail "lintian reports errors"
    # Installed and purged in a root of its own (dpkg --root; the dependencies are not there;
    # the maintainer scripts run outside it and act below DPKG_ROOT).
    local d=$WORK/dpkg-root in_etc
    mkdir -p "$d/var/lib/dpkg/info" "$d/var/lib/dpkg/updates"
    : >"$d/var/lib/dpkg/status"
    in_etc=$d/etc/apt/sources.list.d/velmora-player.sources
    dpkg --root="$d" --force-depends --force-not-root --force-script-chrootless -i "$player" \
        >"$WORK/dpkg.log" 2>&1 || fail "dpkg --root -i: $(cat "$WORK/dpkg.log")"
    cmp -s "$in_etc" "$sources" && [[ -f "$d/usr/share/keyrings/velmora-archive-keyring.gpg" ]] ||
        fail "the apt source or key is not installed: $(cd "$d" && find etc usr/share/keyrings)"
    dpkg --root="$d" --force-depends --force-not-root --force-script-chrootless --purge velmora-player \
        >>"$WORK/dpkg.log" 2>&1 || fail "dpkg --root --purge: $(cat "$WORK/dpkg.log")"
    [[ ! -e "$in_etc" && ! -e "$d/usr/share/keyrings/velmora-archive-keyring.gpg" ]] ||
        fail "the purge left the apt source or key"
    note "the player .deb installs the apt source for ${url}apt/ in /etc/apt/sources.list.d and the key; purge removes both"

    # The release folder, as /var/lib/velmora-site gets it, served as the unit serves it.
    local site="$WORK/site" files page file at last=0
    files=$(cd "$site/downloads" && ls | tr '\n' ' ')
    [[ "$files" == "VelmoraPlayer-$version-portable.zip VelmoraPlayer-$version-setup.exe velmora-player_${version}_amd64.deb velmora-site_${version}_amd64.deb " ]] ||
        fail "the release's downloads/ holds $files"
    [[ "$(cat "$site/latest-version")" == "$version" ]] || fail "latest-version holds $(cat "$site/latest-version")"
    # The signed apt repository of this release.
    local pool
    pool=$(cd "$site/apt/pool" && find . -type f | sort | tr '\n' ' ')
    [[ "$pool" == "./main/v/velmora-player/velmora-player_${version}_amd64.deb ./main/v/velmora-site/velmora-site_${version}_amd64.deb " ]] ||
        fail "the apt pool holds $pool"
    gpgv --keyring "$WORK/apt-key/tessavo.gpg" "$site/apt/dists/stable/InRelease" >"$WORK/gpgv.log" 2>&1 ||
        fail "InRelease does not verify with the apt key: $(cat "$WORK/gpgv.log")"
    gpgv --keyring "$WORK/apt-key/tessavo.gpg" "$site/apt/dists/stable/Release.gpg" "$site/apt/dists/stable/Release" \
        >>"$WORK/gpgv.log" 2>&1 || fail "Release.gpg does not verify: $(cat "$WORK/gpgv.log")"
    grep -q "^Package: velmora-player$" "$site/apt/dists/stable/main/binary-amd64/Packages" ||
        fail "the apt index lists no velmora-player"
    grep -qF "main/binary-amd64/Packages.gz" "$site/apt/dists/stable/Release" || fail "Release lists no Packages.gz"
    grep -qF "systemctl reload velmora-site" "$WORK/package.log" || fail "package.sh printed no publishing steps"
    SITE=$RELEASE_TREES/linux/velmora-site SITE_LOG=$WORK/site.log SITE_PORT=$((SITE_PORT + 2)) \
        start_site --downloads "$site/downloads" --latest-version-file "$site/latest-version"
    [[ "$(curl -s --noproxy '*' "http://$SITE_HOST:$((SITE_PORT + 2))/video/player/?flv=update")" == "$version" ]] ||
        fail "the site does not name $version as the latest"
    page=$(curl -s --noproxy '*' "http://$SITE_HOST:$((SITE_PORT + 2))/video/player/?flv=download")
    echo "$page" | grep -qF "$version</p>" || fail "the download page does not name $version: $page"
    # Each package with its own sum, the installer first.
    for file in "VelmoraPlayer-$version-setup.exe" "VelmoraPlayer-$version-portable.zip"; do
        at=$(echo "$page" | grep -n ">$file</a>.*<code>$(sha256sum "$site/downloads/$file" | cut -d' ' -f1)</code>" | cut -d: -f1)
        [[ -n "$at" && "$at" -gt "$last" ]] || fail "the download page does not list $file with its SHA-256 after line $last: $page"
        last=$at
    done
    note "the release folder holds the four packages and $version; served, its page names $version and lists each sum, installer first"
}

# ---------------------------------------------------------------------------- next_version

cmd_next_version() {
    : "${RELEASE_TREES:?}" "${LINUX_TREE:?}"
    new_work next-version
    # The player and what its .deb holds besides; CPack makes the player's package alone.
    next_tree linux velmora-player velmora_icon velmora_changelogs velmora_manpages
    (cd "$next/linux" && cpack -B "$WORK/cpack" -D CPACK_COMPONENTS_ALL=player) >"$WORK/cpack.log" 2>&1 ||
        fail "cpack: $(cat "$WORK/cpack.log")"
    local deb="$WORK/cpack/velmora-player_${next_version}_amd64.deb"
    [[ -f "$deb" && "$(dpkg-deb -f "$deb" Version)" == "$next_version" ]] ||
        fail "no player .deb of version $next_version: $(ls "$WORK/cpack")"
    dpkg-deb -x "$deb" "$WORK/root" || fail "cannot unpack $deb"

    # The packaged program, started where the launcher starts it, against a site.
    start_desktop
    SITE=$LINUX_TREE/velmora-site SITE_LOG=$WORK/site.log SITE_PORT=$NEXT_PORT start_site
    export HOME="$WORK/home" LANG=C.UTF-8 LC_CTYPE=zh_CN.UTF-8
    unset XDG_CONFIG_HOME LC_ALL
    local dir="$HOME/.config/velmora-player"
    mkdir -p "$dir"
    (cd "$dir" && exec "$WORK/root/usr/lib/velmora-player/velmora-player") >"$WORK/player.log" 2>&1 &
    VELMORA_PIDS+=("$!")
    answer_box Return 30
    wait_window "$(title_pattern "$(start_title "$next_version")")" 30 >/dev/null ||
        fail "no window titled for $next_version; $(cat "$WORK/player.log")"
    local i
    for i in $(seq 100); do grep -q '^CopyRight=' "$dir/Config.ini" 2>/dev/null && break; sleep 0.1; done
    version=$next_version expect_first_run_config "$dir/Config.ini"
    note "built as $next_version: the .deb's version, the window title and the first-run Version say $next_version"
}

[[ $# -eq 1 ]] || fail "usage: $0 make|signing|lint|install|windows|site_root|next_version"
case "$1" in
make | signing | lint | install | windows | site_root | next_version) "cmd_$1" ;;
*) fail "unknown subcommand $1" ;;
esac
