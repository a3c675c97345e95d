// The search threads: the mate proof, the root search with iterative
// deepening and its output, and the pool that runs them.
#include "threads.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "movegen.h"
#include "platform.h"
#include "syzygy.h"
#include "tt.h"
#include "util.h"

ThreadPool threadPool;

uint64_t totalNodes() {
    uint64_t n = 0;
    for (SearchThread* t : threadPool.searchThreads())
        n += relaxedRead(t->worker.nodeCount) + relaxedRead(t->worker.quiescenceNodeCount);
    return n;
}

// ---------------------------------------------------------------------------
// Mate proof
// ---------------------------------------------------------------------------
// The node search prunes and reduces, so a mate score at the root can rest on
// a defence it never looked at.  Before a mate is announced, and the search
// ended on it, it is proven by a search that prunes nothing: the attacker
// needs one move that works, and every defence is tried.  Only legal moves
// are generated, and the table is read for move order but never written.
namespace {

enum ProofResult { PROOF_FAILED, PROOF_FOUND, PROOF_UNKNOWN };

// Positions the proof may visit before it gives up (the claim is then not
// announced and the search goes on as if it had found no mate).
constexpr uint64_t MATE_PROOF_BUDGET = 400000;
// Longest mate, in moves, a proof is tried for (its line must fit the ply
// stack, and longer ones would not be proven within the budget anyway).
constexpr int MATE_PROOF_LONGEST = 16;

class MateProof {
  public:
    // Works on `w`'s position, its move buffer and its stack's saved states.
    explicit MateProof(SearchWorker& w) : pos_(&w.pos), stack_(w.stack) {}

    // Does the side to move mate within n of its moves?
    ProofResult mates(int ply, int n) {
        if (!visit()) return PROOF_UNKNOWN;
        Move* const start = legalMoves(ply);
        Move* const end = stack_[ply + 1].moveList;
        bool unknown = false;
        for (Move* m = start; m < end; m++) {
            makeMove(pos_, *m, stack_[ply].saved);
            const bool check = sideInCheck(pos_, pos_->sideToMove);
            // The last move of the mate must give check.
            const ProofResult r = n == 1 && !check ? PROOF_FAILED : defenderLoses(ply + 1, n, check);
            unmakeMove(pos_, *m, stack_[ply].saved);
            if (r == PROOF_FOUND) {
                if (ply == 0) firstMove = {m->from, m->to, m->moveType, 0};
                return PROOF_FOUND;
            }
            if (r == PROOF_UNKNOWN) unknown = true;
            if (exhausted_) return PROOF_UNKNOWN;
        }
        return unknown ? PROOF_UNKNOWN : PROOF_FAILED;
    }

    // Is the side to move mated within n moves of its opponent, whatever it
    // plays?  (n >= 1; the position is not yet mate.)
    ProofResult isMated(int ply, int n) {
        if (!visit()) return PROOF_UNKNOWN;
        Move* const start = legalMoves(ply);
        Move* const end = stack_[ply + 1].moveList;
        if (start == end) return PROOF_FAILED;
        bool unknown = false;
        for (Move* m = start; m < end; m++) {
            makeMove(pos_, *m, stack_[ply].saved);
            const ProofResult r = mates(ply + 1, n);
            unmakeMove(pos_, *m, stack_[ply].saved);
            if (r == PROOF_FAILED) return PROOF_FAILED;
            if (r == PROOF_UNKNOWN) unknown = true;
            if (exhausted_) return PROOF_UNKNOWN;
        }
        return unknown ? PROOF_UNKNOWN : PROOF_FOUND;
    }

    Move firstMove = NO_MOVE;

  private:
    // The attacker has just played the (n)th-last move of a mate in n.
    ProofResult defenderLoses(int ply, int n, bool inCheck) {
        if (!visit()) return PROOF_UNKNOWN;
        Move* const start = legalMoves(ply);
        Move* const end = stack_[ply + 1].moveList;
        if (start == end) return inCheck ? PROOF_FOUND : PROOF_FAILED;
        if (n == 1) return PROOF_FAILED;
        bool unknown = false;
        for (Move* m = start; m < end; m++) {
            makeMove(pos_, *m, stack_[ply].saved);
            const ProofResult r = mates(ply + 1, n - 1);
            unmakeMove(pos_, *m, stack_[ply].saved);
            if (r == PROOF_FAILED) return PROOF_FAILED;
            if (r == PROOF_UNKNOWN) unknown = true;
            if (exhausted_) return PROOF_UNKNOWN;
        }
        return unknown ? PROOF_UNKNOWN : PROOF_FOUND;
    }

