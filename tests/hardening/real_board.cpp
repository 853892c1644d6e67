#include "real_board.h"

#include <regex>

#include <gtest/gtest.h>


namespace zt_hard {

RealBoard::RealBoard(long long log_bytes) : dir_(root_ / "board")
{
    const auto run = zt_test::RunAdmin({"init", dir_});
    EXPECT_EQ(run.status, 0) << run.err;
    if (log_bytes != 0)
        zt_test::ReplaceLogs(dir_, static_cast<long>(log_bytes));
}

zt_test::Run RealBoard::Post(const std::string &body, const std::string &address,
                             zt_test::RunOptions options) const
{
    options.directory = dir_;
    options.environment.emplace_back("CONTENT_LENGTH", std::to_string(body.size()));
    if (!address.empty())
        options.environment.emplace_back("REMOTE_ADDR", address);
    options.input = body;
    return zt_test::RunProgram("zt-write", options);
}

zt_test::Run RealBoard::Post(const Fields &fields, const std::string &address) const
{
    return Post(zt_test::FormBody(fields), address);
}

zt_test::Run RealBoard::View(const std::string &query) const
{
    return zt_test::RunProgram("zt-view", {dir_, {{"QUERY_STRING", query}}, ""});
}

zt_test::Run RealBoard::Read(const std::string &query) const
{
    return zt_test::RunProgram("zt-read", {dir_, {{"QUERY_STRING", query}}, ""});
}

zt_test::CommandRun RealBoard::Check() const
{
    return zt_test::RunAdmin({"check", dir_});
}

std::string RealBoard::Text() const
{
    return zt_test::ReadFile(dir_ + "/zt/zt-text.txt");
}

std::string RealBoard::Prev() const
{
    const std::string page = View().out;
    static const std::regex prev(R"re(name="prev" value="(\d+)")re");
    std::smatch match;
    if (!std::regex_search(page, match, prev)) {
        ADD_FAILURE() << "the board page holds no prev";
        return "";
    }
    return match[1];
}

Fields PostFields(const std::string &four, const std::string &prev, const std::string &name)
{
    return {{"prev", prev}, {"four", four}, {"namae", name}};
}

int AnswerCode(const std::string &page)
{
    static const std::regex error_line(R"re(<p class="error" id="e(\d+)">)re");
    std::smatch match;
    const bool error = std::regex_search(page, match, error_line);
    const bool done = page.find("<div class=\"done\" id=\"done\">") != std::string::npos;
    if (error == done)
        return ANSWER_NONE;
    return error ? -std::stoi(match[1]) : 0;
}

bool WholePage(const std::string &response)
{
    const std::string header = "Content-type: text/html\n\n";
    if (response.compare(0, header.size(), header) != 0)
        return false;
    for (const std::string end : {"</html>\n", "<hr></body></html>\n"})
        if (response.size() >= end.size() && response.compare(response.size() - end.size(), end.size(), end) == 0)
            return true;
    return false;
}

}  // namespace zt_hard
