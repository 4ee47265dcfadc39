# The motion monitor in the demo (sourced by demo.sh, which sets RUN, BIN,
# DEVICE_SIM, SIM_SERVICE and RECORDING): the service on the simulated device,
# the monitor, whose library connection starts the session agent, and
# screenshots of its window at rest and in motion.
demo_monitor() {
  say "KestrinMonitor.exe: the live ball motion while the default recording plays"
  # The service on the simulated device again, then the monitor, whose library
  # connection starts the session agent from the program-files folder;
  # screenshots of its window (topmost at 150, 150) are taken from the X server
  # while the recording plays and after it ends, when the ball rests.
  MONITOR="$BIN/monitor/KestrinMonitor.exe"
  AGENT="$BIN/agent/KestrinElf.exe"
  install_agent >/dev/null
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
}
