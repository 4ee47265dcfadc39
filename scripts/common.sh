# Shared by test.sh, demo.sh and bench.sh: installs what is missing, builds
# the three trees, finds out which Windows builds this machine runs, and brings
# a private Wine prefix (and an X server for windows and OpenGL) up and down.
# Sourced, not run.
#
# KESTRIN_BUILD    build folder (default: build/ beside this tree)
# KESTRIN_DISPLAY  X display number for the private Xvfb (default: 87)
# KESTRIN_NO_32BIT set to 1 to act as on a machine that cannot run 32-bit
#                  programs: Wine's 32-bit loader, /usr/bin/wine, wineboot and
#                  winepath then fail with "Exec format error" for these
#                  scripts and their tests
#
# The trees: build/win32 (Windows x86), build/win64 (Windows x64), both built
# on every machine, and build/native (the code without windows.h, under the
# sanitizers).

KESTRIN_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
KESTRIN_BUILD=${KESTRIN_BUILD:-$KESTRIN_ROOT/build}
KESTRIN_DISPLAY=${KESTRIN_DISPLAY:-87}
export WINEPREFIX="$KESTRIN_BUILD/wine-prefix"
export WINEDLLOVERRIDES="mscoree,mshtml=" # no Mono or Gecko prompts
export DISPLAY=":$KESTRIN_DISPLAY"
JOBS=$(nproc 2>/dev/null || echo 4)

# Wine's two loaders. /usr/bin/wine, wineboot and winepath all go through the
# 32-bit one, so nothing here calls them: x64 programs start with the 64-bit
# loader itself (testing/wine-run.sh).
export KESTRIN_WINE32=${KESTRIN_WINE32:-/usr/lib/wine/wine}
export KESTRIN_WINE64=${KESTRIN_WINE64:-/usr/lib/wine/wine64}
KESTRIN_WINDOWS_BUILDS="win32 win64"

say() { printf '== %s\n' "$*"; }

# The Windows architecture of a build folder's programs: x86 or x64.
kestrin_arch() {
  case "$1" in
    win32) echo x86 ;;
    win64) echo x64 ;;
    *) echo "unknown Windows build '$1'" >&2; return 2 ;;
  esac
}

# kestrin_run BUILD PROGRAM ARGS...: runs a Windows program with the Wine
# loader of that build (win32 or win64).
kestrin_run() {
  local arch
  arch=$(kestrin_arch "$1") || return 2
  shift
  "$KESTRIN_ROOT/testing/wine-run.sh" "$arch" "$@"
}

# The Windows path of a Unix path, as Wine sees it (the Unix root is drive
# Z:); no winepath, which needs the 32-bit loader.
kestrin_winpath() {
  local path
  path=$(realpath -m "$1")
  printf 'Z:%s\n' "${path//\//\\}"
}

# Every tool is judged by its Debian package, never by a name on the PATH: a
# machine may carry a program of the same name that is not the tool (a
# `convert` that is not ImageMagick, say).
KESTRIN_PACKAGES=(
  g++ cmake googletest                       # the native build and its tests
  g++-mingw-w64-i686 g++-mingw-w64-x86-64    # the Windows builds (-posix compilers)
  wine wine32:i386 wine64                    # both loaders: the 32-bit one installs even where it cannot run
  libgl1:i386 libgl1-mesa-dri:i386 libgl1:amd64 libgl1-mesa-dri:amd64 mesa-utils  # OpenGL for both
  xvfb x11-apps imagemagick                  # the X server, xwd and convert for screenshots
  locales                                    # the German users' locales (below)
)

# The locales of the tests of German users: Wine takes the user's language
# from LC_ALL only where the system has that locale (a fresh machine has C,
# C.utf8 and POSIX alone).
KESTRIN_LOCALES=(de_DE.UTF-8 de_CH.UTF-8)

# kestrin_as_root COMMAND ARGS...: runs the command as root (through sudo
# when this shell is not root).
kestrin_as_root() {
  if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi
}

# kestrin_package_installed NAME: true when dpkg has the package installed.
kestrin_package_installed() {
  [ "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null)" = "install ok installed" ]
}

