// A catalogue of hostile requests through the real programs on a board that zt-admin
// prepared, with the default templates. Each row names the answer it must get: the error
// page, a refusal's error line, an accepted post, or the right page. Whatever the row, the
// program ends in time with status 0 or 1 and writes nothing to standard error (RunProgram
// fails the test otherwise; under the sanitizers that is where a report would go), the marks
// of injected markup never reach a page unescaped, and nothing changes where nothing may.
//
// The marks: a tag <zt-x>, and an attribute zt-x after a quote or an apostrophe. Escaped, they
// read &#60;zt-x&#62; or %3Czt-x%3E, and &#34; zt-x or %22%20zt-x.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "admin.h"
#include "case_name.h"
#include "board_files.h"
#include "form.h"
#include "real_board.h"
#include "template_check.h"

using namespace std::string_literals;
using zt_hard::AnswerCode;
using zt_hard::RealBoard;
using zt_hard::Sjis;
using zt_test::ReadFile;
using zt_test::WriteFile;

namespace {

const std::string header = "Content-type: text/html\n\n";

const std::string TOO_LARGE = "The form is too large: CONTENT_LENGTH is over 1024 bytes.";

bool injected(const std::string &page)
{
    for (const char *mark : {"<zt-x", "\" zt-x", "' zt-x", "\"zt-x", "'zt-x"})
        if (page.find(mark) != std::string::npos)
            return true;
    return false;
}

using Snapshot = std::map<std::string, std::string>;

Snapshot snapshot(const RealBoard &board)
{
    Snapshot files;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(board.dir())) {
        const std::string name = entry.path().string().substr(board.dir().size());
        files[name] = entry.is_regular_file() ? ReadFile(entry.path().string()) : "(directory)";
    }
    return files;
}

const std::string unit = Sjis("つづきを");

// A post's body with the fields in the form's order, each value %-encoded.
std::string post_body(const std::string &four, const std::string &name = "a", const std::string &prev = "0")
{
    return zt_test::FormBody(zt_hard::PostFields(four, prev, name));
}

// What a request to zt-write must get.
struct Expect {
    enum Kind { error_page, refused, accepted } kind;
    std::string detail;  // the error page's message, or the unit the text then holds
    int code = 0;        // the refusal's code
};

Expect ErrorPage(const std::string &message) { return {Expect::error_page, message}; }
Expect Refused(int code) { return {Expect::refused, "", code}; }
Expect Accepted(const std::string &stored) { return {Expect::accepted, stored}; }

struct WriteCase {
    const char *name;
    std::optional<std::string> content_length;  // nullopt: unset; "=" : the body's length
    std::string body;
    Expect expect;
    std::function<void(const RealBoard &, const zt_test::Run &)> also = {};
};

void PrintTo(const WriteCase &c, std::ostream *os) { *os << c.name; }

class HostilePost : public testing::TestWithParam<WriteCase> {};

TEST_P(HostilePost, GetsItsAnswer)
{
    const WriteCase &c = GetParam();
    RealBoard board(2048);
    const Snapshot before = snapshot(board);
    zt_test::RunOptions options;
    options.timeout_seconds = 10;
    options.directory = board.dir();
    options.environment = {{"REMOTE_ADDR", "127.0.0.2"}};
    if (c.content_length)
        options.environment.emplace_back("CONTENT_LENGTH", *c.content_length == "=" ? std::to_string(c.body.size())
                                                                                    : *c.content_length);
    options.input = c.body;
    const auto run = zt_test::RunProgram("zt-write", options);
    EXPECT_FALSE(injected(run.out)) << run.out;
    switch (c.expect.kind) {
    case Expect::error_page:
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, zt_test::ErrorPage(c.expect.detail));
        EXPECT_EQ(snapshot(board), before);
        break;
    case Expect::refused:
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(AnswerCode(run.out), c.expect.code) << run.out;
        EXPECT_TRUE(zt_hard::WholePage(run.out));
        EXPECT_EQ(snapshot(board), before);
        break;
    case Expect::accepted:
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(AnswerCode(run.out), 0) << run.out;
        EXPECT_TRUE(zt_hard::WholePage(run.out));
        EXPECT_EQ(board.Text(), c.expect.detail);
        break;
    }
    // What a post leaves is shown safely on every page, and the board stays sound.
    const auto view = board.View();
    EXPECT_EQ(view.status, 0);
    EXPECT_TRUE(zt_hard::WholePage(view.out));
    EXPECT_FALSE(injected(view.out));
    const auto read = board.Read("wa=1");
    EXPECT_EQ(read.status, 0);
    EXPECT_FALSE(injected(read.out));
    const auto check = board.Check();
    EXPECT_EQ(check.status, 0) << check.out;
    if (c.also)
        c.also(board, run);
}

