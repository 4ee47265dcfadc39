#!/bin/sh
# Runs one Windows program under Wine for ctest and test discovery:
#   wine-run.sh x86|x64 PROGRAM ARGS...
# An x64 program starts with Wine's 64-bit loader itself, never through
# /usr/bin/wine (the 32-bit loader, which cannot run on every machine). The
# prefix comes from $WINEPREFIX (set by test.sh); Wine's own chatter is off
# unless the caller asks for a channel with $WINEDEBUG. With
# $KESTRIN_REPORT_STATUS set (test.sh sets it for ctest), a program that ends
# with a status other than 0 gets one line on stderr with that status, so
# that a program that died before it printed anything still leaves a trace in
# the test log.
: "${WINEDEBUG:=-all}"
export WINEDEBUG
arch=$1
shift
case "$arch" in
  x64)
    # Wine starts a child of the other architecture with the loader named
    # after this one ("wine64" less its "64").
    WINELOADER=${KESTRIN_WINE64:-/usr/lib/wine/wine64}
    ;;
  x86)
    WINELOADER=${KESTRIN_WINE32:-/usr/lib/wine/wine} ;;
  *) echo "wine-run.sh: unknown architecture '$arch' (x86 or x64)" >&2; exit 2 ;;
esac
export WINELOADER
# Without the report, the loader takes this shell's place: a caller that
# stops the program by the process id it started reaches Wine itself.
[ -n "${KESTRIN_REPORT_STATUS:-}" ] || exec "$WINELOADER" "$@"
"$WINELOADER" "$@"
status=$?
if [ "$status" -ne 0 ]; then
  echo "wine-run.sh: $1 ended with status $status (the low byte of its exit code)" >&2
fi
exit "$status"
