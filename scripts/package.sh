#!/usr/bin/env bash
# Makes every package into build/packages/:
#   velmora-player_1.0_amd64.deb, velmora-site_1.0_amd64.deb   (CPack, from the linux tree)
#   VelmoraPlayer-1.0-setup.exe     the per-user Windows installer (NSIS, the 32-bit program)
#   VelmoraPlayer-1.0-portable.zip  the 32-bit program and a read-me
# It builds what the packages hold in the linux and win32 trees (configuring them with their
# presets when absent), not the tests. Other trees: VELMORA_LINUX_TREE, VELMORA_WIN32_TREE;
# another output folder: VELMORA_PACKAGES.
#   package.sh --site-root URL   every package for the site at URL (http(s), ending in "/"),
#                                from trees of its own: build/release/<URL as a name>/linux
#                                and .../win32, into .../packages. The build/linux and
#                                build/win32 trees keep their address (the tests rely on it).
#                                Beside the packages folder, site/: what /var/lib/velmora-site
#                                on the site's machine gets (downloads/ with the four
#                                packages, latest-version); it prints the steps that publish it.
#                                An http:// address is built, with a warning.
#   --apt-signing-key FILE       (with --site-root) an armored OpenPGP secret key without a
#                                passphrase: site/apt/ becomes a signed apt repository (suite
#                                stable, component main) holding both .debs; the versions
#                                already in site/apt/pool stay in it. The player .deb installs
#                                the apt source /etc/apt/sources.list.d/velmora-player.sources
#                                (its postinst) and the public key in /usr/share/keyrings/,
#                                unless URL is on loopback (no viewer's apt can reach that).
#   Authenticode (SHA-256, Debian's osslsigncode) for the program, the uninstaller and the
#   installer; without signing material every package is built unsigned, as before:
#   --sign-cert FILE --sign-key FILE   PEM certificate (with its chain) and private key, or
#   --sign-pkcs12 FILE                 a PKCS#12 file, its password from the environment
#                                      variable VELMORA_SIGN_PASSWORD or from the file
#                                      --sign-password-file FILE, never the command line
#   --timestamp URL                    an RFC 3161 time-stamp server (optional)
#   package.sh [signing options] --installer-only EXE ICON OUT [ARCH64]   just the installer,
#                                from the given program (the tests build a 64-bit one)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
version=$(sed -n 's/^project(VelmoraPlayer VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
# The installer finds a running player by its main window's class, as the program names it.
window_class=$(sed -n 's/^const WCHAR MainWindowClassName\[\] = L"\([A-Za-z0-9_]*\)";$/\1/p' "$root/ui/WinMain.cpp")
[[ -n "$version" && -n "$window_class" ]] || {
    echo "package.sh: no project(VERSION) in CMakeLists.txt or no MainWindowClassName in ui/WinMain.cpp" >&2
    exit 1
}

usage() {
    echo "usage: package.sh [--site-root URL [--apt-signing-key FILE]] [--sign-cert FILE --sign-key FILE | --sign-pkcs12 FILE [--sign-password-file FILE]] [--timestamp URL]" >&2
    echo "       package.sh [signing options] --installer-only EXE ICON OUT [ARCH64]" >&2
    exit 2
}
readable() { # OPTION FILE
    [[ -n "${2:-}" && -r "$2" && -f "$2" ]] || {
        echo "package.sh: $1 needs a readable file (got '${2:-}')" >&2
        exit 2
    }
    realpath "$2"
}
site_root='' apt_key='' installer_only=''
sign_cert='' sign_key='' sign_pkcs12='' sign_password_file='' sign_timestamp=''
while [[ $# -gt 0 ]]; do
    case "$1" in
    --site-root)
        site_root=${2:-}
        [[ "$site_root" =~ ^https?://[^/]+.*/$ ]] || {
            echo "package.sh: --site-root takes an http:// or https:// address ending in /" >&2
            exit 2
        }
        ;;
    --apt-signing-key) apt_key=$(readable "$1" "${2:-}") ;;
    --sign-cert) sign_cert=$(readable "$1" "${2:-}") ;;
    --sign-key) sign_key=$(readable "$1" "${2:-}") ;;
    --sign-pkcs12) sign_pkcs12=$(readable "$1" "${2:-}") ;;
    --sign-password-file) sign_password_file=$(readable "$1" "${2:-}") ;;
    --timestamp)
        sign_timestamp=${2:-}
        [[ "$sign_timestamp" =~ ^https?://[^/]+ ]] || {
            echo "package.sh: --timestamp takes an http:// or https:// address" >&2
            exit 2
        }
        ;;
    --installer-only)
        installer_only=1
        shift
        break
        ;;
    *) usage ;;
    esac
    shift 2
