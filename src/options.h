// The values of the engine's options, as "setoption" sets them.  The
// command loop owns them and hands what each part needs down to it.
#pragma once

#include <cstdint>
#include <string>

struct EngineOptions {
    int32_t hashMB = 256;       // Hash
    int32_t threads = 1;        // Threads
    int32_t moveOverhead = 100; // MoveOverhead, ms kept back from every move for the GUI and the pipe
    bool ponder = false;        // Ponder: the GUI may let the engine think on the opponent's time
    std::string syzygyPath;     // SyzygyPath, as given
    int32_t syzygyProbeDepth = 0;  // SyzygyProbeDepth
};
