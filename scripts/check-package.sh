#!/usr/bin/env bash
# Checks what users of VeskMath get: builds the release, stages `cmake --install` under the
# build directory, builds and runs both examples against the staged tree (CMake package and
# pkg-config) and the README's static link, builds the Debian packages with cpack and, as root
# with apt-get (CI), installs them, runs the programs from /usr/bin, builds the examples
# against /usr and purges them again. Packages that were installed before are left alone
# (the install step is then skipped).
#
#   scripts/check-package.sh [--no-install] [BUILD_DIR]     (default BUILD_DIR: build/pkg)
# A BUILD_DIR that is already configured (build/release) is used as it is.
#
# Exit status 0 when every check passed; the failing step is named otherwise.
set -euo pipefail

src=$(cd "$(dirname "$0")/.." && pwd)
install_deb=auto
build=""
for arg in "$@"; do
  case "$arg" in
    --no-install) install_deb=no ;;
    -h|--help) sed -n '2,12p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "check-package: unknown option $arg" >&2; exit 2 ;;
    *) build=$arg ;;
  esac
done
build=${build:-$src/build/pkg}
mkdir -p "$build"
build=$(cd "$build" && pwd)
stage=$build/stage
work=$build/package-check
jobs=${VESKMATH_JOBS:-2}

t0=$SECONDS
step_start=$SECONDS
step() {
  echo "== check-package: $* (after $((SECONDS - t0)) s)"
  step_start=$SECONDS
}
fail() { echo "check-package: FAILED: $*" >&2; exit 1; }

# expect NAME EXPECTED COMMAND...: runs the command and compares its standard output.
expect() {
  local name=$1 want=$2 got
  shift 2
  got=$("$@") || fail "$name: exit status $? from: $*"
  if [ "$got" != "$want" ]; then
    printf 'check-package: %s printed:\n%s\nexpected:\n%s\n' "$name" "$got" "$want" >&2
    fail "$name: unexpected output"
  fi
  echo "   ok: $name"
}

eval_output='x=1: (x+2i)*(x-i) = 3+i
x=2: (x+2i)*(x-i) = 6+2i
x=3: (x+2i)*(x-i) = 11+3i'
roots_output='z = -3+4i
roots: 1+2i and -1-2i
sqrt(z)^2 = -3+4i'

# Builds and runs both examples; $1 names the place, $2 is the prefix to search (empty for
# the system's own paths).
check_examples() {
  local where=$1 prefix=$2 dir=$work/examples-$1
  rm -rf "$dir"
  mkdir -p "$dir"
  local cmake_args=(-S "$src/examples/find-package" -B "$dir/find-package" -G Ninja
                    -DCMAKE_BUILD_TYPE=Release)
  [ -n "$prefix" ] && cmake_args+=(-DCMAKE_PREFIX_PATH="$prefix")
  cmake "${cmake_args[@]}" >"$dir/find-package.log" 2>&1 ||
    { cat "$dir/find-package.log" >&2; fail "find_package example ($where): configure"; }
  cmake --build "$dir/find-package" >>"$dir/find-package.log" 2>&1 ||
    { cat "$dir/find-package.log" >&2; fail "find_package example ($where): build"; }
  expect "find_package example, shared ($where)" "$eval_output" "$dir/find-package/eval"
  expect "find_package example, static ($where)" "$eval_output" "$dir/find-package/eval_static"
  if [ -n "$prefix" ]; then
    # The shared one must have taken the library from the prefix, not from anywhere else.
    # (ldd's output is read whole: with pipefail, grep -q ending first fails the pipe.)
    grep -q "$prefix/.*libveskmath.so.0" <<<"$(ldd "$dir/find-package/eval")" ||
      fail "find_package example ($where) does not load $prefix's libveskmath.so.0"
  fi

  cp -r "$src/examples/pkg-config" "$dir/pkg-config"
  local pc_path=${prefix:+$prefix/lib/pkgconfig}
  make -s -C "$dir/pkg-config" PKG_CONFIG_PATH="$pc_path" >"$dir/pkg-config.log" 2>&1 ||
    { cat "$dir/pkg-config.log" >&2; fail "pkg-config example ($where): build"; }
  expect "pkg-config example ($where)" "$roots_output" "$dir/pkg-config/roots"

  # The README's static link: the archive named on the command line, no other flag.
  local archive=${prefix:-/usr}/lib/libveskmath.a
  [ -e "$archive" ] || archive=$(dpkg -L veskmath 2>/dev/null | grep '/libveskmath\.a$' | head -1)
  # shellcheck disable=SC2046 # the flags are words
  g++ -std=c++20 -o "$dir/roots-static" "$src/examples/pkg-config/roots.cpp" \
    $(PKG_CONFIG_PATH="$pc_path" pkg-config --cflags veskmath) "$archive" ||
    fail "static link of $archive ($where)"
  expect "static link, no extra flags ($where)" "$roots_output" "$dir/roots-static"
}

