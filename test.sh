#!/usr/bin/env bash
# Build Tarnwick with its test suite and run every test.
set -euo pipefail
cd "$(dirname "$0")"
tools/prerequisites.sh tests
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DTARNWICK_TESTS=ON -DTARNWICK_SANITIZERS=ON -DTARNWICK_CROSS=ON -DTARNWICK_WEB=ON >/dev/null
cmake --build build -j"$(nproc)"
ctest --test-dir build --output-on-failure -j"$(nproc)" "$@"
