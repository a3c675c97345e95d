// Fuzzing harness: the command loop fed arbitrary lines.
//
// Each line of the input is one command, run as the loop runs it.  The
// engine's state (position, options, tables, thread pool) carries over from
// one input to the next, as in a long session with a GUI.  A few commands
// are bounded so that every input runs in milliseconds and memory stays
// small under AddressSanitizer:
//   - every "go" gets " nodes 500" appended (the last limit word wins), and
//     at most a dozen searches run per input;
//   - perft deeper than 2 is cut to 2, at most eight counts per input;
//   - Hash is capped at 4 MB and Threads at 2;
//   - a SyzygyPath of more than four directories is skipped (each directory
//     is searched for several hundred table names);
//   - bench, texel and rtest (seconds to minutes each) and quit are skipped.
// Each input ends with no search running: a search still going (infinite,
// pondering, or a limit not yet met) is stopped and waited for.
#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"

namespace {

constexpr int GO_NODES = 500;
constexpr int SEARCHES_PER_INPUT = 12;
constexpr long long PERFT_DEEPEST = 2;
constexpr int PERFTS_PER_INPUT = 8;
constexpr long long HASH_MB_MOST = 4;
constexpr long long THREADS_MOST = 2;
constexpr size_t SYZYGY_DIRS_MOST = 4;

struct Budget {
    int searches = 0;
    int perfts = 0;
};

// "setoption" read as the handler reads it: the word after "setoption" is
// skipped (normally "name"), the name runs up to "value", the value is the
// rest with single blanks.
void optionOf(const std::vector<std::string>& words, std::string& name, std::string& value) {
    size_t i = 2;
    for (; i < words.size() && words[i] != "value"; i++) name += (name.empty() ? "" : " ") + words[i];
    for (i++; i < words.size(); i++) value += (value.empty() ? "" : " ") + words[i];
}

size_t directoryCount(const std::string& path) {
    size_t n = 0, start = 0;
    while (start <= path.size()) {
        size_t end = path.find(':', start);
        if (end == std::string::npos) end = path.size();
        n += end > start;
        start = end + 1;
    }
    return n;
}

// The line to run in place of `line`, or "" to skip it.
std::string bounded(const std::string& line, Budget& b) {
    const std::vector<std::string> words = fuzz::wordsOf(line);
    if (words.empty()) return line;
    const std::string& command = words[0];
    if (command == "quit" || command == "bench" || command == "texel" || command == "rtest") return "";
    if (command == "go") return ++b.searches > SEARCHES_PER_INPUT ? "" : line + " nodes " + std::to_string(GO_NODES);
    if (command == "perft") {
        if (++b.perfts > PERFTS_PER_INPUT) return "";
        // Without a depth the last accepted one is used, which is never
        // above the cap here.
        long long depth = 0;
        if (words.size() > 1 && parseInteger(words[1], LLONG_MIN, LLONG_MAX, depth) && depth > PERFT_DEEPEST)
            return "perft " + std::to_string(PERFT_DEEPEST);
        return line;
    }
    if (command == "setoption") {
        std::string name, value;
        optionOf(words, name, value);
        long long v = 0;
        if (name == "Hash" && parseInteger(value, LLONG_MIN, LLONG_MAX, v) && v > HASH_MB_MOST)
            return "setoption name Hash value " + std::to_string(HASH_MB_MOST);
        if (name == "Threads" && parseInteger(value, LLONG_MIN, LLONG_MAX, v) && v > THREADS_MOST)
            return "setoption name Threads value " + std::to_string(THREADS_MOST);
        if (name == "SyzygyPath" && directoryCount(value) > SYZYGY_DIRS_MOST) return "";
    }
    return line;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::startQuietEngine();
    executeCommand("setoption name SyzygyPath value " + fuzz::localTables());
    // The remembered perft depth starts at 6: set it within the cap.
    executeCommand("perft " + std::to_string(PERFT_DEEPEST));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    Budget b;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = bounded(text.substr(start, end - start), b);
        if (!line.empty()) executeCommand(line);
        start = end + 1;
    }
    stopSearchAndWait();
    return 0;
}
