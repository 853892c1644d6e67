// The output helpers of the full configuration: encoders, path builder, directory operations,
// error page.
#include <string>

#include <gtest/gtest.h>

#include "board.h"
#include "case_name.h"
#include "directory.h"
#include "encode.h"
#include "error.h"
#include "intake.h"
#include "path.h"

using namespace std::string_literals;
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

TEST(Path, EveryCallOverwritesTheOneBuffer)
{
    const char *first = Tolvak_Path("zt/zt-com%c.txt", '3');
    EXPECT_STREQ(first, "zt/zt-com3.txt");
    const char *second = Tolvak_Path("%s", "lock/zt.lck");
    EXPECT_EQ(first, second);
    EXPECT_EQ(second, Tolvak_BaseDir);
    EXPECT_STREQ(first, "lock/zt.lck");
}

TEST(Path, TooLongIsRefusedAsTheEmptyPath)
{
    const std::string fits(TOLVAK_PATH_BYTES - 1, 'a');
    EXPECT_EQ(std::string(Tolvak_Path("%s", fits.c_str())), fits);
    EXPECT_STREQ(Tolvak_Path("%s", (fits + "b").c_str()), "");
    EXPECT_STREQ(Tolvak_Path("%s", "x"), "x");
}

TEST(DirectoryOperations, ReportOnlySuccessOrFailure)
{
    zt_test::TempDir dir;
    const std::string lock = dir / "zt.lck";
    EXPECT_EQ(Tolvak_MakeDir(lock.c_str()), 0);
    EXPECT_EQ(Tolvak_MakeDir(lock.c_str()), -1);
    EXPECT_EQ(Tolvak_RemoveDir(lock.c_str()), 0);
    EXPECT_EQ(Tolvak_RemoveDir(lock.c_str()), -1);
    EXPECT_EQ(Tolvak_MakeDir((dir / "missing/zt.lck").c_str()), -1);
    zt_test::WriteFile(dir / "file", "x");
    EXPECT_EQ(Tolvak_MakeDir((dir / "file").c_str()), -1);
    EXPECT_EQ(Tolvak_RemoveDir((dir / "file").c_str()), -1);
}

TEST(ErrorPage, IsAFormatAndEndsTheRun)
{
    EXPECT_EXIT(Tolvak_Error("Can't open %s", "x"), testing::ExitedWithCode(1), "");
}

}  // namespace
