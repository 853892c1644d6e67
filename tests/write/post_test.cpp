// zt-write end to end, in temporary boards: every refusal prints its own error line and
// changes nothing; an accepted post changes exactly the text, the theme at a full page, the
// last poster and one record per log; the lock is gone after every outcome.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "board.h"
#include "case_name.h"
#include "board_files.h"
#include "board_lock.h"
#include "commentlog.h"
#include "post.h"
#include "post_rate.h"

using namespace std::string_literals;
using zt_test::Environment;
using zt_test::ReadFile;
using zt_test::WriteFile;

namespace {

const std::string header = "Content-type: text/html\n\n";

// The head, the directive of callback 0, an error line for each code (the first shows a field,
// the rate's the seconds to wait), the 0x02 and a completion part that shows the tail and the
// name. A page made before the rate has twelve error lines.
std::string write_page(int lines = -POST_LAST)
{
    std::string page = "<p>head \x01(0) rest of the directive's line\nE1 \x01{four}\n";
    for (int line = 2; line <= lines; line++)
        page += "E"s + std::to_string(line) + (line == -POST_TOO_FAST ? " \x01(2)s\n" : "\n");
    return page + "\x02OK [\x01(1)] \x01{namae}\n";
}

std::string error_response(int code)
{
    return header + "<p>head E" + std::to_string(-code) + "<hr></body></html>\n";
}

std::string ok_response(const std::string &tail, const std::string &name)
{
    return header + "<p>head OK [" + tail + "] " + name + "\n";
}

using Fields = std::vector<std::pair<std::string, std::string>>;

// Every file and directory of a board, by relative path, with its bytes.
using Snapshot = std::map<std::string, std::string>;

class PostBoard : public testing::Test {
protected:
    zt_test::TempDir dir;

    void SetUp() override
    {
        zt_test::PrepareBoard(dir.path());
        WriteFile(dir / "zt/zt-write.htm", write_page());
        for (char digit = '1'; digit < '1' + COMMENT_LOGS; digit++)
            WriteFile(dir / ("zt/zt-com"s + digit + ".htm"),
                      "<li>"s + digit + " \x01{namae}\nthe second line is never used\n");
    }

    zt_test::Run post(const Fields &fields, const char *address = "10.0.0.1",
                      std::function<void()> in_child = {}) const
    {
        const std::string body = zt_test::FormBody(fields);
        Environment environment = {{"CONTENT_LENGTH", std::to_string(body.size())}};
        if (address)
            environment.emplace_back("REMOTE_ADDR", address);
        zt_test::RunOptions options(dir.path(), environment, body);
        options.in_child = std::move(in_child);
        return zt_test::RunProgram("zt-write", options);
    }

    Snapshot snapshot() const
    {
        Snapshot files;
        for (const auto &entry : std::filesystem::recursive_directory_iterator(dir.path())) {
            const std::string name = entry.path().string().substr(dir.path().size());
            files[name] = entry.is_regular_file() ? ReadFile(entry.path().string()) : "(directory)";
        }
        return files;
    }

    // The records of comment log digit, newest first, as the board prints them.
    std::string records(char digit) const
    {
        const std::string path = dir / ("zt/zt-com"s + digit + ".txt");
        if (CommentLog_Open(path.c_str()) != 0)
            return "(no log)";
        const std::string printed = zt_test::Capture([](FILE *out) { CommentLog_Print(out); });
        CommentLog_Close();
        return printed;
    }

