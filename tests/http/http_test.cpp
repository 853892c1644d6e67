// The board behind lighttpd, configured by tools/lighttpd-conf, requested over HTTP: the board
// page, posts with Shift_JIS bodies and the server's own REMOTE_ADDR, every refusal that a
// request can cause, the refusal of every file that is not one of the three programs, and the
// tools that serve a board and post to it, as someone trying the board runs them.
#include <dirent.h>
#include <sys/stat.h>

#include <cstdio>
#include <ctime>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "board.h"
#include "admin.h"
#include "command.h"
#include "served_board.h"

using zt_test::FormBody;
using zt_test::ReadFile;
using zt_test::ServedBoard;
using zt_test::Sjis;
using zt_test::WriteFile;

namespace {

int Count(const std::string &haystack, const std::string &needle)
{
    int n = 0;
    for (std::size_t at = haystack.find(needle); at != std::string::npos;
         at = haystack.find(needle, at + 1))
        n++;
    return n;
}

const std::string kanji_kana = "\x8A\xBF\x8E\x9A\x82\xA9\x83\x69";  // 漢字かナ
const std::string taro = "\x91\xBE\x98\x59";                          // 太郎

std::string Post(const std::string &four, const std::string &prev, const std::string &namae)
{
    return FormBody({{"four", four}, {"prev", prev}, {"namae", namae}});
}

TEST(Http, BoardPageOfANewBoard)
{
    ServedBoard board;
    ASSERT_TRUE(board.running());
    const auto page = board.Get("/");
    EXPECT_EQ(page.status, 200);
    EXPECT_EQ(page.Header("Content-Type"), "text/html");
    EXPECT_NE(page.body.find("<meta charset=\"Shift_JIS\">"), std::string::npos);
    EXPECT_NE(page.body.find("name=\"prev\" value=\"0\""), std::string::npos);
    EXPECT_NE(page.body.find("id=\"left\">256<"), std::string::npos);
    EXPECT_NE(page.body.find("id=\"theme\">" + Sjis("自由に続きを書いてください") + "<"),
              std::string::npos);
    EXPECT_NE(page.body.find("<p class=\"text\" id=\"text\"></p>"), std::string::npos);
    EXPECT_EQ(board.Get("/zt-view").body, page.body);
}

TEST(Http, PostsAppearInTheTextAndTheRecords)
{
    ServedBoard board;
    ASSERT_TRUE(board.running());
    const auto written = board.Post("/zt-write", Post(kanji_kana, "0", taro), "127.0.0.2");
    EXPECT_EQ(written.status, 200);
    EXPECT_NE(written.body.find("id=\"done\""), std::string::npos) << written.body;
    EXPECT_NE(written.body.find("id=\"tail\">" + kanji_kana + "<"), std::string::npos);
    EXPECT_NE(written.body.find("href=\"zt-view?namae=%91%be%98Y\" id=\"back\""),
              std::string::npos);
    EXPECT_EQ(ReadFile(board / TEXT_FILE), kanji_kana);
    EXPECT_EQ(ReadFile(board / LAST_POSTER_FILE), taro + "\n127.0.0.2\n");

    // Half-width katakana arrive widened: four characters, eight bytes.
    const std::string ga_gi_half = "\xB6\xDE\xB7\xDE";
    const std::string ga_gi = "\x83\x4A\x81\x4A\x83\x4C\x81\x4A";
    EXPECT_EQ(board.Post("/zt-write", Post(ga_gi_half, "8", "b"), "127.0.0.3").status, 200);
    EXPECT_EQ(ReadFile(board / TEXT_FILE), kanji_kana + ga_gi);

    const auto page = board.Get("/?namae=%91%be%98Y");
    EXPECT_NE(page.body.find("id=\"text\">" + kanji_kana + ga_gi + "<"), std::string::npos);
    EXPECT_NE(page.body.find("name=\"prev\" value=\"16\""), std::string::npos);
    EXPECT_NE(page.body.find("id=\"left\">254<"), std::string::npos);
    EXPECT_NE(page.body.find("id=\"namae\" value=\"" + taro + "\""), std::string::npos);
    // Log 1, newest first: b's record, then 太郎's in its colour.
    const std::size_t log = page.body.find("<ol class=\"log\" id=\"log1\">\n");
    ASSERT_NE(log, std::string::npos);
    const std::size_t b = page.body.find("\">b</b><span class=\"four\">" + ga_gi, log);
    const std::size_t first = page.body.find(
        "<b style=\"color:#00CCCC\">" + taro + "</b><span class=\"four\">" + kanji_kana, log);
    EXPECT_NE(b, std::string::npos);
    EXPECT_NE(first, std::string::npos);
    EXPECT_LT(b, first);

    // Log 8 keeps the address the server saw, with a local time in the zone that the
    // configuration sets (Japan: UTC+9, no summer time).
    std::vector<std::string> records;
    CommentLog_State log8;
    ASSERT_TRUE(list_comment_log(board / comment_log_name(8), &records, &log8));
    ASSERT_EQ(records.size(), 2u);
    EXPECT_NE(records[1].find(" 127.0.0.2 " + taro + " " + kanji_kana), std::string::npos);
    // After the mark of the post it records: the first, at offset 0.
    ASSERT_TRUE(records[1].starts_with("<!--0-->")) << records[1];
    struct tm stamp = {};
    ASSERT_EQ(sscanf(records[1].c_str() + 8, "%d/%d/%d %d:%d:%d", &stamp.tm_year, &stamp.tm_mon,
                     &stamp.tm_mday, &stamp.tm_hour, &stamp.tm_min, &stamp.tm_sec),
              6);
    stamp.tm_year += 100;
    stamp.tm_mon -= 1;
    const long long japan = static_cast<long long>(timegm(&stamp));
    const long long now = static_cast<long long>(time(nullptr)) + 9 * 3600;
    EXPECT_LT(std::llabs(japan - now), 600) << records[1];
}

TEST(Http, ConfirmChecksWithoutWriting)
{
    ServedBoard board;
    ASSERT_TRUE(board.running());
    const auto checked = board.Post(
        "/zt-write",
        FormBody({{"four", kanji_kana}, {"prev", "0"}, {"namae", taro}, {"confirm", "1"}}));
    EXPECT_EQ(checked.status, 200);
    EXPECT_NE(checked.body.find(Sjis("確認しました")), std::string::npos);
    EXPECT_EQ(checked.body.find(Sjis("書き込みました")), std::string::npos);
    EXPECT_EQ(ReadFile(board / TEXT_FILE), "");
    EXPECT_EQ(ReadFile(board / LAST_POSTER_FILE), std::string(NOBODY_LAST_POSTER));
}

// Every refusal that a request through the server can cause shows its own error line, and
// only that. (-10, no REMOTE_ADDR, cannot happen here: the server always sets it.)
TEST(Http, EveryRefusalShowsItsErrorLine)
{
    const struct {
        int code;
        std::string body;
        std::function<void(const ServedBoard &)> before;  // from 127.0.0.2, then the post
    } cases[] = {
        {1, Post("", "0", "a"), {}},
        {2, Post("\x82\xA0\x82\xA2\x82\xA4", "0", "a"), {}},
        {2, Post("&#12354;abc", "0", "a"), {}},
        {3, Post("<abcdefg", "0", "a"), {}},
        {4, FormBody({{"four", kanji_kana}, {"namae", "a"}}), {}},
        {5, Post(kanji_kana, "0", "a"),
         [](const ServedBoard &b) { zt_test::MakeDir(b / LOCK_DIR); }},
        {6, Post(kanji_kana, "8", taro),
         [](const ServedBoard &b) {
             b.Post("/zt-write", Post(kanji_kana, "0", taro), "127.0.0.3");
         }},
        {7, Post(kanji_kana, "8", "a"),
         [](const ServedBoard &b) {
             b.Post("/zt-write", Post(kanji_kana, "0", taro), "127.0.0.2");
         }},
        {8, Post(kanji_kana, "0", "a"),
         [](const ServedBoard &b) { std::remove((b / LAST_POSTER_FILE).c_str()); }},
        {9, FormBody({{"four", kanji_kana}, {"prev", "0"}}), {}},
        {11, Post(kanji_kana, "0", "a"),
         [](const ServedBoard &b) { std::remove((b / TEXT_FILE).c_str()); }},
        {12, Post(kanji_kana, "16", "a"), {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE("code -" + std::to_string(c.code));
        ServedBoard board;
        ASSERT_TRUE(board.running());
        if (c.before)
            c.before(board);
        const long long size = zt_test::FileSize(board / TEXT_FILE);
        const auto refused = board.Post("/zt-write", c.body, "127.0.0.2");
        EXPECT_EQ(refused.status, 200);
        EXPECT_NE(refused.body.find("<p class=\"error\" id=\"e" + std::to_string(c.code) + "\">"),
                  std::string::npos)
            << refused.body;
        EXPECT_EQ(Count(refused.body, "class=\"error\""), 1);
        EXPECT_EQ(refused.body.find("id=\"done\""), std::string::npos);
        EXPECT_TRUE(refused.body.ends_with("</a></p></main><hr></body></html>\n"));
        EXPECT_EQ(zt_test::FileSize(board / TEXT_FILE), size);
    }
}

// Pages go out in gzip to a client that asks for it, and as they are to any other.
TEST(Http, PagesAreCompressedForClientsThatAskForIt)
{
    ServedBoard board;
    ASSERT_TRUE(board.running());
    ASSERT_EQ(board.Post("/zt-write", Post(kanji_kana, "0", taro), "127.0.0.2").status, 200);
    for (const char *target : {"/", "/zt-read?wa=1"}) {
        SCOPED_TRACE(target);
        const auto plain = board.Get(target);
        ASSERT_EQ(plain.status, 200);
        EXPECT_EQ(plain.Header("Content-Encoding"), "");
        EXPECT_NE(plain.body.find(kanji_kana), std::string::npos);
        const struct {
            const char *accepted;
            const char *encoding;
        } cases[] = {
            {"gzip", "gzip"},
            {"gzip, deflate, br, zstd", "gzip"},
            {"identity", ""},
            {"br", ""},
        };
        for (const auto &c : cases) {
            SCOPED_TRACE(c.accepted);
            const auto answer = board.Send("GET", target, "", "127.0.0.1",
                                           {std::string("Accept-Encoding: ") + c.accepted});
            EXPECT_EQ(answer.status, 200);
            EXPECT_EQ(answer.Header("Content-Encoding"), c.encoding);
            if (*c.encoding == '\0') {
                EXPECT_EQ(answer.body, plain.body);
                continue;
            }
            EXPECT_EQ(answer.Header("Vary"), "Accept-Encoding");
            EXPECT_LT(answer.body.size(), plain.body.size());
            const auto unpacked = zt_test::RunCommand({"gzip", "-dc"}, answer.body);
            EXPECT_EQ(unpacked.status, 0) << unpacked.err;
            EXPECT_EQ(unpacked.out, plain.body);
        }
    }
}

// Every file and directory of the board, and tricky spellings of the last-poster file, which
// holds a visitor's address: none is served, whatever the request.
TEST(Http, NothingButTheProgramsIsServed)
{
    ServedBoard board;
    ASSERT_TRUE(board.running());
    ASSERT_EQ(board.Post("/zt-write", Post(kanji_kana, "0", taro), "127.0.0.2").status, 200);
    WriteFile(board / THEME_FILE, Sjis("お題"));
    zt_test::MakeDir(board / LOCK_DIR);

    std::vector<std::string> targets = {"/zt", "/zt/", "/lock", "/lock/", "/lock/zt.lck",
                                        "/lock/zt.lck/"};
    DIR *zt = opendir((board / "zt").c_str());
    ASSERT_NE(zt, nullptr);
    int files = 0;
    for (dirent *entry; (entry = readdir(zt));) {
        if (entry->d_name[0] != '.') {
            targets.push_back(std::string("/zt/") + entry->d_name);
            files++;
        }
    }
    closedir(zt);
    EXPECT_EQ(files, 3 + 8 + 8 + 4);  // templates, logs, text, theme, last poster, rate
    for (const char *spelling :
         {"/zt%2Fzt-jti.txt", "/%7At/zt-jti.txt", "/zt/zt-jti%2Etxt", "/./zt/zt-jti.txt",
          "//zt/zt-jti.txt", "/zt-view/../zt/zt-jti.txt", "/zt-view/%2e%2e/zt/zt-jti.txt",
          "/zt-view%2F..%2Fzt%2Fzt-jti.txt", "/zt/zt-jti.txt?x=1", "/zt/zt-jti.txt/",
          "/zt/zt-jti.txt%00", "/zt/zt-jti.txt%20", "/zt/zt-jti.txt.", "/zt/ZT-JTI.TXT",
          "/zt-view/zt/zt-jti.txt", "/zt-read/../zt/zt-jti.txt", "/lock/zt.lck/.."})
        targets.emplace_back(spelling);

    const std::string address = "127.0.0.2";
    for (const auto &target : targets) {
        for (const char *method : {"GET", "HEAD", "POST"}) {
            SCOPED_TRACE(std::string(method) + " " + target);
            const auto response = board.Send(method, target, "", "127.0.0.4");
            EXPECT_TRUE(response.status == 403 || response.status == 404 ||
                        response.status == 400)
                << response.head;
            EXPECT_EQ(response.body.find(address), std::string::npos);
            EXPECT_EQ(response.body.find(kanji_kana), std::string::npos);
        }
    }
    // The programs run; they are never sent as files.
    for (const char *program : {"/zt-view", "/zt-read", "/zt-write"}) {
        const auto response = board.Get(program);
        EXPECT_EQ(response.status, 200) << program;
        EXPECT_FALSE(response.body.starts_with("\x7F" "ELF")) << program;
        EXPECT_TRUE(response.body.starts_with("<!DOCTYPE html>")) << program;
    }
}

// tools/post as someone trying the board alone runs it: what the board answered, as text with
// its character references read, and in words what went wrong before the board was asked.
TEST(Http, ToolsPostTellsWhatHappened)
{
    ServedBoard board;
    ASSERT_TRUE(board.running());
    const std::string url = "http://127.0.0.1:" + std::to_string(board.port());
    const struct {
        std::vector<std::string> arguments;
        int status;
        std::string out, err;  // parts that must be there
    } cases[] = {
        {{"--url", url, "漢字かな", "太郎"}, 0, "あなたの四文字：「漢字かな」　名前：太郎", ""},
        {{"--url", url, "--from", "127.0.0.4", "さしすせ"}, 0, "名前：127.0.0.4", ""},
        {{"--url", url, "--from", "127.0.0.3", "&#1;<", "x"}, 1,
         "「&#1;<」は文字数が合いません。", ""},
        {{"--url", url, "--from", "127.0.0.3", "すし🍣"}, 1, "",
         "in TEXT, 「🍣」 has no Shift_JIS form: the board keeps its text in Shift_JIS and "
         "cannot take it."},
        {{"--url", url, "--from", "10.0.0.1", "漢字かな"}, 1, "",
         "--from must be a loopback address of this machine, in 127.0.0.0/8"},
        {{"--url", "http://127.0.0.1:1", "漢字かな"}, 1, "",
         "no board answers at http://127.0.0.1:1/"},
    };
    for (const auto &c : cases) {
        std::vector<std::string> argv = {zt_test::SourcePath("tools/post")};
        argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
        std::string trace = "tools/post";
        for (const auto &a : c.arguments)
            trace += " " + a;
        SCOPED_TRACE(trace);
        const auto run = zt_test::RunCommand(argv);
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_NE(run.out.find(c.out), std::string::npos) << run.out;
        EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
        for (const char *escaped : {"&amp;", "&#38;", "&#60;"})
            EXPECT_EQ(run.out.find(escaped), std::string::npos) << run.out;
    }
    EXPECT_EQ(ReadFile(board / TEXT_FILE), Sjis("漢字かなさしすせ"));
}

// tools/serve on a port that is taken says so before it builds, installs or writes anything.
TEST(Http, ToolsServeRefusesABusyPort)
{
    ServedBoard busy;
    ASSERT_TRUE(busy.running());
    const std::string port = std::to_string(busy.port());
    const auto run =
        zt_test::RunCommand({"env", "PORT=" + port, zt_test::SourcePath("tools/serve")});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("port " + port + " is busy"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("Nothing was changed. Choose another port with PORT"),
              std::string::npos);
    EXPECT_EQ(run.err.find("== building"), std::string::npos) << run.err;
}

}  // namespace