    // The legal moves of the ply, the table's move first (it is the search's
    // best guess for either side).  They end where the next ply's begin.
    Move* legalMoves(int ply) {
        Move* const start = stack_[ply].moveList;
        Move* const end = generateMovesLegal(pos_, start);
        stack_[ply + 1].moveList = end;
        const uint32_t hashMove = ttPeekMove(pos_->hashKey);
        if (hashMove)
            for (Move* m = start; m < end; m++)
                if (sameMove(moveToWord(*m), hashMove)) {
                    std::swap(*m, *start);
                    break;
                }
        return start;
    }

    // Count a position; false once the budget is spent or the search must
    // stop (a "stop", or the hard time limit).
    bool visit() {
        if (exhausted_) return false;
        if (++visited_ > MATE_PROOF_BUDGET) exhausted_ = true;
        if ((visited_ & 1023) == 0 &&
            (stopRequested() || (!ponderingOrInfinite() && hardLimitReached(searchControl.budget))))
            exhausted_ = true;
        return !exhausted_;
    }

    Position* pos_;
    SearchPly* stack_;
    uint64_t visited_ = 0;
    bool exhausted_ = false;
};

// The mate a root score claims, in moves (negative: the side to move is
// mated), or 0 when the score is no mate found within `depth` plies.
int claimedMate(int score, int depth) {
    if (score >= MATE_THRESHOLD && MATE_SCORE - score <= depth) return (MATE_SCORE - score + 1) / 2;
    if (score <= -MATE_THRESHOLD && score + MATE_SCORE <= depth) return -(score + MATE_SCORE) / 2;
    return 0;
}

}  // namespace

int MainThread::provenRootMate(int s) {
    const int claim = claimedMate(s, MAX_PLY);
    if (claim == 0) return 0;
    if (claim != lastMate.claim) {
        lastMate = MateVerdict();
        lastMate.claim = claim;
        // One budget for the whole verdict.  Mates longer than the proof can
        // follow within the ply stack are left unproven.
        MateProof proof(worker);
        if (claim > 0 && claim <= MATE_PROOF_LONGEST) {
            // The claim itself first; then whether a shorter mate exists,
            // which the pruned search may have missed.
            if (proof.mates(0, claim) == PROOF_FOUND) {
                lastMate.proven = claim;
                for (int n = 1; n < claim; n++) {
                    const ProofResult r = proof.mates(0, n);
                    if (r == PROOF_FOUND) {
                        lastMate.proven = n;
                        lastMate.move = proof.firstMove;
                        break;
                    }
                    if (r == PROOF_UNKNOWN) break;
                }
            }
        } else if (claim < 0 && -claim <= MATE_PROOF_LONGEST && proof.isMated(0, -claim) == PROOF_FOUND) {
            // Mated for sure; the opponent may even mate sooner.
            lastMate.proven = claim;
            for (int n = -claim - 1; n >= 1 && proof.isMated(0, n) == PROOF_FOUND; n--) lastMate.proven = -n;
        }
    }
    if (lastMate.proven > 0 && moveToWord(lastMate.move) != 0) {
        // A shorter mate than the search's: its first move is the answer.
        worker.stack[0].pvMove = lastMate.move;
        worker.pvLastIndex = 0;
        worker.rootScore = (int16_t)(MATE_SCORE - (2 * lastMate.proven - 1));
    }
    return lastMate.proven;
}

