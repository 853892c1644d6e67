// zt-admin check: a board that real posts left is sound; each kind of damage a crash, a full
// disk or a hand can leave is named on its own line, and only that.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "case_name.h"
#include "real_board.h"

using zt_hard::RealBoard;
using zt_test::ReadFile;
using zt_test::WriteFile;

namespace {

void Replace(const std::string &path, std::size_t at, const std::string &bytes)
{
    std::string file = ReadFile(path);
    file.replace(at, bytes.size(), bytes);
    WriteFile(path, file);
}

// Two posts, so that every log holds records of the current lap.
void TwoPosts(const RealBoard &board)
{
    const std::string four = zt_hard::Sjis("つづきを");
    ASSERT_EQ(board.Post(zt_hard::PostFields(four, board.Prev(), "a"), "127.0.0.2").status, 0);
    ASSERT_EQ(board.Post(zt_hard::PostFields(four, board.Prev(), "b"), "127.0.0.3").status, 0);
}

TEST(AdminCheck, NewBoardAndBoardAfterPostsAreSound)
{
    RealBoard board;
    for (int round = 0; round < 2; round++) {
        const auto run = board.Check();
        EXPECT_EQ(run.status, 0) << run.out;
        EXPECT_EQ(run.out, "the board in " + board.dir() + " is sound\n");
        EXPECT_EQ(run.err, "");
        TwoPosts(board);
    }
}

// Logs too small for eight of their templates' largest records are whole all the same, and
// a record template without the mark of the post it records works: a warning for each, on
// standard error, and the board is sound.
TEST(AdminCheck, WarnsOfALogTooSmallForItsRecords)
{
    RealBoard board;
    TwoPosts(board);
    zt_test::WriteFile(board / "zt/zt-com1.txt", zt_test::EmptyLog(8192));
    zt_test::WriteFile(board / "zt/zt-com8.htm", "\x01[HTTP_USER_AGENT]\n");
    const auto run = board.Check();
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(run.out, "the board in " + board.dir() + " is sound\n");
    EXPECT_EQ(run.err,
              "zt-admin: warning: zt/zt-com1.txt (8192 bytes) shows 6 of the largest records (1075 "
              "bytes) that zt/zt-com1.htm can make, so one post can push out more than an eighth "
              "of it; a log of 9692 bytes shows 8\n"
              "zt-admin: warning: zt/zt-com8.txt (16384 bytes) may not hold 8 records of "
              "zt/zt-com8.htm, which names the environment variable HTTP_USER_AGENT, whose length "
              "the request decides\n"
              "zt-admin: warning: zt/zt-com8.htm has no mark of the post it records (a first line "
              "that begins with <!--\xE2\x90\x81{prev}-->): zt-admin redact and rollback leave its "
              "records as they are\n");
}

struct Damage {
    const char *name;
    std::function<void(const RealBoard &)> apply;
    std::string problem;  // the one line expected, or its start when it ends with "..."
};

void PrintTo(const Damage &d, std::ostream *os) { *os << d.name; }

class Damages : public testing::TestWithParam<Damage> {};

TEST_P(Damages, AreNamedOnTheirOwnLine)
{
    const Damage &d = GetParam();
    RealBoard board(1024);
    TwoPosts(board);
    d.apply(board);
    const auto run = board.Check();
    EXPECT_EQ(run.status, 1);
    const std::string expected = d.problem + "\n";
    if (d.problem.ends_with("..."))
        EXPECT_EQ(run.out.substr(0, d.problem.size() - 3), d.problem.substr(0, d.problem.size() - 3)) << run.out;
    else
        EXPECT_EQ(run.out, expected);
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 1) << run.out;
}

const char *const log3 = "zt/zt-com3.txt";

