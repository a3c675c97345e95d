#!/usr/bin/env bash
# Build Tarnwick (the three programs, no tests) and start the engine.
#   ./run.sh [program arguments]      e.g.  ./run.sh   or   ./run.sh perft 5
# Set TARNWICK_PROGRAM=tarnwick-bmi or tarnwick-nop to start another build.
# On an ARM64 machine the one program is tarnwick-arm64.
set -euo pipefail
cd "$(dirname "$0")"
tools/prerequisites.sh
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DTARNWICK_TESTS=OFF -DTARNWICK_SANITIZERS=OFF >/dev/null
cmake --build build-release -j"$(nproc)" >/dev/null
case $(uname -m) in aarch64 | arm64) default=tarnwick-arm64 ;; *) default=tarnwick ;; esac
exec "build-release/${TARNWICK_PROGRAM:-$default}" "$@"
