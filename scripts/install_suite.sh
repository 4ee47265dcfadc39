# The suite installed into the Wine prefix as an installation would, and
# removed again. Sourced after scripts/common.sh (WINEPREFIX, KESTRIN_BUILD,
# KESTRIN_ROOT); BIN names the x64 build (default $KESTRIN_BUILD/win64).
#
#   install_suite [--simulated]   install; --simulated registers KestrinSvcSim.exe
#                                 (the service on the device simulator) in
#                                 place of KestrinSvc.exe
#   uninstall_suite               stop and remove everything install_suite made
#
# Where things go, in the prefix's drive C:
#   Program Files\Pellmor Vastine\Kestrin        the x64 build: the agent
#       KestrinElf.exe, the service, Kestrin1.dll, KestrinMonitor.exe,
#       KestrinProperties.exe with its satellite libraries, KestrinZel2.dll,
#       Kestrin.cpl, and Kestrin.exe (below);
#   Program Files (x86)\Pellmor Vastine\Kestrin  the x86 build's libraries,
#       programs and applet for 32-bit clients, and the same x64 agent (one
#       agent per session serves clients of both architectures, and a 32-bit
#       client starts it from this folder);
#   windows\system32 (x64) and windows\syswow64 (x86, on 64-bit Windows the
#       system folder of 32-bit programs)  the client libraries of that
#       architecture, Kestrin1.dll and KestrinZel2.dll, where every program of
#       the architecture finds them: a host in a folder of its own that loads
#       KestrinZel2.dll from the install folder by its full path (the loader
#       looks for its import Kestrin1.dll beside the host, in the system
#       folders and on the PATH, never beside KestrinZel2.dll), and a
#       third-party program that links Kestrin1.dll wherever it was put.
#       Other installations may share these copies, so they are placed and
#       removed as Windows installers share a library, by the x64 build's
#       KestrinSharedFile.exe (scripts/setup/, installed beside the agent for the
#       uninstall): a copy there is replaced only by one of at least its
#       version (their version resources), the system counts the installations
#       that use it (a REG_DWORD named by the copy's full path under
#       HKLM\Software\Microsoft\Windows\CurrentVersion\SharedDLLs, in the
#       64-bit view for both folders, as Windows keeps them), and the copy goes
#       with the last of them. The installation writes down each copy it has
#       counted, a line "ARCH NAME" in SharedLibraries.txt of the x64 install
#       folder: installed again it counts nothing twice, and the uninstall
#       gives back exactly those.
# Each program only where the build has made it. The service is registered
# with the service control manager by its own "-i" (which also starts it) and
# removed by its "-u". The applet is registered with the Control Panel under
# HKLM\Software\Microsoft\Windows\CurrentVersion\Control Panel\Cpls, value
# "Kestrin", in the registry view of its architecture.
#
# Kestrin.exe, the configuration program the Control Panel item starts, is
# the properties program: a user who opens the item expects the settings. It
# is installed under both names, and its satellite libraries (found by the
# program's base name beside it) under both base names too.

KESTRIN_INSTALL_TAIL="Pellmor Vastine/Kestrin"
KESTRIN_CPLS_KEY='HKLM\Software\Microsoft\Windows\CurrentVersion\Control Panel\Cpls'

# The install folder under a program-files folder of the prefix (a Unix path).
suite_folder() { printf '%s/drive_c/%s/%s\n' "$WINEPREFIX" "$1" "$KESTRIN_INSTALL_TAIL"; }

suite_run() { "$KESTRIN_ROOT/testing/wine-run.sh" x64 "$@"; }

# suite_find BUILD FOLDER NAME: the built file NAME under BUILD/FOLDER, or
# nothing when that build has not made it.
suite_find() {
  [ -d "$1/$2" ] || return 0
  find "$1/$2" -maxdepth 3 -name "$3" -not -path '*/CMakeFiles/*' -print -quit
}

# suite_put FILE DIR [NAME]: copies a built file into an install folder and
# says so.
suite_put() {
  [ -n "$1" ] && [ -f "$1" ] || return 0
  local name=${3:-$(basename "$1")}
  mkdir -p "$2"
  cp "$1" "$2/$name"
  echo "  ${2#"$WINEPREFIX/drive_c/"}/$name"
}