std::string padded_post(std::size_t total)
{
    std::string body = post_body(unit) + "&pad=";
    return body + std::string(total - body.size(), 'x');
}

const std::string markup = "\"'><zt-x> \" zt-x=\"1\" ' zt-x='1'";

// The records of log 1 on the board page hold this text, and the last-poster file this name.
auto shows_name(const std::string &shown, const std::string &stored)
{
    return [shown, stored](const RealBoard &board, const zt_test::Run &) {
        EXPECT_NE(board.View().out.find("\">" + shown + "</b>"), std::string::npos);
        EXPECT_EQ(ReadFile(board / "zt/zt-jti.txt"), stored + "\n127.0.0.2\n");
    };
}

INSTANTIATE_TEST_SUITE_P(ContentLength, HostilePost, testing::Values(
    WriteCase{"unset", std::nullopt, post_body(unit), ErrorPage("environmental value CONTENT_LENGTH is not defined.")},
    WriteCase{"empty", "", post_body(unit), Refused(-1)},
    WriteCase{"minus one", "-1", post_body(unit), ErrorPage("CONTENT_LENGTH is negative.")},
    WriteCase{"plus five", "+5", post_body(unit), Refused(-1)},
    WriteCase{"hex", "0x10", post_body(unit), Refused(-1)},
    WriteCase{"digits then letters", "12abc", post_body(unit), Refused(-1)},
    WriteCase{"two to the 31", "2147483648", post_body(unit), ErrorPage(TOO_LARGE)},
    WriteCase{"two to the 32", "4294967296", post_body(unit), ErrorPage(TOO_LARGE)},
    WriteCase{"twenty nines", "99999999999999999999", post_body(unit), ErrorPage(TOO_LARGE)},
    WriteCase{"the limit", "=", padded_post(1024), Accepted(unit)},
    WriteCase{"the limit plus one", "=", padded_post(1025), ErrorPage(TOO_LARGE)},
    WriteCase{"body longer than declared", std::to_string(post_body(unit).size()), post_body(unit) + "&namae=b",
              Accepted(unit), shows_name("a", "a")},
    WriteCase{"body shorter than declared", "1000", post_body(unit), Accepted(unit)},
    WriteCase{"body cut inside the name", "=", post_body(unit).substr(0, post_body(unit).size() - 1), Accepted(unit)},
    WriteCase{"body cut inside prev", "3", post_body(unit), Refused(-1)}), zt_test::CaseName{});

INSTANTIATE_TEST_SUITE_P(Bodies, HostilePost, testing::Values(
    WriteCase{"lone percent", "=", "%", Refused(-1)},
    WriteCase{"percent and one digit", "=", "%4", Refused(-1)},
    WriteCase{"percent and no digits", "=", "%zz", Refused(-1)},
    WriteCase{"escaped NUL", "=", "%00", Refused(-1)},
    WriteCase{"separators only", "=", "&&&", Refused(-1)},
    WriteCase{"equals only", "=", "=", Refused(-1)},
    WriteCase{"a field twice", "=", "a=1&a=2", Refused(-1)},
    WriteCase{"four twice: the first counts", "=", post_body(unit) + "&four=" + zt_test::PercentEncode(Sjis("あいうえ")),
              Accepted(unit)},
    WriteCase{"doubly escaped bracket", "=", "prev=0&namae=a&four=%253Cabcde", Accepted("%3Cabcde")},
    WriteCase{"raw bracket in an escape", "=", "prev=0&namae=a&four=%3Cabcdefg", Refused(-3)},
    WriteCase{"70,000 separators", "=", std::string(70000, '&'), ErrorPage(TOO_LARGE)},
    WriteCase{"900 separators in a name before the fields", "=", std::string(900, '&') + "=&" + post_body(unit),
              Accepted(unit)},
    WriteCase{"an over-long name", "=", std::string(900, 'n') + "=1&" + post_body(unit), Accepted(unit)},
    WriteCase{"raw 8-bit bytes are dropped", "=", "prev=0&namae=a&four=\x82\xa0" + zt_test::PercentEncode(unit),
              Accepted(unit)},
    WriteCase{"NUL in the body ends it", "=", post_body(unit) + "\0&namae=b"s, Accepted(unit), shows_name("a", "a")}), zt_test::CaseName{});

