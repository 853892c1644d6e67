// The encoders: every byte of a value written safely for a URL and for HTML.
#include <string>

#include <gtest/gtest.h>

#include "board.h"
#include "case_name.h"
#include "encode.h"

using zt_test::Capture;

namespace {

struct EncodeCase {
    std::string input;
    std::string url;
    std::string html;
};

void PrintTo(const EncodeCase &c, std::ostream *os) { *os << c.url; }

class Encoders : public testing::TestWithParam<EncodeCase> {};

TEST_P(Encoders, WriteEveryByteSafely)
{
    const EncodeCase &c = GetParam();
    EXPECT_EQ(Capture([&](FILE *out) { Tolvak_UrlEncode(c.input.c_str(), out); }), c.url);
    EXPECT_EQ(Capture([&](FILE *out) { Tolvak_HtmlEscape(c.input.c_str(), out); }), c.html);
}

INSTANTIATE_TEST_SUITE_P(Strings, Encoders, testing::Values(
    EncodeCase{"a b+c&d", "a%20b%2bc%26d", "a b+c&#38;d"},
    EncodeCase{"it's \"x\"", "it%27s%20%22x%22", "it&#39;s &#34;x&#34;"},
    EncodeCase{"\x82\xA0", "%82%a0", "\x82\xA0"},
    EncodeCase{"~", "%7e", "~"},
    EncodeCase{"<a href=\"x\">&", "%3ca%20href%3d%22x%22%3e%26", "&#60;a href=&#34;x&#34;&#62;&#38;"},
    EncodeCase{"$-_@.!*(),", "$-_@.!*(),", "$-_@.!*(),"},
    EncodeCase{"AZaz09", "AZaz09", "AZaz09"},
    EncodeCase{"\n\t\x7f\xff", "%0a%09%7f%ff", "\n\t\x7f\xff"},
    EncodeCase{"", "", ""}), zt_test::CaseName{true});

TEST(Encoders, NullWritesNothing)
{
    EXPECT_EQ(Capture([](FILE *out) { Tolvak_UrlEncode(nullptr, out); }), "");
    EXPECT_EQ(Capture([](FILE *out) { Tolvak_HtmlEscape(nullptr, out); }), "");
}

}  // namespace
