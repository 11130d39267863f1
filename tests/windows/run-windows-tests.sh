#!/usr/bin/env bash
# The windows tests, one subcommand per CTest entry (see CMakeLists.txt beside this file):
#
#   artefacts            the win32/win64 builds: size, imported DLLs, GUI subsystem, manifest
#   test_program         builds the win64 test copy (own SiteRoot), profile_probe.exe,
#                        fetch_probe.exe and planted_dll.dll
#   prefix_setup         creates the Wine prefix the run shares (wineboot -i)
#   prefix_cleanup       stops its wineserver and removes it
#   first_start | title | get_playlist | update_yes | update_current | unreachable
#                        the win64 program under wine64 + Xvfb + openbox against the site
#                        (unreachable: without it)
#   keys                 without a mouse: Tab, Down and Enter play an episode, Tab and Space
#                        press the next control
#   planted_dlls         system DLLs planted beside the program are not loaded
#   profile_differential the profile functions: profile_probe.exe under Wine against the
#                        same table run on the Linux platform
#   fetch_deadline       the Windows build's fetch against a slow site ends by its time-out
#
# CTest passes the paths in the environment (VELMORA_*). Every process a test starts (Xvfb,
# openbox, the site, Wine) is stopped by the EXIT trap, whatever way the test ends.
set -u
source "$(dirname "$(readlink -f "$0")")/../support/desktop.sh"

: "${VELMORA_SOURCE_DIR:?}" "${VELMORA_WINDOWS_BUILD_ROOT:?}" "${VELMORA_TEST_WORK:?}"
: "${VELMORA_TEST_PROGRAM_TREE:?}" "${VELMORA_SITE_BINARY:?}" "${VELMORA_TEST_SITE_HOST:?}"
: "${VELMORA_TEST_SITE_PORT:?}" "${VELMORA_CHILD_LAYOUT:?}" "${VELMORA_VERSION:?}"
CHILD_LAYOUT=$VELMORA_CHILD_LAYOUT

PREFIX_NOTE="$VELMORA_TEST_WORK/wineprefix.path"
TEST_EXE="$VELMORA_TEST_PROGRAM_TREE/VelmoraPlayer.exe"
PROBE_EXE="$VELMORA_TEST_PROGRAM_TREE/profile_probe.exe"
FETCH_PROBE_EXE="$VELMORA_TEST_PROGRAM_TREE/fetch_probe.exe"
PLANTED_DLL="$VELMORA_TEST_PROGRAM_TREE/planted_dll.dll"
SITE=$VELMORA_SITE_BINARY
SITE_HOST=$VELMORA_TEST_SITE_HOST
SITE_PORT=$VELMORA_TEST_SITE_PORT
SITE_ROOT="http://$SITE_HOST:$SITE_PORT/"
VERSION=$VELMORA_VERSION
MAIN_TITLE=$(start_title)
# DefaultNotice, the first-run CopyRight value.
DEFAULT_NOTICE=$("$CHILD_LAYOUT" notice)

seconds_since() { echo "$(($(date +%s%N) / 1000000 - $1))ms"; }

need_tools() {
    local tool
    for tool in "$@"; do
        command -v "$tool" >/dev/null || fail "$tool not found; the windows tests need it"
    done
}

# Wine takes its ANSI code page from the Unix locale: zh_CN.UTF-8 gives code page 936 (GBK),
# the code page of a Chinese Windows. The locale must exist, or Wine falls back to 1252.
need_locale() {
    locale -a 2>/dev/null | grep -qix "$1" ||
        fail "locale $1 is not installed (Debian: locales-all, or locale-gen it)"
}

wine_environment() {
    find_wine || fail "wine64 or its wineserver not found (Debian package wine64)"
    [ -f "$PREFIX_NOTE" ] || fail "no Wine prefix: run the fixture windows.prefix_setup"
    WINEPREFIX=$(cat "$PREFIX_NOTE")
    [ -f "$WINEPREFIX/system.reg" ] || fail "Wine prefix $WINEPREFIX is not set up"
    export WINEPREFIX WINEDEBUG=-all
    # No Mono and no Gecko here: the browser control stays empty instead of asking to install.
    export WINEDLLOVERRIDES="mscoree=;mshtml="
    # WinINet's preconfigured access would honour a proxy; every address here is loopback.
    unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY no_proxy NO_PROXY
}

