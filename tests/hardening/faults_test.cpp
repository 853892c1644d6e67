// Fault injection into the real zt-write, from outside the program: strace's -e inject= makes
// one system call of an accepted post fail (EIO, and ENOSPC where a call can run out of room)
// or kills the run with SIGKILL as that call begins, and a file-size limit cuts one write
// short as a full disk does (the kernel writes part, the next write fails). Every system call
// on the board's files, standard input and output, and the clock's zone file is taken in
// turn, on two boards: one whose logs have room, and one where the post completes a text page
// and every log begins a new lap.
//
// After each run: the text holds exactly the old units or the old ones and the new one; a
// page that shows the completion part comes with the unit in the text, one that shows an
// error line with the text unchanged; a post accepted and not killed has recorded its poster
// and its time in the rate file, or said on standard error that it could not; zt-admin check finds the board sound (a lock
// that a killed run left, or whose removal failed, is a note on standard error); and the next
// post, at once, is accepted (taking over such a lock) and leaves the board sound.
//
// strace's retval= injection is not used for short writes: it skips the call and reports
// bytes written that never were, which no kernel does.
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "case_name.h"
#include "commentlog.h"
#include "real_board.h"

using zt_hard::RealBoard;
using zt_test::ReadFile;
using zt_test::WriteFile;

namespace {

const char *const STRACE = "/usr/bin/strace";

// One system call of the clean run, as strace showed it.
struct Call {
    std::string name;
    int ordinal = 0;         // among the calls of that name, from 1, as when= counts them
    std::string line;
    long long offset = -1;   // write, pwrite64: where in the file, when it is a board file
    long long count = 0;
};

// Runs the post under strace, which does what (error=EIO, signal=SIGKILL) at the call c.
zt_test::RunOptions injecting(const Call &c, const std::string &what)
{
    zt_test::RunOptions options;
    options.prefix = {STRACE, "-qq", "-o", "/dev/null", "-e",
                      "inject=" + c.name + ":" + what + ":when=" + std::to_string(c.ordinal)};
    return options;
}

// The board that a fault is injected into: its files before the post, and the post.
struct Scenario {
    std::string name;
    std::string board;  // a prepared board directory, copied afresh for every run
    std::string body;
    std::string old_text;
    std::string unit;
};

struct Tally {
    int runs = 0;
    std::map<std::string, int> by_kind;
};

// The calls of a run that concern the board: its files, standard input and output, and the
// zone file that the post's time reads. A sanitizer's or the loader's own calls are left out.
bool concerns_board(const std::string &line, const std::string &dir)
{
    const std::string marks[] = {"<" + dir, "\"zt/", "\"lock/", "(0<pipe:", "(1<pipe:", "/etc/localtime",
                                 "zoneinfo"};
    for (const std::string &mark : marks)
        if (line.find(mark) != std::string::npos)
            return true;
    return false;
}

std::vector<Call> list_calls(const std::string &trace, const std::string &dir)
{
    static const std::regex call(R"(^([a-z0-9_]+)\((.*)\)\s+= (-?\d+))");
    static const std::regex fd_of(R"(^(\d+)<)");
    std::vector<Call> calls;
    std::map<std::string, int> ordinals;
    std::map<int, long long> position;  // file offsets, followed through the calls
    std::istringstream lines(trace);
    std::smatch match;
    for (std::string line; std::getline(lines, line);) {
        if (!std::regex_search(line, match, call))
            continue;
        Call c;
        c.name = match[1];
        c.ordinal = ++ordinals[c.name];
        c.line = line;
        const std::string args = match[2];
        const long long result = std::stoll(match[3]);
        std::smatch fd_match;
        const int fd = std::regex_search(args, fd_match, fd_of) ? std::stoi(fd_match[1]) : -1;
        const bool board_file = args.find("<" + dir) != std::string::npos;
        if (c.name == "openat" && result >= 0) {
            position[static_cast<int>(result)] = 0;
        } else if (c.name == "lseek" && result >= 0) {
            position[fd] = result;
        } else if ((c.name == "read" || c.name == "write") && result > 0) {
            if (c.name == "write" && board_file) {
                c.offset = position[fd];
                c.count = result;
            }
            position[fd] += result;
        } else if (c.name == "pwrite64" && board_file) {
            static const std::regex pwrite_args(R"(, (\d+), (\d+)$)");
            std::smatch m;
            if (std::regex_search(args, m, pwrite_args)) {
                c.count = std::stoll(m[1]);
                c.offset = std::stoll(m[2]);
            }
        }
        if (concerns_board(line, dir))
            calls.push_back(c);
    }
    return calls;
}

// Calls that can fail for want of room.
bool can_run_out_of_room(const Call &c)
{
    return c.name == "write" || c.name == "pwrite64" || c.name == "mkdir" || c.name == "rename" ||
           c.name == "ftruncate" || (c.name == "openat" && c.line.find("O_CREAT") != std::string::npos);
}

void copy_board(const std::string &from, const std::string &to)
{
    std::filesystem::remove_all(to);
    std::filesystem::copy(from, to, std::filesystem::copy_options::recursive);
}

class FaultInjection : public testing::TestWithParam<const char *> {
protected:
    zt_test::TempDir root;

