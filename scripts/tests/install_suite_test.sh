#!/usr/bin/env bash
# The client libraries in the system folders, shared with other installations
# (scripts/install_suite.sh): installed again, beside a second installation,
# uninstalled one by one, an older suite over a newer one, copies that another
# installation put there with or without a count, and the x86 pair of a suite
# installed without its x86 build.
#   install_suite_test.sh BUILD OLDER.dll NEWER.dll
# BUILD holds the build trees (win32, win64) and the prefix. The suites
# installed are made of the x64 build's KestrinSharedFile.exe and client
# libraries of three versions: the builds' own, and the two stand-ins, whose
# version resources say 2.9.0.0 and 2.11.0.0 and which stand in for both
# libraries of both architectures (nothing loads them). The second
# installation is another product that shares the libraries through the
# system's counts, as every installer does; here it uses KestrinSharedFile.exe
# too. Where the prefix runs no 32-bit programs the x86 cases are left out.
set -uo pipefail
KESTRIN_BUILD=$(cd "$1" && pwd)
older=$2
newer=$3
. "$(dirname "$0")/../common.sh"
. "$KESTRIN_ROOT/scripts/install_suite.sh"
build=$KESTRIN_BUILD
helper="$build/win64/scripts/setup/KestrinSharedFile.exe"
libraries="Kestrin1.dll KestrinZel2.dll"
shared_key='HKLM\Software\Microsoft\Windows\CurrentVersion\SharedDLLs'

arches=x64
if [ -d "$(suite_system_folder x86)" ] && [ -d "$WINEPREFIX/drive_c/Program Files (x86)" ]; then
  arches="x64 x86"
else
  echo "(no syswow64 and Program Files (x86) in this prefix: the x86 cases are left out)"
fi
windows_folder() {
  case "$1" in x64) echo 'C:\windows\system32' ;; x86) echo 'C:\windows\syswow64' ;; esac
}

# tree_library ROOT ARCH NAME: a client library in the build folder ROOT.
tree_library() {
  local tree=win64 folder=library
  [ "$2" = x86 ] && tree=win32
  [ "$3" = KestrinZel2.dll ] && folder=emulation
  echo "$1/$tree/$folder/$3"
}

scratch="$build/install-suite-test"
# make_suite NAME LIBRARIES ARCHES: a build folder with the helper in its win64
# tree and, in the tree of each of ARCHES, both client libraries: the build's
# own (LIBRARIES "build") or copies of a stand-in (LIBRARIES its path).
make_suite() {
  local root="$scratch/$1" arch name target
  rm -rf "$root"
  for arch in $3; do
    for name in $libraries; do
      target=$(tree_library "$root" "$arch" "$name")
      mkdir -p "$(dirname "$target")"
      if [ "$2" = build ]; then cp "$(tree_library "$build" "$arch" "$name")" "$target"
      else cp "$2" "$target"; fi
    done
  done
  mkdir -p "$root/win64/scripts/setup"
  cp "$helper" "$root/win64/scripts/setup/"
}
# install_as SUITE: the suite installed from one of those folders.
install_as() { KESTRIN_BUILD="$scratch/$1" BIN="$scratch/$1/win64" install_suite; }

# The other installation: puts both libraries of one of those folders into
# the system folders of ARCHES (all that run here when not given), and gives
# them back.
other_share() {
  local out
  out=$(suite_run "$helper" "$@" 2>&1)
  echo "  other installation: ${out//$'\r'/}"
}
other_install() {
  local arch name
  for arch in ${2:-$arches}; do
    for name in $libraries; do
      other_share place "$arch" "$(kestrin_winpath "$(tree_library "$scratch/$1" "$arch" "$name")")"
    done
  done
}
other_uninstall() {
  local arch name
  for arch in ${1:-$arches}; do
    for name in $libraries; do other_share release "$arch" "$name"; done
  done
}

# What the system folders and the counts hold: a line "ARCH NAME COUNT COPY"
# per library, COUNT the value in the 64-bit view (- for none), COPY which
# file is there (current, older, newer, absent, or other); and a line for each
# count found in the 32-bit view, where none belongs.
state() {
  local view64 view32 arch name path count copy
  view64=$(suite_run reg query "$shared_key" /reg:64 2>/dev/null | tr -d '\r')
  view32=$(suite_run reg query "$shared_key" /reg:32 2>/dev/null | tr -d '\r')
  for arch in $arches; do
    for name in $libraries; do
      path="$(windows_folder "$arch")\\$name"
      count=$(awk -v p="$path" 'tolower($1) == tolower(p) && $2 == "REG_DWORD" { print $3 }' <<<"$view64")
      [ -n "$count" ] && count=$((count))
      copy="$(suite_system_folder "$arch")/$name"
      if [ ! -f "$copy" ]; then copy=absent
      elif cmp -s "$copy" "$(tree_library "$build" "$arch" "$name")"; then copy=current
      elif cmp -s "$copy" "$older"; then copy=older
      elif cmp -s "$copy" "$newer"; then copy=newer
      else copy=other; fi
      echo "$arch $name ${count:--} $copy"
      if awk -v p="$path" 'tolower($1) == tolower(p) { found = 1 } END { exit !found }' <<<"$view32"; then
        echo "$arch $name counted in the 32-bit view"
      fi
    done
  done
}

