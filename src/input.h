// The input of the command loop: a queue of command lines.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

// A command line and its place in the order in which lines arrived (1 for
// the first).  The loop may run a line later than it arrived (while a
// command waits for a search), so "stop" and "quit" use the number to tell
// which searches were asked for before them.
struct CommandLine {
    std::string text;
    uint64_t arrival = 0;
};

// The lines the command loop works through: pushed by whoever reads the
// input (a thread reading standard input, or a host that hands over lines
// one by one), taken by the loop.  While a command waits for a running
// search, the loop keeps answering "isready" and lets "stop" and "quit" act
// on that search; the lines it cannot act on yet are held and run, in their
// order, right after the waiting command.
class CommandInput {
  public:
    // Any thread: one more line.  A "quit" (or the end of the input, pushed
    // as "quit") is noted at once, however many lines wait before it.
    void push(std::string line);
    // The loop: the next line to run (held lines first); waits for one.
    CommandLine next();
    // The loop: a line that arrives within `ms` milliseconds, if any.
    bool poll(CommandLine& line, int ms);
    // The loop: run this line after the command at hand.
    void hold(CommandLine line);
    // An arrival number for a line handed to the loop without the queue.
    uint64_t stamp() { return arrivals_.fetch_add(1, std::memory_order_relaxed) + 1; }
    // The arrival number of the first "quit", 0 while none has come.
    uint64_t quitArrival() const { return quitArrival_.load(std::memory_order_relaxed); }

  private:
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<CommandLine> lines_;
    std::deque<CommandLine> held_;  // the loop's own
    std::atomic<uint64_t> arrivals_{0};
    std::atomic<uint64_t> quitArrival_{0};
};
CommandInput& theCommandInput();

// The first word of a command line ("" when it has none).
std::string firstWord(const std::string& line);
