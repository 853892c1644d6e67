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
// later record of the lap ends where the one before it begins. The module never creates,
// extends or truncates a log: its size is set when the board is prepared.
#pragma once

#include <cstdio>

// The longest record, length field, TAB and LF included.
inline constexpr long COMMENT_RECORD_MAX = 65530;

// The size of the header, and so the offset of the record area.
inline constexpr long COMMENT_HEADER_BYTES = 18;

// Opens an existing log for reading and writing and makes it the current log. A header that
// cannot be read, or whose offsets lie outside the record area, is replaced by the fresh
// header (both offsets 18), unless the file is too short to hold one. 0, or -1 when the file
// cannot be opened.
int CommentLog_Open(const char *path);

// Stores the content of record (a read-write stream holding exactly the content, standing at
// its end) as the newest record. An LF inside the content is stored as a space, so the
// record stays one line. 0, or -1 when the record is too long for the format or the file;
// a refused record leaves the log unchanged.
int CommentLog_Append(FILE *record);

// Writes the records of the current log to out, newest first: each record's content and its
// LF, without the length field.
void CommentLog_Print(FILE *out);

// Closes the current log; called only after a successful open.
void CommentLog_Close();
