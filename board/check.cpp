// Checking a board's files the way the programs read them.
#include "check.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string_view>

#include "board_dir.h"
#include "template_source.h"

namespace {

constexpr std::size_t HEADER_BYTES = 18;
constexpr std::size_t LENGTH_FIELD_BYTES = 5;  // four hex digits and a TAB
constexpr std::size_t RECORD_FRAME_BYTES = 6;  // the length field and the LF

using Problems = std::vector<std::string>;

std::string format(const char *pattern, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char *pattern, ...)
{
    char text[512];
    va_list args;
    va_start(args, pattern);
    vsnprintf(text, sizeof text, pattern, args);
    va_end(args);
    return text;
}

bool is_space(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

int hex_value(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// A header offset as the comment log reads it: white space, then 1 to 8 hex digits.
bool read_offset(std::string_view log, std::size_t *pos, unsigned long long *value)
{
    while (*pos < log.size() && is_space(log[*pos]))
        ++*pos;
    int digits = 0;
    unsigned long long n = 0;
    for (; digits < 8 && *pos < log.size() && hex_value(log[*pos]) >= 0; digits++, ++*pos)
        n = n << 4 | static_cast<unsigned>(hex_value(log[*pos]));
    *value = n;
    return digits > 0;
}

// Where a file is missing, or is not a regular file, or cannot be read: the problem, or
// nothing when it reads. bytes gets its content.
bool read_regular(const std::string &dir, const std::string &name, const char *when_missing,
                  std::string *bytes, Problems *problems)
{
    const std::string path = board_path(dir, name);
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) {
        problems->push_back(name + ": missing" + when_missing);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        problems->push_back(name + ": not a regular file" + when_missing);
        return false;
    }
    if (!read_whole_file(path, bytes)) {
        problems->push_back(name + ": cannot be read: " + strerror(errno));
        return false;
    }
    return true;
}

void check_text(const std::string &dir, Problems *problems)
{
    std::string text;
    if (!read_regular(dir, TEXT_FILE, ": every post is refused (code -11)", &text, problems))
        return;
    if (access(board_path(dir, TEXT_FILE).c_str(), W_OK) != 0)
        problems->push_back(std::string(TEXT_FILE) +
                            ": cannot be written: every post is refused (code -11)");
    if (const std::size_t cut = text.size() % UNIT_BYTES; cut != 0)
        problems->push_back(format("%s: %zu bytes, not a whole number of 8-byte posts: the last "
                                   "%zu bytes are part of a post",
                                   TEXT_FILE, text.size(), cut));
}

void check_last_poster(const std::string &dir, Problems *problems)
{
    std::string bytes;
    if (!read_regular(dir, LAST_POSTER_FILE, ": every post is refused (code -8)", &bytes,
                      problems))
        return;
    std::size_t lines = 0;
    for (char c : bytes)
        lines += c == '\n';
    if (lines != 2 || bytes.back() != '\n')
        problems->push_back(format("%s: not two lines (name and address, each ended by a line "
                                   "end) but %zu bytes holding %zu line ends",
                                   LAST_POSTER_FILE, bytes.size(), lines));
}

// The current lap: records without gaps from the head offset to the end of the file, each a
// length of four hex digits, a TAB, one line of content and its LF where the length says.
void check_current_lap(const std::string &name, std::string_view log, std::size_t head,
                       Problems *problems)
{
    for (std::size_t at = head; at < log.size();) {
        unsigned long length = 0;
        bool digits = at + LENGTH_FIELD_BYTES <= log.size() && log[at + 4] == '\t';
        for (std::size_t i = 0; digits && i < 4; i++) {
            const int d = hex_value(log[at + i]);
            digits = d >= 0;
            length = length << 4 | static_cast<unsigned long>(d < 0 ? 0 : d);
        }
        if (!digits || length < RECORD_FRAME_BYTES) {
            problems->push_back(format("%s: the record at offset %zu has no length field: the "
                                       "records from the head offset %zu do not reach the end "
                                       "of the file",
                                       name.c_str(), at, head));
            return;
        }
        const std::size_t end = at + length;
        const std::size_t line_end = log.find('\n', at + LENGTH_FIELD_BYTES);
        if (end > log.size() || line_end != end - 1) {
            problems->push_back(format("%s: the record at offset %zu does not end where its "
                                       "length (%lu bytes) says",
                                       name.c_str(), at, length));
            return;
        }
        at = end;
    }
}

void check_log(const std::string &dir, int digit, Problems *problems)
{
    const std::string name = comment_log_name(digit);
    std::string log;
    if (!read_regular(dir, name, ": it gets no records", &log, problems))
        return;
    if (log.size() < HEADER_BYTES) {
        problems->push_back(format("%s: %zu bytes, too short for its header: it gets no records",
                                   name.c_str(), log.size()));
        return;
    }
    std::size_t pos = 0;
    unsigned long long head, old_head;
    if (!read_offset(log, &pos, &head) || !read_offset(log, &pos, &old_head)) {
        problems->push_back(name + ": the header cannot be read: the next post or page view "
                                   "writes a fresh one, and the records shown are garbage until "
                                   "a new lap begins");
        return;
    }
    if (head < HEADER_BYTES || head > log.size() || old_head < HEADER_BYTES ||
        old_head > log.size()) {
        problems->push_back(format("%s: the header's offsets %llu and %llu do not both lie in "
                                   "18 to %zu, the file's size",
                                   name.c_str(), head, old_head, log.size()));
        return;
    }
    check_current_lap(name, log, static_cast<std::size_t>(head), problems);
}

void check_templates(const std::string &dir, Problems *problems)
{
    for (const auto &source : default_templates()) {
        const std::string name = std::string(TEMPLATE_DIR) + "/" + source.name;
        std::string bytes;
        const bool record = std::string_view(source.name).starts_with("zt-com");
        read_regular(dir, name, record ? ": its log gets no records" : ": its page shows an error",
                     &bytes, problems);
    }
}

void check_lock(const std::string &dir, Problems *problems)
{
    struct stat st;
    if (stat(board_path(dir, LOCK_PARENT).c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        problems->push_back(std::string(LOCK_PARENT) +
                            "/: missing: every post is refused (code -5)");
        return;
    }
    if (lstat(board_path(dir, LOCK_DIR).c_str(), &st) != 0)
        return;
    if (!S_ISDIR(st.st_mode)) {
        problems->push_back(std::string(LOCK_DIR) +
                            ": not a directory but a file in its place: every post is refused "
                            "(code -5) until it is removed");
        return;
    }
    const long long age = static_cast<long long>(time(nullptr) - st.st_mtime);
    problems->push_back(format("%s: present, taken %lld s ago: every post is refused (code -5); "
                               "if no post is running, zt-admin unlock removes it",
                               LOCK_DIR, age < 0 ? 0 : age));
}

}  // namespace

std::vector<std::string> check_board(const std::string &dir)
{
    Problems problems;
    struct stat st;
    if (stat(board_path(dir, TEMPLATE_DIR).c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        problems.push_back(std::string(TEMPLATE_DIR) + "/: missing: " + dir + " holds no board");
        return problems;
    }
    check_text(dir, &problems);
    check_last_poster(dir, &problems);
    for (int digit = 1; digit <= COMMENT_LOGS; digit++)
        check_log(dir, digit, &problems);
    check_templates(dir, &problems);
    check_lock(dir, &problems);
    return problems;
}

int check_command(const std::vector<std::string> &operands)
{
    if (operands.size() != 1) {
        fputs("zt-admin: check takes one directory\nusage: zt-admin check DIR\n", stderr);
        return 2;
    }
    const std::vector<std::string> problems = check_board(operands[0]);
    for (const auto &problem : problems)
        printf("%s\n", problem.c_str());
    if (problems.empty())
        printf("the board in %s is sound\n", operands[0].c_str());
    return problems.empty() ? 0 : 1;
}