# The system folder of an architecture's programs in the prefix (a Unix path):
# on 64-bit Windows, system32 holds the 64-bit libraries, syswow64 the 32-bit.
suite_system_folder() {
  case "$1" in
    x64) printf '%s/drive_c/windows/system32\n' "$WINEPREFIX" ;;
    x86) printf '%s/drive_c/windows/syswow64\n' "$WINEPREFIX" ;;
  esac
}
# The client libraries shared in the system folders, each as FOLDER/NAME of
# the build tree.
KESTRIN_CLIENT_LIBRARIES="library/Kestrin1.dll emulation/KestrinZel2.dll"
KESTRIN_SHARED_HELPER=KestrinSharedFile.exe
KESTRIN_SHARED_RECORD=SharedLibraries.txt

# suite_share HELPER VERB ARCH ARG: one run of the helper; its line (or its
# error) on stdout, without Windows line ends.
suite_share() {
  local out status
  out=$(suite_run "$@" 2>&1)
  status=$?
  printf '  %s\n' "${out//$'\r'/}"
  return "$status"
}

# suite_put_libraries BUILD ARCH HELPER RECORD: the client libraries into the
# system folder of their architecture, shared; each copy counted is written
# down in RECORD.
suite_put_libraries() {
  local build=$1 arch=$2 helper=$3 record=$4 system entry source verb
  system=$(suite_system_folder "$arch")
  [ -d "$system" ] || { echo "  no ${system#"$WINEPREFIX/drive_c/"} in this prefix: the $arch client libraries only in the install folder"; return 0; }
  if [ ! -f "$helper" ]; then
    echo "  no $KESTRIN_SHARED_HELPER in the x64 build: the $arch client libraries only in the install folder"
    return 0
  fi
  for entry in $KESTRIN_CLIENT_LIBRARIES; do
    source=$(suite_find "$build" "${entry%%/*}" "${entry#*/}")
    [ -n "$source" ] || continue
    verb=place
    grep -qxF "$arch ${entry#*/}" "$record" 2>/dev/null && verb=update
    if suite_share "$helper" "$verb" "$arch" "$(kestrin_winpath "$source")" &&
       [ "$verb" = place ]; then
      echo "$arch ${entry#*/}" >>"$record"
    fi
  done
}

# suite_release_libraries DIR: gives back every system-folder copy that the
# installation in DIR (the x64 install folder) has counted, with the helper
# installed there.
suite_release_libraries() {
  local record="$1/$KESTRIN_SHARED_RECORD" lines line
  [ -f "$record" ] || return 0
  if [ ! -f "$1/$KESTRIN_SHARED_HELPER" ]; then
    echo "  no $KESTRIN_SHARED_HELPER in the install folder: the shared client libraries stay in the system folders"
    return 1
  fi
  # Read first: a Windows program in the loop may read the loop's input.
  mapfile -t lines <"$record"
  for line in "${lines[@]}"; do
    [ -n "$line" ] && suite_share "$1/$KESTRIN_SHARED_HELPER" release $line
  done
  return 0
}

# suite_put_clients BUILD DIR: the pieces every client architecture needs of
# its own: the interface library, the programs that link it, the emulation
# library, the properties program as itself and as Kestrin.exe, the applet.
suite_put_clients() {
  local build=$1 dir=$2 props satellite base
  suite_put "$(suite_find "$build" library Kestrin1.dll)" "$dir"
  suite_put "$(suite_find "$build" monitor KestrinMonitor.exe)" "$dir"
  suite_put "$(suite_find "$build" emulation KestrinZel2.dll)" "$dir"
  props=$(suite_find "$build" properties KestrinProperties.exe)
  if [ -n "$props" ]; then
    suite_put "$props" "$dir"
    suite_put "$props" "$dir" Kestrin.exe
    while IFS= read -r satellite; do
      base=$(basename "$satellite")
      suite_put "$satellite" "$dir"
      suite_put "$satellite" "$dir" "Kestrin${base#KestrinProperties}"
    done < <(find "$(dirname "$props")" -maxdepth 2 -name 'KestrinProperties?*.dll' \
               -not -path '*/CMakeFiles/*' | sort)
  fi
  suite_put "$(suite_find "$build" applet Kestrin.cpl)" "$dir"
}

