// Move generation: captures (with their ordering scores), quiet moves, check
// evasions, the legal list, and the counting of legal moves for perft.
// Outside check the generators are pseudo-legal; only pinned men, king moves
// and en passant need the legality test when a move is tried.
#pragma once

#include <cstdint>

#include "position.h"

void generateMovesCaptures(unsigned char ply, Move* list, Position* pos);
void generateMovesQuiets(unsigned char ply, Move* list, Position* pos);
void generateMovesEvade(unsigned char ply, Move* list, Position* pos);
void generateMovesLegal(unsigned char ply, Move* list, Position* pos);
// The captures the quiescence search tries, for a side not in check: those of
// generateMovesCaptures, with queen promotions only (quiet ones included).
// Reads the ply's not-pinned mask, which the caller has set.
Move* generateQuiescenceCaptures(unsigned char ply, Move* list, const Position* pos);
// Captures of the man on `target` by the side to move (queen promotions only).
Move* generateRecaptures(unsigned char ply, int target, Move* list, const Position* pos);
// Drop the illegal moves of a pseudo-legal list of a side not in check; the
// new end of the list.
Move* keepLegalMoves(const Position* pos, int ply, Move* start, Move* end);
// Is the move (from, to and type) one of the legal moves of the position at
// this ply?  Generates them into the ply's list; the lists of deeper plies
// follow it, so a line being searched below is not disturbed.
bool isLegalMoveAt(Position* pos, int ply, Move m);
uint64_t computeNotPinnedMask(const Position* pos, int side);
// The number of legal moves of the side to move, for perft's last ply.  Out
// of check the capture and quiet generators run as for the search but count
// their moves instead of writing them; in check the evasions are written
// and counted.  Sets the ply's inCheck flag and not-pinned mask.
int countLegalMoves(unsigned char ply, Position* pos);

