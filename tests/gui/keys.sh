# The player without a mouse: Tab, Down and Enter on the list play an episode, Tab reaches
# 检测更新 and Space presses it; a screen reader finds the list's rows and the controls by name
# and role over AT-SPI.
# The accessibility bus and its registry start on a session bus of the test's own, never on
# the machine's.
if [[ -z "${VELMORA_PRIVATE_BUS:-}" ]]; then
    exec env VELMORA_PRIVATE_BUS=1 dbus-run-session -- bash "$0" "$@"
fi
source "$(dirname "$0")/xsession.sh"

# What a screen reader reads in the player's windows (Debian's python3-pyatspi): one line an
# object, "ROLE<TAB>NAME", with "<TAB>focused" on the one with the keyboard focus.
read_accessible() {
    /usr/bin/python3 - "$PLAYER_PID" <<'EOF'
import sys
import pyatspi

def walk(node, depth=0):
    if node is None or depth > 12:
        return
    states = node.getState()
    focused = "\tfocused" if states.contains(pyatspi.STATE_FOCUSED) else ""
    print(f"{node.getRoleName()}\t{node.name}{focused}")
    for child in node:
        walk(child, depth + 1)

for app in pyatspi.Registry.getDesktop(0):
    if app is not None and app.get_process_id() == int(sys.argv[1]):
        walk(app)
EOF
}

start_desktop
start_site --episodes 220 --latest-version "$VERSION"
start_player_window
wait_request '/video/player/?flv=index' || fail "the browser did not load the start page"

# The first start selected episode 1: Tab takes the focus to the list, Down selects the
# second row, Enter plays it.
press "$window" Tab Down Return
wait_request '/video/player/?flv=2' || fail "Down and Enter did not open episode 2"
wait_window "^Tessavo第2集 - VelmoraPlayer ${VERSION//./\\.}\$" 5 >/dev/null ||
    fail "the title did not show episode 2"

tabs=$(tabs_between "" 检测更新) || exit 1
press "$window" $(printf 'Tab %.0s' $(seq "$tabs"))
focused_update() { read_accessible | grep -xF $'push button\t检测更新\tfocused' >/dev/null; }
wait_until 10 focused_update ||
    fail "Tab did not take the focus to 检测更新; the screen reader reads: $(read_accessible | grep focused)"
press "$window" space
answer_box Return 10

objects=$(read_accessible)
for expected in $'push button\t获取播放列表' $'push button\t访问主站' $'push button\t检测更新' \
    $'check box\t置顶' $'table cell\tTessavo第001集' $'table cell\tTessavo第220集'; do
    grep -qF "$expected" <<<"$objects" ||
        fail "the screen reader does not find \"${expected//$'\t'/ }\"; it reads: $(sort -u <<<"$objects" | head -40)"
done

press "$window" alt+F4
wait_player_exit 20 || fail "player did not exit"
echo "PASS: Tab, Down, Enter played episode 2; $tabs Tabs reached 检测更新 and Space pressed it; the screen reader reads the controls and the rows"
