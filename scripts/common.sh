# Shared by test.sh and demo.sh: installs what is missing, builds both trees,
# and brings a private Wine prefix (and an X server for windows and OpenGL)
# up and down. Sourced, not run.
#
# KESTRIN_BUILD   build folder (default: build/ beside this tree)
# KESTRIN_DISPLAY X display number for the private Xvfb (default: 87)

KESTRIN_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
KESTRIN_BUILD=${KESTRIN_BUILD:-$KESTRIN_ROOT/build}
KESTRIN_DISPLAY=${KESTRIN_DISPLAY:-87}
export WINEPREFIX="$KESTRIN_BUILD/wine-prefix"
export WINEDLLOVERRIDES="mscoree,mshtml=" # no Mono or Gecko prompts
export DISPLAY=":$KESTRIN_DISPLAY"
JOBS=$(nproc 2>/dev/null || echo 4)

say() { printf '== %s\n' "$*"; }

kestrin_install() {
  local need=()
  command -v i686-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-i686)
  command -v cmake >/dev/null || need+=(cmake)
  command -v g++ >/dev/null || need+=(g++)
  [ -f /usr/src/googletest/CMakeLists.txt ] || need+=(googletest)
  command -v Xvfb >/dev/null || need+=(xvfb)
  command -v xwd >/dev/null || need+=(x11-apps)
  command -v convert >/dev/null || need+=(imagemagick)
  dpkg -s wine32:i386 >/dev/null 2>&1 || need+=(wine wine32:i386 wine64)
  dpkg -s libgl1-mesa-dri:i386 >/dev/null 2>&1 || need+=(mesa-utils libgl1:i386 libgl1-mesa-dri:i386)
  [ ${#need[@]} -eq 0 ] && return 0
  say "installing ${need[*]}"
  local sudo=""
  [ "$(id -u)" = 0 ] || sudo=sudo
  dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
}

kestrin_build() {
  say "building (Win32, MinGW-w64 i686)"
  cmake -S "$KESTRIN_ROOT" -B "$KESTRIN_BUILD/win32" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_TOOLCHAIN_FILE="$KESTRIN_ROOT/cmake/mingw-i686.cmake" >/dev/null
  cmake --build "$KESTRIN_BUILD/win32" -j "$JOBS" -- --no-print-directory >/dev/null
  say "building (native, sanitizers)"
  cmake -S "$KESTRIN_ROOT" -B "$KESTRIN_BUILD/native" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$KESTRIN_BUILD/native" -j "$JOBS" -- --no-print-directory >/dev/null
}

# Installs what is missing and builds both trees; a failure of either ends the
# calling script (call it as a plain command, not inside a condition).
kestrin_prepare() {
  local errexit=+e
  [[ $- == *e* ]] && errexit=-e
  set -e
  kestrin_install
  kestrin_build
  set $errexit
}

# Starts the X server, the prefix's wineserver (persistent, so every program
# after the first starts in milliseconds) and Wine's own background programs
# with their output in a log of their own, so they never hold a test's pipe.
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
    WINEDEBUG=-all wineboot -i >"$KESTRIN_BUILD/wineboot.log" 2>&1
    # Let the set-up's own server and its services end first: a service
    # manager left over from the set-up never starts a service (every start
    # times out with 1053).
    wineserver -w
  fi
  wineserver -p
  WINEDEBUG=-all,warn+debugstr,trace+eventlog wine cmd /c exit >"$KESTRIN_BUILD/wine-start.log" 2>&1 &
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
