#!/usr/bin/env bash
# The server on the session bus under short-lived and killed clients, in a private session:
#   side by side  LOOPS loops of RUNS `vesk 1+1` at once, servers starting and ending under
#                 them: every run must answer 2;
#   killed        KILLED clients killed 5 to 40 ms after they start: 2 s after the last one
#                 died no server may be running;
#   environment   a client holding the server with TMPDIR=A, then `TMPDIR=B vesk 'mine:=42'`:
#                 the definition lands in the session's TMPDIR, and `mine+1` answers 43.
# Run from the repository:
#   bench/bus_stress.sh [build/release] [LOOPS RUNS KILLED]     (default 16 200 50)
set -euo pipefail
build=$(realpath "${1:-build/release}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/session" "$work/a" "$work/b"
export HOME=$work XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data TMPDIR=$work/session
export VESKMATH_REGISTRY=$work/registry.reg BUILD=$build LOOPS=${2:-16} RUNS=${3:-200}
export KILLED=${4:-50} WORK=$work
dbus-run-session -- bash -c '
set -euo pipefail
vesk=$BUILD/bin/vesk
"$BUILD/bin/veskmath" /regserver >/dev/null
"$BUILD/bin/vreg" add "HKLM\SOFTWARE\Orbanel\Vesk" >/dev/null
printf "install\nclose\n" | "$BUILD/bin/veskmath" >/dev/null
serving() { busctl --user status VeskMath.FuVeskMath >/dev/null 2>&1; }

start=$(date +%s)
for l in $(seq "$LOOPS"); do
  (fails=0
   for r in $(seq "$RUNS"); do
     out=$("$vesk" 1+1 2>>"$WORK/loop$l.err" </dev/null) || true
     [ "$out" = 2 ] || fails=$((fails + 1))
   done
   echo "$fails" >"$WORK/loop$l.fails") &
done
wait
failed=$(awk "{ n += \$1 } END { print n }" "$WORK"/loop*.fails)
echo "side by side: $LOOPS x $RUNS runs of vesk 1+1 in $(( $(date +%s) - start )) s, $failed failed"
[ "$failed" = 0 ] || { cat "$WORK"/loop*.err | sort | uniq -c | sort -rn | head -5; exit 1; }

for i in $(seq "$KILLED"); do
  "$vesk" 1+1 >/dev/null 2>&1 </dev/null &
  sleep "$(printf "0.%03d" $(( 5 + RANDOM % 36 )))"
  kill -KILL $! 2>/dev/null || true
  wait $! 2>/dev/null || true
done
sleep 2
if serving; then echo "killed: a server still runs 2 s after the last of $KILLED killed clients"; exit 1; fi
echo "killed: $KILLED clients killed 5 to 40 ms after they started; no server 2 s after the last"

coproc holder { TMPDIR=$WORK/a "$vesk" 2>&1; }
hpid=$holder_PID hin=${holder[1]}
echo "1+1" >&"$hin"
read -r -t 10 first <&"${holder[0]}"
[ "$first" = 2 ] || { echo "environment: the holding client answered \"$first\""; exit 1; }
serving || { echo "environment: no server seen while a client holds one"; exit 1; }
defined=$(TMPDIR=$WORK/b "$vesk" "mine:=42" </dev/null)
again=$(TMPDIR=$WORK/b "$vesk" "mine+1" </dev/null)
eval "exec $hin>&-"
wait "$hpid" || true
where=none
grep -q "mine:=42" "$TMPDIR/log.txt" 2>/dev/null && where=session
grep -q "mine:=42" "$WORK/a/log.txt" 2>/dev/null && where=A
grep -q "mine:=42" "$WORK/b/log.txt" 2>/dev/null && where=B
echo "environment: clients with TMPDIR=A and B; the definition went to: $where; mine+1 answered $again"
[ "$defined" = 42 ] && [ "$where" = session ] && [ "$again" = 43 ]
' 2> >(grep -v '^dbus-daemon\[' >&2)
