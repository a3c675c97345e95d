// Tablebases in the engine: converting positions for the prober, the root
// move from the distance-to-zero tables, and the node search's probe.
#include "syzygy.h"

#include <string>

#include "movegen.h"
#include "util.h"

namespace {

constexpr uint64_t RANKS_1_AND_8 = 0xff000000000000ffULL;

// Moves types of the engine for the prober's promotion codes (queen, rook,
// bishop, knight).
const uint8_t PROMOTION_MOVE_TYPE[5] = {0, MT_PROMO_Q, MT_PROMO_R, MT_PROMO_B, MT_PROMO_N};

// A position the prober can be trusted with: one king each, no man on two
// kinds, colours that match the men, no pawn on the first or last rank, and
// the side not to move not in check.
bool fitForProbe(const tb::Board& p) {
    const uint64_t kinds[6] = {p.kings, p.queens, p.rooks, p.bishops, p.knights, p.pawns};
    uint64_t all = 0;
    for (uint64_t k : kinds) {
        if (all & k) return false;
        all |= k;
    }
    if ((p.white & p.black) || all != (p.white | p.black)) return false;
    if (popcount(p.kings & p.white) != 1 || popcount(p.kings & p.black) != 1) return false;
    if (p.pawns & RANKS_1_AND_8) return false;
    const uint64_t mover = p.turn ? p.white : p.black;
    const uint64_t other = p.turn ? p.black : p.white;
    return !tb::attacked(&p, lsb(p.kings & other), mover, p.turn ? 0 : 1);
}

}  // namespace

// The one place where the engine's position becomes the prober's board: the
// engine's colours (WHITE 0) become the prober's (White true).
void toProbeBoard(const Position* pos, tb::Board* out) {
    const uint64_t* pb = pos->pieceBitboard;
    out->white = pb[0];
    out->black = pb[1];
    out->kings = pb[WKING] | pb[BKING];
    out->queens = pb[WQUEEN] | pb[BQUEEN];
    out->rooks = pb[WROOK] | pb[BROOK];
    out->bishops = pb[WBISHOP] | pb[BBISHOP];
    out->knights = pb[WKNIGHT] | pb[BKNIGHT];
    out->pawns = pb[WPAWN] | pb[BPAWN];
    out->rule50 = (uint8_t)pos->fiftyMoveCounter;
    // The engine keeps the square of the pawn that made the double step; the
    // prober wants the square behind it.
    const int e = pos->enpassantSquare;
    out->ep = (uint8_t)(e == 0 ? 0 : pos->sideToMove == WHITE ? e + 8 : e - 8);
    out->turn = pos->sideToMove != BLACK;
}

