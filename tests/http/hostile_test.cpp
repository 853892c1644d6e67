// The board behind lighttpd against hostile visitors, in the configuration that
// tools/lighttpd-conf writes: posts forged by another site's page and requests of any method
// but GET, HEAD and POST are refused before a program runs, every answer forbids other sites
// to frame it, /favicon.ico is simply not found, and
// one address holding more half-sent requests than lighttpd's default limits allow leaves the
// board open to everybody else. (tools/flood measures the flood at full size.)
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "board.h"
#include "admin.h"
#include "command.h"
#include "served_board.h"

using zt_test::FormBody;
using zt_test::ReadFile;
using zt_test::Response;
using zt_test::ServedBoard;

namespace {

const std::string kanji_kana = "\x8A\xBF\x8E\x9A\x82\xA9\x83\x69";  // 漢字かナ

std::string Unit(const std::string &four, const std::string &prev, const std::string &namae = "a")
{
    return FormBody({{"four", four}, {"prev", prev}, {"namae", namae}});
}

// Replaces every "{port}" in text with the board's port.
std::string WithPort(std::string text, int port)
{
    for (std::size_t at; (at = text.find("{port}")) != std::string::npos;)
        text.replace(at, 6, std::to_string(port));
    return text;
}

// What a browser says of a post's origin, and whether the board takes it. Sec-Fetch-Site
// (Chrome 76, Firefox 90, Safari 16.4 on) must be same-origin or none; an Origin (older
// browsers send only that) must be one of the board's: with the default configuration the
// address it listens on, or localhost. A post with neither is no browser's forgery.
TEST(Http, ForgedPostsAreRefused)
{
    const struct {
        const char *what;
        std::vector<std::string> headers;
        bool taken;
    } cases[] = {
        {"neither header: curl, tools/post, an old browser", {}, true},
        {"the board's own form",
         {"Sec-Fetch-Site: same-origin", "Origin: http://127.0.0.1:{port}"}, true},
        {"an address typed in", {"Sec-Fetch-Site: none"}, true},
        {"the board opened as localhost", {"Origin: http://localhost:{port}"}, true},
        {"another site's page", {"Sec-Fetch-Site: cross-site", "Origin: http://evil.example"},
         false},
        {"cross-site alone", {"Sec-Fetch-Site: cross-site"}, false},
        {"a page on another port of the board's host",
         {"Sec-Fetch-Site: same-site", "Origin: http://127.0.0.1:1"}, false},
        {"same-site alone", {"Sec-Fetch-Site: same-site"}, false},
        {"the header's name in lower case", {"sec-fetch-site: cross-site"}, false},
        {"an old browser on another site", {"Origin: http://evil.example"}, false},
        {"a sandboxed frame or a data: page", {"Origin: null"}, false},
        {"an origin that begins as the board's", {"Origin: http://127.0.0.1:{port}.evil.example"},
         false},
        {"the board's port with a digit more", {"Origin: http://127.0.0.1:{port}0"}, false},
        {"https on the board's host and port", {"Origin: https://127.0.0.1:{port}"}, false},
        {"same-origin claimed beside a foreign Origin",
         {"Sec-Fetch-Site: same-origin", "Origin: http://evil.example"}, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        ServedBoard board;
        ASSERT_TRUE(board.running());
        std::vector<std::string> headers;
        for (const std::string &header : c.headers)
            headers.push_back(WithPort(header, board.port()));
        const std::string last_poster = ReadFile(board / LAST_POSTER_FILE);
        const std::string log8 = ReadFile(board / comment_log_name(8));

        const Response answer =
            board.Send("POST", "/zt-write", Unit(kanji_kana, "0"), "127.0.0.2", headers);
        if (c.taken) {
            EXPECT_EQ(answer.status, 200);
            EXPECT_NE(answer.body.find("id=\"done\""), std::string::npos) << answer.body;
            EXPECT_EQ(ReadFile(board / TEXT_FILE), kanji_kana);
        } else {
            EXPECT_EQ(answer.status, 403);
            EXPECT_EQ(answer.body.find("id=\"done\""), std::string::npos);
            EXPECT_EQ(ReadFile(board / TEXT_FILE), "");
            EXPECT_EQ(ReadFile(board / LAST_POSTER_FILE), last_poster);
            EXPECT_EQ(ReadFile(board / comment_log_name(8)), log8);
        }
    }
}

// An operator names the board's public origins; then those are its own and the address
// lighttpd listens on is not. A board on every address cannot guess its names and gets no
// configuration until it is given them.
TEST(Http, OriginsNamedForTheBoard)
{
    ServedBoard board({}, {"--origin", "https://ZT.example.jp:443/", "--origin",
                           "http://zt.example.jp:8080"});
    ASSERT_TRUE(board.running());
    const struct {
        std::string origin;
        int status;
    } cases[] = {
        {"https://zt.example.jp", 200},
        {"http://zt.example.jp:8080", 200},
        {"http://zt.example.jp", 403},
        {"https://zt.example.jp:8443", 403},
        {"http://127.0.0.1:{port}", 403},
    };
    for (const auto &c : cases) {
        const std::string origin = WithPort(c.origin, board.port());
        SCOPED_TRACE(origin);
        const std::string prev = std::to_string(zt_test::FileSize(board / TEXT_FILE));
        // A new address and name for every post: the board takes no two in a row from one.
        const std::string n = std::to_string(&c - cases + 1);
        const Response answer = board.Send("POST", "/zt-write", Unit(kanji_kana, prev, n),
                                           "127.0.1." + n, {"Origin: " + origin});
        EXPECT_EQ(answer.status, c.status);
        EXPECT_EQ(answer.body.find("id=\"done\"") != std::string::npos, c.status == 200);
    }

    const std::string conf = zt_test::SourcePath("tools/lighttpd-conf");
    EXPECT_EQ(zt_test::RunCommand({conf, "--bind", "0.0.0.0", board.dir()}).status, 2);
    EXPECT_EQ(zt_test::RunCommand({conf, "--bind", "::", board.dir()}).status, 2);
    EXPECT_EQ(zt_test::RunCommand({conf, "--origin", "ftp://zt.example.jp", board.dir()}).status,
              2);
    const auto named = zt_test::RunCommand(
        {conf, "--bind", "0.0.0.0", "--origin", "https://zt.example.jp", board.dir()});
    EXPECT_EQ(named.status, 0) << named.err;
}

// Every answer, the programs' pages and the server's refusals alike, forbids other sites to
// frame it and browsers to take it for another type. /favicon.ico, which every browser asks
// for, is not found (404), not forbidden.
TEST(Http, EveryAnswerForbidsFramingAndSniffing)
{
    ServedBoard board;
    ASSERT_TRUE(board.running());
    const struct {
        const char *method;
        const char *target;
        std::string body;
        std::vector<std::string> headers;
        int status;
    } cases[] = {
        {"GET", "/", "", {}, 200},
        {"GET", "/zt-view?namae=a", "", {}, 200},
        {"GET", "/zt-read?wa=1", "", {}, 200},
        {"HEAD", "/", "", {}, 200},
        {"POST", "/zt-write", Unit(kanji_kana, "0"), {}, 200},
        {"POST", "/zt-write", Unit(kanji_kana, "8"), {"Sec-Fetch-Site: cross-site"}, 403},
        {"GET", "/zt-write", "", {}, 200},
        {"GET", "/zt/zt-jti.txt", "", {}, 403},
        {"GET", "/lock/", "", {}, 403},
        {"GET", "/favicon.ico", "", {}, 404},
        {"HEAD", "/favicon.ico", "", {}, 404},
        {"PUT", "/zt-write", Unit(kanji_kana, "8"), {}, 405},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.method) + " " + c.target);
        const Response answer = board.Send(c.method, c.target, c.body, "127.0.0.2", c.headers);
        EXPECT_EQ(answer.status, c.status) << answer.head;
        EXPECT_EQ(answer.Header("Content-Security-Policy"), "frame-ancestors 'self'");
        EXPECT_EQ(answer.Header("X-Frame-Options"), "SAMEORIGIN");
        EXPECT_EQ(answer.Header("X-Content-Type-Options"), "nosniff");
    }
}

