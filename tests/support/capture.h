// Test support: what a writer puts on a stream, as a string. Needs nothing but the C library,
// so that the fuzz targets use it too.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

namespace zt_test {

template <typename Write>
std::string Capture(const Write &write)
{
    char *bytes = nullptr;
    std::size_t length = 0;
    FILE *out = open_memstream(&bytes, &length);
    write(out);
    fclose(out);
    std::string result(bytes, length);
    free(bytes);
    return result;
}

}  // namespace zt_test