namespace {

// What the distance tables say about a position: the move to play (in the
// prober's encoding) and the position's own distance to zeroing.
struct TablebaseChoice {
    uint16_t move = 0;
    int dtz = 0;
};

// The tables' move: the fastest zeroing win, the longest loss, or among
// drawing moves the one the material fixes.  False when they cannot decide:
// a failed probe, no table, or no move to make (mate or stalemate).
bool chooseTablebaseMove(const tb::Board& root, TablebaseChoice* out) {
    int success;
    const int dtz = tb::probeDtz(&root, &success);
    if (!success) return false;

    // Value of every legal move from the mover's view, in generation order.
    uint16_t moves[tb::MAX_MOVES];
    int value[tb::MAX_MOVES];
    bool legal[tb::MAX_MOVES];
    uint16_t* end = tb::generateMoves(&root, moves);
    const int count = (int)(end - moves);
    int drawing = 0;
    for (int i = 0; i < count; i++) {
        tb::Board child;
        legal[i] = tb::doMove(&child, &root, moves[i]);
        if (!legal[i]) continue;
        int v;
        if (dtz > 0 && tb::isMate(&child)) {
            v = 1;
        } else if (child.rule50 == 0) {
            const int wdl = tb::probeWdl(&child, &success);
            if (!success) return false;
            v = tb::WDL_TO_DTZ[2 - wdl];
        } else {
            const int d = tb::probeDtz(&child, &success);
            if (!success) return false;
            v = d < 0 ? 1 - d : d == 0 ? 0 : -d - 1;
        }
        value[i] = v;
        if (v == 0) drawing++;
    }

    int chosen = -1;
    if (dtz > 0) {
        for (int i = 0; i < count; i++)
            if (legal[i] && value[i] > 0 && (chosen < 0 || value[i] < value[chosen])) chosen = i;
    } else if (dtz < 0) {
        for (int i = 0; i < count; i++)
            if (legal[i] && value[i] < 0 && (chosen < 0 || value[i] < value[chosen])) chosen = i;
    } else if (drawing > 0) {
        // Among drawing moves the choice is fixed by the material, so that
        // the same ending is always played the same way.
        const uint64_t key = tb::materialKey(&root, !root.turn);
        int k = (int)(key % (uint64_t)drawing);
        for (int i = 0; i < count && chosen < 0; i++)
            if (legal[i] && value[i] == 0 && k-- == 0) chosen = i;
    }
    if (chosen < 0) return false;
    out->move = moves[chosen];
    out->dtz = dtz;
    return true;
}

// The prober's move as one of the engine's, or false when it is not a legal
// move there.  This is the one place where a move of the tablebase code
// becomes an engine move; nothing else reads the prober's encoding.  The
// prober packs a move into 16 bits by its squares alone (target, origin,
// promotion 1 queen .. 4 knight) and counts White as 1 (Board::turn true);
// the engine's move carries a move type that follows from the board, and its
// en-passant capture names the square of the captured pawn.
bool toEngineMove(const Position* pos, const tb::Board& board, uint16_t tm, Move* out) {
    const int from = tb::moveFrom(tm), to = tb::moveTo(tm), promotion = tb::movePromotion(tm);
    Move m = {(uint8_t)from, (uint8_t)to, MT_NORMAL, 0};
    if (board.pawns & bit(from)) {
        if (board.ep && to == board.ep) {
            m.moveType = MT_ENPASSANT;
            m.to = (uint8_t)(board.turn ? to - 8 : to + 8);
        } else if (to - from == 16 || from - to == 16) {
            m.moveType = MT_DOUBLE;
        } else if (promotion) {
            m.moveType = PROMOTION_MOVE_TYPE[promotion];
        }
    }
    if (!isLegalMove(pos, m)) return false;
    *out = m;
    return true;
}

// The tables' own line of best play after the root move: each side's
// tablebase move in turn, until mate or stalemate, a position the tables do
// not hold (a capture or a promotion into a missing table), a repetition (a
// draw shuffled out), or ROOT_LINE_LENGTH moves.  The moves are made on
// a copy of `pos`; the line goes to `line`.  Returns the number of moves,
// the root move included.
int tablebaseLine(const Position* root, tb::Board board, uint16_t tm, Move m, Move* line) {
    Position pos = *root;
    uint64_t keys[ROOT_LINE_LENGTH + 1];
    keys[0] = pos.hashKey;
    int made = 0;
    for (;;) {
        tb::Board next;
        if (!tb::doMove(&next, &board, tm)) break;
        line[made] = m;
        BoardState saved;
        makeMove(&pos, m, saved);
        made++;
        keys[made] = pos.hashKey;
        board = next;
        if (made >= ROOT_LINE_LENGTH) break;
        // A position seen before on this line, with the same side to move.
        bool repeated = false;
        for (int back = 2; back <= made && !repeated; back += 2) repeated = keys[made - back] == pos.hashKey;
        if (repeated || !fitForProbe(board)) break;
        TablebaseChoice choice;
        if (!chooseTablebaseMove(board, &choice) || !toEngineMove(&pos, board, choice.move, &m)) break;
        tm = choice.move;
    }
    return made;
}

}  // namespace

int probeRootTablebase(const Position* pos, Move* line) {
    // The tables know nothing of castling.
    if (pos->castlingRights) return 0;
    tb::Board root;
    toProbeBoard(pos, &root);
    if (!fitForProbe(root)) return 0;
    TablebaseChoice choice;
    if (!chooseTablebaseMove(root, &choice)) return 0;
    const int dtz = choice.dtz;

    const int c = pos->fiftyMoveCounter;
    int score = 0;
    if (dtz > 0 && dtz + c <= 100) score = MATE_THRESHOLD - dtz;
    if (dtz < 0 && -dtz + c <= 100) score = -MATE_THRESHOLD - dtz;

    Move m;
    if (!toEngineMove(pos, root, choice.move, &m)) return 0;
    const int length = tablebaseLine(pos, root, choice.move, m, line);
    if (length == 0) return 0;
    printLine("info score cp " + std::to_string(score) + " depth 127 seldepth 127 nodes 1 tbhits 1 time 1 pv " +
              lineToText(line, length, pos->sideToMove));
    return length;
}

int probeTablebaseWdl(const Position* pos, int* success) {
    tb::Board p;
    toProbeBoard(pos, &p);
    return tb::probeWdl(&p, success);
}

bool reloadChangedTablebases(const std::string& path) {
    if (!tb::mappedFilesChanged()) return false;
    setTablebasePath(path);
    return true;
}

void setTablebasePath(const std::string& path) { tb::initTablebases(path.c_str()); }