# ----------------------------------------------------------------------- artefacts

check_pe() {
    local exe=$1 dump dll
    [ -f "$exe" ] || fail "$exe is missing: build it first (cmake --preset ${2} && ninja -C build/${2}), or set VELMORA_WINDOWS_BUILD_ROOT"
    dump=$(x86_64-w64-mingw32-objdump -p "$exe") || fail "objdump cannot read $exe"
    echo "$dump" | grep -Eq '^Subsystem[[:space:]]+0+2[[:space:]]' ||
        fail "$exe is not a GUI-subsystem program: $(echo "$dump" | grep '^Subsystem')"
    local dlls
    dlls=$(echo "$dump" | sed -n 's/^[[:space:]]*DLL Name: //p')
    [ -n "$dlls" ] || fail "$exe shows no imported DLLs"
    note "$exe imports: $(echo $dlls)"
    # Windows takes its known DLLs from System32 whatever lies beside the program; comctl32
    # comes side by side through the manifest. Anything else must be delay-loaded, so the
    # program can load it from System32 itself.
    for dll in $dlls; do
        case "$(echo "$dll" | tr '[:lower:]' '[:upper:]')" in
        KERNEL32.DLL | USER32.DLL | GDI32.DLL | SHELL32.DLL | OLE32.DLL | OLEAUT32.DLL | \
            MSVCRT.DLL | COMCTL32.DLL) ;;
        *) fail "$exe imports $dll, which is not one of Windows' known DLLs" ;;
        esac
    done
    # ld leaves the PE's delay-import directory empty, so the delay-loaded DLLs are the DLL
    # names the program holds besides its imports (less libgcc_s_*, which the 32-bit runtime
    # only looks for among the modules already loaded).
    local delayed
    delayed=$(x86_64-w64-mingw32-strings -n 5 "$exe" | grep -ix '[a-z0-9_.-]*\.dll' |
        grep -ivxF "$dlls" | grep -iv '^libgcc_s_' | sort -fu)
    note "$exe delay-loads: $(echo $delayed)"
}

# The application manifest, resource type 24 (RT_MANIFEST) id 1: well-formed XML asking for
# Common Controls 6 (visual styles), no elevation, Windows 7 to 11, and no DPI awareness
# (the system scales the fixed pixel layout).
check_manifest() {
    local exe=$1 manifest
    manifest=$(wrestool -x --raw -t 24 -n 1 "$exe") && [ -n "$manifest" ] ||
        fail "$exe has no manifest resource (type 24, id 1)"
    echo "$manifest" | xmllint --noout - 2>&1 || fail "the manifest of $exe is not well-formed XML"
    query() { echo "$manifest" | xmllint --xpath "$1" - 2>/dev/null; }
    local controls='//*[local-name()="dependentAssembly"]/*[local-name()="assemblyIdentity"]'
    [ "$(query "string($controls/@name) = 'Microsoft.Windows.Common-Controls' and
        string($controls/@version) = '6.0.0.0'")" = true ] ||
        fail "the manifest of $exe does not ask for Common Controls 6.0.0.0"
    [ "$(query 'string(//*[local-name()="requestedExecutionLevel"]/@level)')" = asInvoker ] ||
        fail "the manifest of $exe does not run the program as its invoker"
    local systems
    systems=$(query '//*[local-name()="supportedOS"]/@Id' | tr -d ' ' | sort | tr '\n' ' ')
    [ "$systems" = 'Id="{1f676c76-80e1-4239-95bb-83d0f6d0da78}" Id="{35138b9a-5d96-4fbd-8e2d-a2440225f93a}" Id="{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}" Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}" ' ] ||
        fail "the manifest of $exe supports $systems, not Windows 7, 8, 8.1 and 10/11"
    [ "$(query 'count(//*[starts-with(local-name(), "dpiAware")])')" = 0 ] ||
        fail "the manifest of $exe declares DPI awareness"
}

