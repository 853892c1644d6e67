// Reading the text file, as the three programs do it: the size from the file system, and any
// stretch of it by one descriptor-level read into a fixed buffer, so that no request costs
// more than a page, however long the text has grown. Bytes go out exactly as stored.
#pragma once

#include <cstdint>
#include <cstdio>

// The size of the text file in bytes, or -1 when it is missing or cannot be examined.
std::int64_t text_size();

// Writes the last bytes of the page being written, at most at_most of them: the whole current
// page for 2048, its tail for less. Nothing when that page is empty or the file cannot be
// read.
void write_current_page(FILE *out, std::int64_t at_most);

// Writes text page index + 1 (up to 2048 bytes). Nothing when the file cannot be read.
void write_text_page(FILE *out, std::int64_t index);