INSTANTIATE_TEST_SUITE_P(Board, Damages, testing::Values(
    Damage{"text cut inside a post",
           [](const RealBoard &b) { truncate((b / "zt/zt-text.txt").c_str(), 13); },
           "zt/zt-text.txt: 13 bytes, not a whole number of 8-byte posts: the last 5 bytes are part of a post"},
    Damage{"text missing", [](const RealBoard &b) { unlink((b / "zt/zt-text.txt").c_str()); },
           "zt/zt-text.txt: missing: every post is refused (code -11)"},
    Damage{"text a directory",
           [](const RealBoard &b) { unlink((b / "zt/zt-text.txt").c_str()); mkdir((b / "zt/zt-text.txt").c_str(), 0700); },
           "zt/zt-text.txt: not a regular file: every post is refused (code -11)"},
    Damage{"last poster of one line", [](const RealBoard &b) { WriteFile(b / "zt/zt-jti.txt", "a\n"); },
           "zt/zt-jti.txt: not two lines (name and address, each ended by a line end) but 2 bytes holding 1 line ends"},
    Damage{"last poster without its last line end", [](const RealBoard &b) { WriteFile(b / "zt/zt-jti.txt", "a\n127.0.0.3"); },
           "zt/zt-jti.txt: not two lines..."},
    Damage{"last poster empty", [](const RealBoard &b) { WriteFile(b / "zt/zt-jti.txt", ""); },
           "zt/zt-jti.txt: not two lines (name and address, each ended by a line end) but 0 bytes holding 0 line ends"},
    Damage{"last poster missing", [](const RealBoard &b) { unlink((b / "zt/zt-jti.txt").c_str()); },
           "zt/zt-jti.txt: missing: every post is refused (code -8)"},
    Damage{"log header unreadable", [](const RealBoard &b) { Replace(b / log3, 0, "zzzzzzzz"); },
           "zt/zt-com3.txt: the header cannot be read..."},
    Damage{"log header at 0", [](const RealBoard &b) { Replace(b / log3, 0, "00000000\n00000000\n"); },
           "zt/zt-com3.txt: the header's offsets 0 and 0 do not both lie in 18 to 1024, the file's size"},
    Damage{"log header inside the header", [](const RealBoard &b) { Replace(b / log3, 0, "00000011\n00000012\n"); },
           "zt/zt-com3.txt: the header's offsets 17 and 18 do not both lie in 18 to 1024, the file's size"},
    Damage{"log header past the end", [](const RealBoard &b) { Replace(b / log3, 0, "00000401\n00000400\n"); },
           "zt/zt-com3.txt: the header's offsets 1025 and 1024 do not both lie in 18 to 1024, the file's size"},
    Damage{"log head inside a record", [](const RealBoard &b) {
               const std::string log = ReadFile(b / log3);
               char header[19];
               snprintf(header, sizeof header, "%08lx\n%08lx\n", std::stoul(log.substr(0, 8), nullptr, 16) + 3, 1024ul);
               Replace(b / log3, 0, header);
           },
           "zt/zt-com3.txt: the record at offset ..."},
    Damage{"log record length damaged", [](const RealBoard &b) {
               const std::size_t head = std::stoul(ReadFile(b / log3).substr(0, 8), nullptr, 16);
               Replace(b / log3, head, "0fff");
           },
           "zt/zt-com3.txt: the record at offset ..."},
    Damage{"log too short", [](const RealBoard &b) { truncate((b / log3).c_str(), 17); },
           "zt/zt-com3.txt: 17 bytes, too short for its header: it gets no records"},
    Damage{"log of zero bytes", [](const RealBoard &b) { truncate((b / log3).c_str(), 0); },
           "zt/zt-com3.txt: 0 bytes, too short for its header: it gets no records"},
    Damage{"log missing", [](const RealBoard &b) { unlink((b / log3).c_str()); },
           "zt/zt-com3.txt: missing: it gets no records"},
    Damage{"record template missing", [](const RealBoard &b) { unlink((b / "zt/zt-com7.htm").c_str()); },
           "zt/zt-com7.htm: missing: its log gets no records"},
    Damage{"page template missing", [](const RealBoard &b) { unlink((b / "zt/zt-read.htm").c_str()); },
           "zt/zt-read.htm: missing: its page shows an error"},
    Damage{"lock left behind", [](const RealBoard &b) { mkdir((b / "lock/zt.lck").c_str(), 0700); },
           "lock/zt.lck: taken since ..."},  // 0 s ago, or 1 when a second passed
    Damage{"lock path a plain file", [](const RealBoard &b) { WriteFile(b / "lock/zt.lck", ""); },
           "lock/zt.lck: not a directory but a file in its place: every post is refused (code -5) until it is removed"},
    Damage{"lock parent missing", [](const RealBoard &b) { rmdir((b / "lock").c_str()); },
           "lock/: missing: every post is refused (code -5)"},
    Damage{"no board", [](const RealBoard &b) { std::filesystem::remove_all(b / "zt"); },
           "zt/: missing: ..."}), zt_test::CaseName{});

TEST(AdminCheck, OldLockSaysHowOld)
{
    RealBoard board(1024);
    const std::string lock = board / "lock/zt.lck";
    ASSERT_EQ(mkdir(lock.c_str(), 0700), 0);
    const timespec times[2] = {{time(nullptr) - 3600, 0}, {time(nullptr) - 3600, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, lock.c_str(), times, 0), 0);
    const auto run = board.Check();
    EXPECT_EQ(run.status, 1);
    // The check runs a moment after the lock's time was set: a second may have passed.
    const std::size_t line = run.out.find("lock/zt.lck: taken since ");
    ASSERT_NE(line, std::string::npos) << run.out;
    long long age = 0;
    ASSERT_EQ(sscanf(run.out.c_str() + run.out.find(", ", line), ", %lld s ago", &age), 1);
    EXPECT_GE(age, 3600);
    EXPECT_LE(age, 3660);
}

TEST(AdminCheck, EmptyLogAndAFullLapAreSound)
{
    RealBoard board(256);
    for (int i = 0; i < 12; i++) {  // logs of 256 bytes start new laps again and again
        const auto run = board.Post(zt_hard::PostFields(zt_hard::Sjis("あいうえ"), board.Prev(),
                                                        "n" + std::to_string(i)),
                                    "127.0.0." + std::to_string(2 + i));
        ASSERT_EQ(run.status, 0) << run.out;
        const auto check = board.Check();
        ASSERT_EQ(check.status, 0) << check.out;
    }
}

}  // namespace
