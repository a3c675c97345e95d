# Tarnwick with make alone: one program, no CMake, no tests.
#
#   make -j                          the fastest program this machine can run, ./tarnwick
#   make -j EXE=path CXX=clang++     another output path or compiler
#   make -j ARCH=bmi|popcnt|nop      a chosen instruction set (default: auto)
#   make clean                       remove the objects and the program
#
# With a cross compiler, programs for Windows and for ARM64 Linux (both
# linked statically):
#   make -j CXX=x86_64-w64-mingw32-g++-posix ARCH=popcnt EXE=tarnwick.exe
#   make -j CXX=aarch64-linux-gnu-g++ ARCH=arm64 EXE=tarnwick-arm64
#
# This is the build that engine-testing frameworks (OpenBench workers and the
# like) run in the source folder before they play.  It compiles the sources
# listed in src/sources.txt, the list the CMake build reads, with the options
# the CMake build gives the same program (CMakeLists.txt, add_flavour), so
# both builds print the same "bench" signature.  Keep the two in step.
#
#   ARCH=bmi     POPCNT, BMI2 PEXT slider lookup, AVX2  (the tarnwick-bmi program)
#   ARCH=popcnt  POPCNT, magic-multiplication lookup   (tarnwick)
#   ARCH=nop     plain x86-64                          (tarnwick-nop)
#   ARCH=arm64   64-bit ARM, population count, magic   (tarnwick-arm64)
#
# Objects go to BUILDDIR (build-make/<arch>-<compiler> by default).

# The machine the compiler builds for, e.g. x86_64-linux-gnu,
# x86_64-w64-mingw32, aarch64-linux-gnu.
target := $(shell $(CXX) -dumpmachine 2>/dev/null)
ifneq ($(filter aarch64% arm64%,$(target)),)
  target_cpu := arm64
else
  target_cpu := x86-64
endif
ifneq ($(findstring mingw,$(target)),)
  target_windows := yes
endif

ifdef target_windows
  EXE ?= tarnwick.exe
else
  EXE ?= tarnwick
endif
ARCH ?= auto

# ---------------------------------------------------------------------------
# The instruction set: asked of the compiler, which knows what the host has
# (and whether the operating system saves the AVX registers).  PEXT is slow
# microcode on AMD Zen 1 and Zen 2, where the POPCNT program is faster.
# ---------------------------------------------------------------------------
ifeq ($(ARCH)-$(target_cpu),auto-arm64)
  arch := arm64
else ifeq ($(ARCH),auto)
  native := $(shell $(CXX) -march=native -dM -E -x c++ /dev/null 2>/dev/null)
  ifneq ($(and $(filter __POPCNT__,$(native)),$(filter __BMI__,$(native)),$(filter __BMI2__,$(native)),$(filter __AVX2__,$(native))),)
    ifeq ($(filter __znver1__ __znver2__,$(native)),)
      arch := bmi
    else
      arch := popcnt
    endif
  else ifneq ($(filter __POPCNT__,$(native)),)
    arch := popcnt
  else
    arch := nop
  endif
else
  arch := $(ARCH)
endif

ifeq ($(target_cpu),arm64)
  BASE_FLAGS :=
  ifneq ($(arch),arm64)
    $(error $(CXX) builds for ARM64 ($(target)): ARCH must be arm64 or auto, not '$(ARCH)')
  endif
else
  BASE_FLAGS := -march=x86-64 -mtune=generic
  ifeq ($(arch),arm64)
    $(error ARCH=arm64 needs a compiler for ARM64, such as CXX=aarch64-linux-gnu-g++; $(CXX) builds for $(target))
  endif
endif
ifeq ($(arch),bmi)
  ARCH_FLAGS := $(BASE_FLAGS) -mpopcnt -mbmi -mbmi2 -mavx2
  ARCH_DEFS := -DTW_PEXT
else ifeq ($(arch),popcnt)
  ARCH_FLAGS := $(BASE_FLAGS) -mpopcnt
  ARCH_DEFS := -DTW_POPCNT
else ifeq ($(arch),nop)
  ARCH_FLAGS := $(BASE_FLAGS)
  ARCH_DEFS := -DTW_NOPOPCNT
else ifeq ($(arch),arm64)
  ARCH_FLAGS := $(BASE_FLAGS)
  ARCH_DEFS := -DTW_POPCNT
else
  $(error ARCH must be auto, bmi, popcnt, nop or arm64, not '$(ARCH)')
endif

BUILDDIR ?= build-make/$(arch)-$(notdir $(firstword $(CXX)))

# The same options as the CMake release build.  Programs for Linux on this
# machine are linked dynamically, at a fixed address; programs for Windows or
# for another processor statically, to need nothing but the system.
COMMON := -O3 -DNDEBUG -std=c++17 -Wall -Wextra -Wno-missing-field-initializers
DEFS := $(ARCH_DEFS) -Isrc
ifdef target_windows
  LINK := -static -Wl,--no-insert-timestamp
else ifeq ($(target_cpu),arm64)
  COMMON += -fno-pie
  LINK := -static -no-pie
else
  COMMON += -fno-pie
  LINK := -no-pie
  # The source tree's regression file, the last place "rtest" looks.
  DEFS += -DTARNWICK_PERFT_FILE=\"$(CURDIR)/data/perft.txt\"
endif

# The engine's sources (comment lines dropped) and the entry, then the files
# compiled for the base instruction set whatever ARCH is: the platform layer
# and, on x86-64, the processor check.
HASH := \#
SOURCES := $(addprefix src/,$(shell sed -e '/^[[:space:]]*$(HASH)/d' src/sources.txt)) src/main.cpp
OBJECTS := $(patsubst %.cpp,$(BUILDDIR)/%.o,$(SOURCES))
BASE_OBJECTS := $(BUILDDIR)/base/platform.o
ifeq ($(target_cpu),x86-64)
  BASE_OBJECTS += $(BUILDDIR)/base/cpucheck.o
endif

.PHONY: all clean
all: $(EXE)

$(EXE): $(OBJECTS) $(BASE_OBJECTS)
	@mkdir -p $(dir $@)
	$(CXX) -o $@ $^ -pthread $(LINK)
	@echo "built $@ (ARCH=$(arch), $(CXX))"

$(BUILDDIR)/%.o: %.cpp
	@mkdir -p $(dir $@)
	$(CXX) $(DEFS) $(COMMON) $(ARCH_FLAGS) -MMD -MP -c $< -o $@

$(BUILDDIR)/base/%.o: src/%.cpp
	@mkdir -p $(dir $@)
	$(CXX) $(ARCH_DEFS) -DTW_CPU_CHECK $(COMMON) $(BASE_FLAGS) -MMD -MP -c $< -o $@

clean:
	rm -rf $(BUILDDIR) build-make $(EXE)

-include $(OBJECTS:.o=.d) $(BASE_OBJECTS:.o=.d)
