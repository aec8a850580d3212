# Sourced by the tests of thumbnail services, with `build` set: a scratch folder
# ($root, removed on the way out) holding the build installed into
# $root/prefix with its file types registered there, and fail() for what goes
# wrong.
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
cmake --install "$build" --prefix "$root/prefix" >/dev/null
update-mime-database "$root/prefix/share/mime" >/dev/null