# Runs the programs in $2 with a scratch home, registry and temporary directory: the
# calculator, the registry tool, and when veskmath is there its registration, the install
# dialog answered by a script, vesk converting through the server started on demand (also
# at a terminal), and the uninstall.
# At a terminal an interactive program ($1, a command line) says how to leave, and "exit"
# leaves.
at_terminal() {
  local said
  said=$(printf 'exit\n' | timeout 30 script -qec "$1" /dev/null) ||
    fail "$2 at a terminal did not end on exit ($where)"
  grep -q 'exit.*to leave' <<<"$said" ||
    { printf '%s\n' "$said" >&2; fail "$2 at a terminal does not say how to leave ($where)"; }
  echo "   ok: $2 at a terminal says how to leave, and exit ends it ($where)"
}

check_programs() (
  local where=$1 bin=$2 home=$work/home-$1
  rm -rf "$home"
  mkdir -p "$home/tmp"
  export HOME=$home TMPDIR=$home/tmp XDG_CONFIG_HOME=$home/.config XDG_DATA_HOME=$home/.local/share
  unset VESKMATH_REGISTRY
  for prog in qelcalc vesk vreg; do
    "$bin/$prog" --help >/dev/null || fail "$bin/$prog --help"
  done
  echo "   ok: qelcalc, vesk and vreg --help ($where)"
  expect "qelcalc 1+2 ($where)" "3" "$bin/qelcalc" 1+2
  at_terminal "$bin/qelcalc" qelcalc
  [ -x "$bin/veskmath" ] || { echo "   (no veskmath program: server checks skipped)"; return 0; }

  timeout 30 "$bin/veskmath" /regserver </dev/null || fail "veskmath /regserver ($where)"
  local clsid
  clsid=$("$bin/vreg" query 'HKCR\VeskMath.FuVeskMath\CLSID' /ve | awk '/REG_SZ/ { print $NF }')
  [ -n "$clsid" ] || fail "veskmath /regserver wrote no ProgID entry ($where)"
  "$bin/vreg" query "HKCR\\CLSID\\$clsid\\LocalServer32" /ve |
    grep -qF "$bin/veskmath /Automation" || fail "the registered server is not $bin/veskmath"
  echo "   ok: veskmath /regserver registers $bin/veskmath /Automation"

  # The input method's own key, which the dialog expects to find.
  "$bin/vreg" add 'HKLM\SOFTWARE\Orbanel\Vesk' >/dev/null
  printf 'install\nclose\n' | timeout 30 "$bin/veskmath" >"$home/install.txt" ||
    fail "the install dialog ($where)"
  grep -qF 'インストールが完了しました。' "$home/install.txt" ||
    { cat "$home/install.txt" >&2; fail "the install dialog did not install ($where)"; }
  "$bin/vreg" query 'HKLM\SOFTWARE\Orbanel\Vesk\01' /v ID | grep -qF VeskMath.FuVeskMath ||
    fail "the install dialog wrote no host entry ($where)"
  echo "   ok: the install dialog adds the plug-in ($where)"
  expect "vesk through the server ($where)" "1+2= 3
3
9" timeout 30 dbus-run-session -- "$bin/vesk" '1+2=' 'b:=3' 'b*b'
  at_terminal "dbus-run-session -- $bin/vesk" vesk
  printf 'uninstall\nclose\n' | timeout 30 "$bin/veskmath" >"$home/uninstall.txt" ||
    fail "the install dialog, uninstall ($where)"
  grep -qF 'アンインストールが完了しました。' "$home/uninstall.txt" ||
    { cat "$home/uninstall.txt" >&2; fail "the install dialog did not uninstall ($where)"; }
  # The dialog starts "veskmath /UnRegserver" without waiting for it.
  local i
  for i in $(seq 50); do
    "$bin/vreg" query 'HKCR\VeskMath.FuVeskMath' >/dev/null 2>&1 || break
    sleep 0.1
  done
  "$bin/vreg" query 'HKCR\VeskMath.FuVeskMath' >/dev/null 2>&1 &&
    fail "the class is still registered after uninstall ($where)"
  echo "   ok: uninstall removes the entry and the class ($where)"
)

