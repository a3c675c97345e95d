#!/usr/bin/env bash
# The root Makefile as an engine-testing worker runs it: "make -j EXE=<path>
# CXX=<compiler>" in the source folder, then "<path> bench".  The program
# must print the same signature as the CMake build and leave nothing behind
# after "make clean".  A program for another system (a cross compiler) runs
# under Wine or qemu-user.
#   make_build_test.sh <source dir> <ARCH> <compiler> <CMake program to compare with> [wine|qemu-aarch64]
set -u
src=$1 arch=$2 cxx=$3 reference=$4 runner=${5:-}
if ! command -v make >/dev/null 2>&1; then
    echo "SKIPPED: make is not installed (Debian package make)"
    exit 77
fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAILED: $*"; exit 1; }

exe=$tmp/bin/tarnwick-make
case $runner in
"") run=() ;;
wine) exe+=.exe run=(wine) ;;
*) run=("$runner") ;;
esac
objects=$tmp/objects
(cd "$src" && make -j2 ARCH="$arch" CXX="$cxx" EXE="$exe" BUILDDIR="$objects") >"$tmp/make.log" 2>&1 ||
    { cat "$tmp/make.log"; fail "make ARCH=$arch"; }
grep '^built ' "$tmp/make.log"

# bench reads no input: it must end by itself while standard input stays open.
exec 3< <(sleep 100)
holder=$!
timeout 120 "${run[@]}" "$exe" bench 5 <&3 >"$tmp/bench.txt" 2>&1
status=$?
exec 3<&-
kill "$holder" 2>/dev/null
[ "$status" = 0 ] || fail "bench 5 ended with status $status"
last=$(tail -n 1 "$tmp/bench.txt" | tr -d '\r')
echo "make build:  $last"
[[ "$last" =~ ^Bench:\ ([0-9]+)\ nodes\ [0-9]+\ nps$ ]] || fail "last line of bench is not 'Bench: N nodes M nps'"
nodes=${BASH_REMATCH[1]}
expected=$("$reference" bench 5 </dev/null | tail -n 1)
echo "CMake build: $expected"
[[ "$expected" =~ ^Bench:\ $nodes\ nodes ]] || fail "signatures differ"

(cd "$src" && make clean ARCH="$arch" CXX="$cxx" EXE="$exe" BUILDDIR="$objects") >/dev/null 2>&1 || fail "make clean"
[ ! -e "$exe" ] && [ ! -e "$objects" ] || fail "make clean left the program or its objects"
echo "PASSED: ARCH=$arch"
