// The static evaluation: a tapered blend of middle-game and end-game terms
// (material and piece-square sums kept by make/unmake, pawn structure through
// a pawn hash, pieces, mobility, threats, space and king danger), its
// per-thread caches, and the term-by-term report of the "eval" command.
#pragma once

#include <cstdint>
#include <string>

#include "position.h"

// ---------------------------------------------------------------------------
// Caches (each thread owns its own; the position points at them)
// ---------------------------------------------------------------------------
struct PawnHashEntry {
    uint64_t key;
    uint64_t passedPawns;
    int32_t score;
};
// An evaluation cache entry is one word: the position's key above bit 15
// and, in bits 0-15, its score from White's side.  With 65536 entries the
// entry's index is the key's low 16 bits, so the whole key is still checked;
// they take 512 KB, and measured faster than 16384 or 32768 of them.
struct EvalCacheEntry {
    uint64_t word;
};
// 16384 pawn entries (384 KB) keep nearly every hit that 65536 did in the
// bench's searches and leave the core's own cache to the rest.
constexpr int PAWN_HASH_ENTRIES = 16384;
constexpr int EVAL_CACHE_ENTRIES = 65536;

// The terms of one evaluation, recorded by the same code that evaluate runs.
// Packed scores; per-colour entries are from that colour's own view (White's
// are added, Black's subtracted), the others from White's view.
struct EvalTrace {
    int32_t material[2];
    int32_t pieceSquare[2];
    int32_t pawns[2];    // pawn structure and pawn storm
    int32_t shelter[2];  // pawns in front of the own king
    int32_t pieces[2];   // pins, outposts, open files, seventh rank, ...
    int32_t mobility[2];
    int32_t threats[2];      // pushes, space, threats against own men
    int32_t kingDanger[2];   // the (negative) king-danger penalty
    int kingDangerValue[2];  // kd before squaring; 0 when not computed
    bool kingDangerComputed[2];
    int32_t bishopPair[2];
    int32_t total;     // T: everything before tempo and complexity
    int complexity;    // C
    int complexityEg;  // what C did to the end-game half
    int32_t tempo;
    int gamePhase;  // the position's phase sum
    int phase;      // the same clamped to the blend's range
    int mg, eg;     // final halves that are blended
    int score;      // White's view
};

// The caches of the evaluation; each search thread owns its own, and the
// command loop and the tuner have theirs.
struct EvalCaches {
    PawnHashEntry* pawnHash;  // PAWN_HASH_ENTRIES entries
    EvalCacheEntry* scores;   // EVAL_CACHE_ENTRIES entries
};

// Static evaluation from the side to move's point of view.  Uses and fills
// the evaluation cache and the pawn hash.
int evaluate(const Position* pos, const EvalCaches& caches);
// The same without the evaluation cache (the pawn hash is still used).
int evaluateUncached(const Position* pos, const EvalCaches& caches);
// The same with every term recorded; touches neither cache.
int evaluateTraced(Position* pos, EvalTrace* trace);
// The "eval" command's text: a table of the terms and the final line.
std::string evaluationReport(Position* pos);
