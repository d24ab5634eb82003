#!/usr/bin/env bash
# A hung conversion server and a real fcitx5: keys are taken while it hangs, the add-on says
# the server does not answer, fcitx5 ends and a new one comes up at once, and the server, once
# let go, ends by itself. Needs fcitx5 and python3-dbus (the system Python); run from the repository:
#   bench/fcitx5_hung_server.sh [build/release]
set -euo pipefail
build=$(realpath "${1:-build/release}")
command -v fcitx5 >/dev/null && /usr/bin/python3 -c 'import dbus' 2>/dev/null ||
  { echo "needs: apt-get install fcitx5 fcitx5-modules python3-dbus" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME=$work XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data TMPDIR=$work
export VESKMATH_REGISTRY=$work/registry.reg BUILD=$build
dbus-run-session -- bash -c '
set -euo pipefail
addons=$(dirname "$(ls /usr/lib/*/fcitx5/libtestim.so | head -1)")
export FCITX_ADDON_DIRS=$BUILD/tools/fcitx5:$addons FCITX_DATA_DIRS=$BUILD/tools/fcitx5:/usr/share/fcitx5
"$BUILD/bin/veskmath" /regserver >/dev/null
"$BUILD/bin/vreg" add "HKLM\SOFTWARE\Orbanel\Vesk" >/dev/null
printf "install\nclose\n" | "$BUILD/bin/veskmath" >/dev/null
quiet=--disable=xcb,wayland,waylandim,xim,kimpanel,classicui,notificationitem,clipboard
fcitx5 $quiet >"$TMPDIR/fcitx5.log" 2>&1 </dev/null &
first=$!
server=$(/usr/bin/python3 - <<PY
import dbus, os, signal, sys, time
bus = dbus.SessionBus()
while not bus.name_has_owner("org.fcitx.Fcitx5"): time.sleep(0.01)
im = bus.get_object("org.fcitx.Fcitx5", "/org/freedesktop/portal/inputmethod")
path, _ = im.CreateInputContext([("program", "hung")], dbus_interface="org.fcitx.Fcitx.InputMethod1")
ic = dbus.Interface(bus.get_object("org.fcitx.Fcitx5", path), "org.fcitx.Fcitx.InputContext1")
ic.SetCapability(dbus.UInt64(0)); ic.FocusIn()
key = lambda sym, state=0: ic.ProcessKeyEvent(dbus.UInt32(sym), dbus.UInt32(0), dbus.UInt32(state), False, dbus.UInt32(0))
key(0x6d, 12); key(0x31)  # Control+Alt+M, 1: the bus starts the server
dbusd = bus.get_object("org.freedesktop.DBus", "/org/freedesktop/DBus")
deadline = time.time() + 10
while not bus.name_has_owner("VeskMath.FuVeskMath") and time.time() < deadline: time.sleep(0.01)
pid = int(dbusd.GetConnectionUnixProcessID("VeskMath.FuVeskMath", dbus_interface="org.freedesktop.DBus"))
time.sleep(0.5)
os.kill(pid, signal.SIGSTOP)
t = time.monotonic(); key(0x2b); key(0x32)
print("two keys with the server hung: %.1f ms" % ((time.monotonic() - t) * 1000), file=sys.stderr)
time.sleep(3.5)  # the default timeout is 3 s
print(pid)
PY
)
grep -q "does not answer" "$TMPDIR/fcitx5.log" && echo "the add-on reported: the conversion server does not answer"
t0=$(date +%s%N); kill -TERM $first; wait $first || true; t1=$(date +%s%N)
fcitx5 $quiet >"$TMPDIR/fcitx5-2.log" 2>&1 </dev/null &
second=$!
/usr/bin/python3 -c "
import dbus, time
bus = dbus.SessionBus()
while not bus.name_has_owner(\"org.fcitx.Fcitx5\"): time.sleep(0.005)"
t2=$(date +%s%N)
echo "fcitx5 ended in $(( (t1 - t0) / 1000000 )) ms; the next one was on the bus $(( (t2 - t1) / 1000000 )) ms later"
kill -TERM $second; wait $second || true
kill -CONT "$server"
for i in $(seq 100); do kill -0 "$server" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$server" 2>/dev/null; then
  kill -KILL "$server"; echo "the server was still running 10 s after it was let go"; exit 1
fi
echo "the server ended by itself $((i * 100)) ms after it was let go"
'
