// Output helpers shared by the three programs: the error page that ends a run, the path
// builder through which every data file and template is named, the two directory operations
// on which the posting lock rests, and the URL and HTML encoders that write form values into
// a page.
//
// The path builder keeps one static buffer, Tolvak_BaseDir: the compiled-in base directory
// followed by the path of the latest call. Every call overwrites the previous result, so a
// caller uses a built path before it builds the next one.
//
// The query-string configuration (zt-view, zt-read) links the error page and the path builder
// only, with an empty base; the directory operations and the encoders belong to zt-write.
#pragma once

#include <cstddef>
#include <cstdio>

// The platform's path limit: base directory, relative path and NUL together.
inline constexpr std::size_t TOLVAK_PATH_BYTES = 260;

// The base directory, then the path of the latest Tolvak_Path call behind it.
extern char Tolvak_BaseDir[TOLVAK_PATH_BYTES];

// Writes the error page (its own header included, also after a header the caller has
// written) with the formatted message, and ends the process with status 1.
[[noreturn]] void Tolvak_Error(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Formats a relative path behind the base directory and returns the buffer. A path that does
// not fit is refused: the result is then the empty string, which names no file, rather than a
// truncated path that might name another one.
const char *Tolvak_Path(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Creates one directory (no parents). 0 when created, -1 when not, for whatever reason: it
// exists, its parent is missing, access is denied. Creation is atomic, which makes it a lock.
int Tolvak_MakeDir(const char *path);

// Removes one empty directory. 0 when removed, -1 when not.
int Tolvak_RemoveDir(const char *path);

// Writes s for use inside a URL: letters, digits and $-_@.!*(), stay as they are, every other
// byte becomes %xx in lower-case hex (quotes included, so a value cannot leave a quoted
// attribute). A null s writes nothing.
void Tolvak_UrlEncode(const char *s, FILE *out);

// Writes s for use in HTML text or a quoted attribute: " & < > ' become &#34; &#38; &#60;
// &#62; &#39;, every other byte goes out unchanged. A null s writes nothing.
void Tolvak_HtmlEscape(const char *s, FILE *out);

// One byte of HTML-escaped text: the five characters that can end text or an attribute go out
// as their decimal character references, every other byte as it is. Both template engines
// escape through it.
inline void Tolvak_HtmlByte(unsigned char c, FILE *out)
{
    switch (c) {
    case '"': fputs_unlocked("&#34;", out); break;
    case '&': fputs_unlocked("&#38;", out); break;
    case '\'': fputs_unlocked("&#39;", out); break;
    case '<': fputs_unlocked("&#60;", out); break;
    case '>': fputs_unlocked("&#62;", out); break;
    default: putc_unlocked(c, out); break;
    }
}
