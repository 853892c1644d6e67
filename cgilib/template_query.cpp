// The query-string template variant: fields are raw values inside QUERY_STRING, each ending
// at the next '&'. Nothing is decoded for '%' and '|'; '{' decodes %xx escapes. Both escape
// whatever could break out of an attribute or open a tag, however it arrived, so that a
// crafted link cannot put markup into the page.
#include "encode.h"
#include "number.h"
#include "query.h"
#include "template_engine.h"

// '%' and '|': the raw value as a browser would have sent it. Quotes, angle brackets, control
// bytes, space and DEL go out as %XX; everything else, %xx escapes included, as it stands.
static void write_raw(const char *value, FILE *out)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    for (; *value && *value != '&'; value++) {
        const unsigned char c = *value;
        if (c <= ' ' || c == 0x7F || c == '"' || c == '\'' || c == '<' || c == '>') {
            putc_unlocked('%', out);
            putc_unlocked(hex[c >> 4], out);
            putc_unlocked(hex[c & 15], out);
        } else {
            putc_unlocked(c, out);
        }
    }
}

// '{': the value with %xx escapes decoded and HTML-escaped. A '%' without two hex digits
// after it is dropped.
static void write_html(const char *value, FILE *out)
{
    for (; *value && *value != '&'; value++) {
        unsigned char c = *value;
        if (c == '%') {
            const int high = Tolvak_HexValue(value[1]);
            const int low = high < 0 ? -1 : Tolvak_HexValue(value[2]);
            if (low < 0)
                continue;
            c = static_cast<unsigned char>(high << 4 | low);
            value += 2;
        }
        Tolvak_HtmlByte(c, out);
    }
}

static constexpr Tolvak_TemplateVariant query_variant = {
    Tolvak_QueryFind, nullptr, write_raw, write_html, '&', false,
};

void Tolvak_ExpandTemplate(Tolvak_TemplateStream *in, FILE *out, Tolvak_CallbackTable table,
                           int terminator)
{
    Tolvak_ExpandWith(query_variant, in, out, table, terminator);
}
