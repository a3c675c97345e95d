// The command handlers of the front end.
#pragma once

#include <sstream>
#include <string>

#include "tarnwick.h"

// Write one whole line to standard output and flush it.
void printLine(const std::string& line);

void uciPosition(std::istringstream& is);
void uciPerft(std::istringstream& is, int& perftDepth);
void uciShowBoard();
void uciHelp();
// Evaluate the game position: silently, or with a table of the terms.
void uciEvil();
void uciEval();

// The perft regression check (perft.cpp).
void perftCheck();
extern const std::string perftFilename;

// Make a move of the game: validated by the caller, made at ply 0 with the
// game's key history kept within bounds.
bool makeGameMoveText(positionStruct* pos, const std::string& text, int* dropped);
