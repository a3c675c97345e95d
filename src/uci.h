// The command handlers of the front end, called by the command loop.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <sstream>
#include <string>

#include "tarnwick.h"

void uciPosition(std::istringstream& is);
void uciPerft(std::istringstream& is, int& perftDepth);
void uciShowBoard();
void uciHelp();
// Evaluate the game position: silently, or with a table of the terms.
void uciSilentEval();
void uciEval();

// Make a move of the game: validated by the caller, made at ply 0 with the
// game's key history kept within bounds.
bool makeGameMoveText(Position* pos, const std::string& text, int* dropped);

// The transposition table at the size of the option Hash (the largest size
// that can be had, with a message, when memory is short).
void allocateConfiguredHashTable(bool prefault);

// Start-up and shut-down of the engine's shared state.
void engineStartup();
void engineShutdown();

// "stop", and "quit" before the pool is emptied: a running search ends and
// prints its "bestmove" (a held ponder or infinite answer included).
void uciStop();
void uciGo(std::istringstream& is);
void uciPonderhit();
void uciNewGame();
void uciIdentify();
void uciSetOption(std::istringstream& is);
void uciRtest();
void uciBench(std::istringstream& is);
// Texel error of the static evaluation over the tuning file.
void uciTexel();

// Soft and hard time budgets of the next search, from the clock fields of
// `eng` (timeLeft, increment, movesToGo, movesPlayed, options) for `side`.
void allocateTime(engineStruct& eng, int side);

// Run one command line of the protocol (a trailing carriage return, as
// Windows GUIs send it, is dropped).  False after "quit".
bool uciExecute(const std::string& line);

// The lines the command loop works through: pushed by whoever reads the
// input (a thread reading standard input, or a host that hands over lines
// one by one), taken by the loop.  While a command waits for a running
// search, the loop keeps answering "isready" and lets "stop" and "quit" act
// on that search; the lines it cannot act on yet are held and run, in their
// order, right after the waiting command.
class CommandInput {
  public:
    // Any thread: one more line.
    void push(std::string line);
    // The loop: the next line to run (held lines first); waits for one.
    std::string next();
    // The loop: a line that arrives within `ms` milliseconds, if any.
    bool poll(std::string& line, int ms);
    // The loop: run this line after the command at hand.
    void hold(std::string line);

  private:
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<std::string> lines_;
    std::deque<std::string> held_;  // the loop's own
};
CommandInput& theCommandInput();

// Stop a running search (its "bestmove" is printed) and wait for its end.
void stopSearchAndWait();
// Wait for a running search to end by itself; an infinite or pondering one,
// which would not, is stopped first.
void waitForSearchEnd();
