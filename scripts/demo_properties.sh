# The properties program in the demo (sourced by demo.sh, which sets RUN, BIN,
# DEVICE_SIM, SIM_SERVICE and the helpers install_agent, say and
# kestrin_winpath): KestrinSvcSim.exe on a simulated device that rests, the
# user's stored settings in HKCU, and KestrinProperties.exe, whose library
# starts the session agent. A trackbar and the vertical-axis radios are
# worked through PropertiesDemoDriver.exe, a screenshot of the dialog is
# saved, and Cancel puts back the settings found when the dialog opened:
# record 1 of the section and HKCU are shown before, during and after.
demo_properties() {
  local program="$BIN/properties/KestrinProperties.exe"
  local driver="$BIN/properties/tests/PropertiesDemoDriver.exe"
  local shots="$KESTRIN_BUILD/demo-properties"
  local recording="$KESTRIN_BUILD/demo-properties.kds"
  rm -rf "$shots" && mkdir -p "$shots"
  say "KestrinProperties.exe: the properties dialog against the live suite"
  install_agent >/dev/null
  # A device that stays plugged in and rests while the dialog is open.
  printf '%s\n' "device kestrin serial=KS00000000001234 firmware=0x312" "plug kestrin" \
    "wait-open kestrin 20000" "sleep 60000" >"$recording"
  "${RUN[@]}" "$DEVICE_SIM" "$(kestrin_winpath "$recording")" &
  sim_pid=$!
  sleep 1
  "${RUN[@]}" "$SIM_SERVICE" -i
  "${RUN[@]}" "$driver" store 0x6000 0x7000 0x9000 0xA000 1
  sleep 2  # the service has opened the device
  say "before: the user's stored settings (no agent runs yet)"
  "${RUN[@]}" "$driver" settings

  say "the dialog opens; its library starts the agent, which sends the stored settings"
  "${RUN[@]}" "$program" &
  local program_pid=$!
  local shown
  shown=$("${RUN[@]}" "$driver" wait | tr -d '\r') || true
  echo "  caption: $(printf '%s\n' "$shown" | head -n 1)"
  sleep 2
  "${RUN[@]}" "$driver" controls
  "${RUN[@]}" "$driver" settings

  say "during: the Pan trackbar two pages to the right (Page Down twice), then PanY/SpinY"
  "${RUN[@]}" "$driver" key 1001 0x22
  "${RUN[@]}" "$driver" key 1001 0x22
  "${RUN[@]}" "$driver" click 1010
  sleep 1
  "${RUN[@]}" "$driver" controls
  "${RUN[@]}" "$driver" settings
  # The dialog's rectangle: the second line of "wait" ("x y width height").
  local x y w h
  read -r x y w h < <(printf '%s\n' "$shown" | sed -n 2p)
  if [ -n "${h:-}" ]; then
    xwd -root -silent | convert xwd:- -crop "${w}x${h}+${x}+${y}" +repage "$shots/properties.png"
    echo "  screenshot: $shots/properties.png"
  fi

  say "Cancel: the settings found when the dialog opened come back"
  "${RUN[@]}" "$driver" click 2
  local code=0
  wait "$program_pid" 2>/dev/null || code=$?
  echo "  the program exited with code $code"
  sleep 1
  "${RUN[@]}" "$driver" settings

  "${RUN[@]}" 'C:\Program Files\Pellmor Vastine\Kestrin\KestrinElf.exe' -k || true
  "${RUN[@]}" "$SIM_SERVICE" -u && echo "removed the service"
  kill "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
  sim_pid=""
  rm -rf "$WINEPREFIX/drive_c/Program Files/Pellmor Vastine" \
         "$WINEPREFIX/drive_c/Program Files (x86)/Pellmor Vastine"
}