    std::string text() const { return ReadFile(dir / "zt/zt-text.txt"); }
    bool locked() const { return zt_test::Exists(dir / "lock/zt.lck"); }
};

Fields fields(const std::string &four, const std::string &prev, const std::string &name)
{
    return {{"four", four}, {"prev", prev}, {"namae", name}};
}

const std::string unit = "\x82\xA0\x82\xA2\x82\xA4\x82\xA6";  // four hiragana

struct Refusal {
    const char *name;
    std::function<void(const zt_test::TempDir &)> prepare;
    Fields fields;
    const char *address;
    int code;
    std::string line;  // the error line, when it shows more than its number
};

void PrintTo(const Refusal &r, std::ostream *os) { *os << r.name; }

class Refusals : public PostBoard, public testing::WithParamInterface<Refusal> {};

TEST_P(Refusals, PrintTheirOwnErrorLineAndChangeNothing)
{
    const Refusal &r = GetParam();
    if (r.prepare)
        r.prepare(dir);
    const Snapshot before = snapshot();
    const auto run = post(r.fields, r.address);
    EXPECT_EQ(run.status, 1);
    if (r.line.empty())
        EXPECT_EQ(run.out, error_response(r.code));
    else
        EXPECT_EQ(run.out, header + "<p>head " + r.line + "<hr></body></html>\n");
    EXPECT_EQ(snapshot(), before);
}

void no_file(const zt_test::TempDir &dir, const char *name) { unlink((dir / name).c_str()); }

INSTANTIATE_TEST_SUITE_P(Codes, Refusals, testing::Values(
    Refusal{"no four", {}, {{"prev", "0"}, {"namae", "a"}}, "10.0.0.1", -1, "E1 "},
    Refusal{"empty four", {}, fields("", "0", "a"), "10.0.0.1", -1, "E1 "},
    Refusal{"seven bytes", {}, fields("abcdefg", "0", "a"), "10.0.0.1", -2, ""},
    Refusal{"nine bytes with a bracket", {}, fields("abcdefgh<", "0", "a"), "10.0.0.1", -2, ""},
    Refusal{"five double-byte characters", {}, fields(unit + "\x82\xA8", "0", "a"), "10.0.0.1", -2, ""},
    Refusal{"half-width kana widened past eight bytes", {}, fields("\xB1\xB2\xB3\xB4\xB5\xB6", "0", "a"),
            "10.0.0.1", -2, ""},
    Refusal{"less-than", {}, fields("abc<efgh", "0", "a"), "10.0.0.1", -3, ""},
    Refusal{"greater-than", {}, fields(">bcdefgh", "0", "a"), "10.0.0.1", -3, ""},
    Refusal{"no prev", {}, {{"four", unit}, {"namae", "a"}}, "10.0.0.1", -4, ""},
    Refusal{"busy", [](const auto &dir) { zt_test::MakeDir(dir / "lock/zt.lck"); },
            fields(unit, "0", "a"), "10.0.0.1", -5, ""},
    Refusal{"no lock parent", [](const auto &dir) { rmdir((dir / "lock").c_str()); },
            fields(unit, "0", "a"), "10.0.0.1", -5, ""},
    Refusal{"lock path is a file", [](const auto &dir) { WriteFile(dir / "lock/zt.lck", ""); },
            fields(unit, "0", "a"), "10.0.0.1", -5, ""},
    Refusal{"same name", [](const auto &dir) { WriteFile(dir / "zt/zt-jti.txt", "a\n9.9.9.9\n"); },
            fields(unit, "0", "a"), "10.0.0.1", -6, ""},
    Refusal{"same name from another address",
            [](const auto &dir) { WriteFile(dir / "zt/zt-jti.txt", "a\n10.0.0.1\n"); },
            fields(unit, "0", "a"), "10.0.0.2", -6, ""},
    Refusal{"same address", [](const auto &dir) { WriteFile(dir / "zt/zt-jti.txt", "b\n10.0.0.1\n"); },
            fields(unit, "0", "a"), "10.0.0.1", -7, ""},
    Refusal{"an address of the same IPv6 /64",
            [](const auto &dir) { WriteFile(dir / "zt/zt-jti.txt", "b\n2001:db8:1:2::5\n"); },
            fields(unit, "0", "a"), "2001:db8:1:2:ffff:ffff:ffff:ffff", -7, ""},
    Refusal{"an IPv4 address after its IPv4-mapped form",
            [](const auto &dir) { WriteFile(dir / "zt/zt-jti.txt", "b\n::ffff:10.0.0.1\n"); },
            fields(unit, "0", "a"), "10.0.0.1", -7, ""},
    Refusal{"an IPv4-mapped address after its IPv4 form",
            [](const auto &dir) { WriteFile(dir / "zt/zt-jti.txt", "b\n10.0.0.1\n"); },
            fields(unit, "0", "a"), "::FFFF:10.0.0.1", -7, ""},
    Refusal{"no last-poster file", [](const auto &dir) { no_file(dir, "zt/zt-jti.txt"); },
            {{"four", unit}, {"prev", "0"}}, nullptr, -8, ""},
    Refusal{"no name", {}, {{"four", unit}, {"prev", "0"}}, "10.0.0.1", -9, ""},
    Refusal{"no address", {}, fields(unit, "0", "a"), nullptr, -10, ""},
    Refusal{"no text file", [](const auto &dir) { no_file(dir, "zt/zt-text.txt"); },
            fields(unit, "0", "a"), "10.0.0.1", -11, ""},
    Refusal{"text file is a directory",
            [](const auto &dir) { no_file(dir, "zt/zt-text.txt"); zt_test::MakeDir(dir / "zt/zt-text.txt"); },
            fields(unit, "0", "a"), "10.0.0.1", -11, ""},
    Refusal{"stale", {}, fields(unit, "8", "a"), "10.0.0.1", -12, ""},
    Refusal{"prev beyond every integer", {}, fields(unit, "99999999999999999999", "a"), "10.0.0.1", -12, ""},
    Refusal{"prev wrapping to the size", {}, fields(unit, "18446744073709551616", "a"), "10.0.0.1", -12, ""},
    Refusal{"stale with confirm", {}, {{"four", unit}, {"prev", "8"}, {"namae", "a"}, {"confirm", ""}},
            "10.0.0.1", -12, ""},
    Refusal{"last poster with confirm",
            [](const auto &dir) { WriteFile(dir / "zt/zt-jti.txt", "a\n9.9.9.9\n"); },
            {{"four", unit}, {"prev", "0"}, {"namae", "a"}, {"confirm", "1"}}, "10.0.0.1", -6, ""},
    Refusal{"name holding a line feed is the last poster",
            [](const auto &dir) { WriteFile(dir / "zt/zt-jti.txt", "a b\n9.9.9.9\n"); },
            fields(unit, "0", "a\nb"), "10.0.0.1", -6, ""},
    Refusal{"last-poster file without its last LF",
            [](const auto &dir) { WriteFile(dir / "zt/zt-jti.txt", "b\n10.0.0.1"); },
            fields(unit, "0", "a"), "10.0.0.1", -7, ""},
    Refusal{"last-poster file of one line without LF",
            [](const auto &dir) { WriteFile(dir / "zt/zt-jti.txt", "a"); },
            fields(unit, "0", "a"), "10.0.0.1", -6, ""},
    Refusal{"empty last-poster file and an empty name",
            [](const auto &dir) { WriteFile(dir / "zt/zt-jti.txt", ""); },
            fields(unit, "0", ""), "10.0.0.1", -6, ""}), zt_test::CaseName{});

// Another /64 of the same /48 is another poster's; the last-poster file keeps the address
// whole.
TEST_F(PostBoard, AnotherSixtyFourIsAnotherPoster)
{
    WriteFile(dir / "zt/zt-jti.txt", "b\n2001:db8:1:2::5\n");
    EXPECT_EQ(post(fields(unit, "0", "a"), "2001:db8:1:3::5").status, 0);
    EXPECT_EQ(ReadFile(dir / "zt/zt-jti.txt"), "a\n2001:db8:1:3::5\n");
}

// A rate file of setting whose slots hold posts from these addresses, so many seconds ago.
void write_rate(const zt_test::TempDir &dir, RateSetting setting,
                const std::vector<std::pair<const char *, int>> &posts)
{
    std::string file(rate_file_bytes(setting), '\0');
    format_rate_file(file.data(), setting);
    const std::int64_t now = time(nullptr);
    for (std::size_t i = 0; i < posts.size(); i++)
        format_rate_slot(file.data() + RATE_HEADER_BYTES + i * RATE_SLOT_BYTES,
                         {now - posts[i].second, address_key(posts[i].first)});
    WriteFile(dir / "zt/zt-rate.txt", file);
}

// A post beyond its address's allowance is refused with the seconds until the oldest of its
// posts is a minute old, also when it only asks for a check, and changes nothing; a page made
// before the rate shows the busy line instead. Another address posts, and its post is
// remembered in a free slot.
TEST_F(PostBoard, RateRefusesWithTheSecondsToWait)
{
    write_rate(dir, {2, 0}, {{"10.0.0.1", 20}, {"10.0.0.1", 10}, {"10.0.0.2", 70}});
    const Snapshot before = snapshot();
    for (const Fields &f : {fields(unit, "0", "a"), Fields{{"four", unit}, {"prev", "0"}, {"namae", "a"}, {"confirm", ""}}}) {
        const std::string out = post(f, "10.0.0.1").out;
        EXPECT_TRUE(out == header + "<p>head E13 41s<hr></body></html>\n" ||
                    out == header + "<p>head E13 40s<hr></body></html>\n")
            << out;
    }
    WriteFile(dir / "zt/zt-write.htm", write_page(-POST_LAST_BEFORE_RATE));
    EXPECT_EQ(post(fields(unit, "0", "a"), "::ffff:10.0.0.1").out, error_response(POST_BUSY));
    WriteFile(dir / "zt/zt-write.htm", write_page());
    EXPECT_EQ(snapshot(), before);

    EXPECT_EQ(post(fields(unit, "0", "b"), "10.0.0.2").status, 0);
    const std::string rate = ReadFile(dir / "zt/zt-rate.txt");
    RatePost slot;
    ASSERT_TRUE(read_rate_slot(std::string_view(rate).substr(RATE_HEADER_BYTES + 2 * RATE_SLOT_BYTES, RATE_SLOT_BYTES), &slot));
    EXPECT_EQ(slot.key, address_key("10.0.0.2"));
    EXPECT_LE(time(nullptr) - slot.second, 1);
}

// A board without the rate file, or with a rate of 0, or with a file that is no rate file,
// takes posts as before the rate; a rate of 0 remembers none.
TEST_F(PostBoard, NoRateTakesEveryPost)
{
    for (const char *file : {"", "zt-rate 0000 0000\n", "garbage"}) {
        if (*file)
            WriteFile(dir / "zt/zt-rate.txt", file);
        for (int i = 0; i < 8; i++) {
            const std::string prev = std::to_string(text().size());
            EXPECT_EQ(post(fields(unit, prev, "p" + std::to_string(i % 2)), i % 2 ? "10.0.0.1" : "10.0.0.2").status, 0);
        }
        if (*file) {
            EXPECT_EQ(ReadFile(dir / "zt/zt-rate.txt"), file);
        }
    }
}

TEST_F(PostBoard, AcceptedPostChangesExactlyTheTextTheLastPosterAndOneRecordPerLog)
{
    const Snapshot before = snapshot();
    const auto run = post(fields(unit, "0", "a<b"));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, ok_response(unit, "a&#60;b"));
    EXPECT_EQ(text(), unit);
    EXPECT_EQ(ReadFile(dir / "zt/zt-jti.txt"), "a<b\n10.0.0.1\n");
    EXPECT_FALSE(locked());
    Snapshot after = snapshot();
    for (char digit = '1'; digit < '1' + COMMENT_LOGS; digit++) {
        EXPECT_EQ(records(digit), "<li>"s + digit + " a&#60;b\n");
        const std::string log = "/zt/zt-com"s + digit + ".txt";
        EXPECT_EQ(after[log].size(), before.at(log).size());
        after[log] = before.at(log);
    }
    after["/zt/zt-text.txt"] = "";
    after["/zt/zt-jti.txt"] = before.at("/zt/zt-jti.txt");
    EXPECT_EQ(after, before);
}