cmd_artefacts() {
    need_tools x86_64-w64-mingw32-objdump x86_64-w64-mingw32-strip x86_64-w64-mingw32-strings \
        wrestool xmllint
    local win32="$VELMORA_WINDOWS_BUILD_ROOT/win32/VelmoraPlayer.exe"
    local win64="$VELMORA_WINDOWS_BUILD_ROOT/win64/VelmoraPlayer.exe"
    local build
    for build in "win32 pei-i386" "win64 pei-x86-64"; do
        set -- $build
        check_pe "${!1}" "$1"
        x86_64-w64-mingw32-objdump -f "${!1}" | grep -q "file format $2" || fail "${!1} is not $2"
        check_manifest "${!1}"
    done
    # The size that counts is what ships: the stripped program.
    STRIPPED=$(mktemp "${TMPDIR:-/tmp}/velmora-win32.XXXXXX")
    trap 'rm -f "$STRIPPED"' EXIT
    x86_64-w64-mingw32-strip -o "$STRIPPED" "$win32" || fail "cannot strip $win32"
    local size
    size=$(stat -c %s "$STRIPPED")
    note "win32 program stripped: $size bytes"
    [ "$size" -lt 49152 ] || fail "stripped $win32 is $size bytes, the budget is under 48 KB"
}

# ----------------------------------------------------------------------- fixtures

cmd_test_program() {
    need_tools x86_64-w64-mingw32-g++ cmake ninja
    local start
    start=$(now_ms)
    if [ ! -f "$VELMORA_TEST_PROGRAM_TREE/build.ninja" ]; then
        cmake -S "$VELMORA_SOURCE_DIR" -B "$VELMORA_TEST_PROGRAM_TREE" -G Ninja \
            --toolchain "$VELMORA_SOURCE_DIR/cmake/mingw-x86_64.cmake" \
            -DCMAKE_BUILD_TYPE=MinSizeRel -DVELMORA_SITE_ROOT="$SITE_ROOT" ||
            fail "cannot configure the win64 test program in $VELMORA_TEST_PROGRAM_TREE"
    fi
    # The address is part of the program: make sure a kept tree still has the test one.
    cmake -DVELMORA_SITE_ROOT="$SITE_ROOT" "$VELMORA_TEST_PROGRAM_TREE" >/dev/null ||
        fail "cannot set VELMORA_SITE_ROOT in $VELMORA_TEST_PROGRAM_TREE"
    ninja -C "$VELMORA_TEST_PROGRAM_TREE" VelmoraPlayer profile_probe fetch_probe planted_dll ||
        fail "cannot build the win64 test program"
    [ -f "$TEST_EXE" ] && [ -f "$PROBE_EXE" ] && [ -f "$FETCH_PROBE_EXE" ] && [ -f "$PLANTED_DLL" ] ||
        fail "the test build made no programs"
    note "win64 test program (SiteRoot $SITE_ROOT) ready in $(seconds_since "$start")"
}

cmd_prefix_setup() {
    find_wine || fail "wine64 or its wineserver not found (Debian package wine64)"
    local start prefix
    start=$(now_ms)
    # A previous run that was killed may have left its prefix behind.
    if [ -f "$PREFIX_NOTE" ]; then
        WINEPREFIX=$(cat "$PREFIX_NOTE") "$WINESERVER" -k 2>/dev/null
        rm -rf "$(cat "$PREFIX_NOTE")"
    fi
    prefix=$(mktemp -d "${TMPDIR:-/tmp}/velmora-wine.XXXXXX") || fail "no temporary directory"
    echo "$prefix" >"$PREFIX_NOTE"
    (
        unset DISPLAY
        export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml="
        "$WINE64" wineboot -i >"$VELMORA_TEST_WORK/wineboot.log" 2>&1
        "$WINESERVER" -w
    )
    [ -f "$prefix/system.reg" ] || {
        cat "$VELMORA_TEST_WORK/wineboot.log" >&2
        fail "wineboot -i did not create the prefix $prefix"
    }
    note "Wine prefix $prefix created in $(seconds_since "$start")"
}

cmd_prefix_cleanup() {
    [ -f "$PREFIX_NOTE" ] || exit 0
    find_wine || fail "wine64 or its wineserver not found (Debian package wine64)"
    local prefix
    prefix=$(cat "$PREFIX_NOTE")
    WINEPREFIX=$prefix "$WINESERVER" -k 2>/dev/null
    case "$prefix" in
    */velmora-wine.*) rm -rf "$prefix" ;;
    esac
    rm -f "$PREFIX_NOTE"
    note "Wine prefix $prefix removed"
}

