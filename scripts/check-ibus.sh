#!/usr/bin/env bash
# End to end with IBus, as a Japanese Mozc user on a desktop that uses IBus meets it: the
# Debian packages built and installed (veskmath, ibus-veskmath), ibus-mozc from Debian, and
# a fresh unprivileged user (ibus-mozc does nothing for root) with a new home folder under
# ja_JP.UTF-8, Mozc active at start; a private X server (Xvfb) and D-Bus session, the real
# ibus-daemon with its GTK panel, a GTK window (zenity's entry dialog) that receives its
# input through IBus's GTK module, and the desktop's shortcut Control+Alt+M bound to
# `ibus engine veskmath` (xbindkeys stands in for the desktop's shortcut settings).
# xdotool presses Control+Alt+M, types 1+2= and Enter: the window must read "1+2= 3" and
# Mozc must be active again, which the check proves by typing nihongo, Space and Enter: 日本語.
# A screenshot with the candidate is saved on the way. Afterwards the packages are purged
# and must leave no file behind. Needs root (it installs the packages); a VeskMath package
# installed before is replaced by this build's and purged at the end.
#
#   scripts/check-ibus.sh [--watch] [--display DISPLAY] [--screenshot FILE] [BUILD_DIR]
#
#   BUILD_DIR     a configured build tree (default build/release; built here when needed)
#   --screenshot  where the screenshot goes (default BUILD_DIR/check-ibus/candidate.png)
#   --display     run on this X display instead of a private Xvfb, to watch it happen (best
#                 a nested one, Xephyr)
#   --watch       slower keys, so that a person can follow them
#
# Missing programs are named with their Debian packages; with VESKMATH_INSTALL=1 as root
# (CI) they are installed with apt-get. Exit status 0 when the window read "1+2= 3日本語".
set -euo pipefail

check=check-ibus help_lines=24
# shellcheck source-path=SCRIPTDIR
. "$(dirname "$0")/lib/host-check.sh"
host_check_options "$@"

