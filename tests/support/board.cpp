#include "board.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include <gtest/gtest.h>

#include "board_files.h"

#ifndef ZT_BIN_DIR
#error "ZT_BIN_DIR must name the build's bin directory"
#endif

namespace zt_test {

TempDir::TempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "zt-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        ADD_FAILURE() << "mkdtemp: " << strerror(errno);
    path_ = pattern;
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::operator/(const std::string &relative) const
{
    return path_ + "/" + relative;
}

std::string ErrorPage(const std::string &message)
{
    return "Content-type: text/html\n\n<HTML>\n<BODY>\n<H1>ERROR</H1>\n" + message +
           "\n<p><hr>\n<small><i>Powered by Tolvak library</i></small>\n</BODY>\n</HTML>\n";
}

std::string ReadFile(const std::string &path)
{
    std::string bytes;
    FILE *f = fopen(path.c_str(), "rb");
    if (!f) {
        ADD_FAILURE() << "cannot read " << path;
        return bytes;
    }
    char chunk[65536];
    for (std::size_t n; (n = fread(chunk, 1, sizeof chunk, f)) > 0;)
        bytes.append(chunk, n);
    fclose(f);
    return bytes;
}

void WriteFile(const std::string &path, const std::string &bytes)
{
    FILE *f = fopen(path.c_str(), "wb");
    if (!f) {
        ADD_FAILURE() << "cannot write " << path;
        return;
    }
    if (fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size())
        ADD_FAILURE() << "short write to " << path;
    fclose(f);
}

bool Exists(const std::string &path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

long long FileSize(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

void MakeDir(const std::string &path)
{
    std::error_code error;
    std::filesystem::create_directories(path, error);
    if (error)
        ADD_FAILURE() << "cannot create " << path << ": " << error.message();
}

std::string EmptyLog(long bytes)
{
    char header[19];
    snprintf(header, sizeof header, "%08lx\n%08lx\n", bytes, bytes);
    std::string log(static_cast<std::size_t>(bytes), '\0');
    log.replace(0, 18, header, 18);
    return log;
}

void PrepareBoard(const std::string &dir, long log_bytes)
{
    MakeDir(dir + "/zt");
    MakeDir(dir + "/lock");
    WriteFile(dir + "/zt/zt-text.txt", "");
    WriteFile(dir + "/zt/zt-jti.txt", "\r\n\r\n");
    ReplaceLogs(dir, log_bytes);
}

void ReplaceLogs(const std::string &dir, long log_bytes)
{
    for (char digit = '1'; digit < '1' + COMMENT_LOGS; digit++)
        WriteFile(dir + "/zt/zt-com" + digit + ".txt", EmptyLog(log_bytes));
}

std::string ProgramPath(const std::string &program)
{
    return std::string(ZT_BIN_DIR) + "/" + program;
}

static void set_nonblocking(int fd)
{
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

Run RunArgv(const std::vector<std::string> &argv_words, const std::vector<std::string> &environment,
            const RunOptions &options)
{
    // A program that ends without reading its input must not kill the test with SIGPIPE.
    signal(SIGPIPE, SIG_IGN);
    Run run;
    int in[2], out[2], err[2];
    if (pipe(in) || pipe(out) || pipe(err)) {
        ADD_FAILURE() << "pipe: " << strerror(errno);
        return run;
    }

    // Everything the child needs is built before the fork.
    std::vector<std::string> strings = environment;
    std::vector<char *> envp;
    for (auto &s : strings)
        envp.push_back(s.data());
    envp.push_back(nullptr);
    std::vector<std::string> words = argv_words;
    std::vector<char *> argv;
    for (auto &word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    const pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]})
            close(fd);
        if (!options.directory.empty() && chdir(options.directory.c_str()) != 0)
            _exit(126);
        signal(SIGPIPE, SIG_DFL);
        if (options.in_child)
            options.in_child();
        execvpe(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    if (options.started)
        options.started(pid);
    set_nonblocking(in[1]);

    // Feed the input and drain both outputs together, so that no pipe fills up.
    std::size_t fed = 0;
    if (options.input.empty()) {
        close(in[1]);
        in[1] = -1;
    }
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(options.timeout_seconds);
    bool timed_out = false;
    while (out[0] >= 0 || err[0] >= 0) {
        pollfd fds[3];
        int n = 0;
        for (int fd : {out[0], err[0]})
            if (fd >= 0)
                fds[n++] = {fd, POLLIN, 0};
        if (in[1] >= 0)
            fds[n++] = {in[1], POLLOUT, 0};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            timed_out = true;
            break;
        }
        if (poll(fds, n, static_cast<int>(left.count())) < 0 && errno != EINTR)
            break;
        for (int i = 0; i < n; i++) {
            if (!fds[i].revents)
                continue;
            const int fd = fds[i].fd;
            if (fd == in[1]) {
                const ssize_t k = write(fd, options.input.data() + fed, options.input.size() - fed);
                if (k > 0)
                    fed += static_cast<std::size_t>(k);
                if (k < 0 || fed == options.input.size()) {
                    close(in[1]);
                    in[1] = -1;
                }
                continue;
            }
            char chunk[65536];
            const ssize_t k = read(fd, chunk, sizeof chunk);
            if (k > 0) {
                (fd == out[0] ? run.out : run.err).append(chunk, static_cast<std::size_t>(k));
            } else if (k == 0 || errno != EAGAIN) {
                close(fd);
                (fd == out[0] ? out[0] : err[0]) = -1;
            }
        }
    }
    if (timed_out)
        kill(pid, SIGKILL);
    for (int fd : {in[1], out[0], err[0]})
        if (fd >= 0)
            close(fd);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (timed_out)
        ADD_FAILURE() << argv_words[0] << " did not end within " << options.timeout_seconds << " s";
    return run;
}

Run RunProgram(const std::string &program, const RunOptions &options)
{
    std::vector<std::string> environment;
    for (const auto &[name, value] : options.environment)
        environment.push_back(name + "=" + value);
    for (const char *name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"})
        if (const char *value = getenv(name))
            environment.push_back(std::string(name) + "=" + value);
    std::vector<std::string> argv = options.prefix;
    argv.push_back(ProgramPath(program));
    Run run = RunArgv(argv, environment, options);
    bool reports = options.reports_allowed;
    for (std::size_t line = 0; reports && line < run.err.size(); line = run.err.find('\n', line) + 1)
        reports = run.err.compare(line, program.size() + 2, program + ": ") == 0 &&
                  run.err.find('\n', line) != std::string::npos;
    if (!run.err.empty() && !reports)
        ADD_FAILURE() << program << " wrote to standard error:\n" << run.err;
    return run;
}

static bool url_plain(unsigned char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
           c == '-' || c == '_' || c == '.' || c == '*';
}

static void encode_into(std::string &body, const std::string &bytes, bool all)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    for (unsigned char c : bytes) {
        if (!all && url_plain(c)) {
            body += static_cast<char>(c);
        } else if (!all && c == ' ') {
            body += '+';
        } else {
            body += '%';
            body += hex[c >> 4];
            body += hex[c & 15];
        }
    }
}

std::string FormBody(const std::vector<std::pair<std::string, std::string>> &fields)
{
    std::string body;
    for (const auto &[name, value] : fields) {
        if (!body.empty())
            body += '&';
        encode_into(body, name, false);
        body += '=';
        encode_into(body, value, false);
    }
    return body;
}

std::string PercentEncode(const std::string &bytes)
{
    std::string body;
    encode_into(body, bytes, true);
    return body;
}

}  // namespace zt_test
