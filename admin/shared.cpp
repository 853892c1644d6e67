// What zt-admin's commands share: messages, numbers, times, and the board's files.
#include <fcntl.h>
#include <grp.h>

#include <cstdarg>
#include <cstdlib>

#include "admin.h"

namespace {

// Collects a walk's pieces into records.
void collect(const CommentLog_Piece &piece, void *context)
{
    auto *records = static_cast<std::vector<LogRecord> *>(context);
    if (piece.first)
        records->push_back({piece.offset, {}, false});
    LogRecord &record = records->back();
    record.content.append(piece.bytes, piece.last ? piece.size - 1 : piece.size);
    record.whole = piece.last && piece.length == static_cast<long long>(record.content.size()) +
                                                     COMMENT_RECORD_FRAME_BYTES;
}

std::string digit_name(const char *pattern, int digit)
{
    char name[64];
    snprintf(name, sizeof name, pattern, '0' + digit);
    return name;
}

// The text of the board in dir opened for reading and writing and read into *bytes, once the
// lock is held: the descriptor, or -1 with the reason said.
int open_locked_text(const BoardLock &lock, const std::string &dir, std::string *bytes)
{
    if (!lock_taken(lock, dir))
        return -1;
    const std::string path = board_path(dir, TEXT_FILE);
    const int fd = open_board_file(path.c_str(), O_RDWR);
    if (fd < 0 || !read_whole_file(path, bytes)) {
        message("cannot open %s: %s", path.c_str(), strerror(errno));
        if (fd >= 0)
            (void)close(fd);  // nothing was written
        return -1;
    }
    return fd;
}

}  // namespace

void message(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    fputs("zt-admin: ", stderr);
    vfprintf(stderr, format, args);
    fputc('\n', stderr);
    va_end(args);
}

std::string format(const char *pattern, ...)
{
    char text[512];
    va_list args;
    va_start(args, pattern);
    vsnprintf(text, sizeof text, pattern, args);
    va_end(args);
    return text;
}

std::string refused(int code)
{
    return "every post is refused (code " + std::to_string(code) + ")";
}

long long plain_number(const std::string &s)
{
    if (s.empty() || s.size() > 12 || s.find_first_not_of("0123456789") != std::string::npos)
        return -1;
    return strtoll(s.c_str(), nullptr, 10);
}

std::string count(long long n, const char *thing)
{
    return std::to_string(n) + " " + thing + (n == 1 ? "" : "s");
}

std::string board_time(std::time_t t)
{
    const char *zone = getenv("TZ");
    const bool local = zone && *zone;
    struct tm fields;
    char text[64];
    if (!(local ? localtime_r(&t, &fields) : gmtime_r(&t, &fields)) ||
        !strftime(text, sizeof text, local ? "%Y-%m-%d %H:%M:%S %Z" : "%Y-%m-%d %H:%M:%S UTC",
                  &fields))
        return "?";
    return local ? std::string(text) + " (TZ=" + zone + ")" : text;
}

std::string board_path(const std::string &dir, std::string_view name)
{
    return dir + "/" + std::string(name);
}

std::string comment_log_name(int digit)
{
    return digit_name(COMMENT_LOG, digit);
}

std::string record_template_name(int digit)
{
    return digit_name(RECORD_TEMPLATE, digit);
}

bool write_new_file(const std::string &path, std::string_view bytes, std::string *problem,
                    const struct stat *like)
{
    FILE *file = fopen(path.c_str(), "wbxe");  // x: only a new file; e: closed on exec
    if (!file) {
        *problem = "cannot create " + path + ": " + strerror(errno);
        return false;
    }
    const int fd = fileno(file);
    const bool written = (!like || (fchown(fd, like->st_uid, like->st_gid) == 0 &&
                                    fchmod(fd, like->st_mode & 0777) == 0)) &&
                         fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (fclose(file) != 0 || !written) {
        *problem = "cannot write " + path + ": " + strerror(errno);
        return false;
    }
    return true;
}

bool read_whole_file(const std::string &path, std::string *bytes)
{
    std::size_t n;
    char *read = read_board_file(path.c_str(), &n);
    const bool readable = read != nullptr;
    bytes->assign(readable ? read : "", readable ? n : 0);
    free(read);
    return readable;
}

std::string empty_comment_log(long long bytes)
{
    std::string log(static_cast<std::size_t>(bytes), '\0');
    CommentLog_FormatHeader(log.data(), bytes, bytes);
    return log;
}

bool replace_file(const std::string &path, std::string_view bytes, std::string *problem)
{
    const std::string temporary = path + ".new";
    (void)unlink(temporary.c_str());  // left behind by a run that died; mostly there is none
    if (!write_new_file(temporary, bytes, problem))
        return false;
    if (rename(temporary.c_str(), path.c_str()) != 0) {
        *problem = "cannot put in place " + path + ": " + strerror(errno);
        (void)unlink(temporary.c_str());  // the old file stays in place either way
        return false;
    }
    return true;
}

bool become_board_owner(const std::string &dir)
{
    if (geteuid() != 0)
        return true;
    const std::string zt = board_path(dir, TEMPLATE_DIR);
    struct stat st;
    if (lstat(zt.c_str(), &st) != 0)
        return true;  // no board: nothing of it is touched
    if (!S_ISDIR(st.st_mode)) {
        message("%s is no directory but a link or a file in its place; as root, zt-admin works "
                "only on a board's own directory",
                zt.c_str());
        return false;
    }
    if (st.st_uid == 0)
        return true;
    const gid_t group = st.st_gid;
    if (setgroups(1, &group) != 0 || setgid(st.st_gid) != 0 || setuid(st.st_uid) != 0) {
        message("cannot become %s's owner (user %u): %s; nothing was changed", zt.c_str(),
                static_cast<unsigned>(st.st_uid), strerror(errno));
        return false;
    }
    return true;
}

bool lock_taken(const BoardLock &lock, const std::string &dir)
{
    if (lock.held())
        return true;
    const std::string path = board_path(dir, LOCK_DIR);
    if (lock.holder() == LOCK_LIVE)
        message("the board is busy: a post or zt-admin holds the lock %s; nothing was changed. "
                "Try again in a moment",
                path.c_str());
    else if (lock.holder() == LOCK_UNKNOWN)
        message("the lock %s was not taken by zt (another program's, or a zt of an older "
                "version); nothing was changed. zt-admin status tells its age, zt-admin unlock "
                "removes it",
                path.c_str());
    else
        message("cannot take the lock %s: %s; nothing was changed", path.c_str(),
                strerror(lock.error()));
    return false;
}

LockedText::LockedText(const std::string &dir)
    : lock_(board_path(dir, LOCK_DIR).c_str()),
      text_(open_locked_text(lock_, dir, &bytes_))
{
}

std::string describe_post(std::string_view text, long long offset)
{
    return format("post %lld (page %lld) \"%s\"", offset / UNIT_BYTES + 1,
                  offset / TEXT_PAGE_BYTES + 1,
                  sjis_to_utf8(text.substr(offset, UNIT_BYTES)).c_str());
}

std::vector<LogRecord> walk_comment_log()
{
    std::vector<LogRecord> records;
    CommentLog_Walk(collect, &records);
    return records;
}

bool list_comment_log(const std::string &path, std::vector<std::string> *records,
                      CommentLog_State *state)
{
    records->clear();
    if (CommentLog_Inspect(path.c_str(), state) != 0)
        return false;
    for (LogRecord &record : walk_comment_log())
        records->push_back(std::move(record.content));
    CommentLog_Close();
    return true;
}