# ----------------------------------------------------------------------- a session

WORK=
KEEP_WORK=1

stop_all() {
    local status=$?
    if [ -n "${WINEPREFIX:-}" ] && [ -n "${WINESERVER:-}" ]; then
        "$WINESERVER" -k 2>/dev/null
        "$WINESERVER" -w 2>/dev/null
    fi
    stop_started
    if [ -n "$WORK" ]; then
        if [ "$status" -eq 0 ] && [ "$KEEP_WORK" -eq 0 ]; then
            rm -rf "$WORK"
        else
            echo "test files kept in $WORK" >&2
        fi
    fi
    exit "$status"
}

# work_folder NAME: the Wine environment and a working folder of the test's own, removed when
# the test passes.
work_folder() {
    wine_environment
    WORK=$(mktemp -d "$VELMORA_TEST_WORK/run.$1.XXXXXX") || fail "no working directory"
    trap stop_all EXIT
    trap 'exit 130' INT TERM
}

new_session() {
    need_tools Xvfb openbox xdotool xprop iconv curl import convert compare
    need_locale zh_CN.utf8
    [ -f "$TEST_EXE" ] || fail "$TEST_EXE is missing: run the fixture windows.test_program"
    work_folder "$1"
    mkdir "$WORK/cwd" "$WORK/bin"
    SITE_LOG=$WORK/site.log
    DESKTOP_LOG=$WORK/desktop.log
    start_desktop

    # The player opens web addresses with ShellExecute; Wine's winebrowser hands them to
    # xdg-open from PATH. This one fetches the address the way a browser would, so the
    # site's log shows it, and notes it.
    cat >"$WORK/bin/xdg-open" <<EOF
#!/bin/sh
echo "\$1" >>"$WORK/opened.log"
exec curl -s -o /dev/null --noproxy '*' "\$1"
EOF
    chmod +x "$WORK/bin/xdg-open"
    export PATH="$WORK/bin:$PATH"
    # zh_CN.UTF-8: Wine's ANSI code page is then 936 (GBK), as on a Chinese Windows.
    export LC_ALL=zh_CN.UTF-8 LANG=zh_CN.UTF-8
}

# expect_request TARGET SECONDS: the site logged a request for TARGET (path and query).
expect_request() {
    wait_request "$1" "$2" ||
        fail "the site saw no request for $1 within $2 s; its log: $(cat "$SITE_LOG")"
}

program_start() {
    (
        cd "$WORK/cwd" || exit 99
        "$WINE64" "$TEST_EXE" >"$WORK/program.log" 2>&1
        echo $? >"$WORK/program.rc"
    ) &
    PROGRAM_SHELL=$!
    VELMORA_PIDS+=($PROGRAM_SHELL)
    PROGRAM_STARTED=$(now_ms)
}

main_window() {
    local id
    id=$(wait_window "$(title_pattern "$1")" 30) || fail "no window \"$1\" within 30 s; windows: $(list_windows)"
    note "window \"$1\" shown after $(seconds_since "$PROGRAM_STARTED")" >&2
    echo "$id"
}

# click WINDOW X Y: a click at client coordinates (Wine's X window is the client area; the
# frame belongs to openbox).
click() {
    xdotool windowactivate --sync "$1" || fail "cannot activate window $1"
    xdotool mousemove --window "$1" "$2" "$3" click 1
}

# click_control WINDOW TEXT: a click in the middle of the control showing TEXT, where the
# program's child-window table places it.
click_control() {
    local point
    point=$(control_point "$2") || exit 1
    click "$1" $point
}
click_get_playlist() { click_control "$1" 获取播放列表; }
click_update() { click_control "$1" 检测更新; }

# close_program WINDOW: alt+F4 must end the program with exit code 0.
close_program() {
    xdotool windowactivate --sync "$1" || fail "cannot activate window $1"
    xdotool key alt+F4
    wait_until 15 test -f "$WORK/program.rc" || fail "the program did not end within 15 s of alt+F4"
    local rc
    rc=$(cat "$WORK/program.rc")
    [ "$rc" = 0 ] || fail "the program ended with exit code $rc, expected 0: $(cat "$WORK/program.log")"
}

