// The engine's use of the endgame tablebases: the root move from the
// distance-to-zero tables and the win/draw/loss probe of the node search.
#pragma once

#include <cstdint>
#include <string>

#include "position.h"
#include "tablebase/tbcore.h"
#include "tablebase/tbprobe.h"

// Largest number of men of any table found (0: no tables).  Written only by
// setTablebasePath, which must not run during a search.
using tb::largestMen;

// The prober's record of the position.
void toProbeBoard(const Position* pos, tb::Board* out);

// The longest line of best play the root probe gives.
constexpr int ROOT_LINE_LENGTH = 100;

// Root probe of the main search thread.  When the tables decide the root,
// the move to play at once and the tables' line of best play after it go to
// `line` (room for ROOT_LINE_LENGTH moves), their one "info" line is
// printed, and the number of moves in the line is returned; 0 when the
// tables cannot decide (then search normally).  Not safe for concurrent use.
int probeRootTablebase(const Position* pos, Move* line);

// Node probe, safe in every search thread: the win/draw/loss value (-2..2)
// of the position; *success is 0 when it could not be read.
int probeTablebaseWdl(const Position* pos, int* success);

// SyzygyPath: directories separated by ':'; "" or "<empty>" means no tables.
// Must not run while a search runs.
void setTablebasePath(const std::string& path);
// When a table file read since the tables were set up has changed on disk
// (rewritten, truncated, replaced), set them up again from `path` and say
// true; a file truncated in place could no longer be read where it is
// mapped.  Must not run while a search runs.
bool reloadChangedTablebases(const std::string& path);
