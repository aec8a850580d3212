#!/usr/bin/env bash
# A mutation sweep: puts each mutant of tools/mutants.txt (a small, plausible
# programmer error in the tool's own code) into the source, one at a time,
# rebuilds incrementally, runs the test suite with a timeout, and puts the file
# back exactly as it was. A mutant the suite does not notice survived: a test is
# missing. Mutants of the code that only the Windows build compiles
# (src/explorer, the -win32 files) are built in build-mutate-windows/ and judged
# by the Windows suite under Wine; the others in build-mutate/ by the Linux
# suite. One line per mutant, each build's apart, then the counts:
#   killed     NAME: by TEST (N s)     the suite noticed it, in N seconds
#   SURVIVED   NAME: ERROR             it did not
#   equivalent NAME: REASON            marked so in the list, not run
#   killed     NAME: by TEST (not by the named one) (N s)
#                                      the test the list names let it through
#   STALE      NAME: WHY               its text is gone from the source (the list
#                                      needs mending)
#   linux mutants: K killed, S survived, E equivalent
#   windows mutants: K killed, S survived, E equivalent
#
#   bash tools/mutate.sh [MUTANTS_FILE] [NAME ...]
# Each mutant is first given to the test its entry names as its killer, alone,
# with only what that test runs rebuilt (for a Linux test); only when that test
# passes (or none is named) is the rest built and the rest of the suite run, the
# quick tests first, so that a sweep takes minutes, not an hour.
# Exit status 0 only when no mutant survived and none is stale.
set -uo pipefail
cd "$(dirname "$0")/.."
list=${1:-tools/mutants.txt}
shift || true
only=("$@")
jobs=$(nproc)
# The page's tests stop at their first failure: one is enough to kill a mutant.
export WLDMAP_FAIL_FAST=1

[ -f "$list" ] || { echo "no mutant list $list" >&2; exit 2; }

# The list: blocks of "key value" lines separated by blank lines; # starts a
# comment line. Each mutant goes to the build that compiles its file.
names=() files=() errors=() froms=() tos=() equals=() killers=()
name='' file='' error='' from='' to='' equal='' killer=''
declare -A seen  # a name given twice would be run, or picked, as one
flush() {
  if [ -n "$name" ] && [ -n "${seen[$name]:-}" ]; then
    echo "$list: mutant $name is named twice" >&2
    exit 2
  fi
  [ -z "$name" ] || seen[$name]=1
  if [ -n "$name" ] &&
     { [ ${#only[@]} -eq 0 ] || [[ " ${only[*]} " == *" $name "* ]]; }; then
    names+=("$name") files+=("$file") errors+=("$error") froms+=("$from") tos+=("$to")
    equals+=("$equal") killers+=("$killer")
  fi
  name='' file='' error='' from='' to='' equal='' killer=''
}
while IFS= read -r line || [ -n "$line" ]; do
  case "$line" in
    '#'*) ;;
    '') flush ;;
    mutant\ *) name=${line#mutant } ;;
    file\ *) file=${line#file } ;;
    error\ *) error=${line#error } ;;
    from\ *) from=${line#from } ;;
    to\ *) to=${line#to } ;;
    to) to='' ;;
    equivalent\ *) equal=${line#equivalent } ;;
    killer\ *) killer=${line#killer } ;;
    *) echo "$list: cannot read the line: $line" >&2; exit 2 ;;
  esac
