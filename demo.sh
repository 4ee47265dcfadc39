#!/usr/bin/env bash
# Shows the suite at work under Wine: installs what is missing, builds, brings
# up a private Wine prefix, then installs and starts the Kestrin service
# through the service control manager, shows that it runs and what it writes
# to the debugger output, stops and removes it; then runs the service on the
# device simulator with a reader of the section and a pipe client, and the
# blocks of scripts/demo_*.sh: the session agent, the motion monitor, a
# client of Kestrin1.dll, the properties program, its motion views, and the
# Control Panel applet with the whole suite installed (each block says what
# it shows and where its screenshots go); last it shuts Wine down.
# It runs the programs of the x64 build (build/win64), which every machine
# runs, and says so.
#   ./demo.sh
# KESTRIN_BUILD and KESTRIN_DISPLAY choose the build folder and X display
# (see scripts/common.sh).
set -uo pipefail
. "$(dirname "$0")/scripts/common.sh"
set -e
kestrin_prepare

DEMO_BUILD=win64
BIN="$KESTRIN_BUILD/$DEMO_BUILD"
SERVICE="$BIN/service/KestrinSvc.exe"
STATUS="$BIN/testing/KestrinServiceStatus.exe"
DEBUG_LOG="$BIN/testing/KestrinDebugLog.exe"
LOG="$KESTRIN_BUILD/demo-debug.log"
SIM_SERVICE="$BIN/service/KestrinSvcSim.exe"
DEVICE_SIM="$BIN/testing/KestrinDeviceSim.exe"
PEEK="$BIN/testing/KestrinMotionPeek.exe"
PIPE_CLIENT="$BIN/testing/KestrinPipeClient.exe"
PIPE_LOG="$KESTRIN_BUILD/demo-pipe.log"
RECORDING="$KESTRIN_ROOT/testing/devsim/recordings/default.kds"
export WINEDEBUG=-all

# The build's Wine runner, as a command (not a function), so that $! of a
# program started in the background is the program itself.
RUN=("$KESTRIN_ROOT/testing/wine-run.sh" "$(kestrin_arch "$DEMO_BUILD")")

# KestrinElf.exe where the interface library starts it: each program-files
# folder of the prefix + "\Pellmor Vastine\Kestrin" (64-bit and 32-bit
# clients look in different ones). Used by the agent, monitor and library blocks.
install_agent() {
  local dir
  for dir in "$WINEPREFIX/drive_c/Program Files" "$WINEPREFIX/drive_c/Program Files (x86)"; do
    [ -d "$dir" ] || continue
    mkdir -p "$dir/Pellmor Vastine/Kestrin"
    cp "$BIN/agent/KestrinElf.exe" "$dir/Pellmor Vastine/Kestrin/KestrinElf.exe"
    echo "  $dir/Pellmor Vastine/Kestrin/KestrinElf.exe"
  done
}

monitor_pid=""
sim_pid=""
finish() {
  # Never leave an automatic-start service behind: it would start with every
  # later Wine session of this prefix.
  "${RUN[@]}" "$SERVICE" -u >/dev/null 2>&1 || true
  if [ -n "$sim_pid" ]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  if [ -n "$monitor_pid" ]; then
    kill "$monitor_pid" 2>/dev/null || true
    wait "$monitor_pid" 2>/dev/null || true
  fi
  kestrin_wine_down
}
trap finish EXIT
kestrin_wine_up
say "the Windows $(kestrin_arch "$DEMO_BUILD") programs of $BIN"
if [ -n "$KESTRIN_UNRUN_REASON" ]; then say "(the x86 build does not run here: $KESTRIN_UNRUN_REASON)"; fi

say "debug output of every program in the prefix goes to $LOG"
"${RUN[@]}" "$DEBUG_LOG" >"$LOG" 2>&1 &
monitor_pid=$!
sleep 3  # the monitor owns the debug-output buffer once it has started

"${RUN[@]}" "$SERVICE" -u >/dev/null 2>&1 || true  # a service left by an earlier run

say "KestrinSvc.exe -i -v: install and start the service"
"${RUN[@]}" "$SERVICE" -i -v
sleep 1

say "the service as the service control manager sees it"
# Its texts are in the ANSI code page (the description's registered mark).
"${RUN[@]}" "$STATUS" | iconv -f WINDOWS-1252 -t UTF-8

say "a user control code (200): the service writes one debug line and runs on"
"${RUN[@]}" "$STATUS" control 200
say "a pause: the manager refuses it (the service does not accept pause)"
"${RUN[@]}" "$STATUS" control 2 || true

say "stop, then KestrinSvc.exe -u: remove it"
"${RUN[@]}" "$STATUS" stop
"${RUN[@]}" "$SERVICE" -u && echo "removed"
"${RUN[@]}" "$STATUS" || true

say "KestrinSvcSim.exe: the same service with the device simulator in place of the HID driver"
# KestrinDeviceSim plays the default recording (a few seconds of pushes,
# twists and scroll-hat moves); KestrinMotionPeek reads record 1 of the
# section as every client does.
"${RUN[@]}" "$DEVICE_SIM" "$(kestrin_winpath "$RECORDING")" &
sim_pid=$!
sleep 1
"${RUN[@]}" "$SIM_SERVICE" -i
# A pipe client, as the session agent is one: it prints the state messages
# the service sends while the recording plays, and sends a settings change
# (pan 0x9000, vertical-axis convention 1) that shows up in record 1.
"${RUN[@]}" "$PIPE_CLIENT" -t 6000 -r -l 0x9000 0x8000 0x8000 0x8000 -f 1 >"$PIPE_LOG" 2>&1 &
pipe_pid=$!
say "what a reader of record 1 sees, once a second"
"${RUN[@]}" "$PEEK" 6 1000
wait "$pipe_pid" 2>/dev/null || true
say "what the pipe client received and sent (\\\\.\\pipe\\KestrinPipe)"
cat "$PIPE_LOG"
"${RUN[@]}" "$SIM_SERVICE" -u && echo "removed"
wait "$sim_pid" 2>/dev/null || true
sim_pid=""

# ---- the session agent ----
. "$KESTRIN_ROOT/scripts/demo_agent.sh"
demo_agent

# ---- the motion monitor ----
. "$KESTRIN_ROOT/scripts/demo_monitor.sh"
demo_monitor

# ---- a client of the interface library Kestrin1.dll ----
. "$KESTRIN_ROOT/scripts/demo_library.sh"
demo_library

# ---- the properties program, its motion views, the Control Panel applet ----
for block in properties views applet; do
  . "$KESTRIN_ROOT/scripts/demo_$block.sh"
  "demo_$block"
done

sleep 1
say "debug lines received (process id, text)"
kill "$monitor_pid" 2>/dev/null || true
wait "$monitor_pid" 2>/dev/null || true
monitor_pid=""
cat "$LOG"
say "done"
