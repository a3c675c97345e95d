// Shortest forced mate of positions, by exhaustive search with the engine's
// own move generator (tests/mate_solver.h).
//
//   matecheck [max-moves] < positions
//
// Each input line starts with a FEN; whatever follows it (EPD operations, a
// game result) is ignored, as are empty lines and lines starting with '#'.
// For each position one line is printed: the FEN, a tab and
//   "mate k"   the side to move mates in k moves (k <= max-moves),
//   "mated k"  whatever the side to move plays, the opponent mates in at most
//              k moves (k <= max-moves; "mated 0": checkmated now),
//   "none"     neither within max-moves (default 3),
//   "bad ..."  the FEN is not a position the engine accepts, with the reason.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>

#include "../tests/mate_solver.h"

namespace {

// The FEN at the start of a line: four fields, and the two counters when
// they are there.
std::string fenOfLine(const std::string& line) {
    std::istringstream in(line);
    std::string field, fen;
    for (int i = 0; i < 6 && in >> field; i++) {
        if (i >= 4 && field.find_first_not_of("0123456789") != std::string::npos) break;
        fen += (i ? " " : "") + field;
    }
    return fen;
}

}  // namespace

int main(int argc, char** argv) {
    int maxMoves = 3;
    if (argc > 1) {
        char* end = nullptr;
        long n = std::strtol(argv[1], &end, 10);
        if (*end != 0 || n < 1 || n > 8) {
            std::fprintf(stderr, "usage: matecheck [max-moves 1..8] < positions\n");
            return 2;
        }
        maxMoves = (int)n;
    }
    initMateSolverTables();

    std::string line;
    uint64_t nodes = 0;
    int positions = 0;
    const auto t0 = std::chrono::steady_clock::now();
    while (std::getline(std::cin, line)) {
        const size_t first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos || line[first] == '#') continue;
        const std::string fen = fenOfLine(line);
        const std::string bad = validateFen(fen);
        if (!bad.empty()) {
            std::cout << fen << "\tbad " << bad << std::endl;
            continue;
        }
        MateSolver solver(fen);
        std::string verdict = "none";
        if (int k = solver.shortestMate(maxMoves))
            verdict = "mate " + std::to_string(k);
        else if (int j = solver.shortestMated(maxMoves); j >= 0)
            verdict = "mated " + std::to_string(j);
        std::cout << fen << "\t" << verdict << std::endl;
        nodes += solver.nodes();
        positions++;
    }
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::fprintf(stderr, "%d positions, %llu solver nodes, %.2f s\n", positions, (unsigned long long)nodes, s);
    return 0;
}