// ---------------------------------------------------------------------------
// Root search with iterative deepening
// ---------------------------------------------------------------------------
namespace {

// Aspiration half-widths, one row per thread (index mod 32): the first
// window, then the four widenings after a fail; rows differ so that the
// threads' searches differ.
const int16_t ASPIRATION_WIDTHS[32][5] = {
    {15, 35, 40, 80, 160},  {9, 24, 34, 75, 113},   {15, 35, 40, 80, 160},  {54, 69, 79, 195, 15},
    {35, 40, 80, 160, 15},  {35, 40, 80, 160, 12},  {27, 37, 83, 117, 51},  {66, 76, 187, 169, 15},
    {35, 40, 80, 160, 15},  {35, 40, 80, 160, 15},  {35, 40, 80, 160, 48},  {63, 73, 179, 165, 15},
    {30, 40, 91, 121, 18},  {33, 43, 99, 125, 15},  {35, 40, 80, 160, 45},  {60, 70, 171, 161, 21},
    {36, 46, 107, 129, 15}, {35, 40, 80, 160, 15},  {35, 40, 80, 160, 42},  {57, 67, 163, 157, 15},
    {35, 40, 80, 160, 15},  {35, 40, 80, 160, 24},  {39, 49, 115, 133, 39}, {54, 64, 155, 153, 27},
    {42, 52, 123, 137, 15}, {35, 40, 80, 160, 15},  {35, 40, 80, 160, 36},  {51, 61, 147, 149, 15},
    {35, 40, 80, 160, 30},  {45, 55, 131, 141, 15}, {35, 40, 80, 160, 33},  {48, 58, 139, 145, 0}};
// Depth skipping of the helpers (index mod 16): every SKIP_SIZE-th depth a
// helper jumps SKIP_PHASE depths ahead.
const int SKIP_SIZE[16] = {1, 2, 2, 3, 3, 3, 4, 4, 6, 3, 2, 2, 4, 5, 3, 2};
const int SKIP_PHASE[16] = {0, 1, 0, 1, 1, 0, 0, 2, 1, 0, 1, 1, 2, 1, 1, 0};

struct SearchTotals {
    uint64_t nodes = 0;
    uint64_t nps = 0;
    uint64_t elapsed = 1;
};

SearchTotals gatherTotals() {
    SearchTotals t;
    uint64_t tb = 0;
    for (SearchThread* thread : threadPool.searchThreads()) {
        const SearchWorker& w = thread->worker;
        t.nodes += relaxedRead(w.nodeCount) + relaxedRead(w.quiescenceNodeCount);
        tb += relaxedRead(w.tbHits);
    }
    threadPool.totalTbHits.store(tb, std::memory_order_relaxed);
    t.elapsed = threadPool.elapsedMs.load(std::memory_order_relaxed);
    if (t.elapsed == 0) {
        t.elapsed = 1;
        threadPool.elapsedMs.store(1, std::memory_order_relaxed);
    }
    t.nps = t.nodes * 1000 / t.elapsed;
    return t;
}

void setElapsed();

// One line of search output: the score ("cp 25" or "mate 3"), the depth,
// the selective depth when given (not for mate lines), the totals of all
// threads and the PV.  Time, nodes and speed are as of the moment the line
// is printed (a mate proof may take a while after its iteration ended).
void printSearchLine(const SearchWorker& w, const std::string& score, int depth, int selDepth) {
    if (threadPool.silent) return;
    setElapsed();
    const SearchTotals t = gatherTotals();
    std::string line = "info score " + score + " depth " + std::to_string(depth);
    if (selDepth >= 0) line += " seldepth " + std::to_string(selDepth);
    line += " nodes " + std::to_string(t.nodes) + " nps " + std::to_string(t.nps) + " time " +
            std::to_string(t.elapsed) + " tbhits " +
            std::to_string(threadPool.totalTbHits.load(std::memory_order_relaxed)) + " pv " + pvToText(w);
    printLine(line);
}

void printInfoLine(const SearchWorker& w, int score, int depth, int selDepth) {
    printSearchLine(w, "cp " + std::to_string((int16_t)score), depth, selDepth);
}

// `mate` is in moves: positive when the side to move mates, negative when it
// is mated (mated in 2: it has two moves before the mating one).
void printMateLine(const SearchWorker& w, int mate, int depth) {
    printSearchLine(w, "mate " + std::to_string(mate), depth, -1);
}

void setElapsed() {
    int64_t ms = elapsedMs(searchControl.budget);
    threadPool.elapsedMs.store(ms < 0 ? 0 : (uint64_t)ms, std::memory_order_relaxed);
}

}  // namespace

namespace {

Move fallbackRootMove(const Position& root) {
    Position pos = root;
    Move list[MAX_MOVES];
    Move* const end = generateMovesLegal(&pos, list);
    if (end == list) return NO_MOVE;
    const uint32_t hashMove = ttEntryMove(ttProbe(pos.hashKey));
    for (Move* l = list; l < end; l++)
        if (hashMove && sameMove(moveToWord(*l), hashMove)) return *l;
    return list[0];
}

// Is `reply` legal after `m` has been played at the root?
bool isLegalReply(const Position& root, Move m, Move reply) {
    Position pos = root;
    Move made = m;
    made.score = 0;
    BoardState saved;
    makeMove(&pos, made, saved);
    return isLegalMove(&pos, reply);
}

}  // namespace

namespace {

// Iterations from this depth on print their line; helpers below it never
// skip a depth.
constexpr int OUTPUT_DEPTH = 10;
// From this depth on an iteration starts inside an aspiration window around
// the previous score, and the time scale follows the root's instability.
constexpr int ASPIRATION_DEPTH = 6;
// Fails low or high that widen the window step by step; after them the
// window opens to the mate bound.
constexpr int ASPIRATION_STEPS = 4;
// A root with a single legal move is searched this deep, for a score and a
// ponder move, and no deeper.
constexpr int SINGLE_MOVE_DEPTH = 3;

// A depth counts as a record (which lets a helper decide on time) only
// after this share of the soft time, and at least this many milliseconds.
constexpr int RECORD_TIME_FRACTION = 16;
constexpr int RECORD_MIN_MS = 100;

}  // namespace

bool MainThread::rootSettled(int rootMoves) {
    settled = settleRoot(rootMoves);
    return settled;
}

