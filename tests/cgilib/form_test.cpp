// The POST intake and the field index: decoding rules, the buffer layout, lookups, limits.
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "case_name.h"
#include "board_files.h"
#include "form.h"
#include "intake.h"

using namespace std::string_literals;
using zt_test::Post;

namespace {

using Lookup = std::pair<std::string, std::optional<std::string>>;

struct IntakeCase {
    std::string body;
    int count;                    // Tolvak_DataCount
    std::vector<Lookup> lookups;  // name -> value, nullopt for null
};

void PrintTo(const IntakeCase &c, std::ostream *os) { *os << (c.body.empty() ? "empty body" : c.body); }

class Intake : public testing::TestWithParam<IntakeCase> {};

TEST_P(Intake, DecodesAndIndexes)
{
    const IntakeCase &c = GetParam();
    Post(c.body);
    EXPECT_EQ(Tolvak_DataCount, c.count);
    for (const auto &[name, expected] : c.lookups) {
        const char *value = Tolvak_Find(name.c_str());
        if (!expected)
            EXPECT_EQ(value, nullptr) << "field " << name;
        else if (!value)
            ADD_FAILURE() << "field " << name << " not found";
        else
            EXPECT_EQ(std::string(value), *expected) << "field " << name;
    }
}

const std::optional<std::string> none;

INSTANTIATE_TEST_SUITE_P(Bodies, Intake, testing::Values(
    IntakeCase{"a=1&b=2", 4, {{"a", "1"}, {"b", "2"}}},
    IntakeCase{"a=b=c&d=e", 4, {{"a", "b=c"}, {"d", "e"}}},
    IntakeCase{"abc&d=1", 2, {{"abc&d", "1"}, {"d", none}}},
    IntakeCase{"a=&b=2", 4, {{"a", ""}, {"b", "2"}}},
    IntakeCase{"a=1&", 2, {{"a", "1"}, {"", none}}},
    IntakeCase{"a=1&b", 2, {{"a", "1"}, {"b", none}}},
    IntakeCase{"=x", 2, {{"", "x"}}},
    IntakeCase{"", 0, {{"a", none}}},
    IntakeCase{"a=1&&b=2", 4, {{"&b", "2"}, {"b", none}}},
    IntakeCase{"a=%26&b=%3D", 4, {{"a", "&"}, {"b", "="}}},
    IntakeCase{"a=1+2%2B3", 2, {{"a", "1 2+3"}}},
    IntakeCase{"a=%41%4", 2, {{"a", "A4"}}},
    IntakeCase{"a=%zz", 2, {{"a", "zz"}}},
    IntakeCase{"a=%", 2, {{"a", ""}}},
    IntakeCase{"a=x%0D%0Ay%0D%0A", 2, {{"a", "x\ny"}}},
    IntakeCase{"a=x%0D%0D%0Ay", 2, {{"a", "x\n\ny"}}},
    IntakeCase{"a=x\r\ny\r\n&b=\r", 4, {{"a", "x\ny"}, {"b", ""}}},
    IntakeCase{"a=%0D%0Dx%0D", 2, {{"a", "\n\nx"}}},
    IntakeCase{"a=\xA4\xA2&b=1\x80", 4, {{"a", ""}, {"b", "1"}}},
    IntakeCase{"a=%E0%40", 2, {{"a", "\xE0\x40"}}},
    IntakeCase{"a=%00b", 2, {{"a", ""}}},
    IntakeCase{"Namae=x", 2, {{"namae", none}, {"Namae", "x"}}},
    IntakeCase{"a=1\0b=2"s, 2, {{"a", "1"}, {"b", none}}},
    IntakeCase{"n%61me=1&%3D=2", 4, {{"name", "1"}, {"=", "2"}}},
    IntakeCase{"a=\x01\x1f\x7f", 2, {{"a", "\x01\x1f\x7f"}}}), zt_test::CaseName{true});

// The layout that the code converter relies on: strings stay where their raw text began,
// NUL up to each separator, the end of the data, then the sentinel CR.
TEST(IntakeLayout, StringsStayInPlaceBehindNulsAndSentinel)
{
    Post("ab=c%41&d=");
    const std::string expected = "ab\0cA\0\0\0d\0\0\r"s;
    EXPECT_EQ(std::string(Tolvak_Data, expected.size()), expected);
    EXPECT_EQ(Tolvak_DataIndex[0], Tolvak_Data);
    EXPECT_EQ(Tolvak_DataIndex[1], Tolvak_Data + 3);
    EXPECT_EQ(Tolvak_DataIndex[2], Tolvak_Data + 8);
    EXPECT_EQ(Tolvak_DataIndex[3], Tolvak_Data + 10);
    EXPECT_EQ(Tolvak_DataIndex[4], nullptr);
    EXPECT_EQ(Tolvak_DataIndex[5], nullptr);
}

TEST(IntakeLayout, NameWithoutValueHasNullValueEntry)
{
    Post("a=1&b");
    EXPECT_STREQ(Tolvak_DataIndex[2], "b");
    EXPECT_EQ(Tolvak_DataIndex[3], nullptr);
    EXPECT_EQ(Tolvak_DataIndex[4], nullptr);
}

TEST(IntakeLayout, NoStringHoldsCarriageReturn)
{
    const std::string body = "a=\r\r\n%0D&b=x\ry%0d%0d&c=%0D%00%0D";
    Post(body);
    const char *sentinel = static_cast<const char *>(memchr(Tolvak_Data, '\r', body.size() + 2));
    ASSERT_NE(sentinel, nullptr);
    EXPECT_EQ(sentinel - Tolvak_Data, static_cast<long>(body.size()) + 1);
    EXPECT_STREQ(Tolvak_Find("b"), "x\ny");
}

TEST(FindNext, WalksFieldsOfTheSameName)
{
    Post("a=1&b=x&a=2&c=3");
    EXPECT_STREQ(Tolvak_Find("a"), "1");
    EXPECT_STREQ(Tolvak_FindNext(), "2");
    EXPECT_EQ(Tolvak_FindNext(), nullptr);
    EXPECT_EQ(Tolvak_FindNext(), nullptr);
    EXPECT_EQ(Tolvak_Find("zz"), nullptr);
    EXPECT_EQ(Tolvak_FindNext(), nullptr);
}

TEST(Intake, ShortBodyEndsAtTheBytesThatArrived)
{
    Post("a=12", "100");
    EXPECT_STREQ(Tolvak_Find("a"), "12");
    EXPECT_EQ(Tolvak_DataCount, 2);
}

TEST(Intake, LongerBodyIsReadOnlyAsFarAsAnnounced)
{
    Post("a=12&b=3", "4");
    EXPECT_STREQ(Tolvak_Find("a"), "12");
    EXPECT_EQ(Tolvak_Find("b"), nullptr);
}

TEST(Intake, LengthIsReadByTheDecimalRule)
{
    Post("a=12&b=3", " +3xyz");
    EXPECT_STREQ(Tolvak_Find("a"), "1");
    Post("a=12", "0x10");
    EXPECT_EQ(Tolvak_Find("a"), nullptr);
}

TEST(Intake, LargestRequestIsAcceptedWithEverySeparator)
{
    std::string body;
    while (body.size() < MAX_POST_BYTES)
        body += "=&";
    Post(body);
    EXPECT_EQ(Tolvak_DataCount, MAX_POST_BYTES);
    EXPECT_STREQ(Tolvak_Find(""), "");
    EXPECT_EQ(Tolvak_DataIndex[MAX_POST_BYTES], Tolvak_Data + MAX_POST_BYTES);
    EXPECT_EQ(Tolvak_DataIndex[MAX_POST_BYTES + 1], nullptr);
    EXPECT_EQ(Tolvak_DataIndex[MAX_POST_BYTES + 2], nullptr);
}

TEST(Intake, GetReadsTheQueryString)
{
    Tolvak_Free();
    setenv("QUERY_STRING", "a=%41+&b=2", 1);
    Tolvak_ReadGet(MAX_POST_BYTES);
    EXPECT_STREQ(Tolvak_Find("a"), "A ");
    EXPECT_STREQ(Tolvak_Find("b"), "2");
    Tolvak_Free();
    unsetenv("QUERY_STRING");
    Tolvak_ReadGet(MAX_POST_BYTES);
    EXPECT_EQ(Tolvak_DataCount, 0);
    EXPECT_EQ(Tolvak_Find("a"), nullptr);
}

TEST(Intake, LookupsAfterFreeFindNothing)
{
    Post("a=1");
    Tolvak_Free();
    EXPECT_EQ(Tolvak_Find("a"), nullptr);
    EXPECT_EQ(Tolvak_FindNext(), nullptr);
}

TEST(IntakeRefusal, QueryStringOverTheLimit)
{
    EXPECT_EXIT(
        {
            setenv("QUERY_STRING", std::string(MAX_POST_BYTES + 1, 'a').c_str(), 1);
            Tolvak_ReadGet(MAX_POST_BYTES);
        },
        testing::ExitedWithCode(1), "");
}

}  // namespace
