// The path builder, through which every data file and template is named: a relative path
// formatted behind the compiled-in base directory, into one static buffer. Every call
// overwrites the previous result, so a caller uses a built path before it builds the next.
// The full configuration's base is the build variable TOLVAK_BASE_DIR, the query-string
// configuration's is empty (paths relative to the working directory).
#pragma once

#include <cstddef>

// The platform's path limit: base directory, relative path and NUL together.
inline constexpr std::size_t TOLVAK_PATH_BYTES = 260;

// The base directory, then the path of the latest Tolvak_Path call behind it.
extern char Tolvak_BaseDir[TOLVAK_PATH_BYTES];

// Formats a relative path behind the base directory and returns the buffer. A path that does
// not fit is refused: the result is then the empty string, which names no file, rather than a
// truncated path that might name another one.
const char *Tolvak_Path(const char *format, ...) __attribute__((format(printf, 1, 2)));
