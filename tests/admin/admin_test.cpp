// zt-admin as an operator runs it: preparing a board, its theme, its state, a lock left
// behind, the text and the logs as UTF-8, and a clear word and status for every misuse. Then
// the programs on a board it prepared.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <ctime>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "admin.h"
#include "admin_board.h"
#include "post_rate.h"
#include "board.h"
#include "log_size.h"
#include "command.h"
#include "template_source.h"

using zt_test::Board;
using zt_test::Contains;
using zt_test::ReadFile;
using zt_test::RunAdmin;
using zt_test::TempDir;

extern char **environ;

namespace {

std::vector<std::string> Listing(const std::string &dir)
{
    std::vector<std::string> names;
    if (DIR *d = opendir(dir.c_str())) {
        for (dirent *entry; (entry = readdir(d));)
            if (std::string(entry->d_name) != "." && std::string(entry->d_name) != "..")
                names.emplace_back(entry->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(AdminInit, PreparesEveryFileOfABoard)
{
    for (const long long size : {DEFAULT_LOG_BYTES, smallest_log(largest_default_record())}) {
        const Board board = size == DEFAULT_LOG_BYTES
                                ? Board()
                                : Board({"--log-bytes", std::to_string(size)});
        EXPECT_EQ(Listing(board.dir), (std::vector<std::string>{"lock", "zt"}));
        EXPECT_TRUE(Listing(board / "lock").empty());
        std::vector<std::string> expected = {"zt-jti.txt", "zt-rate.txt", "zt-text.txt"};
        for (const auto &t : default_templates()) {
            expected.emplace_back(t.name);
            std::string bytes, problem;
            ASSERT_TRUE(template_to_board(t.source, &bytes, &problem));
            EXPECT_EQ(ReadFile(board / "zt/" + t.name), bytes) << t.name;
        }
        for (int digit = 1; digit <= COMMENT_LOGS; digit++) {
            const std::string log = ReadFile(board / comment_log_name(digit));
            expected.push_back(comment_log_name(digit).substr(3));
            char header[19];
            snprintf(header, sizeof header, "%08llx\n%08llx\n", size, size);
            EXPECT_EQ(log.size(), static_cast<std::size_t>(size));
            EXPECT_EQ(log.substr(0, 18), header);
            EXPECT_EQ(log.find_first_not_of('\0', 18), std::string::npos);
        }
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(Listing(board / "zt"), expected);
        EXPECT_EQ(ReadFile(board / TEXT_FILE), "");
        EXPECT_EQ(ReadFile(board / LAST_POSTER_FILE), "\r\n\r\n");
        const std::string rate = ReadFile(board / RATE_FILE);
        EXPECT_EQ(rate.substr(0, RATE_HEADER_BYTES), "zt-rate 0006 0060\n");
        EXPECT_EQ(rate.size(), RATE_HEADER_BYTES + std::size_t{64} * RATE_SLOT_BYTES);
    }
}

TEST(AdminInit, RefusesABoardAndBadArguments)
{
    const Board board;
    zt_test::WriteFile(board / TEXT_FILE, "12345678");
    auto again = RunAdmin({"init", board.dir});
    EXPECT_EQ(again.status, 1);
    EXPECT_TRUE(Contains(again.err, "already holds a board")) << again.err;
    EXPECT_EQ(ReadFile(board / TEXT_FILE), "12345678");

    TempDir lock_only;
    zt_test::MakeDir(lock_only / "lock");
    EXPECT_EQ(RunAdmin({"init", lock_only.path()}).status, 1);
    EXPECT_EQ(Listing(lock_only.path()), std::vector<std::string>{"lock"});

    TempDir root;
    const long long smallest = smallest_log(largest_default_record());
    zt_test::WriteFile(root / "file", "");
    const auto under_file = RunAdmin({"init", root / "file/board"});
    EXPECT_EQ(under_file.status, 1);
    EXPECT_FALSE(under_file.err.empty());

    const std::vector<std::vector<std::string>> misuses = {
        {"init"},
        {"init", root / "a", root / "b"},
        {"init", root / "c", "--log-bytes"},
        {"init", root / "c", "--log-bytes", "abc"},
        {"init", root / "c", "--log-bytes", "-5"},
        {"init", root / "c", "--log-bytes", std::to_string(smallest - 1)},
        {"init", root / "c", "--log-bytes=16777217"},
        {"init", root / "c", "--log-bytes", "99999999999999999999"},
        {"init", root / "c", "--force"},
    };
    for (const auto &arguments : misuses) {
        const auto run = RunAdmin(arguments);
        EXPECT_EQ(run.status, 2) << arguments.back();
        EXPECT_FALSE(run.err.empty());
    }
    EXPECT_EQ(Listing(root.path()), std::vector<std::string>{"file"});
    const auto too_small = RunAdmin({"init", root / "c", "--log-bytes=8192"});
    EXPECT_TRUE(Contains(too_small.err, "a comment log has " + std::to_string(smallest) + " to "))
        << too_small.err;
    EXPECT_EQ(RunAdmin({"init", root / "c", "--log-bytes=" + std::to_string(smallest)}).status, 0);
}

TEST(AdminTheme, PutsItInPlaceInShiftJisAndRemovesIt)
{
    const Board board;
    auto set = RunAdmin({"theme", board.dir, "春の海"});
    EXPECT_EQ(set.status, 0) << set.err;
    EXPECT_EQ(set.err, "");
    EXPECT_EQ(ReadFile(board / THEME_FILE), "\x8F\x74\x82\xCC\x8A\x43");

    // Longer than the 60 bytes shown: cut to the whole characters among them, with a warning
    // that names what the board shows.
    const struct {
        std::string theme, shown;  // in UTF-8
        int bytes;
        std::string kept;  // in Shift_JIS
    } cuts[] = {
        // The 60th byte would be the first half of 海.
        {std::string(59, 'a') + "海", std::string(59, 'a'), 61, std::string(59, 'a')},
        {std::string(58, 'a') + "海山", std::string(58, 'a') + "海", 62,
         std::string(58, 'a') + "\x8A\x43"},
        {std::string(60, 'a') + "海", std::string(60, 'a'), 62, std::string(60, 'a')},
    };
    for (const auto &c : cuts) {
        set = RunAdmin({"theme", board.dir, c.theme});
        EXPECT_EQ(set.status, 0);
        EXPECT_TRUE(Contains(set.err, "has " + std::to_string(c.bytes) + " bytes")) << set.err;
        EXPECT_TRUE(Contains(set.err, "cut to \"" + c.shown + "\"")) << set.err;
        EXPECT_EQ(ReadFile(board / THEME_FILE), c.kept);
    }

    set = RunAdmin({"theme", board.dir, "絵文字😀"});
    EXPECT_EQ(set.status, 1);
    EXPECT_TRUE(Contains(set.err, "U+1F600")) << set.err;
    EXPECT_EQ(ReadFile(board / THEME_FILE).size(), 60u);  // the old theme stays

    EXPECT_EQ(RunAdmin({"theme", board.dir, "--", "--clear"}).status, 0);
    EXPECT_EQ(ReadFile(board / THEME_FILE), "--clear");
    EXPECT_EQ(RunAdmin({"theme", board.dir, "--clear"}).status, 0);
    EXPECT_FALSE(zt_test::Exists(board / THEME_FILE));
    const auto none = RunAdmin({"theme", board.dir, "--clear"});
    EXPECT_EQ(none.status, 0);
    EXPECT_TRUE(Contains(none.out, "no theme was set"));

    EXPECT_EQ(RunAdmin({"theme", board.dir}).status, 2);
    EXPECT_EQ(RunAdmin({"theme", board.dir, "a", "b"}).status, 2);
    EXPECT_EQ(RunAdmin({"theme", board.dir, "a", "--clear"}).status, 2);
    const auto missing = RunAdmin({"theme", board.root / "nothing", "a"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_TRUE(Contains(missing.err, "no such directory")) << missing.err;
}

TEST(AdminStatus, TellsTheStateOfTheBoard)
{
    const Board board;
    auto status = RunAdmin({"status", board.dir});
    EXPECT_EQ(status.status, 0) << status.err;
    EXPECT_FALSE(Contains(status.out, "warning")) << status.out;

    // Logs too small for eight of the largest records that their templates can make: all but
    // log 2, whose records hold neither a name nor a time.
    zt_test::ReplaceLogs(board.dir, 1024);
    status = RunAdmin({"status", board.dir});
    for (const char *line :
         {"text         0 bytes: 0 posts; 1 page, page 1 is being written, 256 posts left\n",
          "theme        none: the board shows its default theme\n", "last poster  nobody yet\n",
          "lock         free\n",
          "log 1        1024 bytes, 0 records\n"
          "             warning: this log shows 0 of the largest records (1075 bytes) that "
          "zt/zt-com1.htm can make, so one post can push out more than an eighth of it or leave "
          "no record; a log of 9692 bytes shows 8\n"
          "log 2        1024 bytes, 0 records\nlog 3        1024 bytes, 0 records\n"
          "             warning: this log shows 0 of the largest records (963 bytes) that "
          "zt/zt-com3.htm can make",
          "log 8        1024 bytes, 0 records\n", "templates    11 of 11 sound\n"})
        EXPECT_TRUE(Contains(status.out, line)) << line << "in\n" << status.out;
    std::size_t warnings = 0;
    for (std::size_t at = 0; (at = status.out.find("warning:", at)) != std::string::npos; at++)
        warnings++;
    EXPECT_EQ(warnings, 7u) << status.out;

    // One post through zt-write, then a text of two pages, a theme and a lock.
    const std::string body = zt_test::FormBody(
        {{"four", "\x8A\xBF\x8E\x9A\x82\xA9\x83\x69"}, {"prev", "0"}, {"namae", "\x91\xBE\x98\x59"}});
    EXPECT_EQ(board.Post(body, "192.0.2.7").status, 0);
    zt_test::WriteFile(board / TEXT_FILE, std::string(2056, 'a'));
    EXPECT_EQ(RunAdmin({"theme", board.dir, "春"}).status, 0);
    zt_test::MakeDir(board / LOCK_DIR);
    zt_test::WriteFile(board / "zt/zt-view.htm", "\x01(7)");
    status = RunAdmin({"status", board.dir});
    for (const char *line :
         {"text         2056 bytes: 257 posts, numbered 1 to 257; 2 pages, page 2 is being "
          "written, 255 posts left\n",
          "theme        \"春\" (2 bytes)\n", "last poster  \"太郎\" from 192.0.2.7\n",
          "lock         taken since ", "log 1        1024 bytes, 1 record\n",
          "rate         6 posts a minute from one address (12 from its /48), 60 on the whole "
          "board; 1 post in the last minute, from 1 address\n",
          "template     zt/zt-view.htm line 1: callback 7", "templates    10 of 11 sound\n"})
        EXPECT_TRUE(Contains(status.out, line)) << line << "in\n" << status.out;

    std::remove((board / LAST_POSTER_FILE).c_str());
    std::remove((board / TEXT_FILE).c_str());
    status = RunAdmin({"status", board.dir});
    EXPECT_TRUE(Contains(status.out, "text         missing: every post is refused (code -11)"));
    EXPECT_TRUE(Contains(status.out, "last poster  missing: every post is refused (code -8)"));

    TempDir empty;
    status = RunAdmin({"status", empty.path()});
    EXPECT_EQ(status.status, 1);
    EXPECT_TRUE(Contains(status.err, "holds no board")) << status.err;
}

// zt-admin with TZ set to zone, or without TZ when zone is empty.
zt_test::CommandRun AdminInZone(const std::vector<std::string> &arguments, const std::string &zone)
{
    std::vector<std::string> argv = {zt_test::ProgramPath("zt-admin")};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<std::string> environment;
    for (char **e = environ; *e; e++)
        if (!std::string_view(*e).starts_with("TZ="))
            environment.emplace_back(*e);
    if (!zone.empty())
        environment.push_back("TZ=" + zone);
    return zt_test::RunArgv(argv, environment, {});
}

TEST(AdminStatus, SaysWhatIsTrueOfTheTextAndTheLock)
{
    const Board board;
    const struct {
        std::size_t size;
        const char *line;
    } texts[] = {
        {8, "8 bytes: 1 post, numbered 1; 1 page, page 1 is being written, 255 posts left\n"},
        {2040, "2040 bytes: 255 posts, numbered 1 to 255; 1 page, page 1 is being written, 1 post "
               "left\n"},
        {2048, "2048 bytes: 256 posts, numbered 1 to 256; 1 page, full: the next post begins page "
               "2\n"},
        {4096, "4096 bytes: 512 posts, numbered 1 to 512; 2 pages, full: the next post begins page "
               "3\n"},
    };
    for (const auto &t : texts) {
        zt_test::WriteFile(board / TEXT_FILE, std::string(t.size, 'a'));
        const auto status = RunAdmin({"status", board.dir});
        EXPECT_TRUE(Contains(status.out, "text         " + std::string(t.line))) << status.out;
    }

    // The lock's time in the zone that TZ names, as the programs take it, else in UTC.
    zt_test::MakeDir(board / LOCK_DIR);
    const utimbuf taken = {1700000000, 1700000000};
    ASSERT_EQ(utime((board / LOCK_DIR).c_str(), &taken), 0);
    const struct {
        const char *zone;
        std::string since;
    } zones[] = {
        {"", "2023-11-14 22:13:20 UTC, "},
        {"JST-9", "2023-11-15 07:13:20 JST (TZ=JST-9), "},
        {"UTC0", "2023-11-14 22:13:20 UTC (TZ=UTC0), "},
    };
    for (const auto &z : zones) {
        const auto status = AdminInZone({"status", board.dir}, z.zone);
        EXPECT_TRUE(Contains(status.out, "lock         taken since " + z.since)) << status.out;
        const auto unlock = AdminInZone({"unlock", board.dir}, z.zone);
        EXPECT_TRUE(Contains(unlock.out, "removed the lock taken at " + z.since)) << unlock.out;
        zt_test::MakeDir(board / LOCK_DIR);
        ASSERT_EQ(utime((board / LOCK_DIR).c_str(), &taken), 0);
    }
}

TEST(AdminUnlock, RemovesOnlyALockThatIsOldOrForced)
{
    const Board board;
    auto run = RunAdmin({"unlock", board.dir});
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(Contains(run.out, "not locked"));

    const std::string lock = board / LOCK_DIR;
    zt_test::MakeDir(lock);
    run = RunAdmin({"unlock", board.dir});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(Contains(run.err, "may still be writing")) << run.err;
    EXPECT_TRUE(zt_test::Exists(lock));
    EXPECT_EQ(RunAdmin({"unlock", board.dir, "--force"}).status, 0);
    EXPECT_FALSE(zt_test::Exists(lock));

    zt_test::MakeDir(lock);
    const time_t old = time(nullptr) - 120;
    const utimbuf times = {old, old};
    ASSERT_EQ(utime(lock.c_str(), &times), 0);
    run = RunAdmin({"unlock", board.dir});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_FALSE(zt_test::Exists(lock));
    EXPECT_TRUE(zt_test::Exists(board / LOCK_PARENT));

    EXPECT_EQ(RunAdmin({"unlock", board.dir, "--clear"}).status, 2);
}

// status, check and unlock tell a lock that a running zt holds, one that a dead run left and
// one of unknown origin apart: only the dead one is taken over, the unknown one is removed only
// when old or forced, the live one never.
TEST(AdminLock, TellsLiveDeadAndUnknownApart)
{
    const struct {
        const char *name;
        std::function<void(const std::string &lock, std::optional<BoardLock> *live)> take;
        std::string status, check_out, check_err;
        int check, unlock;
        bool stays;
    } locks[] = {
        {"live", [](const std::string &lock, std::optional<BoardLock> *live) { live->emplace(lock.c_str()); },
         "by a post or zt-admin that runs", "", "note: lock/zt.lck: held since", 0, 1, true},
        {"dead",
         [](const std::string &lock, std::optional<BoardLock> *) {
             if (fork() == 0) {
                 const BoardLock held(lock.c_str());
                 _exit(0);
             }
             int status;
             wait(&status);
         },
         "by a run that died: the next post takes it over", "", "note: lock/zt.lck: taken since", 0, 0, false},
        {"unknown", [](const std::string &lock, std::optional<BoardLock> *) { zt_test::MakeDir(lock); },
         "by a program other than zt", "lock/zt.lck: taken since", "", 1, 1, true},
    };
    for (const auto &l : locks) {
        SCOPED_TRACE(l.name);
        const Board board;
        const std::string lock = board / LOCK_DIR;
        std::optional<BoardLock> live;
        l.take(lock, &live);
        const auto status = RunAdmin({"status", board.dir});
        EXPECT_TRUE(Contains(status.out, l.status)) << status.out;
        const auto check = RunAdmin({"check", board.dir});
        EXPECT_EQ(check.status, l.check) << check.out;
        EXPECT_TRUE(Contains(check.out, l.check_out)) << check.out;
        EXPECT_TRUE(Contains(check.err, l.check_err)) << check.err;
        const auto unlock = RunAdmin({"unlock", board.dir});
        EXPECT_EQ(unlock.status, l.unlock) << unlock.err;
        EXPECT_EQ(zt_test::Exists(lock), l.stays);
        if (std::string(l.name) == "live") {
            EXPECT_EQ(RunAdmin({"unlock", board.dir, "--force"}).status, 1);  // not even forced
        }
    }
}

// The rate: init's default, shown and set, 0 turning it off; status shows the addresses that
// wait; a board without the file gets one when a rate is set.
TEST(AdminRate, ShowsAndSetsIt)
{
    const Board board;
    auto run = RunAdmin({"rate", board.dir});
    EXPECT_EQ(run.out, "rate         6 posts a minute from one address (12 from its /48), 60 on "
                       "the whole board; 0 posts in the last minute, from 0 addresses\n");
    const std::string body = zt_test::FormBody({{"four", "abcdefgh"}, {"prev", "0"}, {"namae", "a"}});
    EXPECT_EQ(board.Post(body, "2001:db8::1").status, 0);
    run = RunAdmin({"rate", board.dir, "1", "--board", "0"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(Contains(run.out, "1 post a minute from one address (2 from its /48), no ceiling on the board; "
                                  "1 post in the last minute, from 1 address; 2001:db8::/64 waits "))
        << run.out;
    EXPECT_EQ(ReadFile(board / RATE_FILE).substr(0, RATE_HEADER_BYTES), "zt-rate 0001 0000\n");
    EXPECT_TRUE(Contains(RunAdmin({"status", board.dir}).out, "2001:db8::/64 waits "));
    EXPECT_EQ(RunAdmin({"rate", board.dir, "0"}).status, 0);
    EXPECT_TRUE(Contains(RunAdmin({"rate", board.dir}).out, "rate         off: every post is taken"));
    for (const std::vector<std::string> &wrong : {std::vector<std::string>{"31"}, {"x"}, {"1", "--board", "601"}})
        EXPECT_EQ(RunAdmin([&] {
                      std::vector<std::string> a = {"rate", board.dir};
                      a.insert(a.end(), wrong.begin(), wrong.end());
                      return a;
                  }())
                      .status,
                  2);
    std::remove((board / RATE_FILE).c_str());
    EXPECT_TRUE(Contains(RunAdmin({"status", board.dir}).out, "rate         none: every post is taken"));
    EXPECT_EQ(RunAdmin({"check", board.dir}).status, 0);
    EXPECT_EQ(RunAdmin({"rate", board.dir, "2", "--board", "100"}).status, 0);
    EXPECT_EQ(ReadFile(board / RATE_FILE).size(), RATE_HEADER_BYTES + std::size_t{100} * RATE_SLOT_BYTES);
    zt_test::WriteFile(board / RATE_FILE, "zt-rate 0002 0100\n");
    run = RunAdmin({"check", board.dir});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(Contains(run.out, "zt/zt-rate.txt: 18 bytes, not the 4418 that its setting needs")) << run.out;
}

// Run as root, zt-admin becomes the owner of the board's zt/ before it touches anything, so
// that what it creates is the web server's user's, as the posts need it.
TEST(AdminAsRoot, BecomesTheBoardsOwner)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "only root changes its user";
    const Board board;
    ASSERT_EQ(chmod(board.root.path().c_str(), 0755), 0);
    constexpr uid_t NOBODY = 65534;
    for (const char *dir : {"zt", "lock"}) {
        ASSERT_EQ(chown((board / dir).c_str(), NOBODY, NOBODY), 0);
        for (const auto &entry : std::filesystem::directory_iterator(board / dir))
            ASSERT_EQ(lchown(entry.path().c_str(), NOBODY, NOBODY), 0);
    }
    std::remove((board / RATE_FILE).c_str());
    EXPECT_EQ(RunAdmin({"rate", board.dir, "3"}).status, 0);
    EXPECT_EQ(RunAdmin({"theme", board.dir, "春"}).status, 0);
    for (const char *file : {RATE_FILE, THEME_FILE}) {
        struct stat st;
        ASSERT_EQ(stat((board / file).c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, NOBODY) << file;
    }
    // A link in zt/'s place is refused before anything is touched.
    const std::string zt = board / "zt", moved = board / "zt.real";
    ASSERT_EQ(rename(zt.c_str(), moved.c_str()), 0);
    ASSERT_EQ(symlink(moved.c_str(), zt.c_str()), 0);
    const auto run = RunAdmin({"theme", board.dir, "--clear"});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(zt_test::Exists(moved + "/zt-theme.txt"));
}

TEST(AdminExport, PrintsTheTextAsUtf8PageByPage)
{
    const Board board;
    auto run = RunAdmin({"export", board.dir});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");

    std::string text, expected;
    for (int i = 0; i < 256; i++)
        text += "\x82\xA0\x82\xA2\x82\xA4\x82\xA6", expected += "あいうえ";
    text += std::string("\x8A\xBF\x1B[2J\x83\x69", 8);  // a visitor's escape sequence
    expected += "\n\n漢\uFFFD[2Jナ\n";
    zt_test::WriteFile(board / TEXT_FILE, text);
    run = RunAdmin({"export", board.dir});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, expected);

    std::remove((board / TEXT_FILE).c_str());
    EXPECT_EQ(RunAdmin({"export", board.dir}).status, 1);
}

TEST(AdminLog, PrintsARecordsNewestFirst)
{
    const Board board;
    for (const auto &[name, address] :
         std::vector<std::pair<std::string, std::string>>{{"a", "192.0.2.1"}, {"b", "192.0.2.2"}}) {
        const std::string size = std::to_string(zt_test::FileSize(board / TEXT_FILE));
        EXPECT_EQ(board.Post(zt_test::FormBody({{"four", "\x82\xA0\x82\xA2\x82\xA4\x82\xA6"},
                                                 {"prev", size}, {"namae", name}}),
                             address)
                      .status,
                  0);
    }
    auto run = RunAdmin({"log", board.dir, "8"});
    EXPECT_EQ(run.status, 0) << run.err;
    const std::size_t b = run.out.find(" 192.0.2.2 b あいうえ\n");
    const std::size_t a = run.out.find(" 192.0.2.1 a あいうえ\n");
    EXPECT_NE(b, std::string::npos) << run.out;
    EXPECT_NE(a, std::string::npos) << run.out;
    EXPECT_LT(b, a);
    EXPECT_EQ(RunAdmin({"log", board.dir, "9"}).status, 2);
    EXPECT_EQ(RunAdmin({"log", board.dir}).status, 2);
}

// The records of log digit of the board in dir, newest first, as the board page lists them.
std::vector<std::string> Records(const std::string &dir, int digit)
{
    std::vector<std::string> records;
    CommentLog_State state;
    EXPECT_TRUE(list_comment_log(dir + "/" + comment_log_name(digit), &records, &state));
    return records;
}

// resize writes every log anew at its new size, smaller or larger, keeping the newest records
// that fit, newest first, and the log's owner and mode; the board stays sound and its logs
// take posts as before. A size below what a log's template needs, or a held lock, changes
// nothing.
TEST(AdminResize, KeepsTheNewestRecordsThatFit)
{
    const Board board;
    // Log 1 wrapped many times over, log 2 with a few records, the others empty.
    for (const auto &[digit, appends] : {std::pair{1, 400}, std::pair{2, 5}}) {
        const std::string path = board / comment_log_name(digit);
        for (int n = 0; n < appends; n++) {
            std::string content = "record " + std::to_string(n) + " ";
            content.resize(20 + n * 7 % 300, 'x');
            ASSERT_EQ(CommentLog_Open(path.c_str()), 0);
            ASSERT_EQ(CommentLog_Append(content.data(), content.size()), 0);
            CommentLog_Close();
        }
    }
    ASSERT_EQ(chmod((board / comment_log_name(1)).c_str(), 0640), 0);
    std::vector<std::vector<std::string>> before;
    for (int digit = 1; digit <= COMMENT_LOGS; digit++)
        before.push_back(Records(board.dir, digit));
    ASSERT_GT(before[0].size(), 40u);

    const long long smallest = smallest_log(largest_default_record());
    const auto snapshot = [&] {
        std::string all;
        for (int digit = 1; digit <= COMMENT_LOGS; digit++)
            all += ReadFile(board / comment_log_name(digit));
        return all;
    };
    const std::string unchanged = snapshot();
    const auto too_small = RunAdmin({"resize", board.dir, "--log-bytes", std::to_string(smallest - 1)});
    EXPECT_EQ(too_small.status, 1);
    EXPECT_TRUE(Contains(too_small.err, "zt/zt-com1.htm can make records of 1075 bytes")) << too_small.err;
    {
        const BoardLock post((board / LOCK_DIR).c_str());  // as a post that runs holds it
        const auto locked = RunAdmin({"resize", board.dir, "--log-bytes", "20000"});
        EXPECT_EQ(locked.status, 1);
        EXPECT_TRUE(Contains(locked.err, "the board is busy")) << locked.err;
    }
    EXPECT_EQ(snapshot(), unchanged);
    EXPECT_EQ(RunAdmin({"resize", board.dir}).status, 2);

    for (const long long size : {smallest, 48LL * 1024, smallest}) {
        SCOPED_TRACE(size);
        const auto run = RunAdmin({"resize", board.dir, "--log-bytes", std::to_string(size)});
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_FALSE(zt_test::Exists(board / LOCK_DIR));
        for (int digit = 1; digit <= COMMENT_LOGS; digit++) {
            const std::string path = board / comment_log_name(digit);
            EXPECT_EQ(zt_test::FileSize(path), size);
            // The newest that fit: all of a log's records, or as many as its area holds.
            const std::vector<std::string> &old = before[digit - 1];
            std::size_t fit = 0;
            for (long long room = size - COMMENT_HEADER_BYTES; fit < old.size(); fit++) {
                room -= static_cast<long long>(old[fit].size()) + COMMENT_RECORD_FRAME_BYTES;
                if (room < 0)
                    break;
            }
            const std::vector<std::string> kept(old.begin(), old.begin() + fit);
            EXPECT_EQ(Records(board.dir, digit), kept) << digit;
            before[digit - 1] = kept;
        }
        struct stat st;
        ASSERT_EQ(stat((board / comment_log_name(1)).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0640u);
        EXPECT_EQ(RunAdmin({"check", board.dir}).status, 0);
    }
    EXPECT_LT(before[0].size(), 400u);
    EXPECT_EQ(before[1].size(), 5u);

    // The logs take posts as before: the new record first, the kept ones after it.
    const std::string body = zt_test::FormBody(
        {{"four", "\x82\xA0\x82\xA2\x82\xA4\x82\xA6"}, {"prev", "0"}, {"namae", "a"}});
    EXPECT_EQ(board.Post(body, "192.0.2.1").status, 0);
    const std::vector<std::string> after = Records(board.dir, 2);
    ASSERT_EQ(after.size(), 6u);
    EXPECT_EQ(std::vector<std::string>(after.begin() + 1, after.end()), before[1]);
}

// A log whose header was lost and written afresh lists the bytes below it as lines until a
// new lap begins: resize keeps the whole records among them, not those bytes as records that
// would then stay on the board page.
TEST(AdminResize, KeepsOnlyWholeRecordsOfADamagedLog)
{
    const Board board;
    const std::string path = board / comment_log_name(1);
    const std::string record = "0009\tabc\n";  // the first one is read as the end of a line
    for (const std::string &below : {std::string(), record + record}) {
        std::string log = zt_test::EmptyLog(16384);
        log.replace(log.size() - below.size(), below.size(), below);
        CommentLog_FormatHeader(log.data(), COMMENT_HEADER_BYTES, COMMENT_HEADER_BYTES);
        zt_test::WriteFile(path, log);
        const auto run = RunAdmin({"resize", board.dir, "--log-bytes", "20000"});
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(Records(board.dir, 1),
                  std::vector<std::string>(below.empty() ? 0 : 1, "abc"));
    }
}

// Without record templates to tell how large records are, a log must still hold its header
// and records: a size too small for that is refused, and no log changes.
TEST(AdminResize, RefusesALogTooSmallForRecordsWithoutTemplates)
{
    const Board board;
    for (int digit = 1; digit <= COMMENT_LOGS; digit++)
        ASSERT_EQ(unlink((board / record_template_name(digit)).c_str()), 0);
    const std::string log = ReadFile(board / comment_log_name(1));
    for (const char *size : {"0", "17", "70"}) {
        const auto run = RunAdmin({"resize", board.dir, "--log-bytes", size});
        EXPECT_EQ(run.status, 2) << size;
        EXPECT_TRUE(Contains(run.err, "a comment log has 71 to ")) << run.err;
    }
    EXPECT_EQ(ReadFile(board / comment_log_name(1)), log);
    EXPECT_EQ(RunAdmin({"resize", board.dir, "--log-bytes", "71"}).status, 0);
}

// Whoever may write in zt/ (the web server's user) can put a link in the place of the new
// log while resize writes it. strace holds resize's first change of owner and of mode for a
// second, and a link to a file outside the board takes the new log's place once its record
// is in: zt-admin, which an operator runs as root, must not give that file the log's mode.
TEST(AdminResize, GivesTheLogsModeToNoFileALinkLeadsTo)
{
    if (access("/usr/bin/strace", X_OK) != 0)
        GTEST_FAIL() << "strace is needed (tools/test installs it)";
    const Board board;
    const std::string log = board / comment_log_name(1), temporary = log + ".new";
    ASSERT_EQ(CommentLog_Open(log.c_str()), 0);
    ASSERT_EQ(CommentLog_Append("abc", 3), 0);
    CommentLog_Close();
    ASSERT_EQ(chmod(log.c_str(), 0604), 0);
    const std::string victim = board.root / "victim";
    zt_test::WriteFile(victim, "not the board's");
    ASSERT_EQ(chmod(victim.c_str(), 0600), 0);
    ASSERT_EQ(symlink(victim.c_str(), (board.root / "link").c_str()), 0);

    std::atomic<bool> done = false;
    std::thread planter([&] {
        for (char last[4]; !done; usleep(1000)) {
            const int fd = open(temporary.c_str(), O_RDONLY);
            const bool recorded = fd >= 0 && pread(fd, last, 4, 20000 - 4) == 4 &&
                                  std::string(last, 4) == "abc\n";
            if (fd >= 0)
                close(fd);
            if (recorded) {
                (void)rename((board.root / "link").c_str(), temporary.c_str());
                return;
            }
        }
    });
    const auto run = zt_test::RunCommand(
        {"/usr/bin/strace", "-qq", "-o", "/dev/null", "-e",
         "inject=chown,fchown,fchownat,chmod,fchmod,fchmodat:delay_enter=1000000:when=1",
         zt_test::ProgramPath("zt-admin"), "resize", board.dir, "--log-bytes", "20000"});
    done = true;
    planter.join();
    struct stat st;
    ASSERT_EQ(stat(victim.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u) << run.out << run.err;
}

TEST(AdminUsage, EveryMisuseIsToldAndFails)
{
    const std::vector<std::vector<std::string>> misuses = {
        {}, {"frobnicate", "x"}, {"status"}, {"status", "a", "b"}, {"export", "--force", "x"}, {"check"},
    };
    for (const auto &arguments : misuses) {
        const auto run = RunAdmin(arguments);
        EXPECT_EQ(run.status, 2);
        EXPECT_TRUE(run.err.starts_with("zt-admin: ")) << run.err;
        EXPECT_TRUE(Contains(run.err, "usage: zt-admin"));
    }
    const auto help = RunAdmin({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.out.starts_with("usage: zt-admin"));
}

// What a command prints must reach its reader: to a full disk or a closed pipe the run fails,
// and says so.
TEST(AdminOutput, AFailedWriteFailsTheRun)
{
    const Board board;
    const std::string body = zt_test::FormBody(
        {{"four", "\x82\xA0\x82\xA2\x82\xA4\x82\xA6"}, {"prev", "0"}, {"namae", "a"}});
    ASSERT_EQ(board.Post(body, "192.0.2.1").status, 0);
    const struct {
        std::function<void()> output;
        const char *error;
    } sinks[] = {
        {[] { dup2(open("/dev/full", O_WRONLY), STDOUT_FILENO); }, "No space left on device"},
        {[] {
             int ends[2];
             if (pipe(ends) == 0 && close(ends[0]) == 0)
                 dup2(ends[1], STDOUT_FILENO);
         },
         "Broken pipe"},
    };
    for (const auto &sink : sinks)
        for (const std::vector<std::string> &arguments :
             {std::vector<std::string>{"export", board.dir}, {"log", board.dir, "1"},
              {"status", board.dir}, {"check", board.dir}, {"--help"}}) {
            const auto run = RunAdmin(arguments, sink.output);
            EXPECT_EQ(run.status, 1) << arguments[0];
            EXPECT_EQ(run.err, "zt-admin: cannot write the output: " + std::string(sink.error) +
                                   "\n");
        }
}

// The programs on a board that zt-admin prepared: the first post of a new board is taken
// (the last-poster file matches nobody, not even an empty name), the theme shows, the error
// line that no request through a web server can reach (no REMOTE_ADDR) says what it should.
TEST(PreparedBoard, TheProgramsWorkOnIt)
{
    const Board board;
    const std::string four = "\x82\xA0\x82\xA2\x82\xA4\x82\xA6";
    auto written = board.Post(zt_test::FormBody({{"four", four}, {"prev", "0"}, {"namae", ""}}),
                              "192.0.2.1");
    EXPECT_EQ(written.status, 0) << written.out;
    EXPECT_TRUE(Contains(written.out, "id=\"done\""));
    EXPECT_EQ(ReadFile(board / TEXT_FILE), four);

    written = board.Post(zt_test::FormBody({{"four", four}, {"prev", "8"}, {"namae", "x"}}), "");
    EXPECT_EQ(written.status, 1);
    EXPECT_TRUE(Contains(written.out, "<p class=\"error\" id=\"e10\">")) << written.out;

    EXPECT_EQ(RunAdmin({"theme", board.dir, std::string(58, 't') + "春"}).status, 0);
    const auto page = zt_test::RunProgram("zt-view", {board.dir, {{"QUERY_STRING", ""}}, ""});
    EXPECT_EQ(page.status, 0);
    EXPECT_TRUE(Contains(page.out, "id=\"theme\">" + std::string(58, 't') + "\x8F\x74<"));
    EXPECT_TRUE(Contains(page.out, "id=\"text\">" + four + "<"));
}

}  // namespace
