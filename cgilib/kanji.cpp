// Detection of the request's Japanese code and its conversion to the internal Shift_JIS, in
// place in the request buffer that the intake built (see form.h for its layout).
#include <cstring>

#include "form.h"
#include "kanji.h"

Tolvak_KanjiCode Tolvak_LastCode = KANJI_SJIS;

namespace {

constexpr unsigned ESC = 0x1B;

// The CR behind the NUL that ends the data. No string holds a CR, so the first one from the
// start of the buffer is this one, and every scan across strings stops there.
constexpr unsigned SENTINEL = '\r';

constexpr bool in(unsigned c, unsigned low, unsigned high)
{
    return c >= low && c <= high;
}

// First bytes that only Shift_JIS has: its lead bytes below the EUC-JP range, except 8E.
constexpr bool sjis_only_lead(unsigned c)
{
    return in(c, 0x81, 0x9F) && c != 0x8E;
}

// The first pass of detection over the whole buffer; KANJI_EUC_OR_SJIS when it found only
// bytes that both EUC-JP and Shift_JIS can hold. Every byte is checked against the sentinel
// before its value decides anything, so the scan never reads past it.
Tolvak_KanjiCode scan(const unsigned char *p)
{
    Tolvak_KanjiCode guess = KANJI_NONE;
    for (;;) {
        const unsigned c = p[0];
        if (c == SENTINEL)
            return guess;
        if (c == ESC) {
            const unsigned d = p[1];
            if (d == SENTINEL)
                return guess;
            if (d != '$') {
                p += 2;
                continue;
            }
            const unsigned e = p[2];
            if (e == SENTINEL)
                return guess;
            if (e == 'B' || e == '@')
                return KANJI_JIS;
            p += 3;
            continue;
        }
        if (sjis_only_lead(c))
            return KANJI_SJIS;
        if (c == 0x8E) {
            // An EUC-JP half-width kana has A1-DF behind 8E; anything Shift_JIS allows
            // behind a lead byte, but EUC-JP does not, decides for Shift_JIS.
            const unsigned d = p[1];
            if (d == SENTINEL)
                return guess;
            if (in(d, 0x40, 0x7E) || in(d, 0x80, 0xA0) || in(d, 0xE0, 0xFC))
                return KANJI_SJIS;
            if (in(d, 0xA1, 0xDF))
                guess = KANJI_EUC_OR_SJIS;
            p += 2;
            continue;
        }
        if (in(c, 0xA1, 0xDF)) {
            // An EUC-JP lead byte or a Shift_JIS half-width kana: the next byte tells.
            const unsigned d = p[1];
            if (d == SENTINEL)
                return guess;
            if (in(d, 0xF0, 0xFE))
                return KANJI_EUC;
            if (d <= 0x9F)
                return KANJI_SJIS;
            if (in(d, 0xA1, 0xDF)) {
                guess = KANJI_EUC_OR_SJIS;
            } else if (in(d, 0xE0, 0xEF)) {
                // Both codes have lead bytes here; read on until a byte decides, or a byte
                // below 0x40, which neither code has inside a character, ends the run.
                guess = KANJI_EUC_OR_SJIS;
                const unsigned char *q = p + 2;
                for (;; q++) {
                    const unsigned b = *q;
                    if (b == SENTINEL)
                        return KANJI_EUC_OR_SJIS;
                    if (sjis_only_lead(b))
                        return KANJI_SJIS;
                    if (b == 0xFD || b == 0xFE)
                        return KANJI_EUC;
                    if (b < 0x40)
                        break;
                }
                p = q + 1;
                continue;
            }
            p += 2;  // d is A0 or FF, which decide nothing
            continue;
        }
        p++;
    }
}

// The second pass when the first stayed undecided: EUC-JP if two kana stand in a row in
// EUC-JP (lead bytes A4 hiragana, A5 katakana), else still undecided.
Tolvak_KanjiCode tie_break(const unsigned char *p)
{
    for (;;) {
        const unsigned c = p[0];
        if (c == SENTINEL)
            return KANJI_EUC_OR_SJIS;
        if (c != 0xA4 && c != 0xA5) {
            p++;
            continue;
        }
        if (p[1] == SENTINEL || p[2] == SENTINEL)
            return KANJI_EUC_OR_SJIS;
        if (p[2] == 0xA4 || p[2] == 0xA5)
            return KANJI_EUC;
        p += 3;
    }
}

// Writes the Shift_JIS form of the JIS X 0208 character whose row and cell bytes, with the
// high bit set (EUC-JP), are b and t, both A1-FE.
void put_jis0208(unsigned b, unsigned t, unsigned char *out)
{
    out[0] = static_cast<unsigned char>(((b - 0x5F) >> 1) ^ 0xA0);
    out[1] = static_cast<unsigned char>(b & 1 ? (t < 0xE0 ? t - 0x61 : t - 0x60) : t - 2);
}

// Writes the full-width form of the half-width kana byte k (A1-DF).
void put_kana(unsigned k, unsigned char *out)
{
    const unsigned wide = Tolvak_KanaTable[k - 0xA1];
    out[0] = static_cast<unsigned char>(wide >> 8);
    out[1] = static_cast<unsigned char>(wide & 0xFF);
}

// Ends a string that was rewritten from r into w (w <= r, r at its old NUL): the freed
// bytes become NUL, so the slot holds nothing stale behind the string.
void end_shorter(unsigned char *w, const unsigned char *r)
{
    memset(w, 0, static_cast<std::size_t>(r - w) + 1);
}

// EUC-JP to Shift_JIS. Every character keeps its two bytes; a three-byte JIS X 0212
// character, which Shift_JIS cannot hold, and a high byte that begins no character (a lead
// byte before a byte outside A1-FE or before the NUL, 8E before a byte outside A1-DF) are
// dropped. The byte after a dropped one is read afresh.
void convert_euc(unsigned char *s)
{
    unsigned char *w = s;
    const unsigned char *r = s;
    for (unsigned c; (c = *r) != 0;) {
        if (c < 0x80) {
            *w++ = static_cast<unsigned char>(c);
            r++;
            continue;
        }
        const unsigned t = r[1];  // the NUL at the latest, since c is not
        if (c == 0x8E && in(t, 0xA1, 0xDF)) {
            put_kana(t, w);
            w += 2;
            r += 2;
        } else if (in(c, 0xA1, 0xFE) && in(t, 0xA1, 0xFE)) {
            put_jis0208(c, t, w);
            w += 2;
            r += 2;
        } else if (c == 0x8F && in(t, 0xA1, 0xFE) && in(r[2], 0xA1, 0xFE)) {
            r += 3;
        } else {
            r++;
        }
    }
    end_shorter(w, r);
}

// Whether the escape sequence ESC a b begins at r; reads no further than the string's NUL.
bool escape_at(const unsigned char *r, unsigned a, unsigned b)
{
    return r[0] == ESC && r[1] == a && r[2] == b;
}

// 7-bit JIS to Shift_JIS. ESC $ B opens a kanji segment and ESC ( J or ESC ( B closes it;
// the escapes are removed. In a segment each pair of bytes 21-7E becomes its Shift_JIS
// character; a byte that begins no pair stays if it is below 0x80 and is dropped otherwise,
// and the segment ends at the string's end at the latest. Outside a segment every byte stays.
void convert_jis(unsigned char *s)
{
    unsigned char *w = s;
    const unsigned char *r = s;
    bool kanji = false;
    for (unsigned c; (c = *r) != 0;) {
        if (escape_at(r, '$', 'B')) {
            kanji = true;
            r += 3;
        } else if (!kanji) {
            *w++ = static_cast<unsigned char>(c);
            r++;
        } else if (escape_at(r, '(', 'J') || escape_at(r, '(', 'B')) {
            kanji = false;
            r += 3;
        } else if (in(c, 0x21, 0x7E) && in(r[1], 0x21, 0x7E)) {
            put_jis0208(c | 0x80, r[1] | 0x80u, w);
            w += 2;
            r += 2;
        } else {
            if (c < 0x80)
                *w++ = static_cast<unsigned char>(c);
            r++;
        }
    }
    end_shorter(w, r);
}

// Widens the half-width kana of a Shift_JIS string in place; limit is the end of its slot.
// Each widened byte needs one more byte, which the slot always has, since every high byte
// came from a three-byte %xx escape; kana beyond the room of the slot would stay half-width.
// Lead bytes take their trail byte along unchanged, but never the string's NUL.
//
// One pass counts the kana, the string then moves right by that many bytes, and a second
// pass writes it back from the start, widening as it goes: the write position catches up
// with the read position by one byte per kana and meets it after the last one.
void convert_sjis(unsigned char *s, const unsigned char *limit)
{
    std::size_t length = 0;
    std::size_t kana = 0;
    while (const unsigned c = s[length]) {
        if (in(c, 0xA1, 0xDF))
            kana++;
        if (Tolvak_IsSjisLead(c) && s[length + 1] != 0)
            length++;
        length++;
    }
    const std::size_t slot = static_cast<std::size_t>(limit - s);
    const std::size_t room = slot > length + 1 ? slot - (length + 1) : 0;
    std::size_t extra = kana < room ? kana : room;
    if (extra == 0)
        return;

    memmove(s + extra, s, length + 1);
    unsigned char *w = s;
    const unsigned char *r = s + extra;
    while (extra > 0) {
        const unsigned c = r[0];
        if (in(c, 0xA1, 0xDF)) {
            put_kana(c, w);
            w += 2;
            r++;
            extra--;
        } else {
            *w++ = *r++;
            if (Tolvak_IsSjisLead(c) && *r != 0)  // its trail byte along
                *w++ = *r++;
        }
    }
}

// The end of the slot of index entry k: the start of the next indexed string, or, for the
// last one, the sentinel (the slot includes the NUL that ends the data).
const unsigned char *slot_end(std::size_t k)
{
    if (Tolvak_DataIndex[k + 1])
        return reinterpret_cast<const unsigned char *>(Tolvak_DataIndex[k + 1]);
    const unsigned char *p = reinterpret_cast<const unsigned char *>(Tolvak_DataIndex[k]);
    while (*p != SENTINEL)
        p++;
    return p;
}

}  // namespace

Tolvak_KanjiCode Tolvak_DetectCode(const char *data)
{
    const auto *bytes = reinterpret_cast<const unsigned char *>(data);
    Tolvak_KanjiCode code = scan(bytes);
    if (code == KANJI_EUC_OR_SJIS)
        code = tie_break(bytes);
    if (code == KANJI_EUC_OR_SJIS)
        return Tolvak_LastCode;
    if (code == KANJI_EUC || code == KANJI_SJIS)
        Tolvak_LastCode = code;
    return code;
}

void Tolvak_ToSjis()
{
    if (!Tolvak_Data || !Tolvak_DataIndex)
        return;
    const Tolvak_KanjiCode code = Tolvak_DetectCode(Tolvak_Data);
    if (code == KANJI_NONE)
        return;
    for (std::size_t k = 0; k < Tolvak_DataCount; k++) {
        auto *s = reinterpret_cast<unsigned char *>(Tolvak_DataIndex[k]);
        if (!s)
            continue;
        if (code == KANJI_SJIS)
            convert_sjis(s, slot_end(k));
        else if (code == KANJI_EUC)
            convert_euc(s);
        else if (code == KANJI_JIS)
            convert_jis(s);
    }
}
