// The encoders that write form values into a page: for a URL, and for HTML text or a quoted
// attribute. Both write byte by byte to the stream, with no copy.
#pragma once

#include <cstdio>

// Writes s for use inside a URL: letters, digits and $-_@.!*(), stay as they are, every other
// byte becomes %xx in lower-case hex (quotes included, so a value cannot leave a quoted
// attribute). A null s writes nothing.
void Tolvak_UrlEncode(const char *s, FILE *out);

// Writes s for use in HTML text or a quoted attribute: " & < > ' become &#34; &#38; &#60;
// &#62; &#39;, every other byte goes out unchanged. A null s writes nothing.
void Tolvak_HtmlEscape(const char *s, FILE *out);

// One byte of HTML-escaped text: the five characters that can end text or an attribute go out
// as their decimal character references, every other byte as it is. Both template variants
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
