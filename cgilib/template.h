// Template engine: copies a template to an output stream byte for byte, except where the byte
// 0x01 introduces a directive, which is replaced by generated text. Callbacks are chosen by
// number from the caller's table and may read on in the template stream.
//
//   0x01 % name %        a field's value for a URL     0x01 ( N )   callback N
//   0x01 { name }        a field's value for HTML       0x01 | a,b | a query string ?a=..&b=..
//   0x01 [ name ]        an environment variable        (full variant only)
//   0x01 / name / flag / c / body c                     a conditional section (full variant only)
//
// Names hold at most 19 bytes. A template is read whole into memory as a text file reads: a CR
// byte is dropped and a byte 0x1A ends the template like the end of the file. The engine and
// the callbacks share one cursor over those bytes. The end reads as 255, so a literal 0xFF
// ends a whole-template expansion too.
//
// Two variants share this interface and one engine; each configuration of the library links
// one. The full variant looks fields up in the decoded field index and writes them through the
// URL and HTML encoders. The query-string variant takes raw values from QUERY_STRING, knows
// neither '[' nor '/', and encodes as it copies, so that no byte a link carries can leave a
// quoted attribute or open a tag.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>

// A template's bytes after the text rules, and the cursor that the engine and the callbacks
// read with. Bytes read from a file belong to the stream and are freed with it; a stream over
// bytes that the caller holds (owned null) frees nothing.
struct Tolvak_TemplateStream {
    char *owned = nullptr;
    const char *next = nullptr;  // the next byte to read
    const char *end = nullptr;   // the end of the template

    Tolvak_TemplateStream() = default;
    Tolvak_TemplateStream(const char *bytes, std::size_t n) : next(bytes), end(bytes + n) {}
    ~Tolvak_TemplateStream() { free(owned); }
    Tolvak_TemplateStream(const Tolvak_TemplateStream &) = delete;
    Tolvak_TemplateStream &operator=(const Tolvak_TemplateStream &) = delete;
};

// A page callback: reads its arguments (if any) from the template stream, writes to out.
using Tolvak_PageCallback = void (*)(Tolvak_TemplateStream *in, FILE *out);
using Tolvak_CallbackTable = std::span<const Tolvak_PageCallback>;

// What a callback reads from the template after its directive. A program states it for each
// callback, beside its callback table, and reads its arguments through it; a checker reads a
// template through the same statements.
enum class Tolvak_Argument {
    none,
    byte,     // "(c)", c one of the bytes low to high
    number,   // "(N)"
    section,  // the template up to the next 0x02, written or skipped as it stands
    lines,    // the rest of the directive's line, then `high` lines (at least `low`), each
              // expanded on its own with the table's callbacks, then a section; the directive
              // stands once, outside sections
};

struct Tolvak_CallbackContract {
    Tolvak_Argument argument = Tolvak_Argument::none;
    const char *what = nullptr;     // the argument, for a checker's messages ("offset")
    const char *example = nullptr;  // a byte or number argument as a template writes it
    int low = 0, high = 0;          // byte: the bytes it takes; lines: how many lines
    int widest = -1;                // the most bytes the callback writes, where it says
};

// What Tolvak_ReadArgument finds wrong.
inline constexpr int TOLVAK_ARGUMENT_MISSING = -1;  // no '(', or no value after it
inline constexpr int TOLVAK_ARGUMENT_OUTSIDE = -2;  // a byte outside low to high

// The terminator that expands a whole template: the end of the stream reads as 255.
inline constexpr int TOLVAK_TEMPLATE_END = 255;

// The byte that introduces a directive.
inline constexpr int TOLVAK_DIRECTIVE = 0x01;

// The byte that closes a stretch of template which a callback writes or skips.
inline constexpr int TOLVAK_SECTION_END = 0x02;

// Reads the template file at path whole into *in and applies the text rules. 0, or -1 when
// the path names no regular file that can be opened (a symbolic link is not followed, and a
// FIFO never waited for), or there is no memory for it. A read
// error ends the template where it happened, as the end of the file would.
int Tolvak_OpenTemplate(const char *path, Tolvak_TemplateStream *in);

// Applies the text rules to n template bytes in place: the template ends before the first
// 0x1A, and every CR is dropped. Returns the new length.
std::size_t Tolvak_TemplateText(char *bytes, std::size_t n);

// Expands from the stream's position until the terminator byte (its low byte counts) is read
// where text is expected, or the stream ends; the terminator is consumed, not written. A
// callback number outside the table calls nothing.
void Tolvak_ExpandTemplate(Tolvak_TemplateStream *in, FILE *out, Tolvak_CallbackTable table,
                           int terminator);

// The run of a page program after its intake: writes the response header, opens the page
// template name (through the path builder) and expands it whole onto standard output with
// the program's callbacks. A template that cannot be opened ends the run with the error page
// "Can't open <path>". Standard output is fully buffered from here on, in a buffer of 64 KiB,
// so it is the run's first output; what stays buffered goes out at exit.
void Tolvak_ShowPage(const char *name, Tolvak_CallbackTable table);

// The next template byte, or EOF at the end.
inline int Tolvak_GetByte(Tolvak_TemplateStream *in)
{
    return in->next < in->end ? static_cast<unsigned char>(*in->next++) : EOF;
}

// Reads a decimal number: optional white space, an optional sign, digits. The first byte that
// does not fit stays unread. False when there are no digits. The value saturates.
bool Tolvak_ReadNumber(Tolvak_TemplateStream *in, std::int64_t *value);

// Reads the byte or number argument that contract states, "(c)" or "(N)", into *value: 0, or
// TOLVAK_ARGUMENT_MISSING with nothing but the parts that fitted consumed, or
// TOLVAK_ARGUMENT_OUTSIDE for a byte that the callback does not take. A missing ')' does not
// matter; closed, unless null, tells whether it was there.
int Tolvak_ReadArgument(Tolvak_TemplateStream *in, const Tolvak_CallbackContract &contract,
                        std::int64_t *value, bool *closed = nullptr);

// Reads the template up to and including the next 0x02, or to its end, and copies what it
// reads before the 0x02 to out, unless out is null. True when a 0x02 ended it.
bool Tolvak_CopySection(Tolvak_TemplateStream *in, FILE *out);

// Reads the template up to and including the first byte a or b, and copies what it reads
// before it to out, unless out is null. Returns that byte, or EOF at the end of the template.
int Tolvak_SkipPast(Tolvak_TemplateStream *in, int a, int b, FILE *out = nullptr);

// Skips n pieces of the template, each up to and including a LF or 0x02, so that the stream
// stands at the start of the n-th line from here. True when that line is there: every piece
// ended at a LF, and the next byte is neither 0x02 nor the end.
bool Tolvak_SkipLines(Tolvak_TemplateStream *in, int n);
