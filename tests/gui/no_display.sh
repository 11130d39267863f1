# Without a display the player says so in one line and exits non-zero, without crashing.
set -uo pipefail
out=$(env -u DISPLAY -u WAYLAND_DISPLAY "$PLAYER" 2>&1)
code=$?
if [[ $code -eq 0 || $code -ge 128 ]]; then
    echo "FAIL: exit code $code (want a clean non-zero exit)" >&2
    exit 1
fi
lines=$(printf '%s\n' "$out" | grep -c .)
if [[ $lines -ne 1 ]] || ! grep -q 'display' <<<"$out"; then
    echo "FAIL: expected one line naming the display problem, got: $out" >&2
    exit 1
fi
echo "PASS: '$out' (exit $code)"
