# The engine as WebAssembly, with Debian's Emscripten: run by web/build.sh,
#   make -f web/wasm.mk OUT=<folder> -j2
# from the source folder.  It compiles the sources listed in src/sources.txt
# (the list CMakeLists.txt and the Makefile read), the platform layer
# src/platform.cpp and the browser's entry, src/webmain.cpp, into
# OUT/tarnwick.js, tarnwick.wasm and tarnwick.worker.js.
#
# The code is the plain x86-64 program's (TW_NOPOPCNT: portable bit counts,
# magic-multiplication slider lookup), so that bench gives its signature.

EMXX ?= em++
OUT ?= web/dist
OBJDIR ?= $(OUT)/.obj

HASH := \#
SOURCES := $(addprefix src/,$(shell sed -e '/^[[:space:]]*$(HASH)/d' -e '/^[[:space:]]*$$/d' src/sources.txt)) src/platform.cpp src/webmain.cpp
OBJECTS := $(patsubst %.cpp,$(OBJDIR)/%.o,$(SOURCES))

CXXFLAGS := -std=c++17 -O3 -DNDEBUG -DTW_NOPOPCNT -pthread \
  -Wall -Wextra -Wno-missing-field-initializers -Isrc -DTARNWICK_PERFT_FILE=\"perft.txt\"

# Threads: a search thread each, the command loop, and as many short-lived
# threads as search threads while the table is cleared.  The workers for
# them are started with the module (up to the number of cores the browser
# reports, at most 8 search threads' worth); more are started when needed.
POOL := 'Math.min(2*(self.navigator&&navigator.hardwareConcurrency||2),16)+2'

# Memory starts at 64 MB (the default 32 MB table, the search threads'
# tables and stacks) and grows as Hash or Threads ask for more, to 2 GB.
# A search thread gets 4 MB of stack, as deep searches need.
LDFLAGS := -O3 -pthread \
  -sPTHREAD_POOL_SIZE=$(POOL) \
  -sDEFAULT_PTHREAD_STACK_SIZE=4MB \
  -sINITIAL_MEMORY=64MB -sALLOW_MEMORY_GROWTH=1 -sMAXIMUM_MEMORY=2GB \
  -sMODULARIZE=1 -sEXPORT_NAME=createTarnwick -sENVIRONMENT=web,worker \
  -sEXPORTED_FUNCTIONS=_main,_uciCommand -sEXPORTED_RUNTIME_METHODS=ccall \
  -Wno-pthreads-mem-growth

.PHONY: all
all: $(OUT)/tarnwick.js

$(OUT)/tarnwick.js: $(OBJECTS)
	@mkdir -p $(dir $@)
	$(EMXX) -o $@ $^ $(LDFLAGS)

$(OBJDIR)/%.o: %.cpp
	@mkdir -p $(dir $@)
	$(EMXX) $(CXXFLAGS) -MMD -MP -c $< -o $@

-include $(OBJECTS:.o=.d)
