// Move ordering: the histories (from-to history, continuation histories,
// killers and counter moves), and the staged move picker that hands a node
// its moves best first: the hash move, good captures, killers, the counter
// move, losing captures, then the quiet moves by history.  The picker runs at
// every node of the search, so it is defined here, inline.
#pragma once

#include <algorithm>
#include <cstdint>
#include <utility>

#include "movegen.h"
#include "position.h"

// The continuation-history blocks of a node: keyed by the previous move and
// by the move two plies back (absent after a null move or near the root).
struct Continuation {
    ContinuationBlock* counter = nullptr;
    ContinuationBlock* followUp = nullptr;
};

// Room for the history scores of a node's quiet moves: more pseudo-legal
// quiet moves than this never occur in a reachable position, and a longer
// list is simply scored afresh at every pick.
constexpr int QUIET_SCORE_CAPACITY = 256;

struct PickerContext {
    Continuation cont;
    bool sortOff = false;  // root of every fourth helper: generation order
    bool lmpSkip = false;  // late-move pruning has begun: quiets unsorted, only checks handed out
    // The quiet moves' history scores, kept in step with the quiet list
    // (entry i belongs to quietListStart[i]); valid while no history has been
    // written since they were taken.  Without a buffer the picker scores the
    // moves afresh at every pick.
    int32_t* quietScores = nullptr;
    bool quietScoresValid = false;
    uint32_t quietScoresWrites = 0;
};

// The continuation-history blocks of a node: keyed by the previous move and
// by the move two plies back (absent after a null move or near the root).
inline Continuation continuationBlocks(Position* pos, int ply) {
    Continuation c;
    if (ply >= 1) {
        uint32_t prev = pos->plyStack[ply - 1].currentMove;
        if (prev) c.counter = &(*pos->counterMoveHistory)[(prev >> 24) - 2][(prev >> 8) & 63];
    }
    if (ply >= 2) {
        uint32_t prev2 = pos->plyStack[ply - 2].currentMove;
        if (prev2) c.followUp = &(*pos->followUpHistory)[(prev2 >> 24) - 2][(prev2 >> 8) & 63];
    }
    return c;
}

inline int quietScore(const Position* pos, const Continuation& c, int piece, int to) {
    int s = pos->history[piece - 2][to];
    if (c.followUp) s += (*c.followUp)[piece - 2][to];
    if (c.counter) s += (*c.counter)[piece - 2][to];
    return s;
}

inline bool allHistoriesNegative(const Position* pos, const Continuation& c, int piece, int to) {
    return c.followUp && c.counter && pos->history[piece - 2][to] < 0 && (*c.followUp)[piece - 2][to] < 0 &&
           (*c.counter)[piece - 2][to] < 0;
}

inline void historyBonus(int16_t& e, int b) { e = (int16_t)(e + b - e * b / 8192); }
inline void historyMalus(int16_t& e, int b) { e = (int16_t)(e - (b + e * b / 8192)); }

// Bonus (or malus) b to the history and the continuation histories of a
// quiet move of `piece` to `to`.
void adjustHistories(Position* pos, const Continuation& c, int piece, int to, int b, bool bonus);

// ---------------------------------------------------------------------------
// Staged move picker
// ---------------------------------------------------------------------------
inline void selectBest(Move* from, Move* end) {
    Move* best = from;
    for (Move* m = from + 1; m < end; m++)
        if (m->score > best->score) best = m;
    std::swap(*best, *from);
}