TEST_F(PostBoard, EightSingleByteCharactersAndControlBytesPass)
{
    EXPECT_EQ(post(fields("abcdefgh", "0", "a")).status, 0);
    EXPECT_EQ(post(fields("\x01\x02\t\"&'\x7f" "z", "8", "b"), "10.0.0.2").status, 0);
    EXPECT_EQ(text(), "abcdefgh\x01\x02\t\"&'\x7f" "z");
}

// However the form spells the size, the records get prev as the post's offset in digits, by
// which they name the post they record.
TEST_F(PostBoard, PrevIsReadByTheDecimalRuleAndRecordedAsTheOffset)
{
    WriteFile(dir / "zt/zt-com1.htm", "\x01{prev}\n");
    const char *spellings[] = {"", " +8", "16abc", "\t024", "32<!--0-->"};
    std::string recorded;
    for (int n = 0; n < 5; n++) {
        const std::string address = "10.0.0." + std::to_string(n + 1);
        const auto run = post(fields(unit, spellings[n], "p" + std::to_string(n)), address.c_str());
        EXPECT_EQ(run.status, 0) << spellings[n];
        recorded = std::to_string(8 * n) + "\n" + recorded;
    }
    EXPECT_EQ(text().size(), 40u);
    EXPECT_EQ(records('1'), recorded);
}

