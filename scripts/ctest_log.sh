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
