#!/usr/bin/env bash
# Runs every test of the native build (sanitizers) and of each Windows build
# this machine runs under Wine: x86 and x64 where 32-bit programs run, x64
# alone where they cannot (one line says so). Installs what is missing and
# builds all three trees first. Then runs the demo (./demo.sh) as the last
# test, its whole output in build/demo.log. Exits non-zero when a test or the
# demo fails; the last line counts what passed and failed.
#   ./test.sh                 everything, the demo last
#   ./test.sh -R Pool         only the tests whose names match (ctest -R), no demo
set -uo pipefail
. "$(dirname "$0")/scripts/common.sh"
kestrin_prepare
trap kestrin_wine_down EXIT
kestrin_wine_up

passed=0
failed=0
second_run=()  # the tests that failed once and passed when run again
# ctest_counts LOG: "TOTAL FAILS" from a ctest log's summary line, or nothing.
ctest_counts() {
  grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$1" | tail -n 1 |
    sed -E 's/.*passed, ([0-9]+) tests? failed out of ([0-9]+).*/\2 \1/'
}
# ctest_failed LOG: the names of the tests a ctest log lists as failed.
ctest_failed() {
  sed -n '/The following tests FAILED:/,$p' "$1" | sed -nE 's/^[[:space:]]*[0-9]+ - ([^ ]+) .*/\1/p'
}
# run_ctest DIR ARGS...: one ctest run of the tree DIR, its output shown as it
# comes; its counts are added to the totals. A test that fails is run once
# more on its own: Wine under a loaded machine now and then loses a program
# at its start. One that passes then counts as passed but is named in the
# last line; one that fails again counts as failed.
run_ctest() {
  local dir=$1 out="$KESTRIN_BUILD/ctest-last.log" again="$KESTRIN_BUILD/ctest-again.log"
  local status counts total fails name
  shift
  KESTRIN_REPORT_STATUS=1 ctest --test-dir "$dir" --output-on-failure "$@" 2>&1 | tee "$out"
  status=${PIPESTATUS[0]}
  counts=$(ctest_counts "$out")
  if [ -z "$counts" ]; then
    [ "$status" -ne 0 ] && failed=$((failed + 1))  # ctest itself failed before running anything
    return "$status"
  fi
  read -r total fails <<<"$counts"
  if [ "$fails" -gt 0 ]; then
    local first
    first=$(ctest_failed "$out")
    say "running the $fails failed test(s) of $dir once more"
    KESTRIN_REPORT_STATUS=1 ctest --test-dir "$dir" --output-on-failure --rerun-failed 2>&1 | tee "$again"
    status=${PIPESTATUS[0]}
    counts=$(ctest_counts "$again")
    if [ -n "$counts" ]; then
      local still
      still=$(ctest_failed "$again")
      fails=${counts#* }
      for name in $first; do
        grep -qxF "$name" <<<"$still" || second_run+=("$name")
      done
    fi
  fi
  passed=$((passed + total - fails))
  failed=$((failed + fails))
  return "$status"
}

status=0
say "native tests"
run_ctest "$KESTRIN_BUILD/native" -j "$JOBS" "$@" || status=1
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
  KESTRIN_OTHER_BUILD="$other" run_ctest "$KESTRIN_BUILD/$build" "$@" ||
    status=1
done

# The demo is the main job: a change that breaks it fails here. It brings its
# own Wine and X server up and down, so ours go first.
if [ $# -gt 0 ]; then
  say "demo left unrun: the tests were filtered ($*)"
else
  kestrin_wine_down
  trap - EXIT
  demo_log="$KESTRIN_BUILD/demo.log"
  say "demo (./demo.sh): its whole output goes to $demo_log; its steps:"
  start=$SECONDS
  "$KESTRIN_ROOT/demo.sh" >"$demo_log" 2>&1
  demo_status=$?
  grep -E '^== ' "$demo_log" | sed 's/^/   /'
  if [ "$demo_status" -eq 0 ]; then
    say "demo passed in $((SECONDS - start)) s"
    passed=$((passed + 1))
  else
    say "demo FAILED (exit $demo_status) after $((SECONDS - start)) s; the last lines of $demo_log:"
    tail -n 40 "$demo_log"
    failed=$((failed + 1))
    status=1
  fi
fi
if [ ${#second_run[@]} -gt 0 ]; then
  echo "test.sh: passed only when run a second time: ${second_run[*]}"
fi
echo "test.sh: $passed passed, $failed failed"
exit $status
