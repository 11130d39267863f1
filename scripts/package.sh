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
#   package.sh --installer-only EXE ICON OUT [ARCH64]   just the installer, from the given
#                                                       program (the tests build a 64-bit one)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
version=$(sed -n 's/^project(VelmoraPlayer VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
# The installer finds a running player by its main window's class, as the program names it.
window_class=$(sed -n 's/^const WCHAR MainWindowClassName\[\] = L"\([A-Za-z0-9_]*\)";$/\1/p' "$root/ui/WinMain.cpp")
[[ -n "$version" && -n "$window_class" ]] || {
    echo "package.sh: no project(VERSION) in CMakeLists.txt or no MainWindowClassName in ui/WinMain.cpp" >&2
    exit 1
}

# installer EXE ICON OUT [ARCH64]
installer() {
    local arch=()
    [[ "${4:-}" == ARCH64 ]] && arch=(-DARCH64)
    # makensis resolves relative paths from the script's folder.
    makensis -V2 -INPUTCHARSET UTF8 "${arch[@]}" -DVERSION="$version" -DWINDOW_CLASS="$window_class" -DPROGRAM="$(realpath "$1")" \
        -DICON="$(realpath "$2")" -DOUTFILE="$(realpath -m "$3")" "$root/packaging/windows/installer.nsi"
}

if [[ "${1:-}" == --installer-only ]]; then
    shift
    installer "$@"
    exit 0
fi

site_root=
if [[ "${1:-}" == --site-root ]]; then
    site_root=${2:-}
    [[ "$site_root" =~ ^https?://[^/]+.*/$ ]] || {
        echo "package.sh: --site-root takes an http:// or https:// address ending in /" >&2
        exit 2
    }
    shift 2
fi
[[ $# -eq 0 ]] || {
    echo "usage: package.sh [--site-root URL] | --installer-only EXE ICON OUT [ARCH64]" >&2
    exit 2
}
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

# CPack works in a folder of its own: the packages folder is what the download page lists.
rm -rf "$linux/cpack"
(cd "$linux" && cpack -B "$linux/cpack" >/dev/null)
mv "$linux"/cpack/velmora-player_"$version"_amd64.deb "$linux"/cpack/velmora-site_"$version"_amd64.deb "$out/"

installer "$win32/VelmoraPlayer.exe" "$win32/resources/VelmoraPlayer.ico" \
    "$out/VelmoraPlayer-$version-setup.exe"

portable=$(mktemp -d)
trap 'rm -rf "$portable"' EXIT
folder="$portable/VelmoraPlayer-$version"
mkdir "$folder"
cp "$win32/VelmoraPlayer.exe" "$folder/"
sed "s/@VERSION@/$version/" "$root/packaging/windows/read-me.txt" >"$folder/read-me.txt"
(cd "$portable" && zip -qrX "$out/VelmoraPlayer-$version-portable.zip" "VelmoraPlayer-$version")

echo "package.sh: packages for $(sed -n 's/^VELMORA_SITE_ROOT:[A-Z]*=//p' "$linux/CMakeCache.txt") in $out:"
(cd "$out" && ls -l velmora-*.deb VelmoraPlayer-*)

[[ -n "$site_root" ]] || exit 0
# The release as the site's data folder holds it: the packages its download page offers and
# the version its ?flv=update names (--latest-version-file).
site=$(dirname "$out")/site
rm -rf "$site"
mkdir -p "$site/downloads"
cp "$out/velmora-player_${version}_amd64.deb" "$out/velmora-site_${version}_amd64.deb" \
    "$out/VelmoraPlayer-$version-setup.exe" "$out/VelmoraPlayer-$version-portable.zip" "$site/downloads/"
echo "$version" >"$site/latest-version"
cat <<EOF
package.sh: release $version for $site_root in $site:
$(cd "$site" && find . -type f | sort | sed 's|^\./|  |')
To publish it, as root on the site's machine (copy $site there first if it is another one):
  1. the packages, then the version (so no player hears of $version before its files are there):
     cd /var/lib/velmora-site && cp -r $site/downloads downloads.new &&
       chmod -R u=rwX,go=rX downloads.new && mv downloads downloads.old &&
       mv downloads.new downloads && rm -r downloads.old
     install -m 644 $site/latest-version /var/lib/velmora-site/latest-version
  2. once: /etc/default/velmora-site's VELMORA_SITE_OPTIONS holds
     --latest-version-file /var/lib/velmora-site/latest-version
  3. systemctl reload velmora-site 'velmora-site@*'
EOF
