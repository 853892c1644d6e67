// What the fuzz targets share: a check that ends the run with a message when a property of the
// code under test does not hold (libFuzzer keeps the input that made it fail), and small
// helpers over what a target writes.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#include "capture.h"

#define FUZZ_CHECK(condition)                                                              \
    do {                                                                                   \
        if (!(condition)) {                                                                \
            fprintf(stderr, "%s:%d: property does not hold: %s\n", __FILE__, __LINE__,     \
                    #condition);                                                           \
            abort();                                                                       \
        }                                                                                  \
    } while (0)

namespace zt_fuzz {

using zt_test::Capture;

inline std::size_t Count(const std::string &s, char c)
{
    std::size_t n = 0;
    for (char b : s)
        n += b == c;
    return n;
}

// Bytes that would end an attribute value or open a tag, were they written unescaped.
inline bool MarkupCountsWithin(const std::string &out, const std::string &allowed)
{
    for (char c : {'<', '>', '"', '\''})
        if (Count(out, c) > Count(allowed, c))
            return false;
    return true;
}

}  // namespace zt_fuzz
