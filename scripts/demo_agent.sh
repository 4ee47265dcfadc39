# The session agent in the demo (sourced by demo.sh, which sets RUN, BIN,
# DEVICE_SIM, SIM_SERVICE, RECORDING and LOG): KestrinElf.exe installed where
# the interface library starts it, KestrinSvcSim.exe on the simulator playing
# the default recording, one client process that owns the foreground and
# receives the device state, a settings change as the properties program
# posts it, then "KestrinElf.exe -k".
demo_agent() {
  local client="$BIN/agent/tests/KestrinTestClient.exe"
  local poster="$BIN/agent/tests/KestrinSettingsPoster.exe"
  say "KestrinElf.exe: the session agent, installed under the program-files folders"
  install_agent
  local installed='C:\Program Files\Pellmor Vastine\Kestrin\KestrinElf.exe'
  "${RUN[@]}" "$DEVICE_SIM" "$(kestrin_winpath "$RECORDING")" &
  sim_pid=$!
  sleep 1
  "${RUN[@]}" "$SIM_SERVICE" -i
  say "the agent starts, connects to the pipe and sends the stored settings"
  "${RUN[@]}" "$installed" &
  local agent_pid=$!
  sleep 1
  local code=0
  "${RUN[@]}" "$installed" || code=$?
  echo "  a second start exits at once with code $code (one agent per session)"
  say "a client process takes the foreground; the agent routes device state to it"
  "${RUN[@]}" "$client" 7 -f &
  local client_pid=$!
  sleep 1
  say "a settings change as the properties program posts it: pan 0x9000, Zoom/SpinZ"
  "${RUN[@]}" "$poster" 0x9000 0x8000 0x8000 0x8000 1
  wait "$client_pid" 2>/dev/null || true
  say "what the user's hive holds now"
  # (reg query shows a REG_QWORD as "(null)" under Wine; the export shows its bytes)
  local reg_file="$KESTRIN_BUILD/demo-settings.reg"
  rm -f "$reg_file"
  "${RUN[@]}" reg export 'HKCU\Software\Pellmor Vastine\Kestrin\2.10' "$(kestrin_winpath "$reg_file")" >/dev/null 2>&1 || true
  [ -f "$reg_file" ] && iconv -f UTF-16LE -t UTF-8 "$reg_file" | tr -d '\r' | grep -v '^$' || true
  say "the notices the client received (wParam: device id << 16 | state high byte << 8 | code)"
  grep -a 'KestrinTestClient\] notice' "$LOG" | head -20 || true
  say "KestrinElf.exe -k: the running agent quits"
  code=0
  "${RUN[@]}" "$installed" -k || code=$?
  echo "  -k exited with code $code"
  code=0
  wait "$agent_pid" 2>/dev/null || code=$?
  echo "  the agent exited with code $code"
  "${RUN[@]}" "$SIM_SERVICE" -u && echo "removed the service"
  wait "$sim_pid" 2>/dev/null || true
  sim_pid=""
}
