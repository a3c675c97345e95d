// The engine's use of the endgame tablebases: the root move from the
// distance-to-zero tables and the win/draw/loss probe of the node search.
#pragma once

#include <cstdint>
#include <string>

#include "tablebase/tbcore.h"
#include "tablebase/tbprobe.h"
#include "position.h"

// Largest number of men of any table found (0: no tables).  Written only by
// setTablebasePath, which must not run during a search.
using tb::largestMen;

// The prober's record of the position at a ply.
void toProbeBoard(const Position* pos, int ply, tb::Board* out);

// Root probe of the main search thread.  When the tables decide the root,
// the move to play at once and the tables' line of best play after it are
// left in the ply entries' pvMove (pvLastIndex its last ply), their one
// "info" line is printed, and the number of moves in the line is returned;
// 0 when the tables cannot decide (then search normally).  The position
// needs its move buffer linked (moves are checked against the legal ones).
// Not safe for concurrent use.
int probeRootTablebase(Position* pos);

// Node probe, safe in every search thread: the win/draw/loss value (-2..2)
// of the position at `ply`; *success is 0 when it could not be read.
int probeTablebaseWdl(Position* pos, int ply, int* success);

// SyzygyPath: directories separated by ':'; "" or "<empty>" means no tables.
// Must not run while a search runs.
void setTablebasePath(const std::string& path);
// When a table file read since the tables were set up has changed on disk
// (rewritten, truncated, replaced), set them up again from `path` and say
// true; a file truncated in place could no longer be read where it is
// mapped.  Must not run while a search runs.
bool reloadChangedTablebases(const std::string& path);
