#!/usr/bin/env bash
# Build Tarnwick with its test suite and run every test.
#   ./test.sh [--skip GROUP[,GROUP...]] [ctest arguments]
# GROUP: cross, fuzz, web or package (see tools/prerequisites.sh): those
# tests are left out and their tools are not installed.  Every other tool
# the tests use is installed when missing; a test whose tool is missing
# fails and names the Debian package.
#   ./test.sh --quick [ctest arguments]
# The loop for editing: builds only the native programs and the tests, in
# build-quick/ (no sanitizer builds, none of the groups above), and runs the
# tests but the slow ones (label "slow": self-play games, protocol storms,
# builds with make), e.g. ./test.sh --quick -R Uci.  Before a commit, run
# ./test.sh.
set -euo pipefail
cd "$(dirname "$0")"
if [ "${1:-}" = --quick ]; then
    shift
    tools/prerequisites.sh tests --skip cross,fuzz,web,package
    cmake -S . -B build-quick -DCMAKE_BUILD_TYPE=Release -DTARNWICK_TESTS=ON -DTARNWICK_SANITIZERS=OFF \
        -DTARNWICK_BENCH=OFF -DTARNWICK_CROSS=OFF -DTARNWICK_FUZZ=OFF -DTARNWICK_WEB=OFF \
        -DTARNWICK_PACKAGE_TEST=OFF >/dev/null
    cmake --build build-quick -j"$(nproc)"
    exec ctest --test-dir build-quick --output-on-failure -j"$(nproc)" -LE slow "$@"
fi
skip=
if [ "${1:-}" = --skip ]; then
    skip=${2:?--skip needs a list of groups: cross,fuzz,web,package}
    shift 2
fi
group() {
    local name=$1 option=$2
    [[ ",$skip," == *",$name,"* ]] && echo "-D$option=OFF" || echo "-D$option=ON"
}
for g in ${skip//,/ }; do
    case $g in cross | fuzz | web | package) ;; *) echo "unknown group of tests: $g" >&2; exit 2 ;; esac
done
tools/prerequisites.sh tests ${skip:+--skip "$skip"}
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DTARNWICK_TESTS=ON -DTARNWICK_SANITIZERS=ON \
    "$(group cross TARNWICK_CROSS)" "$(group fuzz TARNWICK_FUZZ)" "$(group web TARNWICK_WEB)" \
    "$(group package TARNWICK_PACKAGE_TEST)" >/dev/null
cmake --build build -j"$(nproc)"
ctest --test-dir build --output-on-failure -j"$(nproc)" "$@"
