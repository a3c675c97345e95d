// Helpers shared by the unit tests.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "position.h"

// A position set up from a FEN, with its own move buffer; the evaluation
// caches are shared by all test positions (the tests run on one thread).
class TestPosition {
  public:
    explicit TestPosition(const std::string& fen);
    Position* get() { return pos_.get(); }
    Position* operator->() { return pos_.get(); }

  private:
    std::unique_ptr<Position> pos_;
    std::unique_ptr<Move[]> moves_;
};

// Legal moves of the root position as move texts.
std::vector<std::string> legalMoves(Position* pos);
// Number of legal root moves whose text starts with `prefix`.
int countMoves(Position* pos, const std::string& prefix);
// The legal root move with this text (an empty move when there is none).
Move findMove(Position* pos, const std::string& text);

// The position as a FEN with the castling and en-passant state of `ply`.
std::string toFen(const Position* pos, int ply);
// The positions of the perft regression file: positions whose every move
// another engine has counted.
std::vector<std::string> perftFileFens();
