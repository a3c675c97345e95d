#!/usr/bin/env bash
# Build Tarnwick with its test suite and run every test.
#   ./test.sh [--skip GROUP[,GROUP...]] [ctest arguments]
# GROUP: cross, fuzz, web or package (see tools/prerequisites.sh): those
# tests are left out and their tools are not installed.  Every other tool
# the tests use is installed when missing; a test whose tool is missing
# fails and names the Debian package.
set -euo pipefail
cd "$(dirname "$0")"
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
