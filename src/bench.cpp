// The benchmark.  It searches positions of its own with limits of its own,
// so it sets nothing of the game's; what it shares with the game is the
// transposition table (one per program) and the search threads.
#include "bench.h"

#include <algorithm>
#include <climits>
#include <string>

#include "position.h"
#include "threads.h"
#include "tt.h"
#include "uci.h"
#include "util.h"

namespace {

// Openings, middle games, endgames and tactical positions.
const char* const BENCH_POSITIONS[] = {
    "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1",
    "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1",
    "8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - - 0 1",
    "r3k2r/Pppp1ppp/1b3nbN/nP6/BBP1P3/q4N2/Pp1P2PP/R2Q1RK1 w kq - 0 1",
    "rnbq1k1r/pp1Pbppp/2p5/8/2B5/8/PPP1NnPP/RNBQK2R w KQ - 1 8",
    "r4rk1/1pp1qppp/p1np1n2/2b1p1B1/2B1P1b1/P1NP1N2/1PP1QPPP/R4RK1 w - - 0 10",
    "r1bq1rk1/pp2bppp/2n1pn2/2pp4/3P4/2PBPN2/PP1N1PPP/R1BQ1RK1 w - - 0 8",
    "2rq1rk1/pb1nbppp/1p2pn2/2pp4/2PP4/1PN1PN2/PB2BPPP/2RQ1RK1 w - - 0 11",
    "r1b2rk1/2q1bppp/p2ppn2/1p6/3NP3/1BN1B3/PPP1QPPP/R4RK1 w - - 0 12",
    "2r3k1/pp3ppp/2n1b3/3p4/3P4/2N1B3/PP3PPP/2R3K1 w - - 0 20",
    "4rrk1/pp1n3p/3q2pQ/2p1pb2/2PP4/2P3N1/P2B2PP/4RRK1 b - - 7 19",
    "r3r1k1/2p2ppp/p1p1bn2/8/1q2P3/2NPQN2/PPP3PP/R4RK1 b - - 2 15",
    "r1bbk1nr/pp3p1p/2n5/1N4p1/2Np1B2/8/PPP2PPP/2KR1B1R w kq - 0 13",
    "r1bq1rk1/ppp1nppp/4n3/3p3Q/3P4/1BP1B3/PP1N2PP/R4RK1 w - - 1 16",
    "4r1k1/r1q2ppp/ppp2n2/4P3/5Rb1/1N1BQ3/PPP3PP/R5K1 w - - 1 17",
    "2rqkb1r/ppp2p2/2npb1p1/1N1Nn2p/2P1PP2/8/PP2B1PP/R1BQK2R b KQ - 0 11",
    "r1bq1r1k/b1p1npp1/p2p3p/1p6/3PP3/1B2NN2/PP3PPP/R2Q1RK1 w - - 1 16",
    "3r1rk1/p5pp/bpp1pp2/8/q1PP1P2/b3P3/P2NQRPP/1R2B1K1 b - - 6 22",
    "r1q2rk1/2p1bppp/2Pp4/p6b/Q1PNp3/4B3/PP1R1PPP/2K4R w - - 2 18",
    "4k2r/1pb2ppp/1p2p3/1R1p4/3P4/2r1PN2/P4PPP/1R4K1 b - - 3 22",
    "3q2k1/pb3p1p/4pbp1/2r5/PpN2N2/1P2P2P/5PP1/Q2R2K1 b - - 4 26",
    "6k1/6p1/6Pp/ppp5/3pn2P/1P3K2/1PP2P2/3N4 b - - 0 1",
    "3b4/5kp1/1p1p1p1p/pP1PpP1P/P1P1P3/3KN3/8/8 w - - 0 1",
    "2K5/p7/7P/5pR1/8/5k2/r7/8 w - - 0 1",
    "8/6pk/1p6/8/PP3p1p/5P2/4KP1q/3Q4 w - - 0 1",
    "7k/3p2pp/4q3/8/4Q3/5Kp1/P6b/8 w - - 0 1",
    "8/2p5/8/2kPKp1p/2p4P/2P5/3P4/8 w - - 0 1",
    "8/3p4/p1bk3p/Pp6/1Kp1PpPp/2P2P1P/2P5/5B2 b - - 0 1",
    "5k2/7R/4P2p/5K2/p1r2P1p/8/8/8 b - - 0 1",
    "6k1/6p1/P6p/r1N5/5p2/7P/1b3PP1/4R1K1 w - - 0 1",
    "1r3k2/4q3/2Pp3b/3Bp3/2Q2p2/1p1P2P1/1P2KP2/3N4 w - - 0 1",
    "6k1/4pp1p/3p2p1/P1pPb3/R7/1r2P1PP/3B1P2/6K1 w - - 0 1",
    "8/3p3B/5p2/5P2/p7/PP5b/k7/6K1 w - - 0 1",
    "8/8/8/8/5kp1/P7/8/1K1N4 w - - 0 1",
    "8/8/8/5N2/8/p7/8/2NK3k w - - 0 1",
    "8/3k4/8/8/8/4B3/4KB2/2B5 w - - 0 1",
    "8/8/3P3k/8/1p6/8/1P6/1K3n2 b - - 0 1",
    "6k1/3b3r/1p1p4/p1n2p2/1PPNpP1q/P3Q1p1/1R1RB1P1/5K2 b - - 0 1",
    "r2r1n2/pp2bk2/2p1p2p/3q4/3PN1QP/2P3R1/P4PP1/5RK1 w - - 0 1",
    "2rr3k/pp3pp1/1nnqbN1p/3pN3/2pP4/2P3Q1/PPB4P/R4RK1 w - - 0 1",
    "r1b1kb1r/3q1ppp/pBp1pn2/8/Np3P2/5B2/PPP3PP/R2Q1RK1 w kq - 0 1",
    "5rk1/1ppb3p/p1pb4/6q1/3P1p1r/2P1R2P/PP1BQ1P1/5RKN w - - 0 1",
};

}  // namespace

