#!/usr/bin/env bash
# Sets everything up, starts the content site on loopback (with demo episodes unless
# --media is given), runs the desktop player against it, and stops the site when the
# player exits. Without a desktop (no DISPLAY) the player runs on a virtual one (Xvfb) and
# a screenshot is saved when it exits.
#
# The player shows pages from the network, so it never runs as root when that can be
# avoided: through sudo only the setup (Debian packages) runs as root, and the build, the
# site and the player run as the user who called sudo. Root touches nothing in that user's
# checkout: a build/ left by someone else (an earlier run as root) is set aside, never
# handed over, and built again.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [[ "${VELMORA_SKIP_SETUP:-}" != 1 && $EUID != 0 ]]; then
    echo "run-player.sh: the setup (Debian packages) needs root: skipped; 'sudo ./scripts/run-player.sh' does it" >&2
elif [[ "${VELMORA_SKIP_SETUP:-}" != 1 ]]; then
    "$root/scripts/setup.sh"
fi
if [[ $EUID == 0 && -n "${SUDO_USER:-}" && "$SUDO_USER" != root ]]; then
    owner=$(stat -c %U "$root")
    if [[ "$owner" != "$SUDO_USER" ]]; then
        echo "run-player.sh: $root belongs to $owner, so $SUDO_USER cannot build in it: use a checkout of $SUDO_USER's" >&2
        exit 1
    fi
    if [[ -e "$root/build" || -L "$root/build" ]] &&
        [[ -n $(find "$root/build" ! -user "$SUDO_USER" -print -quit) ]]; then
        aside="$root/build.before-$(date +%Y%m%d-%H%M%S)"
        mv -T "$root/build" "$aside"
        echo "run-player.sh: build/ held files that are not $SUDO_USER's: moved to $aside, building again" >&2
    fi
    exec runuser -u "$SUDO_USER" -- env VELMORA_SKIP_SETUP=1 "$root/scripts/run-player.sh" "$@"
fi
if [[ $EUID == 0 ]]; then
    echo "run-player.sh: the player and the web pages it shows run as root; to avoid that, run" \
        "'sudo ./scripts/run-player.sh' from your own account" >&2
fi
"$root/scripts/build.sh" linux

# Without a media folder of the user's, the site plays demo episodes (made once, kept).
site_args=("$@")
media_given=0
for arg in "$@"; do
    if [[ $arg == --media || $arg == --media=* ]]; then media_given=1; fi
done
if [[ $media_given == 0 ]]; then
    "$root/scripts/make-demo-media.sh" "$root/build/demo-media"
    site_args+=(--media "$root/build/demo-media")
fi

source "$root/tests/support/desktop.sh"
trap stop_started EXIT

SITE="$root/build/linux/velmora-site" SITE_HOST=127.0.0.1 SITE_PORT=8848
SITE_LOG="$root/build/site.log"
start_site "${site_args[@]}"
echo "run-player.sh: the content site serves http://$SITE_HOST:$SITE_PORT/; its requests go to $SITE_LOG"

virtual=0
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
    virtual=1
    start_desktop
    echo "run-player.sh: no desktop found; the player runs on the virtual display $DISPLAY"
    echo "run-player.sh: watch it with e.g. 'DISPLAY=$DISPLAY import -window root shot.png'"
fi

# The player keeps Config.ini in its working directory: use one beside the build.
mkdir -p "$root/build/player-home"
cd "$root/build/player-home"
status=0
# A Chinese locale, as the player's users have: its texts and Config.ini are then read and
# written in code page 936 (GBK), as on Chinese Windows, whatever this shell's locale is.
LC_ALL=zh_CN.UTF-8 "$root/build/linux/velmora-player" || status=$?
if [[ $virtual == 1 ]]; then
    import -window root "$root/build/player-home/last-screen.png" 2>/dev/null || true
fi
exit $status
