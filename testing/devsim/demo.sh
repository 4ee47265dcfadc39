#!/usr/bin/env bash
# Plays the default recording into KestrinSvcSim.exe and prints, once a
# second, what a reader of record 1 of the shared section sees; then removes
# the service again. Uses the build folder and display of scripts/common.sh
# (KESTRIN_BUILD, KESTRIN_DISPLAY); builds first.
set -uo pipefail
. "$(dirname "$0")/../../scripts/common.sh"
set -e
kestrin_install
kestrin_build
set +e
trap kestrin_wine_down EXIT
kestrin_wine_up
bin="$KESTRIN_BUILD/win32"
recording="$KESTRIN_ROOT/testing/devsim/recordings/default.kds"
say "device simulator: playing $(basename "$recording")"
WINEDEBUG=-all wine "$bin/testing/KestrinDeviceSim.exe" "$(winepath -w "$recording")" &
sim=$!
sleep 1
say "installing and starting KestrinSvcSim"
WINEDEBUG=-all wine "$bin/service/KestrinSvcSim.exe" -i
say "what a reader of record 1 sees"
WINEDEBUG=-all wine "$bin/testing/KestrinMotionPeek.exe" 6 1000
say "removing the service"
WINEDEBUG=-all wine "$bin/service/KestrinSvcSim.exe" -u
wait "$sim"
