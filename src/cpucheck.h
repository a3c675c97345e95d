// The instruction sets a Tarnwick program is built for, and the check at
// start-up that the processor has them.
//
// tarnwick-bmi runs PEXT slider lookups and AVX2 code, tarnwick runs POPCNT,
// tarnwick-nop runs on any x86-64 processor.  Started on a processor without
// the instructions, a program would die with "Illegal instruction" somewhere
// in its first static initialiser; instead it names the program to use and
// exits with status 1 before any of its own code that needs them has run.
#pragma once

#include <cstddef>

enum : unsigned {
    CPU_POPCNT = 1u << 0,
    CPU_BMI1 = 1u << 1,
    CPU_BMI2 = 1u << 2,
    CPU_AVX2 = 1u << 3,  // also needs the operating system to save the YMM registers
};

// The features of the processor this runs on (CPUID and, for AVX2, XGETBV).
unsigned cpuFeaturesPresent();

// The one-line message for a program named `program` that needs the features
// `required` on a processor that has `present`, written to `out` (cut to fit
// `size` bytes, always terminated).  Returns false and writes nothing when no
// required feature is missing.
bool cpuMismatchMessage(const char* program, unsigned required, unsigned present, char* out, size_t size);
