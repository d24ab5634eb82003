#!/usr/bin/env bash
# Developer entry point.
#   ./build.sh run [NOTATION...]  build the library, the four programs (into build/release/bin)
#                              and, where Fcitx5's or IBus's development files are, the Fcitx5
#                              add-on and the IBus engine;
#                              register and install the conversion plug-in (default registry
#                              store) and start the host
#   ./build.sh test            build and run every test, optimised and under the sanitizers
#   ./build.sh check           only check the prerequisites
# Missing prerequisites are named with the Debian packages that provide them: `run` needs the
# C++ toolchain, `test` GoogleTest as well; the Fcitx5 add-on and the IBus engine and their
# tests are built where their framework's packages are. With VESKMATH_INSTALL=1 (set by CI) they are installed with apt-get.

set -euo pipefail
cd "$(dirname "$0")"

usage() {
  # The usage is the leading comment block, up to its first blank line.
  sed -n '2,/^$/s/^# \{0,1\}//p' "$0"
}

command=${1:-}
case "$command" in
  run | test | check) ;;
  "")
    usage >&2
    exit 2
    ;;
  *)
    echo "build.sh: unknown command '$command'" >&2
    usage >&2
    exit 2
    ;;
esac

# Each group: the Debian packages of what is missing.
toolchain=()
command -v cmake >/dev/null 2>&1 || toolchain+=(cmake)
command -v g++ >/dev/null 2>&1 || toolchain+=(g++)
command -v ninja >/dev/null 2>&1 || toolchain+=(ninja-build)
# The automation runtime rides the session bus: sd-bus to build, a bus to run on.
[ -f /usr/include/systemd/sd-bus.h ] || toolchain+=(libsystemd-dev)
command -v dbus-daemon >/dev/null 2>&1 || toolchain+=(dbus)
command -v dbus-run-session >/dev/null 2>&1 || toolchain+=(dbus-bin)
gtest=()
[ -f /usr/include/gtest/gtest.h ] || gtest+=(libgtest-dev)
[ -f /usr/include/gmock/gmock.h ] || gtest+=(libgmock-dev)
# The Fcitx5 add-on: Fcitx5's development files build it; its tests also need the framework
# and its test add-ons (testfrontend, testim, testui).
fcitx5_dev=()
[ -f /usr/include/Fcitx5/Core/fcitx/addoninstance.h ] || fcitx5_dev+=(libfcitx5core-dev)
[ -f /usr/include/Fcitx5/Utils/fcitx-utils/key.h ] || fcitx5_dev+=(libfcitx5utils-dev)
[ -d /usr/include/Fcitx5/Module/fcitx-module/testfrontend ] || fcitx5_dev+=(fcitx5-modules-dev)
fcitx5_run=()
command -v fcitx5 >/dev/null 2>&1 || fcitx5_run+=(fcitx5)
ls /usr/lib/*/fcitx5/libtestim.so >/dev/null 2>&1 || fcitx5_run+=(fcitx5-modules)
# The IBus engine: IBus's development files build it; its tests run a private ibus-daemon.
ibus_dev=()
[ -f /usr/include/ibus-1.0/ibus.h ] || ibus_dev+=(libibus-1.0-dev)
ibus_run=()
command -v ibus-daemon >/dev/null 2>&1 || ibus_run+=(ibus)

install_missing() {
  echo "Installing missing prerequisites: $*"
  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$@"
}

if [ "${VESKMATH_INSTALL:-0}" = 1 ] && [ "$(id -u)" = 0 ]; then
  # CI: everything, ccache included (it makes rebuilds and later clones fast).
  need=("${toolchain[@]}" "${gtest[@]}" "${fcitx5_dev[@]}" "${fcitx5_run[@]}" "${ibus_dev[@]}"
    "${ibus_run[@]}")
  command -v ccache >/dev/null 2>&1 || need+=(ccache)
  # The benchmarks (Google Benchmark) and the engine they compare against (muparser).
  [ -f /usr/include/benchmark/benchmark.h ] || need+=(libbenchmark-dev)
  [ -f /usr/include/muParser.h ] || need+=(libmuparser-dev)
  if [ ${#need[@]} -gt 0 ]; then install_missing "${need[@]}"; fi
  toolchain=() gtest=() fcitx5_dev=() fcitx5_run=() ibus_dev=() ibus_run=()
fi

# What this command cannot do without, and what it merely leaves out.
required=("${toolchain[@]}")
if [ "$command" != run ]; then required+=("${gtest[@]}"); fi
if [ "$command" = test ] && [ ${#fcitx5_dev[@]} -eq 0 ]; then
  required+=("${fcitx5_run[@]}")  # the add-on is built, so its tests run
fi
if [ "$command" = test ] && [ ${#ibus_dev[@]} -eq 0 ]; then
  required+=("${ibus_run[@]}")  # the engine is built, so its tests run
fi
if [ ${#required[@]} -gt 0 ]; then
  echo "build.sh: missing prerequisites. Install them with:" >&2
  echo "  sudo apt-get install ${required[*]}" >&2
  exit 1
fi
if [ ${#fcitx5_dev[@]} -gt 0 ] || { [ "$command" = check ] && [ ${#fcitx5_run[@]} -gt 0 ]; }; then
  echo "build.sh: the Fcitx5 add-on and its tests are left out; to build them:" >&2
  echo "  sudo apt-get install ${fcitx5_dev[*]} ${fcitx5_run[*]}" >&2
fi
if [ ${#ibus_dev[@]} -gt 0 ] || { [ "$command" = check ] && [ ${#ibus_run[@]} -gt 0 ]; }; then
  echo "build.sh: the IBus engine and its tests are left out; to build them:" >&2
  echo "  sudo apt-get install ${ibus_dev[*]} ${ibus_run[*]}" >&2
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

case "$command" in
  check) echo "All prerequisites of run and test are present." ;;
  run)
    shift
    # What `run` needs: the library, the programs and the hosts, that is what `cmake
    # --install` and the packages deliver; not the test suites, fuzz replays and benchmarks
    # (three quarters of the build), which `test` builds.
    build "$release" vm_install_set
    bin="build/$release/bin"
    # Register the automation class (silent), then install the plug-in into the host's
    # list once: the dialog is scripted, and installing again would empty the history.
    "$bin/veskmath" /regserver
    installed=0
    for n in $(seq 1 99); do
      key=$(printf 'HKLM\\SOFTWARE\\Orbanel\\Vesk\\%02d' "$n")
      id=$("$bin/vreg" query "$key" /v ID 2>/dev/null) || break
      case "$id" in *VeskMath.FuVeskMath*) installed=1; break ;; esac
    done
    if [ "$installed" = 0 ]; then
      "$bin/vreg" add 'HKLM\SOFTWARE\Orbanel\Vesk' >/dev/null  # the host's own key
      # The dialog's "please restart" is for an input method that is running; the host
      # started here reads the list afresh, so only a failure is shown.
      if ! said=$(printf 'install\nclose\n' | "$bin/veskmath" 2>&1) ||
        ! grep -qF 'インストールが完了しました' <<<"$said"; then
        printf '%s\n' "$said" >&2
        echo "build.sh: the plug-in could not be installed into the host's list" >&2
        exit 1
      fi
      echo "build.sh: the plug-in is installed in the host's list" >&2
    fi
    if [ $# -eq 0 ]; then
      echo "build.sh: the programs are in $PWD/$bin; to call them by name:" >&2
      echo "  export PATH=\"$PWD/$bin:\$PATH\"" >&2
    fi
    # vesk reaches the server through the session bus; a shell without one gets its own.
    # Its own bus ends with it; the bus's log lines stay out of the conversation.
    if [ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ] && [ ! -S "${XDG_RUNTIME_DIR:-/nonexistent}/bus" ]; then
      { read -r DBUS_SESSION_BUS_ADDRESS && read -r bus_pid; } < <(
        dbus-daemon --session --fork --nopidfile --print-address=1 --print-pid=1 2>/dev/null)
      export DBUS_SESSION_BUS_ADDRESS
      trap 'kill "$bus_pid" 2>/dev/null' EXIT
      "$bin/vesk" "$@"
      exit
    fi
    exec "$bin/vesk" "$@"
    ;;
  test)
    for preset in "$release" "$debug"; do
      echo "== $preset: build"
      build "$preset"
      echo "== $preset: test"
      ctest --preset "$preset"
    done
    ;;
esac
