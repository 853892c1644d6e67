#include "command.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include <gtest/gtest.h>

#include "board.h"

#ifndef ZT_SOURCE_DIR
#error "ZT_SOURCE_DIR must name the source tree"
#endif

extern char **environ;

namespace zt_test {

CommandRun RunCommand(const std::vector<std::string> &argv, const std::string &input,
                      const std::vector<std::string> &environment, int timeout_seconds)
{
    signal(SIGPIPE, SIG_IGN);
    CommandRun run;
    int in[2], out[2], err[2];
    if (pipe(in) || pipe(out) || pipe(err)) {
        ADD_FAILURE() << "pipe: " << strerror(errno);
        return run;
    }
    std::vector<std::string> strings = environment;
    for (char **e = environ; *e; e++)
        strings.emplace_back(*e);
    std::vector<char *> envp, args;
    for (auto &s : strings)
        envp.push_back(s.data());
    envp.push_back(nullptr);
    std::vector<std::string> argv_copy = argv;
    for (auto &s : argv_copy)
        args.push_back(s.data());
    args.push_back(nullptr);

    const pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]})
            close(fd);
        signal(SIGPIPE, SIG_DFL);
        execvpe(args[0], args.data(), envp.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    fcntl(in[1], F_SETFL, fcntl(in[1], F_GETFL) | O_NONBLOCK);
    std::size_t fed = 0;
    if (input.empty()) {
        close(in[1]);
        in[1] = -1;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_seconds);
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
                const ssize_t k = write(fd, input.data() + fed, input.size() - fed);
                if (k > 0)
                    fed += static_cast<std::size_t>(k);
                if (k < 0 || fed == input.size()) {
                    close(in[1]);
                    in[1] = -1;
                }
                continue;
            }
            char chunk[65536];
            const ssize_t k = read(fd, chunk, sizeof chunk);
            if (k > 0) {
                (fd == out[0] ? run.out : run.err).append(chunk, static_cast<std::size_t>(k));
            } else if (k == 0 || errno != EINTR) {
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
        ADD_FAILURE() << argv[0] << " did not end within " << timeout_seconds << " s";
    return run;
}

CommandRun RunAdmin(const std::vector<std::string> &arguments)
{
    std::vector<std::string> argv = {ProgramPath("zt-admin")};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return RunCommand(argv);
}

std::string SourcePath(const std::string &relative)
{
    return std::string(ZT_SOURCE_DIR) + "/" + relative;
}

}  // namespace zt_test
