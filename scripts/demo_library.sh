# A client of the interface library in the demo (sourced by demo.sh, which
# sets RUN, BIN, DEVICE_SIM, SIM_SERVICE and RECORDING): Kestrin1Client.exe
# with no agent running, so the library starts the installed agent itself,
# printing its device events and live motion while the default recording
# plays into KestrinSvcSim.exe.
demo_library() {
  say "Kestrin1Client.exe: a client of Kestrin1.dll; the library starts the session agent itself"
  # The agent where the library looks for it: the program-files folder of the
  # demo's build, then "\Pellmor Vastine\Kestrin\KestrinElf.exe".
  local agent_dir="$WINEPREFIX/drive_c/Program Files/Pellmor Vastine/Kestrin"
  install_agent >/dev/null
  # The default recording, held back four seconds after the service opened
  # the device, so the client is connected when the motion starts.
  local recording="$KESTRIN_BUILD/demo-library.kds"
  sed '/^wait-open/a sleep 4000' "$RECORDING" >"$recording"
  "${RUN[@]}" "$DEVICE_SIM" "$(kestrin_winpath "$recording")" &
  sim_pid=$!
  sleep 1
  "${RUN[@]}" "$SIM_SERVICE" -i
  say "what the client prints: its device events and its motion reads (every 100 ms)"
  "${RUN[@]}" "$BIN/library/Kestrin1Client.exe" 11 100
  "${RUN[@]}" "$agent_dir/KestrinElf.exe" -k || true
  "${RUN[@]}" "$SIM_SERVICE" -u && echo "removed the service"
  wait "$sim_pid" 2>/dev/null || true
  sim_pid=""
}
