# Sourced by the build and test scripts: starts one persistent Wine server for
# the prefix in WINEPREFIX (default build-windows/wine) and stops it when the
# script exits. Wine's background services start with the first program run in a
# prefix and keep that program's output pipes open; started up front, they hold
# no test's or build step's pipes, so nothing waits on them.
export WINEDEBUG=-all
# Wine writes Windows file names to disk in the locale's character set; only a
# UTF-8 one holds every name (the C locale of a fresh system holds ASCII only).
case "$(locale charmap 2>/dev/null)" in
  UTF-8) ;;
  *) export LC_ALL=C.UTF-8 ;;
esac
export WINEPREFIX=${WINEPREFIX:-$(pwd)/build-windows/wine}
mkdir -p "$(dirname "$WINEPREFIX")"
# A server left over from an earlier run would never let `wineserver -w` return.
wineserver -k </dev/null >/dev/null 2>&1 || true
wineboot --init </dev/null >/dev/null 2>&1
wineserver -w </dev/null >/dev/null 2>&1
wineserver -p </dev/null >/dev/null 2>&1
wineboot </dev/null >/dev/null 2>&1
trap 'wineserver -k </dev/null >/dev/null 2>&1 || true' EXIT
