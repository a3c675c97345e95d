#!/usr/bin/env bash
# "make profile-build" as a worker runs it: the program is built
# instrumented, trained on bench and built again from the counts with
# link-time optimisation.  The trained program must search exactly as the
# plain one: every bench line (nodes and best move of each position) and the
# signature equal those of the CMake program.  The counts must have been
# found for every object (no profile warning in the build), and "make clean"
# must leave nothing behind.
#   pgo_build_test.sh <source dir> <ARCH> <compiler> <CMake program to compare with>
set -u
src=$1 arch=$2 cxx=$3 reference=$4
if ! command -v make >/dev/null 2>&1; then
    echo "SKIPPED: make is not installed (Debian package make)"
    exit 77
fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAILED: $*"; exit 1; }

exe=$tmp/bin/tarnwick-pgo
objects=$tmp/objects
(cd "$src" && make -j2 profile-build ARCH="$arch" CXX="$cxx" EXE="$exe" BUILDDIR="$objects") >"$tmp/make.log" 2>&1 ||
    { cat "$tmp/make.log"; fail "make profile-build ARCH=$arch"; }
grep '^built ' "$tmp/make.log"
grep -q "^built $exe .*profile-guided" "$tmp/make.log" || fail "no profile-guided program built"
# A missing or mismatched profile is only a warning, and the program would
# quietly lose what the training gave it.
if grep -E -i 'profile|coverage' "$tmp/make.log" | grep -i 'warning'; then
    fail "the counts of the training were not all used"
fi

untimed() { grep -E '^(bench position|Bench:)' | sed -E 's/ time [0-9]+//; s/ nps [0-9]+//; s/ [0-9]+ nps$//'; }
timeout 300 "$exe" bench </dev/null 2>&1 | untimed >"$tmp/pgo.txt"
timeout 300 "$reference" bench </dev/null 2>&1 | untimed >"$tmp/plain.txt"
echo "profile-guided: $(tail -n 1 "$tmp/pgo.txt")"
echo "CMake build:    $(tail -n 1 "$tmp/plain.txt")"
grep -q '^Bench: [0-9]* nodes' "$tmp/plain.txt" || fail "$reference bench gave no signature"
diff "$tmp/plain.txt" "$tmp/pgo.txt" || fail "the bench lines differ"

(cd "$src" && make clean ARCH="$arch" CXX="$cxx" EXE="$exe" BUILDDIR="$objects") >/dev/null 2>&1 || fail "make clean"
[ ! -e "$exe" ] && [ ! -e "$objects" ] || fail "make clean left the program or its objects"
echo "PASSED: profile-build ARCH=$arch"
