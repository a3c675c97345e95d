// Move ordering: the histories (from-to history, continuation histories,
// killers and counter moves), and the staged move picker that hands a node
// its moves best first: the hash move, good captures, killers, the counter
// move, losing captures, then the quiet moves by history.  The picker runs at
// every node of the search, so it is defined here, inline.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>

#include "movegen.h"
#include "position.h"

// A continuation history: for the piece and target of an earlier move, a
// score for each piece and target of the move now.
typedef int16_t ContinuationTable[12][64][12][64];
typedef int16_t ContinuationBlock[12][64];

// The move-ordering histories of one search thread.  `history` and
// `counterMoves` start empty at every "go" (a search learns them afresh);
// the continuation tables, which the thread owns and these point at, are
// kept from search to search and cleared only by "ucinewgame".
struct Histories {
    // By piece and target: how often a quiet move has caused a cut-off.
    int16_t history[12][64];
    // By the piece and target of the previous move: the quiet reply that
    // refuted it last (a move word).
    uint32_t counterMoves[12][64];
    // Bumped by every write to the history and the continuation histories,
    // so that a node can tell whether its quiet-move scores still hold.
    uint32_t writes;
    ContinuationTable* followUp;     // keyed by the move two plies back
    ContinuationTable* counterMove;  // keyed by the previous move

    // Empty history and counter moves, for a new search.
    void clearForSearch() {
        std::memset(history, 0, sizeof history);
        std::memset(counterMoves, 0, sizeof counterMoves);
        writes = 0;
    }
};

// One ply of a search line: what the node search keeps for a node while it
// and its children run, beside the board.
struct SearchPly {
    // The position's state before this ply's move, to take the move back.
    BoardState saved;
    // Where the node writes its moves: the space its parent leaves free.
    Move* moveList;
    // The move (as a move word) being searched at this ply; 0 for a null
    // move.  The children read it for the counter move and the
    // continuation histories.
    uint32_t currentMove;
    // The table's move for the node, once found playable (else 0).
    uint32_t hashMove;
    // Two quiet moves that caused a cut-off at this ply lately.
    uint32_t killerMove[2];
    // The best move found at this ply; along ply 0, 1, ... it is the PV.
    Move pvMove;
    int16_t staticEval;
    // No null move in this node (set for the nodes under a singular test).
    uint16_t noNullMove;
};

// The continuation-history blocks of a node: keyed by the previous move and
// by the move two plies back (absent after a null move or near the root).
struct Continuation {
    ContinuationBlock* counter = nullptr;
    ContinuationBlock* followUp = nullptr;
};

// The continuation blocks of the node at `ss` (the stack entry of its ply).
inline Continuation continuationBlocks(const Histories& h, const SearchPly* ss, int ply) {
    Continuation c;
    if (ply >= 1) {
        const uint32_t prev = ss[-1].currentMove;
        if (prev) c.counter = &(*h.counterMove)[moveWordPiece(prev) - 2][moveWordTo(prev)];
    }
    if (ply >= 2) {
        const uint32_t prev2 = ss[-2].currentMove;
        if (prev2) c.followUp = &(*h.followUp)[moveWordPiece(prev2) - 2][moveWordTo(prev2)];
    }
    return c;
}

// The quiet move that refuted the previous move last time, or 0.
inline uint32_t counterMoveOf(const Histories& h, const SearchPly* ss, int ply) {
    const uint32_t prev = ply >= 1 ? ss[-1].currentMove : 0;
    return prev ? h.counterMoves[moveWordPiece(prev) - 2][moveWordTo(prev)] : 0;
}

inline int quietScore(const Histories& h, const Continuation& c, int piece, int to) {
    int s = h.history[piece - 2][to];
    if (c.followUp) s += (*c.followUp)[piece - 2][to];
    if (c.counter) s += (*c.counter)[piece - 2][to];
    return s;
}

inline bool allHistoriesNegative(const Histories& h, const Continuation& c, int piece, int to) {
    return c.followUp && c.counter && h.history[piece - 2][to] < 0 && (*c.followUp)[piece - 2][to] < 0 &&
           (*c.counter)[piece - 2][to] < 0;
}

inline void historyBonus(int16_t& e, int b) { e = (int16_t)(e + b - e * b / 8192); }
inline void historyMalus(int16_t& e, int b) { e = (int16_t)(e - (b + e * b / 8192)); }

