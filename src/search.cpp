// The node search: alpha-beta with its numbered steps, the quiescence search,
// and the principal variation rebuilt from the table.
#include "search.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "eval.h"
#include "movegen.h"
#include "movepick.h"
#include "syzygy.h"
#include "tt.h"

SearchControl searchControl;
namespace {

// REDUCTIONS[d][m] = integer square root of d * (m - 2) / 9 from m = 4
// on; the root only grows with m, so each row carries it forward.
struct Reductions {
    std::array<std::array<uint8_t, 256>, 128> r{};
    constexpr Reductions() {
        for (int d = 0; d < 128; d++) {
            r[d][3] = 1;
            unsigned root = 0;
            for (int m = 4; m < 256; m++) {
                const unsigned v = (unsigned)(d * (m - 2) / 9);
                while ((root + 1) * (root + 1) <= v) root++;
                r[d][m] = (uint8_t)root;
            }
        }
    }
};

}  // namespace

constexpr std::array<std::array<uint8_t, 256>, 128> REDUCTIONS = Reductions().r;

namespace {

inline bool isCapture(const Position* pos, Move m) { return pos->board[m.to] != EMPTY || m.moveType == MT_ENPASSANT; }

inline bool hasPieces(const Position* pos, int side) {
    return (pos->pieceBitboard[side] & ~(pos->pieceBitboard[PAWN + side] | pos->pieceBitboard[KING + side])) != 0;
}

inline int drawScore(uint64_t counter) { return (counter & 1) ? 1 : -1; }

// Repetition scan back to the last irreversible move.  A repetition inside
// the search line is a draw at once; a position from the game before the root
// must have occurred twice.
inline bool isRepetition(const Position* pos, const KeyHistory& keys, int ply) {
    if (pos->fiftyMoveCounter < 4) return false;
    const int hl = keys.length;
    int lowest = hl - pos->fiftyMoveCounter - 1;
    if (lowest < 0) lowest = 0;
    const uint64_t key = pos->hashKey;
    const int rootIndex = hl - ply - 1;
    int earlier = 0;
    for (int i = hl - 5; i >= lowest; i -= 2) {
        if (keys.keys[i] != key) continue;
        if (i > rootIndex) return true;
        if (++earlier >= 2) return true;
    }
    return false;
}

inline bool insufficientMaterial(const Position* pos) {
    return !(pos->pieceBitboard[WPAWN] | pos->pieceBitboard[BPAWN]) && mgOf(pos->materialScore[WHITE]) < 378 &&
           mgOf(pos->materialScore[BLACK]) < 378;
}

// The first steps of every node below the root: a draw by repetition or by
// material, a window the distance to mate closes, the deepest ply.  True
// with the node's value when one of them decides it.  `counter` (the node
// count) picks the sign of a repetition's draw score.
inline bool decidedOnEntry(SearchWorker& w, int ply, uint64_t counter, int& alpha, int& beta, int& score) {
    const Position* pos = &w.pos;
    if (isRepetition(pos, w.keys, ply)) {
        score = drawScore(counter);
        return true;
    }
    if (insufficientMaterial(pos)) {
        score = 0;
        return true;
    }
    alpha = std::max(alpha, ply - MATE_SCORE);
    beta = std::min(beta, MATE_SCORE + 1 - ply);
    if (alpha >= beta) {
        score = alpha;
        return true;
    }
    if (ply >= MAX_PLY - 1) {
        score = evaluate(pos, w.caches);
        return true;
    }
    return false;
}

// Node count of this thread for the "go nodes" limit.
uint64_t ownNodes(const SearchWorker& w) { return w.nodeCount + w.quiescenceNodeCount; }

// Does the move leave the mover's own king safe?  Made on the board and taken
// back; used for moves from the table, which no generator produced.
bool leavesKingSafe(Position* pos, Move m) {
    BoardState saved;
    makeMove(pos, m, saved);
    const bool safe = !sideInCheck(pos, pos->sideToMove ^ 1);
    unmakeMove(pos, m, saved);
    return safe;
}

// Is a legal move available at this node?  Used when every move was pruned,
// so that a pruned node is never mistaken for mate or stalemate.
bool anyLegalMove(SearchWorker& w, int ply) {
    Position* const pos = &w.pos;
    Move* const start = w.stack[ply].moveList;
    Move* end = generateMovesCaptures(pos, start);
    if (pos->inCheck) return end > start;
    end = generateMovesQuiets(pos, end);
    for (Move* m = start; m < end; m++)
        if (moveIsLegal(pos, *m)) return true;
    return false;
}

// Clock and node-limit test, made every timeCheckInterval nodes.  Each thread
// adds the nodes it searched since its last test to the search's shared count.
bool timeIsUp(SearchWorker& w) {
    if (searchControl.clockOff.load(std::memory_order_relaxed)) return false;
#if defined(TW_NO_THREADS)
    serviceHostDuringSearch(false);
#endif
    const uint64_t nodesLimit = searchControl.limits.nodes;
    if (nodesLimit) {
        const uint64_t mine = ownNodes(w);
        const uint64_t fresh = mine - w.nodesReported;
        w.nodesReported = mine;
        const uint64_t total = searchControl.nodesCounted.fetch_add(fresh, std::memory_order_relaxed) + fresh;
        if (total >= nodesLimit) return true;
    }
    if (ponderingOrInfinite()) return false;
    return hardLimitReached(searchControl.budget);
}

}  // namespace