    void SetUp() override
    {
        if (access(STRACE, X_OK) != 0)
            GTEST_FAIL() << "strace is needed (tools/test installs it)";
    }

    // A board after two posts: the next post's records fit above every log's head.
    Scenario room_in_the_logs()
    {
        Scenario s = start("room", 2048);
        post_clean(s, "あいうえ", "p0", "127.0.0.2");
        post_clean(s, "かきくけ", "p1", "127.0.0.3");
        return finish(s);
    }

    // A board whose text lacks one post to a full page, with a theme, and whose logs have
    // too little room left above their heads for any record: the post removes the theme
    // and begins a new lap in every log.
    Scenario full_page_and_new_laps()
    {
        Scenario s = start("lap", 1024);
        std::string text;
        for (int i = 0; i < 255; i++)
            text += zt_hard::Sjis("あいうえ");
        WriteFile(s.board + "/zt/zt-text.txt", text);
        WriteFile(s.board + "/zt/zt-theme.txt", zt_hard::Sjis("お題"));
        for (int digit = 1; digit <= 8; digit++) {
            const std::string log = s.board + "/zt/zt-com" + std::to_string(digit) + ".txt";
            for (int n = 0;; n++) {
                const long room = std::stol(ReadFile(log).substr(0, 8), nullptr, 16) - 18;
                if (room < 22)
                    break;
                EXPECT_EQ(CommentLog_Open(log.c_str()), 0);
                const std::string content = "<li>filler " + std::to_string(n) + "</li>";
                std::string buffer(static_cast<std::size_t>(std::min(100L, room - 16)), ' ');
                buffer.replace(0, std::min(buffer.size(), content.size()), content.substr(0, buffer.size()));
                EXPECT_EQ(CommentLog_Append(buffer.data(), buffer.size()), 0);
                CommentLog_Close();
            }
        }
        return finish(s);
    }

    Scenario start(const std::string &name, long long log_bytes)
    {
        Scenario s;
        s.name = name;
        s.board = root / name;
        const auto run = zt_test::RunAdmin({"init", s.board});
        EXPECT_EQ(run.status, 0) << run.err;
        zt_test::ReplaceLogs(s.board, static_cast<long>(log_bytes));
        return s;
    }

    void post_clean(const Scenario &s, const char *four, const char *name, const char *address)
    {
        const std::string prev = std::to_string(zt_test::FileSize(s.board + "/zt/zt-text.txt"));
        const auto run = post(s.board, zt_test::FormBody(zt_hard::PostFields(zt_hard::Sjis(four), prev, name)),
                              address, {});
        ASSERT_EQ(zt_hard::AnswerCode(run.out), 0) << run.out;
    }

    Scenario finish(Scenario s)
    {
        s.old_text = ReadFile(s.board + "/zt/zt-text.txt");
        s.unit = zt_hard::Sjis("さしすせ");
        s.body = zt_test::FormBody(zt_hard::PostFields(s.unit, std::to_string(s.old_text.size()), "faulty"));
        const auto check = zt_test::RunAdmin({"check", s.board});
        EXPECT_EQ(check.status, 0) << check.out;
        return s;
    }

    static zt_test::Run post(const std::string &dir, const std::string &body, const std::string &address,
                             zt_test::RunOptions options)
    {
        options.directory = dir;
        options.environment = {{"CONTENT_LENGTH", std::to_string(body.size())}, {"REMOTE_ADDR", address}};
        options.input = body;
        return zt_test::RunProgram("zt-write", options);
    }

    // The calls of the post on a fresh copy of the scenario's board, traced.
    std::vector<Call> clean_calls(const Scenario &s)
    {
        const std::string dir = root / "run";
        copy_board(s.board, dir);
        zt_test::RunOptions options;
        const std::string trace = root / "trace";
        options.prefix = {STRACE, "-qq", "-y", "-o", trace};
        const auto run = post(dir, s.body, "127.0.0.9", options);
        EXPECT_EQ(zt_hard::AnswerCode(run.out), 0) << run.out;
        EXPECT_EQ(ReadFile(dir + "/zt/zt-text.txt"), s.old_text + s.unit);
        std::vector<Call> calls = list_calls(ReadFile(trace), std::filesystem::canonical(dir).string());
        EXPECT_GT(calls.size(), 50u);
        return calls;
    }