// Bonus (or malus) b to the history and the continuation histories of a
// quiet move of `piece` to `to`.
void adjustHistories(Histories& h, const Continuation& c, int piece, int to, int b, bool bonus);

// ---------------------------------------------------------------------------
// Staged move picker
// ---------------------------------------------------------------------------
// The stages, in the order the picker goes through them.  A node in check
// goes from GENERATE_CAPTURES to EVASIONS, which hands out every move there
// is, best first.
enum class PickStage : uint8_t {
    HASH_MOVE,
    GENERATE_CAPTURES,
    GOOD_CAPTURES,
    KILLER1,
    KILLER2,
    COUNTER_MOVE,
    BAD_CAPTURES,  // captures that lose material, tried after the quiet moves the search remembers
    GENERATE_QUIETS,
    QUIETS,
    EVASIONS,
    DONE
};

// Room for the history scores of a node's quiet moves: more pseudo-legal
// quiet moves than this never occur in a reachable position, and a longer
// list is simply scored afresh at every pick.
constexpr int QUIET_SCORE_CAPACITY = 256;

inline void selectBest(Move* from, Move* end) {
    Move* best = from;
    for (Move* m = from + 1; m < end; m++)
        if (m->score > best->score) best = m;
    std::swap(*best, *from);
}

// Hands the moves of one node out best first, stage by stage; outside check
// they are pseudo-legal, so the caller tests legality.  The moves go into the
// node's space of the thread's move buffer: the hash move into its first
// slot, the captures from there on (overwriting it), then up to three slots
// for the killers and the counter move, then the quiet moves.  Behind what
// the picker has written so far (freeSpace) a child node may put its own.
class MovePicker {
  public:
    // `hashMove` is a move word already found playable (or 0); `ss` is the
    // node's stack entry, whose killers and previous moves the picker reads.
    MovePicker(Position* pos, const Histories& histories, const SearchPly* ss, int ply, uint32_t hashMove,
               PickStage first)
        : pos_(pos), histories_(histories), ss_(ss), ply_(ply), stage_(first), hashMove_(hashMove),
          start_(ss->moveList), current_(ss->moveList), end_(ss->moveList), captureEnd_(ss->moveList),
          quietStart_(ss->moveList), free_(ss->moveList + 1) {
        cont = continuationBlocks(histories, ss, ply);
    }

    // The next move, or nullptr when none is left; *stage receives the stage
    // that delivered it.
    Move* next(PickStage* stage);

    // Where a child node may write its moves.
    Move* freeSpace() const { return free_; }
    uint32_t hashMove() const { return hashMove_; }
    // The killers and counter move already handed out, and the quiet moves
    // handed out before the last one (the move of a cut-off at `stage`).
    const Move* triedRemembered(PickStage stage) const {
        return stage < PickStage::COUNTER_MOVE ? current_ : quietStart_;
    }
    const Move* rememberedStart() const { return captureEnd_; }
    const Move* quietStart() const { return quietStart_; }
    const Move* quietCurrent() const { return current_; }
    const Move* listEnd() const { return end_; }

    Continuation cont;
    bool sortOff = false;  // root of every fourth helper: generation order
    bool lmpSkip = false;  // late-move pruning has begun: quiets unsorted, only checks handed out
    // The quiet moves' history scores, kept in step with the quiet list
    // (entry i belongs to quietStart_[i]); valid while no history has been
    // written since they were taken.  Without a buffer the picker scores the
    // moves afresh at every pick.
    int32_t* quietScores = nullptr;

  private:
    void selectBestQuiet();

    Position* pos_;
    const Histories& histories_;
    const SearchPly* ss_;
    int ply_;
    PickStage stage_;
    uint32_t hashMove_;
    uint32_t counterMove_ = 0;
    Move* start_;       // the node's first slot
    Move* current_;     // the next move of the current list
    Move* end_;         // the end of the captures, evasions or quiet moves
    Move* captureEnd_;  // the end of the captures (where the killers go)
    Move* quietStart_;  // the first quiet move (behind the killers)
    Move* free_;
    bool quietScoresValid_ = false;
    uint32_t quietScoresWrites_ = 0;
};

