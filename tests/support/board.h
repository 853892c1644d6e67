// Test support: temporary boards on disk and runs of the real programs as a web server
// starts them, with a CGI environment of the test's choosing, a body on standard input, and
// the whole response, standard error and exit status captured.
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "capture.h"

namespace zt_test {

// A fresh directory under the temporary directory, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::string &path() const { return path_; }
    // path() + "/" + relative
    std::string operator/(const std::string &relative) const;

private:
    std::string path_;
};

// Whole-file helpers; they fail the current test when the file cannot be read or written.
std::string ReadFile(const std::string &path);
void WriteFile(const std::string &path, const std::string &bytes);
bool Exists(const std::string &path);
long long FileSize(const std::string &path);  // -1 when missing
void MakeDir(const std::string &path);

using Environment = std::vector<std::pair<std::string, std::string>>;

struct Run {
    int status = -1;      // exit status, or 128 + signal number
    std::string out;      // standard output
    std::string err;      // standard error
};

struct RunOptions {
    RunOptions(std::string directory_ = {}, Environment environment_ = {}, std::string input_ = {})
        : directory(std::move(directory_)), environment(std::move(environment_)), input(std::move(input_))
    {
    }

    std::string directory;            // working directory of the program
    Environment environment;          // the whole environment (sanitizer settings are added)
    std::string input;                // standard input
    std::function<void()> in_child;   // runs in the child before exec (limits, signals)
    std::function<void(pid_t)> started;  // runs in the test once the child exists
    std::vector<std::string> prefix;  // a command the program runs under (strace ...)
    int timeout_seconds = 20;
    bool reports_allowed = false;     // standard error may hold the program's own reports
};

// What a program writes when it ends with the error page: the response header and the page
// with message.
std::string ErrorPage(const std::string &message);

// Runs a program of the build (zt-write, zt-view, ...) and waits for it. A program that does
// not end in time is killed and fails the test; anything on standard error fails it too,
// since the programs write nothing there but the reports of a failure that a fault brings
// about (lines that begin with the program's name, allowed with reports_allowed), and the
// sanitizers report there.
Run RunProgram(const std::string &program, const RunOptions &options);

// Prepares a board in dir as an operator would: zt/ with an empty text file, a last-poster
// file that no request matches (two lines holding only CR), the eight comment logs at
// log_bytes each as empty logs, and lock/. Templates are the test's own business.
void PrepareBoard(const std::string &dir, long log_bytes = 4096);

// The bytes of an empty comment log of size bytes: both offsets at the end of the file.
std::string EmptyLog(long bytes);

// Replaces the eight comment logs of the board in dir with empty logs of log_bytes each:
// smaller than zt-admin init makes them, for tests whose logs should wrap soon.
void ReplaceLogs(const std::string &dir, long log_bytes);

// Runs argv (argv[0] a path, or a name looked up in PATH) with exactly the environment given
// (NAME=VALUE strings), in options' directory with options' input, hooks and time limit.
// Standard error is part of the result, nothing more is checked.
Run RunArgv(const std::vector<std::string> &argv, const std::vector<std::string> &environment,
            const RunOptions &options);

// The path of a program in the build's bin directory.
std::string ProgramPath(const std::string &program);

// A body of CGI form fields: each name and value %-encoded byte by byte where needed.
std::string FormBody(const std::vector<std::pair<std::string, std::string>> &fields);

// Every byte %XX-encoded, as a test of the decoder wants it.
std::string PercentEncode(const std::string &bytes);

}  // namespace zt_test
