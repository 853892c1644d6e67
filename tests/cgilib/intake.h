// Test support for the library's unit tests: a POST intake fed from a string.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "board.h"
#include "board_files.h"
#include "form.h"

namespace zt_test {

// Runs the POST intake over body, announced as declared bytes (its length by default).
inline void Post(const std::string &body, const char *declared = nullptr)
{
    Tolvak_Free();
    const std::string length = std::to_string(body.size());
    setenv("CONTENT_LENGTH", declared ? declared : length.c_str(), 1);
    FILE *input = tmpfile();
    fwrite(body.data(), 1, body.size(), input);
    fflush(input);
    lseek(fileno(input), 0, SEEK_SET);
    dup2(fileno(input), STDIN_FILENO);
    fclose(input);
    Tolvak_ReadPost(MAX_POST_BYTES);
}

}  // namespace zt_test