// Brings the quiet move with the highest history score (the first of equals)
// to the front of the rest.  The histories change only when a search below
// writes them; near the leaves the moves lead to the quiescence search, which
// writes none, so the scores taken at one pick mostly hold for the next and
// are kept beside the moves instead of being read again.
inline void MovePicker::selectBestQuiet() {
    Move* const current = current_;
    const long count = end_ - quietStart_;
    if (!quietScores || count > QUIET_SCORE_CAPACITY) {
        Move* best = current;
        int bestScore = quietScore(histories_, cont, pos_->board[best->from], best->to);
        for (Move* m = best + 1; m < end_; m++) {
            int s = quietScore(histories_, cont, pos_->board[m->from], m->to);
            if (s > bestScore) {
                bestScore = s;
                best = m;
            }
        }
        std::swap(*best, *current);
        return;
    }
    static_assert(QUIET_SCORE_CAPACITY <= 256, "a place in the list must fit in a byte");
    // A kept score holds the history score times 256 plus 255 less the move's
    // place in the list, so that the largest kept score is the best move and,
    // of equals, the first: a maximum without branches finds it.
    const long first = current - quietStart_;
    int32_t* const score = quietScores;
    if (!quietScoresValid_ || quietScoresWrites_ != histories_.writes) {
        for (long i = first; i < count; i++) {
            const Move m = quietStart_[i];
            score[i] = quietScore(histories_, cont, pos_->board[m.from], m.to) * 256 + (int32_t)(255 - i);
        }
        quietScoresValid_ = true;
        quietScoresWrites_ = histories_.writes;
    }
    int32_t top = score[first];
    for (long i = first + 1; i < count; i++) top = std::max(top, score[i]);
    const long best = 255 - (top & 255);
    std::swap(quietStart_[best], *current);
    score[best] = (score[first] & ~255) | (int32_t)(255 - best);
    score[first] = (top & ~255) | (int32_t)(255 - first);
}

// A losing capture, marked in its score byte in the good-capture stage and
// handed out again in the bad-capture stage.
constexpr uint8_t LOSING_CAPTURE = 255;
// The slots behind the captures kept for the killers and the counter move.
constexpr int REMEMBERED_SLOTS = 3;