bool MainThread::settleRoot(int rootMoves) {
    SearchWorker& w = worker;
    // Checkmated or stalemated: nothing to search, and no move to give (the
    // answer is the null move "0000").
    if (rootMoves == 0) {
        searchControl.stop.store(1, std::memory_order_relaxed);
        if (!threadPool.silent) printLine(w.pos.inCheck ? "info score mate 0" : "info score cp 0");
        scoreReported = true;
        w.stack[0].pvMove = NO_MOVE;
        w.pvLastIndex = 0;
        threadPool.elapsedMs.store(1, std::memory_order_relaxed);
        return true;
    }
    // A tablebase position: the distance tables name the move (and the probe
    // prints its line).
    if (tb::largestMen > 0 && w.pos.castlingRights == 0 &&
        popcount(w.pos.pieceBitboard[0] | w.pos.pieceBitboard[1]) <= tb::largestMen) {
        // The line of best play after the move becomes the PV: its second
        // move is the ponder move.
        Move line[MAX_PLY];
        const int length = probeRootTablebase(&w.pos, line);
        if (length > 0) {
            for (int k = 0; k < length; k++) w.stack[k].pvMove = line[k];
            w.pvLastIndex = (uint8_t)(length - 1);
            scoreReported = true;
            searchControl.stop.store(1, std::memory_order_relaxed);
            threadPool.elapsedMs.store(1, std::memory_order_relaxed);
            w.rootDepthComplete = 1;
            w.rootBestMoveDepth = MAX_PLY - 1;
            return true;
        }
    }
    return false;
}

int SearchThread::nextDepth(int depth) const {
    const int i = threadIndex % 16;
    int next = depth + 1;
    if ((i + next) % SKIP_SIZE[i] == 0) next = std::min(next + SKIP_PHASE[i], MAX_PLY - 1);
    return next;
}

bool SearchThread::leavesDepthToOthers(int depth, int need) const {
    if (depth < OUTPUT_DEPTH) return false;
    int count = 0;
    for (SearchThread* other : threadPool.searchThreads())
        if (other != this && other->currentDepth.load(std::memory_order_relaxed) >= depth && ++count >= need) break;
    return count >= need;
}

SearchThread::Iteration SearchThread::aspirationSearch(int depth, int previousScore, int& alpha, int& beta,
                                                       int& failHighReduction, bool clockWatch, double scaleAtStart) {
    // clockWatch: the main thread of a search without a depth limit, which
    // may stop after a fail high once it is no longer pondering.
    const int16_t* widths = ASPIRATION_WIDTHS[threadIndex % 32];
    Iteration it;
    if (depth >= ASPIRATION_DEPTH) {
        alpha = std::max(previousScore - widths[0], -32767);
        beta = std::min(previousScore + widths[0], 32767);
    }
    while (!stopRequested()) {
        it.score = alphaBeta(worker, 0, std::max(depth - failHighReduction, 1), alpha, beta);
        if (stopRequested()) break;
        if (it.score <= alpha) {
            // Fail low: the search restarts at the full depth below a
            // lowered alpha, the window widening step by step.
            beta = (int16_t)((alpha + beta) / 2);
            alpha = it.failsLow < ASPIRATION_STEPS ? std::max(it.score - widths[it.failsLow + 1], -32767) : -MATE_SCORE;
            it.failsLow++;
            failHighReduction = 0;
        } else if (it.score >= beta) {
            // Fail high: one ply shallower each time, alpha stays.
            beta = it.failsHigh < ASPIRATION_STEPS ? std::min(it.score + widths[it.failsHigh + 1], 32767) : MATE_SCORE;
            it.failsHigh++;
            failHighReduction++;
        } else {
            it.complete = true;
            break;
        }
        // After fails high only, the main thread may call it a move when the
        // soft time is gone: the move that failed high is already the best.
        if (clockWatch && !ponderingOrInfinite() && it.failsLow == 0) {
            setElapsed();
            const double elapsed = (double)threadPool.elapsedMs.load(std::memory_order_relaxed);
            if (elapsed > searchControl.budget.soft * scaleAtStart) {
                searchControl.stop.store(1, std::memory_order_relaxed);
                break;
            }
        }
    }
    return it;
}

int MainThread::reportIteration(int score, int depth, bool output) {
    SearchWorker& w = worker;
    // After a stop only a verdict already reached counts (no new proof).
    const bool mateClaimed = claimedMate(score, depth) != 0 &&
                             (!stopRequested() || claimedMate(score, MAX_PLY) == lastMate.claim);
    if (!output && !mateClaimed) return 0;
    getPVFromHashTable(w, depth);
    if (output && !stopRequested() && w.pvLastIndex != 0) {
        savedBestMove = w.stack[0].pvMove;
        savedPonderMove = w.stack[1].pvMove;
    }
    // A mate is announced as one once it is proven, and only then; its line
    // replaces the iteration's ordinary one (GUIs show the last score, and a
    // mate as a number of pawns reads as nonsense).
    const int mate = mateClaimed ? provenRootMate(score) : 0;
    if (mate != 0)
        printMateLine(w, mate, depth);
    else if (output)
        printInfoLine(w, score, depth, w.selDepth);
    scoreReported = scoreReported || mate != 0 || output;
    return mate;
}

