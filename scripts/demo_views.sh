# The motion views and the device picture of the properties program in the
# demo (sourced by demo.sh, which sets RUN, BIN, DEVICE_SIM and SIM_SERVICE):
# KestrinProperties.exe open while a recording of its own plays into the
# service on the simulated device: the ball at rest, the ball pushed and
# turned, the scroll hat moved, two buttons held. Screenshots of the dialog
# are saved in each phase under build/demo-views/.
#
# Wine 8 under Xvfb never shows what OpenGL draws into a child window (the
# views are static controls of the dialog): the screen keeps the dialog's own
# painting there. So the swap spy (testing/swap_spy, a test tool) is loaded
# into the running program; at every swap it saves the view's back buffer and
# where the view lies, and each screenshot is the screen with the two views'
# last frames laid over their places. The device picture is GDI+ and shows on
# the screen as it is.
demo_views() {
  say "KestrinProperties.exe: the motion views and the device picture while a recording plays"
  local shots="$KESTRIN_BUILD/demo-views" recording="$KESTRIN_BUILD/demo-views.kds"
  local program="$BIN/properties/KestrinProperties.exe" title="Kestrin 3D Mouse Properties"
  rm -rf "$shots" && mkdir -p "$shots"
  install_agent >/dev/null
  # The phases, 100 reports a second . The program and the spy get 8 s to
  # start before the first phase.
  {
    echo "device kestrin serial=KS00000000001234 firmware=0x200"
    echo "plug kestrin"
    echo "wait-open kestrin 20000"
    echo "sleep 8000"
    echo "# the ball pushed right and up and turned"
    echo "repeat 400"; echo "ball kestrin 40 -30 0 15 25 40"; echo "sleep 10"; echo "end"
    echo "ball kestrin 0 0 0 0 0 0"
    echo "sleep 3000"
    echo "# the scroll hat pushed"
    echo "repeat 400"; echo "scroll kestrin 40 -25 0"; echo "sleep 10"; echo "end"
    echo "scroll kestrin 0 0 0"
    echo "sleep 3000"
    echo "# buttons 0 and 4 held"
    echo "repeat 600"; echo "scroll kestrin 0 0 17"; echo "sleep 10"; echo "end"
    echo "scroll kestrin 0 0 0"
    echo "sleep 2000"
  } >"$recording"

  local start
  start=$(date +%s.%N)
  # Sleeps until SECONDS after the simulator started.
  at() {
    sleep "$(awk -v s="$start" -v t="$1" -v n="$(date +%s.%N)" 'BEGIN { d = s + t - n; print (d > 0 ? d : 0) }')"
  }
  "${RUN[@]}" "$DEVICE_SIM" "$(kestrin_winpath "$recording")" &
  sim_pid=$!
  sleep 1
  "${RUN[@]}" "$SIM_SERVICE" -i
  KESTRIN_SWAP_SPY_DIR="$(kestrin_winpath "$shots")" "${RUN[@]}" "$program" &
  local program_pid=$!
  # The program loads the spy itself inside its message loop; the injector
  # waits at most 20 s for the window and 10 s for the spy's set-up, and
  # nothing it calls waits on the program. The outer bound, a kill 10 s after
  # it, is for a Wine that never ends it.
  if timeout --kill-after=10 60 "${RUN[@]}" \
       "$BIN/testing/swap_spy/KestrinSpyInject.exe" "$title" \
       "$(kestrin_winpath "$BIN/testing/swap_spy/KestrinSwapSpy.dll")"; then
    echo "the swap spy is in the program; the views' frames go to $shots"
  else
    echo "the swap spy could not be loaded: the screenshots show what the screen shows"
  fi
  # One screenshot: the dialog as the screen shows it with the views' last
  # frames over their places.
  shoot_views() {
    local name=$1 screen="$shots/screen-$1.png" out="$shots/views-$1.png"
    xwd -root -silent | convert xwd:- "$screen"
    if [ -f "$shots/view-1006.txt" ]; then
      local dx dy dw dh
      read -r dx dy dw dh < <(sed -n 2p "$shots/view-1006.txt")
      local layers=("$screen")
      for id in 1006 1008; do
        [ -f "$shots/view-$id.bmp" ] || continue
        local vx vy
        read -r vx vy _ _ < <(sed -n 1p "$shots/view-$id.txt")
        layers+=("(" "$shots/view-$id.bmp" -alpha off ")" -geometry "+$vx+$vy" -composite)
      done
      convert "${layers[@]}" -crop "${dw}x${dh}+${dx}+${dy}" +repage "$out"
    else
      cp "$screen" "$out"
    fi
    echo "  $out ($2)"
  }
  say "screenshots of the dialog"
  # Measured here, the phases run about 8-14 s (ball), 17-22 s (scroll hat)
  # and 25-34 s (buttons) after the simulator starts: a read of the
  # simulator takes about 15 ms under Wine.
  at 7.5; shoot_views rest "the ball at rest: the teapot in both monitors, no marks on the device"
  at 12; shoot_views ball "the ball pushed and turned: the teapot moved in both views, turned only in 3D, the ball circled"
  at 20; shoot_views scroll "the scroll hat pushed: the teapot moved like a push, the scroll hat circled"
  at 29; shoot_views buttons "buttons 0 and 4 held: the teapot back at its start, two tilted marks"
  wait "$sim_pid" 2>/dev/null || true
  sim_pid=""
  # Asked to end, then killed when it has not after 10 s.
  kill "$program_pid" 2>/dev/null || true
  for _ in $(seq 100); do kill -0 "$program_pid" 2>/dev/null || break; sleep 0.1; done
  kill -KILL "$program_pid" 2>/dev/null || true
  wait "$program_pid" 2>/dev/null || true
  "${RUN[@]}" "$SIM_SERVICE" -u && echo "service removed"
  "${RUN[@]}" "$BIN/agent/KestrinElf.exe" -k && echo "the agent was asked to quit" || true
  echo "frames swapped by the views: $(wc -l <"$shots/swaps.log" 2>/dev/null || echo 0)"
}