step "release build in $build"
if [ -f "$build/CMakeCache.txt" ]; then
  grep -qx 'CMAKE_BUILD_TYPE:STRING=Release' "$build/CMakeCache.txt" ||
    fail "$build is no release build"
else
  cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVESKMATH_TESTS=OFF \
    -DVESKMATH_WERROR="${VESKMATH_WERROR:-OFF}" >"$build/check-configure.log" 2>&1 ||
    { cat "$build/check-configure.log" >&2; fail "configure"; }
fi
cmake --build "$build" -j "$jobs" --target vm_install_set || fail "build"

step "staged install in $stage"
rm -rf "$stage" "$work"
mkdir -p "$work"
cmake --install "$build" --prefix "$stage" >"$work/install.log" || fail "cmake --install"
for f in lib/libveskmath.a lib/libveskmath.so lib/libveskmath.so.0 \
         lib/libveskmath.so.0.1.0 lib/pkgconfig/veskmath.pc \
         lib/cmake/VeskMath/VeskMathConfig.cmake lib/cmake/VeskMath/VeskMathConfigVersion.cmake \
         include/veskmath/math/Math387.h include/veskmath/parser/QelParseExpr.h \
         include/veskmath/vocabulary/Vocabulary.h include/veskmath/platform/rtl/SysUtils.h \
         bin/qelcalc share/man/man1/qelcalc.1; do
  [ -e "$stage/$f" ] || fail "the staged install lacks $f"
done
soname=$(objdump -p "$stage/lib/libveskmath.so.0.1.0" | awk '$1 == "SONAME" { print $2 }')
[ "$soname" = libveskmath.so.0 ] || fail "SONAME is '$soname', not libveskmath.so.0"
# Every installed header compiles with the installed include folder alone: none of them may
# reach for a header that is not installed.
(cd "$stage/include/veskmath" && find . -name '*.h' | sort | sed 's|^\./\(.*\)|#include "\1"|') \
  >"$work/all-headers.cpp"
g++ -std=c++20 -fsyntax-only -I"$stage/include/veskmath" "$work/all-headers.cpp" ||
  fail "the installed headers do not compile on their own"
echo "   ok: $(wc -l <"$work/all-headers.cpp") headers compile from the staged include folder"

