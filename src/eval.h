// Evaluation weights and the static evaluation.
#pragma once

#include <string>

#include "tarnwick.h"

extern const int32_t EVALPAWNISOLATED[8];
extern const int32_t EVALPAWNDOUBLED[8];
extern const int32_t EVALPAWNBACKHALF[8];
extern const int32_t EVALPAWNCONNECTED[8];
extern const int32_t EVALPAWNNEIGHBOUR[8];
extern const int32_t EVALPAWNPASSED[64];
extern const int32_t EVALPAWNPASSEDDISTOWN[8];
extern const int32_t EVALPAWNPASSEDDISTOTHER[8];
extern const int32_t EVALPAWNPASSEDCANDIDATE[2][8];
extern const int32_t EVALPAWNSHIELD[64];
extern const int32_t EVALPAWNSTORM[4][8][8];
extern const int32_t EVALOUTPOSTKNIGHT[2];
extern const int32_t EVALOUTPOSTBISHOP[2];
extern const int32_t EVALROOKONOPEN[2];
extern const int32_t EVALSPACE2[20];
extern const int32_t EVALMOBILITYKNIGHT[12];
extern const int32_t EVALMOBILITYBISHOP[16];
extern const int32_t EVALMOBILITYROOK[16];
extern const int32_t EVALMOBILITYQUEEN[28];
extern const U64 outpostMask[2];
extern const U64 kingSideFiles[8];
extern const U64 RANK1TO5BB[2];

// The terms of one evaluation, recorded by the same code that evaluateN runs.
// Packed scores; per-colour entries are from that colour's own view (White's
// are added, Black's subtracted), the others from White's view.
struct evalTrace {
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
int evaluateN(int, positionStruct* pos);
// The same without the evaluation cache (the pawn hash is still used).
int evaluateUncached(positionStruct* pos);
// The same with every term recorded; touches neither cache.
int evaluateTraced(positionStruct* pos, evalTrace* trace);
// The "eval" command's text: a table of the terms and the final line.
std::string evaluationReport(positionStruct* pos);