void benchCommand(std::istringstream& is) {
    int depth = 13;
    std::string word;
    if (is >> word) {
        long long v = 0;
        if (!parseInteger(word, LLONG_MIN, LLONG_MAX, v) || v < 1 || v > 64) {
            printLine("info string bench needs a depth from 1 to 64, not '" + word + "'");
            return;
        }
        depth = (int)v;
    }
    stopSearchAndWait();

    // The search of each position starts from the same state: a cleared
    // 16 MB table and cleared histories, one thread, no clock.
    SearchLimits limits;
    limits.depth = depth;
    TimeBudget budget;
    budget.soft = INT_MAX;
    budget.hard = INT_MAX;
    ttAllocate(ttBucketsForSize(16));
    ttWaitForPages();

    uint64_t totalNodes = 0;
    int64_t totalMs = 0;
    const int count = (int)(sizeof BENCH_POSITIONS / sizeof BENCH_POSITIONS[0]);
    for (int i = 0; i < count; i++) {
        Position position;
        KeyHistory keys;
        setPosition(BENCH_POSITIONS[i], &position, &keys);
        ttClear(1);
        threadPool.workers[0]->clearHistoryTables();
        budget.startMs = nowMs();
        threadPool.startSearch(&position, &keys, limits, budget, 1, true);
        threadPool.waitForSearch();
        const int64_t ms = nowMs() - budget.startMs;
        const SearchWorker& w = threadPool.workers[0]->worker;
        const uint64_t nodes = w.nodeCount + w.quiescenceNodeCount;
        totalNodes += nodes;
        totalMs += ms;
        printLine("bench position " + std::to_string(i + 1) + " of " + std::to_string(count) + ": nodes " +
                  std::to_string(nodes) + " time " + std::to_string(ms) + " bestmove " +
                  moveToText(&threadPool.lastBestMove, position.sideToMove));
    }
    printLine("Bench: " + std::to_string(totalNodes) + " nodes " +
              std::to_string(totalNodes * 1000 / (uint64_t)std::max<int64_t>(totalMs, 1)) + " nps");
    ttAllocateMB(engineOptions().hashMB, true, threadPool.memoryBytes());
}