TEST_F(PostBoard, ConfirmPassesEveryCheckAndChangesNothing)
{
    const Snapshot before = snapshot();
    const auto run = post({{"four", unit}, {"prev", "0"}, {"namae", "a"}, {"confirm", ""}});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, ok_response("", "a"));
    EXPECT_EQ(snapshot(), before);
}

TEST_F(PostBoard, TailShowsNothingThenOneUnitThenTwo)
{
    WriteFile(dir / "zt/zt-text.txt", std::string(2040, 'x'));
    const std::string units[] = {"11111111", "22222222", "33333333"};
    EXPECT_EQ(post(fields(units[0], "2040", "a"), "10.0.0.1").out, ok_response("", "a"));
    EXPECT_EQ(post(fields(units[1], "2048", "b"), "10.0.0.2").out, ok_response(units[1], "b"));
    EXPECT_EQ(post(fields(units[2], "2056", "c"), "10.0.0.3").out, ok_response(units[1] + units[2], "c"));
}

TEST_F(PostBoard, ThemeIsRemovedWhenAPageFillsUpOnly)
{
    WriteFile(dir / "zt/zt-text.txt", std::string(2032, 'x'));
    WriteFile(dir / "zt/zt-theme.txt", "theme");
    EXPECT_EQ(post(fields(unit, "2032", "a"), "10.0.0.1").status, 0);
    EXPECT_TRUE(zt_test::Exists(dir / "zt/zt-theme.txt"));
    EXPECT_EQ(post(fields(unit, "2040", "b"), "10.0.0.2").status, 0);
    EXPECT_FALSE(zt_test::Exists(dir / "zt/zt-theme.txt"));
    WriteFile(dir / "zt/zt-theme.txt", "theme");
    EXPECT_EQ(post(fields(unit, "2048", "c"), "10.0.0.3").status, 0);
    EXPECT_TRUE(zt_test::Exists(dir / "zt/zt-theme.txt"));
    unlink((dir / "zt/zt-theme.txt").c_str());
    WriteFile(dir / "zt/zt-text.txt", std::string(4088, 'x'));
    EXPECT_EQ(post(fields(unit, "4088", "d"), "10.0.0.4").status, 0);
}

