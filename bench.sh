#!/usr/bin/env bash
# Runs the benchmarks and prints their figures (no pass or fail):
#   ./bench.sh            every benchmark
#   ./bench.sh Motion     those whose program name matches
# A benchmark is any program named *Bench (native) or *Bench.exe (Win32, run
# under Wine); each prints its own figures, with the floor it is measured
# against where it has one.
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
while IFS= read -r program; do
  name=$(basename "$program")
  [ -n "$filter" ] && ! [[ $name =~ $filter ]] && continue
  say "$name (Win32 under Wine)"
  WINEDEBUG=-all wine "$program" || status=1
done < <(find "$KESTRIN_BUILD/win32" -type f -name '*Bench.exe' | sort)
exit $status
