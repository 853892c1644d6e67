#include <array>
#include <string_view>

#include "encode.h"

// Bytes that a URL carries as they are: letters, digits and ten marks.
static constexpr std::array<bool, 256> url_plain = [] {
    std::array<bool, 256> plain{};
    for (const unsigned char c : std::string_view("0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                                  "abcdefghijklmnopqrstuvwxyz$-_@.!*(),"))
        plain[c] = true;
    return plain;
}();

void Tolvak_UrlEncode(const char *s, FILE *out)
{
    static constexpr char hex[] = "0123456789abcdef";
    if (!s)
        return;
    for (; *s; s++) {
        const unsigned char c = *s;
        if (url_plain[c]) {
            putc_unlocked(c, out);
        } else {
            putc_unlocked('%', out);
            putc_unlocked(hex[c >> 4], out);
            putc_unlocked(hex[c & 15], out);
        }
    }
}

void Tolvak_HtmlEscape(const char *s, FILE *out)
{
    if (!s)
        return;
    for (; *s; s++)
        Tolvak_HtmlByte(*s, out);
}
