// Template engine: copies a template stream to an output stream byte for byte, except where
// the byte 0x01 introduces a directive, which is replaced by generated text. Callbacks are
// chosen by number from the caller's table and may read on in the template stream.
//
//   0x01 % name %        a field's value for a URL     0x01 ( N )   callback N
//   0x01 { name }        a field's value for HTML       0x01 | a,b | a query string ?a=..&b=..
//   0x01 [ name ]        an environment variable        (zt-write only)
//   0x01 / name / flag / c / body c                     a conditional section (zt-write only)
//
// Names hold at most 19 bytes. A template stream reads as a text file: a CR byte is dropped and
// a byte 0x1A ends the template like the end of the file. The end reads as 255, so a literal
// 0xFF ends a whole-template expansion too.
//
// Two variants share this interface and one engine; each program links one. The full variant
// (zt-write) looks fields up in the decoded field index and writes them through the URL and
// HTML encoders. The query-string variant (zt-view, zt-read) takes raw values from
// QUERY_STRING, knows neither '[' nor '/', and encodes as it copies, so that no byte a link
// carries can leave a quoted attribute or open a tag.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>

// A page callback: reads its arguments (if any) from the template stream, writes to out.
using Tolvak_PageCallback = void (*)(FILE *in, FILE *out);
using Tolvak_CallbackTable = std::span<const Tolvak_PageCallback>;

// The terminator that expands a whole template: the end of the stream reads as 255.
inline constexpr int TOLVAK_TEMPLATE_END = 255;

// The byte that closes a stretch of template which a callback writes or skips.
inline constexpr int TOLVAK_SECTION_END = 0x02;

// Expands from the stream's position until the terminator byte (its low byte counts) is read
// where text is expected, or the stream ends; the terminator is consumed, not written. A
// callback number outside the table calls nothing.
void Tolvak_ExpandTemplate(FILE *in, FILE *out, Tolvak_CallbackTable table, int terminator);

// The run of a page program after its intake: writes the response header, opens the page
// template name (through the path builder) and expands it whole onto standard output with
// the program's callbacks, then closes it. A template that cannot be opened ends the run with
// the error page "Can't open <path>". Standard output is fully buffered from here on, in a
// buffer of 64 KiB, so it is the run's first output; what stays buffered goes out at exit.
void Tolvak_ShowPage(const char *name, Tolvak_CallbackTable table);

// The next template byte, or EOF. CR bytes are dropped; a 0x1A is pushed back and reads as
// EOF every time, so the template stays ended.
inline int Tolvak_GetByte(FILE *in)
{
    for (;;) {
        const int c = getc_unlocked(in);
        if (c == '\r')
            continue;
        if (c == 0x1A) {
            ungetc(c, in);
            return EOF;
        }
        return c;
    }
}

// Reads a decimal number: optional white space, an optional sign, digits. The first byte that
// does not fit stays unread. False when there are no digits. The value saturates.
bool Tolvak_ReadNumber(FILE *in, std::int64_t *value);

// Reads a callback's number argument "(N)". False, with nothing but the parts that fitted
// consumed, when the '(' or the number is missing; a missing ')' does not matter.
bool Tolvak_ReadNumberArgument(FILE *in, std::int64_t *value);

// Reads a callback's one-byte argument "(c)": the byte, or -1 when the '(' or the byte is
// missing. A missing ')' does not matter.
int Tolvak_ReadByteArgument(FILE *in);

// Reads the template up to and including the next 0x02, or to its end, and copies what it
// reads before the 0x02 to out, unless out is null.
void Tolvak_CopySection(FILE *in, FILE *out);

// Reads the template up to and including the first byte a or b; returns it, or EOF at the
// end of the template. Bytes are read as Tolvak_GetByte reads them.
int Tolvak_SkipPast(FILE *in, int a, int b);
