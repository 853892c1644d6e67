// Comment log: a fixed-size file of one-line records, newest first. New records are written
// from the end of the file towards the header and overwrite the oldest once the file is full.
// One log is current per process; open, then append or print, then close.
//
//   offset 0   8 hex digits  head offset (newest record)
//          8   LF
//          9   8 hex digits  old-head offset (newest record of the previous lap)
//         17   LF
//         18   records: 4 hex digits length L, TAB, content, LF   (L = content + 6)
//
// A lap is a run of records that begins with one ending exactly at the end of the file; each
// later record of the lap ends where the one before it begins. The current lap runs without
// gaps from the head offset to the end of the file; the previous lap's records that lie wholly
// below the head offset are still intact. Both offsets equal to the file size: an empty log.
//
// The module never creates, extends or truncates a log: its size is set when the board is
// prepared. Logs are read and written byte for byte.
#pragma once

#include <cstdio>

// The longest record, length field, TAB and LF included.
inline constexpr long COMMENT_RECORD_MAX = 65530;

// The size of the header, and so the offset of the record area.
inline constexpr long COMMENT_HEADER_BYTES = 18;

// Opens an existing regular file for reading and writing and makes it the current log (a log
// still current is closed first). The header is read leniently: two numbers of up to 8 hex
// digits, either case, each after optional white space. A header that cannot be read, or
// whose offsets lie outside 18 to the file size, is replaced by the fresh header (both
// offsets 18), unless the file is too short to hold one; the view program writes it too.
// The log is held with a shared flock until the close (exclusive while the fresh header is
// written), so that a print never meets an append halfway. 0, or -1 when the file cannot
// be opened, is no regular file or is too large for 32-bit offsets.
int CommentLog_Open(const char *path);

// Stores the content of record (a readable stream holding exactly the content, standing at
// its end) as the newest record; record is read from its start and not written. An LF inside
// the content is stored as a space, so the record stays one line and its length true. The
// record is written before the header that points to it; a record that begins a new lap is
// preceded by a header that gives the records it overwrites to the previous lap. The log is
// held exclusively from here to the close. 0, or -1 when the record is longer than
// COMMENT_RECORD_MAX or the record area, or a write failed; a refused record leaves the log
// unchanged.
int CommentLog_Append(FILE *record);

// Writes the records of the current log to out, newest first: each record's content and its
// LF, without the length field, exactly as stored (they are HTML of the board's templates).
// The current lap is every line from the head offset on; the previous lap's intact records
// follow, as far as their length fields describe them and never past the head offset; not
// while the current lap is empty above them, which only a new lap cut off halfway leaves.
// Reads only, once through each lap.
void CommentLog_Print(FILE *out);

// Closes the current log; called only after a successful open.
void CommentLog_Close();
