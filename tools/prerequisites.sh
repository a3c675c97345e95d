#!/usr/bin/env bash
# Makes sure the Debian packages that a task needs are installed, and installs
# the missing ones: with apt-get when run as root, through "sudo -n" when sudo
# works without a password; otherwise names the command to run and fails.
#   tools/prerequisites.sh            building the programs (./run.sh)
#   tools/prerequisites.sh tests      the test suite (./test.sh): also
#                                     GoogleTest, groff, clang-format and
#                                     clang-tidy, and the tools of each group
#                                     of tests (below)
#   tools/prerequisites.sh tests --skip GROUP[,GROUP...]
#                                     the same without the tools of those groups
#   tools/prerequisites.sh release    the release archives (tools/release.sh)
# The groups of tests and their tools:
#   cross    the cross compilers, Wine and qemu-user
#   fuzz     clang with its fuzzing runtime
#   web      Emscripten, Node.js, npm and Chromium
#   package  dpkg-dev, file (which dpkg-shlibdeps runs) and lintian
# When everything is there it only looks (no apt call, a few milliseconds).
set -u
mode=${1:-build}
case $mode in build | tests | release) ;; *) echo "usage: $0 [tests [--skip GROUP,...]|release]" >&2; exit 2 ;; esac
skip=,
if [ "$mode" = tests ] && [ "${2:-}" = --skip ]; then
    skip=",${3:-},"
fi
wanted() { [ "$mode" = tests ] && [[ $skip != *",$1,"* ]]; }

have() { command -v "$1" >/dev/null 2>&1; }
exists() { for f in "$@"; do [ -e "$f" ] && return 0; done; return 1; }

# missing: the packages of which something is not found.
missing=()
check() {
    local package=$1
    shift
    "$@" || missing+=("$package")
}
probe() {
    missing=()
    check cmake have cmake
    check g++ have g++
    check make have make
    check gzip have gzip
    if [ "$mode" = release ] || wanted cross; then
        check g++-mingw-w64-x86-64-posix have x86_64-w64-mingw32-g++-posix
        check g++-aarch64-linux-gnu have aarch64-linux-gnu-g++
    fi
    if [ "$mode" = release ] || wanted package; then
        # cpack -G DEB computes the package's dependencies with
        # dpkg-shlibdeps, which tells programs from other files with "file".
        check dpkg-dev have dpkg-shlibdeps
        check file have file
    fi
    if [ "$mode" = tests ]; then
        check libgtest-dev exists /usr/lib/*/cmake/GTest/GTestConfig.cmake /usr/lib/cmake/GTest/GTestConfig.cmake \
            /usr/lib/*/libgtest.a /usr/lib/libgtest.a
        # The manual page is formatted by the installation test.
        check groff-base have groff
        # The layout and naming checks (tools/format.sh, tools/check-names.sh).
        check clang-format have clang-format
        check clang-tidy have clang-tidy
    fi
    if wanted package; then
        check lintian have lintian
    fi
    if wanted fuzz; then
        check clang have clang
        check libclang-rt-14-dev exists /usr/lib/llvm-14/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a
    fi
    if wanted cross; then
        check wine have wine
        check wine64 exists /usr/lib/wine/wine64 /usr/lib/x86_64-linux-gnu/wine/wine64
        check qemu-user have qemu-aarch64
        check qemu-user have qemu-x86_64
    fi
    if wanted web; then
        # The page and its tests in a browser (web/).
        check emscripten have em++
        check nodejs have node
        check npm have npm
        check chromium have chromium
    fi
    if [ "$mode" = release ]; then
        check zip have zip
    fi
    # Each package once, in the order found.
    local unique=() p
    for p in "${missing[@]}"; do
        [[ " ${unique[*]} " == *" $p "* ]] || unique+=("$p")
    done
    missing=("${unique[@]}")
}

probe
[ ${#missing[@]} -eq 0 ] && exit 0

command="apt-get install -y ${missing[*]}"
if ! have apt-get; then
    echo "Missing: ${missing[*]} (Debian package names); this system has no apt-get to install them." >&2
    exit 1
fi
if [ "$(id -u)" = 0 ]; then
    as_root=()
elif have sudo && sudo -n true 2>/dev/null; then
    as_root=(sudo -n)
else
    echo "Missing Debian package(s): ${missing[*]}" >&2
    echo "Install them with:  sudo $command" >&2
    exit 1
fi
echo "Installing the missing Debian package(s): ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -qq >&2 &&
    "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}" >&2 ||
    { echo "Could not install them; run:  sudo $command" >&2; exit 1; }
probe
if [ ${#missing[@]} -gt 0 ]; then
    echo "Still missing after the installation: ${missing[*]}" >&2
    exit 1
fi
