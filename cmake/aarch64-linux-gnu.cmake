# Cross-compiling the ARM64 Linux program (tarnwick-arm64) on another Linux
# machine (Debian package g++-aarch64-linux-gnu):
#   cmake -S . -B build-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake
#   cmake --build build-arm64 -j2
# The program is linked statically, so it runs on any 64-bit ARM Linux:
# Raspberry Pi OS, ARM servers, Android (from a GUI or Termux).  On an x86-64
# machine qemu-user runs it:  qemu-aarch64 build-arm64/tarnwick-arm64 bench
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(TARNWICK_ARM64_PREFIX aarch64-linux-gnu CACHE STRING "Prefix of the ARM64 cross tools")
set(CMAKE_C_COMPILER ${TARNWICK_ARM64_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${TARNWICK_ARM64_PREFIX}-g++)

set(CMAKE_FIND_ROOT_PATH /usr/${TARNWICK_ARM64_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
