// The values of the engine's options, as "setoption" sets them.  The
// command loop owns them and hands what each part needs down to it.
//
// Each field's initializer is the option's default: the value before any
// "setoption", and the default the "uci" reply advertises.  The rest of an
// option (its name, kind, range and what a change sets off) is declared in
// the option table of uci.cpp; a new option is a field here and a row there.
#pragma once

#include <cstdint>
#include <string>

// The option Hash (MB) until the GUI sets it.  In a browser the engine shares
// a tab's memory with the page, and its table is taken from the WebAssembly
// heap, which only grows.
#if defined(__EMSCRIPTEN__)
constexpr int32_t DEFAULT_HASH_MB = 32;
#else
constexpr int32_t DEFAULT_HASH_MB = 256;
#endif

struct EngineOptions {
    int32_t hashMB = DEFAULT_HASH_MB;  // Hash
    int32_t threads = 1;               // Threads
    int32_t moveOverhead = 100;        // MoveOverhead, ms kept back from every move for the GUI and the pipe
    bool ponder = false;               // Ponder: the GUI may let the engine think on the opponent's time
    std::string syzygyPath;            // SyzygyPath, as given
    int32_t syzygyProbeDepth = 0;      // SyzygyProbeDepth
};
