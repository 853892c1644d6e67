// The board's files, apart from the comment logs (commentlog.h) and what templates hold: their
// names under the board directory, the text and its pages, the theme, the last-poster file
// and the lock directory. The three programs and zt-admin all read these formats through
// here. Paths come from the caller (the programs build them with the path builder, zt-admin
// from the board directory), so nothing here depends on how a board is found.
//
//   zt/zt-text.txt     the text: every accepted unit, back to back, no header, no line ends;
//                      its size is the board's state number, which forms send back as prev.
//                      Text page n (from 1) is bytes (n-1)*2048 to n*2048-1.
//   zt/zt-theme.txt    free text, put in place from outside; its first 60 bytes are shown;
//                      removed by the post that completes a page
//   zt/zt-jti.txt      the last poster: name LF address LF
//   zt/zt-rate.txt     the rate of posts and the posts of the last minute (post_rate.h)
//   lock/zt.lck        the posting lock (board_lock.h)
//   zt/zt-com1.htm ..  record templates; zt/zt-com1.txt .. the comment logs
//
// A path that names no regular file is a file that cannot be opened: a directory, a FIFO, a
// socket or a device in a file's place, and a symbolic link wherever it points. Opens never
// block and never follow a link, so nothing planted in a file's place can stop a run or send
// its writes elsewhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string_view>

#include "address.h"

// One post: four double-byte characters.
inline constexpr std::int64_t UNIT_BYTES = 8;

// One text page: 256 units. Pages are counted from 1.
inline constexpr std::int64_t TEXT_PAGE_BYTES = 2048;

// The board page shows the first 60 bytes of the theme file.
inline constexpr int THEME_BYTES = 60;

// A poster's name holds at most 64 characters, the board page's own limit (its field's
// maxlength): a longer name, which only a forged form sends, is cut to its first 64 where the
// post is taken, so that the name compared with the last poster's, stored and written into the
// records is the cut one. Characters count as a reader counts them (Tolvak_SjisPrefix).
inline constexpr int NAME_CHARACTERS = 64;

// The comment logs and their record templates, by their digits from 1: each loop, name and
// message about the logs reads this count.
inline constexpr int COMMENT_LOGS = 8;
static_assert(COMMENT_LOGS >= 1 && COMMENT_LOGS <= 9, "a log is named by one digit");

// The largest form zt-write takes: the largest that the board page sends, with room to spare,
// and no more, since a value's bytes reach the comment records (zt-admin sizes the logs by
// this limit). The board page's form at its largest, every byte %-escaped:
//   prev=N        5 +  19   the text's size, at most 19 digits
//   &four=V       6 +  56   4 characters (maxlength="4", counted in UTF-16 units); the widest
//                           is one that Shift_JIS lacks, which a browser sends as "&#NNNNN;",
//                           8 bytes and 14 escaped
//   &namae=V      7 + 896   64 such characters (maxlength="64"); in the three codes themselves
//                           a character takes at most 3 bytes (EUC-JP's JIS X 0212, 9 escaped)
//                           or, in JIS shifting at every character, 4.5 (13.5 escaped)
//   &confirm=1   10
// That is 999 bytes at most (983 measured, a 64-character Hangul name with "check only"),
// 25 under the limit.
inline constexpr std::size_t MAX_POST_BYTES = 1024;

// The longest address text in REMOTE_ADDR: IPv6 with an IPv4 tail.
inline constexpr std::string_view LONGEST_ADDRESS = "ffff:ffff:ffff:ffff:ffff:ffff:255.255.255.255";

inline constexpr const char *TEMPLATE_DIR = "zt";
inline constexpr const char *TEXT_FILE = "zt/zt-text.txt";
inline constexpr const char *THEME_FILE = "zt/zt-theme.txt";
inline constexpr const char *LAST_POSTER_FILE = "zt/zt-jti.txt";
inline constexpr const char *RATE_FILE = "zt/zt-rate.txt";
inline constexpr const char *LOCK_PARENT = "lock";
inline constexpr const char *LOCK_DIR = "lock/zt.lck";
inline constexpr const char *RECORD_TEMPLATE = "zt/zt-com%c.htm";  // %c: the log's digit
inline constexpr const char *COMMENT_LOG = "zt/zt-com%c.txt";
inline constexpr const char *WRITE_TEMPLATE = "zt/zt-write.htm";
inline constexpr const char *VIEW_TEMPLATE = "zt/zt-view.htm";
inline constexpr const char *READ_TEMPLATE = "zt/zt-read.htm";

// The last-poster file of a new board: two lines that hold only a CR. A name or an address
// that a request carries never holds a CR (the intake turns every CR into a line end), so no
// poster is refused as the last one before the first post.
inline constexpr std::string_view NOBODY_LAST_POSTER = "\r\n\r\n";

// The text's pages. A text of size bytes has text_page_count(size) pages, never fewer than 1;
// the page being written holds its last current_page_bytes(size) bytes (none at a multiple of
// 2048) and is page page_being_written(size); units_left(size) posts fill it.
constexpr std::int64_t text_page_count(std::int64_t size)
{
    return size <= 0 ? 1 : (size - 1) / TEXT_PAGE_BYTES + 1;
}

