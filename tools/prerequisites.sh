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
    # The page and its tests in a browser (web/).
    command -v em++ >/dev/null 2>&1 || missing+=(emscripten)
    command -v node >/dev/null 2>&1 || missing+=(nodejs)
    command -v npm >/dev/null 2>&1 || missing+=(npm)
    command -v chromium >/dev/null 2>&1 || missing+=(chromium)
fi
if [ ${#missing[@]} -gt 0 ]; then
    echo "Missing Debian package(s): ${missing[*]}" >&2
    echo "Install them with:  sudo apt-get install ${missing[*]}" >&2
    exit 1
fi
