#!/bin/sh
# Starts the player in the user's own folder: it keeps Config.ini in its working directory,
# and wherever a menu or a terminal happens to start it may not be writable.
set -e
dir="${XDG_CONFIG_HOME:-$HOME/.config}/velmora-player"
mkdir -p "$dir"
cd "$dir"

# The player reads the site's texts and writes Config.ini in the ANSI code page, which it
# takes from the character-type locale as Chinese Windows would (GBK for zh_CN). Under a
# Chinese locale nothing changes. Under any other, the character type becomes Chinese when
# that locale is installed, so the site's notice reads right; messages, dates and the rest
# stay the user's. Without it the notice shows '?', as on a non-Chinese Windows.
current=${LC_ALL:-${LC_CTYPE:-${LANG:-}}}
case "$current" in
zh_*) ;;
*)
    chinese=$(locale -a 2>/dev/null | grep -m1 -ix 'zh_CN\.utf-\?8') || chinese=
    if [ -n "$chinese" ]; then
        if [ -n "${LC_ALL:-}" ]; then
            LANG=$LC_ALL
            export LANG
            unset LC_ALL
        fi
        LC_CTYPE=$chinese
        export LC_CTYPE
    fi
    ;;
esac
exec /usr/lib/velmora-player/velmora-player "$@"
