# Tarnwick with make alone: one program, no CMake, no tests.
#
#   make -j                          the fastest program this machine can run, ./tarnwick
#   make -j EXE=path CXX=clang++     another output path or compiler
#   make -j ARCH=bmi|popcnt|nop      a chosen instruction set (default: auto)
#   make clean                       remove the objects and the program
#   make -j profile-build            the same program, trained on "bench" (below)
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
#
# "make profile-build" takes the same variables (ARCH, EXE, CXX, BUILDDIR)
# and makes the same program in three steps: it compiles it with
# instrumentation, runs its "bench" to count which branches are taken and
# which functions are hot, then compiles it again from those counts with
# link-time optimisation.  The search runs about 8% fewer instructions;
# it visits the same nodes and plays the same moves.  The build machine must
# be able to run the program (not with a cross compiler).  With g++ the
# counts are kept beside the objects in BUILDDIR/pgo; with clang++ they are
# merged there by llvm-profdata (LLVM_PROFDATA names another one).

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
PGODIR := $(BUILDDIR)/pgo

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

# The two steps of "make profile-build", each a make of its own (PGO_PHASE
# generate, then use) into PGODIR: the instrumented and the optimised objects
# have the same paths, which is how g++ finds each object's counts (the .gcda
# file beside it).  The files built for the base instruction set are neither
# instrumented nor optimised this way: they run before the engine's own code.
OBJDIR := $(BUILDDIR)
pgo_note :=
ifneq ($(shell $(CXX) --version 2>/dev/null | grep -c -i clang),0)
  compiler_family := clang
  LLVM_PROFDATA ?= $(shell $(CXX) -print-prog-name=llvm-profdata)
  pgo_generate := -fprofile-instr-generate
  pgo_use := -fprofile-instr-use=$(abspath $(PGODIR))/bench.profdata -flto
else
  compiler_family := gcc
  pgo_generate := -fprofile-generate
  pgo_use := -fprofile-use -flto=auto
endif
# The options go to the engine's objects (with the instruction set's) and
# to the link.
ifeq ($(PGO_PHASE),generate)
  OBJDIR := $(PGODIR)
  # Atomic counters: the search runs on a thread of its own.
  ARCH_FLAGS += $(pgo_generate) -fprofile-update=atomic
  LINK += $(pgo_generate)
else ifeq ($(PGO_PHASE),use)
  OBJDIR := $(PGODIR)
  ARCH_FLAGS += $(pgo_use)
  # The link compiles the whole program, so it gets the compile options too.
  LINK += $(COMMON) $(ARCH_FLAGS)
  pgo_note := , profile-guided
else ifneq ($(PGO_PHASE),)
  $(error PGO_PHASE is set by "make profile-build" only)
endif

# The engine's sources (comment lines dropped) and the entry, then the files
# compiled for the base instruction set whatever ARCH is: the platform layer
# and, on x86-64, the processor check.
HASH := \#
SOURCES := $(addprefix src/,$(shell sed -e '/^[[:space:]]*$(HASH)/d' src/sources.txt)) src/main.cpp
OBJECTS := $(patsubst %.cpp,$(OBJDIR)/%.o,$(SOURCES))
BASE_OBJECTS := $(OBJDIR)/base/platform.o
ifeq ($(target_cpu),x86-64)
  BASE_OBJECTS += $(OBJDIR)/base/cpucheck.o
endif

.PHONY: all clean profile-build
all: $(EXE)

$(EXE): $(OBJECTS) $(BASE_OBJECTS)
	@mkdir -p $(dir $@)
	$(CXX) -o $@ $^ -pthread $(LINK)
	@echo "built $@ (ARCH=$(arch), $(CXX)$(pgo_note))"

$(OBJDIR)/%.o: %.cpp
	@mkdir -p $(dir $@)
	$(CXX) $(DEFS) $(COMMON) $(ARCH_FLAGS) -MMD -MP -c $< -o $@

$(OBJDIR)/base/%.o: src/%.cpp
	@mkdir -p $(dir $@)
	$(CXX) $(ARCH_DEFS) -DTW_CPU_CHECK $(COMMON) $(BASE_FLAGS) -MMD -MP -c $< -o $@

# The build machine runs the instrumented program, so it must be able to.
host_cpu := $(shell uname -m 2>/dev/null)
ifdef target_windows
  pgo_cannot := $(CXX) builds for Windows
else ifeq ($(target_cpu)-$(filter aarch64 arm64,$(host_cpu)),arm64-)
  pgo_cannot := $(CXX) builds for ARM64 and this machine is $(host_cpu)
else ifeq ($(target_cpu)-$(filter x86_64 amd64,$(host_cpu)),x86-64-)
  pgo_cannot := $(CXX) builds for x86-64 and this machine is $(host_cpu)
endif
# The variables each step is made with (a step is a make of its own).
pgo_step = --no-print-directory PGO_PHASE=$(1) ARCH=$(arch) CXX="$(CXX)" BUILDDIR="$(BUILDDIR)"

profile-build:
ifdef pgo_cannot
	$(error profile-build runs the program it builds, but $(pgo_cannot); use "make" instead)
endif
	rm -rf $(PGODIR)
	@echo "step 1 of 3: the instrumented program"
	$(MAKE) $(call pgo_step,generate) EXE="$(PGODIR)/tarnwick-instrumented"
	@echo "step 2 of 3: training on bench"
	LLVM_PROFILE_FILE="$(abspath $(PGODIR))/bench-%p.profraw" $(PGODIR)/tarnwick-instrumented bench \
		</dev/null >$(PGODIR)/bench.txt 2>&1 || { cat $(PGODIR)/bench.txt; exit 1; }
	@tail -n 1 $(PGODIR)/bench.txt
ifeq ($(compiler_family),clang)
	$(LLVM_PROFDATA) merge -output=$(PGODIR)/bench.profdata $(PGODIR)/bench-*.profraw
endif
	@echo "step 3 of 3: the optimised program"
	find $(PGODIR) -name '*.o' -delete
	rm -f $(PGODIR)/tarnwick-instrumented
	$(MAKE) $(call pgo_step,use) EXE="$(EXE)"

clean:
	rm -rf $(BUILDDIR) build-make $(EXE)

-include $(OBJECTS:.o=.d) $(BASE_OBJECTS:.o=.d)
