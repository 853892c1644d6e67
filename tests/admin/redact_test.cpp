// zt-admin redact and rollback: posts blanked in the text and in every log, ranges, the text
// taken back to before a post, under the posting lock, and a refusal for every wrong number.
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "admin.h"
#include "admin_board.h"
#include "board.h"
#include "log_size.h"

using zt_test::Board;
using zt_test::Contains;
using zt_test::ReadFile;
using zt_test::RunAdmin;

extern char **environ;

namespace {

// A text of n units, each "あいうえ" with the unit's number in its last two bytes, so that no
// two units are alike.
std::string Units(int n)
{
    std::string text;
    for (int i = 0; i < n; i++)
        text += "\x82\xA0\x82\xA2\x82\xA4" + std::string{static_cast<char>('0' + i / 10 % 10), static_cast<char>('0' + i % 10)};
    return text;
}

// Posts four as name from address against the text's size, as a board page drawn now sends
// it; the run of zt-write.
zt_test::Run PostNow(const Board &board, const std::string &four, const std::string &name,
                     const std::string &address)
{
    const std::string size = std::to_string(zt_test::FileSize(board / TEXT_FILE));
    return board.Post(zt_test::FormBody({{"four", four}, {"prev", size}, {"namae", name}}),
                      address);
}

// Every log's records, newest first, as the board page lists them.
std::vector<std::vector<std::string>> Records(const Board &board)
{
    std::vector<std::vector<std::string>> logs(COMMENT_LOGS);
    for (int digit = 1; digit <= COMMENT_LOGS; digit++) {
        CommentLog_State state;
        EXPECT_TRUE(list_comment_log(board / comment_log_name(digit), &logs[digit - 1], &state));
    }
    return logs;
}

// What a record holds of a post once it is blanked: every place of the HTML text stored
// replaced with full-width spaces, and a space for an odd byte.
std::string Blanked(std::string record, const std::string &stored)
{
    std::string blank;
    while (blank.size() + 2 <= stored.size())
        blank += "\x81\x40";
    blank.resize(stored.size(), ' ');
    for (std::size_t at; (at = record.find(stored)) != std::string::npos;)
        record.replace(at, stored.size(), blank);
    return record;
}

TEST(AdminRedact, BlanksThePostsAndKeepsTheSizeAndTheOthers)
{
    const Board board;
    const std::string text = Units(300);
    zt_test::WriteFile(board / TEXT_FILE, text);
    const auto numbered = RunAdmin({"export", board.dir, "--numbers"});
    EXPECT_EQ(numbered.status, 0);
    EXPECT_TRUE(numbered.out.starts_with("1\tあいう00\n2\tあいう01\n")) << numbered.out;
    EXPECT_TRUE(numbered.out.ends_with("\n300\tあいう99\n"));

    const auto run = RunAdmin({"redact", board.dir, "300", "1", "257"});
    EXPECT_EQ(run.status, 0) << run.err;
    std::string said = "post 300 (page 2) \"あいう99\": now four full-width spaces\n"
                       "post 1 (page 1) \"あいう00\": now four full-width spaces\n"
                       "post 257 (page 2) \"あいう56\": now four full-width spaces\n";
    for (int digit = 1; digit <= 8; digit++)
        said += "log " + std::to_string(digit) + ": no record of these posts is left in it\n";
    EXPECT_EQ(run.out, said);
    std::string expected = text;
    for (const int n : {1, 257, 300})
        expected.replace((n - 1) * 8, 8, BLANK_UNIT);
    EXPECT_EQ(ReadFile(board / TEXT_FILE), expected);
    EXPECT_FALSE(zt_test::Exists(board / LOCK_DIR));

    // A form drawn before the redact still has the right size.
    const std::string body = zt_test::FormBody(
        {{"four", "\x82\xA0\x82\xA2\x82\xA4\x82\xA6"}, {"prev", "2400"}, {"namae", "a"}});
    EXPECT_EQ(board.Post(body, "192.0.2.1").status, 0);
    EXPECT_EQ(zt_test::FileSize(board / TEXT_FILE), 2408);
}

TEST(AdminRedact, RefusesEveryNumberOfNoPostAndChangesNothing)
{
    const struct {
        const char *command;
        std::vector<std::string> numbers;
        int status;
        const char *said;
    } cases[] = {
        {"redact", {"0"}, 1, "there is no post 0: the text holds 300 posts; nothing was changed"},
        {"redact", {"301"}, 1, "there is no post 301: the text holds 300 posts"},
        {"redact", {"2", "301"}, 1, "there is no post 301"},
        {"redact", {"2", "x"}, 2, "x: not a post's number"},
        {"redact", {"-1"}, 2, "-1: not a post's number"},
        {"redact", {"1.5"}, 2, "1.5: not a post's number"},
        {"redact", {"3", "4", "3"}, 2, "3: named twice"},
        {"redact", {}, 2, "redact takes a directory and the numbers"},
        {"redact", {"299-301"}, 1, "there is no post 301: the text holds 300 posts"},
        {"redact", {"0-2"}, 1, "there is no post 0"},
        {"redact", {"5-3"}, 2, "5-3: a range goes from the lower number to the higher"},
        {"redact", {"3-"}, 2, "3-: not a post's number"},
        {"redact", {"1-2-3"}, 2, "1-2-3: not a post's number"},
        {"redact", {"1-3", "2"}, 2, "2: named twice"},
        {"redact", {"7", "1-10"}, 2, "7: named twice"},
        {"rollback", {"301"}, 1, "there is no post 301: the text holds 300 posts; nothing was"},
        {"rollback", {"0"}, 2, "0: not a post's number"},
        {"rollback", {"2-3"}, 2, "2-3: not a post's number"},
        {"rollback", {"2", "3"}, 2, "rollback takes a directory and the number of the first post"},
        {"rollback", {}, 2, "rollback takes a directory and the number of the first post"},
    };
    const Board board;
    // 300 units and half of one: the half is no post.
    const std::string text = Units(300) + "\x82\xA0\x82\xA2";
    zt_test::WriteFile(board / TEXT_FILE, text);
    for (const auto &c : cases) {
        std::vector<std::string> arguments = {c.command, board.dir};
        arguments.insert(arguments.end(), c.numbers.begin(), c.numbers.end());
        const auto run = RunAdmin(arguments);
        EXPECT_EQ(run.status, c.status) << c.said;
        EXPECT_TRUE(Contains(run.err, c.said)) << run.err;
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(ReadFile(board / TEXT_FILE), text) << c.said;
        EXPECT_FALSE(zt_test::Exists(board / LOCK_DIR)) << c.said;
    }
    const auto missing = RunAdmin({"redact", board.root / "nothing", "1"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_TRUE(Contains(missing.err, "no such directory")) << missing.err;
}

// The posting lock: a redact or a rollback is refused while a post holds it and leaves it to
// the post, and a post is refused while a redact holds it.
TEST(AdminRedact, TakesThePostingLock)
{
    const Board board;
    const std::string text = Units(2000);
    zt_test::WriteFile(board / TEXT_FILE, text);
    {
        const BoardLock post((board / LOCK_DIR).c_str());  // as a post that runs holds it
        for (const char *command : {"redact", "rollback"}) {
            const auto refused = RunAdmin({command, board.dir, "1"});
            EXPECT_EQ(refused.status, 1) << command;
            EXPECT_TRUE(Contains(refused.err, "the board is busy")) << refused.err;
            EXPECT_EQ(refused.out, "");
            EXPECT_EQ(ReadFile(board / TEXT_FILE), text);
            EXPECT_TRUE(zt_test::Exists(board / LOCK_DIR));
        }
    }

    // The redact tells of each post as it blanks it, lock held; with more lines than a pipe
    // takes, it waits for the test to read them, and a post comes in meanwhile.
    std::vector<std::string> argv = {zt_test::ProgramPath("zt-admin"), "redact", board.dir};
    for (int n = 1; n <= 2000; n++)
        argv.push_back(std::to_string(n));
    std::vector<std::string> environment;
    for (char **e = environ; *e; e++)
        environment.emplace_back(*e);
    zt_test::RunOptions options;
    zt_test::Run during;
    options.started = [&](pid_t) {
        for (int wait = 0; !zt_test::Exists(board / LOCK_DIR) && wait < 20000; wait++)
            usleep(1000);
        during = board.Post(zt_test::FormBody({{"four", "\x82\xA0\x82\xA2\x82\xA4\x82\xA6"},
                                                {"prev", "16000"}, {"namae", "a"}}),
                            "192.0.2.1");
    };
    const auto run = zt_test::RunArgv(argv, environment, options);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(Contains(during.out, "<p class=\"error\" id=\"e5\">")) << during.out;
    std::string blank;
    for (int n = 0; n < 2000; n++)
        blank += BLANK_UNIT;
    EXPECT_EQ(ReadFile(board / TEXT_FILE), blank);
    EXPECT_FALSE(zt_test::Exists(board / LOCK_DIR));
}


// A redact blanks the post's name and four characters in each log's record of it, as they are
// stored there (HTML-escaped), in place: every log keeps its size, its records and their
// framing, the other posts' records stay as they were, and the board page shows neither. A
// name shaped like another post's mark names no post.
TEST(AdminRedact, BlanksThePostsRecordsInEveryLogAndOnTheBoardPage)
{
    const Board board;
    const std::string four = "&'\"\x82\xA0xyz", four_stored = "&#38;&#39;&#34;\x82\xA0xyz";
    const std::string name = "a&b\"<c>", name_stored = "a&#38;b&#34;&#60;c&#62;";
    const std::string hiroshi = "\x82\xD0\x82\xEB\x82\xB5 1";  // "ひろし 1"
    ASSERT_EQ(PostNow(board, four, name, "192.0.2.1").status, 0);
    ASSERT_EQ(PostNow(board, "\x82\xA0\x82\xA2\x82\xA4\x82\xA6", "<!--0-->x", "192.0.2.2").status,
              0);
    ASSERT_EQ(PostNow(board, "\x82\xA9\x82\xAB\x82\xAD\x82\xAF", hiroshi, "192.0.2.3").status, 0);
    const auto before = Records(board);
    const std::string text = ReadFile(board / TEXT_FILE);

    auto run = RunAdmin({"redact", board.dir, "1"});
    EXPECT_EQ(run.status, 0) << run.err;
    for (int digit = 1; digit <= COMMENT_LOGS; digit++)
        EXPECT_TRUE(Contains(run.out, "log " + std::to_string(digit) + ": 1 record blanked\n"))
            << run.out;
    const auto after = Records(board);
    for (int digit = 1; digit <= COMMENT_LOGS; digit++) {
        SCOPED_TRACE(digit);
        const auto &was = before[digit - 1], &is = after[digit - 1];
        ASSERT_EQ(is.size(), 3u);
        EXPECT_TRUE(is[2].starts_with("<!--0-->")) << is[2];
        EXPECT_EQ(is[2], Blanked(Blanked(was[2], name_stored), four_stored));
        EXPECT_NE(is[2], was[2]);
        EXPECT_EQ(is[1], was[1]);
        EXPECT_EQ(is[0], was[0]);
        EXPECT_EQ(zt_test::FileSize(board / comment_log_name(digit)), DEFAULT_LOG_BYTES);
    }
    EXPECT_EQ(ReadFile(board / TEXT_FILE), std::string(BLANK_UNIT) + text.substr(8));
    const auto check = RunAdmin({"check", board.dir});
    EXPECT_EQ(check.status, 0) << check.out;
    const auto status = RunAdmin({"status", board.dir});
    EXPECT_TRUE(Contains(status.out, "1 post holds four full-width spaces")) << status.out;

    const auto page = zt_test::RunProgram("zt-view", {board.dir, {{"QUERY_STRING", ""}}, ""});
    EXPECT_EQ(page.status, 0);
    EXPECT_FALSE(Contains(page.out, name_stored));
    EXPECT_FALSE(Contains(page.out, four_stored));
    EXPECT_TRUE(Contains(page.out, hiroshi));
    EXPECT_TRUE(Contains(page.out, "&#60;!--0--&#62;x"));

    // Again: nothing left to blank, and nothing changes.
    run = RunAdmin({"redact", board.dir, "1"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(Contains(run.out, "log 8: 1 record blank already\n")) << run.out;
    EXPECT_EQ(Records(board), after);
}

// Names and units that could be read more than one way against the default templates, or
// look like what stands around them (a time, a separator, an escape, a blank): every record
// of theirs reads one way, and is blanked.
TEST(AdminRedact, EveryRecordOfTheDefaultTemplatesReadsOneWay)
{
    // "：", "　", "あ"
    const std::string colon = "\x81\x46", space = "\x81\x40", a = "\x82\xA0";
    const struct {
        std::string name, four;
    } posts[] = {
        {"x" + colon, a + colon + space + space},  // log 7: name：four, the unit ending blank
        {"07/3/5 1:00:00 1", "1 2:3 4 "},            // a time in the name, spaces in both
        {"", space + space + space + space},         // no name, a blank unit
        {" ", "&#38;&#3"},                           // an escape spelt out
        {"192.0.2.1 a", "--!-- --"},                 // an address in the name
        {"\"", "\"'\"'\"'\"'"},
    };
    const Board board;
    int n = 0;
    for (const auto &post : posts)
        ASSERT_EQ(PostNow(board, post.four, post.name, "192.0.2." + std::to_string(++n)).status, 0)
            << n;
    const auto run = RunAdmin({"redact", board.dir, "1-" + std::to_string(n)});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_FALSE(Contains(run.out, "left as they are")) << run.out;
    // The third post's records hold blanks only; in logs 3 and 4, which hold no four
    // characters, so do the fourth's, whose name, one space, is its own blank.
    for (int digit = 1; digit <= COMMENT_LOGS; digit++)
        EXPECT_TRUE(Contains(run.out, "log " + std::to_string(digit) + ": " +
                                          (digit == 3 || digit == 4 ? "4 records blanked, 2"
                                                                    : "5 records blanked, 1") +
                                          " record" + (digit == 3 || digit == 4 ? "s" : "") +
                                          " blank already\n"))
            << run.out;
}

// A record template without the mark: its log's records are left as they are, and redact,
// status and check say so; the other logs are blanked.
TEST(AdminRedact, SaysSoOfARecordTemplateWithoutTheMark)
{
    const Board board;
    zt_test::WriteFile(board / "zt/zt-com4.htm", "<li>\x01(0) \x01{namae}</li>\n");
    ASSERT_EQ(PostNow(board, "\x82\xA0\x82\xA2\x82\xA4\x82\xA6", "abuser", "192.0.2.1").status, 0);
    const auto before = Records(board);
    const std::string no_mark = "zt/zt-com4.htm has no mark of the post it records";

    const auto run = RunAdmin({"redact", board.dir, "1"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(Contains(run.out, "log 4: " + no_mark + ": its records were left as they are\n"))
        << run.out;
    EXPECT_TRUE(Contains(run.out, "log 3: 1 record blanked\n")) << run.out;
    const auto after = Records(board);
    EXPECT_EQ(after[3], before[3]);
    EXPECT_TRUE(Contains(after[3][0], "abuser"));
    EXPECT_FALSE(Contains(after[2][0], "abuser"));

    const auto status = RunAdmin({"status", board.dir});
    EXPECT_TRUE(Contains(status.out, "template     " + no_mark)) << status.out;
    const auto check = RunAdmin({"check", board.dir});
    EXPECT_EQ(check.status, 0) << check.out;
    EXPECT_TRUE(Contains(check.err, "zt-admin: warning: " + no_mark)) << check.err;
}

// Rollback takes the text back to before a post, across a page boundary and at the end: the
// posts are gone, their records blanked, the board takes posts at the new size, a form drawn
// before is stale, and what became of the theme is said.
TEST(AdminRollback, TakesTheTextBackAcrossAPageAndAtTheEnd)
{
    const Board board;
    zt_test::WriteFile(board / TEXT_FILE, Units(255));
    EXPECT_EQ(RunAdmin({"theme", board.dir, "春"}).status, 0);
    const std::string unit = "\x82\xA0\x82\xA2\x82\xA4\x82\xA6";  // "あいうえ"
    for (int n = 256; n <= 258; n++)
        ASSERT_EQ(PostNow(board, unit, "poster" + std::to_string(n),
                          "192.0.2." + std::to_string(n - 250))
                      .status,
                  0);
    EXPECT_FALSE(zt_test::Exists(board / THEME_FILE));  // post 256 filled page 1
    EXPECT_EQ(RunAdmin({"theme", board.dir, "夏"}).status, 0);
    const auto drawn = zt_test::RunProgram("zt-view", {board.dir, {{"QUERY_STRING", ""}}, ""});
    ASSERT_TRUE(Contains(drawn.out, "name=\"prev\" value=\"2064\""));

    auto run = RunAdmin({"rollback", board.dir, "256"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out.substr(0, run.out.find("log 1:")),
              "post 256 (page 1) \"あいうえ\": removed\n"
              "post 257 (page 2) \"あいうえ\": removed\n"
              "post 258 (page 2) \"あいうえ\": removed\n"
              "removed 3 posts, 256 to 258: the text is 2040 bytes and takes post 256 next; "
              "forms drawn before get code -12\n");
    EXPECT_TRUE(Contains(run.out, "log 8: 3 records blanked\n")) << run.out;
    EXPECT_TRUE(Contains(run.out, "the theme that page 1 had was removed when it filled, and is "
                                  "not kept: the board shows the theme in place, \"夏\""))
        << run.out;
    EXPECT_EQ(ReadFile(board / TEXT_FILE), Units(255));
    for (const auto &log : Records(board))
        for (const auto &record : log)
            EXPECT_FALSE(Contains(record, "poster")) << record;

    // The form drawn before is stale; one drawn now is taken, and fills page 1 again.
    const std::string stale =
        zt_test::FormBody({{"four", unit}, {"prev", "2064"}, {"namae", "late"}});
    EXPECT_TRUE(Contains(board.Post(stale, "192.0.2.9").out, "id=\"e12\""));
    ASSERT_EQ(PostNow(board, unit, "again", "192.0.2.9").status, 0);
    EXPECT_EQ(zt_test::FileSize(board / TEXT_FILE), 2048);
    EXPECT_FALSE(zt_test::Exists(board / THEME_FILE));

    // At the end: the last post, and nothing past it.
    run = RunAdmin({"rollback", board.dir, "257"});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(Contains(run.err, "there is no post 257: the text holds 256 posts")) << run.err;
    run = RunAdmin({"rollback", board.dir, "256"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(Contains(run.out, "removed 1 post, 256 to 256: the text is 2040 bytes and takes "
                                  "post 256 next"))
        << run.out;
    EXPECT_TRUE(Contains(run.out, "the board shows its default theme")) << run.out;
    // The record of the post that stood at that offset before the first rollback is blank.
    EXPECT_TRUE(Contains(run.out, "log 1: 1 record blanked, 1 record blank already\n")) << run.out;
    EXPECT_EQ(ReadFile(board / TEXT_FILE), Units(255));
    EXPECT_EQ(RunAdmin({"check", board.dir}).status, 0);
}

}  // namespace