# The Fcitx5 add-on, when this build has it: in Fcitx5's own places under the prefix.
addon_built=no
[ -e "$build/tools/fcitx5/veskmath.so" ] && addon_built=yes
if [ $addon_built = yes ]; then
  addon_so=""
  for f in "$stage"/lib/*/fcitx5/veskmath.so "$stage"/lib/fcitx5/veskmath.so; do
    [ -e "$f" ] && addon_so=${f#"$stage/"}
  done
  [ -n "$addon_so" ] || fail "the staged install lacks the Fcitx5 add-on (lib/.../fcitx5/veskmath.so)"
  [ -e "$stage/share/fcitx5/addon/veskmath.conf" ] ||
    fail "the staged install lacks share/fcitx5/addon/veskmath.conf"
  grep -qx 'Library=veskmath' "$stage/share/fcitx5/addon/veskmath.conf" ||
    fail "veskmath.conf does not name the library veskmath"
  echo "   ok: the Fcitx5 add-on at $addon_so and share/fcitx5/addon/veskmath.conf"
fi
# The IBus engine, when this build has it: the program under libexec, its component file in
# IBus's folder naming that program and an icon that exist under the prefix.
engine_built=no
[ -e "$build/bin/ibus-engine-veskmath" ] && engine_built=yes
if [ $engine_built = yes ]; then
  xml=$stage/share/ibus/component/veskmath.xml
  [ -x "$stage/libexec/ibus-engine-veskmath" ] || fail "the staged install lacks libexec/ibus-engine-veskmath"
  [ -e "$xml" ] || fail "the staged install lacks share/ibus/component/veskmath.xml"
  grep -qF "<exec>$stage/libexec/ibus-engine-veskmath --ibus</exec>" "$xml" ||
    fail "veskmath.xml does not start $stage/libexec/ibus-engine-veskmath --ibus"
  icon=$(sed -n 's|.*<icon>\(.*\)</icon>.*|\1|p' "$xml")
  [ -e "$icon" ] && [ "${icon#"$stage"/}" != "$icon" ] || fail "veskmath.xml names the icon '$icon'"
  echo "   ok: the IBus engine at libexec/ibus-engine-veskmath and share/ibus/component/veskmath.xml"
fi
# The hosts' translations go with the programs, whichever host uses them.
catalogue=no
[ -e "$build/locale/ja/LC_MESSAGES/veskmath.mo" ] && catalogue=yes
if [ $catalogue = yes ]; then
  [ -e "$stage/share/locale/ja/LC_MESSAGES/veskmath.mo" ] ||
    fail "the staged install lacks share/locale/ja/LC_MESSAGES/veskmath.mo"
fi

step "programs of the staged install"
check_programs staged "$stage/bin"

step "examples against the staged install"
check_examples staged "$stage"

step "Debian package"
packages=$build/packages
rm -f "$packages"/veskmath_*.deb "$packages"/fcitx5-veskmath_*.deb "$packages"/ibus-veskmath_*.deb
(cd "$build" && cpack -G DEB >"$work/cpack.log" 2>&1) ||
  { cat "$work/cpack.log" >&2; fail "cpack -G DEB"; }
if grep -i 'warning' "$work/cpack.log" >&2; then fail "cpack warned (above)"; fi
deb=$(ls "$packages"/veskmath_*.deb)
for field in Package Version Architecture Maintainer Depends Recommends; do
  echo "   $field: $(dpkg-deb --field "$deb" "$field")"
done
# Each commit's packages have a version of their own, later than the last commit's, so that
# installing them replaces what an earlier build installed.
version=$(dpkg-deb --field "$deb" Version)
if git -C "$src" rev-parse HEAD >/dev/null 2>&1; then
  commits=$(git -C "$src" rev-list --count HEAD)
  head=$(git -C "$src" rev-parse --short=7 HEAD)
  case "$version" in
    *"+git$commits.g$head" | *"+"*".g$head") ;;
    *) fail "the package version $version does not name the commit $head" ;;
  esac
  dpkg --compare-versions "$version" gt "$(sed -n 's/^project(VeskMath VERSION \([0-9.]*\).*/\1/p' "$src/CMakeLists.txt")" ||
    fail "the package version $version is not later than the bare project version"
fi
dpkg-deb --info "$deb" shlibs | grep -q "^libveskmath 0 veskmath (>= $version)" ||
  fail "the package's shlibs entry does not name libveskmath"
depends=$(dpkg-deb --field "$deb" Depends)
for need in libc6 libstdc++6 libgcc-s1; do
  case "$depends" in *"$need"*) ;; *) fail "the package does not depend on $need" ;; esac
done
dpkg-deb --contents "$deb" >"$work/deb-contents.txt"
for f in ./usr/bin/qelcalc ./usr/lib/libveskmath.so.0.1.0 ./usr/lib/pkgconfig/veskmath.pc \
         ./usr/include/veskmath/math/Math387.h ./usr/share/man/man1/qelcalc.1; do
  grep -q " $f\$" "$work/deb-contents.txt" || fail "the package lacks $f"
