// Evaluation weights and the static evaluation.
#pragma once

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

// Static evaluation from the side to move's point of view.  The position's
// pawn table and evaluation cache must point at tables of the calling thread.
int evaluateN(int, positionStruct* pos);