    // One faulted post, and everything that must hold after it.
    // lock_may_stay: the fault keeps the run from removing the lock (a kill, or the removal
    // itself failing), which zt-admin check then names and zt-admin unlock removes.
    void run_fault(const Scenario &s, const std::string &what, zt_test::RunOptions options, Tally *tally,
                   bool lock_may_stay)
    {
        SCOPED_TRACE(s.name + ": " + what);
        const std::string dir = root / "run";
        copy_board(s.board, dir);
        options.reports_allowed = true;
        const auto run = post(dir, s.body, "127.0.0.9", options);
        tally->runs++;
        const bool killed = run.status == 128 + SIGKILL;
        EXPECT_TRUE(run.status == 0 || run.status == 1 || killed) << "status " << run.status;

        const std::string text = ReadFile(dir + "/zt/zt-text.txt");
        const bool stored = text == s.old_text + s.unit;
        EXPECT_TRUE(stored || text == s.old_text) << "the text holds " << text.size() << " bytes";
        const int answer = zt_hard::AnswerCode(run.out);
        if (answer == 0) {
            EXPECT_TRUE(stored) << "the page claims a post that is not in the text";
            EXPECT_TRUE(ReadFile(dir + "/zt/zt-jti.txt") == "faulty\n127.0.0.9\n" ||
                        run.err.find("the last poster was not recorded") != std::string::npos)
                << run.err;
            // The rate file remembers the post (the key of 127.0.0.9), or the run said why not.
            EXPECT_TRUE(ReadFile(dir + "/zt/zt-rate.txt").find("00000000000000000000ffff7f000009") !=
                            std::string::npos ||
                        run.err.find("the post was not counted") != std::string::npos)
                << run.err;
        } else if (answer < 0) {
            EXPECT_FALSE(stored) << "the page shows error " << answer << " for a stored post";
        }

        const auto check = zt_test::RunAdmin({"check", dir});
        EXPECT_EQ(check.status, 0) << check.out;
        if (zt_test::Exists(dir + "/lock/zt.lck")) {
            EXPECT_TRUE(killed || lock_may_stay);
            EXPECT_NE(check.err.find("by a run that died: the next post takes it over"), std::string::npos) << check.err;
        }

        // The board goes on at once: the next poster's post lands and leaves it sound.
        const std::string next = zt_hard::Sjis("たちつて");
        const auto again = post(dir, zt_test::FormBody(zt_hard::PostFields(next, std::to_string(text.size()), "next")),
                                "127.0.0.10", {});
        EXPECT_EQ(zt_hard::AnswerCode(again.out), 0) << again.out;
        EXPECT_EQ(ReadFile(dir + "/zt/zt-text.txt"), text + next);
        const auto after = zt_test::RunAdmin({"check", dir});
        EXPECT_EQ(after.status, 0) << after.out;
    }

    Scenario scenario()
    {
        return std::string(GetParam()) == "room" ? room_in_the_logs() : full_page_and_new_laps();
    }

    void report(const Scenario &s, const char *kind, const std::vector<Call> &calls, const Tally &tally)
    {
        std::string kinds;
        for (const auto &[name, n] : tally.by_kind)
            kinds += " " + name + "=" + std::to_string(n);
        printf("fault injection, %s board, %s: %d runs over %zu system calls of the post;%s\n", s.name.c_str(), kind,
               tally.runs, calls.size(), kinds.c_str());
        RecordProperty("runs", tally.runs);
    }
};

TEST_P(FaultInjection, EachCallFails)
{
    const Scenario s = scenario();
    const auto calls = clean_calls(s);
    Tally tally;
    for (const Call &c : calls) {
        for (const char *error : {"EIO", "ENOSPC"}) {
            if (std::string(error) == "ENOSPC" && !can_run_out_of_room(c))
                continue;
            run_fault(s, c.line + " fails with " + error, injecting(c, std::string("error=") + error),
                      &tally, c.name == "rmdir");
            tally.by_kind[c.name]++;
            if (HasFailure())
                return;
        }
    }
    report(s, "failures", calls, tally);
}

TEST_P(FaultInjection, KilledAtEachCall)
{
    const Scenario s = scenario();
    const auto calls = clean_calls(s);
    Tally tally;
    for (const Call &c : calls) {
        run_fault(s, "SIGKILL as " + c.line + " begins", injecting(c, "signal=SIGKILL"), &tally, true);
        tally.by_kind[c.name]++;
        if (HasFailure())
            return;
    }
    report(s, "kills", calls, tally);
}

// A file-size limit halfway through each write to a board file: the first write that crosses
// it is stored in part and the next one fails, as on a disk that fills up.
TEST_P(FaultInjection, EachWriteCutShort)
{
    const Scenario s = scenario();
    const auto calls = clean_calls(s);
    Tally tally;
    for (const Call &c : calls) {
        if (c.offset < 0 || c.count < 2)
            continue;
        const rlim_t limit = static_cast<rlim_t>(c.offset + c.count / 2);
        zt_test::RunOptions options;
        options.in_child = [limit] {
            const rlimit r{limit, limit};
            setrlimit(RLIMIT_FSIZE, &r);
        };
        run_fault(s, "files limited to " + std::to_string(limit) + " bytes, cutting " + c.line, options, &tally,
                  false);
        tally.by_kind[c.name]++;
        if (HasFailure())
            return;
    }
    EXPECT_GT(tally.runs, 16);
    report(s, "short writes", calls, tally);
}

INSTANTIATE_TEST_SUITE_P(Boards, FaultInjection, testing::Values("room", "lap"), zt_test::CaseName{});

}  // namespace
