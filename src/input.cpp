// The command loop's queue of input lines.
#include "input.h"

#include <chrono>
#include <sstream>

void CommandInput::push(std::string line) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const uint64_t arrival = stamp();
        if (quitArrival_.load(std::memory_order_relaxed) == 0 && firstWord(line) == "quit")
            quitArrival_.store(arrival, std::memory_order_relaxed);
        lines_.push_back({std::move(line), arrival});
    }
    arrived_.notify_one();
}

CommandLine CommandInput::next() {
    if (!held_.empty()) {
        CommandLine line = std::move(held_.front());
        held_.pop_front();
        return line;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    arrived_.wait(lock, [this] { return !lines_.empty(); });
    CommandLine line = std::move(lines_.front());
    lines_.pop_front();
    return line;
}

bool CommandInput::poll(CommandLine& line, int ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!arrived_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return !lines_.empty(); })) return false;
    line = std::move(lines_.front());
    lines_.pop_front();
    return true;
}

void CommandInput::hold(CommandLine line) { held_.push_back(std::move(line)); }

CommandInput& theCommandInput() {
    // Never destroyed: a thread blocked on standard input may still hand a
    // line over while the program ends.
    static CommandInput* const input = new CommandInput;
    return *input;
}

std::string firstWord(const std::string& line) {
    std::istringstream is(line);
    std::string word;
    is >> word;
    return word;
}