// Brings the quiet move with the highest history score (the first of equals)
// to the front of the rest.  The histories change only when a search below
// writes them; near the leaves the moves lead to the quiescence search, which
// writes none, so the scores taken at one pick mostly hold for the next and
// are kept beside the moves instead of being read again.
inline void selectBestQuiet(const Position* pos, const PlyEntry& e, PickerContext& pc) {
    Move* const current = e.moveListCurrent;
    const long count = e.moveListEnd - e.quietListStart;
    if (!pc.quietScores || count > QUIET_SCORE_CAPACITY) {
        Move* best = current;
        int bestScore = quietScore(pos, pc.cont, pos->board[best->from], best->to);
        for (Move* m = best + 1; m < e.moveListEnd; m++) {
            int s = quietScore(pos, pc.cont, pos->board[m->from], m->to);
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
    const long first = current - e.quietListStart;
    int32_t* const score = pc.quietScores;
    if (!pc.quietScoresValid || pc.quietScoresWrites != pos->historyWrites) {
        for (long i = first; i < count; i++) {
            const Move m = e.quietListStart[i];
            score[i] = quietScore(pos, pc.cont, pos->board[m.from], m.to) * 256 + (int32_t)(255 - i);
        }
        pc.quietScoresValid = true;
        pc.quietScoresWrites = pos->historyWrites;
    }
    int32_t top = score[first];
    for (long i = first + 1; i < count; i++) top = std::max(top, score[i]);
    const long best = 255 - (top & 255);
    std::swap(e.quietListStart[best], *current);
    score[best] = (score[first] & ~255) | (int32_t)(255 - best);
    score[first] = (top & ~255) | (int32_t)(255 - first);
}

// The staged move picker: the next move of the node (its stage in
// plyStack[ply].moveStage), or nullptr when none is left; *stage receives the
// stage that delivered it.  Moves are pseudo-legal outside check.
inline Move* nextMove(Position* pos, int ply, PickerContext& pc, int* stage) {
    PlyEntry& e = pos->plyStack[ply];
    for (;;) {
        switch (e.moveStage) {
        case STAGE_HASH: {
            e.moveStage = STAGE_GEN_CAPTURES;
            // The hash move is written where the captures will go; the
            // generator overwrites it later, which does no harm.
            Move* slot = e.moveListStart;
            *slot = moveFromWord(e.hashMove);
            *stage = STAGE_HASH;
            return slot;
        }
        case STAGE_GEN_CAPTURES:
            generateMovesCaptures((unsigned char)ply, e.moveListStart, pos);
            e.moveListCurrent = e.moveListStart;
            if (e.moveStage == STAGE_EVASIONS) break;  // in check: the evasions are the whole list
            e.captureListEnd = e.moveListEnd;
            pos->plyStack[ply + 1].moveListStart = e.captureListEnd + 3;
            e.moveStage = STAGE_GOOD_CAPTURES;
            break;
        case STAGE_GOOD_CAPTURES:
            while (e.moveListCurrent < e.captureListEnd) {
                if (!pc.sortOff) selectBest(e.moveListCurrent, e.captureListEnd);
                Move* m = e.moveListCurrent++;
                if (e.hashMove && sameMove(moveToWord(*m), e.hashMove)) continue;
                if (exchangeAtLeast(pos, *m, 0)) {
                    *stage = STAGE_GOOD_CAPTURES;
                    return m;
                }
                m->score = 255;  // a losing capture, tried after the killers
            }
            e.moveListCurrent = e.captureListEnd;
            e.moveStage = STAGE_KILLER1;
            break;
        case STAGE_KILLER1:
        case STAGE_KILLER2:
        case STAGE_COUNTER: {
            const uint8_t s = e.moveStage;
            uint32_t candidate;
            if (s == STAGE_KILLER1) {
                candidate = e.killerMove[0];
            } else if (s == STAGE_KILLER2) {
                candidate = e.killerMove[1];
            } else {
                uint32_t prev = ply >= 1 ? pos->plyStack[ply - 1].currentMove : 0;
                e.counterMoveSlot = prev ? pos->counterMoves[(prev >> 24) - 2][(prev >> 8) & 63] : 0;
                candidate = e.counterMoveSlot;
                if (candidate && (sameMove(candidate, e.killerMove[0]) || sameMove(candidate, e.killerMove[1])))
                    candidate = 0;
            }
            e.moveStage = s == STAGE_COUNTER ? STAGE_BAD_CAPTURES : s + 1;
            if (s == STAGE_COUNTER) e.quietListStart = e.moveListCurrent;
            if (!candidate || (e.hashMove && sameMove(candidate, e.hashMove)) ||
                !moveIsPseudoLegal(pos, ply, candidate, true)) {
                if (s == STAGE_COUNTER) e.moveListCurrent = e.moveListStart;
                break;
            }
            Move* slot = e.moveListCurrent++;
            *slot = moveFromWord(candidate);
            if (s == STAGE_COUNTER) {
                e.quietListStart = e.moveListCurrent;
                e.moveListCurrent = e.moveListStart;
            }
            *stage = s;
            return slot;
        }
        case STAGE_BAD_CAPTURES:
            while (e.moveListCurrent < e.captureListEnd) {
                Move* m = e.moveListCurrent++;
                if (m->score == 255) {
                    *stage = STAGE_BAD_CAPTURES;
                    return m;
                }
            }
            e.moveStage = STAGE_GEN_QUIETS;
            break;
        case STAGE_GEN_QUIETS: {
            generateMovesQuiets((unsigned char)ply, e.quietListStart, pos);
            Move* end = e.moveListEnd;
            // Drop the moves tried already (hash move, killers, counter move).
            // Most quiet moves go to none of their target squares, which
            // settles them with one test.
            uint64_t triedTargets = 0;
            for (const uint32_t w : {e.hashMove, e.killerMove[0], e.killerMove[1], e.counterMoveSlot})
                if (w) triedTargets |= bit((w >> 8) & 63);
            for (Move* m = e.quietListStart; m < end;) {
                const uint32_t w = moveToWord(*m);
                if ((triedTargets & bit(m->to)) &&
                    ((e.hashMove && sameMove(w, e.hashMove)) || (e.killerMove[0] && sameMove(w, e.killerMove[0])) ||
                     (e.killerMove[1] && sameMove(w, e.killerMove[1])) ||
                     (e.counterMoveSlot && sameMove(w, e.counterMoveSlot))))
                    *m = *--end;
                else
                    m++;
            }
            e.moveListEnd = end;
            pos->plyStack[ply + 1].moveListStart = end;
            e.moveListCurrent = e.quietListStart;
            e.moveStage = STAGE_QUIETS;
            pc.quietScoresValid = false;
            break;
        }
        case STAGE_QUIETS: {
            // Once late-move pruning has begun, the node searches no quiet
            // move but a check; the others are passed over here.
            if (pc.lmpSkip)
                while (e.moveListCurrent < e.moveListEnd && !moveGivesCheck(pos, *e.moveListCurrent))
                    e.moveListCurrent++;
            if (e.moveListCurrent >= e.moveListEnd) {
                e.moveStage = STAGE_DONE;
                return nullptr;
            }
            if (!pc.lmpSkip && !pc.sortOff) selectBestQuiet(pos, e, pc);
            *stage = STAGE_QUIETS;
            return e.moveListCurrent++;
        }
        case STAGE_EVASIONS:
            while (e.moveListCurrent < e.moveListEnd) {
                selectBest(e.moveListCurrent, e.moveListEnd);
                Move* m = e.moveListCurrent++;
                if (e.hashMove && sameMove(moveToWord(*m), e.hashMove)) continue;
                *stage = STAGE_EVASIONS;
                return m;
            }
            e.moveStage = STAGE_DONE;
            return nullptr;
        default:
            return nullptr;
        }
    }
}


// Killers, counter move and histories after a quiet move caused a cut-off.
inline void updateQuietCutoff(Position* pos, int ply, int depth, Move m, int stage, const Continuation& c) {
    PlyEntry& e = pos->plyStack[ply];
    const int piece = pos->board[m.from];
    const uint32_t word = makeMoveWord(m, piece);
    if (depth <= 18) {
        const int b = std::min(depth * depth, 324) * 32;
        adjustHistories(pos, c, piece, m.to, b, true);
        if (ply >= 1) {
            uint32_t prev = pos->plyStack[ply - 1].currentMove;
            if (prev) pos->counterMoves[(prev >> 24) - 2][(prev >> 8) & 63] = word;
        }
        if (e.hashMove && !sameMove(e.hashMove, word)) {
            Move h = wordToMove(e.hashMove);
            if (pos->board[h.to] == EMPTY) adjustHistories(pos, c, (int)(e.hashMove >> 24), h.to, b, false);
        }
        if (stage != STAGE_HASH) {
            Move* killerEnd = stage < STAGE_COUNTER ? e.moveListCurrent : e.quietListStart;
            for (Move* k = e.captureListEnd; k < killerEnd; k++) {
                if (sameMove(moveToWord(*k), word)) continue;
                adjustHistories(pos, c, pos->board[k->from], k->to, b, false);
            }
            if (stage == STAGE_QUIETS)
                for (Move* q = e.quietListStart; q < e.moveListCurrent - 1; q++)
                    adjustHistories(pos, c, pos->board[q->from], q->to, b, false);
        }
    }
    if (!sameMove(e.killerMove[0], word)) {
        e.killerMove[1] = e.killerMove[0];
        e.killerMove[0] = word;
    }
}
