# shellcheck shell=bash
# What the end-to-end checks of the input-method hosts share (check-ime.sh for Fcitx5,
# check-ibus.sh for IBus): their options, their prerequisites, the packages installed as a
# user installs them and purged afterwards, the Japanese locale and the private X server.
# Sourced by a check after it sets `check` (its name) and `help_lines` (its usage comment).

purged_packages=()  # what `purge` removes

fail() { echo "$check: FAILED: $*" >&2; exit 1; }
say() { echo "== $check: $*"; }

# Sets build, work, shot, delay and display from the check's arguments.
host_check_options() {
  local src
  src=$(cd "$(dirname "$0")/.." && pwd)
  build="" shot="" delay=0.05 display=""
  while [ $# -gt 0 ]; do
    case "$1" in
      --watch) delay=0.4 ;;
      --display) shift; display=$1 ;;
      --screenshot) shift; shot=$1 ;;
      -h|--help) sed -n "2,${help_lines}p" "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
      -*) echo "$check: unknown option $1" >&2; exit 2 ;;
      *) build=$1 ;;
    esac
    shift
  done
  build=$(cd "${build:-$src/build/release}" 2>/dev/null && pwd) ||
    { echo "$check: no build tree (cmake --preset release first)" >&2; exit 2; }
  work=$build/$check
  shot=${shot:-$work/candidate.png}
}

# Names or (VESKMATH_INSTALL=1) installs what is missing: what every check needs, then the
# Debian packages the caller found missing ("$@").
host_check_prerequisites() {
  local need=("$@")
  command -v apt-get >/dev/null 2>&1 && [ "$(id -u)" = 0 ] ||
    { echo "$check: run it as root on a Debian system: it installs the packages" >&2; exit 2; }
  locale -a 2>/dev/null | grep -qix 'ja_JP.utf8' || command -v localedef >/dev/null 2>&1 ||
    need+=(locales)
  command -v cpack >/dev/null 2>&1 || need+=(cmake)
  # The Japanese texts in the screenshot.
  fc-list :lang=ja 2>/dev/null | grep -q . || need+=(fonts-ipafont-gothic)
  [ -n "$display" ] || command -v Xvfb >/dev/null 2>&1 || need+=(xvfb)
  command -v xdotool >/dev/null 2>&1 || need+=(xdotool)
  command -v import >/dev/null 2>&1 || need+=(imagemagick)
  command -v dbus-run-session >/dev/null 2>&1 || need+=(dbus)
  command -v zenity >/dev/null 2>&1 || need+=(zenity)
  [ ${#need[@]} -eq 0 ] && return
  if [ "${VESKMATH_INSTALL:-0}" = 1 ]; then
    say "installing ${need[*]}"
    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}" >/dev/null
  else
    echo "$check: missing programs. Install them with:" >&2
    echo "  sudo apt-get install ${need[*]}" >&2
    exit 1
  fi
}

# Builds the packages and installs veskmath and the host's package ($1; $2 says what is missing
# when the build has none), replacing any VeskMath package installed before. Sets
# installed_files; `purge` removes them again (once).
host_check_install() {
  local host_package=$1 missing=$2
  say "build the packages"
  cmake --build "$build" >/dev/null || fail "build"
  rm -rf "$work"
  mkdir -p "$work"
  (cd "$build" && rm -rf packages && cpack -G DEB >"$work/cpack.log" 2>&1) ||
    { cat "$work/cpack.log" >&2; fail "cpack -G DEB"; }
  local debs=("$build"/packages/veskmath_*.deb "$build"/packages/"$host_package"_*.deb)
  [ -e "${debs[1]}" ] || fail "the build has no $missing"
  say "install ${debs[*]##*/}"
  DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq ibus-veskmath fcitx5-veskmath veskmath \
    >/dev/null 2>&1 || true
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${debs[@]}" >"$work/apt.log" 2>&1 ||
    { cat "$work/apt.log" >&2; fail "apt-get install"; }
  installed_files=$(dpkg -L veskmath "$host_package" | sort -u)
  purged_packages=("$host_package" veskmath)
}

purge() {
  [ ${#purged_packages[@]} -eq 0 ] && return
  DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq "${purged_packages[@]}" >/dev/null 2>&1
  purged_packages=()
}

# After the purge: no file of the packages is left, and dpkg no longer knows them.
host_check_purged() {
  local packages=("${purged_packages[@]}") left
  say "purge the packages"
  purge
  left=$(while read -r f; do if [ -f "$f" ] || [ -L "$f" ]; then echo "$f"; fi; done <<<"$installed_files")
  [ -z "$left" ] || fail "files left after purging: $left"
  [ -z "$(dpkg-query -W -f='${Status}' "${packages[@]}" 2>/dev/null)" ] ||
    fail "the packages are still known to dpkg after purging"
}

# The Japanese locale the user works in.
host_check_locale() {
  locale -a | grep -qix 'ja_JP.utf8' && return
  say "generate the locale ja_JP.UTF-8"
  localedef -i ja_JP -f UTF-8 ja_JP.UTF-8 || fail "localedef ja_JP.UTF-8"
}

# A private X server unless --display named one; its process id is added to pids.
host_check_display() {
  local n
  if [ -z "$display" ]; then
    for n in $(seq 90 120); do
      [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || { display=:$n; break; }
    done
    [ -n "$display" ] || fail "no free X display number"
    say "Xvfb on $display"
    Xvfb "$display" -screen 0 640x360x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
    pids+=($!)
  fi
  for _ in $(seq 100); do DISPLAY=$display xdotool getdisplaygeometry >/dev/null 2>&1 && return; sleep 0.1; done
  fail "no X display $display (see $work/xvfb.log)"
}
