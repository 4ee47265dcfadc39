#!/usr/bin/env bash
# The suite installed as an installation would (scripts/install_suite.sh),
# then two outside programs of one architecture run from a folder of their
# own under the prefix's drive C, with no Kestrin file beside them and that
# folder as their current one: a host that loads the installed
# KestrinZel2.dll by its full path, and a third-party program that links
# Kestrin1.dll (outside_host_test.cpp). Everything installed is removed again.
#   outside_host.sh x86|x64 BUILD HOST_EXE CLIENT_EXE
# BUILD is the folder that holds the build trees (win32, win64) and the
# prefix; the x64 tree supplies the agent and the service, each
# architecture's tree its own client libraries.
set -uo pipefail
arch=$1
KESTRIN_BUILD=$(cd "$2" && pwd)
host_exe=$3
client_exe=$4
. "$(dirname "$0")/../../scripts/common.sh"
. "$KESTRIN_ROOT/scripts/install_suite.sh"

outside="$WINEPREFIX/drive_c/Outside Host"
rm -rf "$outside"
mkdir -p "$outside"
cp "$host_exe" "$client_exe" "$outside/"
cleanup() {
  uninstall_suite >/dev/null 2>&1
  rm -rf "$outside"
}
trap cleanup EXIT
uninstall_suite >/dev/null 2>&1  # whatever an earlier run left
echo "installing the suite:"
install_suite
cd "$outside" || exit 1
status=0
for program in "$host_exe" "$client_exe"; do
  echo "running $(basename "$program") from C:\\Outside Host"
  "$KESTRIN_ROOT/testing/wine-run.sh" "$arch" "$outside/$(basename "$program")" || status=1
done
exit "$status"
