#!/usr/bin/env bash
# End to end, as a Japanese user meets it: the two Debian packages built and installed
# (veskmath, fcitx5-veskmath) and nothing else done, no registry command; a fresh home
# folder under ja_JP.UTF-8; a private X server (Xvfb) and D-Bus session, the real fcitx5
# daemon, and a GTK window (zenity's entry dialog) that receives its input through Fcitx5's
# GTK module. xdotool presses the trigger (Control+Alt+M), types 1+2= and presses Enter; the
# window's text must then read "1+2= 3". A screenshot with the candidate and the Japanese
# auxiliary text is saved on the way. Afterwards the packages are purged and must leave no
# file behind. Needs root (it installs the packages); a VeskMath package installed before is
# replaced by this build's and purged at the end.
#
#   scripts/check-ime.sh [--watch] [--display DISPLAY] [--screenshot FILE] [BUILD_DIR]
#
#   BUILD_DIR     a configured build tree (default build/release; built here when needed)
#   --screenshot  where the screenshot goes (default BUILD_DIR/check-ime/candidate.png)
#   --display     run on this X display instead of a private Xvfb, to watch it happen: best
#                 a nested one (Xephyr), since the check's fcitx5 sets the display's keyboard
#                 layout as any Fcitx5 does (its D-Bus session and configuration stay private)
#   --watch       slower keys, so that a person can follow them
#
# Missing programs are named with their Debian packages; with VESKMATH_INSTALL=1 as root
# (CI) they are installed with apt-get. Exit status 0 when the window read "1+2= 3".
set -euo pipefail

check=check-ime help_lines=19
# shellcheck source-path=SCRIPTDIR
. "$(dirname "$0")/lib/host-check.sh"
host_check_options "$@"

# --- What the check needs beyond what every host's check needs.
need=()
command -v fcitx5 >/dev/null 2>&1 || need+=(fcitx5)
ls /usr/lib/*/gtk-3.0/3.0.0/immodules/im-fcitx5.so >/dev/null 2>&1 || need+=(fcitx5-frontend-gtk3)
host_check_prerequisites "${need[@]}"

# --- The packages, installed as a user installs them.
host_check_install fcitx5-veskmath "Fcitx5 add-on (Fcitx5's development packages missing?)"
mkdir -p "$work/home"
host_check_locale

# A fresh user: nothing but a home folder; sockets and temporary files in a short scratch
# folder (a socket's path must fit in 107 bytes).
short=$(mktemp -d /tmp/vm-ime.XXXXXX)
mkdir -p "$short/tmp" "$short/run"
chmod 700 "$short/run"
unset VESKMATH_REGISTRY XDG_CONFIG_HOME XDG_DATA_HOME XDG_DATA_DIRS FCITX_ADDON_DIRS LANGUAGE LC_ALL
export HOME=$work/home TMPDIR=$short/tmp XDG_RUNTIME_DIR=$short/run
# The bus reads the user's service files from here, and the add-on's first-use registration
# writes one here (without it, both would use the real home of the user database).
export XDG_DATA_HOME=$HOME/.local/share
export GTK_IM_MODULE=fcitx QT_IM_MODULE=fcitx XMODIFIERS=@im=fcitx
export LANG=ja_JP.UTF-8 NO_AT_BRIDGE=1

# --- X server, D-Bus session, fcitx5, the window.
pids=()
cleanup() {
  local i
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$short"
  purge
}
trap cleanup EXIT

host_check_display
export DISPLAY=$display

eval "$(dbus-daemon --session --fork --print-address=1 --print-pid=1 |
        { read -r address; read -r pid; echo "export DBUS_SESSION_BUS_ADDRESS='$address'; bus_pid=$pid"; })"
pids+=("$bus_pid")

say "fcitx5 with the installed add-on"
# Its own bus: --replace reaches only a framework on this private bus.
# No XIM server of its own (the GTK module is what is checked).
fcitx5 --replace --disable=xim --verbose='default=5' >"$work/fcitx5.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
  grep -q 'Loaded addon veskmath' "$work/fcitx5.log" &&
    dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
      org.freedesktop.DBus.GetNameOwner string:org.fcitx.Fcitx5 >/dev/null 2>&1 && break
  sleep 0.1
done
grep -q 'Loaded addon veskmath' "$work/fcitx5.log" ||
  { tail -20 "$work/fcitx5.log" >&2; fail "fcitx5 did not load the add-on"; }
grep -qx 'CommitForm=.*' "$HOME/.config/fcitx5/conf/veskmath.conf" 2>/dev/null ||
  fail "the add-on wrote no settings file with its defaults (fcitx5/conf/veskmath.conf)"

zenity --entry --title='VeskMath check' --text='Type here:' --width=360 \
  >"$work/window.txt" 2>"$work/window.log" &
window_pid=$!
pids+=("$window_pid")
window=$(xdotool search --sync --onlyvisible --name 'VeskMath check' | head -1)
[ -n "$window" ] || fail "the window did not appear"
xdotool windowmove "$window" 40 40
xdotool windowfocus --sync "$window"
sleep 1  # the GTK module connects to fcitx5 over D-Bus when the entry gets the focus

# --- The keys.
say "Control+Alt+M, 1+2=, Enter"
xdotool key --delay 100 ctrl+alt+m
sleep "$delay"
xdotool type --delay "$(awk "BEGIN { print int($delay * 1000) }")" '1+2='
# The candidate shows once the server answered: give it a moment, then take the picture.
sleep 1
grep -q 'registered for this user' "$work/fcitx5.log" ||
  { tail -20 "$work/fcitx5.log" >&2; fail "the add-on did not register the plug-in at first use"; }
mkdir -p "$(dirname "$shot")"
# The window's corner and the candidate below the entry.
import -window root -crop 370x130+35+35 +repage "$shot" || fail "screenshot"
xdotool key Return
sleep 0.5
# The dialog's own Enter: zenity prints the entry's text and ends.
xdotool key Return
for _ in $(seq 50); do kill -0 "$window_pid" 2>/dev/null || break; sleep 0.1; done
text=$(cat "$work/window.txt")
if [ "$text" != "1+2= 3" ]; then
  echo "check-ime: the window read '$text'; the end of fcitx5's log:" >&2
  tail -20 "$work/fcitx5.log" >&2
  fail "the window does not read '1+2= 3'"
fi
say "the window reads '$text'; screenshot: $shot"

host_check_purged
echo "check-ime: passed"
