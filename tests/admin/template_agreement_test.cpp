// The template check and the template engine agree on every callback directive and every 0x02
// of a template. For a table of odd templates, the callbacks that the check finds on the
// page's way are those that the engine calls, in order and at the same places, and the 0x02
// bytes that it finds printed are those the engine writes. The engine runs as the programs
// run it, with callbacks that read their arguments through the programs' own contracts; this
// file is built once with each variant of the engine (ZT_FULL_VARIANT: the write page and the
// records).
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "board.h"
#include "template_check.h"
#include "template_text.h"

namespace {

using Calls = std::vector<std::pair<long long, std::size_t>>;

std::span<const Tolvak_CallbackContract> contract;
const char *base;
Calls calls;

// Callback n, reading what the program's callback n reads by its contract (the board page
// without a theme, the write page after an accepted post).
template <int N>
void record(Tolvak_TemplateStream *in, FILE *out)
{
    calls.push_back({N, static_cast<std::size_t>(in->next - base)});
    std::int64_t value;
    switch (contract[N].argument) {
    case Tolvak_Argument::byte:
    case Tolvak_Argument::number:
        Tolvak_ReadArgument(in, contract[N], &value);
        break;
    case Tolvak_Argument::section:
        Tolvak_CopySection(in, out);
        break;
    case Tolvak_Argument::lines:
        Tolvak_CopySection(in, nullptr);
        break;
    case Tolvak_Argument::none:
        break;
    }
}

constexpr Tolvak_PageCallback callbacks[] = {record<0>, record<1>, record<2>, record<3>,
                                             record<4>};

struct OddTemplate {
    TemplateKind kind;
    std::string bytes;
};

std::vector<OddTemplate> odd_templates()
{
    const std::string error_lines = " rest\ne1\ne2\ne3\ne4\ne5\ne6\ne7\ne8\ne9\ne10\ne11\ne12\n";
#ifdef ZT_FULL_VARIANT
    return {
        {TemplateKind::write_page, "<p>\x01(0)" + error_lines + "\x02 done \x01(1)\x02\x01(1)"},
        {TemplateKind::write_page, "\x01/a/0/#/\x01(1)\x02#\x01(0)\nl\n\x02x\x01(2)"},
        {TemplateKind::write_page, "\x01/a/2/\x02/\x01(1)\x02x\x01(0)" + error_lines + "\x02"},
        {TemplateKind::write_page, "\x01( +0 )" + error_lines + "\x02\x01(99999999999999999999)\x01(1"},
        {TemplateKind::record, "\x01(1)\x02\x01(0)\n\x01(1)"},
        {TemplateKind::record, "\x01/namae/2/#/a\n\x01(0)#\x01(1)\r\n\x01(0)"},
        {TemplateKind::record, "\x01[ZT_UNSET]\x01{a\x02}\x01|b,\x02|\x01\x02\x01(1)\x1a\x01(0)"},
    };
#else
    return {
        {TemplateKind::view_page, "\x01(99999999999999999999)y\x01(2)"},
        {TemplateKind::view_page, "\x01( +4)default\x02" "after\x02 \x01(1)(3)x"},
        {TemplateKind::view_page, "\x01(1)(\x02)\x01(0)"},
        {TemplateKind::view_page, "\x01(4)\x01(0)\x02\x01(3"},
        {TemplateKind::view_page, "a\r\x02" "b\x1a\x01(0)"},
        {TemplateKind::view_page, "\x01\x02\x01{a\x02}\x01|b,\x02|\x01%\x02%\x02"},
        {TemplateKind::view_page, "\x01[x]\x02\x01/a/1/#/\x01(0)#"},
        {TemplateKind::view_page, "\x01(\n3)\x01(-0)\x01(+1)(x)"},
        {TemplateKind::view_page, "\x01(0)\xff\x01(1)(2)"},
        {TemplateKind::view_page, ""},
        {TemplateKind::read_page, "\x01(1)(-1)\x01(1)( 2\x01(1)\x01(0)"},
        {TemplateKind::read_page, "\x01(2)\x02\x01(1)(99999999999999999999)\x01(-1)"},
    };
#endif
}

TEST(TemplateCheckAndEngine, AgreeOnEveryCallbackAndEveryControlByte)
{
    setenv("QUERY_STRING", "", 1);
    for (const auto &t : odd_templates()) {
        SCOPED_TRACE(testing::PrintToString(t.bytes));
        const TemplateReading reading = read_template(t.kind, t.bytes);
        contract = template_use(t.kind).contract;
        const auto table = static_cast<long long>(contract.size());
        Calls found;
        for (const auto &[n, at] : reading.callbacks)
            if (n >= 0 && n < table)
                found.push_back({n, at});

        calls.clear();
        zt_test::TemplateText in(t.bytes);
        base = in.text.data();
        const std::string page = zt_test::Capture([&](FILE *out) {
            Tolvak_ExpandTemplate(&in.stream, out, Tolvak_CallbackTable(callbacks).first(contract.size()),
                                  t.kind == TemplateKind::record ? '\n' : TOLVAK_TEMPLATE_END);
        });
        EXPECT_EQ(found, calls);
        EXPECT_EQ(reading.printed_controls.size(), std::count(page.begin(), page.end(), '\x02'));
    }
}

}  // namespace