bool MainThread::mateEndsSearch(int mate) const {
    // "go mate N" asks for a mate in N or fewer for the side to move;
    // anything else goes on under the other limits.
    const bool wanted = searchControl.limits.mate == 0 || (mate > 0 && mate <= searchControl.limits.mate);
    return wanted && !ponderingOrInfinite();
}

bool MainThread::reportsDepth(int depth) const { return depth >= OUTPUT_DEPTH; }

bool MainThread::endOfIteration(int score, int depth, bool output) {
    const int mate = reportIteration(score, depth, output);
    return mate != 0 && mateEndsSearch(mate);
}

void SearchThread::searchRoot() { deepen(); }

void SearchThread::deepen() {
    SearchWorker& w = worker;
    const int64_t soft = searchControl.budget.soft;
    const int minReport = soft >= RECORD_TIME_FRACTION * RECORD_MIN_MS ? soft / RECORD_TIME_FRACTION : RECORD_MIN_MS;
    int limit = searchControl.limits.depth;
    w.timeCheckCountdown = searchControl.timeCheckInterval;
    w.stack[0].killerMove[0] = w.stack[0].killerMove[1] = 0;
    threadPool.searchFinished.store(0, std::memory_order_relaxed);

    Move* const rootList = w.stack[0].moveList;
    const int rootMoves = (int)(generateMovesLegal(&w.pos, rootList) - rootList);
    w.rootDepthComplete = 1;
    w.rootBestMoveDepth = 0;
    w.rootScore = -32767;
    completedDepth = 0;
    rootMoveCount = rootMoves;
    if (rootSettled(rootMoves)) return;
    if (rootMoves == 1) limit = SINGLE_MOVE_DEPTH;
    // Other threads that must already be at a depth for a helper to skip it.
    const int threads = threadPool.threadsInSearch;
    const int need = (threads > 3 ? 1 : 0) + threads / 2;

    w.stack[0].staticEval = 0;
    w.stack[1].staticEval = 0;
    int alpha = -32767, beta = 32767;
    int score = -32767;
    double timeScale = 1.0;
    int depth = 0, failHighReduction = 0;
    bool goOn = true;

    for (;;) {
        depth = nextDepth(depth);
        if (!leavesDepthToOthers(depth, need)) {
            currentDepth.store(depth, std::memory_order_relaxed);
            w.rootBestMoveChanges = 0;
            const bool output = reportsDepth(depth);
            const Iteration it = aspirationSearch(depth, score, alpha, beta, failHighReduction,
                                                  watchesClock() && limit == 0, timeScale);
            if (it.complete) {
                w.rootScore = (int16_t)it.score;
                if (output)
                    ttStore(w.pos.hashKey, moveToWord(w.stack[0].pvMove), scoreToTable(it.score, 0), depth,
                            BOUND_EXACT);
                w.rootDepthComplete = 1;
                w.rootBestMoveDepth = (int16_t)depth;
                completedDepth = depth;
                score = it.score;
            }

            // End of the iteration (also after a stop, with the last score).
            int instability = w.rootBestMoveChanges;
            if (it.failsLow > 1 || it.failsHigh > 1) instability += std::max(it.failsLow, it.failsHigh) - 1;
            setElapsed();
            if (endOfIteration(score, depth, output)) break;
            const uint64_t elapsed = threadPool.elapsedMs.load(std::memory_order_relaxed);
            bool newRecord = false;
            if ((int64_t)elapsed > minReport && depth > threadPool.maxDepthReached.load(std::memory_order_relaxed)) {
                threadPool.maxDepthReached.store(depth, std::memory_order_relaxed);
                newRecord = true;
            }
            timeScale = nextTimeScale(timeScale, depth, instability);
            // The main thread decides on every depth, a helper only on a record
            // depth; a soft stop found by any thread ends every loop.
            if (decidesEveryDepth() || newRecord) {
                if (limit != 0) {
                    goOn = depth < limit;
                } else {
                    if (softLimitPassed(searchControl.budget, elapsed, timeScale))
                        threadPool.searchFinished.store(1, std::memory_order_relaxed);
                    goOn = searchControl.pondering.load(std::memory_order_relaxed) ||
                           !threadPool.searchFinished.load(std::memory_order_relaxed);
                }
                if (searchControl.limits.infinite) goOn = true;
            }
        }
        if (!goOn || depth >= MAX_PLY - 1 || stopRequested()) break;
    }
    setElapsed();
    if (!goOn) searchControl.stop.store(1, std::memory_order_relaxed);
}