install_suite() {
  local service=KestrinSvc.exe
  [ "${1:-}" = --simulated ] && service=KestrinSvcSim.exe
  local bin64=${BIN:-$KESTRIN_BUILD/win64} bin32=$KESTRIN_BUILD/win32
  local dir64 dir32 agent
  dir64=$(suite_folder "Program Files")
  dir32=$(suite_folder "Program Files (x86)")
  agent=$(suite_find "$bin64" agent KestrinElf.exe)

  echo "  (x64 build $bin64)"
  suite_put "$agent" "$dir64"
  suite_put "$(suite_find "$bin64" service "$service")" "$dir64"
  suite_put_clients "$bin64" "$dir64"
  suite_put "$(suite_find "$bin64" scripts/setup "$KESTRIN_SHARED_HELPER")" "$dir64"
  mkdir -p "$dir64"
  suite_put_libraries "$bin64" x64 "$dir64/$KESTRIN_SHARED_HELPER" "$dir64/$KESTRIN_SHARED_RECORD"
  if [ -d "$WINEPREFIX/drive_c/Program Files (x86)" ] && [ -d "$bin32" ]; then
    echo "  (x86 build $bin32, and the x64 agent)"
    suite_put "$agent" "$dir32"
    suite_put_clients "$bin32" "$dir32"
    suite_put_libraries "$bin32" x86 "$dir64/$KESTRIN_SHARED_HELPER" "$dir64/$KESTRIN_SHARED_RECORD"
  fi
  if [ ! -f "$dir64/Kestrin.exe" ]; then
    echo "  no KestrinProperties.exe in this build: no Kestrin.exe, the Control Panel item starts nothing"
  fi

  # The applet where the Control Panel finds it: the registration of each
  # architecture's applet in its own registry view.
  if [ -f "$dir64/Kestrin.cpl" ]; then
    suite_run reg add "$KESTRIN_CPLS_KEY" /v Kestrin /t REG_SZ /reg:64 /f \
      /d 'C:\Program Files\Pellmor Vastine\Kestrin\Kestrin.cpl' >/dev/null &&
      echo "  Control Panel: $KESTRIN_CPLS_KEY, Kestrin = C:\\Program Files\\Pellmor Vastine\\Kestrin\\Kestrin.cpl"
  fi
  if [ -f "$dir32/Kestrin.cpl" ]; then
    suite_run reg add "$KESTRIN_CPLS_KEY" /v Kestrin /t REG_SZ /reg:32 /f \
      /d 'C:\Program Files (x86)\Pellmor Vastine\Kestrin\Kestrin.cpl' >/dev/null &&
      echo "  Control Panel (32-bit view): Kestrin = C:\\Program Files (x86)\\Pellmor Vastine\\Kestrin\\Kestrin.cpl"
  fi

  # The service, registered and started through the service control manager.
  if [ -f "$dir64/$service" ]; then
    # A service of the same name left by an earlier installation goes first.
    suite_run "$dir64/$service" -u >/dev/null 2>&1 || true
    suite_run "$dir64/$service" -i || echo "  $service -i failed"
    echo "  service \"Kestrin\": $service -i from the install folder"
  fi
}

uninstall_suite() {
  local dir64 dir32 service
  dir64=$(suite_folder "Program Files")
  dir32=$(suite_folder "Program Files (x86)")
  # The running agent quits on -k; the service stops and deletes itself on -u.
  if [ -f "$dir64/KestrinElf.exe" ]; then suite_run "$dir64/KestrinElf.exe" -k >/dev/null 2>&1 || true; fi
  for service in KestrinSvc.exe KestrinSvcSim.exe; do
    if [ -f "$dir64/$service" ]; then
      suite_run "$dir64/$service" -u >/dev/null 2>&1 && echo "  service removed ($service -u)"
    fi
  done
  suite_run reg delete "$KESTRIN_CPLS_KEY" /v Kestrin /reg:64 /f >/dev/null 2>&1 || true
  suite_run reg delete "$KESTRIN_CPLS_KEY" /v Kestrin /reg:32 /f >/dev/null 2>&1 || true
  # The shared copies in the system folders go back before the folder that
  # says which they are (and holds the helper) goes.
  suite_release_libraries "$dir64" || return 1
  rm -rf "$(dirname "$dir64")" "$(dirname "$dir32")"
  if suite_run reg query "$KESTRIN_CPLS_KEY" /v Kestrin /reg:64 >/dev/null 2>&1 ||
     suite_run reg query "$KESTRIN_CPLS_KEY" /v Kestrin /reg:32 >/dev/null 2>&1; then
    echo "  the Control Panel registration is still there"
  else
    echo "  Control Panel registration and the install folders removed"
  fi
}
