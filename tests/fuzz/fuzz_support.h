// What the fuzzing harnesses share: the engine started as the program starts
// it, but quiet and small.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "search.h"
#include "syzygy.h"
#include "tarnwick.h"
#include "uci.h"

namespace fuzz {

// The start-up order of main(), with a 1 MB hash table instead of 256 MB
// (under AddressSanitizer every megabyte counts).  The engine answers on
// standard output, which nobody reads here: it goes to /dev/null, while
// libFuzzer and the sanitizers report on standard error.
inline void startEngine() {
    if (!std::freopen("/dev/null", "w", stdout)) std::abort();
    initBitboardConstants();
    initHashCodeTables();
    setPosition(fenStartPos, &GPSData);
    engine.hashSizeMB = 1;
    engine.nofThreads = 1;
    engineStartup();
}

// The small tables of the source tree, piece tables and pawn tables.
inline std::string localTables() { return std::string(TB_LOCAL_DIR) + ":" + TB_LOCAL_DIR + "/pawns"; }

// The blank-separated words of a line, as the command handlers read them.
inline std::vector<std::string> wordsOf(const std::string& line) {
    std::istringstream is(line);
    std::vector<std::string> words;
    for (std::string w; is >> w;) words.push_back(w);
    return words;
}

}  // namespace fuzz