// ---------------------------------------------------------------------------
// Quiescence search
// ---------------------------------------------------------------------------
namespace {

// The quiescence search narrows as it goes deeper (depth counts down from 0):
// down to QS_ALL_CAPTURES_DEPTH every capture and queen promotion is tried
// (losing captures are skipped from depth 0 on), deeper only the recaptures
// on the square of the last move; a side in check gets all its evasions down
// to QS_EVASIONS_DEPTH and only recaptures beyond it.
constexpr int QS_ALL_CAPTURES_DEPTH = -4;
constexpr int QS_EVASIONS_DEPTH = -13;

}  // namespace

int quiescence(SearchWorker& w, int ply, int depth, int alpha, int beta) {
    Position* const pos = &w.pos;
    relaxedIncrement(w.quiescenceNodeCount);
    int decided;
    if (decidedOnEntry(w, ply, w.quiescenceNodeCount, alpha, beta, decided)) return decided;

    SearchPly& e = w.stack[ply];
    const bool wasInCheck = pos->inCheck != 0;
    // Only the node search stores positions, so the table seldom knows a
    // quiescence node, and its bucket is mostly a miss to main memory: it is
    // fetched while the static evaluation is worked out, and read after it.
    ttPrefetch(pos->hashKey);
    const int staticEval = wasInCheck ? 0 : evaluate(pos, w.caches);
    const uint64_t entry = ttProbe(pos->hashKey);
    const int bound = ttEntryBound(entry);
    int ttScore = 0;
    if (bound) {
        ttScore = scoreFromTable(ttEntryScore(entry), ply);
        if (bound != BOUND_UPPER && ttScore >= beta) return ttScore;
        if (bound == BOUND_EXACT || (bound != BOUND_LOWER && ttScore <= alpha)) return ttScore;
    }

    int best;
    if (!wasInCheck) {
        int standPat = staticEval;
        if ((bound == BOUND_LOWER && standPat < ttScore) || (bound == BOUND_UPPER && standPat > ttScore))
            standPat = ttScore;
        if (standPat >= beta) return standPat;
        alpha = std::max(alpha, standPat);
        best = standPat;
    } else {
        best = ply - MATE_SCORE;
    }

    pos->notPinnedMask = computeNotPinnedMask(pos, pos->sideToMove);
    Move* const start = e.moveList;
    Move* end;
    // Deep in the recapture phase a side in check no longer gets all its
    // evasions; the recaptures it may try are then checked for legality in
    // full, since the cheap test assumes the king is not attacked.
    bool fullLegalityTest = false;
    if (pos->inCheck && depth >= QS_EVASIONS_DEPTH) {
        end = generateMovesEvade(pos, start);
    } else {
        if (pos->inCheck) {
            pos->inCheck = 0;
            fullLegalityTest = true;
        }
        if (depth >= QS_ALL_CAPTURES_DEPTH) {
            end = generateQuiescenceCaptures(pos, start);
        } else {
            // The square of the last move; after an en-passant capture, the
            // square where the capturing pawn landed.
            const uint32_t last = ply >= 1 ? w.stack[ply - 1].currentMove : 0;
            int target = moveWordTo(last);
            if (moveWordType(last) == MT_ENPASSANT) target += pos->sideToMove == WHITE ? -8 : 8;
            end = last ? generateRecaptures(pos, target, start) : start;
        }
    }
    if (end == start) return best;
    // The children's buckets are fetched now, long before each child reads
    // its own: most of the wait for memory goes by while this node picks and
    // tests its moves.
    for (Move* m = start; m < end; m++) ttPrefetch(keyAfterGuess(pos, *m));

    const bool inCheck = pos->inCheck != 0;
    int searched = 0;
    Move* front = start;
    const bool skipLosingCaptures = !inCheck && depth <= 0 && depth >= QS_ALL_CAPTURES_DEPTH;
    while (front < end) {
        if (!skipLosingCaptures) {
            selectBest(front, end);
        } else {
            // Captures whose exchange loses are never searched here.
            Move* choice = front;
            bool taken = false;
            for (Move* m = front + 1; m < end; m++) {
                if (m->score <= choice->score) continue;
                if (exchangeAtLeast(pos, *m, 0)) {
                    choice = m;
                    taken = true;
                }
            }
            if (taken) {
                std::swap(*choice, *front);
            } else if (!exchangeAtLeast(pos, *front, 0)) {
                front++;
                continue;
            }
        }
        Move m = *front++;
        if (!inCheck && !fullLegalityTest && !moveIsLegal(pos, m)) continue;
        m.score = 0;
        makeSearchMove(w, ply, m, pos->board[m.from], end);
        if (fullLegalityTest && sideInCheck(pos, pos->sideToMove ^ 1)) {
            unmakeSearchMove(w, ply, m);
            continue;
        }
        int score;
        if (searched == 0) {
            score = -quiescence(w, ply + 1, depth - 1, -beta, -alpha);
        } else {
            score = -quiescence(w, ply + 1, depth - 1, -alpha - 1, -alpha);
            if (score > alpha && score < beta) score = -quiescence(w, ply + 1, depth - 1, -beta, -alpha);
        }
        searched++;
        unmakeSearchMove(w, ply, m);
        if (score > best) {
            best = score;
            if (score > alpha) {
                if (score >= beta) return score;
                alpha = score;
            }
        }
    }
    return best;
}

