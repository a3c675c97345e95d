// Move ordering: the history update that is not worth inlining.
#include "movepick.h"

void adjustHistories(Histories& h, const Continuation& c, int piece, int to, int b, bool bonus) {
    h.writes++;
    auto apply = [&](int16_t& e) { bonus ? historyBonus(e, b) : historyMalus(e, b); };
    if (c.followUp) apply((*c.followUp)[piece - 2][to]);
    if (c.counter) apply((*c.counter)[piece - 2][to]);
    apply(h.history[piece - 2][to]);
}
