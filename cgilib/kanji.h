// Japanese character-code detection and conversion: the last step of the full intake. The
// code of a request (7-bit JIS, EUC-JP or Shift_JIS) is decided from the bytes of the whole
// request buffer, and every name and value of a complete pair is rewritten in place, inside
// its slot, into the board's internal code: Shift_JIS in which every kana is full-width, so
// that four characters are always eight bytes.
#pragma once

#include <array>
#include <cstdint>

enum KanjiCode : int {
    KANJI_NONE = 0,         // no evidence of a Japanese multi-byte code; nothing converts
    KANJI_JIS = 1,          // 7-bit JIS: two-byte characters between escape sequences
    KANJI_EUC = 2,          // EUC-JP
    KANJI_SJIS = 3,         // Shift_JIS
    KANJI_EUC_OR_SJIS = 7,  // undecided; used only inside detection
};

// The answer of the last decided detection, and the answer to an undecided one.
extern KanjiCode Tolvak_LastCode;

// Detects the code of the request buffer that starts at data, reading up to its sentinel CR.
KanjiCode Tolvak_DetectCode(const char *data);

// Detects the code of the request buffer and converts the first Tolvak_DataCount entries of
// the field index in place.
void Tolvak_ToSjis();