// ---------------------------------------------------------------------------
// Alpha-beta node search
// ---------------------------------------------------------------------------
// The numbered steps follow the order in which a node decides: count and
// clock, draws, mate distance, the table, the tablebases, the static
// evaluation and the pruning it allows, the hash move, the singular test,
// and the move loop with its per-move pruning, extensions and reductions.
namespace {

// Reverse futility (step 9): with up to this much depth left, a static score
// above beta by the margin of the depth is taken as the node's value; the
// opponent is not expected to win back so much in so few moves.
constexpr int REVERSE_FUTILITY_DEPTH = 6;
constexpr int REVERSE_FUTILITY_MARGIN[REVERSE_FUTILITY_DEPTH + 2] = {0, 65, 130, 195, 260, 325, 390, 455};

// Razoring (step 10): with up to this much depth left, a static score below
// alpha by the margin (larger when the position is improving) is checked
// with the quiescence search alone.
constexpr int RAZOR_DEPTH = 3;
constexpr int RAZOR_MARGIN[2][RAZOR_DEPTH + 1] = {{0, 90, 140, 200}, {0, 120, 190, 240}};

// Null move (step 11): passing must still leave the side above beta at a
// depth reduced by NULL_MOVE_BASE_R, one more per NULL_MOVE_DEPTH_STEP of
// depth, and one more per NULL_MOVE_EVAL_STEP the static score lies above beta
// (at most NULL_MOVE_EVAL_MAX more).
constexpr int NULL_MOVE_MIN_DEPTH = 4;
constexpr int NULL_MOVE_BASE_R = 3;
constexpr int NULL_MOVE_DEPTH_STEP = 4;
constexpr int NULL_MOVE_EVAL_STEP = 90;
constexpr int NULL_MOVE_EVAL_MAX = 3;

// ProbCut (step 12): a capture that beats beta by PROBCUT_MARGIN in a search
// PROBCUT_REDUCTION shallower is trusted to beat beta; at most PROBCUT_TRIES
// captures are tried.
constexpr int PROBCUT_MIN_DEPTH = 5;
constexpr int PROBCUT_MARGIN = 110;
constexpr int PROBCUT_REDUCTION = 3;
constexpr int PROBCUT_TRIES = 4;

// Internal iterative deepening (step 13): a node without a hash move, deep
// enough and promising enough (or on the PV), first searches IID_REDUCTION
// shallower to find one.
constexpr int IID_MIN_DEPTH = 8;
constexpr int IID_REDUCTION = 6;
constexpr int IID_EVAL_MARGIN = 100;

// Singular extension (step 15): the hash move is extended when no other of
// the first SINGULAR_QUIET_MOVES quiet moves (captures are tried too, but not
// counted) reaches the table score less SINGULAR_MARGIN_PER_DEPTH per ply of
// depth, in a search of half the depth.
constexpr int SINGULAR_MIN_DEPTH = 7;
constexpr int SINGULAR_DRAFT_SLACK = 3;  // the table's draft may be this much short
constexpr int SINGULAR_MARGIN_PER_DEPTH = 2;
constexpr int SINGULAR_QUIET_MOVES = 5;

// Pruning before a move is made (step 16.1): losing captures that lose more
// than BAD_CAPTURE_MARGIN per ply of depth, and quiet moves with all three
// histories negative near the leaves.
constexpr int BAD_CAPTURE_DEPTH = 6;
constexpr int BAD_CAPTURE_MARGIN = 110;
constexpr int HISTORY_PRUNING_DEPTH = 3;

// Late-move pruning (step 16.3): with up to LMP_DEPTH left, quiet moves
// beyond the count of the table (by improving and depth) are not searched.
constexpr int LMP_DEPTH = 7;
constexpr uint8_t LATE_MOVE_COUNT[2][LMP_DEPTH + 1] = {{1, 2, 3, 5, 7, 10, 14, 19}, {2, 4, 6, 8, 11, 15, 20, 27}};

// A quiet move both continuation histories rate above this is extended
// (step 16.6): it has followed these two moves well again and again.
constexpr int CONTINUATION_EXTENSION_BOUND = 4096;

// Late-move reductions (step 16.7) start at this depth.
constexpr int LMR_MIN_DEPTH = 3;

// The rank from which a pawn's next step promotes (a push to it is not
// reduced as much).
inline int seventhRank(int side) { return side == WHITE ? 6 : 1; }

// A score that is no mate or tablebase result.
inline bool ordinaryScore(int score) { return std::abs(score) <= MATE_THRESHOLD - 1; }

// What the table says about the node.
struct TableHit {
    int score = 0;
    int draft = -128;
    int bound = BOUND_NONE;
    bool cutsOff(int depth, int alpha, int beta) const {
        return draft >= depth && (bound == BOUND_EXACT || (bound == BOUND_LOWER && score >= beta) ||
                                  (bound == BOUND_UPPER && score <= alpha));
    }
};

// 7. Positions reached by a capture or pawn move with few enough men are
// scored from the win/draw/loss tables.  True when that decides the node.
inline bool tablebaseDecides(SearchWorker& w, int ply, int depth, int alpha, int beta, int& score) {
    Position* const pos = &w.pos;
    if (tb::largestMen == 0 || pos->fiftyMoveCounter != 0 || pos->castlingRights != 0) return false;
    const int men = popcount(pos->pieceBitboard[0] | pos->pieceBitboard[1]);
    if (men > tb::largestMen ||
        (men == tb::largestMen && depth < searchControl.tablebaseProbeDepth.load(std::memory_order_relaxed)))
        return false;
    int success = 0;
    const int wdl = probeTablebaseWdl(pos, &success);
    if (!success) return false;
    relaxedIncrement(w.tbHits);
    if (wdl == 2) {
        score = MATE_THRESHOLD - ply;
        if (score < beta) return false;
        ttStore(pos->hashKey, 0, score, MAX_PLY - 1, BOUND_LOWER);
    } else if (wdl == -2) {
        score = ply - MATE_THRESHOLD;
        if (score > alpha) return false;
        ttStore(pos->hashKey, 0, score, MAX_PLY - 1, BOUND_UPPER);
    } else {
        score = 0;
        ttStore(pos->hashKey, 0, 0, MAX_PLY - 1, BOUND_EXACT);
    }
    return true;
}

// 11. Null move: let the opponent move twice; if the side to move still
// stays above beta in a reduced search, so will its real moves.  True with
// the node's score when the null move fails high.
inline bool nullMoveFailsHigh(SearchWorker& w, int ply, int depth, int beta, int adjEval, int& score) {
    Position* const pos = &w.pos;
    SearchPly& e = w.stack[ply];
    const int nullReduction = NULL_MOVE_BASE_R + depth / NULL_MOVE_DEPTH_STEP +
                              std::min((adjEval - beta) / NULL_MOVE_EVAL_STEP, NULL_MOVE_EVAL_MAX);
    const int nullDepth = depth - nullReduction;
    makeNullMove(pos, e.saved);
    e.currentMove = 0;
    // The node after the pass starts with this node's killers, and writes
    // its moves where this node's would go (it has generated none yet).
    SearchPly& child = w.stack[ply + 1];
    child.killerMove[0] = e.killerMove[0];
    child.killerMove[1] = e.killerMove[1];
    child.moveList = e.moveList;
    ttPrefetch(pos->hashKey);
    const int s = nullDepth <= 0 ? -quiescence(w, ply + 1, 0, -beta, -beta + 1)
                                 : -alphaBeta(w, ply + 1, nullDepth, -beta, -beta + 1);
    unmakeNullMove(pos, e.saved);
    if (s < beta) return false;
    // A mate found behind a null move is not trusted as a mate.
    score = s >= MATE_THRESHOLD + 1 ? beta : s;
    return true;
}

// 12. ProbCut: a good capture that beats beta by a margin in a shallower
// search is taken to beat beta in the full one.  True when the node is
// decided (with score 0 when the search was stopped).
bool probCutDecides(SearchWorker& w, int ply, int depth, int beta, int eval, int& score) {
    Position* const pos = &w.pos;
    SearchPly& e = w.stack[ply];
    // The node's moves go to its own space; a child's behind them (behind
    // the hash move's slot before they are generated).
    Move* childList = e.moveList + 1;
    const int pb = beta + PROBCUT_MARGIN;
    const int threshold = pb - eval;
    int tried = 0;
    auto tryCandidate = [&](Move m) -> int {
        ttPrefetch(keyAfterGuess(pos, m));
        makeSearchMove(w, ply, m, pos->board[m.from], childList);
        int s = -quiescence(w, ply + 1, 0, -pb, -pb + 1);
        if (s >= pb) s = -alphaBeta(w, ply + 1, depth - PROBCUT_REDUCTION, -pb, -pb + 1);
        unmakeSearchMove(w, ply, m);
        tried++;
        return s;
    };
    auto decided = [&](int s) {
        if (stopRequested()) {
            score = 0;
            return true;
        }
        score = s;
        return s >= pb;
    };
    uint32_t hashTried = 0;
    if (e.hashMove) {
        const Move h = moveFromWord(e.hashMove);
        if ((isCapture(pos, h) || (h.moveType >= MT_PROMO_N && h.moveType <= MT_PROMO_Q)) &&
            moveIsPseudoLegal(pos, e.hashMove, false) && leavesKingSafe(pos, h) && seeAtLeast(pos, h, threshold)) {
            hashTried = e.hashMove;
            if (decided(tryCandidate(h))) return true;
        }
    }
    Move* const end = generateMovesCaptures(pos, e.moveList);
    childList = end;
    for (Move* m = e.moveList; m < end && tried < PROBCUT_TRIES; m++) {
        selectBest(m, end);
        if (hashTried && sameMove(moveToWord(*m), hashTried)) continue;
        if (!seeAtLeast(pos, *m, threshold) || !moveIsLegal(pos, *m)) continue;
        Move mv = *m;
        mv.score = 0;
        if (decided(tryCandidate(mv))) return true;
    }
    return false;
}

enum SingularResult { NOT_SINGULAR, SINGULAR, SINGULAR_STOPPED };

// 15. Is the hash move singular: does every other early move fall short of
// the table score by a margin in a search of half the depth?
SingularResult singularTest(SearchWorker& w, int ply, int depth, int ttScore, bool inCheck,
                            const MovePicker& nodePicker) {
    Position* const pos = &w.pos;
    SearchPly& e = w.stack[ply];
    const int sb = ttScore - SINGULAR_MARGIN_PER_DEPTH * depth;
    const uint16_t savedNoNull = w.stack[ply + 1].noNullMove;
    w.stack[ply + 1].noNullMove = 1;
    // A picker of its own, without the hash move, ordered as the node's.
    MovePicker picker(pos, w.histories, &e, ply, e.hashMove, PickStage::GENERATE_CAPTURES);
    picker.sortOff = nodePicker.sortOff;
    picker.quietScores = nodePicker.quietScores;
    int counted = 0;
    bool exceeded = false;
    PickStage stage;
    Move* mp;
    while (counted < SINGULAR_QUIET_MOVES && (mp = picker.next(&stage)) != nullptr) {
        Move m = *mp;
        m.score = 0;
        if (!inCheck && !moveIsLegal(pos, m)) continue;
        ttPrefetch(keyAfterGuess(pos, m));
        makeSearchMove(w, ply, m, pos->board[m.from], picker.freeSpace());
        const int score = -alphaBeta(w, ply + 1, depth / 2 - 1, -sb, -sb + 1);
        unmakeSearchMove(w, ply, m);
        if (stopRequested()) return SINGULAR_STOPPED;
        if (stage != PickStage::GOOD_CAPTURES && stage != PickStage::BAD_CAPTURES) counted++;
        if (score > sb) {
            exceeded = true;
            break;
        }
    }
    w.stack[ply + 1].noNullMove = savedNoNull;
    return exceeded ? NOT_SINGULAR : SINGULAR;
}

// 16.1 Moves not worth making at all: captures that lose too much near the
// leaves, and quiet moves every history condemns.
inline bool prunedBeforeMaking(const Position* pos, const Histories& h, int depth, Move m, int piece, PickStage stage,
                               const Continuation& cont) {
    if (stage == PickStage::BAD_CAPTURES && depth <= BAD_CAPTURE_DEPTH &&
        !exchangeAtLeast(pos, m, -BAD_CAPTURE_MARGIN * depth))
        return true;
    return depth <= HISTORY_PRUNING_DEPTH && pos->board[m.to] == EMPTY && allHistoriesNegative(h, cont, piece, m.to);
}

// 16.6 One ply more for the singular hash move, for a check that does not
// lose material, and for a quiet move both continuation histories rate
// highly.  The move has been made.
inline int extension(SearchWorker& w, int ply, Move m, int piece, bool capture, bool givesCheck, bool singularFirst,
                     const Continuation& cont) {
    if (singularFirst) return 1;
    if (givesCheck) {
        BoardState& saved = w.stack[ply].saved;
        if (exchangeQuickly(saved.capturedPiece, piece, 0)) return 1;
        // Judged on the board before the move (taken back and made again,
        // with the check flag it had).
        Position* const pos = &w.pos;
        unmakeMove(pos, m, saved);
        const bool safe = exchangeAtLeast(pos, m, 0);
        makeMove(pos, m, saved);
        pos->inCheck = 1;
        return safe ? 1 : 0;
    }
    return !capture && cont.followUp && cont.counter &&
           (*cont.followUp)[piece - 2][m.to] > CONTINUATION_EXTENSION_BOUND &&
           (*cont.counter)[piece - 2][m.to] > CONTINUATION_EXTENSION_BOUND;
}

// 16.7 How much shallower a late quiet move is searched first: the table's
// amount for depth and move number, more when the position is not improving
// or every history condemns the move, less on the PV, for a pawn about to
// promote, and for a killer pawn move that is passed.  The move has been made.
inline int lateMoveReduction(const SearchWorker& w, int ply, int depth, int searchedCount, bool improving, bool pvNode,
                             Move m, int piece, const Continuation& cont) {
    const Position* const pos = &w.pos;
    const SearchPly& e = w.stack[ply];
    const int side = pos->sideToMove ^ 1;
    int plies = REDUCTIONS[std::min(depth, 127)][std::min(searchedCount, 255)] + (improving ? 0 : 1);
    if (allHistoriesNegative(w.histories, cont, piece, m.to)) plies++;
    if (plies && pvNode) plies--;
    if (pos->board[m.to] == PAWN + side) {
        if (plies && rankOf(m.to) == seventhRank(side)) plies--;
        const uint32_t w = e.currentMove;
        if ((sameMove(w, e.killerMove[0]) || sameMove(w, e.killerMove[1])) &&
            !(PASSED_PAWN_SPAN[side][m.to] & pos->pieceBitboard[PAWN + (side ^ 1)]))
            plies--;
    }
    return plies;
}

}  // namespace

