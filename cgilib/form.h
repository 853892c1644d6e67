// Form intake and field index, the full form of the intake. The request is read into one
// buffer, split into names and values, URL-decoded and converted to Shift_JIS in place, and
// indexed; lookups hand out pointers into the buffer, which the library owns until
// Tolvak_Free. Nothing is copied: every string stays where its raw text began.
//
// The request buffer after parsing the body "ab=c%41&d=" (n = 10):
//
//   offset   0  1  2  3  4  5  6  7  8  9 10 11 12
//   raw      a  b  =  c  %  4  1  &  d  =
//   parsed   a  b \0  c  A \0 \0 \0  d \0 \0 CR  .
//            name 0   value 0        name 1, then value 1 (empty, at 10)
//
// From the end of a decoded string up to and including the separator after it every byte is
// NUL. Byte n ends the data, byte n+1 is the sentinel CR (no string holds a CR, so it is the
// first CR in the buffer and bounds the scans of the code detector), byte n+2 is spare. A
// string's slot runs from its first byte to the first byte of the next indexed string; the
// last one's ends with the NUL at n. A decoded string is never longer than its raw text, and
// every byte of 0x80 or above in it came from a three-byte %xx escape, which leaves two spare
// bytes in its slot for the widening of half-width kana.
//
// Entry 0 of the index points to the first name, and each separator adds one entry: names at
// even positions, values at odd ones. At least two null entries follow the last used one;
// when the data ends inside a name, that name's value entry is null.
#pragma once

#include <cstddef>
#include <cstdint>

// The largest limit a caller may set: it keeps the 16-bit entry count (separators + 1) from
// wrapping.
inline constexpr std::size_t TOLVAK_MOST_FORM_BYTES = UINT16_MAX - 1;

extern char *Tolvak_Data;               // the request buffer, n + 3 bytes
extern std::uint16_t Tolvak_DataCount;  // entries in complete name/value pairs (even)
extern char **Tolvak_DataIndex;         // the field index, Tolvak_DataCount + 3 entries
extern char **Tolvak_Cursor;            // the name entry where the last search stopped

// Reads CONTENT_LENGTH bytes of standard input and parses them. Returns only on success; an
// unset or negative CONTENT_LENGTH, one over the caller's limit (at most
// TOLVAK_MOST_FORM_BYTES), or no memory ends the run with the error page. A body shorter than
// announced ends at the bytes that arrived.
void Tolvak_ReadPost(std::size_t limit);

// The same over QUERY_STRING (unset reads as empty).
void Tolvak_ReadGet(std::size_t limit);

// The value of the first field called name (possibly empty), or null when there is no such
// field or it has no value. Names compare byte for byte. Leaves the cursor on that field.
const char *Tolvak_Find(const char *name);

// The value of the next field after the cursor with the cursor's name, or null. Valid only
// after Tolvak_Find.
const char *Tolvak_FindNext();

// Cuts the value of the first field called name to its first n bytes, in place, when it is
// longer; the bytes cut off become NUL, as the buffer holds them behind every string.
void Tolvak_CutValue(const char *name, std::size_t n);

// Makes value the value of the field that Tolvak_Find(name) finds, in the index only: value is
// the caller's, and must stay until Tolvak_Free. False, with nothing changed, when that finds
// none.
bool Tolvak_SetValue(const char *name, const char *value);

// Releases the buffer and the index; no lookup may follow.
void Tolvak_Free();