// Hold the answer of a ponder or infinite search until the GUI asks for it:
// "bestmove" must not come before "stop" or "ponderhit", however early the
// search itself was done.
static void holdWhilePonderingOrInfinite() {
    while ((searchControl.limits.infinite || searchControl.pondering.load(std::memory_order_relaxed)) &&
           !threadPool.stopCommanded.load(std::memory_order_relaxed))
#if defined(TW_NO_THREADS)
        serviceHostDuringSearch(true);
#else
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
#endif
}

void MainThread::searchRoot() {
    // However the search ends, the table's helper may go on afterwards.
    struct EndNotice {
        ~EndNotice() {
            threadPool.answered.store(1, std::memory_order_release);
            ttSearchEnded();
        }
    } notice;
    savedBestMove = savedPonderMove = NO_MOVE;
    scoreReported = false;
    lastMate = MateVerdict();
    if (threadPool.noPosition) {
        threadPool.searchFinished.store(1, std::memory_order_relaxed);
        holdWhilePonderingOrInfinite();
        threadPool.lastBestMove = NO_MOVE;
        threadPool.answered.store(1, std::memory_order_release);
        if (!threadPool.silent) printLine("bestmove 0000");
        return;
    }
    for (int i = 1; i < threadPool.threadsInSearch; i++) threadPool.workers[i]->wake();
    deepen();
    threadPool.searchFinished.store(1, std::memory_order_relaxed);
    holdWhilePonderingOrInfinite();
    searchControl.stop.store(1, std::memory_order_relaxed);
    for (int i = 1; i < threadPool.threadsInSearch; i++) threadPool.workers[i]->waitIdle();
    if (completedDepth == 0 && rootMoveCount > 0 && !settled) completeFirstDepth();

    SearchThread* const best = chooseBestThread();
    SearchWorker& bw = best->worker;
    if (best != this && !threadPool.silent) {
        getPVFromHashTable(bw, bw.rootBestMoveDepth);
        printInfoLine(bw, bw.rootScore, bw.rootBestMoveDepth, bw.selDepth);
        scoreReported = true;
    }
    Move bestMove = bw.stack[0].pvMove;
    Move ponder = bw.pvLastIndex != 0 ? bw.stack[1].pvMove : NO_MOVE;
    if (moveToWord(ponder) == 0 && sameMove(moveToWord(bestMove), moveToWord(savedBestMove))) ponder = savedPonderMove;
    if (!isLegalMove(&bw.pos, bestMove)) {
        // Stopped before any root move was searched: answer with a legal
        // move all the same (the table's move, else the first one).  Only a
        // side without moves answers with the empty move.
        bestMove = fallbackRootMove(bw.pos);
        ponder = NO_MOVE;
    }
    threadPool.lastBestMove = bestMove;
    if (threadPool.silent) return;
    if (!scoreReported) {
        printFinalReport(bestMove);
        if (bw.pvLastIndex != 0 && moveToWord(ponder) == 0) ponder = bw.stack[1].pvMove;
    }
    // A side without a legal move answers with the null move.
    const int side = bw.pos.sideToMove;
    std::string line = "bestmove " + (moveToWord(bestMove) ? moveToText(&bestMove, side) : "0000");
    if (moveToWord(ponder) != 0 && isLegalReply(bw.pos, bestMove, ponder))
        line += " ponder " + moveToText(&ponder, side ^ 1);
    // Marked before it is printed: a "stop" that follows the answer is for
    // the next search.
    threadPool.answered.store(1, std::memory_order_release);
    printLine(line);
}

SearchThread* MainThread::chooseBestThread() {
    SearchThread* best = this;
    if (threadPool.threadsInSearch == 1 || searchControl.limits.depth != 0) return best;
    // The deepest completed result wins; of equal ones, and of proven
    // wins, the higher score.
    auto depthKey = [](const SearchWorker& w) { return 2 * w.rootBestMoveDepth + w.rootDepthComplete; };
    int bestKey = depthKey(worker);
    for (SearchThread* thread : threadPool.searchThreads()) {
        const SearchWorker& w = thread->worker;
        const int key = depthKey(w);
        if (key == bestKey || w.rootScore >= MATE_THRESHOLD) {
            if (w.rootScore > best->worker.rootScore) {
                best = thread;
                bestKey = key;
            }
        } else if (key > bestKey) {
            best = thread;
            bestKey = key;
        }
    }
    return best;
}