# The settings file, which Wine writes in code page 936, as UTF-8.
config_utf8() {
    [ -f "$WORK/cwd/Config.ini" ] || fail "no Config.ini in the working directory"
    iconv -f GBK -t UTF-8 "$WORK/cwd/Config.ini" ||
        fail "Config.ini is not in code page 936: $(od -c "$WORK/cwd/Config.ini" | head)"
}

# expect_config LINE...: Config.ini holds exactly these lines, each ended by CR LF.
expect_config() {
    local expected actual
    expected=$(printf '%s\r\n' "$@" | od -An -c)
    actual=$(config_utf8 | od -An -c)
    [ "$expected" = "$actual" ] && return 0
    printf '%s\r\n' "$@" >"$WORK/Config.expected"
    config_utf8 >"$WORK/Config.actual"
    diff -u "$WORK/Config.expected" "$WORK/Config.actual" | cat -A >&2
    fail "Config.ini differs from what was expected"
}

# write_config LINE...: a settings file as a user of a Chinese Windows would have it.
write_config() {
    printf '%s\r\n' "$@" | iconv -f UTF-8 -t GBK >"$WORK/cwd/Config.ini" || fail "cannot write Config.ini"
}

# first_run_window: answers the first-run box; the main window shows and the count and the
# notice are fetched. Sets window.
first_run_window() {
    answer_box Return
    window=$(main_window "$MAIN_TITLE")
    expect_request '/video/player/?flv=list' 10
    expect_request '/video/player/?flv=next' 10
}

# ----------------------------------------------------------------------- end-to-end tests

NOTICE_ONE="新剧集每周五晚八点更新"
NOTICE_TWO="第二季已上线，感谢收看"

# A fresh directory: the first-run box comes before the main window is shown; answering it
# fetches the count and the notice, and Config.ini holds the eight keys in order.
cmd_first_start() {
    new_session first_start
    start_site --charset gbk --episodes 220 --notice "$NOTICE_ONE"
    program_start
    wait_window "$(title_pattern "提示")" 30 >/dev/null || fail "no first-run box; windows: $(list_windows)"
    note "first-run box after $(seconds_since "$PROGRAM_STARTED")"
    ! xdotool search --onlyvisible --name "$(title_pattern "$MAIN_TITLE")" >/dev/null 2>&1 ||
        fail "the main window is shown before the first-run box was answered"
    [ "$(count_requests '/video/player/?flv=list')" = 0 ] ||
        fail "the count was fetched before the first-run box was answered"
    first_run_window
    expect_config "[VelmoraPlayer]" "Version=$VERSION" "List=220" "Last=1" "Top=1" "Once=1" "Title=" \
        "Update=$NOTICE_ONE" "CopyRight=$DEFAULT_NOTICE"
    close_program "$window"
    [ "$(count_requests '/video/player/?flv=list')" = 1 ] || fail "the count was fetched more than once"
    KEEP_WORK=0
}

# Title is read at start and goes into the window title; a stored count means no box and no
# fetch.
cmd_title() {
    new_session title
    start_site --charset gbk --episodes 220
    local stored=("[VelmoraPlayer]" "Version=$VERSION" "List=50" "Last=3" "Top=0" "Once=1"
        "Title=abc" "Update=旧的通知" "CopyRight=")
    write_config "${stored[@]}"
    program_start
    local window
    window=$(main_window "Tessavo全集在线播放器 - abc - VelmoraPlayer $VERSION")
    ! xdotool search --name "$(title_pattern "提示")" >/dev/null 2>&1 || fail "a box was shown with List=50"
    close_program "$window"
    [ "$(count_requests '/video/player/?flv=list')" = 0 ] || fail "the count was fetched with List=50"
    # Nothing is written on a start whose file is complete, and nothing at exit.
    expect_config "${stored[@]}"
    KEEP_WORK=0
}

