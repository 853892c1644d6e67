#include "served_board.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include <gtest/gtest.h>

#include "command.h"

namespace zt_test {

namespace {

constexpr int START_ATTEMPTS = 5;
constexpr auto START_TIMEOUT = std::chrono::seconds(20);
constexpr int REQUEST_TIMEOUT_SECONDS = 30;

int free_port()
{
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (bind(s, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
        getsockname(s, reinterpret_cast<sockaddr *>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    close(s);
    return port;
}

// A connected socket from source to 127.0.0.1:port, or -1.
int connect_from(const std::string &source, int port)
{
    const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        return -1;
    sockaddr_in from{};
    from.sin_family = AF_INET;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval timeout{REQUEST_TIMEOUT_SECONDS, 0};
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    if (inet_pton(AF_INET, source.c_str(), &from.sin_addr) != 1 ||
        bind(s, reinterpret_cast<sockaddr *>(&from), sizeof from) != 0 ||
        connect(s, reinterpret_cast<sockaddr *>(&to), sizeof to) != 0) {
        close(s);
        return -1;
    }
    return s;
}

std::string lower(std::string s)
{
    for (char &c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

bool copy_program(const std::string &name, const std::string &dir)
{
    const std::string bytes = ReadFile(ProgramPath(name));
    const std::string path = dir + "/" + name;
    WriteFile(path, bytes);
    return !bytes.empty() && chmod(path.c_str(), 0755) == 0;
}

}  // namespace

std::string Response::Header(const std::string &name) const
{
    const std::string wanted = lower(name) + ":";
    std::size_t start = head.find("\r\n");
    while (start != std::string::npos && start + 2 < head.size()) {
        start += 2;
        const std::size_t end = head.find("\r\n", start);
        const std::string line = head.substr(start, end - start);
        if (lower(line.substr(0, wanted.size())) == wanted) {
            std::size_t value = wanted.size();
            while (value < line.size() && line[value] == ' ')
                value++;
            return line.substr(value);
        }
        start = end;
    }
    return "";
}

ServedBoard::ServedBoard(const std::vector<std::string> &init_arguments,
                         const std::vector<std::string> &conf_arguments,
                         const std::string &conf_lines)
    : board_(root_ / "board"), conf_arguments_(conf_arguments), conf_lines_(conf_lines)
{
    std::vector<std::string> init = {"init", board_};
    init.insert(init.end(), init_arguments.begin(), init_arguments.end());
    const CommandRun prepared = RunAdmin(init);
    if (prepared.status != 0) {
        ADD_FAILURE() << "zt-admin init: " << prepared.err;
        return;
    }
    for (const char *program : {"zt-write", "zt-view", "zt-read"})
        if (!copy_program(program, board_)) {
            ADD_FAILURE() << "cannot copy " << program;
            return;
        }
    WriteFile(root_ / "programs.log", "");
    for (int attempt = 0; attempt < START_ATTEMPTS && !running(); attempt++)
        Start();
    if (!running())
        ADD_FAILURE() << "lighttpd did not start:\n" << ReadFile(root_ / "lighttpd.log");
}

ServedBoard::~ServedBoard()
{
    Stop();
    if (const std::string log = ProgramLog(); !log.empty())
        ADD_FAILURE() << "the programs wrote to standard error:\n" << log;
}

bool ServedBoard::Start()
{
    port_ = free_port();
    std::vector<std::string> conf_command = {
        SourcePath("tools/lighttpd-conf"), "--port", std::to_string(port_), "--errorlog",
        root_ / "lighttpd.log", "--program-log", root_ / "programs.log", "--pass",
        "ASAN_OPTIONS", "--pass", "UBSAN_OPTIONS", "--pass", "LSAN_OPTIONS"};
    conf_command.insert(conf_command.end(), conf_arguments_.begin(), conf_arguments_.end());
    conf_command.push_back(board_);
    const CommandRun conf = RunCommand(conf_command);
    if (conf.status != 0) {
        ADD_FAILURE() << "tools/lighttpd-conf: " << conf.err;
        return false;
    }
    const std::string conf_path = root_ / "lighttpd.conf";
    WriteFile(conf_path, conf.out + conf_lines_);

    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        // Debian puts lighttpd into /usr/sbin, which a user's PATH may lack.
        execl("/usr/sbin/lighttpd", "lighttpd", "-D", "-f", conf_path.c_str(), nullptr);
        execlp("lighttpd", "lighttpd", "-D", "-f", conf_path.c_str(), nullptr);
        _exit(127);
    }
    const auto deadline = std::chrono::steady_clock::now() + START_TIMEOUT;
    while (std::chrono::steady_clock::now() < deadline) {
        int status;
        if (waitpid(pid, &status, WNOHANG) == pid)
            return false;  // it ended: the port was taken meanwhile, or the setup is wrong
        const int s = connect_from("127.0.0.1", port_);
        if (s >= 0) {
            close(s);
            pid_ = pid;
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return false;
}

void ServedBoard::Stop()
{
    if (pid_ <= 0)
        return;
    kill(pid_, SIGTERM);
    int status;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (waitpid(pid_, &status, WNOHANG) != pid_) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_ = -1;
}

std::string ServedBoard::ProgramLog() const
{
    return ReadFile(root_ / "programs.log");
}

Response ServedBoard::Get(const std::string &target, const std::string &source) const
{
    return Send("GET", target, "", source);
}

Response ServedBoard::Post(const std::string &target, const std::string &body,
                           const std::string &source) const
{
    return Send("POST", target, body, source);
}

int ServedBoard::Connect(const std::string &source) const
{
    return connect_from(source, port_);
}

Response ServedBoard::Send(const std::string &method, const std::string &target,
                           const std::string &body, const std::string &source,
                           const std::vector<std::string> &headers) const
{
    Response response;
    const int s = connect_from(source, port_);
    if (s < 0) {
        ADD_FAILURE() << "cannot connect from " << source << " to port " << port_ << ": "
                      << strerror(errno);
        return response;
    }
    std::string request = method + " " + target + " HTTP/1.0\r\nHost: 127.0.0.1:" +
                          std::to_string(port_) + "\r\nConnection: close\r\n";
    if (method == "POST")
        request += "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                   std::to_string(body.size()) + "\r\n";
    for (const std::string &header : headers)
        request += header + "\r\n";
    request += "\r\n" + body;
    for (std::size_t sent = 0; sent < request.size();) {
        const ssize_t n = send(s, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            ADD_FAILURE() << "send: " << strerror(errno);
            close(s);
            return response;
        }
        sent += static_cast<std::size_t>(n);
    }
    std::string all;
    char chunk[65536];
    for (ssize_t n; (n = recv(s, chunk, sizeof chunk, 0)) != 0;) {
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ADD_FAILURE() << "no complete response to " << method << " " << target << ": "
                          << strerror(errno);
            break;
        }
        all.append(chunk, static_cast<std::size_t>(n));
    }
    close(s);
    const std::size_t end = all.find("\r\n\r\n");
    if (all.compare(0, 5, "HTTP/") != 0 || end == std::string::npos) {
        ADD_FAILURE() << "not an HTTP response to " << method << " " << target << ":\n" << all;
        return response;
    }
    response.head = all.substr(0, end);
    response.body = all.substr(end + 4);
    const std::size_t space = all.find(' ');
    response.status = std::atoi(all.c_str() + space + 1);
    return response;
}

}  // namespace zt_test