TEST_F(PostBoard, TheLastPosterCannotPostTwiceInARow)
{
    EXPECT_EQ(post(fields(unit, "0", "")).status, 0);
    EXPECT_EQ(post(fields(unit, "8", ""), "10.0.0.2").out, error_response(-6));
    EXPECT_EQ(post(fields(unit, "8", "b")).out, error_response(-7));
    EXPECT_EQ(post(fields(unit, "8", "a\nb"), "10.0.0.3").status, 0);
    EXPECT_EQ(ReadFile(dir / "zt/zt-jti.txt"), "a b\n10.0.0.3\n");
    EXPECT_EQ(post(fields(unit, "16", "a\nb"), "10.0.0.4").out, error_response(-6));
    EXPECT_EQ(records('1'), "<li>1 a b\n<li>1 \n");
}

std::string Times(int n, const std::string &s)
{
    std::string out;
    while (n-- > 0)
        out += s;
    return out;
}

// A name is cut to its first 64 characters where the post is taken, whatever code the form
// came in: the last-poster file, the records and the page hold the cut name, and the same name
// sent whole again is the last poster's. A character that Shift_JIS lacks comes as "&#N;",
// one character of up to 10 bytes.
TEST_F(PostBoard, NamesAreCutToTheirFirst64Characters)
{
    const std::string a = "\x82\xA0";  // あ in Shift_JIS
    const std::string esc_jis = "\x1B$B", esc_ascii = "\x1B(B";
    const std::string euc_unit = "\xA4\xA2\xA4\xA4\xA4\xA6\xA4\xA8";
    const std::string jis_unit = esc_jis + "$\"$$$&$(" + esc_ascii;
    const struct {
        const char *what;
        std::string four, name, kept;  // kept in Shift_JIS, as stored
    } cases[] = {
        {"64 double-byte characters", unit, Times(64, a), Times(64, a)},
        {"65 double-byte characters", unit, Times(65, a), Times(64, a)},
        {"65 in EUC-JP", euc_unit, Times(65, "\xA4\xA2"), Times(64, a)},
        {"65 in JIS", jis_unit, esc_jis + Times(65, "$\"") + esc_ascii, Times(64, a)},
        {"65 half-width katakana, widened", unit, std::string(65, '\xB1'), Times(64, "\x83\x41")},
        {"65 letters", unit, std::string(65, 'n'), std::string(64, 'n')},
        {"63 letters and two double-byte", unit, std::string(63, 'n') + a + a,
         std::string(63, 'n') + a},
        {"64 references", unit, Times(64, "&#128512;") + "x", Times(64, "&#128512;")},
        {"references of 7 digits and more", unit,
         std::string(62, 'n') + "&#1114111;" + "&#12345678;",
         std::string(62, 'n') + "&#1114111;" + "&"},
        {"a reference without its ';'", unit, std::string(62, 'n') + "&#9" + a,
         std::string(62, 'n') + "&#"},
        {"a lead byte at the end", unit, std::string(64, 'n') + "\x82", std::string(64, 'n')},
    };
    int n = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        // Someone else in between, since cases cut to the same name.
        const std::string other = "10.0.3." + std::to_string(++n);
        ASSERT_EQ(post(fields(unit, std::to_string(text().size()), "x"), other.c_str()).status, 0);
        const std::string prev = std::to_string(text().size());
        const std::string address = "10.0.1." + std::to_string(n);
        const auto run = post(fields(c.four, prev, c.name), address.c_str());
        EXPECT_EQ(run.status, 0) << run.out;
        EXPECT_EQ(ReadFile(dir / "zt/zt-jti.txt"), c.kept + "\n" + address + "\n");
        std::string escaped;
        for (const char ch : c.kept)
            escaped += ch == '&' ? "&#38;" : std::string(1, ch);
        EXPECT_EQ(records('1').substr(0, records('1').find('\n')), "<li>1 " + escaped);
        EXPECT_TRUE(run.out.ends_with("] " + escaped + "\n")) << run.out;
        // The whole name once more, from another address: the last poster's.
        EXPECT_EQ(post(fields(c.four, std::to_string(text().size()), c.name), "10.0.2.1").out,
                  error_response(-6));
    }
}