# Started with the site down, the program answers the start page's NavigateError with its own
# page: the control is asked for res://<program>/NETERROR.HTM and lets it through. Without
# Gecko, Wine shows no page at all (nor serves res:), so its trace is what can be checked.
cmd_unreachable() {
    new_session unreachable
    # Another run's site on the same address would answer instead.
    wait_until 60 sh -c "! curl -s -o /dev/null --noproxy '*' $SITE_ROOT" ||
        fail "another site answers on $SITE_ROOT"
    write_config "[VelmoraPlayer]" "Version=$VERSION" "List=20" "Last=1" "Top=0" "Once=1"
    WINEDEBUG=+ieframe
    program_start
    WINEDEBUG=-all
    local window
    window=$(main_window "$MAIN_TITLE")
    wait_until 15 grep -q 'navigate_url navigating to L"res://.*\\VelmoraPlayer.exe/NETERROR.HTM"' \
        "$WORK/program.log" || fail "the program did not show its page: $(grep navigat "$WORK/program.log")"
    sleep 1
    ! grep -q 'Navigation canceled' "$WORK/program.log" || fail "the program's page was cancelled"
    close_program "$window"
    KEEP_WORK=0
}

# Get playlist against a site that was restarted with another count and notice stores both.
cmd_get_playlist() {
    new_session get_playlist
    start_site --charset gbk --episodes 220 --notice "$NOTICE_ONE"
    program_start
    first_run_window
    stop_site
    start_site --charset gbk --episodes 321 --notice "$NOTICE_TWO"
    click_get_playlist "$window"
    expect_request '/video/player/?flv=list' 10
    expect_request '/video/player/?flv=next' 10
    notice_two_stored() { config_utf8 | grep -q "^Update=$NOTICE_TWO"; }
    wait_until 5 notice_two_stored
    expect_config "[VelmoraPlayer]" "Version=$VERSION" "List=321" "Last=1" "Top=1" "Once=1" "Title=" \
        "Update=$NOTICE_TWO" "CopyRight=$DEFAULT_NOTICE"
    # The notice label and the check box paint with a hollow brush over the window: the new
    # text must look exactly as after a fresh start showing it, with no trace of the old.
    sleep 0.5
    notice_shot "$window" "$WORK/notice-changed.png"
    close_program "$window"
    rm -f "$WORK/program.rc"
    program_start
    window=$(main_window "$MAIN_TITLE")
    sleep 0.5
    notice_shot "$window" "$WORK/notice-fresh.png"
    local spread changed
    spread=$(convert "$WORK/notice-fresh.png" -colorspace Gray -format '%[fx:standard_deviation]' info:)
    awk -v s="$spread" 'BEGIN { exit !(s > 0.05) }' || fail "no notice drawn after a fresh start"
    changed=$(compare -metric AE "$WORK/notice-changed.png" "$WORK/notice-fresh.png" null: 2>&1)
    [ "$changed" = 0 ] ||
        fail "the changed notice differs in $changed pixels from a fresh start's (screenshots in $WORK)"
    close_program "$window"
    KEEP_WORK=0
}

# notice_shot WINDOW FILE: the notice label and the check box beside it (client 10,540 to
# 510,572), as on screen.
notice_shot() {
    import -window "$1" -crop 500x32+10+540 +repage "$2" || fail "no screenshot of window $1"
}

update_session() {
    new_session "$1"
    start_site --charset gbk --episodes 30 --latest-version "$2"
    write_config "[VelmoraPlayer]" "Version=$VERSION" "List=30" "Last=1" "Top=0" "Once=1" "Title=" \
        "Update=" "CopyRight="
    program_start
    WINDOW=$(main_window "$MAIN_TITLE")
    click_update "$WINDOW"
    expect_request '/video/player/?flv=update' 10
}

# A newer version on the site: the question's default button is 是 (yes), so Return opens the
# download page through the shell, and the site sees the request.
cmd_update_yes() {
    update_session update_yes 2.0
    answer_box Return
    expect_request '/video/player/?flv=download' 15
    grep -qx "${SITE_ROOT}video/player/?flv=download" "$WORK/opened.log" ||
        fail "the shell opened something else: $(cat "$WORK/opened.log")"
    close_program "$WINDOW"
    KEEP_WORK=0
}

# The same version: the up-to-date notice, and no download page.
cmd_update_current() {
    update_session update_current "$VERSION"
    answer_box Return
    sleep 1
    [ "$(count_requests '/video/player/?flv=download')" = 0 ] ||
        fail "the download page was opened although the version is current"
    [ ! -f "$WORK/opened.log" ] || fail "the shell was asked to open $(cat "$WORK/opened.log")"
    close_program "$WINDOW"
    KEEP_WORK=0
}

