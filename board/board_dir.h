// A board as zt-admin sees it: its files named under the board directory, a new board
// prepared, whole files read and replaced, and a comment log listed as the board page lists
// it. The formats of the files are those of board_files.h and commentlog.h.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "board_files.h"
#include "commentlog.h"

// A comment log's size. A log holds at least RECORDS_PER_LOG of the largest records that its
// template can make (template_check.h), so that every post's record fits and one post
// overwrites at most an eighth of it: for the default templates 41,162 bytes (log 1's records
// of up to 5,143 bytes), which the default rounds up with room for some markup an operator
// adds. The board page prints its logs whole on every request, so a log of more than a few
// hundred kilobytes makes a slow page; the upper limit only keeps a typing error from filling
// the disk.
inline constexpr long long DEFAULT_LOG_BYTES = 48 * 1024;
inline constexpr long long RECORDS_PER_LOG = 8;
inline constexpr long long MAX_LOG_BYTES = 16 * 1024 * 1024;

// The smallest log that holds RECORDS_PER_LOG records of largest bytes.
constexpr long long smallest_log(long long largest)
{
    return COMMENT_HEADER_BYTES + RECORDS_PER_LOG * largest;
}

// The largest record that the default record templates can make.
long long largest_default_record();

// The names of comment log digit and of its record template, as the programs name them.
std::string comment_log_name(int digit);
std::string record_template_name(int digit);

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
// nobody, the eight comment logs at log_bytes each, and lock/. Refuses a log size outside
// smallest_log(largest_default_record()) to MAX_LOG_BYTES, and a directory that already holds
// zt/ or lock/. Everything is built in a directory beside zt/ and renamed into
// place, so a failure leaves no half-made board. False, with *problem, on failure.
bool prepare_board(const std::string &dir, long long log_bytes, std::string *problem);

// The records of the comment log at path, newest first, exactly as the board page lists them
// (a header that the page would replace is taken as the fresh one), each without its LF.
// Reads only. False when the log cannot be opened; *state tells what its header holds.
bool list_comment_log(const std::string &path, std::vector<std::string> *records,
                      CommentLog_State *state);