INSTANTIATE_TEST_SUITE_P(Four, HostilePost, testing::Values(
    WriteCase{"less-than", "=", post_body("abc<efgh"), Refused(-3)},
    WriteCase{"greater-than", "=", post_body("abcdefg>"), Refused(-3)},
    WriteCase{"quote", "=", post_body("ab\"cdefg"), Accepted("ab\"cdefg"),
              [](const RealBoard &, const zt_test::Run &run) {
                  EXPECT_NE(run.out.find("id=\"four\">ab&#34;cdefg</span>"), std::string::npos);
              }},
    WriteCase{"ampersand", "=", post_body("a&b&c&de"), Accepted("a&b&c&de")},
    WriteCase{"line feed", "=", post_body("abc\ndefg"), Accepted("abc\ndefg")},
    WriteCase{"control bytes", "=", post_body("\x01\x02\x03\x1a\x7f\t\x0b\x0c"), Accepted("\x01\x02\x03\x1a\x7f\t\x0b\x0c")},
    WriteCase{"a directive's bytes are text", "=", post_body("\x01{namae}"), Accepted("\x01{namae}")},
    WriteCase{"escape that opens JIS", "=", post_body("\x1b$B$\"$$$&$("), Accepted(Sjis("あいうえ"))},
    WriteCase{"a lone lead byte at the end", "=", post_body("abcdefg\x82"), Refused(-2)},
    WriteCase{"a lead byte before a non-trail byte", "=", post_body("abcdef\x82 "), Accepted("abcdef\x82 ")},
    WriteCase{"character reference a browser sends", "=", post_body("&#12316;"), Accepted("&#12316;")},
    WriteCase{"character reference and three characters", "=", post_body("&#12316;" + Sjis("あいう")), Refused(-2)}), zt_test::CaseName{});

INSTANTIATE_TEST_SUITE_P(Namae, HostilePost, testing::Values(
    WriteCase{"markup", "=", post_body(unit, markup), Accepted(unit),
              [](const RealBoard &board, const zt_test::Run &run) {
                  EXPECT_NE(run.out.find("&#34;&#39;&#62;&#60;zt-x&#62;"), std::string::npos) << run.out;
                  EXPECT_EQ(ReadFile(board / "zt/zt-jti.txt"), markup + "\n127.0.0.2\n");
              }},
    WriteCase{"line feed", "=", post_body(unit, "a\nb"), Accepted(unit), shows_name("a b", "a b")},
    WriteCase{"carriage return", "=", post_body(unit, "a\rb"), Accepted(unit), shows_name("a b", "a b")},
    WriteCase{"trailing line ends", "=", post_body(unit, "a\r\n\r\n"), Accepted(unit), shows_name("a", "a")},
    WriteCase{"byte 0xFF", "=", post_body(unit, "\xff"), Accepted(unit), shows_name("\xff", "\xff")},
    WriteCase{"200 letters, cut to 64", "=", post_body(unit, std::string(200, 'n')), Accepted(unit),
              shows_name(std::string(64, 'n'), std::string(64, 'n'))},
    WriteCase{"a lone lead byte before the markup", "=", post_body(unit, "\x82"), Accepted(unit)}), zt_test::CaseName{});

// Posts of the longest name that the form limit lets through, cut to 64 characters by
// zt-write, in characters that grow most when escaped: each leaves its record in all eight
// logs of a default board, no record is larger than zt-admin reckons, and eight such posts in
// a row are all still there.
struct LongName {
    const char *name;
    std::string spelt[2];  // one byte of the name as the form carries it, for two names
};

void PrintTo(const LongName &c, std::ostream *os) { *os << c.name; }