// A search stopped before its first depth was done (a "stop" right after
// "go", a tiny node limit, a clock already spent) has neither a score nor a
// move it has looked at: the first depth is finished now, whatever the clock
// says.  It takes well under a millisecond.  The helpers are parked, so the
// stop flag is this thread's alone but for a "stop" or "quit" arriving
// meanwhile, which only makes it try again.
void MainThread::completeFirstDepth() {
    SearchWorker& w = worker;
    searchControl.clockOff.store(1, std::memory_order_relaxed);
    for (int attempt = 0; attempt < 4 && completedDepth == 0; attempt++) {
        searchControl.stop.store(0, std::memory_order_relaxed);
        int alpha = -32767, beta = 32767, reduction = 0;
        const Iteration it = aspirationSearch(1, -32767, alpha, beta, reduction, false, 1.0);
        if (!it.complete) continue;
        w.rootScore = (int16_t)it.score;
        w.rootDepthComplete = 1;
        w.rootBestMoveDepth = 1;
        completedDepth = 1;
    }
    searchControl.stop.store(1, std::memory_order_relaxed);
    searchControl.clockOff.store(0, std::memory_order_relaxed);
}

// The search printed no line with a score (it ended before the depths that
// report, or it had a single legal move): one ordinary line for the last
// completed depth, whose PV starts with the move about to be played.
void MainThread::printFinalReport(Move bestMove) {
    SearchWorker& w = worker;
    int score = w.rootScore;
    if (completedDepth > 0) {
        getPVFromHashTable(w, completedDepth);
        if (!sameMove(moveToWord(w.stack[0].pvMove), moveToWord(bestMove))) w.pvLastIndex = 0;
        // A mate found by the last depth (a search stopped early in a mating
        // position): announced as a mate when it is proven with this move.
        if (claimedMate(score, completedDepth) != 0) {
            const int mate = provenRootMate(score);
            const uint32_t shorter = moveToWord(lastMate.move);
            if (mate != 0 && (shorter == 0 || sameMove(shorter, moveToWord(bestMove)))) {
                w.stack[0].pvMove = bestMove;
                printMateLine(w, mate, completedDepth);
                return;
            }
        }
    } else {
        // Not even the first depth was completed: the static evaluation is
        // the best estimate there is.
        w.pvLastIndex = 0;
        score = w.pos.inCheck ? 0 : evaluate(&w.pos, w.caches);
    }
    w.stack[0].pvMove = bestMove;
    printInfoLine(w, score, completedDepth, w.selDepth);
}

// ---------------------------------------------------------------------------
// Search threads
// ---------------------------------------------------------------------------
SearchThread::SearchThread(int index) : threadIndex(index) {
    std::memset(static_cast<void*>(followUpTable), 0, sizeof followUpTable);
    std::memset(static_cast<void*>(counterMoveTable), 0, sizeof counterMoveTable);
    std::memset(static_cast<void*>(pawnHashTable), 0, sizeof pawnHashTable);
    std::memset(static_cast<void*>(evalCache), 0, sizeof evalCache);
    std::memset(static_cast<void*>(&worker), 0, sizeof worker);
    worker.threadIndex = (uint32_t)index;
    worker.caches = {pawnHashTable, evalCache};
    worker.histories.followUp = &followUpTable;
    worker.histories.counterMove = &counterMoveTable;
    worker.stack[0].moveList = moveStack;
#if defined(TW_NO_THREADS)
    // No thread of its own: the pool runs the search on the calling thread.
    busy = 0;
    started = true;
#else
    started = tryStartThread(thread, [this] { idleLoop(); });
#endif
}

SearchThread::~SearchThread() { endThread(thread); }

void SearchThread::idleLoop() {
    while (park()) searchRoot();
}

void SearchThread::clearHistoryTables() {
    std::memset(static_cast<void*>(followUpTable), 0, sizeof followUpTable);
    std::memset(static_cast<void*>(counterMoveTable), 0, sizeof counterMoveTable);
}

void ThreadPool::waitForSearch() {
    if (!workers.empty()) workers[0]->waitIdle();
}

bool ThreadPool::searching() {
    if (workers.empty()) return false;
    std::lock_guard<std::mutex> lock(workers[0]->mutex);
    return workers[0]->busy != 0;
}

bool ThreadPool::searchingWithoutEnd() { return searching() && ponderingOrInfinite(); }

namespace {

// Memory of a search thread besides its record: the part of its stack that
// the deepest searches use.
constexpr uint64_t THREAD_STACK_IN_USE = 1u << 20;
// Address space left free under a limit on it (ulimit -v): the C library's
// heap for the threads that print, the output's text, the command loop.
constexpr uint64_t ADDRESS_SPACE_MARGIN = 192u << 20;

}  // namespace

