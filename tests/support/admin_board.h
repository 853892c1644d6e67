// Test support for zt-admin's tests: a board that zt-admin prepared, and the programs run on
// it as the web server runs them.
#pragma once

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "board.h"
#include "command.h"

namespace zt_test {

inline bool Contains(const std::string &text, const std::string &part)
{
    return text.find(part) != std::string::npos;
}

// A board prepared by zt-admin in a fresh directory.
struct Board {
    TempDir root;
    std::string dir = root / "board";

    explicit Board(const std::vector<std::string> &options = {})
    {
        std::vector<std::string> arguments = {"init", dir};
        arguments.insert(arguments.end(), options.begin(), options.end());
        const auto run = RunAdmin(arguments);
        EXPECT_EQ(run.status, 0) << run.err;
    }
    std::string operator/(const std::string &name) const { return dir + "/" + name; }

    // A post from address to zt-write, run as the web server runs it.
    zt_test::Run Post(const std::string &body, const std::string &address) const
    {
        zt_test::Environment environment = {{"CONTENT_LENGTH", std::to_string(body.size())}};
        if (!address.empty())
            environment.emplace_back("REMOTE_ADDR", address);
        return zt_test::RunProgram("zt-write", {dir, environment, body});
    }
};

}  // namespace zt_test