// The programs do not look at the method, so any other than GET, HEAD and POST is refused
// before one runs: a PUT or a PROPFIND with a form body would be a post, past the rule on
// other sites' posts, which covers POST.
TEST(Http, OnlyGetHeadAndPostReachThePrograms)
{
    ServedBoard board;
    ASSERT_TRUE(board.running());
    for (const char *method : {"PUT", "PATCH", "DELETE", "OPTIONS", "PROPFIND", "TRACE"}) {
        for (const char *target : {"/zt-write", "/zt-view", "/"}) {
            SCOPED_TRACE(std::string(method) + " " + target);
            const Response answer = board.Send(method, target, Unit(kanji_kana, "0"),
                                               "127.0.0.2", {"Sec-Fetch-Site: cross-site"});
            EXPECT_EQ(answer.status, 405) << answer.head;
            EXPECT_EQ(answer.Header("Allow"), "GET, HEAD, POST");
            EXPECT_EQ(answer.body.find("id=\"done\""), std::string::npos);
        }
    }
    EXPECT_EQ(ReadFile(board / TEXT_FILE), "");
    EXPECT_EQ(board.Post("/zt-write", Unit(kanji_kana, "0"), "127.0.0.2").status, 200);
    EXPECT_EQ(ReadFile(board / TEXT_FILE), kanji_kana);
}

