#!/bin/sh
# Runs one Windows program under Wine for ctest and test discovery: the
# prefix comes from $WINEPREFIX (set by test.sh), Wine's own chatter is off
# unless the caller asks for a channel with $WINEDEBUG.
: "${WINEDEBUG:=-all}"
export WINEDEBUG
exec wine "$@"
