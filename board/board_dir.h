// A board as zt-admin sees it: its files named under the board directory, a new board
// prepared, whole files read and replaced, and a comment log listed as the board page lists
// it. The formats of the files are those of board_files.h and commentlog.h.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "board_files.h"
#include "commentlog.h"

// A comment log's size. The board page prints its logs whole on every request, so a log of
// more than a few hundred kilobytes makes a slow page; the upper limit only keeps a typing
// error from filling the disk. The lower one leaves room for a few records.
inline constexpr long long DEFAULT_LOG_BYTES = 16384;
inline constexpr long long MIN_LOG_BYTES = 256;
inline constexpr long long MAX_LOG_BYTES = 16 * 1024 * 1024;

// The name of comment log digit, as the programs name it.
std::string comment_log_name(int digit);

// dir + "/" + name.
std::string board_path(const std::string &dir, const char *name);
inline std::string board_path(const std::string &dir, const std::string &name)
{
    return board_path(dir, name.c_str());
}

// Reads a whole file. False when it cannot be read or is no regular file.
bool read_whole_file(const std::string &path, std::string *bytes);

// Puts bytes in place as the file path: written beside it and renamed over it, so that a
// reader sees the old file or the new one, never a part. False, with *problem, on failure.
bool replace_file(const std::string &path, std::string_view bytes, std::string *problem);

// Prepares a board in dir (created if missing, parents included): zt/ with the default
// templates converted into the board's code, an empty text, a last-poster file that matches
// nobody, the eight comment logs at log_bytes each, and lock/. Refuses a directory that
// already holds zt/ or lock/. Everything is built in a directory beside zt/ and renamed into
// place, so a failure leaves no half-made board. False, with *problem, on failure.
bool prepare_board(const std::string &dir, long long log_bytes, std::string *problem);

// The records of the comment log at path, newest first, exactly as the board page lists them
// (a header that the page would replace is taken as the fresh one), each without its LF.
// Reads only. False when the log cannot be opened; *state tells what its header holds.
bool list_comment_log(const std::string &path, std::vector<std::string> *records,
                      CommentLog_State *state);
