// Preparing a board and reading its comment logs.
#include "board_dir.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "template_source.h"

namespace {

constexpr std::size_t HEADER_BYTES = 18;

std::string system_problem(const std::string &what, const std::string &path)
{
    return what + " " + path + ": " + strerror(errno);
}

bool write_all(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// Writes a file that must not exist yet.
bool write_new_file(const std::string &path, std::string_view bytes, std::string *problem)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        *problem = system_problem("cannot create", path);
        return false;
    }
    const bool written = write_all(fd, bytes);
    const int saved = errno;
    if (close(fd) != 0 || !written) {
        errno = written ? errno : saved;
        *problem = system_problem("cannot write", path);
        return false;
    }
    return true;
}

bool exists(const std::string &path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// mkdir -p: creates dir and its missing parents.
bool make_directories(const std::string &dir, std::string *problem)
{
    for (std::size_t slash = 1;; slash++) {
        slash = dir.find('/', slash);
        const std::string part = dir.substr(0, slash);
        if (mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) {
            *problem = system_problem("cannot create", part);
            return false;
        }
        if (slash == std::string::npos)
            break;
    }
    struct stat st;
    if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        *problem = dir + " is not a directory";
        return false;
    }
    return true;
}

void remove_tree(const std::string &dir, const std::vector<std::string> &files)
{
    for (const auto &file : files)
        unlink(board_path(dir, file).c_str());
    rmdir(dir.c_str());
}

// Renames from to a name that must not exist, also not as an empty directory.
bool rename_new(const std::string &from, const std::string &to)
{
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)  // a file system without the flag
        return false;
    if (exists(to)) {
        errno = EEXIST;
        return false;
    }
    return rename(from.c_str(), to.c_str()) == 0;
}

// A header offset as the comment log reads it: white space, then 1 to 8 hex digits.
bool read_offset(std::string_view log, std::size_t *pos, unsigned long *value)
{
    while (*pos < log.size() && (log[*pos] == ' ' || (log[*pos] >= '\t' && log[*pos] <= '\r')))
        ++*pos;
    int digits = 0;
    unsigned long n = 0;
    for (; digits < 8 && *pos < log.size(); digits++, ++*pos) {
        const char c = log[*pos];
        const int d = c >= '0' && c <= '9'   ? c - '0'
                      : c >= 'a' && c <= 'f' ? c - 'a' + 10
                      : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                             : -1;
        if (d < 0)
            break;
        n = n * 16 + static_cast<unsigned long>(d);
    }
    *value = n;
    return digits > 0;
}

// A record length in the second walk: white space, then up to 4 hex digits.
bool read_length(std::string_view log, std::size_t *pos, unsigned long *value)
{
    std::size_t p = *pos;
    while (p < log.size() && (log[p] == ' ' || (log[p] >= '\t' && log[p] <= '\r')))
        p++;
    const std::size_t start = p;
    unsigned long n = 0;
    for (; p < log.size() && p - start < 4; p++) {
        const char c = log[p];
        const int d = c >= '0' && c <= '9'   ? c - '0'
                      : c >= 'a' && c <= 'f' ? c - 'a' + 10
                      : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                             : -1;
        if (d < 0)
            break;
        n = n * 16 + static_cast<unsigned long>(d);
    }
    if (p == start)
        return false;
    *pos = p;
    *value = n;
    return true;
}

// Copies one record's content from pos up to its LF (consumed). False when the walk ends
// there: the end of the file, or a byte 0xFF, which the listing takes for the end.
bool read_content(std::string_view log, std::size_t *pos, std::vector<std::string> *records)
{
    std::string content;
    while (*pos < log.size()) {
        const char c = log[(*pos)++];
        if (static_cast<unsigned char>(c) == 0xFF)
            break;
        if (c == '\n') {
            records->push_back(content);
            return true;
        }
        content += c;
    }
    return false;  // a record cut off by the end of the file is not counted
}

}  // namespace

std::string comment_log_name(int digit)
{
    return "zt/zt-com" + std::to_string(digit) + ".txt";
}

std::string record_template_name(int digit)
{
    return "zt/zt-com" + std::to_string(digit) + ".htm";
}

std::string board_path(const std::string &dir, const char *name)
{
    return dir + "/" + name;
}

bool read_whole_file(const std::string &path, std::string *bytes)
{
    bytes->clear();
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char chunk[65536];
    ssize_t n;
    while ((n = read(fd, chunk, sizeof chunk)) != 0) {
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            close(fd);
            return false;
        }
        bytes->append(chunk, static_cast<std::size_t>(n));
    }
    close(fd);
    return true;
}

