#!/usr/bin/env bash
# Shows the suite at work under Wine: installs what is missing, builds, brings
# up a private Wine prefix, then installs and starts the Kestrin service
# through the service control manager, shows that it runs and what it writes
# to the debugger output, stops and removes it, and shuts Wine down.
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

# ---- the motion monitor ----
say "KestrinMonitor.exe: the live ball motion while the default recording plays"
# The service on the simulated device again, then the monitor, whose library
# connection starts the session agent from the program-files folder;
# screenshots of its window (topmost at 150, 150) are taken from the X server
# while the recording plays and after it ends, when the ball rests.
MONITOR="$BIN/monitor/KestrinMonitor.exe"
AGENT="$BIN/agent/KestrinElf.exe"
# Where a 64-bit and a 32-bit client look for the agent.
for folder in "Program Files" "Program Files (x86)"; do
  mkdir -p "$WINEPREFIX/drive_c/$folder/Pellmor Vastine/Kestrin"
  cp "$AGENT" "$WINEPREFIX/drive_c/$folder/Pellmor Vastine/Kestrin/KestrinElf.exe"
done
SHOTS="$KESTRIN_BUILD/demo-monitor"
rm -rf "$SHOTS" && mkdir -p "$SHOTS/frames"
shoot() { xwd -root -silent | convert xwd:- -crop 124x143+146+146 +repage "$1"; }
# Pixels of the spinner's corner (the lower left of the client area) that are
# green: the spinner is green while the ball moves, red at rest. Each line of
# ImageMagick's text format reads "x,y: (r,g,b) ...": fields 3 to 5.
spinner_green() {
  convert "$1" -crop 24x24+4+112 +repage txt:- |
    awk -F'[(),]' 'NR > 1 && $4 > 120 && $3 < 60 && $5 < 60 { n++ } END { print n + 0 }'
}
"${RUN[@]}" "$DEVICE_SIM" "$(kestrin_winpath "$RECORDING")" &
sim_pid=$!
sleep 1
"${RUN[@]}" "$SIM_SERVICE" -i
"${RUN[@]}" "$MONITOR" &
motion_monitor_pid=$!
for i in $(seq -w 1 24); do
  sleep 0.25
  shoot "$SHOTS/frames/frame-$i.png"
done
wait "$sim_pid" 2>/dev/null || true  # the recording is over, the device unplugged
sim_pid=""
sleep 1
shoot "$SHOTS/monitor-rest.png"
# In motion: of the frames with the green spinner, the one that differs most
# from the resting picture.
moving="" most=0
for frame in "$SHOTS"/frames/frame-*.png; do
  [ "$(spinner_green "$frame")" -gt 0 ] || continue
  differing=$(compare -metric AE "$SHOTS/monitor-rest.png" "$frame" null: 2>&1 || true)
  if [ "${differing%%.*}" -gt "$most" ] 2>/dev/null; then most=${differing%%.*} moving=$frame; fi
done
if [ -n "$moving" ]; then
  cp "$moving" "$SHOTS/monitor-moving.png"
  echo "in motion: $SHOTS/monitor-moving.png (green spinner, from $(basename "$moving"))"
else
  echo "no frame showed the green spinner; every frame is in $SHOTS/frames"
fi
echo "at rest:   $SHOTS/monitor-rest.png (red spinner)"
echo "all frames taken while the recording played: $SHOTS/frames"
"${RUN[@]}" "$SIM_SERVICE" -u && echo "service removed"
# Its pipe is broken now: the monitor ends by itself.
wait "$motion_monitor_pid" 2>/dev/null && echo "the monitor ended with the service's pipe"
"${RUN[@]}" "$AGENT" -k && echo "the agent was asked to quit (KestrinElf.exe -k)" || true
rm -rf "$WINEPREFIX/drive_c/Program Files/Pellmor Vastine" \
       "$WINEPREFIX/drive_c/Program Files (x86)/Pellmor Vastine"

# ---- a client of the interface library Kestrin1.dll ----
say "Kestrin1Client.exe: a client of Kestrin1.dll; the library starts the session agent itself"
# The agent where the library looks for it: the program-files folder of the
# demo's build, then "\Pellmor Vastine\Kestrin\KestrinElf.exe".
AGENT_DIR="$WINEPREFIX/drive_c/Program Files/Pellmor Vastine/Kestrin"
mkdir -p "$AGENT_DIR"
cp "$BIN/agent/KestrinElf.exe" "$AGENT_DIR/"
# The default recording, held back four seconds after the service opened the
# device, so the client is connected when the motion starts.
LIBRARY_RECORDING="$KESTRIN_BUILD/demo-library.kds"
sed '/^wait-open/a sleep 4000' "$RECORDING" >"$LIBRARY_RECORDING"
"${RUN[@]}" "$DEVICE_SIM" "$(kestrin_winpath "$LIBRARY_RECORDING")" &
sim_pid=$!
sleep 1
"${RUN[@]}" "$SIM_SERVICE" -i
say "what the client prints: its device events and its motion reads (every 100 ms)"
"${RUN[@]}" "$BIN/library/Kestrin1Client.exe" 11 100
"${RUN[@]}" "$AGENT_DIR/KestrinElf.exe" -k || true
"${RUN[@]}" "$SIM_SERVICE" -u && echo "removed"
wait "$sim_pid" 2>/dev/null || true
sim_pid=""
rm -rf "$WINEPREFIX/drive_c/Program Files/Pellmor Vastine"

sleep 1
say "debug lines received (process id, text)"
kill "$monitor_pid" 2>/dev/null || true
wait "$monitor_pid" 2>/dev/null || true
monitor_pid=""
cat "$LOG"
say "done"
