# The engine as WebAssembly, with Debian's Emscripten: run by web/build.sh,
#   make -f web/wasm.mk OUT=<folder> OBJDIR=<folder> -j2
# from the source folder.  It compiles the sources listed in src/sources.txt
# (the list CMakeLists.txt and the Makefile read), the platform layer
# src/platform.cpp and the browser's entry, src/webmain.cpp, twice:
#
#   OUT/tarnwick.js, .wasm, .worker.js   with threads, for a page that is
#                                        cross-origin isolated;
#   OUT/tarnwick-st.js, .wasm            on one thread, for any other page.
#
# The objects go to OBJDIR, never into OUT: OUT holds only what is served.
#
# The code is the plain x86-64 program's (TW_NOPOPCNT: portable bit counts,
# magic-multiplication slider lookup), so that bench gives its signature.

EMXX ?= em++
OUT ?= web/dist
OBJDIR ?= $(OUT).obj

HASH := \#
SOURCES := $(addprefix src/,$(shell sed -e '/^[[:space:]]*$(HASH)/d' -e '/^[[:space:]]*$$/d' src/sources.txt)) src/platform.cpp src/webmain.cpp
MT_OBJECTS := $(patsubst %.cpp,$(OBJDIR)/threads/%.o,$(SOURCES))
ST_OBJECTS := $(patsubst %.cpp,$(OBJDIR)/single/%.o,$(SOURCES))

CXXFLAGS := -std=c++17 -O3 -DNDEBUG -DTW_NOPOPCNT \
  -Wall -Wextra -Wno-missing-field-initializers -Isrc -DTARNWICK_PERFT_FILE=\"perft.txt\"

COMMON_LDFLAGS := -O3 \
  -sINITIAL_MEMORY=64MB -sALLOW_MEMORY_GROWTH=1 -sMAXIMUM_MEMORY=2GB \
  -sMODULARIZE=1 -sENVIRONMENT=web,worker

# Threads: a search thread each, the command loop, and as many short-lived
# threads as search threads while the table is cleared.  The workers for
# them are started with the module (up to the number of cores the browser
# reports, at most 8 search threads' worth); more are started when needed.
POOL := 'Math.min(2*(self.navigator&&navigator.hardwareConcurrency||2),16)+2'

# Memory starts at 64 MB (the default 32 MB table, the search threads'
# tables and stacks) and grows as Hash or Threads ask for more, to 2 GB.
# A search thread gets 4 MB of stack, as deep searches need.
MT_LDFLAGS := $(COMMON_LDFLAGS) -pthread \
  -sPTHREAD_POOL_SIZE=$(POOL) \
  -sDEFAULT_PTHREAD_STACK_SIZE=4MB \
  -sEXPORT_NAME=createTarnwick \
  -sEXPORTED_FUNCTIONS=_main,_uciCommand -sEXPORTED_RUNTIME_METHODS=ccall \
  -Wno-pthreads-mem-growth

# One thread: the command loop and the search run on the worker's thread,
# which they leave now and then through Asyncify (webmain.cpp).  Only the
# functions on a direct call path to the two waits are rewritten for it;
# calls through pointers are left alone, as none leads to a wait.  With
# -sASYNCIFY_ADVISE=1 the link lists them: main, executeCommand (uciGo and
# benchCommand are inlined into it), ThreadPool::startSearch,
# MainThread::searchRoot (called directly there, not through the virtual
# table), SearchThread::deepen, alphaBeta, probCut's move lambda and
# serviceHostDuringSearch.  The unwound
# search is saved in a 1 MB buffer (a search at the deepest ply needs a
# fraction of it); the stack is 8 MB, as a search thread's would be.
ST_LDFLAGS := $(COMMON_LDFLAGS) \
  -sASYNCIFY -sASYNCIFY_IGNORE_INDIRECT=1 -sASYNCIFY_STACK_SIZE=1048576 \
  -sTOTAL_STACK=8MB \
  -sEXPORT_NAME=createTarnwickSingle \
  -sEXPORTED_FUNCTIONS=_main

.PHONY: all
all: $(OUT)/tarnwick.js $(OUT)/tarnwick-st.js

$(OUT)/tarnwick.js: $(MT_OBJECTS)
	@mkdir -p $(dir $@)
	$(EMXX) -o $@ $^ $(MT_LDFLAGS)

$(OUT)/tarnwick-st.js: $(ST_OBJECTS)
	@mkdir -p $(dir $@)
	$(EMXX) -o $@ $^ $(ST_LDFLAGS)

$(OBJDIR)/threads/%.o: %.cpp
	@mkdir -p $(dir $@)
	$(EMXX) $(CXXFLAGS) -pthread -MMD -MP -c $< -o $@

$(OBJDIR)/single/%.o: %.cpp
	@mkdir -p $(dir $@)
	$(EMXX) $(CXXFLAGS) -DTW_NO_THREADS -MMD -MP -c $< -o $@

-include $(MT_OBJECTS:.o=.d) $(ST_OBJECTS:.o=.d)