# The dialog keys of the message loop: Tab takes the focus from the window to the list, Down
# and Enter there play the next episode (title and Last follow it), and the Tabs the table
# gives take it on to 获取播放列表, which Space presses (the site is asked for the count).
cmd_keys() {
    new_session keys
    start_site --charset gbk --episodes 30
    write_config "[VelmoraPlayer]" "Version=$VERSION" "List=30" "Last=1" "Top=0" "Once=1" "Title=" \
        "Update=" "CopyRight="
    program_start
    local window tabs
    window=$(main_window "$MAIN_TITLE")
    xdotool windowactivate --sync "$window" || fail "cannot activate window $window"
    xdotool key Tab Down Return
    main_window "Tessavo第2集 - VelmoraPlayer $VERSION" >/dev/null
    wait_until 5 grep -q '^Last=2' "$WORK/cwd/Config.ini" ||
        fail "Last did not follow episode 2: $(config_utf8 | grep Last)"
    tabs=$(tabs_between "" 获取播放列表) || exit 1
    xdotool key $(printf 'Tab %.0s' $(seq "$tabs")) space
    expect_request '/video/player/?flv=list' 10
    close_program "$window"
    KEEP_WORK=0
}

# ----------------------------------------------------------------------- planted DLLs

# The DLLs the program needs beyond Windows' known DLLs, planted beside it: each copy leaves
# NAME.loaded beside itself when a process loads it. Wine prefers its own builtin copies of
# these whatever the folders hold; "n,b" makes it search for them as Windows does, the
# program's folder first.
PLANTED_DLLS=(wininet atl urlmon)
# planted_loaded FOLDER: the planted DLLs some process loaded, by the name it loaded them.
planted_loaded() { (cd "$1" && ls -- *.loaded 2>/dev/null | sed 's/\.loaded$//'); }