constexpr std::int64_t current_page_bytes(std::int64_t size)
{
    return size % TEXT_PAGE_BYTES;
}

constexpr std::int64_t page_being_written(std::int64_t size)
{
    return size / TEXT_PAGE_BYTES + 1;
}

constexpr std::int64_t units_left(std::int64_t size)
{
    return (TEXT_PAGE_BYTES - size % TEXT_PAGE_BYTES) / UNIT_BYTES;
}

// n modulo count (count > 0), never negative: page indexes wrap around at both ends.
constexpr std::int64_t wrap_page(std::int64_t n, std::int64_t count)
{
    const std::int64_t r = n % count;
    return r < 0 ? r + count : r;
}

// Opens path with flags (never creating it, never blocking, never through a symbolic link)
// when it names a regular file, and gives its size in *size unless size is null. The
// descriptor, or -1 with errno set: ELOOP for a link, EISDIR for a directory, EINVAL for a
// FIFO, socket or device.
int open_board_file(const char *path, int flags, std::int64_t *size = nullptr);

// A descriptor (or -1), closed when it goes out of scope. Writes through it are done or
// refused by then, so the close's result tells nothing more.
struct BoardFile {
    const int fd;
    explicit BoardFile(int descriptor) : fd(descriptor) {}
    ~BoardFile();
    BoardFile(const BoardFile &) = delete;
    BoardFile &operator=(const BoardFile &) = delete;
};



// Reads up to n bytes from the start of fd into bytes, in as many reads as it takes: fewer at
// the end of the file, or where a read fails, which leaves its errno in *error (else 0). The
// bytes read.
std::size_t read_from_start(int fd, char *bytes, std::size_t n, int *error);

// Writes n bytes at offset of fd, in as many writes as it takes. The bytes written: fewer when
// a write fails, with errno set (ENOSPC where one stores nothing).
std::size_t write_at(int fd, const char *bytes, std::size_t n, std::int64_t offset);

// The whole of the regular file at path in memory (malloc), its length in *n; null when it
// cannot be opened or read, or there is no memory. The caller frees it.
char *read_board_file(const char *path, std::size_t *n);

// The text's size in bytes, or -1 when it is missing or no regular file.
std::int64_t text_size(const char *path);

// Writes the last bytes of the page being written, at most at_most of them (at most a page):
// the whole page for 2048, its tail for less. Nothing when that page is empty or the text
// cannot be read. One read into a fixed buffer, however long the text.
void write_text_tail(const char *path, std::int64_t at_most, FILE *out);

// Writes text page index + 1 (up to 2048 bytes), as one read gives it. Nothing when the text
// cannot be read.
void write_text_page(const char *path, std::int64_t index, FILE *out);

// A unit that zt-admin redact puts in the place of an abusive one: four full-width spaces,
// so that the text keeps its size and every open form its prev.
inline constexpr std::string_view BLANK_UNIT = "\x81\x40\x81\x40\x81\x40\x81\x40";

// Cuts the open text back to its first size bytes, as zt-admin rollback takes it back to
// before a post. True when it is cut.
bool cut_text(int fd, std::int64_t size);

// Appends a unit at the end of the open text, whose size is size. A unit stored in part (a
// full disk, a file-size limit) is cut off again, since it would shift every later unit off
// the 8-byte grid. True when the whole unit is stored.
bool append_unit(int fd, const char *unit, std::int64_t size);

// Reads up to THEME_BYTES of the theme in one read. The bytes read (0 when the read fails),
// or -1 when there is no theme file.
int read_theme(const char *path, char (&theme)[THEME_BYTES]);

// The last-poster file's two lines, pointing into its bytes. The end of the file ends a line
// as its LF does; two_lines says that both lines are ended by their LF. Bytes after the second
// LF are left over from a longer poster by a rewrite that died before the cut, and read by
// nobody.
struct LastPoster {
    std::string_view name;
    std::string_view address;
    bool two_lines;
};
LastPoster split_last_poster(std::string_view bytes);

// Whether a line of the last-poster file holds value as it is stored there: a LF inside a
// value is stored, and so compared, as a space, so that the file keeps its two lines.
bool last_poster_line_is(std::string_view line, const char *value);

// Whether line 2 of the last-poster file names address's poster: the same text as stored, or
// an address of the same block (address.h: an IPv6 /64, an IPv4-mapped address as IPv4).
bool last_poster_address_is(std::string_view line, const char *address);

// Rewrites the last-poster file at path with name and address, each on its line: over its
// old bytes and cut to their length, the file itself, never a scratch file beside it (which
// whatever stands in its place could redirect or swallow) and never a truncating open (which
// makes ext4 flush the file at once). Both lines go in one write, so that a run that dies
// leaves the old lines or the new ones, and at worst some bytes of the old behind them. True
// when the two lines are written whole and cut to length; false with errno set otherwise.
bool write_last_poster(const char *path, const char *name, const char *address);
