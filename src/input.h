// The input of the command loop: a queue of command lines.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>

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

// The first word of a command line ("" when it has none).
std::string firstWord(const std::string& line);
