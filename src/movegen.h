// Move generation: captures (with their ordering scores), quiet moves, check
// evasions, the legal list, and the counting of legal moves for perft.
// Outside check the generators are pseudo-legal; only pinned men, king moves
// and en passant need the legality test when a move is tried.
#pragma once

#include <cstdint>

#include "position.h"

// Each generator writes its moves from `list` on and returns the end of them.
// The capture generator also sets the position's not-pinned mask, and for a
// side in check (the position's inCheck) writes the evasions instead: all
// the moves there are.
Move* generateMovesCaptures(Position* pos, Move* list);
Move* generateMovesQuiets(const Position* pos, Move* list);
Move* generateMovesEvade(const Position* pos, Move* list);
// Every legal move; sets the check flag and the not-pinned mask first.
Move* generateMovesLegal(Position* pos, Move* list);
// The captures the quiescence search tries, for a side not in check: those of
// generateMovesCaptures, with queen promotions only (quiet ones included).
// Reads the not-pinned mask, which the caller has set.
Move* generateQuiescenceCaptures(const Position* pos, Move* list);
// Captures of the man on `target` by the side to move (queen promotions only).
Move* generateRecaptures(const Position* pos, int target, Move* list);
// Drop the illegal moves of a pseudo-legal list of a side not in check; the
// new end of the list.
Move* keepLegalMoves(const Position* pos, Move* start, Move* end);
// Is the move (from, to and type) one of the legal moves of the position?
bool isLegalMove(const Position* pos, Move m);
uint64_t computeNotPinnedMask(const Position* pos, int side);
// The number of legal moves of the side to move, for perft's last ply.  Out
// of check the capture and quiet generators run as for the search but count
// their moves instead of writing them; in check the evasions are written
// (to `scratch`) and counted.  Sets the check flag and not-pinned mask.
int countLegalMoves(Position* pos, Move* scratch);
