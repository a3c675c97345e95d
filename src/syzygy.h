// The engine's use of the endgame tablebases: the root move from the
// distance-to-zero tables and the win/draw/loss probe of the node search.
#pragma once

#include <cstdint>
#include <string>

#include "tablebase/tbcore.h"
#include "tablebase/tbprobe.h"
#include "position.h"

// Largest number of men of any table found (0: no tables).  Written only by
// syzygySetPath, which must not run during a search.
using tb::largestMen;

// The prober's record of the position at a ply.
void toProbeBoard(const Position* pos, int ply, tb::Board* out);

// Root probe of the main search thread: a move word (from | to << 8 |
// moveType << 16 | piece << 24) to play at once, or 0 when the tables cannot
// decide (then search normally).  Prints the one "info" line of the move.
// The position needs its move list at ply
// 0 (the move is checked against the legal moves generated there).  Not safe
// for concurrent use.
uint32_t probeRootTablebase(Position* pos);

// Node probe, safe in every search thread: the win/draw/loss value (-2..2)
// of the position at `ply`; *success is 0 when it could not be read.
int probeTablebaseWdl(Position* pos, int ply, int* success);

// SyzygyPath: directories separated by ':'; "" or "<empty>" means no tables.
// Must not run while a search runs.
void setTablebasePath(const std::string& path);
