// The command loop: one line of input at a time, to the handler of its first
// word.  The program's entry runs it on standard input; anything that hands
// the engine lines (a test harness, another host) can run it the same way.
#pragma once

#include <string>

#include "input.h"

// Start the engine: banner-free set-up of tables, position, table and
// threads (see engineStartup).
void startEngine();
// Run one command line (a trailing carriage return, as Windows GUIs send it,
// is dropped).  False after "quit".  A line of the input queue carries its
// arrival number; a line given directly counts as arriving now.
bool executeCommand(const CommandLine& line);
bool executeCommand(const std::string& line);
// End the engine: a running search prints its move first, then every thread
// ends and the table is freed.
void stopEngine();
