// Numbers from text, whole-line output and the millisecond clock.
#include "util.h"

#include <chrono>
#include <climits>
#include <cstdio>

// Every number the engine reads from text goes through here: the values of
// "go", "setoption", "perft" and "bench", and the counters of a FEN.  A GUI
// or a person at the keyboard can send anything, so a value beyond the range
// of its field is pulled back into it rather than rejected (a clock of
// 99999999999999999999 ms is simply a very long clock), and the digits are
// accumulated with saturation so that no input can overflow.
bool parseInteger(std::string_view text, long long lo, long long hi, long long& value) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) i++;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    if (i == text.size() || text[i] < '0' || text[i] > '9') return false;
    constexpr unsigned long long saturated = 1ULL << 63;
    unsigned long long magnitude = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; i++)
        magnitude = magnitude > (saturated - 9) / 10 ? saturated : magnitude * 10 + (unsigned)(text[i] - '0');
    long long v;
    if (magnitude >= saturated)
        v = negative ? LLONG_MIN : LLONG_MAX;
    else
        v = negative ? -(long long)magnitude : (long long)magnitude;
    value = v < lo ? lo : (v > hi ? hi : v);
    return true;
}

int64_t nowMs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
               .count() /
           1000000;
}

void printLine(const std::string& line) {
    std::string s = line;
    s += '\n';
    std::fwrite(s.data(), 1, s.size(), stdout);
    std::fflush(stdout);
}