class LongestName : public testing::TestWithParam<LongName> {};

TEST_P(LongestName, IsRecordedInEveryLogEightTimesOver)
{
    RealBoard board;
    for (int i = 0; i < 8; i++) {
        const std::string start = "four=" + zt_test::PercentEncode(unit) + "&prev=" + board.Prev() + "&namae=";
        const std::string &spelt = GetParam().spelt[i % 2];
        std::string body = start;
        while (body.size() + spelt.size() <= MAX_POST_BYTES)
            body += spelt;
        const auto run = board.Post(body, "127.0.0." + std::to_string(2 + i));
        ASSERT_EQ(AnswerCode(run.out), 0) << run.out;
    }
    for (int digit = 1; digit <= COMMENT_LOGS; digit++) {
        std::vector<std::string> records;
        CommentLog_State state;
        ASSERT_TRUE(list_comment_log(board / comment_log_name(digit), &records, &state));
        EXPECT_EQ(records.size(), 8u) << "log " << digit;
        const long long largest = largest_record(ReadFile(board / record_template_name(digit))).bytes;
        for (const auto &record : records)
            EXPECT_LE(static_cast<long long>(record.size()) + 6, largest) << "log " << digit;
    }
}

INSTANTIATE_TEST_SUITE_P(Namae, LongestName, testing::Values(
    LongName{"ampersands and quotes escaped", {"%26", "%22"}},
    LongName{"raw less-than and greater-than signs", {"<", ">"}},
    LongName{"character references of 7 digits", {"%26%231114111%3B", "%26%232222222%3B"}}),
    zt_test::CaseName{});

// The board page of a default board whose logs are full of the largest records their
// templates can make, each log wrapped: at most 64 KiB, the page's one write.
TEST(BoardPage, WithFullLogsOfTheLargestRecordsIsAtMost64KiB)
{
    RealBoard board;
    for (int digit = 1; digit <= COMMENT_LOGS; digit++) {
        const long long largest = largest_record(ReadFile(board / record_template_name(digit))).bytes;
        ASSERT_GT(largest, COMMENT_RECORD_FRAME_BYTES);
        const std::string path = board / comment_log_name(digit);
        const long long size = zt_test::FileSize(path);
        for (long long written = 0; written < 3 * size; written += largest) {
            const std::string content(largest - COMMENT_RECORD_FRAME_BYTES, 'x');
            ASSERT_EQ(CommentLog_Open(path.c_str()), 0);
            ASSERT_EQ(CommentLog_Append(content.data(), content.size()), 0);
            CommentLog_Close();
        }
    }
    const auto page = board.View();
    EXPECT_EQ(page.status, 0);
    EXPECT_TRUE(zt_hard::WholePage(page.out));
    EXPECT_LE(page.out.size() - std::string("Content-type: text/html\n\n").size(), 64u * 1024);
}

// The reading page for "wa", on a text of five pages whose last holds 100 bytes. The
// arithmetic has its own tests; here the default page shows the page and its neighbours.
struct ReadCase {
    const char *wa;  // the whole query string
    int page;
};

void PrintTo(const ReadCase &c, std::ostream *os) { *os << c.wa; }

class HostileRead : public testing::TestWithParam<ReadCase> {};

TEST_P(HostileRead, ShowsTheRightPage)
{
    const ReadCase &c = GetParam();
    RealBoard board(256);
    std::string text;
    for (int page = 1; page <= 5; page++)
        text += std::string(page == 5 ? 100 : 2048, static_cast<char>('a' + page - 1));
    WriteFile(board / "zt/zt-text.txt", text);
    const Snapshot before = snapshot(board);
    const auto run = board.Read(c.wa);
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(zt_hard::WholePage(run.out));
    EXPECT_FALSE(injected(run.out));
    EXPECT_EQ(run.out.find("<script"), std::string::npos);
    const int before_page = c.page == 1 ? 5 : c.page - 1, after_page = c.page == 5 ? 1 : c.page + 1;
    EXPECT_NE(run.out.find("<span id=\"number\">" + std::to_string(c.page) + "</span>"), std::string::npos);
    EXPECT_NE(run.out.find("href=\"zt-read?wa=" + std::to_string(before_page) + "\" id=\"prev\""), std::string::npos);
    EXPECT_NE(run.out.find("href=\"zt-read?wa=" + std::to_string(after_page) + "\" id=\"next\""), std::string::npos);
    const std::string shown = text.substr(static_cast<std::size_t>(c.page - 1) * 2048, 2048);
    EXPECT_NE(run.out.find("id=\"text\">" + shown + "</div>"), std::string::npos);
    EXPECT_EQ(snapshot(board), before);
}

