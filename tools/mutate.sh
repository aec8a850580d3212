#!/usr/bin/env bash
# A mutation sweep: puts each mutant of tools/mutants.txt (a small, plausible
# programmer error in the tool's own code) into the source, one at a time,
# rebuilds build-mutate/ incrementally, runs the test suite with a timeout, and
# puts the file back exactly as it was. A mutant the suite does not notice
# survived: a test is missing. One line per mutant, then the counts:
#   killed     NAME: by TEST           the suite noticed it
#   SURVIVED   NAME: ERROR             it did not
#   equivalent NAME: REASON            marked so in the list, not run
#   STALE      NAME: WHY               its text is gone from the source (the list
#                                      needs mending)
#   mutants: K killed, S survived, E equivalent
#
#   bash tools/mutate.sh [MUTANTS_FILE] [NAME ...]
# Exit status 0 only when no mutant survived and none is stale.
set -uo pipefail
cd "$(dirname "$0")/.."
list=${1:-tools/mutants.txt}
shift || true
only=("$@")
build=build-mutate
jobs=$(nproc)

[ -f "$list" ] || { echo "no mutant list $list" >&2; exit 2; }
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DWLDMAP_TESTS=ON >/dev/null || exit 2
cmake --build "$build" -j "$jobs" >/dev/null || { echo "the tree does not build" >&2; exit 2; }
ctest --test-dir "$build" -j "$jobs" --timeout 300 >/dev/null ||
  { echo "the suite fails without any mutant; mend that first" >&2; exit 2; }

# The file under mutation and its copy, put back on any way out.
target='' saved=$(mktemp)
restore() { if [ -n "$target" ]; then cat "$saved" >"$target"; target=''; fi; }
trap 'restore; rm -f "$saved"' EXIT
trap 'exit 130' INT TERM

killed=0 survived=0 equivalent=0 stale=0
# Decodes a mutant's text: \n is a line break, \\ a backslash.
decode() { printf '%b' "$1"; }

run_mutant() {
  local name=$1 file=$2 error=$3 from=$4 to=$5 equal=$6
  if [ ${#only[@]} -gt 0 ] && [[ " ${only[*]} " != *" $name "* ]]; then return; fi
  if [ -n "$equal" ]; then
    printf 'equivalent %s: %s\n' "$name" "$equal"
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
  old=$(decode "$from") && new=$(decode "$to")
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
  local verdict
  if ! cmake --build "$build" -j "$jobs" >/dev/null 2>&1; then
    verdict="by the build"
  else
    local log
    log=$(timeout 900 ctest --test-dir "$build" -j "$jobs" --timeout 120 --stop-on-failure 2>&1)
    if [ $? -eq 0 ]; then
      verdict=''
    else
      verdict="by $(sed -n 's/^[[:space:]]*[0-9]* - \(.*\) (.*)$/\1/p' <<<"$log" | head -n 1)"
      [ "$verdict" = "by " ] && verdict="by a test that did not finish"
    fi
  fi
  restore
  if [ -n "$verdict" ]; then
    printf 'killed     %s: %s\n' "$name" "$verdict"
    killed=$((killed + 1))
  else
    printf 'SURVIVED   %s: %s\n' "$name" "$error"
    survived=$((survived + 1))
  fi
}

# The list: blocks of "key value" lines separated by blank lines; # starts a
# comment line.
name='' file='' error='' from='' to='' equal=''
flush() {
  if [ -n "$name" ]; then run_mutant "$name" "$file" "$error" "$from" "$to" "$equal"; fi
  name='' file='' error='' from='' to='' equal=''
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
    *) echo "$list: cannot read the line: $line" >&2; exit 2 ;;
  esac
done <"$list"
flush

# The build tree is left as the real source builds it.
cmake --build "$build" -j "$jobs" >/dev/null 2>&1
[ "$stale" -eq 0 ] || echo "stale: $stale (their text is no longer in the source)"
echo "mutants: $killed killed, $survived survived, $equivalent equivalent"
[ "$survived" -eq 0 ] && [ "$stale" -eq 0 ]