TEST_F(PostBoard, MissingRecordTemplateSkipsOnlyItsLog)
{
    unlink((dir / "zt/zt-com3.htm").c_str());
    const std::string log3 = ReadFile(dir / "zt/zt-com3.txt");
    EXPECT_EQ(post(fields(unit, "0", "a")).status, 0);
    EXPECT_EQ(ReadFile(dir / "zt/zt-com3.txt"), log3);
    for (char digit : "1245678"s)
        EXPECT_EQ(records(digit), "<li>"s + digit + " a\n");
}

TEST_F(PostBoard, MissingLogIsNotCreated)
{
    unlink((dir / "zt/zt-com5.txt").c_str());
    EXPECT_EQ(post(fields(unit, "0", "a")).status, 0);
    EXPECT_FALSE(zt_test::Exists(dir / "zt/zt-com5.txt"));
    EXPECT_EQ(records('4'), "<li>4 a\n");
}

TEST_F(PostBoard, RecordOfAFieldWithLineFeedsStaysOneLine)
{
    WriteFile(dir / "zt/zt-com2.htm", "[\x01{namae}|\x01[MULTI]]\n");
    const std::string body = zt_test::FormBody(fields(unit, "0", "x\ny\nz"));
    const auto run = zt_test::RunProgram(
        "zt-write", {dir.path(), {{"CONTENT_LENGTH", std::to_string(body.size())}, {"REMOTE_ADDR", "1"},
                                  {"MULTI", "p\nq"}}, body});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(records('2'), "[x y z|p q]\n");
}