INSTANTIATE_TEST_SUITE_P(Wa, HostileRead, testing::Values(
    ReadCase{"wa=0", 5}, ReadCase{"wa=-1", 4}, ReadCase{"wa=+1", 1}, ReadCase{"wa=01", 1}, ReadCase{"wa=1.5", 1},
    ReadCase{"wa=1e3", 1}, ReadCase{"wa=0x10", 5}, ReadCase{"wa= 1", 1}, ReadCase{"wa=1abc", 1},
    ReadCase{"wa=\xef\xbc\x99", 5}, ReadCase{"wa=\x82\x58", 5}, ReadCase{"wa=9223372036854775808", 2},
    ReadCase{"wa=1&wa=2", 1}, ReadCase{"wa=\"><script>", 5}, ReadCase{"wa=%22%3E%3Czt-x%3E", 5},
    ReadCase{"&wa=3", 1}, ReadCase{"wa=3&&", 3}), zt_test::CaseName{true});

// Query strings against every query-string directive, in a page of both query programs:
// values in an attribute, in text and in a link's query.
const std::string directive_page =
    "<a href=\"?q=\x01%q%\" title=\"\x01{q}\">\x01{q}</a><a href='zt-view\x01|q,r|'>\x01{r}</a>"
    "\x01[q]\x01/q/1/#/x#<input value='\x01{q}'>\n";

class HostileQuery : public testing::TestWithParam<const char *> {};

TEST_P(HostileQuery, ReachesNoPageUnescaped)
{
    for (const char *program : {"zt-view", "zt-read"}) {
        RealBoard board(256);
        WriteFile(board / (program == "zt-view"s ? "zt/zt-view.htm" : "zt/zt-read.htm"), directive_page);
        const Snapshot before = snapshot(board);
        const auto run = zt_test::RunProgram(program, {board.dir(), {{"QUERY_STRING", GetParam()}}, ""});
        EXPECT_EQ(run.status, 0) << program;
        EXPECT_FALSE(injected(run.out)) << program << "\n" << run.out;
        for (char c : {'<', '>', '"', '\''})
            EXPECT_EQ(std::count(run.out.begin(), run.out.end(), c), std::count(directive_page.begin(), directive_page.end(), c))
                << program << " " << c << "\n" << run.out;
        EXPECT_EQ(snapshot(board), before);
    }
    // And the default board page, whose form shows four and namae from the query string.
    RealBoard board(256);
    const std::string query = std::string(GetParam()) + "&four=" + GetParam() + "&namae=" + GetParam();
    const auto view = board.View(query);
    EXPECT_EQ(view.status, 0);
    EXPECT_FALSE(injected(view.out)) << view.out;
}

INSTANTIATE_TEST_SUITE_P(QueryStrings, HostileQuery, testing::Values(
    "q=\"><zt-x>&r=' zt-x='1", "q=%22%3E%3Czt-x%3E&r=%27%20zt-x%3D%27", "q=%2522%253Czt-x", "q=\" zt-x=\"1",
    "q=%22 zt-x=%22", "q='zt-x&r=\"zt-x", "q=%&r=%2", "q=%\"%<zt-x", "q=\x82\"><zt-x>", "q=%82%22%3E%3Czt-x%3E",
    "q=%00%22%3Czt-x", "&&q=\"<zt-x>", "q=\x01{q}\x01(0)", "q=<zt-x>&q=<zt-x>&q=<zt-x>"), zt_test::CaseName{true});

// Comment logs as a crash, a hand or a disk can leave them, listed by the default board page.
struct LogCase {
    const char *name;
    std::function<std::string(const std::string &log)> damage;  // the log's new bytes
    bool fresh_header;  // the view writes the fresh header into it
};

void PrintTo(const LogCase &c, std::ostream *os) { *os << c.name; }

