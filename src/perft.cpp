// Perft: counting the leaves of the legal move tree, and the regression check
// of the move generator against a file of positions with known counts.
#include <chrono>
#include <climits>
#include <fstream>
#include <sstream>
#include <string_view>
#include <vector>

#include "perft.h"
#include "platform.h"
#include "tt.h"
#include "util.h"

// The regression file of the source tree: the last place "rtest" looks.
#ifndef TARNWICK_PERFT_FILE
#define TARNWICK_PERFT_FILE "data/perft.txt"
#endif

int64_t perft(Position* pos, int depth) {
    // Bulk counting: the last ply's moves are counted, never made.
    Move list[MAX_MOVES];
    if (depth <= 1) return depth < 1 ? 1 : countLegalMoves(pos, list);
    Move* const end = generateMovesLegal(pos, list);
    int64_t total = 0;
    for (Move* m = list; m < end; m++) {
        BoardState saved;
        makeMove(pos, *m, saved);
        total += perft(pos, depth - 1);
        unmakeMove(pos, *m, saved);
    }
    return total;
}

namespace {

// A depth or count field of a record, read as a number within lo..hi.  The
// check compares what the file says, so a number beyond the range (a depth of
// 0, a negative count, more digits than any count has, which parseInteger
// saturates to LLONG_MAX) makes the record unreadable instead of being pulled
// into the range.
bool readField(std::string_view text, long long lo, long long hi, long long& value) {
    return parseInteger(text, LLONG_MIN, LLONG_MAX, value) && value >= lo && value <= hi;
}

// The places of the regression file, in the order they are tried: a file of
// the user's own in the working directory, one carried along beside the
// program, the one installed with it (share/tarnwick beside the directory of
// the program, for any installation prefix), and the source tree's.
std::vector<std::string> perftFileCandidates() {
    std::vector<std::string> places = {"perft.txt", "data/perft.txt"};
    const std::string dir = platform::programDirectory();
    if (!dir.empty()) {
        places.push_back(dir + "perft.txt");
        places.push_back(dir + "data/perft.txt");
        places.push_back(dir + "../share/tarnwick/perft.txt");
    }
    places.push_back(TARNWICK_PERFT_FILE);
    return places;
}

}  // namespace

void perftCheck() {
    std::ifstream in;
    const std::vector<std::string> places = perftFileCandidates();
    for (const std::string& place : places) {
        if (platform::openForReading(in, place)) break;
        in.clear();
    }
    if (!in.is_open()) {
        std::string tried;
        for (const std::string& place : places) tried += (tried.empty() ? "" : ", ") + place;
        printLine("info string no perft.txt found; looked for " + tried);
        printLine("There seems to be a problem with the perftFile. check of the move generator not executed");
        return;
    }
    bool ok = true;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line == "extended" || line == "full") break;
        if (line.find_first_not_of(" \t") == std::string::npos) continue;
        const std::string_view record(line);
        const size_t p1 = record.find(';');
        const size_t p2 = p1 == std::string::npos ? p1 : record.find(';', p1 + 1);
        long long depth = 0, expected = 0;
        if (p2 == std::string::npos || !readField(record.substr(p1 + 1, p2 - p1 - 1), 1, MAX_PLY, depth) ||
            !readField(record.substr(p2 + 1, record.find(';', p2 + 1) - p2 - 1), 0, LLONG_MAX - 1, expected)) {
            printLine("info string skipped unreadable perft record: " + line);
            continue;
        }
        const std::string fen = line.substr(0, p1);
        const std::string reason = validateFen(fen);
        if (!reason.empty()) {
            printLine("info string skipped perft record (" + reason + "): " + line);
            continue;
        }
        Position local;
        setPosition(fen, &local);
        auto t0 = std::chrono::steady_clock::now();
        uint64_t count = (uint64_t)perft(&local, (int)depth);
        auto t1 = std::chrono::steady_clock::now();
        long long ns = std::chrono::duration_cast<std::chrono::nanoseconds>(t1 - t0).count();
        bool same = count == (uint64_t)expected;
        if (!same) ok = false;
        std::ostringstream os;
        os << (same ? 1 : 0) << "; " << fen << "; " << depth << "; " << expected << "; " << count << "; " << ns;
        printLine(os.str());
        ttInstallPerftTable();
    }
    printLine(std::string("Results of the perft checks is OK: ") + (ok ? "1" : "0"));
}