done
if [ $catalogue = yes ]; then
  grep -q ' ./usr/share/locale/ja/LC_MESSAGES/veskmath.mo$' "$work/deb-contents.txt" ||
    fail "the package lacks the hosts' Japanese catalogue"
fi
# Nothing installed may lean on the source or build tree (a path compiled in, a run path).
dpkg-deb --extract "$deb" "$work/deb-root"
if leaning=$(grep -rlF -e "$src" -e "$build" "$work/deb-root"); then
  fail "these installed files name the source or build tree: $leaning"
fi
echo "   ok: $(basename "$deb")"
addon_deb=""
if [ $addon_built = yes ]; then
  addon_deb=$(ls "$packages"/fcitx5-veskmath_*.deb) || fail "cpack made no fcitx5-veskmath package"
  addon_depends=$(dpkg-deb --field "$addon_deb" Depends)
  echo "   Depends: $addon_depends"
  # Its own description (summary line included), and nothing it does not use recommended.
  [ "$(dpkg-deb --field "$addon_deb" Description | head -1)" != \
    "$(dpkg-deb --field "$deb" Description | head -1)" ] ||
    fail "fcitx5-veskmath has the summary line of veskmath"
  dpkg-deb --field "$addon_deb" Description | grep -q Fcitx5 ||
    fail "the description of fcitx5-veskmath does not speak of Fcitx5"
  [ -z "$(dpkg-deb --field "$addon_deb" Recommends)" ] ||
    fail "fcitx5-veskmath recommends $(dpkg-deb --field "$addon_deb" Recommends)"
  case "$addon_depends" in *"veskmath (= $(dpkg-deb --field "$deb" Version))"*) ;;
    *) fail "fcitx5-veskmath does not depend on this veskmath" ;; esac
  case "$addon_depends" in *"fcitx5 (>= "*) ;; *) fail "fcitx5-veskmath does not depend on fcitx5" ;; esac
  dpkg-deb --contents "$addon_deb" >"$work/addon-contents.txt"
  grep -q ' ./usr/lib/.*fcitx5/veskmath.so$' "$work/addon-contents.txt" &&
    grep -q ' ./usr/share/fcitx5/addon/veskmath.conf$' "$work/addon-contents.txt" ||
    fail "fcitx5-veskmath lacks the add-on or its veskmath.conf"
  dpkg-deb --extract "$addon_deb" "$work/addon-root"
  if leaning=$(grep -rlF -e "$src" -e "$build" "$work/addon-root"); then
    fail "these installed files name the source or build tree: $leaning"
  fi
  echo "   ok: $(basename "$addon_deb")"
fi
engine_deb=""
if [ $engine_built = yes ]; then
  engine_deb=$(ls "$packages"/ibus-veskmath_*.deb) || fail "cpack made no ibus-veskmath package"
  engine_depends=$(dpkg-deb --field "$engine_deb" Depends)
  echo "   Depends: $engine_depends"
  dpkg-deb --field "$engine_deb" Description | grep -q IBus ||
    fail "the description of ibus-veskmath does not speak of IBus"
  case "$engine_depends" in *"veskmath (= $(dpkg-deb --field "$deb" Version))"*) ;;
    *) fail "ibus-veskmath does not depend on this veskmath" ;; esac
  case "$engine_depends" in *"ibus (>= "*) ;; *) fail "ibus-veskmath does not depend on ibus" ;; esac
  dpkg-deb --contents "$engine_deb" >"$work/engine-contents.txt"
  for f in ./usr/libexec/ibus-engine-veskmath ./usr/share/ibus/component/veskmath.xml \
           ./usr/share/ibus-veskmath/icons/veskmath.svg; do
    grep -q " $f\$" "$work/engine-contents.txt" || fail "ibus-veskmath lacks $f"
  done
  dpkg-deb --extract "$engine_deb" "$work/engine-root"
  grep -qF '<exec>/usr/libexec/ibus-engine-veskmath --ibus</exec>' \
    "$work/engine-root/usr/share/ibus/component/veskmath.xml" ||
    fail "ibus-veskmath's component file does not start /usr/libexec/ibus-engine-veskmath"
  if leaning=$(grep -rlF -e "$src" -e "$build" "$work/engine-root"); then
    fail "these installed files name the source or build tree: $leaning"
  fi
  echo "   ok: $(basename "$engine_deb")"