# --- What the check needs beyond what every host's check needs.
need=()
command -v xbindkeys >/dev/null 2>&1 || need+=(xbindkeys)
command -v setpriv >/dev/null 2>&1 || need+=(util-linux)
command -v ibus-daemon >/dev/null 2>&1 || need+=(ibus)
[ -x /usr/libexec/ibus-ui-gtk3 ] || need+=(ibus-gtk3)
ls /usr/lib/*/gtk-3.0/3.0.0/immodules/im-ibus.so >/dev/null 2>&1 || need+=(ibus-gtk3)
[ -e /usr/share/ibus/component/mozc.xml ] || need+=(ibus-mozc)
host_check_prerequisites "${need[@]}"

# --- The packages, installed as a user installs them.
host_check_install ibus-veskmath "IBus engine (libibus-1.0-dev missing?)"
host_check_locale

# A fresh unprivileged user's home, runtime and temporary folders, in a short scratch folder
# that the user owns (a socket's path must fit in 107 bytes).
user=nobody
short=$(mktemp -d /tmp/vm-ibus.XXXXXX)
home=$short/home
mkdir -p "$home/.config/mozc" "$short/tmp" "$short/run"
# Mozc starts in its input mode (hiragana), as a Japanese user sets it.
cat >"$home/.config/mozc/ibus_config.textproto" <<'MOZC'
engines {
  name : "mozc-jp"
  longname : "Mozc"
  layout : "default"
  layout_variant : ""
  layout_option : ""
  rank : 80
}
active_on_launch: True
MOZC
# The desktop's shortcut: the key runs `ibus engine veskmath`.
cat >"$home/.xbindkeysrc" <<'KEYS'
"ibus engine veskmath"
  control+alt + m
KEYS
chmod 700 "$short/run"
chown -R "$user": "$short"
chmod 755 "$short"

pids=()
session_pid=""
# The user's processes of this session (mozc_server and mozc_renderer outlive ibus exit):
# found by the session's own home folder in their environment, ended by their ids.
session_processes() {
  local p
  for p in /proc/[0-9]*; do
    [ "$(stat -c %U "$p" 2>/dev/null)" = "$user" ] || continue
    { tr '\0' '\n' <"$p/environ"; } 2>/dev/null | grep -qx "HOME=$home" && echo "${p#/proc/}"
  done
}
cleanup() {
  local i p
  [ -n "$session_pid" ] && kill "$session_pid" 2>/dev/null || true
  for p in $(session_processes); do kill "$p" 2>/dev/null || true; done
  sleep 0.5
  for p in $(session_processes); do kill -9 "$p" 2>/dev/null || true; done
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$short"
  purge
}
trap cleanup EXIT

host_check_display

# --- The user's session: D-Bus, ibus-daemon with its panel, the shortcut, the window.
cat >"$short/session.sh" <<'SESSION'
#!/usr/bin/env bash
# Runs as the user, inside dbus-run-session. Writes what it saw into $out.
set -uo pipefail
log() { echo "$*" >>"$out/session.log"; }
engine() { ibus engine 2>/dev/null; }
wait_engine() {  # NAME: until it is the engine of the focused window
  for _ in $(seq 100); do [ "$(engine)" = "$1" ] && return 0; sleep 0.1; done
  return 1
}
ibus-daemon --replace --panel=/usr/libexec/ibus-ui-gtk3 --config=/usr/libexec/ibus-memconf \
  --emoji-extension=disable --cache=refresh >"$out/ibus-daemon.log" 2>&1 &
for _ in $(seq 200); do ibus list-engine >/dev/null 2>&1 && break; sleep 0.1; done
ibus list-engine >"$out/engines.txt" 2>&1 || { log "ibus-daemon did not start"; exit 1; }
# The panel sets its default engine once it is up; only then is a choice of ours kept.
for _ in $(seq 200); do [ -n "$(engine)" ] && break; sleep 0.1; done
ibus engine mozc-jp
wait_engine mozc-jp || { log "Mozc did not become the engine ($(engine))"; exit 1; }
xbindkeys -n -f "$HOME/.xbindkeysrc" >"$out/xbindkeys.log" 2>&1 &
zenity --entry --title='VeskMath check' --text='Type here:' --width=360 \
  >"$out/window.txt" 2>"$out/window.log" &
window_pid=$!
window=$(xdotool search --sync --onlyvisible --name 'VeskMath check' | head -1)
[ -n "$window" ] || { log "the window did not appear"; exit 1; }
xdotool windowmove "$window" 40 40
xdotool windowfocus --sync "$window"
sleep 1  # the GTK module connects to ibus-daemon when the entry gets the focus
wait_engine mozc-jp || { log "Mozc is not the engine of the window ($(engine))"; exit 1; }
ms=$(awk "BEGIN { print int($delay * 1000) }")

xdotool key --delay 100 ctrl+alt+m
wait_engine veskmath || { log "Control+Alt+M did not switch to veskmath ($(engine))"; exit 1; }
xdotool type --delay "$ms" '1+2='
sleep 1  # the candidate shows once the server answered
import -window root -crop 400x170+35+35 +repage "$out/candidate.png" || log "no screenshot"
xdotool key Return
wait_engine mozc-jp || { log "Enter did not switch back to Mozc ($(engine))"; exit 1; }
echo "back to $(engine)" >>"$out/session.log"
# Mozc is active: romaji become hiragana, Space converts, Enter commits. (にほんご, whose
# first candidate is 日本語 for a new user; かんじ would give 感じ first.)
xdotool type --delay "$ms" 'nihongo'
sleep 0.5
xdotool key space
sleep 0.5
xdotool key Return
sleep 0.5
# The dialog's own Enter: zenity prints the entry's text and ends.
xdotool key Return
for _ in $(seq 50); do kill -0 "$window_pid" 2>/dev/null || break; sleep 0.1; done
ibus exit >/dev/null 2>&1
SESSION
chmod 755 "$short/session.sh"
out=$short/out
mkdir -p "$out"
chown "$user": "$out"

say "as $user: Mozc, Control+Alt+M, 1+2=, Enter, then nihongo, Space, Enter"
setpriv --reuid="$user" --regid="$(id -gn "$user")" --clear-groups \
  env -i PATH=/usr/bin:/bin HOME="$home" USER="$user" LOGNAME="$user" SHELL=/bin/sh \
  TMPDIR="$short/tmp" XDG_RUNTIME_DIR="$short/run" DISPLAY="$display" \
  LANG=ja_JP.UTF-8 GTK_IM_MODULE=ibus QT_IM_MODULE=ibus XMODIFIERS=@im=ibus NO_AT_BRIDGE=1 \
  out="$out" delay="$delay" \
  timeout 120 dbus-run-session -- "$short/session.sh" &
session_pid=$!
wait "$session_pid" || true
session_pid=""
cp -r "$out/." "$work/" 2>/dev/null || true
if [ -e "$work/candidate.png" ] && [ "$shot" != "$work/candidate.png" ]; then
  mkdir -p "$(dirname "$shot")"
  cp "$work/candidate.png" "$shot"
fi
text=$(cat "$work/window.txt" 2>/dev/null || true)
if [ "$text" != "1+2= 3日本語" ]; then
  echo "check-ibus: the window read '$text'; what the session saw:" >&2
  cat "$work/session.log" >&2 2>/dev/null || true
  tail -20 "$work/ibus-daemon.log" >&2 2>/dev/null || true
  fail "the window does not read '1+2= 3日本語'"
fi
grep -q 'back to mozc-jp' "$work/session.log" || fail "Mozc was not the engine again after Enter"
say "the window reads '$text' and Mozc was active again; screenshot: $shot"

host_check_purged
echo "check-ibus: passed"
