#!/usr/bin/env bash
# lost_at_start (scripts/ctest_log.sh) on small ctest logs: which failed
# tests test.sh takes for lost by Wine at their start and runs once more.
set -uo pipefail
. "$(dirname "$0")/../ctest_log.sh"

failures=0
# expect CASE EXPECTED: the log on stdin; EXPECTED the names lost_at_start
# must give, one per line, in order ("" for none).
expect() {
  local log got
  log=$(mktemp)
  cat >"$log"
  got=$(lost_at_start "$log")
  rm -f "$log"
  if [ "$got" = "$2" ]; then
    echo "ok: $1"
  else
    echo "FAILED: $1: expected [${2//$'\n'/ }], got [${got//$'\n'/ }]"
    failures=$((failures + 1))
  fi
}

expect "only wine-run.sh's status line: lost" "A.Lost" <<'LOG'
    Start 1: A.Lost
1/2 Test #1: A.Lost ..............................***Failed    0.02 sec
wine-run.sh: /b/win64/A.exe ended with status 5 (the low byte of its exit code)
    Start 2: A.Passes
2/2 Test #2: A.Passes ............................   Passed    0.02 sec

50% tests passed, 1 tests failed out of 2
LOG

expect "the status line among blank lines, the last test before the summary: lost" "A.Last" <<'LOG'
    Start 7: A.Last
1/1 Test #7: A.Last ..............................***Failed    0.02 sec

wine-run.sh: /b/win32/A.exe ended with status 1 (the low byte of its exit code)


0% tests passed, 1 tests failed out of 1
LOG

expect "the log ends after the status line: lost" "A.End" <<'LOG'
    Start 3: A.End
1/1 Test #3: A.End ...............................***Failed    0.02 sec
wine-run.sh: /b/win64/A.exe ended with status 3 (the low byte of its exit code)
LOG

expect "nothing printed at all (a native or script test): not lost" "" <<'LOG'
    Start 4: NativeTest.Crashes
1/2 Test #4: NativeTest.Crashes ..................***Failed    0.01 sec
    Start 5: OutsideHost
2/2 Test #5: OutsideHost .........................***Failed    0.50 sec

0% tests passed, 2 tests failed out of 2
LOG

expect "gtest's first line, or an assertion's failure: not lost" "" <<'LOG'
    Start 6: A.Started
1/2 Test #6: A.Started ...........................***Failed    0.05 sec
Running main() from /usr/src/googletest/googletest/src/gtest_main.cc
wine-run.sh: /b/win64/A.exe ended with status 1 (the low byte of its exit code)
    Start 8: A.Asserts
2/2 Test #8: A.Asserts ...........................***Failed    0.05 sec
../../a_test.cpp:12: Failure
Value of: Works()
wine-run.sh: /b/win64/A.exe ended with status 1 (the low byte of its exit code)

0% tests passed, 2 tests failed out of 2
LOG

expect "a script whose child ended with a status after the script's own lines: not lost" "" <<'LOG'
    Start 9: Install
1/1 Test #9: Install .............................***Failed    1.50 sec
installing the suite:
wine-run.sh: /b/win64/Host.exe ended with status 1 (the low byte of its exit code)

0% tests passed, 1 tests failed out of 1
LOG

expect "passed and timed out: not lost" "" <<'LOG'
    Start 10: A.Passes
1/2 Test #10: A.Passes ...........................   Passed    0.02 sec
    Start 11: A.Hangs
2/2 Test #11: A.Hangs ............................***Timeout 300.01 sec
wine-run.sh: /b/win64/A.exe ended with status 143 (the low byte of its exit code)

50% tests passed, 1 tests failed out of 2
LOG

expect "parallel starts between the results, two lost among others" "P.One
P.Three" <<'LOG'
    Start 12: P.One
    Start 13: P.Two
    Start 14: P.Three
    Start 15: P.Four
1/4 Test #12: P.One ..............................***Failed    0.02 sec
wine-run.sh: /b/win64/P.exe ended with status 5 (the low byte of its exit code)
    Start 16: P.Five
2/4 Test #13: P.Two ..............................***Failed    0.01 sec
3/4 Test #14: P.Three ............................***Failed    0.02 sec
wine-run.sh: /b/win64/P.exe ended with status 5 (the low byte of its exit code)
4/4 Test #15: P.Four .............................***Failed    0.02 sec
Running main() from gtest_main.cc
wine-run.sh: /b/win64/P.exe ended with status 1 (the low byte of its exit code)

0% tests passed, 4 tests failed out of 4

The following tests FAILED:
	 12 - P.One (Failed)
	 13 - P.Two (Failed)
	 14 - P.Three (Failed)
	 15 - P.Four (Failed)
LOG

[ "$failures" -eq 0 ] || { echo "$failures case(s) failed"; exit 1; }
