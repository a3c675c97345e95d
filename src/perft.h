// Perft: the number of leaves of the legal move tree, the move generator's
// proof; and the regression check ("rtest") against a file of positions with
// known counts.
#pragma once

#include <cstdint>

#include "movegen.h"

// Leaves of the tree `depth` plies below the position.
int64_t perft(Position* pos, int depth);
// The perft regression check: counts every record of the regression file and
// prints one line each, then the verdict.
void perftCheck();