// A write template too short for the code: what it holds is shown, and nothing waits.
TEST_F(PostBoard, ShortWriteTemplates)
{
    const struct {
        std::string page;
        Fields fields;
        int status;
        std::string out;
    } cases[] = {
        {"h \x01(0)\nE1\nE2\n", fields(unit, "8", "a"), 1, "h <hr></body></html>\n"},
        {"h \x01(0)\nE1\n\x02OK", fields("x", "0", "a"), 1, "h <hr></body></html>\n"},
        {"h \x01(0)\nE1\n\x02OK", fields("", "0", "a"), 1, "h E1<hr></body></html>\n"},
        {"h \x01(0)", fields("", "0", "a"), 1, "h <hr></body></html>\n"},
        {"h \x01(0)\nE1", fields("", "0", "a"), 1, "h E1<hr></body></html>\n"},
        {"h \x01(0)\nE1\n", fields(unit, "0", "a"), 0, "h "},
    };
    for (const auto &c : cases) {
        WriteFile(dir / "zt/zt-write.htm", c.page);
        const auto run = post(c.fields);
        EXPECT_EQ(run.status, c.status) << c.page;
        EXPECT_EQ(run.out, header + c.out) << c.page;
    }
}

// A unit cut short by a file-size limit is taken back whole and the post refused.
TEST_F(PostBoard, ShortWriteOfTheUnitLeavesEveryFileAsItWas)
{
    WriteFile(dir / "zt/zt-text.txt", std::string(2044, 'x'));
    const Snapshot before = snapshot();
    const auto run = post(fields(unit, "2044", "a"), "10.0.0.1", [] {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{2048, 2048};
        setrlimit(RLIMIT_FSIZE, &limit);
    });
    EXPECT_EQ(run.out, error_response(-11));
    EXPECT_EQ(snapshot(), before);
}

