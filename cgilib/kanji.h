// Japanese character-code detection and conversion: the last step of the full intake. The
// code of a request (7-bit JIS, EUC-JP or Shift_JIS) is decided from the bytes of the whole
// request buffer, and every name and value of a complete pair is rewritten in place, inside
// its slot, into Shift_JIS in which every kana is full-width, so that every kana of the
// result takes two bytes. Nothing is allocated; the only state is the
// answer of the last decided detection.
//
// What a byte can be in each code (JIS X 0208 row r and cell c, both 1-94):
//
//   byte    JIS      EUC-JP                          Shift_JIS
//   00-3F   ASCII    ASCII                           ASCII
//   40-7E   ASCII    ASCII                           ASCII, trail
//   7F      ASCII    ASCII                           ASCII
//   80      -        -                               trail
//   81-8D   -        -                               lead, trail
//   8E      -        8E A1-DF: half-width kana       lead, trail
//   8F      -        8F A1-FE A1-FE: JIS X 0212      lead, trail
//   90-9F   -        -                               lead, trail
//   A0      -        -                               trail
//   A1-DF   -        lead r+A0, trail c+A0           half-width kana, trail
//   E0-EF   -        lead, trail                     lead, trail
//   F0-FC   -        lead, trail                     lead (user area), trail
//   FD-FE   -        lead, trail                     -
//   FF      -        -                               -
//
// JIS is 7-bit and switches with escape sequences: ESC $ B opens a kanji segment, in which
// each pair of bytes 21-7E 21-7E is row r+20, cell c+20; ESC ( J or ESC ( B closes it.
// Shift_JIS folds two rows into one lead byte: lead (r+1)/2 + 80 for rows 1-62 and
// (r+1)/2 + C0 for rows 63-94; trail c+3F (c+40 from cell 64 on, skipping 7F) in odd rows,
// c+9E in even rows. The detector looks for bytes that only one code can hold at a place:
// 81-8D and 8F-9F as first bytes are Shift_JIS, F0-FE after A1-DF is EUC-JP.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

enum Tolvak_KanjiCode : int {
    KANJI_NONE = 0,         // no evidence of a Japanese multi-byte code; nothing converts
    KANJI_JIS = 1,          // 7-bit JIS: two-byte characters between escape sequences
    KANJI_EUC = 2,          // EUC-JP
    KANJI_SJIS = 3,         // Shift_JIS
    KANJI_EUC_OR_SJIS = 7,  // undecided; used only inside detection
};

// The answer of the last decided detection (EUC-JP or Shift_JIS), and the answer to an
// undecided one. Starts as KANJI_SJIS, so in a fresh process an undecided request is
// Shift_JIS.
extern Tolvak_KanjiCode Tolvak_LastCode;

// Whether the Shift_JIS byte c is a lead byte, which takes the byte after it along.
constexpr bool Tolvak_IsSjisLead(unsigned char c)
{
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

// How many of the first limit bytes of the Shift_JIS text s (n bytes) hold whole characters:
// limit itself, or one less where the byte at limit - 1 is a lead byte whose second byte lies
// beyond. A lead byte takes the byte after it along, whatever that is.
constexpr std::size_t Tolvak_SjisWhole(const char *s, std::size_t n, std::size_t limit)
{
    std::size_t i = 0;
    while (i < n && i < limit) {
        const std::size_t width = Tolvak_IsSjisLead(static_cast<unsigned char>(s[i])) ? 2 : 1;
        if (i + width > limit)
            break;
        i += width;
    }
    return i;
}

// The longest decimal character reference that counts as one character: "&#", the 7 digits of
// the highest code point (1114111) and ";". A browser sends a character that the page's code
// lacks as such a reference.
inline constexpr std::size_t TOLVAK_REFERENCE_BYTES = 10;

// How many bytes of the Shift_JIS text s (n bytes) hold its first count characters, counted
// as a reader counts them: a double-byte character is one, and so is a reference of "&#", 1 to
// 7 digits and ";". A lead byte at the very end counts as a character of its own.
constexpr std::size_t Tolvak_SjisPrefix(const char *s, std::size_t n, std::size_t count)
{
    std::size_t i = 0;
    for (; count > 0 && i < n; count--) {
        std::size_t width = Tolvak_IsSjisLead(static_cast<unsigned char>(s[i])) ? 2 : 1;
        if (s[i] == '&' && i + 1 < n && s[i + 1] == '#') {
            const std::size_t last_digit = i + TOLVAK_REFERENCE_BYTES - 2;
            std::size_t end = i + 2;
            while (end < n && end <= last_digit && s[end] >= '0' && s[end] <= '9')
                end++;
            if (end > i + 2 && end < n && s[end] == ';')
                width = end + 1 - i;
        }
        i = i + width < n ? i + width : n;
    }
    return i;
}

// The full-width Shift_JIS character, lead byte in the high half, for each half-width katakana
// byte 0xA1-0xDF (index byte - 0xA1). The sound marks 0xDE and 0xDF become the spacing marks
// 814A and 814B; no mark is ever merged with the kana before it.
inline constexpr std::array<std::uint16_t, 63> Tolvak_KanaTable = {
    0x8142, 0x8175, 0x8176, 0x8141, 0x8145, 0x8392, 0x8340, 0x8342,  // A1-A8
    0x8344, 0x8346, 0x8348, 0x8383, 0x8385, 0x8387, 0x8362,          // A9-AF
    0x815B, 0x8341, 0x8343, 0x8345, 0x8347, 0x8349, 0x834A, 0x834C,  // B0-B7
    0x834E, 0x8350, 0x8352, 0x8354, 0x8356, 0x8358, 0x835A, 0x835C,  // B8-BF
    0x835E, 0x8360, 0x8363, 0x8365, 0x8367, 0x8369, 0x836A, 0x836B,  // C0-C7
    0x836C, 0x836D, 0x836E, 0x8371, 0x8374, 0x8377, 0x837A, 0x837D,  // C8-CF
    0x837E, 0x8380, 0x8381, 0x8382, 0x8384, 0x8386, 0x8388, 0x8389,  // D0-D7
    0x838A, 0x838B, 0x838C, 0x838D, 0x838F, 0x8393, 0x814A, 0x814B,  // D8-DF
};

// Detects the code of the request buffer that starts at data, reading up to its sentinel CR
// and never past it: KANJI_NONE, KANJI_JIS, KANJI_EUC or KANJI_SJIS. A decided EUC-JP or
// Shift_JIS answer is stored in Tolvak_LastCode; an undecided one is taken from it.
Tolvak_KanjiCode Tolvak_DetectCode(const char *data);

// Detects the code of the request buffer and converts the strings of the first
// Tolvak_DataCount entries of the field index in place, each inside its slot and ended by a
// NUL. A string only grows where half-width kana widen, into the spare bytes that their %xx
// escapes left; removed escape sequences and dropped bytes leave NULs behind the string.
// Bytes that begin no character of the detected code: under Shift_JIS and outside a JIS
// kanji segment they stay as they are; under EUC-JP and inside a segment a byte below 0x80
// stays and a high byte is dropped, so the internal code never holds a stray lead byte.
void Tolvak_ToSjis();
