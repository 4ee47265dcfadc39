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
. "$KESTRIN_ROOT/scripts/ctest_log.sh"
kestrin_prepare
trap kestrin_wine_down EXIT
kestrin_wine_up

passed=0
failed=0
second_run=()  # the tests Wine lost at their start that passed when run again

# run_ctest DIR ARGS...: one ctest run of the tree DIR, its output shown as it
# comes and kept in build/ctest-last.log; its counts are added to the totals.
# A failed test is a failure of the run, with one exception: a test that Wine
# lost at its start (lost_at_start) is run once more, its second run appended
# to the same log; it then counts as what that run gives, and one that passes
# is named in the last lines.
run_ctest() {
  local dir=$1 out="$KESTRIN_BUILD/ctest-last.log" status counts ok fails
  shift
  KESTRIN_REPORT_STATUS=1 ctest --test-dir "$dir" --output-on-failure "$@" 2>&1 | tee "$out"
  status=${PIPESTATUS[0]}
  if ! counts=$(totals "$out"); then
    [ "$status" -ne 0 ] && failed=$((failed + 1))  # ctest itself failed before running anything
    return "$status"
  fi
  read -r ok fails <<<"$counts"
  local lost=() name
  while read -r name; do [ -n "$name" ] && lost+=("$name"); done < <(lost_at_start "$out")
  if [ ${#lost[@]} -gt 0 ]; then
    local again="$KESTRIN_BUILD/ctest-again.log" pattern="" again_ok again_fails
    for name in "${lost[@]}"; do
      pattern+="${pattern:+|}$(sed 's/[][\\.^$*+?(){}|]/\\&/g' <<<"$name")"
    done
    echo "test.sh: Wine lost ${#lost[@]} test(s) at their start (no output of their own): ${lost[*]}; run again:" |
      tee -a "$out"
    KESTRIN_REPORT_STATUS=1 ctest --test-dir "$dir" --output-on-failure -R "^($pattern)\$" 2>&1 |
      tee "$again" | tee -a "$out"
    if counts=$(totals "$again"); then
      read -r again_ok again_fails <<<"$counts"
      ok=$((ok + again_ok))
      fails=$((fails - again_ok))
      local final
      final=$(sed -n '/The following tests FAILED:/,$p' "$again" | sed -nE 's/^[[:space:]]*[0-9]+ - ([^ ]+) .*/\1/p')
      for name in "${lost[@]}"; do
        grep -qxF "$name" <<<"$final" || second_run+=("$name")
      done
    fi
    rm -f "$again"
    [ "$fails" -eq 0 ] && status=0
  fi
  passed=$((passed + ok))
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
  echo "test.sh: lost by Wine at their start, passed when run a second time: ${second_run[*]}"
fi
echo "test.sh: $passed passed, $failed failed"
exit $status
