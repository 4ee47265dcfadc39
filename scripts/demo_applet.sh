# The Control Panel applet in the demo (sourced by demo.sh, which sets RUN,
# BIN, DEVICE_SIM, SIM_SERVICE and RECORDING): the whole suite installed as an
# installation would (scripts/install_suite.sh), the Control Panel window with
# the item, then the item opened through the Control Panel's protocol
# ("control.exe Kestrin.cpl", as the Control Panel opens an item the user
# double-clicks) with a spy applet in between that writes down every message
# and answer; the configuration program it starts (the properties program
# installed as Kestrin.exe) is shown and closed; then everything is removed.
demo_applet() {
  . "$KESTRIN_ROOT/scripts/install_suite.sh"
  local shots="$KESTRIN_BUILD/demo-applet"
  local window="$BIN/applet/tests/KestrinTopWindow.exe"
  local spy="$BIN/applet/tests/KestrinCplSpy.cpl"
  local spy_log="$shots/spy.log"
  local installed='C:\Program Files\Pellmor Vastine\Kestrin'
  local dir="$WINEPREFIX/drive_c/Program Files/Pellmor Vastine/Kestrin"
  rm -rf "$shots" && mkdir -p "$shots"
  # The screen's part that shows a window: a given rectangle, or all that is
  # not the black background.
  shoot_window() {
    if [ "$2" = trim ]; then xwd -root -silent | convert xwd:- -trim +repage "$1"
    else xwd -root -silent | convert xwd:- -crop "$2" +repage "$1"; fi
  }

  # The service runs on the simulated device, so the properties program has a
  # device to show; the recording starts first, the service opens it.
  "${RUN[@]}" "$DEVICE_SIM" "$(kestrin_winpath "$RECORDING")" &
  sim_pid=$!
  sleep 1
  say "the suite installed as an installation would (the service on the simulated device)"
  install_suite --simulated

  say "the Control Panel (control.exe) finds the item by its registration"
  "${RUN[@]}" control &
  local panel_pid=$!
  if "${RUN[@]}" "$window" wait "Wine Control Panel" 15000; then
    sleep 1
    shoot_window "$shots/control-panel.png" 480x150+0+0
    echo "  screenshot: $shots/control-panel.png (the item \"Kestrin Controllers\" with its icon)"
    "${RUN[@]}" "$window" close "Wine Control Panel" 10000 >/dev/null || true
  else
    echo "  the Control Panel window did not appear"
  fi
  kill "$panel_pid" 2>/dev/null || true
  wait "$panel_pid" 2>/dev/null || true

  local standin=""
  if [ ! -f "$dir/Kestrin.exe" ]; then
    # No properties program in this build: the tests' stand-in takes its
    # place and writes down how it was started.
    standin="$BIN/applet/tests/KestrinConfigStandIn.exe"
    cp "$standin" "$dir/Kestrin.exe"
    echo "  (no properties program built: the tests' stand-in is Kestrin.exe for this block)"
  fi

  say "control.exe Kestrin.cpl: the item opened through the Control Panel's protocol"
  echo "  (a spy applet between the Control Panel and $installed\\Kestrin.cpl writes down each call)"
  local cwd="$shots/control-cwd"
  mkdir -p "$cwd"
  (cd "$cwd" && KESTRIN_CPL_SPY_TARGET="$installed\\Kestrin.cpl" \
     KESTRIN_CPL_SPY_LOG="$(kestrin_winpath "$spy_log")" "${RUN[@]}" control "$(kestrin_winpath "$spy")")
  # <message> <item> -> <answer>, with the message's name.
  tr -d '\r' <"$spy_log" | awk '
    BEGIN { split("CPL_INIT CPL_GETCOUNT CPL_INQUIRE CPL_SELECT CPL_DBLCLK CPL_STOP CPL_EXIT " \
                  "CPL_NEWINQUIRE CPL_STARTWPARMSA CPL_STARTWPARMSW", name, " ") }
    { $1 = sprintf("%-17s", name[$1] != "" ? name[$1] : "message " $1); print "  " $0 }'

  if [ -n "$standin" ]; then
    sleep 1
    say "how Kestrin.exe was started (args: arguments after its name; show 5 is SW_SHOW; cwd: its current folder)"
    tr -d '\r' <"$dir/started.txt" | sed 's/^/  /'
    echo "  (the Control Panel ran in $(kestrin_winpath "$cwd"))"
  elif "${RUN[@]}" "$window" wait "Kestrin 3D Mouse Properties" 15000; then
    say "Kestrin.exe (the properties program) opened by the item"
    sleep 2
    shoot_window "$shots/properties-from-applet.png" trim
    echo "  screenshot: $shots/properties-from-applet.png"
    "${RUN[@]}" "$window" close "Kestrin 3D Mouse Properties" 10000 || true
  else
    echo "  no window \"Kestrin 3D Mouse Properties\" appeared"
  fi

  say "everything removed again"
  uninstall_suite
  wait "$sim_pid" 2>/dev/null || true
  sim_pid=""
}
