// The command handlers of the protocol.  The command loop (commands.h) calls
// them one line at a time; this file owns the game position, the game's
// clock state and the option values.
#pragma once

#include <sstream>
#include <string>

#include "options.h"
#include "position.h"

// Start-up: the engine's tables, the start position, the transposition table
// and the search threads, as the options say.  Shut-down waits for a running
// search to print its move, then ends the threads and frees the table.
void engineStartup();
void engineShutdown();
// Fill the tables computed at start-up (the slider lookup; every other table
// is worked out at compile time).
void initEngineTables();
const EngineOptions& engineOptions();

void uciPosition(std::istringstream& is);
// "go" that arrived as input line number `arrival` (input.h).
void uciGo(std::istringstream& is, uint64_t arrival);
// "stop", and "quit" before the pool is emptied: a running search ends and
// prints its "bestmove" (a held ponder or infinite answer included), and so
// does every search asked for before it that has not started yet.
void uciStop(uint64_t arrival);
// "ponderhit": acts on a ponder search only.
void uciPonderhit();
// "isready": "readyok" once the engine is ready; after a "stop", once the
// stopped search has printed its "bestmove".
void uciIsReady();
void uciNewGame();
void uciIdentify();
void uciSetOption(std::istringstream& is);
void uciPerft(std::istringstream& is);
void uciShowBoard();
void uciHelp();
// Evaluate the game position: silently, or with a table of the terms.
void uciSilentEval();
void uciEval();

// A game as the GUI set it up: the position now, and the keys of the
// positions that led to it (for the repetition rule).  The command loop owns
// the game; a search gets a copy of both.
struct GameRecord {
    Position position;
    KeyHistory keys;
};

// Make a move of the game given as text ("e2e4", "e7e8q"): false, with
// nothing changed, when it is no legal move.  The game's key history is
// kept within bounds; `dropped` (when given) counts the keys dropped.
bool makeGameMoveText(GameRecord* game, const std::string& text, int* dropped);

// Stop a running search (its "bestmove" is printed) and wait for its end.
void stopSearchAndWait();
// Wait for a running search to end by itself; an infinite or pondering one,
// which would not, is stopped first.
void waitForSearchEnd();
