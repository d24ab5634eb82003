#!/usr/bin/env bash
# Developer entry point.
#   ./build.sh run [NOTATION...]  build the library and the four programs (release preset),
#                              register and install the conversion plug-in (default registry
#                              store) and start the host
#   ./build.sh test            build and run every test, optimised and under the sanitizers
#   ./build.sh check           only check the prerequisites
# Missing prerequisites are named with the Debian package that provides them; with
# VESKMATH_INSTALL=1 (set by CI) they are installed with apt-get instead.

set -euo pipefail
cd "$(dirname "$0")"

need=()
command -v cmake >/dev/null 2>&1 || need+=(cmake)
command -v g++ >/dev/null 2>&1 || need+=(g++)
command -v ninja >/dev/null 2>&1 || need+=(ninja-build)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
[ -f /usr/include/gmock/gmock.h ] || need+=(libgmock-dev)
# The automation runtime's transport: sd-bus, and a session bus (tests start their own).
[ -f /usr/include/systemd/sd-bus.h ] || need+=(libsystemd-dev)
command -v dbus-daemon >/dev/null 2>&1 || need+=(dbus)
command -v dbus-run-session >/dev/null 2>&1 || need+=(dbus-bin)
# The Fcitx5 add-on and its tests: Fcitx5's development files, the framework and its test
# add-ons (testfrontend, testim, testui).
[ -f /usr/include/Fcitx5/Core/fcitx/addoninstance.h ] || need+=(libfcitx5core-dev)
[ -f /usr/include/Fcitx5/Utils/fcitx-utils/key.h ] || need+=(libfcitx5utils-dev)
[ -d /usr/include/Fcitx5/Module/fcitx-module/testfrontend ] || need+=(fcitx5-modules-dev)
command -v fcitx5 >/dev/null 2>&1 || need+=(fcitx5)
ls /usr/lib/*/fcitx5/libtestim.so >/dev/null 2>&1 || need+=(fcitx5-modules)
# Optional: ccache makes rebuilds and later clones fast; CI installs it, a newcomer may.
[ "${VESKMATH_INSTALL:-0}" = 1 ] && ! command -v ccache >/dev/null 2>&1 && need+=(ccache)
if [ ${#need[@]} -gt 0 ]; then
  if [ "${VESKMATH_INSTALL:-0}" = 1 ] && [ "$(id -u)" = 0 ]; then
    echo "Installing missing prerequisites: ${need[*]}"
    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}"
  else
    echo "Missing prerequisites. Install them with:" >&2
    echo "  sudo apt-get install ${need[*]}" >&2
    exit 1
  fi
fi

ci=${CI:-false}
release=release
debug=debug
if [ "$ci" = true ]; then release=ci-release; debug=ci-debug; fi

# build PRESET [TARGET...]: configure, then build the targets (all of them when none).
build() {
  local preset=$1
  shift
  cmake --preset "$preset" >/dev/null
  if [ $# -gt 0 ]; then
    cmake --build --preset "$preset" --target "$@"
  else
    cmake --build --preset "$preset"
  fi
}

# What `run` needs: the library and the programs, not the test suites, fuzz replays and
# benchmarks (three quarters of the build), which `test` builds.
run_targets=(veskmath_shared veskmath_static qelcalc vesk veskmath vreg)

case "${1:-}" in
  check) echo "All prerequisites are present." ;;
  run)
    shift
    build "$release" "${run_targets[@]}"
    bin="build/$release/tools"
    # Register the automation class (silent), then install the plug-in into the host's
    # list once: the dialog is scripted, and installing again would empty the history.
    "$bin/veskmath/veskmath" /regserver
    installed=0
    for n in $(seq 1 99); do
      key=$(printf 'HKLM\\SOFTWARE\\Orbanel\\Vesk\\%02d' "$n")
      id=$("$bin/vreg/vreg" query "$key" /v ID 2>/dev/null) || break
      case "$id" in *VeskMath.FuVeskMath*) installed=1; break ;; esac
    done
    if [ "$installed" = 0 ]; then
      "$bin/vreg/vreg" add 'HKLM\SOFTWARE\Orbanel\Vesk' >/dev/null  # the host's own key
      printf 'install\nclose\n' | "$bin/veskmath/veskmath"
    fi
    # vesk reaches the server through the session bus; a shell without one gets its own.
    if [ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ] && [ ! -S "${XDG_RUNTIME_DIR:-/nonexistent}/bus" ]; then
      exec dbus-run-session -- "$bin/vesk/vesk" "$@"
    fi
    exec "$bin/vesk/vesk" "$@"
    ;;
  test)
    for preset in "$release" "$debug"; do
      echo "== $preset: build"
      build "$preset"
      echo "== $preset: test"
      ctest --preset "$preset"
    done
    ;;
  *)
    # The usage is the leading comment block, up to its first blank line.
    sed -n '2,/^$/s/^# \{0,1\}//p' "$0"
    exit 2
    ;;
esac
