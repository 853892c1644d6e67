// UTF-8 into the board's code and back, byte for byte.
#include <string>

#include <gtest/gtest.h>

#include "sjis.h"

namespace {

TEST(Sjis, FromUtf8)
{
    const struct {
        std::string utf8;
        std::string sjis;
    } cases[] = {
        {"abc <&>", "abc <&>"},
        {"漢字かナ", "\x8A\xBF\x8E\x9A\x82\xA9\x83\x69"},
        {"ｶﾞ", "\xB6\xDE"},                     // half-width katakana stay one byte each
        {"～", "\x81\x60"},                     // FULLWIDTH TILDE, as Windows types it
        {"〜", "\x81\x60"},                     // WAVE DASH, as other systems type it
        {"①", "\x87\x40"},                     // a character of the Windows extensions
        {"髙", "\xFB\xFC"},
        {"a\nb\tc", "a\nb\tc"},
        {"", ""},
    };
    for (const auto &c : cases) {
        std::string sjis, problem;
        EXPECT_TRUE(utf8_to_sjis(c.utf8, &sjis, &problem)) << c.utf8 << ": " << problem;
        EXPECT_EQ(sjis, c.sjis) << c.utf8;
    }
}

TEST(Sjis, FromUtf8RefusesWhatTheBoardCannotHold)
{
    const struct {
        std::string utf8;
        std::string problem;
    } cases[] = {
        {"絵文字😀", "line 1: \"😀\" (U+1F600) has no Shift_JIS form"},
        {"a\nb\n𠮷", "line 3: \"𠮷\" (U+20BB7)"},
        {"\xFF", "line 1: the text is not valid UTF-8"},
        {"ab\xE6\xBC", "not valid UTF-8"},      // cut off in a character
        {"\xC0\xAF", "not valid UTF-8"},        // an overlong "/"
    };
    for (const auto &c : cases) {
        std::string sjis, problem;
        EXPECT_FALSE(utf8_to_sjis(c.utf8, &sjis, &problem)) << c.utf8;
        EXPECT_NE(problem.find(c.problem), std::string::npos) << problem;
    }
}

// Every byte of the board comes back as something visible; nothing reaches a terminal as a
// control byte.
TEST(Sjis, ToUtf8)
{
    const struct {
        std::string sjis;
        std::string utf8;
    } cases[] = {
        {"\x8A\xBF\x8E\x9A\x82\xA9\x83\x69", "漢字かナ"},
        {"\xB6\xDE", "ｶﾞ"},
        {"a\tb", "a\tb"},
        {"\x1B[2J", "\uFFFD[2J"},             // ESC of a terminal escape sequence
        {"a\nb\r\x7F", "a\uFFFDb\uFFFD\uFFFD"},
        {"\x8A", "\uFFFD"},                   // a lead byte at the end
        {"\x8A\n\x8A\xBF", "\uFFFD\uFFFD漢"}, // a lead byte before a control byte
        {"\x80\xA0\xFD", "\uFFFD\uFFFD\uFFFD"},
        {std::string("\0a", 2), "\uFFFDa"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(sjis_to_utf8(c.sjis), c.utf8);
}

}  // namespace