namespace {

// What a node knows before its move loop.
struct NodeFacts {
    TableHit tt;
    bool zeroWindow = false, pvNode = false;
    bool inCheck = false;
    bool improving = true;  // the static score is no worse than two plies ago
    int eval = 0;           // static evaluation
    int adjEval = 0;        // corrected by a table bound that lies beyond it
};

// 8 to 13: the static evaluation and the pruning it allows.  True when that
// decides the node (the value in `score`).
bool staticPruningDecides(SearchWorker& w, int ply, int depth, int alpha, int beta, NodeFacts& n, int& score) {
    Position* const pos = &w.pos;
    SearchPly& e = w.stack[ply];
    const int side = pos->sideToMove;
    e.staticEval = -32767;
    if (n.inCheck) return false;

    // 8. Static evaluation.
    n.eval = evaluate(pos, w.caches);
    e.staticEval = (int16_t)n.eval;
    n.adjEval = n.tt.bound == BOUND_EXACT   ? n.tt.score
                : n.tt.bound == BOUND_LOWER ? std::max(n.eval, n.tt.score)
                : n.tt.bound == BOUND_UPPER ? std::min(n.eval, n.tt.score)
                                            : n.eval;
    n.improving = ply < 2 || n.eval >= w.stack[ply - 2].staticEval;

    // 9. Reverse futility.
    if (depth <= REVERSE_FUTILITY_DEPTH && n.zeroWindow && ordinaryScore(n.adjEval) &&
        n.adjEval >= beta + REVERSE_FUTILITY_MARGIN[depth] && hasPieces(pos, side)) {
        score = n.adjEval;
        return true;
    }

    if (depth <= RAZOR_DEPTH && n.zeroWindow) {
        // 10. Razoring.
        if (n.adjEval + RAZOR_MARGIN[n.improving][depth] < alpha) {
            score = quiescence(w, ply, 0, alpha, beta);
            if (score < alpha) return true;
        }
        return false;
    }

    // 11. Null move, not twice in a row, not right after the root, and not
    // without pieces (zugzwang).
    if (depth >= NULL_MOVE_MIN_DEPTH && n.zeroWindow && e.noNullMove == 0 && ply >= 2 &&
        w.stack[ply - 2].currentMove != 0 && n.adjEval >= beta && hasPieces(pos, side) &&
        nullMoveFailsHigh(w, ply, depth, beta, n.adjEval, score))
        return true;

    // 12. ProbCut.
    if (depth >= PROBCUT_MIN_DEPTH && n.zeroWindow && ordinaryScore(n.adjEval) &&
        probCutDecides(w, ply, depth, beta, n.eval, score))
        return true;

    // 13. Internal iterative deepening.
    if (depth >= IID_MIN_DEPTH && e.hashMove == 0 && (n.pvNode || n.adjEval >= beta - IID_EVAL_MARGIN)) {
        alphaBeta(w, ply, depth - IID_REDUCTION, alpha, beta);
        if (stopRequested()) {
            score = 0;
            return true;
        }
        const uint64_t entry = ttProbe(pos->hashKey);
        if (ttEntryBound(entry) != BOUND_NONE) e.hashMove = ttEntryMove(entry);
    }
    return false;
}

// 16.7 Search one move (made): the first with the full window, the others
// with a null window, `reduction` plies shallower first, and again in full
// when they beat alpha.
inline int searchMove(SearchWorker& w, int ply, int alpha, int beta, int newDepth, bool first, int reduction) {
    if (first)
        return newDepth <= 0 ? -quiescence(w, ply + 1, 0, -beta, -alpha)
                             : -alphaBeta(w, ply + 1, newDepth, -beta, -alpha);
    const int reduced = newDepth - reduction;
    int score = reduced <= 0 ? -quiescence(w, ply + 1, 0, -alpha - 1, -alpha)
                             : -alphaBeta(w, ply + 1, reduced, -alpha - 1, -alpha);
    if (reduction != 0 && newDepth >= 1 && score > alpha) score = -alphaBeta(w, ply + 1, newDepth, -alpha - 1, -alpha);
    if (score > alpha && score < beta)
        score = newDepth <= 0 ? -quiescence(w, ply + 1, newDepth, -beta, -alpha)
                              : -alphaBeta(w, ply + 1, newDepth, -beta, -alpha);
    return score;
}

// 16 to 18: the move loop of a node and its result.
int searchMoves(SearchWorker& w, int ply, int depth, int alpha, int beta, const NodeFacts& n, bool singular,
                MovePicker& picker) {
    Position* const pos = &w.pos;
    SearchPly& e = w.stack[ply];
    const int alphaOrig = alpha;
    const Continuation& cont = picker.cont;
    w.stack[ply + 1].killerMove[0] = w.stack[ply + 1].killerMove[1] = 0;
    int best = -MATE_SCORE;
    int movesSearched = 0, searchedCount = 0;
    bool anyPruned = false;
    PickStage stage;
    Move* mp;
    while ((mp = picker.next(&stage)) != nullptr) {
        Move m = *mp;
        m.score = 0;
        const int piece = pos->board[m.from];
        const bool capture = isCapture(pos, m);

        // Once late-move pruning has begun here, only checks are still
        // searched, and the node counts as pruned already: the tests below
        // could drop a move but never save one that does not check, so the
        // check test comes first.
        if (picker.lmpSkip && !moveGivesCheck(pos, m)) continue;
        // The child's bucket is on its way while the move is tested and made.
        ttPrefetch(keyAfterGuess(pos, m));

        // 16.1 Pruning before the move is made.
        if (ply > 0 && prunedBeforeMaking(pos, w.histories, depth, m, piece, stage, cont)) {
            anyPruned = true;
            continue;
        }

        // 16.2 Legality of pseudo-legal moves (evasions and the checked
        // hash move are legal already).
        if (!n.inCheck && stage != PickStage::HASH_MOVE && !moveIsLegal(pos, m)) continue;

        // 16.3 Late-move pruning: once the quiet moves pass their count, the
        // rest of them are skipped, checks excepted.  Most moves that reach
        // this point near the leaves are skipped here, so whether a move
        // checks is asked before it is made, and a skipped move is never made.
        if (ply > 0 &&
            (picker.lmpSkip || (n.zeroWindow && depth <= LMP_DEPTH && !n.inCheck &&
                                (stage == PickStage::KILLER1 || stage == PickStage::KILLER2 ||
                                 stage == PickStage::COUNTER_MOVE || stage == PickStage::QUIETS) &&
                                searchedCount >= LATE_MOVE_COUNT[n.improving][depth])) &&
            !moveGivesCheck(pos, m)) {
            picker.lmpSkip = true;
            anyPruned = true;
            continue;
        }

        // 16.4 Make the move.
        makeSearchMove(w, ply, m, piece, picker.freeSpace());
        const bool givesCheck = pos->inCheck != 0;

        // 16.5 Count it (losing captures do not count towards the late moves).
        if (stage != PickStage::BAD_CAPTURES) searchedCount++;

        // 16.6 Extensions and 16.7 the search.
        const int newDepth = depth - 1 +
                             extension(w, ply, m, piece, capture, givesCheck, movesSearched == 0 && singular, cont);
        const int reduction = movesSearched > 0 && depth >= LMR_MIN_DEPTH && !capture
                                  ? lateMoveReduction(w, ply, depth, searchedCount, n.improving, n.pvNode, m, piece,
                                                      cont)
                                  : 0;
        const int score = searchMove(w, ply, alpha, beta, newDepth, movesSearched == 0, reduction);

        // 16.8 Unmake.
        unmakeSearchMove(w, ply, m);
        if (stopRequested()) return 0;

        // 16.9 Best move so far.
        movesSearched++;
        if (score > best) {
            if (score > alpha) {
                e.pvMove = wordToMove(makeMoveWord(m, piece));
                if (ply == 0) {
                    w.rootBestMoveChanges++;
                    w.rootBestMoveDepth = (int16_t)depth;
                    w.rootDepthComplete = 0;
                }
                if (score >= beta) {
                    // 17. Beta cut-off.
                    ttStore(pos->hashKey, makeMoveWord(m, piece), scoreToTable(score, ply), depth, BOUND_LOWER);
                    if (!n.inCheck && pos->board[m.to] == EMPTY)
                        updateQuietCutoff(pos, w.histories, &e, ply, depth, m, stage, picker);
                    return score;
                }
                alpha = score;
            }
            best = score;
        }
    }

    // 18. End of the move loop.
    if (movesSearched == 0) {
        // Every move pruned is not the same as no move at all.
        if (anyPruned && anyLegalMove(w, ply)) return alpha;
        return n.inCheck ? ply - MATE_SCORE : 0;
    }
    if (pos->fiftyMoveCounter > 99) return 0;
    if (best > alphaOrig)
        ttStore(pos->hashKey, moveToWord(e.pvMove), scoreToTable(best, ply), depth, BOUND_EXACT);
    else
        ttStore(pos->hashKey, e.hashMove, scoreToTable(best, ply), depth, BOUND_UPPER);
    return best;
}

}  // namespace

