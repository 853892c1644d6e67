// Shift_JIS for the operator's side of the board: what zt-admin writes into the board (the
// templates, the theme) goes from UTF-8 into the board's code, and what it shows of the board
// (the text, the theme, the logs) comes back as UTF-8 for a terminal.
//
// The board's code is Shift_JIS as browsers speak it (Windows-31J, glibc's CP932): a page
// declared as Shift_JIS is read and posted by a browser in that code, so the templates and
// the theme are written in it too, and the text that browsers posted is read back in it.
//
//   0x00-0x7F          ASCII (0x5C and 0x7E read as \ and ~)
//   0xA1-0xDF          half-width katakana, one byte
//   0x81-0x9F 0xE0-0xFC  lead byte of a double-byte character; trail 0x40-0x7E, 0x80-0xFC
//
// The converters are glibc's iconv, loaded at run time; zt-admin is therefore linked
// dynamically, unlike the CGI programs.
#pragma once

#include <string>
#include <string_view>

// Converts UTF-8 text into the board's code. False when the text is not valid UTF-8 or holds
// a character the board's code lacks; *problem then names the character and its line.
bool utf8_to_sjis(std::string_view utf8, std::string *sjis, std::string *problem);

// Converts bytes in the board's code into UTF-8 for display. Bytes that form no character,
// and control bytes other than TAB (which a visitor could post to reach the terminal), come
// out as U+FFFD; nothing is dropped, so every byte stays visible as something.
std::string sjis_to_utf8(std::string_view sjis);
