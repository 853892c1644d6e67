// The benchmark's timer: starts programs as a CGI web server does, one process per request,
// and reports the median wall time of each from the fork to the reaped exit.
//
//   harness [--runs N] [--warmup N] [--stdin FILE] [--post] [--null] COMMAND...
//   COMMAND  LABEL:DIR:STATUS:PROGRAM[:ARG...]
//
// Every command runs in its own working directory DIR with the harness's own environment and
// standard input from FILE (default /dev/null). Its standard output is a pipe that the harness
// reads to the end, as a web server reads a CGI program's response, so that every write the
// program makes costs what it costs under a server (--null sends it to /dev/null instead,
// where a write costs nothing). A run whose exit status is not STATUS stops the harness, so a
// refused post cannot pass for an accepted one. The commands are interleaved, the order turning round each time (A B, B A, A B ...),
// so that a machine that slows down or speeds up during the measurement moves every command
// alike and the ratios between them stay true.
//
// --post makes every run a fresh post, for zt-write on a board that takes it: before each
// run (outside the timing) the harness writes a body whose prev is the current size of
// DIR/zt/zt-text.txt, with a name and a REMOTE_ADDR no run has used before, and sets
// CONTENT_LENGTH to match. Every command of the set gets the same body and environment.
//
// Output, one line per command, times in microseconds:
//   LABEL median p25 p75 mean runs
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern char **environ;

namespace {

struct Command {
    std::string label;
    std::string dir;
    int status = 0;
    std::vector<std::string> argv;
    std::vector<double> times;  // microseconds
};

[[noreturn]] void fail(const char *format, const char *detail = "")
{
    fprintf(stderr, "harness: ");
    fprintf(stderr, format, detail);
    fputc('\n', stderr);
    exit(2);
}

std::vector<std::string> split(const std::string &s, char separator)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = s.find(separator, start);
        parts.push_back(s.substr(start, end - start));
        if (end == std::string::npos)
            return parts;
        start = end + 1;
    }
}

Command parse_command(const std::string &text)
{
    const std::vector<std::string> parts = split(text, ':');
    if (parts.size() < 4 || parts[0].empty() || parts[3].empty())
        fail("a command is LABEL:DIR:STATUS:PROGRAM[:ARG...], not %s", text.c_str());
    Command command;
    command.label = parts[0];
    command.dir = parts[1].empty() ? "." : parts[1];
    command.status = atoi(parts[2].c_str());
    command.argv.assign(parts.begin() + 3, parts.end());
    return command;
}

double now_us()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1e6 + t.tv_nsec / 1e3;
}