fi

if [ "$install_deb" = auto ] && [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null; then
  step "install the package with apt-get"
  remove_package() {
    DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq ibus-veskmath fcitx5-veskmath veskmath \
      >/dev/null 2>&1 || true
  }
  for name in veskmath fcitx5-veskmath ibus-veskmath; do
    if [ -n "$(dpkg-query -W -f='${Status}' "$name" 2>/dev/null)" ]; then
      # Someone's installed package: not this check's to replace or remove.
      echo "== check-package: $name is installed on this machine: the packages are not installed"
      echo "check-package: all other checks passed in $((SECONDS - t0)) s"
      exit 0
    fi
  done
  trap remove_package EXIT
  # shellcheck disable=SC2086 # none, one or two more packages
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$deb" $addon_deb $engine_deb \
    >"$work/apt.log" 2>&1 ||
    { cat "$work/apt.log" >&2; fail "apt-get install $deb $addon_deb $engine_deb"; }
  check_programs installed /usr/bin
  if [ -n "$addon_deb" ]; then
    # Where the installed Fcitx5 looks for add-ons, every library the add-on needs found.
    installed_so=$(dpkg -L fcitx5-veskmath | grep '/fcitx5/veskmath.so$')
    ls "$(dirname "$installed_so")"/lib*.so >/dev/null 2>&1 ||
      fail "the add-on $installed_so is not in Fcitx5's add-on folder"
    if grep -q 'not found' <<<"$(ldd "$installed_so")"; then fail "the add-on lacks a library"; fi
    echo "   ok: fcitx5-veskmath installs $installed_so"
  fi
  if [ -n "$engine_deb" ]; then
    if grep -q 'not found' <<<"$(ldd /usr/libexec/ibus-engine-veskmath)"; then
      fail "the IBus engine lacks a library"
    fi
    # IBus itself finds it: a private ibus-daemon with the system's component folder lists it.
    ibus_home=$work/ibus-home
    mkdir -p "$ibus_home"
    listed=$(env -u IBUS_COMPONENT_PATH HOME="$ibus_home" XDG_CONFIG_HOME="$ibus_home/config" \
      XDG_CACHE_HOME="$ibus_home/cache" IBUS_ADDRESS="unix:path=$ibus_home/socket" \
      timeout 60 dbus-run-session -- sh -c '
        ibus-daemon --panel=disable --config=disable --emoji-extension=disable --cache=none \
          --address="$IBUS_ADDRESS" 2>/dev/null &
        daemon=$!
        for _ in $(seq 100); do
          ibus list-engine 2>/dev/null | grep -q "veskmath - VeskMath" && break
          sleep 0.1
        done
        ibus list-engine 2>/dev/null
        kill "$daemon"' 2>/dev/null) || true
    grep -q 'veskmath - VeskMath' <<<"$listed" || fail "ibus-daemon does not list the engine veskmath"
    echo "   ok: ibus-veskmath installs an engine that ibus-daemon lists"
  fi
  if command -v man >/dev/null; then
    man -w qelcalc >/dev/null 2>&1 || fail "man cannot find qelcalc(1)"
    echo "   ok: man -w qelcalc"
  fi
  step "examples against the installed package"
  check_examples installed ""
  step "remove the package"
  remove_package
  trap - EXIT
  [ ! -e /usr/bin/qelcalc ] && [ ! -e /usr/lib/libveskmath.so.0 ] &&
    [ ! -e /usr/share/fcitx5/addon/veskmath.conf ] &&
    [ ! -e /usr/share/ibus/component/veskmath.xml ] &&
    [ -z "$(dpkg-query -W -f='${Status}' veskmath 2>/dev/null)" ] ||
    fail "the package or its files are left after apt-get purge"
  echo "   ok: removed"
else
  echo "== check-package: the package is not installed (--no-install, or not root with apt-get)"
fi

echo "check-package: all checks passed in $((SECONDS - t0)) s"
