#!/usr/bin/env bash
# Signs one Windows program in place with Authenticode (SHA-256), with Debian's osslsigncode:
#   sign-windows.sh FILE
# scripts/package.sh runs it for the program, and makensis for the uninstaller
# (!uninstfinalize) and the installer (!finalize). The signing material comes from the
# environment package.sh sets from its options, never from the command line:
#   VELMORA_SIGN_CERT + VELMORA_SIGN_KEY   PEM certificate (chain) and private key, or
#   VELMORA_SIGN_PKCS12                    a PKCS#12 file, its password in the file
#                                          VELMORA_SIGN_PASSWORD_FILE (mode 600)
#   VELMORA_SIGN_TIMESTAMP                 an RFC 3161 time-stamp server (optional)
set -euo pipefail
file=${1:?usage: sign-windows.sh FILE}
material=()
if [[ -n ${VELMORA_SIGN_PKCS12:-} ]]; then
    material=(-pkcs12 "$VELMORA_SIGN_PKCS12")
    [[ -n ${VELMORA_SIGN_PASSWORD_FILE:-} ]] && material+=(-readpass "$VELMORA_SIGN_PASSWORD_FILE")
elif [[ -n ${VELMORA_SIGN_CERT:-} && -n ${VELMORA_SIGN_KEY:-} ]]; then
    material=(-certs "$VELMORA_SIGN_CERT" -key "$VELMORA_SIGN_KEY")
else
    echo "sign-windows.sh: no signing material (VELMORA_SIGN_CERT + VELMORA_SIGN_KEY or VELMORA_SIGN_PKCS12)" >&2
    exit 2
fi
stamp=()
[[ -n ${VELMORA_SIGN_TIMESTAMP:-} ]] && stamp=(-ts "$VELMORA_SIGN_TIMESTAMP")
signed="$file.signing"
rm -f "$signed"
# The description and address the consent and SmartScreen dialogs show beside the publisher.
osslsigncode sign "${material[@]}" -h sha256 -n "Tessavo全集在线播放器" \
    -i "http://www.tessavo.example/" "${stamp[@]}" -in "$file" -out "$signed" >"$file.signing.log" 2>&1 || {
    cat "$file.signing.log" >&2
    rm -f "$signed" "$file.signing.log"
    echo "sign-windows.sh: osslsigncode could not sign $file" >&2
    exit 1
}
rm -f "$file.signing.log"
mv -f "$signed" "$file"
