# Tarnwick with make alone: one program, no CMake, no tests.
#
#   make -j                          the fastest program this machine can run, ./tarnwick
#   make -j EXE=path CXX=clang++     another output path or compiler
#   make -j ARCH=bmi|popcnt|nop      a chosen instruction set (default: auto)
#   make clean                       remove the objects and the program
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
#
# Objects go to BUILDDIR (build-make/<arch>-<compiler> by default).

EXE ?= tarnwick
ARCH ?= auto

# ---------------------------------------------------------------------------
# The instruction set: asked of the compiler, which knows what the host has
# (and whether the operating system saves the AVX registers).  PEXT is slow
# microcode on AMD Zen 1 and Zen 2, where the POPCNT program is faster.
# ---------------------------------------------------------------------------
ifeq ($(ARCH),auto)
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

BASE_FLAGS := -march=x86-64 -mtune=generic
ifeq ($(arch),bmi)
  ARCH_FLAGS := $(BASE_FLAGS) -mpopcnt -mbmi -mbmi2 -mavx2
  ARCH_DEFS := -DTW_PEXT
else ifeq ($(arch),popcnt)
  ARCH_FLAGS := $(BASE_FLAGS) -mpopcnt
  ARCH_DEFS := -DTW_POPCNT
else ifeq ($(arch),nop)
  ARCH_FLAGS := $(BASE_FLAGS)
  ARCH_DEFS := -DTW_NOPOPCNT
else
  $(error ARCH must be auto, bmi, popcnt or nop, not '$(ARCH)')
endif

BUILDDIR ?= build-make/$(arch)-$(notdir $(firstword $(CXX)))

# The same options as the CMake release build.
COMMON := -O3 -DNDEBUG -std=c++17 -Wall -Wextra -Wno-missing-field-initializers -fno-pie
DEFS := $(ARCH_DEFS) -DTARNWICK_PERFT_FILE=\"$(CURDIR)/data/perft.txt\" -Isrc

# The engine's sources (comment lines dropped) and the entry, then the files
# compiled for plain x86-64 whatever ARCH is: the platform layer and the
# processor check.
HASH := \#
SOURCES := $(addprefix src/,$(shell sed -e '/^[[:space:]]*$(HASH)/d' src/sources.txt)) src/tarnwick.cpp
OBJECTS := $(patsubst %.cpp,$(BUILDDIR)/%.o,$(SOURCES))
BASE_OBJECTS := $(BUILDDIR)/base/platform.o $(BUILDDIR)/base/cpuCheck.o

.PHONY: all clean
all: $(EXE)

$(EXE): $(OBJECTS) $(BASE_OBJECTS)
	@mkdir -p $(dir $@)
	$(CXX) -o $@ $^ -pthread -no-pie
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
