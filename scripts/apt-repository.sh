#!/usr/bin/env bash
# Adds .debs to a signed apt repository (made when absent), with apt-ftparchive and gpg:
#   apt-repository.sh REPO KEY DEB...
# REPO is the site's apt/ folder (scripts/package.sh --apt-signing-key runs this for its
# release folder's site/apt); KEY an armored OpenPGP secret key without a passphrase. The
# repository has one suite, "stable", one component, "main", for amd64:
#   pool/main/v/PACKAGE/PACKAGE_VERSION_amd64.deb   every version added, never replaced: a
#                                                   file in the pool never changes under its
#                                                   name (nginx lets caches keep it for long)
#   dists/stable/main/binary-amd64/Packages(.gz)    the index of the whole pool
#   dists/stable/Release, InRelease, Release.gpg    signed by KEY
#   velmora-archive-keyring.gpg                     KEY's public part, as apt's Signed-By takes it
# The indexes are written beside the old ones and moved into place, InRelease last.
set -euo pipefail
[[ $# -ge 3 ]] || { echo "usage: apt-repository.sh REPO KEY DEB..." >&2; exit 2; }
repo=$(realpath -m "$1")
key=$2
shift 2
for tool in gpg apt-ftparchive gzip; do
    command -v "$tool" >/dev/null || {
        echo "apt-repository.sh: $tool is missing (scripts/setup.sh installs it)" >&2
        exit 1
    }
done

gnupg=$(mktemp -d)
cleanup() {
    gpgconf --homedir "$gnupg" --kill all >/dev/null 2>&1 || true
    rm -rf "$gnupg"
}
trap cleanup EXIT
chmod 700 "$gnupg"
gpg --homedir "$gnupg" --batch --quiet --import "$key" 2>"$gnupg/import.log" || {
    cat "$gnupg/import.log" >&2
    echo "apt-repository.sh: gpg cannot import $key" >&2
    exit 1
}
fingerprint=$(gpg --homedir "$gnupg" --batch --with-colons --list-secret-keys |
    awk -F: '$1 == "fpr" { print $10; exit }')
[[ -n "$fingerprint" ]] || { echo "apt-repository.sh: $key holds no secret key" >&2; exit 1; }

for deb in "$@"; do
    package=$(dpkg-deb -f "$deb" Package)
    file=$(basename "$deb")
    into="$repo/pool/main/${package:0:1}/$package"
    mkdir -p "$into"
    if [[ -e "$into/$file" ]]; then
        cmp -s "$deb" "$into/$file" && continue
        echo "apt-repository.sh: the pool already holds another $file; a file in the pool never" >&2
        echo "  changes under its name (caches keep it): release a new version instead." >&2
        exit 1
    fi
    cp "$deb" "$into/$file.new"
    chmod 644 "$into/$file.new"
    mv "$into/$file.new" "$into/$file"
done

dists=$repo/dists/stable
binary=$dists/main/binary-amd64
mkdir -p "$binary"
(cd "$repo" && apt-ftparchive packages pool) >"$binary/Packages.new"
gzip -9nc "$binary/Packages.new" >"$binary/Packages.gz.new"
mv "$binary/Packages.new" "$binary/Packages"
mv "$binary/Packages.gz.new" "$binary/Packages.gz"
# Release lists the indexes, from a copy: not the Release being replaced.
mkdir "$gnupg/stable"
cp -r "$dists/main" "$gnupg/stable/"
apt-ftparchive -o APT::FTPArchive::Release::Origin=Tessavo \
    -o APT::FTPArchive::Release::Label=Tessavo -o APT::FTPArchive::Release::Suite=stable \
    -o APT::FTPArchive::Release::Codename=stable -o APT::FTPArchive::Release::Architectures=amd64 \
    -o APT::FTPArchive::Release::Components=main \
    -o "APT::FTPArchive::Release::Description=Tessavo player and site" \
    release "$gnupg/stable" >"$gnupg/Release"
sign() { gpg --homedir "$gnupg" --batch --yes --quiet --local-user "$fingerprint" --digest-algo SHA512 "$@"; }
sign --clearsign -o "$gnupg/InRelease" "$gnupg/Release"
sign --armor --detach-sign -o "$gnupg/Release.gpg" "$gnupg/Release"
gpg --homedir "$gnupg" --batch --export "$fingerprint" >"$repo/velmora-archive-keyring.gpg"
chmod 644 "$repo/velmora-archive-keyring.gpg" "$gnupg/Release" "$gnupg/InRelease" "$gnupg/Release.gpg"
mv "$gnupg/Release" "$dists/Release"
mv "$gnupg/Release.gpg" "$dists/Release.gpg"
mv "$gnupg/InRelease" "$dists/InRelease"
echo "apt-repository.sh: $repo holds $(cd "$repo/pool" && find . -name '*.deb' | sed 's|.*/||' | sort | tr '\n' ' ')"
