// Load: posters, viewers and readers at once against one board, for a bounded time
// (ZT_STRESS_SECONDS, 4 by default; tools/stress runs it longer), on a board whose logs have room
// for every record and on one whose logs wrap every few dozen posts, so that pages list logs
// whose previous lap is being overwritten. Every poster reads the
// board page for its prev, as a browser does, and posts a unit of its own with a name and an
// address of its own.
//
// What must hold: every post is answered with a whole page that shows the completion part
// or the busy or stale error line; every board page and reading page is whole and well
// formed, its text made of whole units and its records each a whole record of its template;
// at the end the text holds exactly the accepted units, 8 bytes each, in the order the logs
// recorded their posters; every log holds one record per accepted post (until it wraps); and
// zt-admin check finds the board sound.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <map>
#include <mutex>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "case_name.h"
#include "board_files.h"
#include "commentlog.h"
#include "real_board.h"

using zt_hard::RealBoard;

namespace {

constexpr int POSTERS = 4;
constexpr int VIEWERS = 2;
constexpr int READERS = 2;

int stress_seconds()
{
    const char *value = getenv("ZT_STRESS_SECONDS");
    const int seconds = value ? atoi(value) : 0;
    return seconds > 0 ? seconds : 4;
}

// A unit of four full-width digits: the poster, then the post's number.
std::string unit_of(int poster, int n)
{
    const std::string digits = std::to_string(poster % 10) + std::to_string(1000 + n % 1000).substr(1);
    std::string unit;
    for (char d : digits) {
        unit += '\x82';
        unit += static_cast<char>(0x4F + (d - '0'));
    }
    return unit;
}

bool is_unit(const std::string &bytes, std::size_t at)
{
    for (std::size_t i = at; i < at + 8; i += 2)
        if (static_cast<unsigned char>(bytes[i]) != 0x82 || bytes[i + 1] < 0x4F || bytes[i + 1] > 0x58)
            return false;
    return true;
}

// The text between the first occurrence of open and the following close.
bool section(const std::string &page, const std::string &open, const std::string &close, std::string *inside)
{
    const std::size_t start = page.find(open);
    if (start == std::string::npos)
        return false;
    const std::size_t end = page.find(close, start + open.size());
    if (end == std::string::npos)
        return false;
    *inside = page.substr(start + open.size(), end - start - open.size());
    return true;
}

// Text of whole units of the stress run.
bool whole_units(const std::string &text)
{
    if (text.size() % 8 != 0)
        return false;
    for (std::size_t at = 0; at < text.size(); at += 8)
        if (!is_unit(text, at))
            return false;
    return true;
}

// Each line a whole record of the given form, with its unit checked apart.
bool whole_records(const std::string &lines, const std::regex &record)
{
    std::size_t at = 0;
    while (at < lines.size()) {
        const std::size_t end = lines.find('\n', at);
        if (end == std::string::npos)
            return false;
        const std::string line = lines.substr(at, end - at);
        std::smatch match;
        if (!std::regex_match(line, match, record))
            return false;
        if (match.size() > 1 && match[1].length() > 0 && !(match[1].length() == 8 && is_unit(match[1].str(), 0)))
            return false;
        at = end + 1;
    }
    return true;
}

const std::string colour = "(?:#[0-9A-F]{6}|olive|gray)";
const std::string time_stamp = R"(\d{2}/\d{1,2}/\d{1,2} \d{1,2}:\d{2}:\d{2})";
const std::string mark = "<!--(?:0|[1-9]\\d*)-->";
const std::regex record1(mark + "<li><span class=\"time\">" + time_stamp + "</span><b style=\"color:" + colour +
                         "\">p\\d+-\\d+</b><span class=\"four\">(.{8})</span></li>");
const std::regex record2(mark + "<span style=\"color:" + colour + "\">(.{8})</span>");
const std::regex record3(mark + "<span style=\"color:" + colour + "\">p\\d+-\\d+()</span>");

// What is wrong with a board page, or "".
std::string board_page_fault(const zt_test::Run &run)
{
    if (run.status != 0 || !zt_hard::WholePage(run.out))
        return "not a whole page";
    std::string text, size, left, log1, log2, log3;
    if (!section(run.out, "<p class=\"text\" id=\"text\">", "</p>", &text) || !whole_units(text))
        return "the page being written is not whole units";
    if (!section(run.out, "<span id=\"size\">", "</span>", &size) || std::stoll(size) % 8 != 0)
        return "the size is not whole units";
    if (!section(run.out, "<b id=\"left\">", "</b>", &left) || std::stoi(left) < 1 || std::stoi(left) > 256)
        return "the posts left are out of range";
    if (!section(run.out, "<ol class=\"log\" id=\"log1\">\n", "</ol>", &log1) || !whole_records(log1, record1))
        return "log 1 shows a broken record:\n" + log1;
    if (!section(run.out, "<p class=\"strip\" id=\"log2\">", "</p>", &log2) || !whole_records(log2, record2))
        return "log 2 shows a broken record";
    if (!section(run.out, "<p class=\"strip\" id=\"log3\">", "</p>", &log3) || !whole_records(log3, record3))
        return "log 3 shows a broken record:\n" + log3;
    return "";
}

std::string reading_page_fault(const zt_test::Run &run)
{
    std::string text;
    if (run.status != 0 || !zt_hard::WholePage(run.out))
        return "not a whole page";
    if (!section(run.out, "<div class=\"text\" id=\"text\">", "</div>", &text) || text.size() > 2048 ||
        !whole_units(text))
        return "the page's text is not whole units";
    return "";
}

// The records of a log, newest first, as the board prints them, and whether it has wrapped.
std::vector<std::string> records_of(const std::string &path, bool *wrapped)
{
    const std::string log = zt_test::ReadFile(path);
    *wrapped = std::stoul(log.substr(9, 8), nullptr, 16) != log.size();
    std::vector<std::string> records;
    if (CommentLog_Open(path.c_str()) != 0)
        return records;
    const std::string printed = zt_test::Capture([](FILE *out) { CommentLog_Print(out); });
    CommentLog_Close();
    for (std::size_t at = 0, end; (end = printed.find('\n', at)) != std::string::npos; at = end + 1)
        records.push_back(printed.substr(at, end - at));
    return records;
}

// The size of the board's comment logs.
class Stress : public testing::TestWithParam<long long> {};

TEST_P(Stress, PostersViewersAndReadersAtOnce)
{
    RealBoard board(GetParam());
    // Posters here post as fast as the board takes them, far beyond any rate: the load is the
    // point, so the board takes every post as one without a rate does.
    ASSERT_EQ(zt_test::RunAdmin({"rate", board.dir(), "0"}).status, 0);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(stress_seconds());
    std::mutex lock;
    std::vector<std::pair<std::string, std::string>> accepted;  // unit, name
    std::atomic<int> posts{0}, busy{0}, stale{0}, pages{0};
    std::vector<std::string> faults;
    auto fault = [&](const std::string &what) {
        const std::lock_guard<std::mutex> guard(lock);
        if (faults.size() < 10)
            faults.push_back(what);
    };

    std::vector<std::thread> threads;
    for (int poster = 0; poster < POSTERS; poster++) {
        threads.emplace_back([&, poster] {
            for (int n = 0; n < 1000 && std::chrono::steady_clock::now() < deadline; n++) {
                const auto view = board.View();
                pages++;
                const std::string problem = board_page_fault(view);
                if (!problem.empty())
                    fault("board page: " + problem);
                std::string prev;
                section(view.out, "name=\"prev\" value=\"", "\"", &prev);
                const std::string unit = unit_of(poster, n);
                const std::string name = "p" + std::to_string(poster) + "-" + std::to_string(n);
                const std::string address = "127." + std::to_string(poster + 1) + "." + std::to_string(n / 250) +
                                            "." + std::to_string(n % 250 + 1);
                const auto run = board.Post(zt_hard::PostFields(unit, prev, name), address);
                posts++;
                const int code = zt_hard::AnswerCode(run.out);
                if (!zt_hard::WholePage(run.out) || (code != 0 && code != -5 && code != -12)) {
                    fault("post answered with " + std::to_string(code) + ":\n" + run.out);
                } else if (code == 0) {
                    const std::lock_guard<std::mutex> guard(lock);
                    accepted.emplace_back(unit, name);
                }
                busy += code == -5;
                stale += code == -12;
            }
        });
    }
    for (int viewer = 0; viewer < VIEWERS; viewer++) {
        threads.emplace_back([&] {
            while (std::chrono::steady_clock::now() < deadline) {
                const std::string problem = board_page_fault(board.View());
                pages++;
                if (!problem.empty())
                    fault("board page: " + problem);
            }
        });
    }
    for (int reader = 0; reader < READERS; reader++) {
        threads.emplace_back([&, reader] {
            std::mt19937 random(reader);
            while (std::chrono::steady_clock::now() < deadline) {
                const std::string problem = reading_page_fault(board.Read("wa=" + std::to_string(random() % 5)));
                pages++;
                if (!problem.empty())
                    fault("reading page: " + problem);
            }
        });
    }
    for (auto &thread : threads)
        thread.join();

    for (const auto &f : faults)
        ADD_FAILURE() << f;
    ASSERT_GT(accepted.size(), 0u);

    // The text: exactly the accepted units, each once. The order is the logs' order.
    const std::string text = board.Text();
    EXPECT_EQ(text.size(), 8 * accepted.size());
    std::vector<std::string> units, expected_units;
    for (std::size_t at = 0; at + 8 <= text.size(); at += 8)
        units.push_back(text.substr(at, 8));
    for (const auto &[unit, name] : accepted)
        expected_units.push_back(unit);
    std::vector<std::string> sorted = units, expected_sorted = expected_units;
    std::sort(sorted.begin(), sorted.end());
    std::sort(expected_sorted.begin(), expected_sorted.end());
    EXPECT_EQ(sorted, expected_sorted);

    // Log 3 names the posters newest first: reversed, they are the text's posters in order.
    std::map<std::string, std::string> poster_of;
    for (const auto &[unit, name] : accepted)
        poster_of[unit] = name;
    for (int digit = 1; digit <= COMMENT_LOGS; digit++) {
        bool wrapped;
        const auto records = records_of(board / ("zt/zt-com" + std::to_string(digit) + ".txt"), &wrapped);
        if (!wrapped)
            EXPECT_EQ(records.size(), accepted.size()) << "log " << digit;
        else
            EXPECT_LE(records.size(), accepted.size()) << "log " << digit;
        if (digit == 3 && !wrapped) {
            for (std::size_t i = 0; i < records.size() && i < units.size(); i++) {
                const std::string &unit = units[units.size() - 1 - i];
                EXPECT_NE(records[i].find(">" + poster_of[unit] + "<"), std::string::npos)
                    << "record " << i << " " << records[i];
            }
        }
    }
    const auto check = board.Check();
    EXPECT_EQ(check.status, 0) << check.out;
    printf("stress, logs of %lld bytes: %d posters, %d viewers, %d readers for %d s: %d posts (%zu accepted, "
           "%d busy, %d stale), %d pages; the text holds every accepted post\n",
           GetParam(), POSTERS, VIEWERS, READERS, stress_seconds(), posts.load(), accepted.size(), busy.load(),
           stale.load(), pages.load());
}

INSTANTIATE_TEST_SUITE_P(Logs, Stress, testing::Values(65536, 2048), zt_test::CaseName{});

}  // namespace
