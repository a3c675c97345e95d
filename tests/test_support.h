// Helpers shared by the unit tests.
#pragma once

#include <string>
#include <vector>

#include "eval.h"
#include "position.h"
#include "uci.h"

// A game set up from a FEN: its position and key history.
class TestPosition {
  public:
    explicit TestPosition(const std::string& fen);
    Position* get() { return &game_.position; }
    Position* operator->() { return &game_.position; }
    GameRecord* game() { return &game_; }

  private:
    GameRecord game_;
};

// The evaluation caches of the tests (they run on one thread).
const EvalCaches& testCaches();

// Legal moves of the position as move texts.
std::vector<std::string> legalMoves(const Position* pos);
// Number of legal moves whose text starts with `prefix`.
int countMoves(const Position* pos, const std::string& prefix);
// The legal move with this text (an empty move when there is none).
Move findMove(const Position* pos, const std::string& text);

// The position as a FEN (with counters "0 1").
std::string toFen(const Position* pos);
// The positions of the perft regression file: positions whose every move
// another engine has counted.
std::vector<std::string> perftFileFens();
