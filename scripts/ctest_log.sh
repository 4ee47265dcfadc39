# Reading a ctest log (ctest --output-on-failure): what test.sh counts and
# which failed tests it runs once more. Sourced, not run.

# lost_at_start LOG: the names of the tests of that ctest log that Wine lost
# at their start: the test failed (not a timeout), and all it printed is
# wine-run.sh's line with the program's status: not one line of its own, not
# even gtest's first ("Running main() from ..."). A test that printed
# anything, an assertion's failure among it, is not one of them; nor is one
# that printed nothing at all, not even that status line (a native test, a
# script test): Wine never had it.
lost_at_start() {
  awk '
    function close_test() {
      if (name != "" && status && !own) print name
      name = ""
    }
    # "12/635 Test  #12: NAME ....***Failed  0.02 sec": a result, its output after it.
    /^ *[0-9]+\/[0-9]+ Test +#[0-9]+: / {
      close_test()
      if ($0 ~ /\*\*\*Failed/) { name = $4; own = 0; status = 0 }
      next
    }
    /^ *Start +[0-9]+: / || /tests passed, [0-9]+ tests? failed out of/ { close_test(); next }
    name == "" { next }
    /^wine-run\.sh: .* ended with status [0-9]+/ { status = 1; next }
    /^[[:space:]]*$/ { next }
    { own = 1 }
    END { close_test() }
  ' "$1"
}

# totals LOG: "PASSED FAILED" from ctest's summary line of LOG, nothing when it has none.
totals() {
  local line total fails
  line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$1" | tail -n 1)
  [ -n "$line" ] || return 1
  total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
  fails=$(sed -E 's/.*passed, ([0-9]+) tests? failed.*/\1/' <<<"$line")
  echo "$((total - fails)) $fails"
}

# failure_digest LOG [LABEL]: for each test of that ctest log whose last result is a
# failure, a line naming it and what it printed of the failure: gtest's
# failure reports (from the first "Failure" line to gtest's closing lines)
# and wine-run.sh's status line, or, where it printed no failure report, its
# last 15 lines; at most 40 lines a test. test.sh prints these last, so that
# the end of its output, which is what a CI log often keeps, says why.
failure_digest() {
  awk -v label="${2:+$2 }" '
    function close_test() {
      if (name == "") return
      n = 0; from = 0
      for (i = 1; i <= count; i++) if (from == 0 && lines[i] ~ /(^|: )Failure$|: error: /) from = i
      if (from == 0) from = (count > 15 ? count - 14 : 1)
      text = ""
      for (i = from; i <= count && n < 40; i++) {
        if (lines[i] ~ /^\[  (PASSED|FAILED)  \]|^\[==========\]|^\[----------\]|^ *[0-9]+ FAILED TESTS?$/) continue
        if (lines[i] ~ /^[[:space:]]*$/) continue
        text = text "    " lines[i] "\n"; n++
      }
      digest[name] = "  " label name " (" result "):\n" text
      if (!(name in seen)) { order[++tests] = name; seen[name] = 1 }
      name = ""
    }
    /^ *[0-9]+\/[0-9]+ Test +#[0-9]+: / {
      close_test()
      if ($0 ~ /\*\*\*/) {
        name = $4; count = 0
        result = $0; sub(/.*\*\*\*/, "", result); sub(/ +[0-9.]+ sec$/, "", result)
      } else {
        delete digest[$4]  # passed when run again
      }
      next
    }
    /^ *Start +[0-9]+: / || /tests passed, [0-9]+ tests? failed out of/ { close_test(); next }
    name != "" { lines[++count] = $0 }
    END {
      close_test()
      for (t = 1; t <= tests; t++) if (order[t] in digest) printf "%s", digest[order[t]]
    }
  ' "$1"
}