int ThreadPool::threadsThatFit(int wanted) const {
    // Memory: what the table leaves of the engine's share (the same share
    // the table itself is held to).
    const uint64_t allowance = memoryAllowance(memoryLimit());
    const uint64_t table = ttTableBytes();
    uint64_t fit = allowance > table ? (allowance - table) / (sizeof(MainThread) + THREAD_STACK_IN_USE) : 0;
    // Address space: every thread reserves its whole stack.
    const uint64_t space = platform::addressSpaceLeft();
    if (space != ~0ULL)
        fit = std::min<uint64_t>(
            fit, space > ADDRESS_SPACE_MARGIN
                     ? (space - ADDRESS_SPACE_MARGIN) / (sizeof(MainThread) + platform::threadStackBytes())
                     : 0);
    return (int)std::max<uint64_t>(1, std::min<uint64_t>(fit, (uint64_t)wanted));
}

uint64_t ThreadPool::memoryBytes() const { return workers.size() * (sizeof(MainThread) + THREAD_STACK_IN_USE); }

int ThreadPool::setThreads(int n) {
    waitForSearch();
    while (!workers.empty()) {
        delete workers.back();
        workers.pop_back();
    }
    mainThread = nullptr;
    const int fit = n > 0 ? threadsThatFit(n) : 0;
    for (int i = 0; i < fit; i++) {
        SearchThread* w = nullptr;
        MainThread* main = nullptr;
        try {
            if (i == 0)
                w = main = new MainThread(0);
            else
                w = new SearchThread(i);
        } catch (const std::bad_alloc&) {
            break;
        }
        if (!w->started) {
            delete w;
            break;
        }
        workers.push_back(w);
        if (main) mainThread = main;
    }
    if (n > 0 && workers.empty()) {
        // Not even one search thread: the engine cannot play at all.
        std::fputs("thread constructor failed\n", stderr);
        std::exit(1);
    }
    threadsInSearch = (int)workers.size();
    for (SearchThread* w : workers) w->clearHistoryTables();
    return (int)workers.size();
}

void ThreadPool::commandStop() {
    stopCommanded.store(1, std::memory_order_relaxed);
    searchControl.stop.store(1, std::memory_order_relaxed);
}

void ThreadPool::ponderhit() {
    // Only a ponder search is waiting for it: a stray one (after the ponder
    // search was stopped, or during an infinite search) changes nothing.
    if (!searchControl.pondering.load(std::memory_order_relaxed)) return;
    // After the search has finished, the held answer is wanted at once;
    // before, the search goes on under its own clock.
    if (searchFinished.load(std::memory_order_relaxed))
        commandStop();
    else
        searchControl.pondering.store(0, std::memory_order_relaxed);
}

void ThreadPool::clearHistories() {
    for (SearchThread* w : workers) w->clearHistoryTables();
}

void ThreadPool::startSearch(const Position* position, const KeyHistory* keys, const SearchLimits& limits,
                             const TimeBudget& budget, int threads, bool silentSearch) {
    waitForSearch();
    threadsInSearch = threads > 0 && threads < (int)workers.size() ? threads : (int)workers.size();
    silent = silentSearch;
    noPosition = position == nullptr;
    searchControl.limits = limits;
    searchControl.budget = budget;
    // With a node limit the counter is gathered more often, so that small
    // limits are met closely.
    searchControl.timeCheckInterval = limits.nodes
                                          ? (int32_t)std::max<uint64_t>(1, std::min<uint64_t>(4096, limits.nodes / 64))
                                          : 4096;
    searchControl.pondering.store(limits.ponder ? 1 : 0, std::memory_order_relaxed);
    searchControl.stop.store(0, std::memory_order_relaxed);
    stopCommanded.store(0, std::memory_order_relaxed);
    searchFinished.store(0, std::memory_order_relaxed);
    answered.store(0, std::memory_order_relaxed);
    maxDepthReached.store(0, std::memory_order_relaxed);
    searchControl.nodesCounted.store(0, std::memory_order_relaxed);
    totalTbHits.store(0, std::memory_order_relaxed);
    elapsedMs.store(0, std::memory_order_relaxed);
    ttNewSearch();
    for (SearchThread* thread : searchThreads()) {
        SearchWorker& w = thread->worker;
        if (position)
            w.startFrom(*position, *keys, thread->moveStack);
        else  // nothing to search, but the counters are this search's all the same
            w.nodeCount = w.quiescenceNodeCount = w.tbHits = w.nodesReported = 0;
        thread->currentDepth.store(0, std::memory_order_relaxed);
    }
#if defined(TW_NO_THREADS)
    // Without threads the search runs here, to its answer, with the first
    // thread's tables (there is no other).  It is busy meanwhile, as a
    // thread of its own would be.
    // The call is a direct one (not through the virtual table), since the
    // single-thread build's pauses (Asyncify) may only unwind through calls
    // it can see.
    threadsInSearch = 1;
    mainThread->busy = 1;
    mainThread->MainThread::searchRoot();
    mainThread->busy = 0;
#else
    workers[0]->wake();
#endif
}
