#!/bin/sh
# Installs Kestrin1 (public headers, DLL, import library) into a fresh folder,
# builds a client program with nothing but that folder, as C++17 and as
# C++20, and runs each.
#   consumer_build.sh BUILD_DIR CXX SOURCE WORK_DIR RUNNER...
# RUNNER: how the build runs its programs (testing/wine-run.sh x86|x64).
set -eu
: "${WINEPREFIX:?the test runs in the prefix test.sh sets up}"
build=$1 cxx=$2 source=$3 work=$4
shift 4
rm -rf "$work"
cmake --install "$build" --prefix "$work/prefix" --component Kestrin1 >/dev/null
# Clients of either standard: the public records are aggregates in both.
for std in c++17 c++20; do
  echo "consumer: built as $std"
  "$cxx" -std=$std -Wall -Wextra -Werror -I"$work/prefix/include" "$source" \
    "$work/prefix/lib/Kestrin1.dll.a" -static -o "$work/prefix/bin/consumer.exe"
  "$@" "$work/prefix/bin/consumer.exe"
done
