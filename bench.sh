#!/usr/bin/env bash
# Runs the benchmarks and prints their figures (no pass or fail):
#   ./bench.sh            every benchmark
#   ./bench.sh Motion     those whose program name matches
# A benchmark is any program named *Bench (native) or *Bench.exe (Windows, run
# under Wine, in each Windows build this machine runs: x86 and x64, or x64
# alone where 32-bit programs cannot run); each prints its own figures, with
# the floor it is measured against where it has one.
set -uo pipefail
. "$(dirname "$0")/scripts/common.sh"
kestrin_prepare
trap kestrin_wine_down EXIT
kestrin_wine_up
filter=${1:-}
status=0
while IFS= read -r program; do
  name=$(basename "$program")
  [ -n "$filter" ] && ! [[ $name =~ $filter ]] && continue
  say "$name (native)"
  "$program" || status=1
done < <(find "$KESTRIN_BUILD/native" -type f -name '*Bench' -perm -u+x | sort)
if ! kestrin_runs win32; then
  say "Windows x86 benchmarks ($KESTRIN_BUILD/win32) left unrun: $KESTRIN_UNRUN_REASON"
fi
for build in $KESTRIN_RUN_BUILDS; do
  arch=$(kestrin_arch "$build")
  while IFS= read -r program; do
    name=$(basename "$program")
    [ -n "$filter" ] && ! [[ $name =~ $filter ]] && continue
    say "$name (Windows $arch under Wine, $build)"
    WINEDEBUG=-all kestrin_run "$build" "$program" || status=1
  done < <(find "$KESTRIN_BUILD/$build" -type f -name '*Bench.exe' | sort)
done
exit $status
