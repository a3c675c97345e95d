// Helpers under every part of the engine: numbers read from text, whole
// output lines, and the millisecond clock.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// A decimal integer at the start of `text` (leading blanks and an optional
// sign first; whatever follows the digits is ignored), pulled into lo..hi
// when it lies beyond.  False, with `value` untouched, when there are no
// digits.
bool parseInteger(std::string_view text, long long lo, long long hi, long long& value);

// Write one whole line to standard output and flush it.  Whoever prints (the
// command loop, the main search thread, the tuning threads) prints whole
// lines, so lines from different threads never mix.
void printLine(const std::string& line);

// Monotonic clock in whole milliseconds.
int64_t nowMs();
