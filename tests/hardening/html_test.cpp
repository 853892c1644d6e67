// The default templates' pages as the programs serve them after real posts (Japanese text,
// names with markup, a text past its first page, a theme), checked by HTML Tidy for errors:
// every answer of the write page (the completion part, the check-only answer and each of the
// twelve error lines), the board page with and without a theme and with form values in its
// query string, and the reading pages.
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "post_rate.h"
#include "real_board.h"

using zt_hard::PostFields;
using zt_hard::RealBoard;
using zt_hard::Sjis;

namespace {

const char *const TIDY = "/usr/bin/tidy";
const std::string header = "Content-type: text/html\n\n";

// Tidy's verdict on a page: its status (0 sound, 1 warnings, 2 errors) and what it said.
zt_test::CommandRun tidy(const zt_test::TempDir &dir, const std::string &response)
{
    EXPECT_EQ(response.compare(0, header.size(), header), 0);
    const std::string page = dir / "page.html";
    zt_test::WriteFile(page, response.substr(header.size()));
    return zt_test::RunCommand({TIDY, "-q", "-e", "-shiftjis", page});
}

class Html : public testing::Test {
protected:
    zt_test::TempDir scratch;
    RealBoard board{4096};
    int pages = 0;

    void SetUp() override
    {
        if (access(TIDY, X_OK) != 0)
            GTEST_FAIL() << "tidy is needed (tools/test installs it)";
    }

    void expect_valid(const std::string &what, const zt_test::Run &run)
    {
        const auto verdict = tidy(scratch, run.out);
        pages++;
        EXPECT_LT(verdict.status, 2) << what << ":\n" << verdict.err;
        if (verdict.status == 1)
            printf("%s: tidy warns:\n%s", what.c_str(), verdict.err.c_str());
    }

    zt_test::Run post(const std::string &four, const std::string &name, const std::string &address,
                      const std::string &extra = "")
    {
        return board.Post(zt_test::FormBody(PostFields(four, board.Prev(), name)) + extra, address);
    }
};

TEST_F(Html, EveryPageOfTheDefaultTemplatesAfterRealPosts)
{
    // A text one post short of its first page, then real posts that carry it onto the second.
    std::string text;
    for (int i = 0; i < 255; i++)
        text += Sjis(i % 2 ? "かしある" : "むかしむ");
    zt_test::WriteFile(board / "zt/zt-text.txt", text);
    const auto theme = zt_test::RunAdmin({"theme", board.dir(), "<b>お題</b> & \"続き\""});
    ASSERT_EQ(theme.status, 0) << theme.err;
    expect_valid("board page with a theme", board.View());

    const struct {
        const char *four, *name;
    } posts[] = {
        {"ところに", "<b>太郎</b>"},
        {"おじいさ", "\"引用\" & 'それ' <script>"},
        {"んとおば", "花子\n改行"},
        {"a&b\"c'de", "ｶﾀｶﾅ"},
        {"あさんが", ""},
    };
    int n = 0;
    for (const auto &p : posts) {
        const auto run = post(Sjis(p.four), Sjis(p.name), "127.0.1." + std::to_string(++n));
        ASSERT_EQ(zt_hard::AnswerCode(run.out), 0) << run.out;
        expect_valid(std::string("write page after the post of ") + p.four, run);
    }
    expect_valid("board page without a theme", board.View());
    expect_valid("board page with form values",
                 board.View("four=%22%3E%3Cb%3E&namae=" + zt_test::PercentEncode(Sjis("<名前>"))));
    for (const char *wa : {"wa=1", "wa=2", "wa=0", "wa=%22%3E"})
        expect_valid(std::string("reading page ") + wa, board.Read(wa));

    const std::string unit = Sjis("さいごの");
    expect_valid("check-only answer",
                 board.Post(zt_test::FormBody(PostFields(unit, board.Prev(), Sjis("確認"))) + "&confirm=1", "127.0.2.1"));

    // Each error line, by a request that earns it.
    const std::string prev = board.Prev();
    const std::string name = Sjis("<i>だれか</i>");
    const struct {
        int code;
        std::string body;
        std::string address;
        std::function<void()> before, after;
    } errors[] = {
        {-1, "prev=" + prev + "&namae=x", "127.0.3.1", {}, {}},
        {-2, zt_test::FormBody(PostFields(Sjis("ながすぎる"), prev, name)), "127.0.3.2", {}, {}},
        {-3, zt_test::FormBody(PostFields("<b>x</b>", prev, name)), "127.0.3.3", {}, {}},
        {-4, zt_test::FormBody({{"four", unit}, {"namae", name}}), "127.0.3.4", {}, {}},
        {-5, zt_test::FormBody(PostFields(unit, prev, name)), "127.0.3.5",
         [&] { mkdir((board / "lock/zt.lck").c_str(), 0700); }, [&] { rmdir((board / "lock/zt.lck").c_str()); }},
        {-6, zt_test::FormBody(PostFields(unit, prev, "")), "127.0.3.6", {}, {}},
        {-7, zt_test::FormBody(PostFields(unit, prev, name)), "127.0.1.5", {}, {}},
        {-8, zt_test::FormBody(PostFields(unit, prev, name)), "127.0.3.8",
         [&] { rename((board / "zt/zt-jti.txt").c_str(), (board / "jti").c_str()); },
         [&] { rename((board / "jti").c_str(), (board / "zt/zt-jti.txt").c_str()); }},
        {-9, zt_test::FormBody({{"four", unit}, {"prev", prev}}), "127.0.3.9", {}, {}},
        {-10, zt_test::FormBody(PostFields(unit, prev, name)), "", {}, {}},
        {-11, zt_test::FormBody(PostFields(unit, prev, name)), "127.0.3.11",
         [&] { rename((board / "zt/zt-text.txt").c_str(), (board / "text").c_str()); },
         [&] { rename((board / "text").c_str(), (board / "zt/zt-text.txt").c_str()); }},
        {-12, zt_test::FormBody(PostFields(unit, "8", name)), "127.0.3.12", {}, {}},
        {-13, zt_test::FormBody(PostFields(unit, prev, name)), "127.0.3.13",
         [&] {
             rename((board / "zt/zt-rate.txt").c_str(), (board / "rate").c_str());
             std::string rate(rate_file_bytes({1, 0}), '\0');
             format_rate_file(rate.data(), {1, 0});
             format_rate_slot(rate.data() + RATE_HEADER_BYTES, {time(nullptr), address_key("127.0.3.13")});
             zt_test::WriteFile(board / "zt/zt-rate.txt", rate);
         },
         [&] { rename((board / "rate").c_str(), (board / "zt/zt-rate.txt").c_str()); }},
    };
    for (const auto &e : errors) {
        if (e.before)
            e.before();
        const auto run = board.Post(e.body, e.address);
        if (e.after)
            e.after();
        EXPECT_EQ(zt_hard::AnswerCode(run.out), e.code) << run.out;
        expect_valid("error line " + std::to_string(e.code), run);
    }
    printf("html: %d pages of the default templates checked by tidy, no errors\n", pages);
}

}  // namespace