// tools/check-served finds what an operator's mistake lets through, on the board's own
// address; a page that is not the board's checks nothing.
TEST(Http, ToolsCheckServedFindsWhatIsLetThrough)
{
    const struct {
        const char *what;
        std::string conf_lines;
        const char *failed;  // the check that fails, or null
    } cases[] = {
        {"as tools/lighttpd-conf writes it", "", nullptr},
        {"the board's files served",
         "$HTTP[\"url\"] =~ \"^/zt/\" {\n    url.access-deny = ()\n}\n",
         "FAIL  http://127.0.0.1:{port}/zt/zt-jti.txt is not sent (200)"},
        {"every method passed on",
         "$HTTP[\"request-method\"] =~ \".\" {\n    url.redirect = ()\n}\n",
         "FAIL  a PUT to zt-write is refused (200)"},
        {"no compression",
         "$HTTP[\"url\"] =~ \".\" {\n    deflate.mimetypes = (\"text/plain\")\n}\n",
         "FAIL  the board page goes out in gzip to a client that asks for it"},
    };
    const std::string check = zt_test::SourcePath("tools/check-served");
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        ServedBoard board({}, {}, c.conf_lines);
        ASSERT_TRUE(board.running());
        const std::string url = WithPort("http://127.0.0.1:{port}/", board.port());
        const auto run = zt_test::RunCommand({check, url});
        EXPECT_EQ(run.status, c.failed ? 1 : 0) << run.out << run.err;
        if (c.failed) {
            EXPECT_NE(run.out.find(WithPort(c.failed, board.port())), std::string::npos)
                << run.out;
        }
        EXPECT_EQ(zt_test::RunCommand({check, url + "zt-read"}).status, 1);
        EXPECT_EQ(ReadFile(board / TEXT_FILE), "");
    }
}

// More half-sent requests from one address than lighttpd's default limits hold (1,365
// connections): half request headers, and posts whose header is whole and whose body stops
// after a few of the bytes it announced. Meanwhile other visitors read the board and post;
// none of the half-sent posts ever reaches zt-write. A regression to the default limits leaves
// the visitor's request unanswered until the flood ends.
TEST(Http, HalfSentRequestsFromOneAddressLeaveTheBoardOpen)
{
    constexpr int HALF_HEADERS = 800;
    constexpr int HALF_BODIES = 800;
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    const rlim_t needed = HALF_HEADERS + HALF_BODIES + 256;
    if (files.rlim_max != RLIM_INFINITY && files.rlim_max < needed)
        GTEST_SKIP() << "the flood needs " << needed << " open files; the hard limit is "
                     << files.rlim_max;
    if (files.rlim_cur != RLIM_INFINITY && files.rlim_cur < needed) {
        files.rlim_cur = needed;
        ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &files), 0);
    }

    ServedBoard board;
    ASSERT_TRUE(board.running());
    const std::string host = "Host: 127.0.0.1:" + std::to_string(board.port()) + "\r\n";
    const std::string half_header = "GET / HTTP/1.1\r\n" + host + "X-Slow: a";
    const std::string half_body = "POST /zt-write HTTP/1.1\r\n" + host +
                                  "Content-Type: application/x-www-form-urlencoded\r\n"
                                  "Content-Length: 4096\r\n\r\nfour=%8A%BF";
    std::vector<int> flood;
    for (int i = 0; i < HALF_HEADERS + HALF_BODIES; i++) {
        const int s = board.Connect("127.0.0.5");
        ASSERT_GE(s, 0) << "connection " << i;
        flood.push_back(s);
        const std::string &request = i < HALF_HEADERS ? half_header : half_body;
        ASSERT_EQ(send(s, request.data(), request.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(request.size()));
    }

    const Response page = board.Get("/", "127.0.0.6");
    EXPECT_EQ(page.status, 200);
    EXPECT_NE(page.body.find("id=\"text\""), std::string::npos);
    const Response post = board.Post("/zt-write", Unit(kanji_kana, "0"), "127.0.0.7");
    EXPECT_EQ(post.status, 200);
    EXPECT_NE(post.body.find("id=\"done\""), std::string::npos) << post.body;

    for (const int s : flood)
        close(s);
    EXPECT_EQ(board.Get("/", "127.0.0.6").status, 200);
    EXPECT_EQ(ReadFile(board / TEXT_FILE), kanji_kana);
}

}  // namespace
