// Conversion of template sources into board templates.
#include "template_source.h"

#include <cstdio>

#include "sjis.h"
#include "template.h"

namespace {

// The UTF-8 forms of U+2401 and U+2402, the pictures of TOLVAK_DIRECTIVE and
// TOLVAK_SECTION_END.
constexpr std::string_view DIRECTIVE_PICTURE = "\xE2\x90\x81";
constexpr std::string_view SECTION_END_PICTURE = "\xE2\x90\x82";

}  // namespace

bool template_to_board(std::string_view source, std::string *bytes, std::string *problem)
{
    // The control bytes pass through the converter unchanged, so the pictures are replaced
    // first and the whole text is converted in one go.
    std::string text;
    text.reserve(source.size());
    int line = 1;
    for (std::size_t i = 0; i < source.size(); i++) {
        const unsigned char c = source[i];
        if ((c < 0x20 && c != '\n' && c != '\t') || c == 0x7F) {
            char message[120];
            snprintf(message, sizeof message,
                     "line %d: raw control byte 0x%02X (write U+2401 or U+2402 for the template "
                     "bytes)",
                     line, c);
            *problem = message;
            return false;
        }
        line += c == '\n';
        const std::string_view rest = source.substr(i);
        if (rest.starts_with(DIRECTIVE_PICTURE)) {
            text += static_cast<char>(TOLVAK_DIRECTIVE);
            i += DIRECTIVE_PICTURE.size() - 1;
        } else if (rest.starts_with(SECTION_END_PICTURE)) {
            text += static_cast<char>(TOLVAK_SECTION_END);
            i += SECTION_END_PICTURE.size() - 1;
        } else {
            text += static_cast<char>(c);
        }
    }
    return utf8_to_sjis(text, bytes, problem);
}
