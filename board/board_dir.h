// The files of a board, named as the three programs name them under the board directory (the
// directory they run in, or zt-write's compiled-in base), and what zt-admin does with them:
// prepare a new board, read a comment log the way the board page lists it.
//
//   zt/zt-write.htm zt-view.htm zt-read.htm   page templates (Shift_JIS)
//   zt/zt-com1.htm .. zt-com8.htm             record templates: the first line makes a record
//   zt/zt-text.txt     the text: every accepted post's 8 bytes, back to back
//   zt/zt-theme.txt    the theme, put in place by the operator; its first 60 bytes are shown
//   zt/zt-jti.txt      the last poster: name LF address LF
//   zt/zt-com1.txt .. zt-com8.txt             comment logs of a fixed size
//   lock/zt.lck        present while a post is being written
#pragma once

#include <string>
#include <string_view>
#include <vector>

inline constexpr const char *TEMPLATE_DIR = "zt";
inline constexpr const char *TEXT_FILE = "zt/zt-text.txt";
inline constexpr const char *THEME_FILE = "zt/zt-theme.txt";
inline constexpr const char *LAST_POSTER_FILE = "zt/zt-jti.txt";
inline constexpr const char *LOCK_PARENT = "lock";
inline constexpr const char *LOCK_DIR = "lock/zt.lck";

inline constexpr int COMMENT_LOGS = 8;
inline constexpr long long UNIT_BYTES = 8;
inline constexpr long long TEXT_PAGE_BYTES = 2048;
inline constexpr std::size_t THEME_SHOWN_BYTES = 60;

// A comment log's size. The board page prints its logs whole on every request, so a log of
// more than a few hundred kilobytes makes a slow page; the upper limit only keeps a typing
// error from filling the disk. The lower one leaves room for a few records.
inline constexpr long long DEFAULT_LOG_BYTES = 16384;
inline constexpr long long MIN_LOG_BYTES = 256;
inline constexpr long long MAX_LOG_BYTES = 16 * 1024 * 1024;

// The last-poster file of a new board: two lines that hold only a CR. A name or an address
// that a request carries never holds a CR (the intake turns every CR into a line end), so no
// poster is refused as the last one before the first post.
inline constexpr std::string_view NOBODY_LAST_POSTER = "\r\n\r\n";

// "zt/zt-com<digit>.txt" and "zt/zt-com<digit>.htm".
std::string comment_log_name(int digit);
std::string record_template_name(int digit);

// dir + "/" + name.
std::string board_path(const std::string &dir, const char *name);
inline std::string board_path(const std::string &dir, const std::string &name)
{
    return board_path(dir, name.c_str());
}

// Reads a whole file. False when it cannot be read.
bool read_whole_file(const std::string &path, std::string *bytes);

// Puts bytes in place as the file path: written beside it and renamed over it, so that a
// reader sees the old file or the new one, never a part. False, with *problem, on failure.
bool replace_file(const std::string &path, std::string_view bytes, std::string *problem);

// The bytes of an empty comment log: both header offsets at the end of the file, a NUL at
// offset 18 (so that no record length can be read there), NULs up to the size.
std::string empty_comment_log(long long bytes);

// Prepares a board in dir (created if missing, parents included): zt/ with the default
// templates converted into the board's code, an empty text, a last-poster file that matches
// nobody, the eight comment logs at log_bytes each, and lock/. Refuses a directory that
// already holds zt/ or lock/. Everything is built in a directory beside zt/ and renamed into
// place, so a failure leaves no half-made board. False, with *problem, on failure.
bool prepare_board(const std::string &dir, long long log_bytes, std::string *problem);

// The records of a comment log's bytes, newest first, as the board page lists them: the
// current lap from the head offset to the end, then what is intact of the previous lap.
// Each record without its length field and LF. False when the header cannot be read (the
// programs would replace it with a fresh one on their next open); *records is then empty.
bool read_comment_log(std::string_view log, std::vector<std::string> *records);
