// zt-view end to end, in temporary boards: the page being written, the size, the units
// left, the theme or the default theme, and the comment logs newest first.
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "board.h"
#include "commentlog.h"

using namespace std::string_literals;
using zt_test::ReadFile;
using zt_test::WriteFile;

namespace {

const std::string header = "Content-type: text/html\n\n";

// The page, the size and the units left, then the theme with its default section.
const std::string text_page = "[\x01(0)]\x01(2),\x01(3)|\x01(4)default\x02|after\n";

class ViewBoard : public testing::Test {
protected:
    zt_test::TempDir dir;

    void SetUp() override { zt_test::PrepareBoard(dir.path()); }

    std::string view(const std::string &page, const std::string &query = "") const
    {
        WriteFile(dir / "zt/zt-view.htm", page);
        const auto run = zt_test::RunProgram("zt-view", {dir.path(), {{"QUERY_STRING", query}}, ""});
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out.substr(0, header.size()), header);
        return run.out.substr(header.size());
    }

    // Stores a record in log digit through the module, as the posting program does.
    void add_record(char digit, const std::string &content) const
    {
        const std::string path = dir / ("zt/zt-com"s + digit + ".txt");
        ASSERT_EQ(CommentLog_Open(path.c_str()), 0);
        EXPECT_EQ(CommentLog_Append(content.data(), content.size()), 0);
        CommentLog_Close();
    }
};

// Text of n bytes whose units are told apart by their position.
std::string text_of(std::size_t n)
{
    std::string text;
    for (std::size_t i = 0; i < n; i++)
        text += static_cast<char>('A' + (i / 8) % 26);
    return text;
}

TEST_F(ViewBoard, PageSizeAndUnitsLeftFollowTheText)
{
    const struct {
        long size;  // -1: no text file
        std::string shown;
    } cases[] = {
        {-1, "[]0,|"},
        {0, "[]0,256|"},
        {8, "[" + text_of(8) + "]8,255|"},
        {2040, "[" + text_of(2040) + "]2040,1|"},
        {2048, "[]2048,256|"},
        {2049, "[" + text_of(2049).substr(2048) + "]2049,255|"},
        {2056, "[" + text_of(2056).substr(2048) + "]2056,255|"},
        {4096, "[]4096,256|"},
        {4100, "[" + text_of(4100).substr(4096) + "]4100,255|"},
    };
    for (const auto &c : cases) {
        unlink((dir / "zt/zt-text.txt").c_str());
        if (c.size >= 0)
            WriteFile(dir / "zt/zt-text.txt", text_of(static_cast<std::size_t>(c.size)));
        EXPECT_EQ(view(text_page), c.shown + "default|after\n") << c.size;
    }
}

TEST_F(ViewBoard, PageBytesGoOutAsStored)
{
    const std::string text = "<b>&amp;\r\n\x1a\x82\xA0\xFF\0\x01\x02"s;
    WriteFile(dir / "zt/zt-text.txt", text);
    EXPECT_EQ(view("\x01(0)"), text);
}

TEST_F(ViewBoard, ThemeOrTheDefaultTheme)
{
    const std::string long_theme = text_of(100);
    const struct {
        const char *theme;  // null: no theme file
        std::string page;
        std::string shown;
    } cases[] = {
        {nullptr, "<\x01(4)default\x02>", "<default>"},
        {nullptr, "<\x01(4)\x01{namae}\x02>", "<\x01{namae}>"},
        {"", "<\x01(4)default\x02>", "<>"},
        {"<b>T&</b>", "<\x01(4)default\x02>", "<<b>T&</b>>"},
        {long_theme.c_str(), "<\x01(4)default\x02>", "<" + long_theme.substr(0, 60) + ">"},
        {nullptr, "<\x01(4)default", "<default"},
        {"T", "<\x01(4)default", "<T"},
        {"T", "<\x01(4)\x02\x01(4)\x02>", "<TT>"},
    };
    for (const auto &c : cases) {
        unlink((dir / "zt/zt-theme.txt").c_str());
        if (c.theme)
            WriteFile(dir / "zt/zt-theme.txt", c.theme);
        EXPECT_EQ(view(c.page), c.shown) << c.page;
    }
}

TEST_F(ViewBoard, CommentLogsNewestFirst)
{
    add_record('1', "<li>one");
    add_record('1', "<li>two");
    add_record('3', "<li>three");
    EXPECT_EQ(view("[\x01(1)(1)][\x01(1)(3)][\x01(1)(2)][\x01(1)(9)][\x01(1)(1]"),
              "[<li>two\n<li>one\n][<li>three\n][][][<li>two\n<li>one\n]");
}

TEST_F(ViewBoard, MissingLogPrintsNothingAndIsNotCreated)
{
    unlink((dir / "zt/zt-com2.txt").c_str());
    EXPECT_EQ(view("[\x01(1)(2)]\x01(1)"), "[]");
    EXPECT_FALSE(zt_test::Exists(dir / "zt/zt-com2.txt"));
}

TEST_F(ViewBoard, UnreadableLogHeaderGetsTheFreshHeader)
{
    WriteFile(dir / "zt/zt-com1.txt", std::string(200, '\0'));
    view("\x01(1)(1)");
    const std::string log = ReadFile(dir / "zt/zt-com1.txt");
    EXPECT_EQ(log.size(), 200u);
    EXPECT_EQ(log.substr(0, 18), "00000012\n00000012\n");
}

TEST_F(ViewBoard, QueryStringDirectivesFillTheForm)
{
    EXPECT_EQ(view("<input value=\"\x01{namae}\">", "namae=%82%A0%22&x=1"), "<input value=\"\x82\xA0&#34;\">");
}

// A text beyond 4 GiB (sparse): the page being written and the units left are still right.
TEST_F(ViewBoard, TextBeyondFourGibibytes)
{
    const long long size = (1LL << 32) + 2048 * 3 + 24;
    const std::string path = dir / "zt/zt-text.txt";
    FILE *text = fopen(path.c_str(), "wb");
    ASSERT_NE(text, nullptr);
    ASSERT_EQ(fseeko(text, size - 24, SEEK_SET), 0);
    fputs("0123456789abcdefghijklmn", text);
    fclose(text);
    EXPECT_EQ(view(text_page), "[0123456789abcdefghijklmn]" + std::to_string(size) + ",253|default|after\n");
}

}  // namespace