int alphaBeta(SearchWorker& w, int ply, int depth, int alpha, int beta) {
    Position* const pos = &w.pos;
    // 1. Count and clock.
    relaxedIncrement(w.nodeCount);
    if (ply > w.selDepth) w.selDepth = ply;
    if (w.timeCheckCountdown-- <= 0) {
        w.timeCheckCountdown = searchControl.timeCheckInterval;
        if (timeIsUp(w)) {
            searchControl.stop.store(1, std::memory_order_relaxed);
            return 0;
        }
    }
    if (stopRequested()) return 0;

    SearchPly& e = w.stack[ply];
    // 2 to 4. Draws, mate distance, the deepest ply.
    int decided;
    if (ply > 0 && decidedOnEntry(w, ply, w.nodeCount, alpha, beta, decided)) return decided;
    NodeFacts n;
    n.zeroWindow = alpha + 1 >= beta;
    n.pvNode = !n.zeroWindow;
    n.inCheck = pos->inCheck != 0;

    // 5. Ply set-up.  Until this node generates its moves, a child's list
    // starts right behind the slot its hash move will occupy.
    w.stack[ply + 1].noNullMove = e.noNullMove;
    w.stack[ply + 1].moveList = e.moveList + 1;
    e.hashMove = 0;

    // 6. Transposition table.
    const uint64_t entry = ttProbe(pos->hashKey);
    if (ttEntryBound(entry) != BOUND_NONE) {
        e.hashMove = ttEntryMove(entry);
        n.tt.score = scoreFromTable(ttEntryScore(entry), ply);
        n.tt.draft = ttEntryDraft(entry);
        n.tt.bound = ttEntryBound(entry);
        if (ply > 0 && n.zeroWindow && n.tt.cutsOff(depth, alpha, beta)) return n.tt.score;
    }

    // 7. Tablebases; 8 to 13, the static evaluation and its pruning.
    if (ply > 0 && tablebaseDecides(w, ply, depth, alpha, beta, decided)) return decided;
    if (staticPruningDecides(w, ply, depth, alpha, beta, n, decided)) return decided;

    // 14. Hash move check: a table move must be playable here.
    bool hashValid = false;
    if (e.hashMove) {
        hashValid = moveIsPseudoLegal(pos, e.hashMove, false) && leavesKingSafe(pos, moveFromWord(e.hashMove));
        if (!hashValid) e.hashMove = 0;
    }

    int32_t quietScores[QUIET_SCORE_CAPACITY];
    MovePicker picker(pos, w.histories, &e, ply, e.hashMove,
                      hashValid ? PickStage::HASH_MOVE : PickStage::GENERATE_CAPTURES);
    picker.quietScores = quietScores;
    picker.sortOff = ply == 0 && w.threadIndex % 4 == 3;

    // 15. Singular extension test.
    bool singular = false;
    if (hashValid && depth >= SINGULAR_MIN_DEPTH && ply > 0 && n.tt.draft >= depth - SINGULAR_DRAFT_SLACK &&
        n.tt.bound != BOUND_UPPER && ordinaryScore(n.tt.score)) {
        const SingularResult r = singularTest(w, ply, depth, n.tt.score, n.inCheck, picker);
        if (r == SINGULAR_STOPPED) return 0;
        singular = r == SINGULAR;
    }

    // 16 to 18. The moves.
    return searchMoves(w, ply, depth, alpha, beta, n, singular, picker);
}

