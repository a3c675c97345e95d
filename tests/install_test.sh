#!/usr/bin/env bash
# "cmake --install" into a staging directory (DESTDIR): the files of the
# package, and an installed program that finds its perft regression file
# from any working directory.
#   install_test.sh <build dir> <source dir> <version of the project>
set -u
build=$1 src=$2 version=$3
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAILED: $*"; exit 1; }

stage=$tmp/stage
DESTDIR=$stage cmake --install "$build" --prefix /usr >"$tmp/install.log" 2>&1 ||
    { cat "$tmp/install.log"; fail "cmake --install"; }
(cd "$stage" && find . ! -type d | sed 's|^\./||' | LC_ALL=C sort) >"$tmp/installed.txt"
grep -v '^#' "$src/tests/package_files.txt" | LC_ALL=C sort >"$tmp/expected.txt"
diff "$tmp/expected.txt" "$tmp/installed.txt" || fail "installed files differ from tests/package_files.txt"
[ "$(readlink "$stage/usr/share/man/man6/tarnwick-bmi.6.gz")" = tarnwick.6.gz ] || fail "tarnwick-bmi(6) is not a link to tarnwick(6)"

# The manual page formats without a warning.
page=$stage/usr/share/man/man6/tarnwick.6.gz
command -v groff >/dev/null 2>&1 || fail "groff is not installed (Debian package groff-base; ./test.sh installs it)"
gzip -dc "$page" | groff -ww -man -Tutf8 -z 2>"$tmp/man.txt"
[ ! -s "$tmp/man.txt" ] || { cat "$tmp/man.txt"; fail "warnings from the manual page"; }

# Run from a directory that holds no regression file.
mkdir "$tmp/elsewhere" && cd "$tmp/elsewhere" || fail "no working directory"
run() { printf '%s\n' "$@" | "$stage/usr/games/tarnwick" 2>&1; }
out=$(run uci rtest quit)
grep -qx uciok <<<"$out" || fail "no uciok: $out"
grep -qx "id name Tarnwick $version" <<<"$out" || fail "the engine does not call itself version $version: $out"
grep -qx 'Results of the perft checks is OK: 1' <<<"$out" || fail "rtest of the installed file: $out"

# That was the installed file: with a wrong count in it the check fails.
# (White king a1, black king h1: the white king has 3 moves.)
printf '%s\n' '8/8/8/8/8/8/8/K6k w - - 0 1;1;4' >"$stage/usr/share/tarnwick/perft.txt"
out=$(run rtest quit)
grep -q '^0; 8/8/8/8/8/8/8/K6k w - - 0 1; 1; 4; 3; ' <<<"$out" || fail "installed file not read: $out"
grep -qx 'Results of the perft checks is OK: 0' <<<"$out" || fail "wrong count not reported: $out"

# A file in the working directory comes first.
printf '%s\n' '8/8/8/8/8/8/8/K6k w - - 0 1;1;3' >perft.txt
out=$(run rtest quit)
grep -qx 'Results of the perft checks is OK: 1' <<<"$out" || fail "working directory's file not read first: $out"
echo "PASSED: $(wc -l <"$tmp/installed.txt") files installed; rtest finds the installed and the local file"
