#!/usr/bin/env bash
# Developer entry point.
#   ./build.sh run [ARGS...]   build the release preset and run the main program
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

build() {
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1"
}

case "${1:-}" in
  check) echo "All prerequisites are present." ;;
  run)
    shift
    build "$release"
    exec "build/$release/tools/vesk/vesk" "$@"
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
    sed -n '2,8p' "$0" | sed 's/^# \{0,1\}//'
    exit 2
    ;;
esac
