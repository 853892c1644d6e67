// Test support for the hardening tests: a board as an operator prepares it (zt-admin init,
// with the default templates), posts and page requests through the real programs as the web
// server runs them, the operator's check, and a reading of what the write page answered.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "board.h"
#include "command.h"

namespace zt_hard {

using Fields = std::vector<std::pair<std::string, std::string>>;

using zt_test::Sjis;

class RealBoard {
public:
    // A board that zt-admin init prepares; its logs replaced by empty ones of log_bytes, unless
    // that is 0.
    explicit RealBoard(long long log_bytes = 0);

    const std::string &dir() const { return dir_; }
    std::string operator/(const std::string &relative) const { return dir_ + "/" + relative; }

    // A post of a raw body (already %-encoded) from address; options may add a prefix, limits
    // or a child-setup hook. An empty address leaves REMOTE_ADDR unset.
    zt_test::Run Post(const std::string &body, const std::string &address,
                      zt_test::RunOptions options = {}) const;
    zt_test::Run Post(const Fields &fields, const std::string &address) const;
    zt_test::Run View(const std::string &query = "") const;
    zt_test::Run Read(const std::string &query) const;

    zt_test::CommandRun Check() const;
    std::string Text() const;
    // The board's size as the board page shows it for the form: the next post's prev.
    std::string Prev() const;

private:
    zt_test::TempDir root_;
    std::string dir_;
};

// A post's form fields, as the board page's form sends them.
Fields PostFields(const std::string &four, const std::string &prev, const std::string &name);

// What the write page answered, by the marks of the default template: 0 for the completion
// part, -1 to -12 for the error line of that code, or ANSWER_NONE when the page shows neither.
constexpr int ANSWER_NONE = 1;
int AnswerCode(const std::string &page);

// Whether a page of the default templates is whole: the response header, and the end of the
// document (the write page's error answer ends with its own closing line).
bool WholePage(const std::string &response);

}  // namespace zt_hard
