// Evaluation weights and the static evaluation.
#pragma once

#include <string>

#include "tarnwick.h"

extern const int32_t PAWN_ISOLATED[8];
extern const int32_t PAWN_DOUBLED[8];
extern const int32_t PAWN_BACKWARD[8];
extern const int32_t PAWN_CONNECTED[8];
extern const int32_t PAWN_NEIGHBOUR[8];
extern const int32_t PAWN_PASSED[64];
extern const int32_t PASSED_OWN_KING_DISTANCE[8];
extern const int32_t PASSED_ENEMY_KING_DISTANCE[8];
extern const int32_t PAWN_CANDIDATE[2][8];
extern const int32_t PAWN_SHIELD[64];
extern const int32_t PAWN_STORM[4][8][8];
extern const int32_t OUTPOST_KNIGHT[2];
extern const int32_t OUTPOST_BISHOP[2];
extern const int32_t ROOK_OPEN_FILE[2];
extern const int32_t SPACE[20];
extern const int32_t MOBILITY_KNIGHT[12];
extern const int32_t MOBILITY_BISHOP[16];
extern const int32_t MOBILITY_ROOK[16];
extern const int32_t MOBILITY_QUEEN[28];
extern const uint64_t OUTPOST_RANKS[2];
extern const uint64_t KING_FLANK_FILES[8];
extern const uint64_t RANKS_1_TO_5[2];

// The terms of one evaluation, recorded by the same code that evaluateN runs.
// Packed scores; per-colour entries are from that colour's own view (White's
// are added, Black's subtracted), the others from White's view.
struct EvalTrace {
    int32_t material[2];
    int32_t pieceSquare[2];
    int32_t pawns[2];       // pawn structure and pawn storm
    int32_t shelter[2];     // pawns in front of the own king
    int32_t pieces[2];      // pins, outposts, open files, seventh rank, ...
    int32_t mobility[2];
    int32_t threats[2];     // pushes, space, threats against own men
    int32_t kingDanger[2];  // the (negative) king-danger penalty
    int kingDangerValue[2]; // kd before squaring; 0 when not computed
    bool kingDangerComputed[2];
    int32_t bishopPair[2];
    int32_t total;          // T: everything before tempo and complexity
    int complexity;         // C
    int complexityEg;       // what C did to the end-game half
    int32_t tempo;
    int gamePhase;          // the position's phase sum
    int phase;              // the same clamped to the blend's range
    int mg, eg;             // final halves that are blended
    int score;              // White's view
};

// Static evaluation from the side to move's point of view (the first argument
// is not used).  Uses and fills the position's evaluation cache and pawn hash.
int evaluate(int, Position* pos);
// The same without the evaluation cache (the pawn hash is still used).
int evaluateUncached(Position* pos);
// The same with every term recorded; touches neither cache.
int evaluateTraced(Position* pos, EvalTrace* trace);
// The "eval" command's text: a table of the terms and the final line.
std::string evaluationReport(Position* pos);