class HostileLog : public testing::TestWithParam<LogCase> {};

std::string with_header(const std::string &log, const std::string &header)
{
    return header + log.substr(header.size());
}

TEST_P(HostileLog, BoardPageIsWholeAndTheLogKeepsItsSize)
{
    const LogCase &c = GetParam();
    RealBoard board(1024);
    for (int i = 0; i < 3; i++)
        ASSERT_EQ(AnswerCode(board.Post(zt_hard::PostFields(unit, board.Prev(), "n" + std::to_string(i) + markup),
                                         "127.0.0." + std::to_string(2 + i)).out), 0);
    const std::string path = board / "zt/zt-com1.txt";
    const std::string damaged = c.damage(ReadFile(path));
    WriteFile(path, damaged);
    const auto view = board.View();
    EXPECT_EQ(view.status, 0);
    EXPECT_TRUE(zt_hard::WholePage(view.out));
    EXPECT_FALSE(injected(view.out));
    const std::string after = ReadFile(path);
    EXPECT_EQ(after.size(), damaged.size());
    if (c.fresh_header)
        EXPECT_EQ(after.substr(0, 18), "00000012\n00000012\n");
    else
        EXPECT_EQ(after, damaged);
    // The next post still lands, and leaves log 1 a record that the page lists.
    const auto post = board.Post(zt_hard::PostFields(unit, board.Prev(), "last"), "127.0.0.9");
    EXPECT_EQ(AnswerCode(post.out), 0) << post.out;
    if (damaged.size() >= 18 + 200) {
        EXPECT_NE(board.View().out.find("\">last</b>"), std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(Logs, HostileLog, testing::Values(
    LogCase{"header at 0", [](const std::string &l) { return with_header(l, "00000000\n00000000\n"); }, true},
    LogCase{"header inside the header", [](const std::string &l) { return with_header(l, "00000009\n00000011\n"); }, true},
    LogCase{"header past the end", [](const std::string &l) { return with_header(l, "00000401\n00000500\n"); }, true},
    LogCase{"header beyond 32 bits", [](const std::string &l) { return with_header(l, "fffffffff\nfffffffff"); }, true},
    LogCase{"equal offsets", [](const std::string &l) { return with_header(l, l.substr(0, 9) + l.substr(0, 9)); }, false},
    LogCase{"equal offsets at the end", [](const std::string &l) { return with_header(l, "00000400\n00000400\n"); }, false},
    LogCase{"head at the first record's TAB",
            [](const std::string &l) {
                char h[19];
                snprintf(h, sizeof h, "%08lx\n00000400\n", std::stoul(l.substr(0, 8), nullptr, 16) + 4);
                return with_header(l, h);
            },
            false},
    LogCase{"random bytes",
            [](const std::string &l) {
                std::string r = l;
                unsigned x = 12345;
                for (char &b : r)
                    b = static_cast<char>((x = x * 1103515245 + 12345) >> 16);
                return r;
            },
            true},
    LogCase{"random bytes behind a sound header",
            [](const std::string &l) {
                std::string r = l;
                unsigned x = 777;
                for (std::size_t i = 18; i < r.size(); i++)
                    r[i] = "0123456789abcdef\t\n <>\"\xff"[(x = x * 1103515245 + 12345) >> 16 & 15];
                return with_header(r, "00000100\n00000050\n");
            },
            false},
    LogCase{"zero bytes", [](const std::string &) { return std::string(); }, false},
    LogCase{"shorter than its header", [](const std::string &) { return std::string("00000012\n0000"); }, false}), zt_test::CaseName{});

TEST(HostileBoard, LockPathThatIsAPlainFile)
{
    RealBoard board(256);
    WriteFile(board / "lock/zt.lck", "");
    const Snapshot before = snapshot(board);
    const auto run = board.Post(zt_hard::PostFields(unit, "0", "a"), "127.0.0.2");
    EXPECT_EQ(AnswerCode(run.out), -5);
    EXPECT_EQ(snapshot(board), before);
    const auto check = board.Check();
    EXPECT_EQ(check.status, 1);
    EXPECT_NE(check.out.find("lock/zt.lck: not a directory"), std::string::npos) << check.out;
}

}  // namespace