# The program starts, fetches the count and the notice and ends, and never loads a planted
# DLL. fetch_probe.exe, which imports wininet.dll the plain way, shows that this Wine would.
cmd_planted_dlls() {
    new_session planted_dlls
    [ -f "$PLANTED_DLL" ] || fail "$PLANTED_DLL is missing: run the fixture windows.test_program"
    local app=$WORK/app dll loaded
    mkdir "$app" && cp "$TEST_EXE" "$FETCH_PROBE_EXE" "$app/" || fail "cannot copy the programs"
    for dll in "${PLANTED_DLLS[@]}"; do
        cp "$PLANTED_DLL" "$app/$dll.dll" || fail "cannot plant $dll.dll"
    done
    WINEDLLOVERRIDES="$WINEDLLOVERRIDES;$(IFS=,; echo "${PLANTED_DLLS[*]}")=n,b"
    note "WINEDLLOVERRIDES=$WINEDLLOVERRIDES"
    (cd "$app" && timeout 30 "$WINE64" fetch_probe.exe "$SITE_ROOT" 2000) >"$WORK/probe.log" 2>&1
    loaded=$(planted_loaded "$app")
    [ -n "$loaded" ] || fail "fetch_probe.exe loaded no planted DLL: this test could not see one"
    note "fetch_probe.exe loaded the planted $loaded"
    rm -f "$app"/*.loaded

    start_site --charset gbk --episodes 220 --notice "$NOTICE_ONE"
    TEST_EXE=$app/VelmoraPlayer.exe
    program_start
    wait_window "$(title_pattern "提示")" 30 >/dev/null ||
        fail "no first-run box; planted DLLs loaded: $(planted_loaded "$app")"
    first_run_window
    close_program "$window"
    loaded=$(planted_loaded "$app")
    [ -z "$loaded" ] || fail "the program loaded the planted $loaded"
    KEEP_WORK=0
}

# ----------------------------------------------------------------------- profile functions

# The probe marks the cases where Wine is known to answer differently from Windows with
# "(windows-only)". They are left out of the comparison with Wine; the Linux answers to them
# must equal the Windows answers kept in profile_windows_answers.txt.
ANSWERS="$(dirname "$(readlink -f "$0")")/profile_windows_answers.txt"

compared_cases() { awk '/^case /{ keep = ($0 !~ /\(windows-only\)$/) } keep' "$1"; }
windows_only_cases() { awk '/^case /{ keep = ($0 ~ /\(windows-only\)$/) } keep' "$1"; }

cmd_profile_differential() {
    : "${VELMORA_PROFILE_PROBE_LINUX:?}"
    need_locale zh_CN.gbk
    [ -f "$PROBE_EXE" ] || fail "$PROBE_EXE is missing: run the fixture windows.test_program"
    work_folder profile
    mkdir "$WORK/wine" "$WORK/linux"
    # GBK on both sides: Wine's code page 936 and the Linux platform's locale character set.
    export LC_ALL=zh_CN.GBK LANG=zh_CN.GBK
    unset DISPLAY
    local start
    start=$(now_ms)
    (cd "$WORK/wine" && "$WINE64" "$PROBE_EXE" report.txt) || fail "profile_probe.exe failed under Wine"
    note "probe under Wine: $(seconds_since "$start")"
    (cd "$WORK/linux" && "$VELMORA_PROFILE_PROBE_LINUX" report.txt) || fail "profile_probe_linux failed"
    grep -q '^case ' "$WORK/wine/report.txt" || fail "the Wine report is empty"
    note "$(grep -c '^case ' "$WORK/wine/report.txt") cases, $(grep -c '^  [a-z]' "$WORK/wine/report.txt") calls and files"
    local failed=0
    if ! diff -u <(compared_cases "$WORK/wine/report.txt") <(compared_cases "$WORK/linux/report.txt") \
        >"$WORK/differences.txt"; then
        echo "The Linux platform answers differently from Wine (Wine -, Linux +):" >&2
        cat "$WORK/differences.txt" >&2
        failed=1
    fi
    if ! diff -u "$ANSWERS" <(windows_only_cases "$WORK/linux/report.txt") >"$WORK/windows-only.txt"; then
        echo "Where Wine is not Windows, the Linux platform differs from Windows (Windows -, Linux +):" >&2
        cat "$WORK/windows-only.txt" >&2
        failed=1
    fi
    [ "$failed" = 0 ] || fail "profile functions differ; reports in $WORK"
    KEEP_WORK=0
}

# ----------------------------------------------------------------------- fetch deadline

# Real WinINet's time-outs bound each wait, like ours: against a site that keeps every wait
# short, only the program's own deadline ends the fetch. The probe runs FetchText with a
# 2000 ms deadline; each slow fetch must fail within 3500 ms, and a quick one still succeed.
cmd_fetch_deadline() {
    : "${VELMORA_SLOW_SITE:?}"
    [ -f "$FETCH_PROBE_EXE" ] || fail "$FETCH_PROBE_EXE is missing: run the fixture windows.test_program"
    work_folder fetch
    unset DISPLAY
    "$VELMORA_SLOW_SITE" "$SITE_HOST" "$SITE_PORT" >"$WORK/site.log" 2>&1 &
    VELMORA_PIDS+=($!)
    wait_until 5 grep -q '^serving' "$WORK/site.log" || fail "the slow site did not start: $(cat "$WORK/site.log")"
    local base="http://$SITE_HOST:$SITE_PORT" target expected output
    for target in /quick /trickle /hop0; do
        expected="FALSE "
        [ "$target" = /quick ] && expected="TRUE 220"
        output=$(cd "$WORK" && "$WINE64" "$FETCH_PROBE_EXE" "$base$target" 2000 | tr -d '\r') ||
            fail "fetch_probe.exe failed for $target: $output"
        local result elapsed
        result=$(echo "$output" | sed -n 1p)
        elapsed=$(echo "$output" | sed -n 2p)
        note "$target: $result in ${elapsed}ms"
        [ "$result" = "$expected" ] || fail "$target: expected \"$expected\", got \"$result\""
        [ "$elapsed" -lt 3500 ] || fail "$target: the fetch took ${elapsed}ms, its time-out is 2000ms"
    done
    KEEP_WORK=0
}

[ $# -eq 1 ] || fail "usage: $0 SUBCOMMAND"
case "$1" in
artefacts | test_program | prefix_setup | prefix_cleanup | first_start | title | get_playlist | \
    update_yes | update_current | keys | unreachable | planted_dlls | profile_differential | \
    fetch_deadline)
    "cmd_$1"
    ;;
*) fail "unknown subcommand $1" ;;
esac
