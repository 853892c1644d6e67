// Test support for the board behind a real web server: a fresh board prepared by zt-admin,
// the build's three programs copied into it, the configuration that tools/lighttpd-conf
// writes, and lighttpd started on 127.0.0.1 and a free port and stopped with the object.
// Requests are plain HTTP/1.0 over a socket whose source address the test chooses: all of
// 127.0.0.0/8 is this machine, so 127.0.0.2, 127.0.0.3, ... post as different visitors.
#pragma once

#include <string>
#include <vector>

#include "board.h"

namespace zt_test {

struct Response {
    int status = 0;       // 0 when no response came
    std::string head;     // status line and header lines
    std::string body;

    // The value of a header (name compared without case), or "" when absent.
    std::string Header(const std::string &name) const;
};

class ServedBoard {
public:
    // init_arguments go to zt-admin init after the directory (for instance --log-bytes),
    // conf_arguments to tools/lighttpd-conf before it (for instance --origin); conf_lines
    // are added after the configuration it writes (an operator's mistake, say).
    explicit ServedBoard(const std::vector<std::string> &init_arguments = {},
                         const std::vector<std::string> &conf_arguments = {},
                         const std::string &conf_lines = {});
    ~ServedBoard();
    ServedBoard(const ServedBoard &) = delete;
    ServedBoard &operator=(const ServedBoard &) = delete;

    bool running() const { return pid_ > 0; }
    int port() const { return port_; }
    const std::string &dir() const { return board_; }  // the board directory
    std::string operator/(const std::string &relative) const { return board_ + "/" + relative; }

    // What the programs wrote to standard error so far; empty unless something went wrong
    // (the sanitizers report there).
    std::string ProgramLog() const;

    Response Get(const std::string &target, const std::string &source = "127.0.0.1") const;
    // A form post: body as it goes on the wire, already %-encoded.
    Response Post(const std::string &target, const std::string &body,
                  const std::string &source = "127.0.0.1") const;
    // Any request line and body, sent as they are, with header lines ("Name: value") added
    // after the ones every request carries.
    Response Send(const std::string &method, const std::string &target, const std::string &body,
                  const std::string &source, const std::vector<std::string> &headers = {}) const;

    // A connection from source to the server, or -1; for requests that a test sends by hand.
    int Connect(const std::string &source) const;

private:
    bool Start();
    void Stop();

    TempDir root_;
    std::string board_;
    std::vector<std::string> conf_arguments_;
    std::string conf_lines_;
    int port_ = 0;
    int pid_ = -1;
};

}  // namespace zt_test