failures=0
# expect WHAT COUNT COPY [ARCHES]: every library of those architectures (all
# that run here when not given) has that count and copy; the others are as
# the last check left them.
declare -A last
expect() {
  local what=$1 count=$2 copy=$3 only=${4:-$arches} line arch name want got ok=1
  got=$(state)
  while read -r arch name rest; do
    if [[ " $only " == *" $arch "* ]]; then want="$count $copy"; else want=${last[$arch $name]:-"- absent"}; fi
    line=$(grep -E "^$arch $name " <<<"$got")
    if [ "$line" != "$arch $name $want" ]; then
      ok=0
      echo "  FAILED: $what: $arch $name: expected count and copy \"$want\", got \"${line#"$arch $name "}\""
    fi
  done < <(grep -vE 'counted in the 32-bit view' <<<"$got")
  line=$(grep -E 'counted in the 32-bit view' <<<"$got")
  if [ -n "$line" ]; then
    ok=0
    echo "  FAILED: $what: ${line//$'\n'/; }"
  fi
  while read -r arch name rest; do last[$arch $name]=$rest; done < <(grep -vE 'counted in the' <<<"$got")
  if [ "$ok" = 1 ]; then echo "ok: $what ($count, $copy; $only)"; else failures=$((failures + 1)); fi
}

# Nothing of an earlier run: no installation, no counts, no copies.
clean() {
  local arch name
  uninstall_suite >/dev/null 2>&1
  for arch in x64 x86; do
    for name in $libraries; do
      rm -f "$(suite_system_folder "$arch")/$name"
      suite_run reg delete "$shared_key" /v "$(windows_folder "$arch")\\$name" /reg:64 /f >/dev/null 2>&1
      suite_run reg delete "$shared_key" /v "$(windows_folder "$arch")\\$name" /reg:32 /f >/dev/null 2>&1
    done
  done
  last=()
}
trap 'clean; rm -rf "$scratch"' EXIT

make_suite current build "$arches"
make_suite newer "$newer" "$arches"
make_suite older "$older" "$arches"
make_suite x64only build x64

say "installed, installed again, uninstalled"
clean
install_as current
expect "installed" 1 current
install_as current
expect "installed again: counted once" 1 current
uninstall_suite
expect "uninstalled: the last user" - absent

say "a second installation; the suite uninstalled first, then the other"
clean
install_as current
other_install current
expect "a second installation" 2 current
uninstall_suite
expect "one uninstalled: the other's copy stays" 1 current
other_uninstall
expect "both uninstalled" - absent

say "the other installation first and gone first"
clean
other_install current
install_as current
expect "installed as the second" 2 current
other_uninstall
expect "the other uninstalled" 1 current
uninstall_suite
expect "both uninstalled" - absent

say "an older suite installed over a newer one, and over an older one"
clean
install_as newer
expect "the newer suite" 1 newer
install_as current
expect "the older over it: the newer stays" 1 newer
uninstall_suite
expect "uninstalled" - absent
install_as older
expect "a suite of 2.9" 1 older
install_as current
expect "2.10 over 2.9: replaced (not by text, where 2.9 is the greater)" 1 current
uninstall_suite
expect "uninstalled" - absent

say "the suite over another installation's newer copy"
clean
other_install newer
install_as current
expect "installed: the other's newer copy stays" 2 newer
uninstall_suite
expect "uninstalled: the other's copy and count stay" 1 newer
other_uninstall
expect "the other uninstalled" - absent

say "copies put there without a count"
clean
for arch in $arches; do
  for name in $libraries; do cp "$newer" "$(suite_system_folder "$arch")/$name"; done
done
expect "a newer copy, uncounted" - newer
install_as current
expect "installed: the copy stays, its unknown user counted" 2 newer
uninstall_suite
expect "uninstalled: the copy stays for its unknown user" 1 newer
clean
for arch in $arches; do
  for name in $libraries; do cp "$older" "$(suite_system_folder "$arch")/$name"; done
done
install_as current
expect "an older uncounted copy: replaced, its unknown user counted" 2 current
uninstall_suite
expect "uninstalled: the copy stays for its unknown user" 1 current

if [[ " $arches " == *" x86 "* ]]; then
  say "the x86 pair of another installation, the suite installed without its x86 build"
  clean
  other_install current x86
  expect "the other's x86 pair" 1 current x86
  install_as x64only
  expect "the suite without x86: its x64 libraries" 1 current x64
  expect "and the x86 pair as it was" 1 current x86
  uninstall_suite
  expect "uninstalled: its x64 libraries gone" - absent x64
  expect "and the x86 pair it never placed still there" 1 current x86
  other_uninstall x86
  expect "the other uninstalled" - absent x86
fi

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
echo "every check passed"
