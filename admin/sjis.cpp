// Conversions between UTF-8 and the board's code through glibc's iconv.
#include "sjis.h"

#include <iconv.h>

#include <cerrno>
#include <cstdio>

namespace {

// glibc's name for Shift_JIS as browsers speak it (Windows-31J).
constexpr const char *BOARD_CODE = "CP932";

constexpr std::string_view REPLACEMENT = "\xEF\xBF\xBD";  // U+FFFD

// An open converter, closed on every path.
class Converter {
public:
    Converter(const char *to, const char *from) : cd_(iconv_open(to, from)) {}
    ~Converter()
    {
        if (ok())
            iconv_close(cd_);
    }
    Converter(const Converter &) = delete;
    Converter &operator=(const Converter &) = delete;

    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    // Converts as much of *in as it can onto the end of *out. Returns 0 when all of it was
    // converted, else the errno of the byte at which it stopped (*in then starts there).
    int run(std::string_view *in, std::string *out)
    {
        char *from = const_cast<char *>(in->data());
        std::size_t from_left = in->size();
        int error = 0;
        while (from_left > 0) {
            char buffer[4096];
            char *to = buffer;
            std::size_t to_left = sizeof buffer;
            const std::size_t result = iconv(cd_, &from, &from_left, &to, &to_left);
            out->append(buffer, static_cast<std::size_t>(to - buffer));
            if (result == static_cast<std::size_t>(-1) && errno != E2BIG) {
                error = errno;
                break;
            }
        }
        *in = std::string_view(from, from_left);
        return error;
    }

private:
    iconv_t cd_;
};

// The code point and length of the UTF-8 sequence at the start of s, or a length of 0 when
// no valid sequence starts there.
struct Utf8Char {
    unsigned long code = 0;
    std::size_t length = 0;
};

Utf8Char decode_utf8(std::string_view s)
{
    if (s.empty())
        return {};
    const unsigned char lead = s[0];
    std::size_t length;
    unsigned long code;
    if (lead < 0x80)
        return {lead, 1};
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2, code = lead & 0x1F;
    else if (lead >= 0xE0 && lead <= 0xEF)
        length = 3, code = lead & 0x0F;
    else if (lead >= 0xF0 && lead <= 0xF4)
        length = 4, code = lead & 0x07;
    else
        return {};
    if (s.size() < length)
        return {};
    for (std::size_t i = 1; i < length; i++) {
        const unsigned char c = s[i];
        if ((c & 0xC0) != 0x80)
            return {};
        code = code << 6 | (c & 0x3F);
    }
    static constexpr unsigned long shortest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < shortest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return {};
    return {code, length};
}

bool is_control(unsigned char c)
{
    return (c < 0x20 && c != '\t') || c == 0x7F;
}

}  // namespace

bool utf8_to_sjis(std::string_view utf8, std::string *sjis, std::string *problem)
{
    Converter converter(BOARD_CODE, "UTF-8");
    if (!converter.ok()) {
        *problem = "this system's iconv has no Shift_JIS converter (CP932)";
        return false;
    }
    sjis->clear();
    std::string_view rest = utf8;
    if (converter.run(&rest, sjis) == 0)
        return true;

    const std::string_view before = utf8.substr(0, utf8.size() - rest.size());
    int line = 1;
    for (char c : before)
        line += c == '\n';
    const Utf8Char bad = decode_utf8(rest);
    char message[160];
    if (bad.length == 0)
        snprintf(message, sizeof message, "line %d: the text is not valid UTF-8", line);
    else
        snprintf(message, sizeof message,
                 "line %d: \"%.*s\" (U+%04lX) has no Shift_JIS form and cannot be used", line,
                 static_cast<int>(bad.length), rest.data(), bad.code);
    *problem = message;
    return false;
}

std::string sjis_to_utf8(std::string_view sjis)
{
    std::string utf8;
    Converter converter("UTF-8", BOARD_CODE);
    if (!converter.ok()) {
        for (std::size_t i = 0; i < sjis.size(); i++)
            utf8 += static_cast<unsigned char>(sjis[i]) < 0x80 && !is_control(sjis[i])
                        ? std::string(1, sjis[i])
                        : std::string(REPLACEMENT);
        return utf8;
    }
    // Control bytes are never part of a double-byte character, so the text splits at them
    // into runs that convert on their own.
    std::size_t i = 0;
    while (i < sjis.size()) {
        if (is_control(sjis[i])) {
            utf8 += REPLACEMENT;
            i++;
            continue;
        }
        std::size_t end = i;
        while (end < sjis.size() && !is_control(sjis[end]))
            end++;
        std::string_view run = sjis.substr(i, end - i);
        while (!run.empty() && converter.run(&run, &utf8) != 0) {
            utf8 += REPLACEMENT;  // a byte that starts no character here
            run.remove_prefix(1);
        }
        i = end;
    }
    return utf8;
}
