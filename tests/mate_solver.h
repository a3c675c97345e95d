// Exhaustive search for forced checkmates with the engine's own move
// generator, to check the mates the search announces.  It knows nothing of
// evaluation, pruning or the transposition table: every legal move of the
// mating side is tried and every legal reply of the defender is answered, so
// its verdict is exact for short mates.  The fifty-move rule and repetitions
// are not considered; within a few moves neither can save a mated side.
//
// Used by bench/matecheck and tests/mate_test.cpp.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "movegen.h"
#include "uci.h"

// Fill the engine's global tables once per program.
inline void initMateSolverTables() {
    static bool done = [] {
        initEngineTables();
        return true;
    }();
    (void)done;
}

// The number of half-moves from the root to the final checkmate that a "score
// mate m" line of the engine stands for: a positive m is the side to move
// mating with its m-th move (2m - 1 plies); a negative m is the side to move
// being mated by the opponent's |m|-th move (2|m| plies), so "mate -1" means
// the opponent mates with its first move whatever the side to move plays.
inline int matePliesOfReport(int m) { return m > 0 ? 2 * m - 1 : -2 * m; }

class MateSolver {
  public:
    // `fen` must have passed validateFen.
    explicit MateSolver(const std::string& fen) : pos_(new Position), moves_(new Move[MOVE_BUFFER_SIZE]) {
        initMateSolverTables();
        listStart_[0] = moves_.get();
        setPosition(fen, pos_.get());
    }

    // Can the side to move force checkmate with at most `moves` of its own
    // moves, whatever the opponent replies?
    bool mateIn(int moves) { return moves >= 1 && attack(0, moves); }

    // Is the side to move lost within `moves` of the opponent's moves: already
    // checkmated, or every legal move allows the opponent to force mate in at
    // most `moves`?  Stalemate is no loss.
    bool matedIn(int moves) { return moves >= 0 && defend(0, moves); }

    // The smallest k <= maxMoves with a forced mate in k, or 0 when none.
    int shortestMate(int maxMoves) {
        for (int k = 1; k <= maxMoves; k++)
            if (mateIn(k)) return k;
        return 0;
    }

    // The smallest k <= maxMoves such that the side to move is mated in k
    // opponent moves (0: checkmated now), or -1 when none.
    int shortestMated(int maxMoves) {
        for (int k = 0; k <= maxMoves; k++)
            if (matedIn(k)) return k;
        return -1;
    }

    // Is a mate announced as "score mate m" real, i.e. the side to move wins
    // (m > 0) or loses (m < 0) at least that fast?
    bool reportHolds(int m) {
        const int plies = matePliesOfReport(m);
        return m > 0 ? mateIn((plies + 1) / 2) : matedIn(plies / 2);
    }

    uint64_t nodes() const { return nodes_; }

  private:
    std::unique_ptr<Position> pos_;
    std::unique_ptr<Move[]> moves_;
    uint64_t nodes_ = 0;
    // The mating move last found at each ply: the same move often mates
    // against most defences, so it is tried first.
    Move killer_[MAX_PLY + 1] = {};
    // Where each ply's moves go in the buffer, and the state each ply's move
    // saves for its unmaking.
    Move* listStart_[MAX_PLY + 2] = {};
    BoardState saved_[MAX_PLY + 1] = {};

    static bool same(Move a, Move b) { return a.from == b.from && a.to == b.to && a.moveType == b.moveType; }

    // Legal moves of the side to move into the ply's slice of the buffer.
    void generate(int ply, Move*& start, Move*& end) {
        Position* pos = pos_.get();
        start = listStart_[ply];
        end = generateMovesLegal(pos, start);
        listStart_[ply + 1] = end;
    }

    bool hasLegalMove(int ply) {
        Move *start, *end;
        generate(ply, start, end);
        return end > start;
    }

    // After the attacker's move: is the defender checkmated?
    bool checkmated(int ply) { return sideInCheck(pos_.get(), pos_->sideToMove) && !hasLegalMove(ply); }

    // The side to move mates within `moves` of its own moves (moves >= 1).
    bool attack(int ply, int moves) {
        Position* pos = pos_.get();
        Move *start, *end;
        generate(ply, start, end);
        nodes_++;
        if (start == end || ply + 2 * moves > MAX_PLY) return false;

        // Order: the killer, then checking moves, then the rest.  Only a check
        // can mate at once, so with one move left the quiet ones are skipped.
        Move* front = start;
        for (Move* m = start; m < end; m++) {
            makeMove(pos, *m, saved_[ply]);
            const bool check = sideInCheck(pos, pos->sideToMove);
            unmakeMove(pos, *m, saved_[ply]);
            if (check) std::swap(*m, *front++);
        }
        if (moves == 1) end = front;
        for (Move* m = start; m < end; m++)
            if (same(*m, killer_[ply])) {
                std::swap(*m, *start);
                break;
            }

        for (Move* m = start; m < end; m++) {
            makeMove(pos, *m, saved_[ply]);
            const bool mates = moves == 1 ? checkmated(ply + 1) : defend(ply + 1, moves - 1);
            unmakeMove(pos, *m, saved_[ply]);
            if (mates) {
                killer_[ply] = *m;
                return true;
            }
        }
        return false;
    }

    // The side to move is checkmated, or every legal move lets the opponent
    // mate within `moves` (moves >= 0).
    bool defend(int ply, int moves) {
        Position* pos = pos_.get();
        Move *start, *end;
        generate(ply, start, end);
        nodes_++;
        if (start == end) return pos->inCheck != 0;
        if (moves == 0) return false;
        for (Move* m = start; m < end; m++) {
            makeMove(pos, *m, saved_[ply]);
            const bool lost = attack(ply + 1, moves);
            unmakeMove(pos, *m, saved_[ply]);
            if (!lost) return false;
        }
        return true;
    }
};
