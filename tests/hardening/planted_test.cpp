// Something planted in a board file's place: a FIFO, a directory, a symbolic link out of the
// board or one to another file within it, in the place of every file a program or zt-admin
// opens, and of the scratch files: the one the last-poster file was once written through, and
// those zt-admin writes a theme or a resized log through before renaming it. Every program
// must take it as a file that cannot be opened: it answers as it answers when the file is
// missing, never waits on it, and writes nothing through it, neither outside the board nor
// within. Every command of zt-admin ends in time and writes nothing through it either.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "case_name.h"
#include "real_board.h"

using zt_hard::RealBoard;
using zt_test::ReadFile;
using zt_test::WriteFile;

namespace {

enum class Kind { fifo, directory, link_out, link_within };

struct Planted {
    std::string file;
    Kind kind;
};

void PrintTo(const Planted &p, std::ostream *os)
{
    static const char *const kinds[] = {"FIFO", "directory", "link out of the board", "link within it"};
    *os << p.file << " " << kinds[static_cast<int>(p.kind)];
}

// The board's files that the programs open, and the scratch files.
const std::vector<std::string> FILES = {
    "zt/zt-text.txt", "zt/zt-jti.txt", "zt/zt-theme.txt", "zt/zt-write.htm", "zt/zt-view.htm", "zt/zt-read.htm",
    "zt/zt-com1.htm", "zt/zt-com2.htm", "zt/zt-com3.htm", "zt/zt-com4.htm", "zt/zt-com5.htm", "zt/zt-com6.htm",
    "zt/zt-com7.htm", "zt/zt-com8.htm", "zt/zt-com1.txt", "zt/zt-com2.txt", "zt/zt-com3.txt", "zt/zt-com4.txt",
    "zt/zt-com5.txt", "zt/zt-com6.txt", "zt/zt-com7.txt", "zt/zt-com8.txt", "zt/zt-rate.txt",
    "zt/zt-jti.txt.new", "zt/zt-theme.txt.new", "zt/zt-com1.txt.new", "zt/zt-com8.txt.new",
};

std::vector<Planted> every_case()
{
    std::vector<Planted> cases;
    for (const std::string &file : FILES)
        for (Kind kind : {Kind::fifo, Kind::directory, Kind::link_out, Kind::link_within})
            cases.push_back({file, kind});
    return cases;
}

// The times of records and of the rate's slots differ from run to run; nothing else may.
std::string timeless(const std::string &bytes)
{
    static const std::regex time(R"(\d{2}/\d{1,2}/\d{1,2} \d{1,2}:\d{2}:\d{2})");
    static const std::regex second(R"(\d{10}( [0-9a-f]{32}\n))");
    return std::regex_replace(std::regex_replace(bytes, time, "TIME"), second, "SECOND$1");
}

using Snapshot = std::map<std::string, std::string>;

// The board's tree, but for the planted name and the file a link within the board names.
Snapshot snapshot(const RealBoard &board, const std::string &planted)
{
    Snapshot files;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(board.dir())) {
        const std::string name = entry.path().string().substr(board.dir().size() + 1);
        if (name == planted || name == "zt/planted.txt" || name.rfind(planted + "/", 0) == 0)
            continue;
        files[name] = entry.is_regular_file() ? timeless(ReadFile(entry.path().string())) : "(not a file)";
    }
    return files;
}

// What the programs answer on a board, in turn: a post from a new poster, the board page, a
// reading page. A post may report on standard error what it could not do (a rate file that
// cannot be read leaves the post uncounted); *reports gets that.
std::vector<std::string> run_programs(const RealBoard &board, std::string *reports = nullptr)
{
    std::vector<std::string> answers;
    const std::string prev = std::to_string(std::max(0LL, zt_test::FileSize(board / "zt/zt-text.txt")));
    zt_test::RunOptions options;
    options.reports_allowed = true;
    const zt_test::Run post = board.Post(
        zt_test::FormBody(zt_hard::PostFields(zt_hard::Sjis("つづきを"), prev, "b")), "127.0.0.3", options);
    if (reports)
        *reports = post.err;
    for (const zt_test::Run &run : {post, board.View(), board.Read("wa=1")})
        answers.push_back(std::to_string(run.status) + "\n" + timeless(run.out));
    return answers;
}

// A board after one post, so that every file has something in it.
void first_post(const RealBoard &board)
{
    ASSERT_EQ(zt_hard::AnswerCode(board.Post(zt_hard::PostFields(zt_hard::Sjis("はじめに"), "0", "a"), "127.0.0.2").out), 0);
    WriteFile(board / "zt/zt-theme.txt", zt_hard::Sjis("お題"));
}

