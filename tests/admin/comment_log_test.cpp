// zt-admin lists a comment log record for record as the board page does, whatever the log
// holds: both read it through the log module's one walk. For each log of the table, the
// board page is a template that prints only that log, and zt-admin's log, status and check
// must tell the same records.
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "board.h"
#include "admin.h"
#include "case_name.h"
#include "command.h"
#include "commentlog.h"
#include "sjis.h"

using zt_test::ReadFile;
using zt_test::RunAdmin;
using zt_test::WriteFile;

namespace {

// Appends each content to the log at path, as a post does.
void Append(const std::string &path, const std::vector<std::string> &contents)
{
    for (const auto &content : contents) {
        ASSERT_EQ(CommentLog_Open(path.c_str()), 0);
        EXPECT_EQ(CommentLog_Append(content.data(), content.size()), 0) << content;
        CommentLog_Close();
    }
}

// Replaces the bytes of the file at path from at on.
void Patch(const std::string &path, std::size_t at, const std::string &bytes)
{
    std::string file = ReadFile(path);
    file.replace(at, bytes.size(), bytes);
    WriteFile(path, file);
}

struct LogCase {
    const char *name;
    std::function<void(const std::string &log)> make;  // the log starts empty, 1024 bytes
    bool sound;  // the header is one the programs keep
};

void PrintTo(const LogCase &c, std::ostream *os) { *os << c.name; }

std::vector<std::string> Odd()
{
    return {"bo\xFF" "b", "\x01(1)(3)", std::string("nul\0in", 6), "cr\rin", "\x82\xA0\x82",
            "<b style=\"color:#00CCFF\">\xFF</b>", "\x1A", ""};
}

std::vector<std::string> Laps()
{
    std::vector<std::string> contents;
    for (int i = 0; i < 60; i++)
        contents.push_back("record " + std::to_string(i) + std::string(i * 7 % 53, 'x'));
    return contents;
}

const LogCase log_cases[] = {
    {"empty", [](const std::string &) {}, true},
    {"odd bytes in records", [](const std::string &log) { Append(log, Odd()); }, true},
    {"wrapped laps", [](const std::string &log) { Append(log, Laps()); }, true},
    {"fresh header over nothing",
     [](const std::string &log) { Patch(log, 0, "00000012\n00000012\n"); }, true},
    {"fresh header over records",
     [](const std::string &log) { Append(log, Laps()); Patch(log, 0, "00000012\n00000012\n"); }, true},
    {"header at 0", [](const std::string &log) { Append(log, Odd()); Patch(log, 0, "00000000\n00000000\n"); }, false},
    {"header past the end",
     [](const std::string &log) { Append(log, Odd()); Patch(log, 0, "00000401\n00000400\n"); }, false},
    {"header unreadable", [](const std::string &log) { Append(log, Laps()); Patch(log, 0, "zz"); }, false},
    {"header in upper case and spaced",
     [](const std::string &log) { Append(log, Odd()); Patch(log, 0, std::string(" 00003") + "B0\n00000400"); }, true},
    {"head inside a record",
     [](const std::string &log) {
         Append(log, Laps());
         char header[19];
         snprintf(header, sizeof header, "%08lx\n", std::stoul(ReadFile(log).substr(0, 8), nullptr, 16) + 3);
         Patch(log, 0, header);
     },
     true},
    {"last line cut off at the end",
     [](const std::string &log) { Append(log, {"one", "two"}); Patch(log, 1023, "x"); }, true},
    {"too short for a header", [](const std::string &log) { WriteFile(log, "00000012\n0000"); }, false},
    {"line longer than a read of the log",
     [](const std::string &log) { WriteFile(log, "00000012\n00000012\n" + std::string(200000, 'a')); }, true},
};

class LogListing : public testing::TestWithParam<LogCase> {};

TEST_P(LogListing, AdminTellsWhatTheBoardPageLists)
{
    const LogCase &c = GetParam();
    zt_test::TempDir root;
    const std::string dir = root / "board";
    ASSERT_EQ(RunAdmin({"init", dir}).status, 0);
    zt_test::ReplaceLogs(dir, 1024);
    const std::string log = dir + "/" + comment_log_name(3);
    c.make(log);
    WriteFile(dir + "/" + VIEW_TEMPLATE, "\x01(1)(3)");

    // zt-admin first: the page may write a fresh header.
    const auto listed = RunAdmin({"log", dir, "3"});
    const auto status = RunAdmin({"status", dir});
    const auto check = RunAdmin({"check", dir});
    const auto page = zt_test::RunProgram("zt-view", {dir});
    ASSERT_EQ(page.status, 0);
    std::string shown = page.out.substr(std::string("Content-type: text/html\n\n").size());

    std::string expected;
    std::size_t records = 0;
    for (std::size_t at = 0; at < shown.size(); records++) {
        const std::size_t lf = shown.find('\n', at);
        const std::size_t end = lf == std::string::npos ? shown.size() : lf;
        expected += sjis_to_utf8(std::string_view(shown).substr(at, end - at)) + "\n";
        at = end + 1;
    }
    EXPECT_EQ(listed.status, 0) << listed.err;
    EXPECT_EQ(listed.out, expected);
    EXPECT_EQ(!listed.err.empty(), !c.sound && ReadFile(log).size() >= 18) << listed.err;
    if (c.sound) {
        const std::string line = "log 3        " + std::to_string(zt_test::FileSize(log)) + " bytes, " +
                                 std::to_string(records) + (records == 1 ? " record\n" : " records\n");
        EXPECT_NE(status.out.find(line), std::string::npos) << status.out;
    } else {
        EXPECT_NE(check.out.find("zt/zt-com3.txt: "), std::string::npos) << check.out;
    }
}

INSTANTIATE_TEST_SUITE_P(Logs, LogListing, testing::ValuesIn(log_cases), zt_test::CaseName{});

}  // namespace
