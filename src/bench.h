// The benchmark: a fixed-depth search of built-in positions with one thread
// and a 16 MB table.  Its node count is the engine's signature, the same in
// every run and every build: a change that alters the search changes it.
#pragma once

#include <sstream>

// "bench [depth]": one line per position, then "Bench: N nodes M nps".  Stops
// a running search first; the game position and the options are not
// touched (the transposition table is made again at the size of Hash).
void benchCommand(std::istringstream& is);