done
if [[ -n "$installer_only" ]]; then
    [[ -z "$site_root$apt_key" && $# -ge 3 ]] || usage
else
    [[ $# -eq 0 ]] || usage
fi
[[ -z "$apt_key" || -n "$site_root" ]] || {
    echo "package.sh: --apt-signing-key goes with --site-root: the repository is that site's" >&2
    exit 2
}

# The signing material reaches scripts/sign-windows.sh (also through makensis, which runs it
# for the uninstaller and the installer) in the environment.
signing=
password_dir=
if [[ -n "$sign_pkcs12" ]]; then
    [[ -z "$sign_cert$sign_key" ]] || {
        echo "package.sh: --sign-pkcs12, or --sign-cert with --sign-key: not both" >&2
        exit 2
    }
    signing=1
    export VELMORA_SIGN_PKCS12=$sign_pkcs12
    if [[ -n "$sign_password_file" ]]; then
        export VELMORA_SIGN_PASSWORD_FILE=$sign_password_file
    elif [[ -n "${VELMORA_SIGN_PASSWORD+set}" ]]; then
        # osslsigncode reads it from a file only this user can read, removed at the end.
        password_dir=$(mktemp -d)
        (umask 077 && printf '%s' "$VELMORA_SIGN_PASSWORD" >"$password_dir/password")
        export VELMORA_SIGN_PASSWORD_FILE=$password_dir/password
    fi
    unset VELMORA_SIGN_PASSWORD
elif [[ -n "$sign_cert$sign_key" ]]; then
    [[ -n "$sign_cert" && -n "$sign_key" ]] || {
        echo "package.sh: --sign-cert and --sign-key go together" >&2
        exit 2
    }
    [[ -z "$sign_password_file" ]] || {
        echo "package.sh: --sign-password-file is for --sign-pkcs12 (a PEM key here has no password)" >&2
        exit 2
    }
    signing=1
    export VELMORA_SIGN_CERT=$sign_cert VELMORA_SIGN_KEY=$sign_key
elif [[ -n "$sign_timestamp$sign_password_file" ]]; then
    echo "package.sh: --timestamp and --sign-password-file go with --sign-cert/--sign-key or --sign-pkcs12" >&2
    exit 2
fi
[[ -z "$sign_timestamp" ]] || export VELMORA_SIGN_TIMESTAMP=$sign_timestamp
if [[ -n "$signing" ]] && ! command -v osslsigncode >/dev/null; then
    echo "package.sh: osslsigncode is missing (scripts/setup.sh installs it)" >&2
    exit 1
fi
sign_tool=$root/scripts/sign-windows.sh
staging=$(mktemp -d)
trap 'rm -rf "$staging" ${password_dir:+"$password_dir"}' EXIT

# program EXE: the program as it ships: EXE itself, or a signed copy of it (made once, so
# the installer and the zip hold the same file).
program() {
    local source copy
    source=$(realpath "$1")
    if [[ -z "$signing" ]]; then
        echo "$source"
        return
    fi
    copy=$staging/signed/$(echo "$source" | sha256sum | cut -c1-16)/$(basename "$source")
    if [[ ! -f "$copy" ]]; then
        mkdir -p "$(dirname "$copy")"
        cp "$source" "$copy"
        "$sign_tool" "$copy" >&2
    fi
    echo "$copy"
}

# installer EXE ICON OUT [ARCH64]
installer() {
    local arch=() sign=() exe
    [[ "${4:-}" == ARCH64 ]] && arch=(-DARCH64)
    [[ -n "$signing" ]] && sign=(-DSIGN="$sign_tool")
    exe=$(program "$1")
    # makensis resolves relative paths from the script's folder.
    makensis -V2 -INPUTCHARSET UTF8 "${arch[@]}" "${sign[@]}" -DVERSION="$version" \
        -DWINDOW_CLASS="$window_class" -DPROGRAM="$exe" -DICON="$(realpath "$2")" \
        -DOUTFILE="$(realpath -m "$3")" "$root/packaging/windows/installer.nsi"
}

if [[ -n "$installer_only" ]]; then
    installer "$@"
    exit 0
fi

if [[ "$site_root" == http://* ]]; then
    cat >&2 <<EOF
package.sh: warning: $site_root is plain http: anyone on the way to a viewer can change
  the pages, the notice and the download page (and with it what the viewer downloads).
  Build for an https:// address once the site has a certificate; players already built
  for http keep working (nginx keeps answering them on port 80).
EOF
fi
trees=$root/build
if [[ -n "$site_root" ]]; then
    trees=$root/build/release/$(echo "$site_root" | sed -E 's|^https?://||; s|/$||; s|[^A-Za-z0-9.-]+|_|g')
fi
linux=$(realpath -m "${VELMORA_LINUX_TREE:-$trees/linux}")
win32=$(realpath -m "${VELMORA_WIN32_TREE:-$trees/win32}")
out=$(realpath -m "${VELMORA_PACKAGES:-$trees/packages}")

for tool in cpack makensis zip dpkg-shlibdeps fakeroot gzip; do
    command -v "$tool" >/dev/null || {
        echo "package.sh: $tool is missing (scripts/setup.sh installs it)" >&2
        exit 1
    }
done

# tree PRESET DIR TARGET...: configure DIR from PRESET if it has no build yet (for
# --site-root's address), build TARGETs. A tree built for another address is never
# reconfigured: it may be one the tests rely on.
tree() {
    local preset=$1 dir=$2 have
    shift 2
    if [[ ! -f "$dir/CMakeCache.txt" ]]; then
        # Presets are read from the working directory.
        (cd "$root" && cmake --preset "$preset" -B "$dir" ${site_root:+"-DVELMORA_SITE_ROOT=$site_root"} >/dev/null)
    elif [[ -n "$site_root" ]]; then
        have=$(sed -n 's/^VELMORA_SITE_ROOT:[A-Z]*=//p' "$dir/CMakeCache.txt")
        [[ "$have" == "$site_root" ]] || {
            echo "package.sh: $dir is built for $have, not $site_root" >&2
            exit 1
        }
    fi
    cmake --build "$dir" --target "$@"
}
tree linux "$linux" velmora-player velmora-site velmora_icon velmora_changelogs velmora_manpages
tree win32 "$win32" VelmoraPlayer

mkdir -p "$out"
rm -f "$out"/velmora-*.deb "$out"/VelmoraPlayer-*-setup.exe "$out"/VelmoraPlayer-*-portable.zip

# The player .deb built for a site with an apt key carries that site's apt source and the
# key apt checks it with (packaging/CMakeLists.txt installs them when present); a site on
# loopback, which no viewer's apt reaches, never. Its postinst puts the source in
# /etc/apt/sources.list.d (lintian refuses a package shipping a file there), its postrm
# takes it away on remove and purge.
apt_source=$linux/apt-source
rm -rf "$apt_source"
cpack_options=()
site_host=$(echo "$site_root" | sed -E 's|^https?://||; s|^([^@/]*@)?||; s#^(\[[^]]*\]|[^:/]*).*#\1#')
if [[ -n "$apt_key" && ! "$site_host" =~ ^(127\.[0-9.]+|localhost|\[::1\]|\[::ffff:127\.[0-9.]+\])$ ]]; then
    mkdir -p "$apt_source"
    gnupg=$(mktemp -d "$staging/gnupg.XXXXXX")
    gpg --homedir "$gnupg" --batch --quiet --import "$apt_key" 2>/dev/null || {
        echo "package.sh: gpg cannot import $apt_key" >&2
        exit 1
    }
    gpg --homedir "$gnupg" --batch --export >"$apt_source/velmora-archive-keyring.gpg"
    gpgconf --homedir "$gnupg" --kill all >/dev/null 2>&1 || true
    [[ -s "$apt_source/velmora-archive-keyring.gpg" ]] || {
        echo "package.sh: $apt_key holds no key" >&2
        exit 1
    }
    cat >"$apt_source/velmora-player.sources" <<EOF
# The Tessavo player's own repository: apt upgrade brings each new version from the site.
# Written by the velmora-player package at each install or upgrade (changes here do not
# last); removed with it.
Types: deb
URIs: ${site_root}apt/
Suites: stable
Components: main
Architectures: amd64
Signed-By: /usr/share/keyrings/velmora-archive-keyring.gpg
EOF
    cpack_options=(-D "CPACK_DEBIAN_PLAYER_PACKAGE_CONTROL_EXTRA=$root/packaging/player-scripts/postinst;$root/packaging/player-scripts/postrm")
fi

# CPack works in a folder of its own: the packages folder is what the download page lists.
rm -rf "$linux/cpack"
(cd "$linux" && cpack -B "$linux/cpack" "${cpack_options[@]}" >/dev/null)
mv "$linux"/cpack/velmora-player_"$version"_amd64.deb "$linux"/cpack/velmora-site_"$version"_amd64.deb "$out/"

installer "$win32/VelmoraPlayer.exe" "$win32/resources/VelmoraPlayer.ico" \
    "$out/VelmoraPlayer-$version-setup.exe"

portable=$(mktemp -d "$staging/portable.XXXXXX")
folder="$portable/VelmoraPlayer-$version"
mkdir "$folder"
cp "$(program "$win32/VelmoraPlayer.exe")" "$folder/VelmoraPlayer.exe"
sed "s/@VERSION@/$version/" "$root/packaging/windows/read-me.txt" >"$folder/read-me.txt"
(cd "$portable" && zip -qrX "$out/VelmoraPlayer-$version-portable.zip" "VelmoraPlayer-$version")

echo "package.sh: packages for $(sed -n 's/^VELMORA_SITE_ROOT:[A-Z]*=//p' "$linux/CMakeCache.txt") in $out:"
(cd "$out" && ls -l velmora-*.deb VelmoraPlayer-*)

[[ -n "$site_root" ]] || exit 0
# The release as the site's data folder holds it: the packages its download page offers and
# the version its ?flv=update names (--latest-version-file).
# Its apt/ repository keeps the versions published before: each release adds to it.
site=$(dirname "$out")/site
rm -rf "$site/downloads" "$site/latest-version"
mkdir -p "$site/downloads"
cp "$out/velmora-player_${version}_amd64.deb" "$out/velmora-site_${version}_amd64.deb" \
    "$out/VelmoraPlayer-$version-setup.exe" "$out/VelmoraPlayer-$version-portable.zip" "$site/downloads/"
echo "$version" >"$site/latest-version"
if [[ -n "$apt_key" ]]; then
    "$root/scripts/apt-repository.sh" "$site/apt" "$apt_key" \
        "$out/velmora-player_${version}_amd64.deb" "$out/velmora-site_${version}_amd64.deb"
fi
cat <<EOF
package.sh: release $version for $site_root in $site:
$(cd "$site" && find . -type f | sort | sed 's|^\./|  |')
To publish it, as root on the site's machine (copy $site there first if it is another one):
  1. the packages, then the version (so no player hears of $version before its files are there):
     cd /var/lib/velmora-site && cp -r $site/downloads downloads.new &&
       chmod -R u=rwX,go=rX downloads.new && mv downloads downloads.old &&
       mv downloads.new downloads && rm -r downloads.old
     with an apt repository, its pool first, then its indexes (nginx serves /apt/):
     mkdir -p apt && cp -r $site/apt/pool apt/ && cp -r $site/apt/. apt/ &&
       chmod -R u=rwX,go=rX apt
     install -m 644 $site/latest-version /var/lib/velmora-site/latest-version
  2. once: /etc/default/velmora-site's VELMORA_SITE_OPTIONS holds
     --latest-version-file /var/lib/velmora-site/latest-version
  3. systemctl reload velmora-site 'velmora-site@*'
EOF