// ---------------------------------------------------------------------------
// Principal variation from the transposition table
// ---------------------------------------------------------------------------
void getPVFromHashTable(SearchWorker& w, int depth) {
    Position* const pos = &w.pos;
    w.pvLastIndex = 0;
    if (depth < 1) return;
    int made = 0;
    for (int k = 0; k < depth && k < MAX_PLY - 1; k++) {
        const uint64_t entry = ttProbe(pos->hashKey);
        if (ttEntryBound(entry) != BOUND_EXACT || ttEntryMove(entry) == 0) break;
        const uint32_t word = ttEntryMove(entry);
        // The castling test of a remembered move reads the check flag.
        pos->inCheck = sideInCheck(pos, pos->sideToMove);
        if (!moveIsPseudoLegal(pos, word, false)) break;
        const Move m = moveFromWord(word);
        if (!leavesKingSafe(pos, m)) break;
        w.stack[k].pvMove = wordToMove(word);
        makeMove(pos, m, w.stack[k].saved);
        w.keys.push(pos->hashKey);
        w.pvLastIndex = (uint8_t)k;
        made++;
        // A GUI ends the game at a repetition or a fifty-move draw, so the
        // line ends there too, whatever the table holds beyond it.
        if (isRepetition(pos, w.keys, k + 1) || pos->fiftyMoveCounter > 99) break;
    }
    for (int k = made - 1; k >= 0; k--) {
        w.keys.pop();
        unmakeMove(pos, moveFromWord(moveToWord(w.stack[k].pvMove)), w.stack[k].saved);
    }
}

std::string pvToText(const SearchWorker& w) {
    Move line[MAX_PLY + 1];
    const int count = std::min<int>(w.pvLastIndex, MAX_PLY) + 1;
    for (int k = 0; k < count; k++) line[k] = w.stack[k].pvMove;
    return lineToText(line, count, w.pos.sideToMove);
}

// ---------------------------------------------------------------------------
// The search state of a thread
// ---------------------------------------------------------------------------
void SearchWorker::startFrom(const Position& position, const KeyHistory& gameKeys, Move* moveBuffer) {
    pos = position;
    keys = gameKeys;
    std::memset(static_cast<void*>(stack), 0, sizeof stack);
    stack[0].moveList = moveBuffer;
    histories.clearForSearch();
    nodeCount = quiescenceNodeCount = tbHits = nodesReported = 0;
    timeCheckCountdown = 0;
    rootBestMoveChanges = 0;
    rootBestMoveDepth = 0;
    rootDepthComplete = 0;
    rootScore = 0;
    selDepth = 0;
    pvLastIndex = 0;
}