long long file_size(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

// The environment of one run: the harness's own, with the post's variables in place of any
// that it names.
struct Environment {
    std::vector<std::string> extra;
    std::vector<char *> pointers;

    char **build()
    {
        pointers.clear();
        for (char **e = environ; *e; e++) {
            bool replaced = false;
            for (const std::string &x : extra)
                replaced = replaced || strncmp(*e, x.c_str(), x.find('=') + 1) == 0;
            if (!replaced)
                pointers.push_back(*e);
        }
        for (std::string &x : extra)
            pointers.push_back(x.data());
        pointers.push_back(nullptr);
        return pointers.data();
    }
};

// Writes a fresh post for run number serial into body_path; returns its length.
std::size_t write_post(const std::string &body_path, const Command &command, long serial,
                       Environment *environment)
{
    const long long size = file_size(command.dir + "/zt/zt-text.txt");
    if (size < 0)
        fail("%s: no text file for --post", command.dir.c_str());
    // Four hiragana in Shift_JIS, %-encoded as a browser sends them.
    char body[160];
    const int length = snprintf(body, sizeof body,
                                "four=%%82%%A0%%82%%A2%%82%%A4%%82%%A6&prev=%lld&namae=b%ld",
                                size, serial);
    FILE *file = fopen(body_path.c_str(), "wb");
    if (!file || fwrite(body, 1, length, file) != static_cast<std::size_t>(length) || fclose(file))
        fail("cannot write %s", body_path.c_str());
    char address[32];
    snprintf(address, sizeof address, "10.%ld.%ld.%ld", serial >> 16 & 255, serial >> 8 & 255,
             serial & 255);
    environment->extra = {"CONTENT_LENGTH=" + std::to_string(length),
                          std::string("REMOTE_ADDR=") + address};
    return static_cast<std::size_t>(length);
}

// One run: the time from the spawn to the reaped exit, the response read to its end, in
// microseconds.
double run_once(Command &command, const std::string &input, char **envp, bool to_null)
{
    static char response[64 * 1024];
    int out[2] = {-1, -1};
    if (!to_null && pipe2(out, O_CLOEXEC) != 0)
        fail("no pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, input.c_str(), O_RDONLY, 0);
    if (to_null)
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    else
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addchdir_np(&actions, command.dir.c_str());
    std::vector<char *> argv;
    for (std::string &a : command.argv)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    const double start = now_us();
    pid_t pid;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp) != 0)
        fail("cannot start %s", argv[0]);
    if (!to_null) {
        close(out[1]);
        while (read(out[0], response, sizeof response) > 0) {
        }
        close(out[0]);
    }
    int status;
    while (waitpid(pid, &status, 0) < 0) {
    }
    const double elapsed = now_us() - start;
    posix_spawn_file_actions_destroy(&actions);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != command.status) {
        fprintf(stderr, "harness: %s ended with status %d, not %d\n", command.label.c_str(),
                WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status),
                command.status);
        exit(2);
    }
    return elapsed;
}

double quantile(const std::vector<double> &sorted, double q)
{
    const double at = q * (sorted.size() - 1);
    const std::size_t low = static_cast<std::size_t>(at);
    const std::size_t high = std::min(low + 1, sorted.size() - 1);
    return sorted[low] + (sorted[high] - sorted[low]) * (at - low);
}

}  // namespace

int main(int argc, char **argv)
{
    long runs = 200;
    long warmup = 10;
    std::string input = "/dev/null";
    bool post = false;
    bool to_null = false;
    std::vector<Command> commands;
    for (int i = 1; i < argc; i++) {
        const std::string arg = argv[i];
        if (arg == "--runs" && i + 1 < argc)
            runs = atol(argv[++i]);
        else if (arg == "--warmup" && i + 1 < argc)
            warmup = atol(argv[++i]);
        else if (arg == "--stdin" && i + 1 < argc)
            input = argv[++i];
        else if (arg == "--post")
            post = true;
        else if (arg == "--null")
            to_null = true;
        else if (arg.starts_with("--"))
            fail("unknown option %s", arg.c_str());
        else
            commands.push_back(parse_command(arg));
    }
    if (commands.empty() || runs < 1)
        fail("nothing to run");

    Environment environment;
    std::string body_path;
    if (post) {
        const char *tmp = getenv("TMPDIR");
        body_path = std::string(tmp ? tmp : "/tmp") + "/zt-bench-post-" + std::to_string(getpid());
        input = body_path;
    }
    // Names and addresses start from the clock, so that a second measurement on the same
    // board never meets the last poster of the first.
    long serial = static_cast<long>(time(nullptr) % 1000000) * 100;

    const std::size_t n = commands.size();
    for (long round = 0; round < warmup + runs; round++) {
        for (std::size_t k = 0; k < n; k++) {
            Command &command = commands[(round + k) % n];
            if (post)
                write_post(body_path, command, serial++, &environment);
            const double t = run_once(command, input, environment.build(), to_null);
            if (round >= warmup)
                command.times.push_back(t);
        }
    }
    if (post)
        unlink(body_path.c_str());

    for (Command &command : commands) {
        std::vector<double> &t = command.times;
        std::sort(t.begin(), t.end());
        double sum = 0;
        for (double x : t)
            sum += x;
        printf("%s %.1f %.1f %.1f %.1f %zu\n", command.label.c_str(), quantile(t, 0.5),
               quantile(t, 0.25), quantile(t, 0.75), sum / t.size(), t.size());
    }
    return 0;
}
