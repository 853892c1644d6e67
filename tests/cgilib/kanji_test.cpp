// Detection of the request's Japanese code and its conversion to the internal Shift_JIS:
// the detector's byte rules on buffers laid out as the intake leaves them, conversions
// through the real intake, the half-width kana, and the bounds of every string's slot.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "board.h"
#include "case_name.h"
#include "board_files.h"
#include "form.h"
#include "intake.h"
#include "kanji.h"

using namespace std::string_literals;
using zt_test::FormBody;
using zt_test::Post;

namespace {

// Runs the detector over a request buffer holding data: the bytes, the NUL that ends the
// data and the sentinel, in an allocation of exactly that size, so that a read past the
// sentinel trips the address sanitizer.
Tolvak_KanjiCode detect(const std::string &data, Tolvak_KanjiCode last)
{
    const std::size_t size = data.size() + 2;
    const auto buffer = std::make_unique<char[]>(size);
    memcpy(buffer.get(), data.data(), data.size());
    buffer[size - 2] = '\0';
    buffer[size - 1] = '\r';
    Tolvak_LastCode = last;
    return Tolvak_DetectCode(buffer.get());
}

struct DetectCase {
    const char *what;
    std::string data;       // names and values with their NULs, as the intake leaves them
    Tolvak_KanjiCode last;         // Tolvak_LastCode before
    Tolvak_KanjiCode expected;     // the answer
    Tolvak_KanjiCode last_after;   // Tolvak_LastCode after
};

void PrintTo(const DetectCase &c, std::ostream *os)
{
    *os << c.what;
}

class Detect : public testing::TestWithParam<DetectCase> {};

TEST_P(Detect, AnswersAndRemembers)
{
    const DetectCase &c = GetParam();
    EXPECT_EQ(detect(c.data, c.last), c.expected) << c.what;
    EXPECT_EQ(Tolvak_LastCode, c.last_after) << c.what;
}

constexpr Tolvak_KanjiCode NONE = KANJI_NONE, JIS = KANJI_JIS, EUC = KANJI_EUC, SJIS = KANJI_SJIS;

std::string repeat(const std::string &s, int times)
{
    std::string out;
    for (int i = 0; i < times; i++)
        out += s;
    return out;
}

const std::string euc_kanji = "\xB4\xC1\xBB\xFA";  // 漢字, decided at 0xFA

INSTANTIATE_TEST_SUITE_P(Bytes, Detect, testing::Values(
    DetectCase{"Shift_JIS hiragana", "a\0\x82\xA0\x82\xA2"s, EUC, SJIS, SJIS},
    DetectCase{"EUC-JP hiragana, by the tie-break", "a\0\xA4\xA2\xA4\xA4"s, SJIS, EUC, EUC},
    DetectCase{"EUC-JP katakana, by the tie-break", "a\0\xA5\xA2\xA5\xA4"s, SJIS, EUC, EUC},
    DetectCase{"EUC-JP kanji", "a\0"s + euc_kanji, SJIS, EUC, EUC},
    DetectCase{"one EUC-JP kanji: undecided", "a\0\xB0\xA1"s, SJIS, SJIS, SJIS},
    DetectCase{"one EUC-JP kanji: last code", "a\0\xB0\xA1"s, EUC, EUC, EUC},
    DetectCase{"half-width kana: last code", "a\0\xB6\xDE\xB7\xDE"s, EUC, EUC, EUC},
    DetectCase{"EUC-JP half-width kana: last code", "a\0\x8E\xB6\x8E\xDE"s, EUC, EUC, EUC},
    DetectCase{"ESC $ B", "a\0\x1B$B4A;z\x1B(J"s, EUC, JIS, EUC},
    DetectCase{"ESC $ @", "a\0\x1B$@4A;z"s, SJIS, JIS, SJIS},
    DetectCase{"ESC ( B alone", "a\0\x1B(Bx"s, EUC, NONE, EUC},
    DetectCase{"ESC $ A goes on three bytes", "a\0\x1B$A"s + euc_kanji, SJIS, EUC, EUC},
    DetectCase{"ESC $ skips a high third byte", "a\0\x1B$\x82"s, SJIS, NONE, SJIS},
    DetectCase{"ESC skips a high second byte", "a\0\x1B\x82"s, SJIS, NONE, SJIS},
    DetectCase{"ESC at the end of a string", "a\0\x1B"s, SJIS, NONE, SJIS},
    DetectCase{"plain ASCII", "a\0hello\0b\0x y"s, EUC, NONE, EUC},
    DetectCase{"empty request", "", EUC, NONE, EUC},
    DetectCase{"8E 40", "a\0\x8E\x40"s, EUC, SJIS, SJIS},
    DetectCase{"8E 7E", "a\0\x8E\x7E"s, EUC, SJIS, SJIS},
    DetectCase{"8E 80", "a\0\x8E\x80"s, EUC, SJIS, SJIS},
    DetectCase{"8E A0", "a\0\x8E\xA0"s, EUC, SJIS, SJIS},
    DetectCase{"8E E0", "a\0\x8E\xE0"s, EUC, SJIS, SJIS},
    DetectCase{"8E FC", "a\0\x8E\xFC"s, EUC, SJIS, SJIS},
    DetectCase{"8E 3F keeps the guess", "a\0\x8E\x3F"s, EUC, NONE, EUC},
    DetectCase{"8E FD keeps the guess", "a\0\x8E\xFD"s, EUC, NONE, EUC},
    DetectCase{"8E skips the byte after it", "a\0\x8E\x1B$B"s, EUC, NONE, EUC},
    DetectCase{"lead 81", "a\0\x81\x40"s, EUC, SJIS, SJIS},
    DetectCase{"lead 9F", "a\0\x9F\x40"s, EUC, SJIS, SJIS},
    DetectCase{"A1-DF then F0", "a\0\xB1\xF0"s, SJIS, EUC, EUC},
    DetectCase{"A1-DF then FE", "a\0\xDF\xFE"s, SJIS, EUC, EUC},
    DetectCase{"A1-DF then ASCII", "a\0\xB1z"s, EUC, SJIS, SJIS},
    DetectCase{"A1-DF then 80", "a\0\xA1\x80"s, EUC, SJIS, SJIS},
    DetectCase{"A1-DF then 9F", "a\0\xA1\x9F"s, EUC, SJIS, SJIS},
    DetectCase{"A1-DF then the NUL between strings", "a\0\xB1\0b\0"s + euc_kanji, EUC, SJIS, SJIS},
    DetectCase{"A1-DF then A0", "a\0\xB1\xA0"s, EUC, NONE, EUC},
    DetectCase{"A1-DF then FF", "a\0\xB1\xFF"s, EUC, NONE, EUC},
    DetectCase{"A1-DF E0-EF then 85", "a\0\xB1\xE0\xA1\x85"s, EUC, SJIS, SJIS},
    DetectCase{"A1-DF E0-EF then FD", "a\0\xB1\xEF\xA1\xFD"s, SJIS, EUC, EUC},
    DetectCase{"A1-DF E0-EF passes 40 and up", "a\0\xB1\xE0\x41\x7F\xE5\xFE"s, SJIS, EUC, EUC},
    DetectCase{"A1-DF E0-EF, a byte below 40 ends the run", "a\0\xB1\xE0\x30\xFE"s, SJIS, SJIS, SJIS},
    DetectCase{"A1-DF E0-EF, run ends at the NUL", "a\0\xB1\xE0\xA1\xA2"s, SJIS, SJIS, SJIS},
    DetectCase{"A1-DF E0-EF, undecided run", "a\0\xB1\xE0\xA1\xA2"s, EUC, EUC, EUC},
    DetectCase{"first bytes E0 and up decide nothing", "a\0\xFC\xFC\xFF\xF0"s, SJIS, NONE, SJIS},
    DetectCase{"tie-break: kana lead two before the sentinel", "a\0\xB0\xA4"s, EUC, EUC, EUC},
    DetectCase{"tie-break goes on three bytes", "a\0\xA4\xA4\xB0\xA4\xB0\xA1"s, SJIS, SJIS, SJIS},
    DetectCase{"tie-break across strings", "a\0\xB0\xA4\0\xA4\xA2\0\x31"s, SJIS, EUC, EUC},
    DetectCase{"Shift_JIS before JIS", "a\0\x82\xA0\x1B$B"s, EUC, SJIS, SJIS},
    DetectCase{"JIS before Shift_JIS", "a\0\x1B$B\x82\xA0"s, EUC, JIS, EUC},
    DetectCase{"EUC-JP decided late", "a\0"s + repeat("\xB0\xA1", 3000) + euc_kanji, SJIS, EUC, EUC},
    DetectCase{"Shift_JIS decided late", "a\0"s + repeat("xyz\n", 3000) + "\x82\xA0", EUC, SJIS, SJIS},
    DetectCase{"decided in the last of many fields",
               repeat("n\0\xB0\xA1\0"s, 500) + "n\0"s + euc_kanji, SJIS, EUC, EUC},
    DetectCase{"evidence in a name only", euc_kanji + "\0\x31"s, SJIS, EUC, EUC}), zt_test::CaseName{});

// The sentinel ends the scan whatever byte it follows, also in a buffer without the NUL
// that the intake puts before it; the allocation ends at the sentinel.
TEST(Detect, SentinelEndsTheScanAfterAnyByte)
{
    constexpr Tolvak_KanjiCode UNDECIDED = KANJI_EUC_OR_SJIS;  // the last code answers
    const struct {
        std::string buffer;
        Tolvak_KanjiCode expected;
    } cases[] = {
        {"\xB1\r", NONE},               {"\x8E\r", NONE},
        {"\x1B\r", NONE},               {"\x1B$\r", NONE},
        {"\xB0\xA1\xA4\r", UNDECIDED},  {"\xB0\xA1\x8E\r", UNDECIDED},
        {"\xB1\xE0\xA1\r", UNDECIDED},  {"\xB0\xA1\xA5\xA2\r", UNDECIDED},
    };
    for (const auto &c : cases) {
        const auto buffer = std::make_unique<char[]>(c.buffer.size());
        memcpy(buffer.get(), c.buffer.data(), c.buffer.size());
        for (const Tolvak_KanjiCode last : {SJIS, EUC}) {
            Tolvak_LastCode = last;
            EXPECT_EQ(Tolvak_DetectCode(buffer.get()), c.expected == UNDECIDED ? last : c.expected);
        }
    }
}

// The value of a field, or "(null)".
std::string field(const char *name)
{
    const char *value = Tolvak_Find(name);
    return value ? value : "(null)";
}

struct ConvertCase {
    const char *what;
    std::string body;      // the POST body
    Tolvak_KanjiCode last;        // Tolvak_LastCode before
    std::string name;      // the field looked up
    std::string expected;  // its converted value
};

void PrintTo(const ConvertCase &c, std::ostream *os)
{
    *os << c.what;
}

class Convert : public testing::TestWithParam<ConvertCase> {};

TEST_P(Convert, ValueArrivesInTheInternalCode)
{
    const ConvertCase &c = GetParam();
    Tolvak_LastCode = c.last;
    Post(c.body);
    EXPECT_EQ(field(c.name.c_str()), c.expected) << c.what;
}

// A body of one field a, every byte of value %-encoded where a form would encode it.
std::string a_body(const std::string &value)
{
    return FormBody({{"a", value}});
}

// The same behind a field that decides for EUC-JP.
std::string euc_body(const std::string &value)
{
    return FormBody({{"k", euc_kanji}, {"a", value}});
}

// The same behind a field that decides for JIS.
std::string jis_body(const std::string &value)
{
    return FormBody({{"k", "\x1B$B\x1B(J"}, {"a", value}});
}

const std::string sjis_kanji = "\x8A\xBF\x8E\x9A";  // 漢字 in Shift_JIS

INSTANTIATE_TEST_SUITE_P(Requests, Convert, testing::Values(
    // The rules of each code.
    ConvertCase{"Shift_JIS stays", a_body("\x82\xA0\x82\xA2"), SJIS, "a", "\x82\xA0\x82\xA2"},
    ConvertCase{"EUC-JP hiragana", a_body("\xA4\xA2\xA4\xA4"), SJIS, "a", "\x82\xA0\x82\xA2"},
    ConvertCase{"EUC-JP kanji", a_body(euc_kanji), SJIS, "a", sjis_kanji},
    ConvertCase{"one EUC-JP kanji taken for half-width kana", a_body("\xB0\xA1"), SJIS, "a",
                "\x81\x5B\x81\x42"},
    ConvertCase{"one EUC-JP kanji after an EUC-JP request", a_body("\xB0\xA1"), EUC, "a", "\x88\x9F"},
    ConvertCase{"half-width kana widen, marks apart", a_body("\xB6\xDE\xB7\xDE"), SJIS, "a",
                "\x83\x4A\x81\x4A\x83\x4C\x81\x4A"},
    ConvertCase{"EUC-JP half-width kana alone stay", a_body("\x8E\xB6\x8E\xDE"), SJIS, "a",
                "\x8E\xB6\x8E\xDE"},
    ConvertCase{"EUC-JP half-width kana", euc_body("\x8E\xB6\x8E\xDE"), SJIS, "a", "\x83\x4A\x81\x4A"},
    ConvertCase{"EUC-JP user rows", euc_body("\xF5\xA1\xFE\xFE"), SJIS, "a", "\xEB\x40\xEF\xFC"},
    ConvertCase{"JIS segment between ASCII", a_body("x \x1B$B4A;z\x1B(Jy"), SJIS, "a",
                "x " + sjis_kanji + "y"},
    ConvertCase{"JIS segments, one closed by ESC ( B", a_body("\x1B$B4A\x1B(B-\x1B$B;z\x1B(J."), SJIS,
                "a", "\x8A\xBF-\x8E\x9A."},
    ConvertCase{"JIS closed by ESC ( B", a_body("\x1B$B4A;z\x1B(Ba"), SJIS, "a", sjis_kanji + "a"},
    ConvertCase{"JIS segment to the end of the string", a_body("\x1B$B4A;z"), SJIS, "a", sjis_kanji},
    ConvertCase{"JIS escape again inside a segment", a_body("\x1B$B4A\x1B$B;z\x1B(J"), SJIS, "a",
                sjis_kanji},
    ConvertCase{"ESC $ @ opens nothing", a_body("\x1B$@4A;z\x1B(J"), SJIS, "a", "\x1B$@4A;z\x1B(J"},
    ConvertCase{"closing escapes outside a segment stay", jis_body("\x1B(Jx\x1B(B"), SJIS, "a",
                "\x1B(Jx\x1B(B"},
    ConvertCase{"plain ASCII", a_body("hello, world"), EUC, "a", "hello, world"},
    ConvertCase{"a segment ends with its string", FormBody({{"a", "\x1B$B4A"}, {"b", ";z"}}),
                SJIS, "b", ";z"},

    // Bytes that begin no character of the detected code.
    ConvertCase{"EUC-JP lead before ASCII is dropped", euc_body("\xA5" "a"), SJIS, "a", "a"},
    ConvertCase{"EUC-JP lead before 80 is dropped", euc_body("x\xA4\x80y"), SJIS, "a", "xy"},
    ConvertCase{"EUC-JP lead at the end is dropped", euc_body("x\xA4"), SJIS, "a", "x"},
    ConvertCase{"EUC-JP stray high bytes are dropped", euc_body("\x80\xA0\xFF\xA4\xFFz"), SJIS, "a",
                "z"},
    ConvertCase{"EUC-JP 8E before ASCII", euc_body("\x8E" "a"), SJIS, "a", "a"},
    ConvertCase{"EUC-JP 8E at the end", euc_body("x\x8E"), SJIS, "a", "x"},
    ConvertCase{"EUC-JP 8E before a kanji", euc_body("\x8E\xF0\xA1"), SJIS, "a", "\xE8\x9F"},
    ConvertCase{"EUC-JP 8E before 8E and a kana", euc_body("\x8E\x8E\xB6"), SJIS, "a", "\x83\x4A"},
    ConvertCase{"EUC-JP JIS X 0212 is dropped", euc_body("x\x8F\xA1\xA1y"), SJIS, "a", "xy"},
    ConvertCase{"EUC-JP lone 8F", euc_body("x\x8F\xA1y\x8F"), SJIS, "a", "xy"},
    ConvertCase{"JIS lone byte at the end stays", a_body("\x1B$B4A;"), SJIS, "a", "\x8A\xBF;"},
    ConvertCase{"JIS lone byte before the close", a_body("\x1B$B4A;\x1B(Jz"), SJIS, "a", "\x8A\xBF;z"},
    ConvertCase{"JIS space in a segment", a_body("\x1B$B4A ;z"), SJIS, "a", "\x8A\xBF " "\x8E\x9A"},
    ConvertCase{"JIS high byte in a segment is dropped", a_body("\x1B$B4A\xA4;z"), SJIS, "a",
                sjis_kanji},
    ConvertCase{"JIS high byte outside a segment stays", a_body("\x1B$B4A\x1B(J\xA4"), SJIS, "a",
                "\x8A\xBF\xA4"},
    ConvertCase{"Shift_JIS lead at the end", FormBody({{"a", "\x82"}, {"b", "\xB6"}}), SJIS, "a",
                "\x82"},
    ConvertCase{"Shift_JIS after a lead at the end", FormBody({{"a", "\x82"}, {"b", "\xB6"}}),
                SJIS, "b", "\x83\x4A"},
    ConvertCase{"Shift_JIS lead takes a kana byte", a_body("\x82\xB6\xB6"), SJIS, "a",
                "\x82\xB6\x83\x4A"},
    ConvertCase{"Shift_JIS stray bytes stay", a_body("\x82\xA0\x80\xA0\xFD\xFE\xFF"), SJIS, "a",
                "\x82\xA0\x80\xA0\xFD\xFE\xFF"},

    // Evidence anywhere in the request decides for all of it.
    ConvertCase{"decided by a later field", FormBody({{"a", "\xB0\xA1"}, {"b", euc_kanji}}), SJIS,
                "a", "\x88\x9F"},
    ConvertCase{"decided by a name", FormBody({{euc_kanji, "\xA4\xA2"}}), SJIS, sjis_kanji,
                "\x82\xA0"}), zt_test::CaseName{});

TEST(Convert, LastNameWithoutValueIsNotConverted)
{
    Post(FormBody({{"a", euc_kanji}}) + "&%A4%A2%A4%A4");
    EXPECT_EQ(field("a"), sjis_kanji);
    EXPECT_EQ(Tolvak_DataCount, 2);
    EXPECT_EQ(std::string(Tolvak_DataIndex[2]), "\xA4\xA2\xA4\xA4");
}

// A lead byte never takes the NUL that ends its string along: what stands behind a NUL
// decoded from %00 is no part of the string and stays as it is.
TEST(Convert, WalkEndsAtTheNulAfterALeadByte)
{
    Post("a=%82%00%B6%B6");
    EXPECT_EQ(std::string(Tolvak_Data, 16), "a\0\x82\0\xB6\xB6"s + std::string(9, '\0') + "\r");
}

// The half-width katakana as the board's table gives them, written out apart from the code.
const char kana_words[] =
    "8142 8175 8176 8141 8145 8392 8340 8342 8344 8346 8348 8383 8385 8387 8362 "
    "815B 8341 8343 8345 8347 8349 834A 834C 834E 8350 8352 8354 8356 8358 835A 835C "
    "835E 8360 8363 8365 8367 8369 836A 836B 836C 836D 836E 8371 8374 8377 837A 837D "
    "837E 8380 8381 8382 8384 8386 8388 8389 838A 838B 838C 838D 838F 8393 814A 814B";

std::string full_width(unsigned char byte)
{
    const long word = strtol(kana_words + (byte - 0xA1) * 5, nullptr, 16);
    return {static_cast<char>(word >> 8), static_cast<char>(word & 0xFF)};
}

TEST(Kana, EachByteWidensAsTheTableSays)
{
    for (int byte = 0xA1; byte <= 0xDF; byte++) {
        const std::string half(1, static_cast<char>(byte));
        EXPECT_EQ(Tolvak_KanaTable[byte - 0xA1],
                  static_cast<unsigned>(strtol(kana_words + (byte - 0xA1) * 5, nullptr, 16)));
        Tolvak_LastCode = KANJI_SJIS;
        Post(a_body(half));
        EXPECT_EQ(field("a"), full_width(byte)) << std::hex << byte;
        Tolvak_LastCode = KANJI_SJIS;
        Post(euc_body("\x8E" + half));
        EXPECT_EQ(field("a"), full_width(byte)) << "EUC-JP " << std::hex << byte;
    }
}

TEST(Kana, EveryByteInARowAndSoundMarksApart)
{
    std::string half, wide;
    for (int byte = 0xA1; byte <= 0xDF; byte++) {
        half += static_cast<char>(byte);
        wide += full_width(byte);
    }
    Post(FormBody({{"a", half}, {"b", "\xB6\xDE\xCA\xDF"}}));
    EXPECT_EQ(field("a"), wide);
    EXPECT_EQ(field("b"), "\x83\x4A\x81\x4A\x83\x6E\x81\x4B");
}

// Every string of the index ends inside its slot, no string holds a CR, and the sentinel
// is still the first CR of the buffer, where the intake put it.
void expect_slots_kept(std::size_t n)
{
    const char *data = Tolvak_Data;
    ASSERT_EQ(data[n + 1], '\r');
    ASSERT_EQ(memchr(data, '\r', n + 1), nullptr);
    for (std::size_t k = 0; k < Tolvak_DataCount; k++) {
        const char *s = Tolvak_DataIndex[k];
        const char *end = Tolvak_DataIndex[k + 1] ? Tolvak_DataIndex[k + 1] : data + n + 1;
        ASSERT_NE(memchr(s, '\0', static_cast<std::size_t>(end - s)), nullptr) << "entry " << k;
    }
}

TEST(Kana, ValuesFullOfKanaFitTheirSlots)
{
    // The largest request, all of it half-width kana in one value: each byte doubles.
    Tolvak_LastCode = KANJI_SJIS;
    const std::size_t count = (MAX_POST_BYTES - 2) / 3;
    std::string body = "a=" + repeat("%B6", static_cast<int>(count));
    Post(body);
    EXPECT_EQ(field("a"), repeat("\x83\x4A", static_cast<int>(count)));
    expect_slots_kept(body.size());

    // Two such values side by side, the first one's slot ending where the next name begins.
    Tolvak_LastCode = KANJI_SJIS;
    const int each = static_cast<int>((MAX_POST_BYTES - 10) / 6);
    body = "a=" + repeat("%DF", each) + "&b=" + repeat("%A1", each) + "&c=1";
    Post(body);
    EXPECT_EQ(field("a"), repeat("\x81\x4B", each));
    EXPECT_EQ(field("b"), repeat("\x81\x42", each));
    EXPECT_EQ(field("c"), "1");
    expect_slots_kept(body.size());
}

// A buffer built by hand whose slot has room for one widened kana of two: the second stays
// half-width, and nothing is written behind the slot.
TEST(Kana, NoWriteBehindASlotWithoutRoom)
{
    Tolvak_Free();
    const std::string layout = "a\0\xB6\xB6\0\0\r\x7F"s;
    Tolvak_Data = static_cast<char *>(malloc(layout.size()));
    memcpy(Tolvak_Data, layout.data(), layout.size());
    Tolvak_DataIndex = static_cast<char **>(calloc(5, sizeof(char *)));
    Tolvak_DataIndex[0] = Tolvak_Data;
    Tolvak_DataIndex[1] = Tolvak_Data + 2;
    Tolvak_DataCount = 2;
    Tolvak_LastCode = KANJI_SJIS;
    Tolvak_ToSjis();
    EXPECT_EQ(std::string(Tolvak_Data, layout.size()), "a\0\x83\x4A\xB6\0\r\x7F"s);
    Tolvak_Free();
}

// Random requests of the bytes that matter to the three codes, each decided for one of them
// by its first field: every string stays in its slot with its NUL, whatever the bytes.
TEST(Slots, RandomRequestsInEveryCode)
{
    static const unsigned char bytes[] = {
        0x00, 0x0A, 0x1B, '$', '(', 'B', 'J', '@', '!', '4', 'A', '~', 0x7F, 0x80, 0x81, 0x8E,
        0x8F, 0x9F, 0xA0, 0xA1, 0xA4, 0xA5, 0xB6, 0xDE, 0xDF, 0xE0, 0xEF, 0xF0, 0xFC, 0xFD,
        0xFE, 0xFF, '=', '&', '%', '+'};
    const std::string deciders[] = {"", "\x82\xA0", euc_kanji, "\x1B$B"};
    std::mt19937 rng(20240601);
    for (int round = 0; round < 3000; round++) {
        std::vector<std::pair<std::string, std::string>> fields;
        fields.emplace_back("k", deciders[round % 4]);
        const int count = 1 + static_cast<int>(rng() % 4);
        for (int f = 0; f < count; f++) {
            std::string value;
            const int length = static_cast<int>(rng() % 24);
            for (int i = 0; i < length; i++)
                value += static_cast<char>(bytes[rng() % sizeof bytes]);
            fields.emplace_back(f % 2 ? value : "v", f % 2 ? "x" : value);
        }
        std::string body = FormBody(fields);
        if (round % 3 == 0) {
            body += '&';  // and a name without value
            body += zt_test::PercentEncode("\xB6\xA4\xA4");
        }
        Tolvak_LastCode = round % 5 ? KANJI_SJIS : KANJI_EUC;
        Post(body);
        expect_slots_kept(body.size());
        if (testing::Test::HasFatalFailure()) {
            ADD_FAILURE() << "body " << body;
            return;
        }
    }
}

}  // namespace
