// The default templates convert and have the structure their programs need, and the checks
// that say so find the faults a template can have.
#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "admin.h"
#include "board.h"
#include "log_size.h"
#include "post.h"
#include "template_check.h"
#include "template_source.h"

namespace {

// One run of zt-write's use of a log: open, append content, close.
int RunAppend(const std::string &path, const std::string &content)
{
    if (CommentLog_Open(path.c_str()) != 0)
        return -2;
    const int result = CommentLog_Append(content.data(), content.size());
    CommentLog_Close();
    return result;
}

std::string Board(const std::string &source)
{
    std::string bytes, problem;
    if (!template_to_board(source, &bytes, &problem))
        ADD_FAILURE() << problem;
    return bytes;
}

std::string DefaultSource(const std::string &name)
{
    for (const auto &t : default_templates())
        if (t.name == name)
            return std::string(t.source);
    ADD_FAILURE() << "no default template " << name;
    return "";
}

std::string DefaultTemplate(const std::string &name)
{
    return Board(DefaultSource(name));
}

TEST(DefaultTemplates, AllElevenConvertAndAreSound)
{
    const char *names[] = {"zt-write.htm", "zt-view.htm", "zt-read.htm", "zt-com1.htm",
                           "zt-com2.htm", "zt-com3.htm", "zt-com4.htm", "zt-com5.htm",
                           "zt-com6.htm", "zt-com7.htm", "zt-com8.htm"};
    ASSERT_EQ(default_templates().size(), std::size(names));
    for (std::size_t i = 0; i < std::size(names); i++) {
        const auto &t = default_templates()[i];
        EXPECT_STREQ(t.name, names[i]);
        std::string bytes, problem;
        ASSERT_TRUE(template_to_board(t.source, &bytes, &problem)) << t.name << ": " << problem;
        TemplateKind kind;
        ASSERT_TRUE(template_kind(t.name, &kind)) << t.name;
        for (const auto &fault : read_template(kind, bytes).problems)
            ADD_FAILURE() << t.name << " " << fault;
    }
}

// The write page's error line k is the one for code -k: each names its code in its id.
TEST(DefaultTemplates, WritePageErrorLinesInCodeOrder)
{
    const std::string page = DefaultTemplate("zt-write.htm");
    std::size_t at = page.find("\x01(0)");
    ASSERT_NE(at, std::string::npos);
    at = page.find('\n', at) + 1;
    for (int k = 1; k <= -POST_LAST; k++) {
        const std::size_t end = page.find('\n', at);
        const std::string line = page.substr(at, end - at);
        EXPECT_TRUE(line.starts_with("<p class=\"error\" id=\"e" + std::to_string(k) + "\">"))
            << line;
        EXPECT_NE(line.find("\x01|"), std::string::npos) << "error line " << k << " links back";
        at = end + 1;
    }
    EXPECT_EQ(page[at], '\x02');
    EXPECT_NE(page.find("\x01(1)", at), std::string::npos);  // the new tail
}

TEST(DefaultTemplates, ViewPageDeclaresShiftJisAndHoldsTheForm)
{
    const std::string page = DefaultTemplate("zt-view.htm");
    EXPECT_LT(page.find("<meta charset=\"Shift_JIS\">"), 1024u);  // where browsers look
    for (const char *part :
         {"action=\"zt-write\"", "name=\"prev\" value=\"\x01(2)\"", "name=\"four\"",
          "name=\"namae\" id=\"namae\" value=\"\x01{namae}\"", "name=\"confirm\"", "\x01(1)(1)",
          "\x01(4)", "\x01(0)", "\x01(3)", "zt-read?wa=1"})
        EXPECT_NE(page.find(part), std::string::npos) << part;
    EXPECT_EQ(page.find("\x01(1)(8)"), std::string::npos);  // the addresses stay off the page
}

// The largest record a record template can make, worked out by hand: a field's value at
// most 998 bytes (1024 less "four=XXXXXXXX&prev=&namae="), each '&' five bytes as HTML and
// three in a URL; four 8 bytes; time 17, colour 7, address 45; 6 bytes of framing.
TEST(LargestRecord, OfEachDirectiveAndOfTheDefaultTemplates)
{
    const struct {
        const char *what;
        std::string source;
        long long bytes;
    } cases[] = {
        {"plain text", "<b>x</b>", 8 + 6},
        {"only the first line", "ab\nanything {namae}", 2 + 6},
        // 64 references of 7 digits: 14 bytes each as HTML, 16 in a URL.
        {"a name as HTML", "␁{namae}", 64 * 14 + 6},
        {"a name for a URL", "␁%namae%", 64 * 16 + 6},
        {"any other field", "␁{x}", 5 * 998 + 6},
        {"four", "␁{four}", 5 * 8 + 6},
        {"the post's offset, as zt-write gives it", "␁{prev}", 19 + 6},
        {"a query string", "␁|four,x|", 6 + 3 * 8 + 3 + 3 * 998 + 6},
        {"the time and the colour", "␁(0)␁(1)", 17 + 7 + 6},
        {"a callback outside the table", "␁(2)", 6},
        {"the address", "␁[REMOTE_ADDR]", 45 + 6},
        {"both kinds of section", "␁/x/1/!/a!␁/x/0/!/bc!", 3 + 6},
        {"log 1", DefaultSource("zt-com1.htm"), 26 + 83 + 17 + 7 + 64 * 14 + 40 + 6},
        {"log 3", DefaultSource("zt-com3.htm"), 26 + 28 + 7 + 64 * 14 + 6},
        {"log 7", DefaultSource("zt-com7.htm"), 26 + 17 + 1 + 64 * 14 + 2 + 40 + 6},  // "：" two bytes,
        {"log 8", DefaultSource("zt-com8.htm"), 26 + 17 + 1 + 45 + 1 + 64 * 14 + 1 + 40 + 6},
    };
    for (const auto &c : cases) {
        const LargestRecord largest = largest_record(Board(c.source));
        EXPECT_EQ(largest.bytes, c.bytes) << c.what;
        EXPECT_EQ(largest.variable, "") << c.what;
    }
    const LargestRecord agent = largest_record(Board("␁[REMOTE_ADDR]␁[HTTP_USER_AGENT]"));
    EXPECT_EQ(agent.bytes, -1);
    EXPECT_EQ(agent.variable, "HTTP_USER_AGENT");

    // Log 1's are the largest: nine of them less a byte, and the header, are the smallest log
    // init takes (12 KiB or less), and the default has room for them.
    EXPECT_EQ(largest_default_record(), 1075);
    EXPECT_EQ(smallest_log(largest_default_record()), 18 + 9 * 1075 - 1);
    EXPECT_LE(smallest_log(largest_default_record()), 12 * 1024);
    EXPECT_GE(DEFAULT_LOG_BYTES, smallest_log(largest_default_record()));
}

// The newest records that a print of the log at path shows, of those appended (newest last).
int NewestShown(const std::string &path, const std::vector<std::string> &appended)
{
    if (CommentLog_Open(path.c_str()) != 0)
        return -1;
    const std::string shown = zt_test::Capture([](FILE *out) { CommentLog_Print(out); });
    CommentLog_Close();
    int n = 0;
    std::size_t at = 0;
    for (auto r = appended.rbegin(); r != appended.rend(); ++r, n++) {
        if (shown.compare(at, r->size() + 1, *r + "\n") != 0)
            break;
        at += r->size() + 1;
    }
    return n;
}

// The smallest log that init takes shows eight of the largest records a post can add, also
// when the ninth begins a new lap and leaves the room above the head offset unused, where
// a log one byte smaller shows seven. Records of any lengths up to the largest: eight always.
TEST(LogSize, TheSmallestLogShowsEightOfTheLargestRecordsAlsoAtANewLap)
{
    const long long largest = largest_default_record();
    zt_test::TempDir dir;
    const std::string path = dir / "log";
    auto record = [](std::size_t length, int n) {
        std::string content = std::to_string(n) + ":";
        content.resize(length - COMMENT_RECORD_FRAME_BYTES, '.');
        return content;
    };
    // The worst case: eight records leave a byte less than the largest above the head offset,
    // and the ninth, one of the largest, begins a new lap there.
    for (const long long less : {0, 1}) {
        const long long size = smallest_log(largest) - less;
        SCOPED_TRACE(size);
        zt_test::WriteFile(path, zt_test::EmptyLog(size));
        std::vector<std::string> appended;
        for (int n = 0; n < 9; n++) {
            appended.push_back(record(n == 0 ? largest - less : largest, n));
            ASSERT_EQ(RunAppend(path, appended.back()), 0);
        }
        EXPECT_EQ(NewestShown(path, appended), 8 - less);
    }
    zt_test::WriteFile(path, zt_test::EmptyLog(smallest_log(largest)));
    std::mt19937 random(17);
    std::vector<std::string> appended;
    for (int n = 0; n < 600; n++) {
        const std::size_t length = random() % 3 == 0 ? largest : 6 + random() % (largest - 5);
        appended.push_back(record(length, n));
        ASSERT_EQ(RunAppend(path, appended.back()), 0);
        ASSERT_GE(NewestShown(path, appended), std::min(n + 1, 8)) << n;
    }
}

TEST(TemplateSource, PicturesBecomeTheTemplateBytes)
{
    EXPECT_EQ(Board("a␁(0)b␂漢\n"), "a\x01(0)b\x02\x8A\xBF\n");
    const struct {
        std::string source;
        std::string problem;
    } refused[] = {
        {"ok\nraw \x01 byte", "line 2: raw control byte 0x01"},
        {"crlf\r\n", "line 1: raw control byte 0x0D"},
        {"a\n\nb😀", "line 3: \"😀\""},
    };
    for (const auto &c : refused) {
        std::string bytes, problem;
        EXPECT_FALSE(template_to_board(c.source, &bytes, &problem));
        EXPECT_NE(problem.find(c.problem), std::string::npos) << problem;
    }
}

std::string WritePage(int error_lines, const std::string &line = "<p>e</p>",
                      const std::string &after = "done ␁(1)")
{
    std::string page = "<html>␁(0) rest\n";
    for (int k = 0; k < error_lines; k++)
        page += line + "\n";
    return page + "␂" + after;
}

TEST(TemplateCheck, FindsTheFaults)
{
    const struct {
        TemplateKind kind;
        std::string source;
        std::string fault;  // "" for a sound template
    } cases[] = {
        {TemplateKind::write_page, WritePage(-POST_LAST), ""},
        {TemplateKind::write_page, WritePage(-POST_LAST, "<p>␁{four} ␁/confirm/1/#/x#</p>"), ""},
        {TemplateKind::write_page, WritePage(-POST_LAST_BEFORE_RATE), ""},  // a page made before
        {TemplateKind::write_page, WritePage(-POST_LAST_BEFORE_RATE - 1),
         std::to_string(-POST_LAST_BEFORE_RATE - 1) + " error lines before 0x02"},
        {TemplateKind::write_page, WritePage(-POST_LAST + 1), "more than " + std::to_string(-POST_LAST) + " error lines"},
        {TemplateKind::write_page, "<html>no post</html>", "no callback 0"},
        {TemplateKind::write_page, WritePage(-POST_LAST, "<p>␁(2) ␁(1)</p>"), ""},
        {TemplateKind::write_page, WritePage(-POST_LAST, "<p>␁(0)</p>"), "line 2: callback 0 reads"},
        {TemplateKind::write_page, WritePage(-POST_LAST, "<p>␁/a/1/#/x</p>"),
         "a conditional section is not closed"},
        {TemplateKind::write_page, WritePage(-POST_LAST, "e", "␁(3)"), "callbacks 0 to 2"},
        {TemplateKind::write_page, WritePage(-POST_LAST, "e", "␁(0)"), "may stand only once"},
        {TemplateKind::write_page, "a␁(0) ␂\n", "byte 0x02 on the line of callback 0"},
        {TemplateKind::view_page, "␁(0)␁(1)(1)␁(2)␁(3)␁(4)default␂", ""},
        {TemplateKind::view_page, "␁(5)", "line 1: callback 5: this template's program has "
                                         "callbacks 0 to 4"},
        {TemplateKind::view_page, "\n␁(1)(9)", "line 2: callback 1: its log's digit '9' is none of '1' to '8'"},
        {TemplateKind::view_page, "␁(1)", "needs its log's digit"},
        {TemplateKind::view_page, "␁(4)default", "default theme is not closed by 0x02"},
        {TemplateKind::view_page, "␁(4)a␁{x}␂", "a directive in the default theme"},
        {TemplateKind::view_page, "␁[REMOTE_ADDR]", "exists only in zt-write's templates"},
        {TemplateKind::view_page, "␁/a/1/#/x#", "exists only in zt-write's templates"},
        {TemplateKind::view_page, "␂", "byte 0x02 where no callback reads it"},
        {TemplateKind::read_page, "␁(0)␁(1)(-1)␁(1)( +2)", ""},
        {TemplateKind::read_page, "␁(1)", "needs its page offset"},
        {TemplateKind::read_page, "␁(4)", "callbacks 0 to 1"},
        {TemplateKind::read_page, "␁(99999999999999999999)y",  // the number saturates
         "line 1: callback 9223372036854775807: this template's program has callbacks 0 to 1"},
        {TemplateKind::record, "␁(0) ␁(1) ␁{namae} ␁[REMOTE_ADDR]\n␁(7) is not read", ""},
        {TemplateKind::record, "␁/namae/1/#/a\nb#", "a line end inside a conditional"},
        {TemplateKind::record, "␁(2)", "callbacks 0 to 1"},
        {TemplateKind::record, "␁{}", "empty name"},
        {TemplateKind::record, "␁{abcdefghijklmnopqrst}", "a name of 20 bytes (at most 19)"},
        {TemplateKind::record, "␁{abcdefghijklmnopqrs}", ""},
        {TemplateKind::record, "␁{namae", "'{' directive not closed"},
        {TemplateKind::record, "␁x", "0x01 followed by 0x78 is no directive"},
        {TemplateKind::record, "␁|namae,,four|", "'|' directive with an empty name"},
        {TemplateKind::record, "␁/namae/1/A/xA", "section character 0x41"},
        {TemplateKind::record, "␁/namae/1/#/␁{a#}#", "stands inside a directive of its own body"},
    };
    for (const auto &c : cases) {
        const auto faults = read_template(c.kind, Board(c.source)).problems;
        if (c.fault.empty()) {
            EXPECT_TRUE(faults.empty()) << c.source << ": " << faults[0];
            continue;
        }
        bool found = false;
        for (const auto &fault : faults)
            found |= fault.find(c.fault) != std::string::npos;
        EXPECT_TRUE(found) << c.source << ": wanted \"" << c.fault << "\", got "
                           << (faults.empty() ? "nothing" : faults[0]);
    }
}

// Bytes that no source can hold but an edited board template can.
TEST(TemplateCheck, FindsBytesThatEndOrVanish)
{
    for (const char *bytes : {"a\x1A", "a\r\n", "a\xFF"}) {
        const auto faults = read_template(TemplateKind::view_page, bytes).problems;
        ASSERT_EQ(faults.size(), 1u) << bytes;
        EXPECT_NE(faults[0].find("the programs drop it or stop reading there"), std::string::npos);
    }
}

}  // namespace
