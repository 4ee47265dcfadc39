#!/usr/bin/env bash
# The suite installed as an installation would (scripts/install_suite.sh),
# then the properties program opened by a German user from the Control Panel
# item (control_panel_user_test.cpp, run with LC_ALL=de_DE.UTF-8). Everything
# installed is removed again.
#   control_panel_user.sh x86|x64 BUILD TEST_EXE
# BUILD is the folder that holds the build trees (win32, win64) and the
# prefix.
set -uo pipefail
arch=$1
KESTRIN_BUILD=$(cd "$2" && pwd)
test_exe=$3
. "$(dirname "$0")/../../scripts/common.sh"
. "$KESTRIN_ROOT/scripts/install_suite.sh"

trap 'uninstall_suite >/dev/null 2>&1' EXIT
uninstall_suite >/dev/null 2>&1  # whatever an earlier run left
echo "installing the suite:"
install_suite
LC_ALL=de_DE.UTF-8 "$KESTRIN_ROOT/testing/wine-run.sh" "$arch" "$test_exe"
