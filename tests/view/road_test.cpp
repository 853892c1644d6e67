// The whole road of a post: the size that zt-view shows goes back to zt-write as prev; the
// text, the records and the pages appear on the board page and the reading page. And the
// cost of a page does not grow with the text: the same reads for 1 page and 10,000 pages.
#include <unistd.h>

#include <regex>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "board.h"

using namespace std::string_literals;
using zt_test::ReadFile;
using zt_test::WriteFile;

namespace {

const std::string header = "Content-type: text/html\n\n";

class Road : public testing::Test {
protected:
    zt_test::TempDir dir;

    void SetUp() override
    {
        zt_test::PrepareBoard(dir.path(), 16384);
        std::string write = "head \x01(0)\n";
        for (int line = 1; line <= 12; line++)
            write += "E"s + std::to_string(line) + "\n";
        WriteFile(dir / "zt/zt-write.htm", write + "\x02OK \x01(1)");
        for (char digit = '1'; digit <= '8'; digit++)
            WriteFile(dir / ("zt/zt-com"s + digit + ".htm"), "<li>\x01{namae}\n");
        WriteFile(dir / "zt/zt-view.htm", "[\x01(0)]\x01(2) \x01(3)\n\x01(1)(1)");
        WriteFile(dir / "zt/zt-read.htm", "[\x01(0)]\x01(1)(0)");
    }

    std::string run(const char *program, const std::string &query) const
    {
        const auto result = zt_test::RunProgram(program, {dir.path(), {{"QUERY_STRING", query}}, ""});
        EXPECT_EQ(result.status, 0);
        return result.out.substr(header.size());
    }

    zt_test::Run post(const std::string &four, const std::string &prev, int poster) const
    {
        const std::string body = zt_test::FormBody({{"four", four}, {"prev", prev}, {"namae", "n" + std::to_string(poster)}});
        const std::string address = "10.0." + std::to_string(poster / 256) + "." + std::to_string(poster % 256);
        return zt_test::RunProgram("zt-write", {dir.path(),
                                                {{"CONTENT_LENGTH", std::to_string(body.size())}, {"REMOTE_ADDR", address}},
                                                body});
    }
};

std::string unit_of(int i)
{
    char unit[9];
    snprintf(unit, sizeof unit, "%08d", i);
    return unit;
}

TEST_F(Road, PostsAppearOnTheBoardAndTheReadingPages)
{
    constexpr int posts = 260;
    std::string text;
    for (int i = 0; i < posts; i++) {
        const std::string board = run("zt-view", "");
        const std::string size = board.substr(board.find(']') + 1, board.find(' ') - board.find(']') - 1);
        ASSERT_EQ(size, std::to_string(text.size()));
        const auto result = post(unit_of(i), size, i);
        ASSERT_EQ(result.status, 0) << result.out;
        text += unit_of(i);
        const std::string tail = text.size() % 2048 == 0 ? "" : text.substr(text.size() - (text.size() % 2048 < 16 ? 8 : 16));
        ASSERT_EQ(result.out, header + "head OK " + tail);
    }
    // A stale form is refused: the size it carries is no longer the text's.
    EXPECT_EQ(post("xxxxxxxx", "2072", 999).out, header + "head E12<hr></body></html>\n");

    const std::string board = run("zt-view", "");
    EXPECT_EQ(board.substr(0, board.find('\n')), "[" + text.substr(2048) + "]2080 252");
    std::istringstream records(board.substr(board.find('\n') + 1));
    int expected = posts - 1;
    for (std::string line; std::getline(records, line); expected--)
        EXPECT_EQ(line, "<li>n" + std::to_string(expected));
    EXPECT_LT(expected, posts - 100) << "the log holds its newest records";

    EXPECT_EQ(run("zt-read", "wa=1"), "[" + text.substr(0, 2048) + "]1");
    EXPECT_EQ(run("zt-read", "wa=2"), "[" + text.substr(2048) + "]2");
    EXPECT_EQ(run("zt-read", "wa=3"), "[" + text.substr(0, 2048) + "]1");
    EXPECT_EQ(ReadFile(dir / "zt/zt-text.txt"), text);
}

// The bytes a program reads from the board's files, by system call, under strace. Reads of
// other files (a sanitizer's look at /proc) do not count.
struct Reads {
    int calls = 0;
    long long bytes = 0;
    int mapped = 0;  // file mappings, which would read without a read call
};

Reads reads_of(const zt_test::TempDir &dir, const char *program, const std::string &query)
{
    const std::string trace = dir / "trace";
    zt_test::RunOptions options(dir.path(), {{"QUERY_STRING", query}}, "");
    options.prefix = {"/usr/bin/strace", "-qq", "-y", "-o", trace, "-e", "trace=read,pread64,readv,preadv,mmap"};
    const auto result = zt_test::RunProgram(program, options);
    EXPECT_EQ(result.status, 0);
    Reads reads;
    std::istringstream lines(ReadFile(trace));
    static const std::regex read_call(R"(^p?readv?(64)?\(\d+<([^>]*)>,.*\)\s+=\s+(\d+))");
    static const std::regex file_map(R"(^mmap\(.*, \d+<([^>]*)>, (0x[0-9a-f]+|\d+)\)\s+=)");
    std::smatch match;
    for (std::string line; std::getline(lines, line);) {
        if (std::regex_search(line, match, read_call) && match[2].str().rfind(dir.path(), 0) == 0) {
            reads.calls++;
            reads.bytes += std::stoll(match[3]);
        } else if (std::regex_search(line, match, file_map) && match[1].str().rfind(dir.path(), 0) == 0) {
            reads.mapped++;
        }
    }
    unlink(trace.c_str());
    return reads;
}

TEST(PageCost, OnePageAndTenThousandPagesReadTheSame)
{
    if (access("/usr/bin/strace", X_OK) != 0)
        GTEST_FAIL() << "strace is needed (tools/test installs it)";
    zt_test::TempDir small, large;
    for (const auto *board : {&small, &large}) {
        zt_test::PrepareBoard(board->path(), 16384);
        WriteFile(*board / "zt/zt-view.htm", "[\x01(0)]\x01(2) \x01(3)\x01(4)none\x02\n\x01(1)(1)");
        WriteFile(*board / "zt/zt-read.htm", "[\x01(0)]\x01(1)(-1) \x01(1)(1)");
    }
    WriteFile(small / "zt/zt-text.txt", std::string(1000, 'x'));
    // The large text is sparse: 9,999 full pages and the same part page.
    ASSERT_EQ(truncate((large / "zt/zt-text.txt").c_str(), 9999LL * 2048), 0);
    FILE *text = fopen((large / "zt/zt-text.txt").c_str(), "ab");
    fputs(std::string(1000, 'x').c_str(), text);
    fclose(text);

    for (const auto &[program, query] : {std::pair{"zt-view", ""}, std::pair{"zt-read", "wa=0"},
                                         std::pair{"zt-read", "wa=5000"}}) {
        const Reads one = reads_of(small, program, query);
        const Reads many = reads_of(large, program, query);
        EXPECT_GT(one.calls, 0) << program;
        EXPECT_EQ(one.calls, many.calls) << program << " " << query;
        EXPECT_EQ(one.mapped, many.mapped) << program << " " << query;
        if (std::string(query) != "wa=5000")
            EXPECT_EQ(one.bytes, many.bytes) << program << " " << query;
        else  // the page shown is a full one of the large text: one page more, never the text
            EXPECT_EQ(many.bytes - one.bytes, 2048 - 1000) << program << " " << query;
    }
}

}  // namespace
