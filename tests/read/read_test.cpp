// zt-read end to end: the page that "wa" names, wrapping around at both ends, and the numbers
// of the neighbouring pages.
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "board.h"

using namespace std::string_literals;
using zt_test::WriteFile;

namespace {

const std::string header = "Content-type: text/html\n\n";

// The page's text, then the numbers of the page before, the page shown and the page after.
const std::string read_page = "[\x01(0)]\x01(1)(-1),\x01(1)(0),\x01(1)(1)\n";

// A text of `pages` pages whose page k holds the letter 'a' + k - 1; the last page holds
// last_bytes bytes.
std::string text_of(int pages, std::size_t last_bytes = 2048)
{
    std::string text;
    for (int page = 0; page < pages; page++)
        text += std::string(page == pages - 1 ? last_bytes : 2048, static_cast<char>('a' + page));
    return text;
}

class ReadBoard : public testing::Test {
protected:
    zt_test::TempDir dir;

    void SetUp() override
    {
        zt_test::PrepareBoard(dir.path());
        WriteFile(dir / "zt/zt-read.htm", read_page);
    }

    std::string read(const char *query) const
    {
        zt_test::Environment environment;
        if (query)
            environment.emplace_back("QUERY_STRING", query);
        const auto run = zt_test::RunProgram("zt-read", {dir.path(), environment, ""});
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out.substr(0, header.size()), header);
        return run.out.substr(header.size());
    }
};

// What the page shows for page n of a text of `pages` pages (each full but the last).
std::string shown(int n, int pages, std::size_t last_bytes = 2048)
{
    const int before = n == 1 ? pages : n - 1;
    const int after = n == pages ? 1 : n + 1;
    const std::string page = text_of(pages, last_bytes).substr(static_cast<std::size_t>(n - 1) * 2048, 2048);
    return "[" + page + "]" + std::to_string(before) + "," + std::to_string(n) + "," + std::to_string(after) + "\n";
}

TEST_F(ReadBoard, WaNamesThePageAndWrapsAround)
{
    WriteFile(dir / "zt/zt-text.txt", text_of(5, 100));
    const struct {
        const char *query;
        int page;
    } cases[] = {
        {nullptr, 1}, {"", 1}, {"x=3", 1}, {"wa=1", 1}, {"wa=3", 3}, {"wa=5", 5}, {"wa=6", 1},
        {"wa=0", 5}, {"wa=", 5}, {"wa=-1", 4}, {"wa=-5", 5}, {"wa=-6", 4}, {"wa=11", 1},
        {"wa=3x", 3}, {"wa=+2", 2}, {"wa=%33", 5}, {"wa=01", 1}, {"wa=1.5", 1}, {"wa=1e3", 1},
        {"wa=0x10", 5}, {"wa=%201", 5}, {"wa= 1", 1}, {"wa=1abc", 1}, {"wa=\xEF\xBC\x99", 5},
        {"wa=1&wa=2", 1}, {"x=1&wa=4&y=2", 4}, {"wa=2&", 2}, {"wa=\"><script>", 5},
        {"wa=99999999999999999999", 2}, {"wa=-99999999999999999999", 2},
        {"wa=9223372036854775808", 2}, {"wa=2147483648", 2},
    };
    for (const auto &c : cases)
        EXPECT_EQ(read(c.query), shown(c.page, 5, 100)) << (c.query ? c.query : "(unset)");
}

TEST_F(ReadBoard, EmptyOrMissingTextIsOnePage)
{
    for (bool missing : {false, true}) {
        if (missing)
            unlink((dir / "zt/zt-text.txt").c_str());
        for (const char *query : {"wa=1", "wa=0", "wa=-3", "wa=7", "", "wa=9999999999"})
            EXPECT_EQ(read(query), "[]1,1,1\n") << query;
    }
}

TEST_F(ReadBoard, PageBoundaries)
{
    WriteFile(dir / "zt/zt-text.txt", text_of(1));
    EXPECT_EQ(read("wa=2"), shown(1, 1));
    WriteFile(dir / "zt/zt-text.txt", text_of(2, 1));
    EXPECT_EQ(read("wa=2"), shown(2, 2, 1));
    EXPECT_EQ(read("wa=3"), shown(1, 2, 1));
}

TEST_F(ReadBoard, OffsetsCountFromThePageShown)
{
    WriteFile(dir / "zt/zt-text.txt", text_of(5));
    WriteFile(dir / "zt/zt-read.htm",
              "\x01(1)(1),\x01(1)(-1),\x01(1)(0),\x01(1)(6),\x01(1)(-11),\x01(1)( +2),"
              "\x01(1)(9223372036854775807),\x01(1)(-99999999999999999999),[\x01(1)(x)][\x01(1)][\x01(1)(3]");
    EXPECT_EQ(read("wa=5"), "1,4,5,1,4,2,2,2,[x)][][3]");
}

TEST_F(ReadBoard, PageBytesGoOutAsStored)
{
    const std::string text = "<script>&amp;\r\n\x1a\0\xFF"s + std::string(2000, '\x82');
    WriteFile(dir / "zt/zt-text.txt", text);
    WriteFile(dir / "zt/zt-read.htm", "\x01(0)\x01(0)");
    EXPECT_EQ(read("wa=1"), text + text);
}

// A text beyond 4 GiB (sparse): pages are counted and found with 64-bit offsets.
TEST_F(ReadBoard, TextBeyondFourGibibytes)
{
    const long long size = (1LL << 32) + 2048 * 2 + 5;
    FILE *text = fopen((dir / "zt/zt-text.txt").c_str(), "wb");
    ASSERT_NE(text, nullptr);
    ASSERT_EQ(fseeko(text, size - 5, SEEK_SET), 0);
    fputs("tail!", text);
    fclose(text);
    const long long pages = (size - 1) / 2048 + 1;
    WriteFile(dir / "zt/zt-read.htm", "[\x01(0)]\x01(1)(0),\x01(1)(1)");
    EXPECT_EQ(read("wa=0"), "[tail!]" + std::to_string(pages) + ",1");
    EXPECT_EQ(read(("wa=" + std::to_string(pages)).c_str()), "[tail!]" + std::to_string(pages) + ",1");
}

}  // namespace
