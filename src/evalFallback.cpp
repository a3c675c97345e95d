// Placeholder evaluation until the real one is merged: material and
// piece-square sums, tapered.
#include "eval.h"
int evaluateN(int, positionStruct* pos) {
    int32_t t = pos->materialScore[0] - pos->materialScore[1] + pos->pieceSquareSum[0] - pos->pieceSquareSum[1];
    int p = pos->gamePhase < 499 ? 499 : (pos->gamePhase > 6232 ? 6232 : pos->gamePhase);
    int v = (egOf(t) * (6232 - p) + mgOf(t) * (p - 499)) / 5733 + 10;
    return pos->sideToMove == WHITE ? v : -v;
}
