// What the fuzzing harnesses share: the engine started as the program starts
// it, but quiet and small.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "commands.h"
#include "movegen.h"
#include "syzygy.h"
#include "uci.h"
#include "util.h"

namespace fuzz {

// The start-up order of main(), with a 1 MB hash table instead of 256 MB
// (under AddressSanitizer every megabyte counts).  The engine answers on
// standard output, which nobody reads here: it goes to /dev/null, while
// libFuzzer and the sanitizers report on standard error.
inline void startQuietEngine() {
    if (!std::freopen("/dev/null", "w", stdout)) std::abort();
    executeCommand("setoption name Hash value 1");
    startEngine();
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
