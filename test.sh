#!/usr/bin/env bash
# Runs every test of the native build (sanitizers) and of each Windows build
# this machine runs under Wine: x86 and x64 where 32-bit programs run, x64
# alone where they cannot (one line says so). Installs what is missing and
# builds all three trees first. Exits non-zero when a test fails.
#   ./test.sh                 everything
#   ./test.sh -R Pool         only the tests whose names match (ctest -R)
set -uo pipefail
. "$(dirname "$0")/scripts/common.sh"
kestrin_prepare
trap kestrin_wine_down EXIT
kestrin_wine_up

say "native tests"
ctest --test-dir "$KESTRIN_BUILD/native" --output-on-failure -j "$JOBS" "$@"
status=$?
if ! kestrin_runs win32; then
  say "Windows x86 tests ($KESTRIN_BUILD/win32) left unrun: $KESTRIN_UNRUN_REASON;" \
      "the cross-architecture tests are skipped"
fi
for build in $KESTRIN_RUN_BUILDS; do
  # Where both builds run, the cross-architecture tests of each build use the
  # programs of the other.
  other=""
  for b in $KESTRIN_RUN_BUILDS; do [ "$b" != "$build" ] && other="$KESTRIN_BUILD/$b"; done
  say "Windows $(kestrin_arch "$build") tests under Wine ($build)"
  KESTRIN_OTHER_BUILD="$other" ctest --test-dir "$KESTRIN_BUILD/$build" --output-on-failure "$@" ||
    status=1
done
exit $status
