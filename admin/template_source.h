// The board's default templates. They live in the repository (admin/templates/) as UTF-8
// sources that a reviewer can read, and the build carries them inside zt-admin. The two
// control bytes of the template format are written in a source as visible characters:
//
//   U+2401 (the picture of SOH)   the byte 0x01, which introduces a directive
//   U+2402 (the picture of STX)   the byte 0x02, which closes an alternative section
//
// A board gets each template converted: the two pictures become their bytes and the text
// becomes Shift_JIS, the board's code.
#pragma once

#include <span>
#include <string>
#include <string_view>

struct DefaultTemplate {
    const char *name;        // file name under the board's zt/, "zt-view.htm" and so on
    std::string_view source; // UTF-8
};

// The page templates zt-write.htm, zt-view.htm, zt-read.htm, then the record templates
// zt-com1.htm and on, one for each comment log.
std::span<const DefaultTemplate> default_templates();

// Turns a UTF-8 template source into the bytes a board holds. False, with *problem naming the
// line, when the source holds a character Shift_JIS lacks, is not UTF-8, or holds a raw
// control byte (anything below 0x20 but LF and TAB, and DEL), which a source never does: the
// template bytes are written as their pictures.
bool template_to_board(std::string_view source, std::string *bytes, std::string *problem);
