// Tablebases in the engine: converting positions for the prober, the root
// move from the distance-to-zero tables, and the node search's probe.
#include "syzygy.h"

#include <string>

namespace {

constexpr U64 RANKS_1_AND_8 = 0xff000000000000ffULL;

// Moves types of the engine for the prober's promotion codes (queen, rook,
// bishop, knight).
const uint8_t convPromotion[5] = {0, MT_PROMO_Q, MT_PROMO_R, MT_PROMO_B, MT_PROMO_N};

// A position the prober can be trusted with: one king each, no man on two
// kinds, colours that match the men, no pawn on the first or last rank, and
// the side not to move not in check.
bool fitForProbe(const tb::pos& p) {
    const U64 kinds[6] = {p.kings, p.queens, p.rooks, p.bishops, p.knights, p.pawns};
    U64 all = 0;
    for (U64 k : kinds) {
        if (all & k) return false;
        all |= k;
    }
    if ((p.white & p.black) || all != (p.white | p.black)) return false;
    if (popcount(p.kings & p.white) != 1 || popcount(p.kings & p.black) != 1) return false;
    if (p.pawns & RANKS_1_AND_8) return false;
    const U64 mover = p.turn ? p.white : p.black;
    const U64 other = p.turn ? p.black : p.white;
    return !tb::attacked(&p, lsb(p.kings & other), mover, p.turn ? 0 : 1);
}

}  // namespace

void syzygyConvert(const positionStruct* pos, int ply, tb::pos* out) {
    const U64* pb = pos->pieceBitboard;
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
    const int e = pos->plyStack[ply].enpassantSquare;
    out->ep = (uint8_t)(e == 0 ? 0 : pos->sideToMove == WHITE ? e + 8 : e - 8);
    out->turn = pos->sideToMove != BLACK;
}

uint32_t syzygyProbeDTZ(int, positionStruct* pos) {
    // The tables know nothing of castling.
    if (pos->plyStack[0].castlingRights) return 0;
    tb::pos root;
    syzygyConvert(pos, 0, &root);
    if (!fitForProbe(root)) return 0;

    int success;
    const int dtz = tb::probe_dtz(&root, &success);
    if (!success) return 0;

    // Value of every legal move from the mover's view, in generation order.
    uint16_t moves[tb::MAX_MOVES];
    int value[tb::MAX_MOVES];
    bool legal[tb::MAX_MOVES];
    uint16_t* end = tb::gen_moves(&root, moves);
    const int count = (int)(end - moves);
    int drawing = 0;
    for (int i = 0; i < count; i++) {
        tb::pos child;
        legal[i] = tb::do_move(&child, &root, moves[i]);
        if (!legal[i]) continue;
        int v;
        if (dtz > 0 && tb::is_mate(&child)) {
            v = 1;
        } else if (child.rule50 == 0) {
            const int wdl = tb::probe_wdl(&child, &success);
            if (!success) return 0;
            v = tb::wdl_to_dtz[2 - wdl];
        } else {
            const int d = tb::probe_dtz(&child, &success);
            if (!success) return 0;
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
        const U64 key = tb::calc_key(&root, !root.turn);
        int k = (int)(key % (U64)drawing);
        for (int i = 0; i < count && chosen < 0; i++)
            if (legal[i] && value[i] == 0 && k-- == 0) chosen = i;
    }
    if (chosen < 0) return 0;

    const int c = pos->fiftyMoveCounter;
    int score = 0;
    if (dtz > 0 && dtz + c <= 100) score = MATETHRESHOLD - dtz;
    if (dtz < 0 && -dtz + c <= 100) score = -MATETHRESHOLD - dtz;

    const uint16_t tm = moves[chosen];
    const int from = tb::move_from(tm), to = tb::move_to(tm), promotion = tb::move_promotion(tm);
    moveStruct m = {(uint8_t)from, (uint8_t)to, MT_NORMAL, 0};
    if (root.pawns & bit(from)) {
        if (root.ep && to == root.ep) {
            m.moveType = MT_ENPASSANT;
            m.to = (uint8_t)(root.turn ? to - 8 : to + 8);
        } else if (to - from == 16 || from - to == 16) {
            m.moveType = MT_DOUBLE;
        } else if (promotion) {
            m.moveType = convPromotion[promotion];
        }
    }
    if (!isLegalMoveAt(pos, 0, m)) return 0;

    printLine("info score cp " + std::to_string(score) + " depth 127 seldepth 127 nodes 1 tbhits 1 time 1 pv " +
              moveToLA(&m, pos->sideToMove));
    return makeMoveWord(m, pos->board[from]);
}

int syzygyProbeWDL(positionStruct* pos, int ply, int* success) {
    tb::pos p;
    syzygyConvert(pos, ply, &p);
    return tb::probe_wdl(&p, success);
}

void syzygySetPath(const std::string& path) {
    tb::init_pawn_attacks();
    tb::init_tablebases(path.c_str());
}
