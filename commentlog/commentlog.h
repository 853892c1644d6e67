// Comment log: a fixed-size file of one-line records, newest first. New records are written
// from the end of the file towards the header and overwrite the oldest once the file is full.
// One log is current per process; open, then append, print, walk or rewrite, then close.
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
// below the head offset are still intact. Both offsets equal to the file size: an empty log
// (its record area NUL bytes, so that no record length can be read at offset 18).
//
// A walk of the records, newest first, takes the current lap from the head offset to the end
// of the file, and then the previous lap from the old-head offset, as far as its length fields
// lead. A whole record (four hex digits and a TAB, a length that fits, and a LF as the byte at
// its end) is taken by its length, without reading its content for line ends: the append
// stores none inside it. Anything else in the current lap is taken as a line, less its first
// five bytes. The second walk stops at a record whose line does not end where its length says
// (after listing that line), at a length too short to hold a line, and at a record that would
// run past the head offset: a length field that the current lap has cut in two, or bytes that
// never were a record, would otherwise lead it through fragments of overwritten records and
// into the current lap's lines, which would show twice.
//
// The module never creates, extends or truncates a log: its size is set when the board is
// prepared. Logs are read and written byte for byte; nothing is allocated.
#pragma once

#include <cstddef>
#include <cstdio>

// The longest record, length field, TAB and LF included.
inline constexpr long COMMENT_RECORD_MAX = 65530;

// The size of the header, and so the offset of the record area.
inline constexpr long COMMENT_HEADER_BYTES = 18;

// The bytes of a record beyond its content: four hex digits of length, TAB, LF.
inline constexpr long COMMENT_RECORD_FRAME_BYTES = 6;

// Opens an existing regular file for reading and writing and makes it the current log (a log
// still current is closed first). The header is read leniently: two numbers of up to 8 hex
// digits, either case, each after optional white space. A header that cannot be read, or
// whose offsets lie outside 18 to the file size, is replaced by the fresh header (both
// offsets 18), unless the file is too short to hold one; the view program writes it too.
// The log is held with a shared flock until the close (exclusive while the fresh header is
// written), so that a print never meets an append halfway. 0, or -1 when the file cannot
// be opened, is no regular file (the open neither waits for a FIFO nor follows a symbolic
// link) or is too large for 32-bit offsets.
int CommentLog_Open(const char *path);

// What CommentLog_Inspect found in a log's header.
enum CommentLogHeader : int {
    COMMENT_HEADER_SOUND = 0,
    COMMENT_HEADER_SHORT = -1,         // the file is too short to hold a header
    COMMENT_HEADER_UNREADABLE = -2,    // not two hex numbers
    COMMENT_HEADER_OUT_OF_RANGE = -3,  // offsets outside 18 to the file size
};

struct CommentLog_State {
    long long size;      // the file's size
    long long head;      // the offsets as the header gives them (0 when unreadable)
    long long old_head;
    int header;          // a CommentLogHeader
};

// Opens the log at path as CommentLog_Open does, but for reading only: nothing is written,
// and a header that the open would replace is taken as the fresh one for the walk, as the
// programs would show the log. Fills *state. 0, or -1 as CommentLog_Open.
int CommentLog_Inspect(const char *path, CommentLog_State *state);

// Opens the log at path as CommentLog_Inspect does, but for reading and writing, so that
// CommentLog_Rewrite may change the content of its records; the header is never written, also
// when it cannot be read. 0, or -1 as CommentLog_Open.
int CommentLog_Edit(const char *path, CommentLog_State *state);

// Replaces the content of the record whose length field is at offset, which holds the n bytes
// was, with the n bytes now, in place and in one write: the record keeps its length, its
// frame and its place, and so does every other record. The log is held exclusively from here
// to the close. 0; -1, with nothing written, when no record of n bytes of content begins at
// offset, its content is not was, or now holds a LF; -2 when the write failed (as it does in
// a log opened for reading only).
int CommentLog_Rewrite(long long offset, const char *was, const char *now, std::size_t n);

// Stores the n bytes of content as the newest record. An LF inside the content is stored as a
// space, so the record stays one line and its length true. The record is written before the
// header that points to it; a record that begins a new lap is preceded by a header that gives
// the records it overwrites to the previous lap. The log is held exclusively from here to the
// close. 0, or -1 when the record is longer than COMMENT_RECORD_MAX or the record area, or a
// write failed; a refused record leaves the log unchanged.
int CommentLog_Append(const char *content, std::size_t n);

// A record, or a piece of one, as a walk meets it: the content as stored, the record's LF
// ending its last piece. A record comes in one piece unless its line is longer than the
// module's read window or the end of the file or the head offset cuts it off.
struct CommentLog_Piece {
    const char *bytes;
    std::size_t size;
    long long offset;  // where the record begins: its length field
    long long length;  // its length field's value, or -1 when it has none
    bool first;        // the record's first piece
    bool last;         // ends with the record's LF
    bool previous;     // the record belongs to the previous lap
};

using CommentLog_Visitor = void (*)(const CommentLog_Piece &piece, void *context);

// Walks the current log's records newest first, as described above, and hands each piece to
// visit.
void CommentLog_Walk(CommentLog_Visitor visit, void *context);

// Where the current lap of the current log stops describing itself: its records must run
// without gaps from the head offset to the end of the file, each a length field, a TAB, one
// line and its LF exactly where the length says. -1 when they do; else the offset of the
// first record that does not, and in *length its length field's value, or -1 when it has none
// that a record could have. Reads only.
long long CommentLog_FirstFault(long long *length);

// Writes the records of the current log to out, newest first: each record's content and its
// LF, without the length field, exactly as stored (they are HTML of the board's templates).
// An empty current lap above a previous one is the header that a new lap writes before its
// first record, left by a run that died there; its previous lap is not shown then, since its
// newest records may be overwritten in part. Reads only, once through each lap.
void CommentLog_Print(FILE *out);

// Closes the current log; called only after a successful open.
void CommentLog_Close();

// The header "%08x\n%08x\n" for these offsets, into out (COMMENT_HEADER_BYTES bytes, no NUL).
void CommentLog_FormatHeader(char *out, long long head, long long old_head);