// What stands in place of p.file on board after first_post: the file's bytes go to the link's
// target (outside, or zt/planted.txt), so that a program that followed the link would find the
// file as it was. The target's path.
std::string plant(const RealBoard &board, const Planted &p, const zt_test::TempDir &outside)
{
    const std::string path = board / p.file;
    const std::string original = zt_test::Exists(path) ? ReadFile(path) : "";
    unlink(path.c_str());
    const std::string target = p.kind == Kind::link_out ? outside / "target" : board / "zt/planted.txt";
    WriteFile(target, original);
    switch (p.kind) {
    case Kind::fifo:
        EXPECT_EQ(mkfifo(path.c_str(), 0600), 0);
        break;
    case Kind::directory:
        EXPECT_EQ(mkdir(path.c_str(), 0700), 0);
        break;
    case Kind::link_out:
    case Kind::link_within:
        EXPECT_EQ(symlink(target.c_str(), path.c_str()), 0);
        break;
    }
    return target;
}

// Whether the file at path has its bytes and the modification time of st.
void expect_untouched(const std::string &path, const std::string &bytes, const struct stat &st)
{
    EXPECT_EQ(ReadFile(path), bytes);
    struct stat now;
    ASSERT_EQ(stat(path.c_str(), &now), 0);
    EXPECT_TRUE(now.st_mtim.tv_sec == st.st_mtim.tv_sec && now.st_mtim.tv_nsec == st.st_mtim.tv_nsec);
}

class PlantedFile : public testing::TestWithParam<Planted> {};

TEST_P(PlantedFile, IsAFileThatCannotBeOpened)
{
    const Planted &p = GetParam();
    RealBoard missing(2048), planted(2048);
    first_post(missing);
    first_post(planted);
    zt_test::TempDir outside;
    const std::string target = plant(planted, p, outside);
    const std::string original = ReadFile(target);
    unlink((missing / p.file).c_str());
    WriteFile(missing / "zt/planted.txt", original);
    struct stat before;
    ASSERT_EQ(stat(target.c_str(), &before), 0);

    std::string reports;
    EXPECT_EQ(run_programs(planted, &reports), run_programs(missing));
    // The rate file alone is said to be unreadable, since a rate was meant to count the post.
    EXPECT_EQ(reports.empty(), p.file != "zt/zt-rate.txt") << reports;
    EXPECT_EQ(snapshot(planted, p.file), snapshot(missing, p.file));
    struct stat after;
    ASSERT_EQ(lstat((planted / p.file).c_str(), &after), 0);
    EXPECT_EQ(S_ISFIFO(after.st_mode), p.kind == Kind::fifo);
    EXPECT_EQ(S_ISDIR(after.st_mode), p.kind == Kind::directory);
    expect_untouched(target, original, before);
}

// Every zt-admin command that reads or writes the board, in turn, on a board with something
// planted; what each says is its own business.
TEST_P(PlantedFile, ZtAdminWritesNothingThroughIt)
{
    const Planted &p = GetParam();
    RealBoard board(2048);
    first_post(board);
    zt_test::TempDir outside;
    const std::string target = plant(board, p, outside);
    const std::string original = ReadFile(target);
    struct stat before;
    ASSERT_EQ(stat(target.c_str(), &before), 0);
    const std::vector<std::vector<std::string>> commands = {
        {"status"}, {"check"}, {"export"}, {"export", "--numbers"}, {"log", "1"}, {"log", "8"},
        {"rate"}, {"rate", "3"}, {"redact", "1"}, {"theme", "お題"}, {"theme", "--clear"},
        {"unlock"}, {"resize", "--log-bytes", "65536"}, {"rollback", "1"},
    };
    for (std::vector<std::string> command : commands) {
        command.insert(command.begin() + 1, board.dir());
        const auto run = zt_test::RunCommand(
            [&] {
                std::vector<std::string> argv = {zt_test::ProgramPath("zt-admin")};
                argv.insert(argv.end(), command.begin(), command.end());
                return argv;
            }(),
            {}, {}, 10);
        EXPECT_LE(run.status, 2) << command[0];
        expect_untouched(target, original, before);
    }
}

INSTANTIATE_TEST_SUITE_P(Board, PlantedFile, testing::ValuesIn(every_case()), zt_test::CaseName{});

}  // namespace
