// The full template variant over the decoded field index: every directive, sections and
// their skipping, terminators, callbacks, and the limits the engine must hold itself.
#include <string>

#include <gtest/gtest.h>

#include "case_name.h"
#include "intake.h"
#include "template.h"
#include "template_text.h"

using namespace std::string_literals;
using zt_test::Capture;
using zt_test::Post;

namespace {

void write_a(Tolvak_TemplateStream *, FILE *out) { fputs("A", out); }
void write_b(Tolvak_TemplateStream *, FILE *out) { fputs("B", out); }
// Reads its "(N)" argument and writes [N], or [] when there is none.
void write_argument(Tolvak_TemplateStream *in, FILE *out)
{
    std::int64_t n;
    if (Tolvak_ReadArgument(in, {Tolvak_Argument::number}, &n) == 0)
        fprintf(out, "[%lld]", static_cast<long long>(n));
    else
        fputs("[]", out);
}

constexpr Tolvak_PageCallback test_callbacks[] = {write_a, write_b, write_argument};

struct ExpandCase {
    const char *name;
    std::string body;      // the form
    std::string page;      // template bytes
    int terminator;
    std::string expected;  // what the expansion writes
    std::string rest;      // what is left unread in the template
};

void PrintTo(const ExpandCase &c, std::ostream *os) { *os << c.name; }

// Expands the case's template and returns what it wrote; rest receives the unread bytes.
std::string expand(const std::string &page, int terminator, std::string *rest,
                   Tolvak_CallbackTable table = test_callbacks)
{
    zt_test::TemplateText in(page);
    const std::string written =
        Capture([&](FILE *out) { Tolvak_ExpandTemplate(&in.stream, out, table, terminator); });
    *rest = in.rest();
    return written;
}

class FullTemplate : public testing::TestWithParam<ExpandCase> {};

TEST_P(FullTemplate, Expands)
{
    const ExpandCase &c = GetParam();
    setenv("ZT_TEST_VAR", "<v&'>", 1);
    unsetenv("ZT_TEST_UNSET");
    Post(c.body);
    std::string rest;
    EXPECT_EQ(expand(c.page, c.terminator, &rest), c.expected);
    EXPECT_EQ(rest, c.rest);
}

constexpr int END = TOLVAK_TEMPLATE_END;

INSTANTIATE_TEST_SUITE_P(Directives, FullTemplate, testing::Values(
    ExpandCase{"plain copy", "", "a\nb\x80\x02", END, "a\nb\x80\x02", ""},
    ExpandCase{"line only", "", "one\ntwo\n", '\n', "one", "two\n"},
    ExpandCase{"terminator low byte", "", "one\ntwo", 0x100 + '\n', "one", "two"},
    ExpandCase{"unknown selector", "", "a\x01xb", END, "ab", ""},
    ExpandCase{"directive at line end", "", "a\x01\nb\nc", '\n', "ab", "c"},
    ExpandCase{"selector never terminates", "", "a\x01\xff" "b", END, "ab", ""},
    ExpandCase{"url value", "n=a+b%26%22%27", "<\x01%n%>", END, "<a%20b%26%22%27>", ""},
    ExpandCase{"html value", "n=A%26B%3C%22%27", "<\x01{n}>", END, "<A&#38;B&#60;&#34;&#39;>", ""},
    ExpandCase{"absent value", "", "<\x01%n%\x01{n}>", END, "<>", ""},
    ExpandCase{"empty value", "n=", "<\x01%n%\x01{n}>", END, "<>", ""},
    ExpandCase{"empty name", "=x", "<\x01{}\x01%%>", END, "<>", ""},
    ExpandCase{"name to the end", "nam=v", "<\x01{nam", END, "<v", ""},
    ExpandCase{"name of 19 bytes", "abcdefghijklmnopqrs=v", "\x01{abcdefghijklmnopqrs}", END, "v", ""},
    ExpandCase{"name of 20 bytes names nothing", "abcdefghijklmnopqrst=v&abcdefghijklmnopqrs=w",
               "<\x01{abcdefghijklmnopqrst}>", END, "<>", ""},
    ExpandCase{"name holding a line end", "a%0Ab=v", "\x01{a\nb}|", '\n', "v|", ""},
    ExpandCase{"environment", "", "<\x01[ZT_TEST_VAR]\x01[ZT_TEST_UNSET]>", END, "<&#60;v&#38;&#39;&#62;>", ""},
    ExpandCase{"query string", "a=&b=x+y&c=1", "\x01|a,b,c|.", END, "?b=x%20y&c=1.", ""},
    ExpandCase{"query string none present", "", "\x01|a,b|.", END, ".", ""},
    ExpandCase{"query string empty name", "a=1", "\x01|,a|.", END, "a|.", ""},
    ExpandCase{"query string cut off", "a=1", "\x01|a", END, "", ""},
    ExpandCase{"callback", "", "<\x01(1)\x01(0)>", END, "<BA>", ""},
    ExpandCase{"callback number with space and sign", "", "\x01( +1)\x01(\n0)", END, "BA", ""},
    ExpandCase{"callback outside the table", "", "<\x01(3)\x01(-1)\x01(99999999999999999999)>", END, "<>", ""},
    ExpandCase{"callback without number", "", "<\x01(x)>", END, "<x)>", ""},
    ExpandCase{"callback without closing", "", "<\x01(1>", END, "<B>", ""},
    ExpandCase{"callback reads its argument", "", "\x01(2)(7)\x01(2)(-3\x01(2)x", END, "[7][-3][]x", ""},
    ExpandCase{"section kept when present", "c=", "\x01/c/1/#/yes#.", END, "yes.", ""},
    ExpandCase{"section skipped when absent", "", "\x01/c/1/#/yes#.", END, ".", ""},
    ExpandCase{"flag 0 skipped when present", "c=1", "\x01/c/0/#/no#.", END, ".", ""},
    ExpandCase{"flag 0 kept when absent", "", "\x01/c/0/#/yes#.", END, "yes.", ""},
    ExpandCase{"flag 2 always", "", "\x01/c/2/#/yes#.", END, "yes.", ""},
    ExpandCase{"section empty name", "", "\x01//1/#/ body#", END, " body#", ""},
    ExpandCase{"section without closing slash", "", "\x01/c/2/#x#.", END, "x.", ""},
    ExpandCase{"section cut short", "c=1", "\x01/c/x/#/y#", END, "x/#/y#", ""},
    ExpandCase{"section body expands directives", "c=1&n=<", "\x01/c/1/#/\x01{n}\x01(0)#", END, "&#60;A", ""},
    ExpandCase{"skip ends at the first section character", "",
               "\x01/c/1/#/\x01{a#b}rest#.", END, "b}rest#.", ""},
    ExpandCase{"nested sections", "a=1&b=2", "\x01/a/1/#/[\x01/b/1/$/\x01{b}$]#.", END, "[2].", ""},
    ExpandCase{"nested skip", "a=1", "\x01/a/1/#/[\x01/b/1/$/x$]#.", END, "[].", ""},
    ExpandCase{"section on a double-byte second byte", "", "\x01/c/2/|/\x83|x|.", END, "\x83x|.", ""},
    ExpandCase{"section to the end", "", "\x01/c/2/#/abc", END, "abc", ""},
    ExpandCase{"skip to the end", "", "\x01/c/1/#/abc", END, "", ""},
    ExpandCase{"section in a line expansion", "", "\x01/c/2/#/a\nb#c\nd", '\n', "a\nbc", "d"},
    ExpandCase{"literal 0xFF ends a whole template", "", "a\xff" "b", END, "a", "b"},
    ExpandCase{"literal 0xFF in a line is text", "", "a\xff" "b\nc", '\n', "a\xff" "b", "c"},
    ExpandCase{"carriage returns are dropped", "", "a\r\nb\r", END, "a\nb", ""},
    ExpandCase{"0x1A ends the template", "", "a\x1a" "b\nc", '\n', "a", ""},
    ExpandCase{"0x1A ends a section", "c=1", "\x01/c/1/#/a\x1a" "b#", END, "a", ""}), zt_test::CaseName{});

TEST(FullTemplateLimits, NoTableCallsNothing)
{
    Post("");
    std::string rest;
    EXPECT_EQ(expand("<\x01(0)>", END, &rest, {}), "<>");
}

std::string nested_sections(int depth)
{
    std::string page;
    for (int i = 0; i < depth; i++)
        page += "\x01/a/2/#/";
    return page + "x" + std::string(depth, '#') + ".";
}

TEST(FullTemplateLimits, SixtyFourLevelsOfSectionsExpand)
{
    Post("");
    std::string rest;
    EXPECT_EQ(expand(nested_sections(64), END, &rest), "x.");
}

TEST(FullTemplateLimits, DeepNestingEndsWithoutExhaustingTheStack)
{
    Post("");
    const std::string page = nested_sections(100000);
    std::string rest;
    const std::string written = expand(page, END, &rest);
    EXPECT_LT(written.size(), page.size());
    EXPECT_EQ(rest, "");
}

TEST(FullTemplateLimits, EndedTemplateStaysEnded)
{
    zt_test::TemplateText in("a\x1a" "b");
    EXPECT_EQ(Tolvak_GetByte(&in.stream), 'a');
    EXPECT_EQ(Tolvak_GetByte(&in.stream), EOF);
    EXPECT_EQ(Tolvak_GetByte(&in.stream), EOF);
}

TEST(CallbackStreamReaders, CopyOrSkipASection)
{
    const std::string page = "default\x02rest";
    for (bool copy : {true, false}) {
        zt_test::TemplateText in(page);
        EXPECT_EQ(Capture([&](FILE *out) { Tolvak_CopySection(&in.stream, copy ? out : nullptr); }),
                  copy ? "default" : "");
        EXPECT_EQ(Tolvak_GetByte(&in.stream), 'r');
    }
}

// A byte argument that the callback takes from '1' to '8'.
TEST(CallbackStreamReaders, ByteArgument)
{
    const struct {
        std::string page;
        int result;
        int byte;
        std::string rest;
    } cases[] = {{"(3)x", 0, '3', "x"},
                 {"(3x", 0, '3', "x"},
                 {"( )x", TOLVAK_ARGUMENT_OUTSIDE, ' ', "x"},
                 {"(9)", TOLVAK_ARGUMENT_OUTSIDE, '9', ""},
                 {"3)", TOLVAK_ARGUMENT_MISSING, -2, "3)"},
                 {"(", TOLVAK_ARGUMENT_MISSING, EOF, ""},
                 {"()", TOLVAK_ARGUMENT_OUTSIDE, ')', ""}};
    for (const auto &c : cases) {
        zt_test::TemplateText in(c.page);
        std::int64_t byte = -2;
        const Tolvak_CallbackContract logs = {Tolvak_Argument::byte, "", "", '1', '8'};
        EXPECT_EQ(Tolvak_ReadArgument(&in.stream, logs, &byte), c.result) << c.page;
        EXPECT_EQ(byte, c.byte) << c.page;
        EXPECT_EQ(in.rest(), c.rest) << c.page;
    }
}

}  // namespace