kestrin_install() {
  local need=() pkg
  for pkg in "${KESTRIN_PACKAGES[@]}"; do
    kestrin_package_installed "$pkg" || need+=("$pkg")
  done
  [ ${#need[@]} -eq 0 ] && return 0
  say "installing ${need[*]}"
  dpkg --print-foreign-architectures | grep -qx i386 || kestrin_as_root dpkg --add-architecture i386
  kestrin_as_root apt-get update -qq
  kestrin_as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
}

# kestrin_locale_present NAME: true when the system has the locale made
# (de_DE.UTF-8 is listed as de_DE.utf8).
kestrin_locale_present() {
  locale -a 2>/dev/null | grep -qix "${1%%.*}\.utf-\?8"
}

# Makes the locales of KESTRIN_LOCALES that are missing: each line enabled in
# /etc/locale.gen, then locale-gen.
kestrin_make_locales() {
  local need=() name
  for name in "${KESTRIN_LOCALES[@]}"; do
    kestrin_locale_present "$name" || need+=("$name")
  done
  [ ${#need[@]} -eq 0 ] && return 0
  say "making the locales ${need[*]}"
  for name in "${need[@]}"; do
    if grep -qE "^# *${name//./\\.} UTF-8\$" /etc/locale.gen; then
      kestrin_as_root sed -i -E "s/^# *(${name//./\\.} UTF-8)\$/\1/" /etc/locale.gen
    elif ! grep -qE "^${name//./\\.} UTF-8\$" /etc/locale.gen; then
      echo "$name UTF-8" | kestrin_as_root tee -a /etc/locale.gen >/dev/null
    fi
  done
  kestrin_as_root locale-gen >/dev/null
}

kestrin_build() {
  local build toolchain
  for build in $KESTRIN_WINDOWS_BUILDS; do
    case "$build" in
      win32) toolchain=mingw-i686 ;;
      win64) toolchain=mingw-x86_64 ;;
    esac
    say "building ($build: Windows $(kestrin_arch "$build"), MinGW-w64 ${toolchain#mingw-})"
    cmake -S "$KESTRIN_ROOT" -B "$KESTRIN_BUILD/$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
          -DCMAKE_TOOLCHAIN_FILE="$KESTRIN_ROOT/cmake/$toolchain.cmake" >/dev/null
    cmake --build "$KESTRIN_BUILD/$build" -j "$JOBS" -- --no-print-directory >/dev/null
  done
  say "building (native, sanitizers)"
  cmake -S "$KESTRIN_ROOT" -B "$KESTRIN_BUILD/native" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$KESTRIN_BUILD/native" -j "$JOBS" -- --no-print-directory >/dev/null
}

# With KESTRIN_NO_32BIT=1: stand-ins for the 32-bit loader and the commands
# that go through it, failing as they do on a machine without 32-bit
# execution.
kestrin_pretend_no_32bit() {
  local bin="$KESTRIN_BUILD/no-32bit"
  mkdir -p "$bin"
  local name
  for name in wine wine32 wine-stable wineboot winepath winecfg; do
    cat >"$bin/$name" <<EOF
#!/bin/sh
echo "$name: cannot execute binary file: Exec format error (KESTRIN_NO_32BIT=1)" >&2
exit 126
EOF
    chmod +x "$bin/$name"
  done
  export PATH="$bin:$PATH"
  export KESTRIN_WINE32="$bin/wine32"
}

# Finds out which Windows builds this machine runs by starting the 32-bit
# loader. Sets KESTRIN_RUN_BUILDS (the builds whose programs run here, x64
# last) and, when the x86 build cannot run, KESTRIN_UNRUN_REASON.
kestrin_detect_machine() {
  [ "${KESTRIN_NO_32BIT:-0}" = 1 ] && kestrin_pretend_no_32bit
  local out
  KESTRIN_UNRUN_REASON=""
  if out=$("$KESTRIN_WINE32" --version 2>&1); then
    KESTRIN_RUN_BUILDS="win32 win64"
  else
    KESTRIN_RUN_BUILDS="win64"
    # The shell's own words end with the system's reason ("... binary file:
    # Exec format error"): keep that.
    out=$(printf '%s' "$out" | tail -n 1)
    KESTRIN_UNRUN_REASON="this machine cannot run 32-bit programs ($KESTRIN_WINE32: ${out##*: })"
  fi
}

# kestrin_runs BUILD: true when this machine runs that build's programs.
kestrin_runs() { [[ " $KESTRIN_RUN_BUILDS " == *" $1 "* ]]; }

# Installs what is missing, builds the trees and finds out what the machine
# runs; a failure ends the calling script (call it as a plain command, not
# inside a condition).
kestrin_prepare() {
  local errexit=+e
  [[ $- == *e* ]] && errexit=-e
  set -e
  kestrin_install
  kestrin_make_locales
  kestrin_build
  kestrin_detect_machine
  set $errexit
}

# Starts the X server, the prefix's wineserver (persistent, so every program
# after the first starts in milliseconds) and Wine's own background programs
# with their output in a log of their own, so they never hold a test's pipe.
# Everything goes through the 64-bit loader, which runs on every machine: the
# prefix is a 64-bit one, with 32-bit support (WoW64) where the 32-bit loader
# runs.
kestrin_wine_up() {
  # A display whose server still runs is reused; a stale socket or lock left
  # by a server that died is cleared first.
  local lock="/tmp/.X$KESTRIN_DISPLAY-lock" owner=""
  [ -f "$lock" ] && owner=$(tr -dc 0-9 <"$lock")
  if [ -z "$owner" ] || ! kill -0 "$owner" 2>/dev/null; then
    rm -f "$lock" "/tmp/.X11-unix/X$KESTRIN_DISPLAY"
    Xvfb "$DISPLAY" -screen 0 1280x1024x24 -nolisten tcp >"$KESTRIN_BUILD/xvfb.log" 2>&1 &
    KESTRIN_XVFB_PID=$!
    for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$KESTRIN_DISPLAY" ] && break; sleep 0.1; done
  fi
  mkdir -p "$WINEPREFIX"
  if ! [ -f "$WINEPREFIX/system.reg" ]; then
    say "creating the Wine prefix $WINEPREFIX"
    WINEDEBUG=-all kestrin_run win64 wineboot -i >"$KESTRIN_BUILD/wineboot.log" 2>&1
    # Let the set-up's own server and its services end first: a service
    # manager left over from the set-up never starts a service (every start
    # times out with 1053).
    wineserver -w
  fi
  wineserver -p
  WINEDEBUG=-all,warn+debugstr,trace+eventlog kestrin_run win64 cmd /c exit \
    >"$KESTRIN_BUILD/wine-start.log" 2>&1 &
  wait $! || true
}

kestrin_wine_down() {
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  if [ -n "${KESTRIN_XVFB_PID:-}" ]; then
    kill "$KESTRIN_XVFB_PID" 2>/dev/null || true
    wait "$KESTRIN_XVFB_PID" 2>/dev/null || true
  fi
}
