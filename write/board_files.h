// The files of a board, as every program names them (relative to the base directory), and
// the units of the text. The posting program owns these formats:
//
//   zt/zt-text.txt     the text: accepted units back to back, no header, no line ends
//   zt/zt-theme.txt    free text shown on the board page; removed when a page fills up
//   zt/zt-jti.txt      the last poster: name LF address LF
//   lock/zt.lck        an empty directory, present while a post is being written
//   zt/zt-com1.htm ..  record templates, one per comment log
//   zt/zt-com1.txt ..  comment logs (see commentlog.h)
#pragma once

#include <cstdint>

// One post: four double-byte characters.
inline constexpr std::int64_t UNIT_BYTES = 8;

// One text page: 256 units. Pages are counted from 1.
inline constexpr std::int64_t TEXT_PAGE_BYTES = 2048;

inline constexpr const char *TEXT_FILE = "zt/zt-text.txt";
inline constexpr const char *THEME_FILE = "zt/zt-theme.txt";
inline constexpr const char *LAST_POSTER_FILE = "zt/zt-jti.txt";
inline constexpr const char *LOCK_DIR = "lock/zt.lck";
inline constexpr const char *RECORD_TEMPLATE = "zt/zt-com%c.htm";  // %c: the log's digit
inline constexpr const char *COMMENT_LOG = "zt/zt-com%c.txt";

// The page templates of the three programs.
inline constexpr const char *WRITE_TEMPLATE = "zt/zt-write.htm";
inline constexpr const char *VIEW_TEMPLATE = "zt/zt-view.htm";
inline constexpr const char *READ_TEMPLATE = "zt/zt-read.htm";