bool replace_file(const std::string &path, std::string_view bytes, std::string *problem)
{
    const std::string temporary = path + ".new";
    unlink(temporary.c_str());  // left behind by a run that died
    if (!write_new_file(temporary, bytes, problem))
        return false;
    if (rename(temporary.c_str(), path.c_str()) != 0) {
        *problem = system_problem("cannot put in place", path);
        unlink(temporary.c_str());
        return false;
    }
    return true;
}

std::string empty_comment_log(long long bytes)
{
    char header[HEADER_BYTES + 1];
    snprintf(header, sizeof header, "%08llx\n%08llx\n", bytes, bytes);
    std::string log(header, HEADER_BYTES);
    log.resize(static_cast<std::size_t>(bytes), '\0');
    return log;
}

bool prepare_board(const std::string &dir, long long log_bytes, std::string *problem)
{
    if (log_bytes < MIN_LOG_BYTES || log_bytes > MAX_LOG_BYTES) {
        *problem = "a comment log must have " + std::to_string(MIN_LOG_BYTES) + " to " +
                   std::to_string(MAX_LOG_BYTES) + " bytes";
        return false;
    }
    // Every template is converted before anything is written.
    std::vector<std::pair<std::string, std::string>> files;
    for (const auto &source : default_templates()) {
        std::string bytes, why;
        if (!template_to_board(source.source, &bytes, &why)) {
            *problem = std::string("default template ") + source.name + ", " + why;
            return false;
        }
        files.emplace_back(source.name, bytes);
    }
    files.emplace_back("zt-text.txt", "");
    files.emplace_back("zt-jti.txt", NOBODY_LAST_POSTER);
    for (int digit = 1; digit <= COMMENT_LOGS; digit++)
        files.emplace_back("zt-com" + std::to_string(digit) + ".txt", empty_comment_log(log_bytes));

    if (!make_directories(dir, problem))
        return false;
    const std::string zt = board_path(dir, TEMPLATE_DIR);
    const std::string lock = board_path(dir, LOCK_PARENT);
    for (const auto &path : {zt, lock}) {
        if (exists(path)) {
            *problem = dir + " already holds a board (" + path + " exists); nothing was changed";
            return false;
        }
    }

    const std::string staging = board_path(dir, ".zt-init-" + std::to_string(getpid()));
    if (mkdir(staging.c_str(), 0777) != 0) {
        *problem = system_problem("cannot create", staging);
        return false;
    }
    std::vector<std::string> written;
    for (const auto &[name, bytes] : files) {
        if (!write_new_file(board_path(staging, name), bytes, problem)) {
            remove_tree(staging, written);
            return false;
        }
        written.push_back(name);
    }
    if (!rename_new(staging, zt)) {
        *problem = system_problem("cannot create", zt);
        remove_tree(staging, written);
        return false;
    }
    if (mkdir(lock.c_str(), 0777) != 0) {
        *problem = system_problem("cannot create", lock);
        return false;
    }
    return true;
}

bool read_comment_log(std::string_view log, std::vector<std::string> *records)
{
    records->clear();
    std::size_t pos = 0;
    unsigned long head, old_head;
    if (!read_offset(log, &pos, &head) || !read_offset(log, &pos, &old_head))
        return false;
    if (head < HEADER_BYTES || head > log.size() || old_head < HEADER_BYTES ||
        old_head > log.size())
        return false;

    // The current lap: every line from the head offset to the end of the file.
    pos = head;
    while (pos + 5 <= log.size()) {
        pos += 5;
        if (!read_content(log, &pos, records))
            break;
    }
    // The previous lap: its records that lie wholly below the head offset are intact. The
    // lengths find that boundary; a record whose line does not end where its length says
    // ends the walk, as on the board page, so that a length field that the current lap cut
    // in two lists no garbage.
    const std::string_view below = log.substr(0, head);
    pos = old_head;
    while (pos < below.size()) {
        const std::size_t start = pos;
        unsigned long length;
        if (!read_length(below, &pos, &length) || pos >= below.size())
            break;
        pos++;  // the TAB
        const std::size_t end = start + length;
        if (end <= pos || end > below.size())  // no room for the LF, or over the head
            break;
        if (!read_content(below, &pos, records) || pos != end)
            break;
    }
    return true;
}
