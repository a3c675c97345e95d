// The start-up processor check reads the processor's features as the
// compiler does.  (Which program refuses to run where, and the line it
// prints, is tested on emulated processors: cpu_check_program_test.sh.)
#include <gtest/gtest.h>

#include "cpucheck.h"

namespace {

// The CPUID bits read at start-up agree with the compiler's own reading of
// the processor this test runs on.
TEST(CpuCheck, FeaturesOfThisProcessor) {
    __builtin_cpu_init();
    const unsigned present = cpuFeaturesPresent();
    EXPECT_EQ((present & CPU_POPCNT) != 0, __builtin_cpu_supports("popcnt") != 0);
    EXPECT_EQ((present & CPU_BMI1) != 0, __builtin_cpu_supports("bmi") != 0);
    EXPECT_EQ((present & CPU_BMI2) != 0, __builtin_cpu_supports("bmi2") != 0);
    EXPECT_EQ((present & CPU_AVX2) != 0, __builtin_cpu_supports("avx2") != 0);
}

}  // namespace