// SIGTERM while the lock is held: the run finishes its files and removes the lock, then ends.
// An exclusive flock on log 4, as a long print of that log would hold it shared, keeps the run
// inside the transaction until the test lets it go.
TEST_F(PostBoard, TerminationWhileLockedFinishesTheFilesFirst)
{
    const int log4 = open((dir / "zt/zt-com4.txt").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(log4, 0);
    ASSERT_EQ(flock(log4, LOCK_EX), 0);
    std::atomic<pid_t> writer{0};
    std::thread release([&] {
        while (!locked() || !writer)
            usleep(1000);
        kill(writer, SIGTERM);
        usleep(20000);
        EXPECT_TRUE(locked());
        close(log4);
    });
    const std::string body = zt_test::FormBody(fields(unit, "0", "a"));
    zt_test::RunOptions options(
        dir.path(), {{"CONTENT_LENGTH", std::to_string(body.size())}, {"REMOTE_ADDR", "10.0.0.1"}}, body);
    options.started = [&](pid_t pid) { writer = pid; };
    const auto run = zt_test::RunProgram("zt-write", options);
    release.join();
    EXPECT_EQ(run.status, 128 + SIGTERM);
    EXPECT_FALSE(locked());
    EXPECT_EQ(text(), unit);
    EXPECT_EQ(ReadFile(dir / "zt/zt-jti.txt"), "a\n10.0.0.1\n");
    for (char digit = '1'; digit < '1' + COMMENT_LOGS; digit++)
        EXPECT_EQ(records(digit), "<li>"s + digit + " a\n");
}

// A lock whose holder died: a child takes it and ends without letting it go, as a run killed
// inside its transaction ends.
void leave_dead_lock(const std::string &path)
{
    const pid_t child = fork();
    if (child == 0) {
        const BoardLock lock(path.c_str());
        _exit(lock.held() ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_EQ(status, 0);
    ASSERT_EQ(lock_holder(path.c_str()), LOCK_DEAD);
}

// Many posters at once against one board: one post lands per round, the others are busy or
// stale, and the text and the logs hold exactly the accepted ones. Every other round begins
// with a lock whose holder died, which the posters race to take over.
TEST_F(PostBoard, ConcurrentPostersAreSerialised)
{
    constexpr int posters = 24;
    constexpr int rounds = 6;
    int accepted = 0;
    for (int round = 0; round < rounds; round++) {
        if (round % 2 == 1)
            leave_dead_lock(dir / "lock/zt.lck");
        const std::string prev = std::to_string(text().size());
        std::vector<zt_test::Run> runs(posters);
        std::vector<std::thread> threads;
        for (int i = 0; i < posters; i++) {
            threads.emplace_back([&, i] {
                const std::string name = "p"s + std::to_string(round) + "-" + std::to_string(i);
                const std::string address = "10.1."s + std::to_string(round) + "." + std::to_string(i);
                runs[i] = post(fields(unit, prev, name), address.c_str());
            });
        }
        for (auto &thread : threads)
            thread.join();
        int landed = 0;
        for (const auto &run : runs) {
            if (run.status == 0)
                landed++;
            else
                EXPECT_TRUE(run.out == error_response(-5) || run.out == error_response(-12)) << run.out;
        }
        EXPECT_EQ(landed, 1) << "round " << round;
        accepted += landed;
        EXPECT_FALSE(locked());
    }
    EXPECT_EQ(text().size(), static_cast<std::size_t>(accepted) * 8);
    for (char digit = '1'; digit < '1' + COMMENT_LOGS; digit++) {
        const std::string printed = records(digit);
        EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), accepted) << printed;
    }
}

// A lock that a live run holds, or that no zt run made (another program's mkdir, or a file in
// its place), is never taken over: every post is busy, and the lock stays as it was.
struct HeldLock {
    const char *name;
    LockHolder holder;
    std::function<void(const std::string &path, std::optional<BoardLock> *live)> take;
};

void PrintTo(const HeldLock &h, std::ostream *os) { *os << h.name; }

class HeldLocks : public PostBoard, public testing::WithParamInterface<HeldLock> {};

TEST_P(HeldLocks, AreNeverTakenOver)
{
    const HeldLock &h = GetParam();
    const std::string path = dir / "lock/zt.lck";
    std::optional<BoardLock> live;
    h.take(path, &live);
    struct stat before;
    ASSERT_EQ(lstat(path.c_str(), &before), 0);
    EXPECT_EQ(lock_holder(path.c_str()), h.holder);
    for (int i = 0; i < 10; i++) {
        EXPECT_EQ(post(fields(unit, "0", "p" + std::to_string(i)), ("10.2.0." + std::to_string(i)).c_str()).out,
                  error_response(-5));
        usleep(50000);
    }
    struct stat after;
    ASSERT_EQ(lstat(path.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(lock_holder(path.c_str()), h.holder);
    EXPECT_EQ(text(), "");
}

INSTANTIATE_TEST_SUITE_P(Locks, HeldLocks, testing::Values(
    HeldLock{"live", LOCK_LIVE, [](const std::string &path, std::optional<BoardLock> *live) {
        live->emplace(path.c_str());
        ASSERT_TRUE((*live)->held());
    }},
    HeldLock{"made by another program", LOCK_UNKNOWN, [](const std::string &path, std::optional<BoardLock> *) {
        ASSERT_EQ(mkdir(path.c_str(), 0755), 0);
    }},
    HeldLock{"a file", LOCK_UNKNOWN, [](const std::string &path, std::optional<BoardLock> *) {
        WriteFile(path, "");
    }}), zt_test::CaseName{});

// A file system that cannot rename without replacing gets the lock as another program makes
// it: a plain directory, removed at the end as ever.
TEST_F(PostBoard, LockWithoutRenameNoReplaceIsAPlainDirectory)
{
    const std::string body = zt_test::FormBody(fields(unit, "0", "a"));
    zt_test::RunOptions options(
        dir.path(), {{"CONTENT_LENGTH", std::to_string(body.size())}, {"REMOTE_ADDR", "10.0.0.1"}}, body);
    options.prefix = {"/usr/bin/strace", "-qq", "-o", "/dev/null", "-e", "inject=renameat2:error=EINVAL"};
    const auto run = zt_test::RunProgram("zt-write", options);
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(text(), unit);
    EXPECT_FALSE(locked());
    EXPECT_TRUE(std::filesystem::is_empty(dir / "lock"));
}

}  // namespace
