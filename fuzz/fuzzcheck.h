// Stops the fuzzer with a report when an invariant of the program does not hold.
#pragma once

#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition))                                                                          \
            __builtin_trap();                                                                      \
    } while (false)
