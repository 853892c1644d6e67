// The query-string form: the lookup inside QUERY_STRING and the query-string template
// variant, which must write no byte of a crafted link into the page unescaped.
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "case_name.h"
#include "intake.h"
#include "query.h"
#include "template.h"
#include "template_text.h"

using zt_test::Capture;

namespace {

void set_query(const char *query)
{
    Tolvak_QueryString = nullptr;
    if (query)
        setenv("QUERY_STRING", query, 1);
    else
        unsetenv("QUERY_STRING");
}

struct FindCase {
    const char *query;  // null: unset
    const char *name;
    std::optional<std::string> rest;  // what the pointer points at, to the end of the query
};

void PrintTo(const FindCase &c, std::ostream *os)
{
    *os << c.name << " in " << (c.query ? c.query : "unset");
}

class QueryFind : public testing::TestWithParam<FindCase> {};

TEST_P(QueryFind, PointsIntoTheRawQueryString)
{
    const FindCase &c = GetParam();
    set_query(c.query);
    const char *found = Tolvak_QueryFind(c.name);
    if (!c.rest)
        EXPECT_EQ(found, nullptr);
    else if (!found)
        ADD_FAILURE() << c.name << " not found";
    else
        EXPECT_EQ(std::string(found), *c.rest);
}

const std::optional<std::string> none;

INSTANTIATE_TEST_SUITE_P(Queries, QueryFind, testing::Values(
    FindCase{"wa=3&x=1", "wa", "3&x=1"},
    FindCase{"x=1&wa=3", "wa", "3"},
    FindCase{"wax=3", "wa", none},
    FindCase{"x=1&wa=", "wa", ""},
    FindCase{"wa", "wa", none},
    FindCase{"", "wa", none},
    FindCase{nullptr, "wa", none},
    FindCase{"wa=%33", "wa", "%33"},
    FindCase{"a=1&&b=2", "b", none},
    FindCase{"&b=2", "b", none},
    FindCase{"xwa=1&wa=2", "wa", "2"},
    FindCase{"a=1&wa=2&wa=3", "wa", "2&wa=3"}), zt_test::CaseName{true});

TEST(QueryFind, UnsetIsReadAgainAtTheNextLookup)
{
    set_query(nullptr);
    EXPECT_EQ(Tolvak_QueryFind("a"), nullptr);
    setenv("QUERY_STRING", "a=1", 1);
    EXPECT_STREQ(Tolvak_QueryFind("a"), "1");
}

void write_a(Tolvak_TemplateStream *, FILE *out) { fputs("A", out); }
constexpr Tolvak_PageCallback test_callbacks[] = {write_a};

struct ExpandCase {
    const char *name;
    const char *query;
    std::string page;
    std::string expected;
};

void PrintTo(const ExpandCase &c, std::ostream *os) { *os << c.name; }

class QueryTemplate : public testing::TestWithParam<ExpandCase> {};

TEST_P(QueryTemplate, Expands)
{
    const ExpandCase &c = GetParam();
    set_query(c.query);
    zt_test::TemplateText in(c.page);
    EXPECT_EQ(Capture([&](FILE *out) {
                  Tolvak_ExpandTemplate(&in.stream, out, test_callbacks, TOLVAK_TEMPLATE_END);
              }),
              c.expected);
}

INSTANTIATE_TEST_SUITE_P(Directives, QueryTemplate, testing::Values(
    ExpandCase{"raw value", "n=a%3Cb+c&x=1", "[\x01%n%]", "[a%3Cb+c]"},
    ExpandCase{"decoded and escaped", "n=a%3Cb+c&x=1", "[\x01{n}]", "[a&#60;b+c]"},
    ExpandCase{"escapes every special byte", "n=%3C%3E%26%22%27%41", "\x01{n}", "&#60;&#62;&#38;&#34;&#39;A"},
    ExpandCase{"escapes raw specials", "n=\"><script>'", "\x01{n}", "&#34;&#62;&#60;script&#62;&#39;"},
    ExpandCase{"lone percent dropped", "n=%4&x", "[\x01{n}]", "[4]"},
    ExpandCase{"percent at the end", "n=a%", "[\x01{n}]", "[a]"},
    ExpandCase{"percent with one digit at the end", "n=%4", "[\x01{n}]", "[4]"},
    ExpandCase{"high bytes pass", "n=\x82\xA0%82%A0", "\x01{n}\x01%n%", "\x82\xA0\x82\xA0\x82\xA0%82%A0"},
    ExpandCase{"raw value escaped for attributes", "n=\"><script>' x\x7f", "\x01%n%",
               "%22%3E%3Cscript%3E%27%20x%7F"},
    ExpandCase{"controls escaped", "n=a\tb\nc", "\x01%n%", "a%09b%0Ac"},
    ExpandCase{"absent and empty", "n=&m", "<\x01%n%\x01{n}\x01%m%\x01{x}>", "<>"},
    ExpandCase{"query string", "a=&b=x+y&c=1", "\x01|a,b,c|", "?b=x+y&c=1"},
    ExpandCase{"query string escaped", "a=\"><b>&b=1", "\x01|a,b|", "?a=%22%3E%3Cb%3E&b=1"},
    ExpandCase{"environment is text", "", "\x01[REMOTE_ADDR]", "REMOTE_ADDR]"},
    ExpandCase{"sections are text", "", "\x01/a/1/#/x#", "a/1/#/x#"},
    ExpandCase{"callback", "", "<\x01(0)\x01(1)>", "<A>"}), zt_test::CaseName{});

}  // namespace
