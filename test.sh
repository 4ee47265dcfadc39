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
# run_ctest DIR ARGS...: one ctest run of the tree DIR, its output shown as it
# comes; its counts ("N% tests passed, F tests failed out of T") are added to
# the totals. A test that fails is run again at once: Wine on a loaded
# machine now and then loses a program at its start. One that passes then
# counts as passed but is named in the last lines; one that fails again
# counts as failed.
run_ctest() {
  local dir=$1 out="$KESTRIN_BUILD/ctest-last.log" status line total fails name
  shift
  KESTRIN_REPORT_STATUS=1 ctest --test-dir "$dir" --output-on-failure --repeat until-pass:2 "$@" 2>&1 |
    tee "$out"
  status=${PIPESTATUS[0]}
  line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$out" | tail -n 1)
  if [ -z "$line" ]; then
    [ "$status" -ne 0 ] && failed=$((failed + 1))  # ctest itself failed before running anything
    return "$status"
  fi
  total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
  fails=$(sed -E 's/.*passed, ([0-9]+) tests? failed.*/\1/' <<<"$line")
  passed=$((passed + total - fails))
  failed=$((failed + fails))
  # A first try's failure is on a numbered line ("12/635 Test #12: NAME ...");
  # the names ctest lists as failed at the end failed the second try too.
  local final
  final=$(sed -n '/The following tests FAILED:/,$p' "$out" | sed -nE 's/^[[:space:]]*[0-9]+ - ([^ ]+) .*/\1/p')
  for name in $(sed -nE 's/^ *[0-9]+\/[0-9]+ Test +#[0-9]+: ([^ ]+) .*\*\*\*(Failed|Timeout|Exception).*/\1/p' "$out"); do
    grep -qxF "$name" <<<"$final" || second_run+=("$name")
  done
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
  # It takes about 2 min; a demo that hangs fails after 15 min instead of
  # holding the run.
  timeout --kill-after=30 900 "$KESTRIN_ROOT/demo.sh" >"$demo_log" 2>&1
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