inline Move* MovePicker::next(PickStage* stage) {
    for (;;) {
        switch (stage_) {
        case PickStage::HASH_MOVE: {
            stage_ = PickStage::GENERATE_CAPTURES;
            // The hash move is written where the captures will go; the
            // generator overwrites it later, which does no harm.
            Move* slot = start_;
            *slot = moveFromWord(hashMove_);
            *stage = PickStage::HASH_MOVE;
            return slot;
        }
        case PickStage::GENERATE_CAPTURES:
            end_ = generateMovesCaptures(pos_, start_);
            current_ = start_;
            if (pos_->inCheck) {  // the evasions are the whole list
                free_ = end_;
                stage_ = PickStage::EVASIONS;
                break;
            }
            captureEnd_ = end_;
            free_ = captureEnd_ + REMEMBERED_SLOTS;
            stage_ = PickStage::GOOD_CAPTURES;
            break;
        case PickStage::GOOD_CAPTURES:
            while (current_ < captureEnd_) {
                if (!sortOff) selectBest(current_, captureEnd_);
                Move* m = current_++;
                if (hashMove_ && sameMove(moveToWord(*m), hashMove_)) continue;
                if (exchangeAtLeast(pos_, *m, 0)) {
                    *stage = PickStage::GOOD_CAPTURES;
                    return m;
                }
                m->score = LOSING_CAPTURE;  // tried after the killers
            }
            current_ = captureEnd_;
            stage_ = PickStage::KILLER1;
            break;
        case PickStage::KILLER1:
        case PickStage::KILLER2:
        case PickStage::COUNTER_MOVE: {
            const PickStage s = stage_;
            uint32_t candidate;
            if (s == PickStage::KILLER1) {
                candidate = ss_->killerMove[0];
                stage_ = PickStage::KILLER2;
            } else if (s == PickStage::KILLER2) {
                candidate = ss_->killerMove[1];
                stage_ = PickStage::COUNTER_MOVE;
            } else {
                counterMove_ = counterMoveOf(histories_, ss_, ply_);
                candidate = counterMove_;
                if (candidate && (sameMove(candidate, ss_->killerMove[0]) || sameMove(candidate, ss_->killerMove[1])))
                    candidate = 0;
                stage_ = PickStage::BAD_CAPTURES;
                quietStart_ = current_;
            }
            if (!candidate || (hashMove_ && sameMove(candidate, hashMove_)) ||
                !moveIsPseudoLegal(pos_, candidate, true)) {
                if (s == PickStage::COUNTER_MOVE) current_ = start_;
                break;
            }
            Move* slot = current_++;
            *slot = moveFromWord(candidate);
            if (s == PickStage::COUNTER_MOVE) {
                // The losing captures are next, from the start of the list.
                quietStart_ = current_;
                current_ = start_;
            }
            *stage = s;
            return slot;
        }
        case PickStage::BAD_CAPTURES:
            while (current_ < captureEnd_) {
                Move* m = current_++;
                if (m->score == LOSING_CAPTURE) {
                    *stage = PickStage::BAD_CAPTURES;
                    return m;
                }
            }
            stage_ = PickStage::GENERATE_QUIETS;
            break;
        case PickStage::GENERATE_QUIETS: {
            Move* end = generateMovesQuiets(pos_, quietStart_);
            // Drop the moves tried already (hash move, killers, counter move).
            // Most quiet moves go to none of their target squares, which
            // settles them with one test.
            const uint32_t tried[4] = {hashMove_, ss_->killerMove[0], ss_->killerMove[1], counterMove_};
            uint64_t triedTargets = 0;
            for (const uint32_t w : tried)
                if (w) triedTargets |= bit(moveWordTo(w));
            for (Move* m = quietStart_; m < end;) {
                const uint32_t w = moveToWord(*m);
                bool seen = false;
                if (triedTargets & bit(m->to))
                    for (const uint32_t t : tried) seen = seen || (t && sameMove(w, t));
                if (seen)
                    *m = *--end;
                else
                    m++;
            }
            end_ = end;
            free_ = end;
            current_ = quietStart_;
            stage_ = PickStage::QUIETS;
            quietScoresValid_ = false;
            break;
        }
        case PickStage::QUIETS: {
            // Once late-move pruning has begun, the node searches no quiet
            // move but a check; the others are passed over here.
            if (lmpSkip)
                while (current_ < end_ && !moveGivesCheck(pos_, *current_)) current_++;
            if (current_ >= end_) {
                stage_ = PickStage::DONE;
                return nullptr;
            }
            if (!lmpSkip && !sortOff) selectBestQuiet();
            *stage = PickStage::QUIETS;
            return current_++;
        }
        case PickStage::EVASIONS:
            while (current_ < end_) {
                selectBest(current_, end_);
                Move* m = current_++;
                if (hashMove_ && sameMove(moveToWord(*m), hashMove_)) continue;
                *stage = PickStage::EVASIONS;
                return m;
            }
            stage_ = PickStage::DONE;
            return nullptr;
        case PickStage::DONE: return nullptr;
        }
    }
}

// Killers, counter move and histories after a quiet move caused a cut-off
// (handed out by `picker` at `stage`).
inline void updateQuietCutoff(const Position* pos, Histories& h, SearchPly* ss, int ply, int depth, Move m,
                              PickStage stage, const MovePicker& picker) {
    const Continuation& c = picker.cont;
    const int piece = pos->board[m.from];
    const uint32_t word = makeMoveWord(m, piece);
    if (depth <= 18) {
        const int b = std::min(depth * depth, 324) * 32;
        adjustHistories(h, c, piece, m.to, b, true);
        if (ply >= 1) {
            const uint32_t prev = ss[-1].currentMove;
            if (prev) h.counterMoves[moveWordPiece(prev) - 2][moveWordTo(prev)] = word;
        }
        const uint32_t hashMove = picker.hashMove();
        if (hashMove && !sameMove(hashMove, word)) {
            const int to = moveWordTo(hashMove);
            if (pos->board[to] == EMPTY) adjustHistories(h, c, moveWordPiece(hashMove), to, b, false);
        }
        if (stage != PickStage::HASH_MOVE) {
            // Every remembered and quiet move tried before this one failed.
            const Move* killerEnd = picker.triedRemembered(stage);
            for (const Move* k = picker.rememberedStart(); k < killerEnd; k++) {
                if (sameMove(moveToWord(*k), word)) continue;
                adjustHistories(h, c, pos->board[k->from], k->to, b, false);
            }
            if (stage == PickStage::QUIETS)
                for (const Move* q = picker.quietStart(); q < picker.quietCurrent() - 1; q++)
                    adjustHistories(h, c, pos->board[q->from], q->to, b, false);
        }
    }
    if (!sameMove(ss->killerMove[0], word)) {
        ss->killerMove[1] = ss->killerMove[0];
        ss->killerMove[0] = word;
    }
}
