#!/usr/bin/env bash
# Runs every test of both builds: the native one (sanitizers) and the Win32 one
# under Wine. Installs what is missing first. Exits non-zero when a test fails.
#   ./test.sh                 everything
#   ./test.sh -R Pool         only the tests whose names match (ctest -R)
set -uo pipefail
. "$(dirname "$0")/scripts/common.sh"
kestrin_prepare
trap kestrin_wine_down EXIT
kestrin_wine_up

say "native tests"
ctest --test-dir "$KESTRIN_BUILD/native" --output-on-failure -j "$JOBS" "$@"
native=$?
say "Win32 tests under Wine"
ctest --test-dir "$KESTRIN_BUILD/win32" --output-on-failure "$@"
win32=$?
[ $native -eq 0 ] && [ $win32 -eq 0 ]
