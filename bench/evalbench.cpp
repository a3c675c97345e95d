// Evaluation speed: evaluates a fixed list of positions many times with the
// evaluation cache bypassed and prints evaluations per second.
//   evalbench <positions file> [rounds] [--cold-pawns]
// With --cold-pawns the pawn hash is cleared before every evaluation too, so
// the pawn-structure pass runs each time.
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "eval.h"
#include "search.h"
#include "uci.h"

namespace {
PawnHashEntry pawnHash[PAWN_HASH_ENTRIES];
EvalCacheEntry evalCache[EVAL_CACHE_ENTRIES];
}  // namespace

int main(int argc, char** argv) {
    long long rounds = 200;
    if (argc < 2 || (argc > 2 && !parseInteger(argv[2], 1, INT_MAX, rounds))) {
        std::fprintf(stderr, "usage: %s <positions file> [rounds] [--cold-pawns]\n", argv[0]);
        return 2;
    }
    const bool coldPawns = argc > 3 && std::strcmp(argv[3], "--cold-pawns") == 0;
    initEngineTables();

    std::vector<Position>* positions = new std::vector<Position>();
    std::ifstream in(argv[1]);
    std::string fen;
    while (std::getline(in, fen)) {
        if (fen.empty() || !validateFen(fen).empty()) continue;
        positions->emplace_back();
        Position& p = positions->back();
        setPosition(fen, &p);
    }
    if (positions->empty()) {
        std::fprintf(stderr, "no positions in %s\n", argv[1]);
        return 1;
    }

    const EvalCaches caches = {pawnHash, evalCache};
    long long checksum = 0;
    for (Position& p : *positions) checksum += evaluateUncached(&p, caches);  // warm the pawn hash
    const auto t0 = std::chrono::steady_clock::now();
    for (int r = 0; r < rounds; r++)
        for (Position& p : *positions) {
            if (coldPawns) pawnHash[p.pawnHashKey & (PAWN_HASH_ENTRIES - 1)].key = ~p.pawnHashKey;
            checksum += evaluateUncached(&p, caches);
        }
    const auto t1 = std::chrono::steady_clock::now();
    const double seconds = std::chrono::duration<double>(t1 - t0).count();
    const double evals = (double)rounds * (double)positions->size();
    std::printf("%zu positions x %lld rounds: %.0f evaluations/s (checksum %lld)\n", positions->size(), rounds,
                evals / seconds, checksum);
    delete positions;
    return 0;
}
