#!/usr/bin/env bash
# Checks for the Debian packages the build needs and names any that is missing.
#   tools/prerequisites.sh [tests]
missing=()
command -v cmake >/dev/null 2>&1 || missing+=(cmake)
command -v g++ >/dev/null 2>&1 || missing+=(g++)
command -v make >/dev/null 2>&1 || missing+=(make)
if [ "${1:-}" = tests ]; then
    found=no
    for f in /usr/lib/*/cmake/GTest/GTestConfig.cmake /usr/lib/cmake/GTest/GTestConfig.cmake \
             /usr/lib/*/libgtest.a /usr/lib/libgtest.a; do
        [ -e "$f" ] && found=yes
    done
    [ "$found" = yes ] || missing+=(libgtest-dev)
    # The fuzzing harnesses: clang++ and its libFuzzer runtime, which Debian
    # ships apart from the compiler (libclang-rt-<version>-dev).
    if command -v clang++ >/dev/null 2>&1; then
        version=$(clang++ -dumpversion 2>/dev/null)
        runtime=$(clang++ -print-resource-dir 2>/dev/null)/lib/linux/libclang_rt.fuzzer-x86_64.a
        [ -e "$runtime" ] || missing+=("libclang-rt-${version%%.*}-dev")
    else
        missing+=(clang libclang-rt-14-dev)
    fi
fi
if [ ${#missing[@]} -gt 0 ]; then
    echo "Missing Debian package(s): ${missing[*]}" >&2
    echo "Install them with:  sudo apt-get install ${missing[*]}" >&2
    exit 1
fi
