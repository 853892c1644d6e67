// The board behind lighttpd against hostile visitors, in the configuration that
// tools/lighttpd-conf writes: one address holding more half-sent requests than lighttpd's
// default limits allow leaves the board open to everybody else. (tools/flood measures the
// flood at full size.)
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "board.h"
#include "board_dir.h"
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
