// The code conversion seen through the real zt-write: a write page that prints converted
// fields shows the board's Shift_JIS for requests in each code. Every run is a process of its
// own, so an undecided request always resolves to Shift_JIS here.
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "board.h"

using zt_test::FormBody;

namespace {

const std::string header = "Content-type: text/html\n\n";

// A board whose write page shows the fields a and b, HTML-escaped, and nothing else.
struct WritePage {
    zt_test::TempDir dir;

    WritePage()
    {
        zt_test::MakeDir(dir / "zt");
        zt_test::WriteFile(dir / "zt/zt-write.htm", "[\x01{a}][\x01{b}]");
    }

    std::string post(const std::string &body) const
    {
        const auto run = zt_test::RunProgram(
            "zt-write", {dir.path(), {{"CONTENT_LENGTH", std::to_string(body.size())}}, body});
        EXPECT_EQ(run.status, 0);
        return run.out;
    }
};

const std::string euc_kanji = "\xB4\xC1\xBB\xFA";
const std::string sjis_kanji = "\x8A\xBF\x8E\x9A";

TEST(WriteProgramCode, ShowsConvertedFields)
{
    const struct {
        const char *what;
        std::vector<std::pair<std::string, std::string>> fields;
        std::string a, b;  // the fields as the page shows them
    } cases[] = {
        {"Shift_JIS", {{"a", "\x82\xA0\x82\xA2"}, {"b", "\xB6\xDE"}}, "\x82\xA0\x82\xA2",
         "\x83\x4A\x81\x4A"},
        {"EUC-JP", {{"a", "\xA4\xA2\xA4\xA4"}, {"b", euc_kanji}}, "\x82\xA0\x82\xA2", sjis_kanji},
        {"EUC-JP kanji", {{"a", euc_kanji}, {"b", "\x8E\xB6\x8E\xDE"}}, sjis_kanji,
         "\x83\x4A\x81\x4A"},
        {"JIS", {{"a", "<\x1B$B4A;z\x1B(J>"}, {"b", "\x1B$B$\"$$\x1B(B"}},
         "&#60;" + sjis_kanji + "&#62;", "\x82\xA0\x82\xA2"},
        {"JIS closed by ESC ( B", {{"a", "\x1B$B4A;z\x1B(Ba"}, {"b", "x"}}, sjis_kanji + "a", "x"},
        {"ESC $ @", {{"a", "\x1B$@4A;z"}, {"b", "\xA4\xA2"}}, "\x1B$@4A;z", "\xA4\xA2"},
        {"plain ASCII", {{"a", "it's"}, {"b", "1 + 1"}}, "it&#39;s", "1 + 1"},
        {"one EUC-JP kanji, undecided", {{"a", "\xB0\xA1"}, {"b", ""}}, "\x81\x5B\x81\x42", ""},
        {"EUC-JP half-width kana alone", {{"a", "\x8E\xB6\x8E\xDE"}, {"b", ""}},
         "\x8E\xB6\x8E\xDE", ""},
        {"EUC-JP bytes that begin no character", {{"a", euc_kanji}, {"b", "\xA5" "a\x8E"}},
         sjis_kanji, "a"},
        {"decided by a name", {{euc_kanji, "x"}, {"a", "\xA4\xA2"}, {"b", "\xB0\xA1"}}, "\x82\xA0",
         "\x88\x9F"},
    };
    WritePage page;
    for (const auto &c : cases)
        EXPECT_EQ(page.post(FormBody(c.fields)), header + "[" + c.a + "][" + c.b + "]") << c.what;
}

TEST(WriteProgramCode, LargestRequestOfHalfWidthKana)
{
    WritePage page;
    std::string body = "b=1&a=";
    std::string wide;
    while (body.size() + 3 <= 1024) {
        body += "%DE";
        wide += "\x81\x4A";
    }
    EXPECT_EQ(page.post(body), header + "[" + wide + "][1]");
}

}  // namespace