done <"$list"
flush
windows_only() { [[ $1 == src/explorer/* || $1 == *-win32.cpp ]]; }

# The file under mutation and its copy, put back on any way out.
target='' saved=$(mktemp)
restore() { if [ -n "$target" ]; then cat "$saved" >"$target"; target=''; fi; }
trap 'restore; rm -f "$saved"' EXIT
trap 'exit 130' INT TERM

killed=0 survived=0 equivalent=0 stale=0 failed=0 moved=0
# A test name (letters, digits, dots, underscores) as a ctest pattern that
# matches it alone.
exact() { printf '^%s$' "${1//./\\.}"; }
# The first test that failed in a ctest log; skipped ones are listed above it.
first_failed() {
  sed -n '/tests FAILED:/,$ s/^[[:space:]]*[0-9]* - \(.*\) (.*)$/\1/p' | head -n 1
}
# Runs the build's tests, the killer named (if any) alone first, then the quick
# ones, then the slow ones, and prints the first that failed, or nothing.
run_tests() {
  local killer=$1 log
  if [ -n "$killer" ] && [ -n "${known[$killer]:-}" ]; then
    log=$(ctest --test-dir "$build" -R "$(exact "$killer")" --timeout 120 2>&1) ||
      { first_failed <<<"$log"; return; }
  fi
  local batch
  for batch in "-E $slow" "-R $slow"; do
    # shellcheck disable=SC2086 # the batch is an option and its pattern
    log=$(timeout 900 ctest --test-dir "$build" -j "$jobs" --timeout 120 --stop-on-failure \
            --no-tests=ignore $batch 2>&1) && continue
    local first
    first=$(first_failed <<<"$log")
    echo "${first:-a test that did not finish}"
    return
  done
}
# Decodes a mutant's text: \n is a line break, \\ a backslash.
decode() { printf '%b' "$1"; }

# Runs mutant number i against the build tree $build.
run_mutant() {
  local i=$1 name=${names[$1]} file=${files[$1]} error=${errors[$1]}
  if [ -n "${equals[$i]}" ]; then
    printf 'equivalent %s: %s\n' "$name" "${equals[$i]}"
    equivalent=$((equivalent + 1))
    return
  fi
  if [ ! -f "$file" ]; then
    printf 'STALE      %s: %s is gone\n' "$name" "$file"
    stale=$((stale + 1))
    return
  fi
  local text old new
  # Read whole, keeping the final line break ($(...) would drop it).
  text=$(cat "$file"; printf x) && text=${text%x}
  old=$(decode "${froms[$i]}") && new=$(decode "${tos[$i]}")
  local without=${text//"$old"/}
  local count=$(((${#text} - ${#without}) / ${#old}))
  if [ "$count" -ne 1 ]; then
    printf 'STALE      %s: its text occurs %d times in %s\n' "$name" "$count" "$file"
    stale=$((stale + 1))
    return
  fi
  cp "$file" "$saved"
  target=$file
  printf '%s' "${text/"$old"/"$new"}" >"$file"
  local verdict='' killer=${killers[$i]} started=$SECONDS
  # The killer first, with only what it runs built: its program, the tool and
  # the sample writer (a Linux test); the rest only where it lets the mutant by.
  if [ -n "$killer" ] && [ -n "${known[$killer]:-}" ] && [ -n "${needs[$killer]:-}" ]; then
    # shellcheck disable=SC2086 # a list of targets
    if ! cmake --build "$build" -j "$jobs" --target ${needs[$killer]} >/dev/null 2>&1; then
      verdict="by the build"
    elif ! ctest --test-dir "$build" -R "$(exact "$killer")" --timeout 120 >/dev/null 2>&1; then
      verdict="by $killer"
    fi
    killer=''  # run, and passed: not again
  fi
  if [ -n "$verdict" ]; then
    :
  elif ! cmake --build "$build" -j "$jobs" >/dev/null 2>&1; then
    verdict="by the build"
  else
    verdict=$(run_tests "$killer")
    if [ -n "$verdict" ] && [ -n "${killers[$i]}" ] && [ "$verdict" != "${killers[$i]}" ]; then
      verdict="$verdict (not by the named ${killers[$i]})"
      moved=$((moved + 1))
    fi
    [ -z "$verdict" ] || verdict="by $verdict"
  fi
  restore
  # Run as root, a mutant that renames over its output once replaced /dev/null
  # with a file, and every later verdict was wrong: stop rather than judge on.
  if [ ! -c /dev/null ]; then
    printf 'mutant %s left /dev/null no device; the sweep stops\n' "$name" >&2
    exit 2
  fi
  if [ -n "$verdict" ]; then
    printf 'killed     %s: %s (%d s)\n' "$name" "$verdict" $((SECONDS - started))
    killed=$((killed + 1))
  else
    printf 'SURVIVED   %s: %s\n' "$name" "$error"
    survived=$((survived + 1))
  fi
}

# From the run without mutants: the tests of $build by name (known), a
# pattern of those that took a second or more (slow), and for a Linux test the
# targets it needs built (its own program where it is one of the build's, the
# tool, the sample writer and the launcher without unnamed files).
declare -A known needs
slow=''
timings() {
  known=() needs=() slow=''
  if [ "$build" = build-mutate ]; then
    local name program
    while IFS=$'\t' read -r name program; do
      needs[$name]="wldmap gensample no_unnamed_files${program:+ $program}"
    done < <(ctest --test-dir "$build" --show-only=json-v1 | python3 -c '
import json, os, sys
build = os.path.abspath(sys.argv[1])
for test in json.load(sys.stdin)["tests"]:
    command = test.get("command") or [""]
    inside = os.path.abspath(command[0]).startswith(build + os.sep)
    package = any("package/" in part and ("deb" in part or "install" in part) for part in command)
    if not package:
        print(test["name"] + "\t" + (os.path.basename(command[0]) if inside else ""))
' "$build")
  fi
  local test runs cost
  while read -r test runs cost; do
    [ "$test" = --- ] && break
    known[$test]=1
    if awk -v c="$cost" 'BEGIN { exit !(c >= 1) }'; then
      slow+="${slow:+|}$(exact "$test")"
    fi
  done <"$build/Testing/Temporary/CTestCostData.txt"
  # No test is slow: the second batch then matches nothing.
  [ -n "$slow" ] || slow='^$'
}

# Runs every mutant of one build ("linux" or "windows") and prints its counts.
sweep() {
  local system=$1 i any=0
  for i in "${!names[@]}"; do
    if [ "$system" = windows ] && windows_only "${files[$i]}"; then any=1; fi
    if [ "$system" = linux ] && ! windows_only "${files[$i]}"; then any=1; fi
  done
  [ "$any" -eq 1 ] || return 0
  echo "== $system"
  if [ "$system" = linux ]; then
    build=build-mutate
    # Built by Ninja, whose check of what changed takes a tenth of make's: a
    # tree that make built is made anew.
    tools/install-deps.sh ninja-build
    grep -qs '^CMAKE_GENERATOR:INTERNAL=Ninja$' "$build/CMakeCache.txt" || rm -rf "$build"
    cmake --preset mutate >/dev/null &&
      cmake --build "$build" -j "$jobs" >/dev/null ||
      { echo "the tree does not build" >&2; failed=1; return; }
    ctest --test-dir "$build" -j "$jobs" --timeout 300 >/dev/null ||
      { echo "the linux suite fails without any mutant; mend that first" >&2; failed=1; return; }
    timings
  else
    build=build-mutate-windows
    # Builds the tree and runs its suite once, which must pass.
    export WINEPREFIX=$(pwd)/$build/wine
    bash tools/build-windows.sh --test --out "$build" >/dev/null ||
      { echo "the Windows build or its suite fails without any mutant" >&2; failed=1; return; }
    timings
    # One Wine server for the sweep; it is stopped on the way out with the rest.
    source tools/wine-session.sh
    trap 'restore; rm -f "$saved"; wineserver -k </dev/null >/dev/null 2>&1 || true' EXIT
  fi
  killed=0 survived=0 equivalent=0
  for i in "${!names[@]}"; do
    if windows_only "${files[$i]}"; then [ "$system" = windows ] || continue
    else [ "$system" = linux ] || continue; fi
    run_mutant "$i"
  done
  # The build tree is left as the real source builds it.
  cmake --build "$build" -j "$jobs" >/dev/null 2>&1
  echo "$system mutants: $killed killed, $survived survived, $equivalent equivalent"
  [ "$survived" -eq 0 ] || failed=1
}

sweep linux
sweep windows
[ "$stale" -eq 0 ] || echo "stale: $stale (their text is no longer in the source)"
[ "$moved" -eq 0 ] || echo "killed by another test than the list names: $moved (mend their killer lines)"
[ "$failed" -eq 0 ] && [ "$stale" -eq 0 ]
