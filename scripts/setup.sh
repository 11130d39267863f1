#!/usr/bin/env bash
# Installs what building, running and testing VelmoraPlayer needs on Debian 12 (as root),
# and the locales the tests switch between. Safe to run again.
#   setup.sh            everything (build, desktop run, tests, Windows builds, Wine)
#   setup.sh --bench    also what bench/ needs beyond the tests (python3)
#   setup.sh --fuzz     also clang and libFuzzer for fuzz/
set -euo pipefail

packages=(
    # build
    cmake ninja-build g++ pkg-config
    libgtk-3-dev libwebkit2gtk-4.1-dev libcurl4-openssl-dev libmicrohttpd-dev
    libssl-dev # the download page's SHA-256 sums
    libgtest-dev libgmock-dev libbenchmark-dev
    g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32
    binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
    # the icons, drawn from resources/icon.svg at build time
    librsvg2-bin imagemagick
    # packages (scripts/package.sh) and their checks (tests/packages)
    dpkg-dev fakeroot gzip zip nsis lintian desktop-file-utils appstream systemd
    # Authenticode for the Windows files; the signed apt repository (apt-ftparchive, gpg);
    # the tests unpack the installer with 7-Zip
    osslsigncode apt-utils gnupg 7zip
    # run on a desktop: Chinese text, video in the embedded browser, opening links
    fonts-wqy-microhei gstreamer1.0-libav gstreamer1.0-plugins-good xdg-utils
    # the web process in WebKit's sandbox
    bubblewrap xdg-dbus-proxy
    # the message boxes' information icon
    adwaita-icon-theme
    # make the demo episodes (scripts/make-demo-media.sh): text overlay, H.264 encoder
    gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-x gstreamer1.0-plugins-ugly
    # bench/cpu_bench: gst-play-1.0, the floor the player's playback is measured against
    gstreamer1.0-plugins-base-apps
    # tests: a virtual desktop with a window manager, Windows under Wine, locales
    xvfb xauth openbox xdotool x11-utils wine wine64 locales curl ca-certificates
    # the Windows program's manifest: read out of the .exe (wrestool) and parsed (xmllint)
    icoutils libxml2-utils
    # tests: a Wayland desktop (weston), with and without its X server (Xwayland)
    weston xwayland
    # tests: the controls read as a screen reader reads them (AT-SPI on a private bus)
    python3-pyatspi at-spi2-core dbus
    # the site tests parse the pages' scripts as ES5 (acorn --ecma5): Windows players run IE11
    node-acorn
    # the public face of the site: nginx with TLS, a test CA made with openssl, a bounded load,
    # the socket options nginx sets
    nginx-light openssl wrk strace
)
for option in "$@"; do
    case "$option" in
    --bench) packages+=(python3) ;;
    --fuzz) packages+=(clang-14 libclang-rt-14-dev) ;;
    *) echo "setup.sh: unknown option $option" >&2; exit 2 ;;
    esac
done

if [[ $(id -u) -ne 0 ]]; then
    echo "setup.sh: run as root (it installs Debian packages)" >&2
    exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${packages[@]}" >/dev/null

# The tests read and write text in a GBK and in UTF-8 locales, as Chinese Windows and Linux
# desktops do.
localedef -i zh_CN -f GBK zh_CN.GBK
localedef -i zh_CN -f UTF-8 zh_CN.UTF-8
localedef -i en_US -f UTF-8 en_US.UTF-8
echo "setup.sh: done"
