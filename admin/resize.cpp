// zt-admin resize: gives every comment log of a board in use a new size, under the posting
// lock. Each log keeps its newest whole records that fit, newest first as before, written as
// the post that made them would have written them into an empty log of the new size: the
// comment log's own append places them. Bytes that the board page lists as lines but that no
// length field frames (a log whose header was lost) are not kept. The new log is written
// beside the old one, given its owner and mode (the web server's user writes it), and renamed
// over it, so that a page being shown reads the old log or the new one, and a failure leaves
// the old one in place.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "admin.h"
#include "log_size.h"
#include "template_check.h"

namespace {

// Writes log digit of dir anew at size bytes, with the newest of its records that fit.
// False, with *problem, on failure; the old log then stays.
bool resize_log(const std::string &dir, int digit, long long size, std::string *problem)
{
    const std::string path = board_path(dir, comment_log_name(digit));
    CommentLog_State state;
    struct stat old;
    if (lstat(path.c_str(), &old) != 0 || CommentLog_Inspect(path.c_str(), &state) != 0) {
        *problem = "cannot read " + path + ": " + strerror(errno);
        return false;
    }
    std::vector<std::string> records;
    for (LogRecord &record : walk_comment_log())
        if (record.whole)
            records.push_back(std::move(record.content));
    CommentLog_Close();
    std::size_t kept = 0;
    for (long long room = size - COMMENT_HEADER_BYTES; kept < records.size(); kept++) {
        room -= static_cast<long long>(records[kept].size()) + COMMENT_RECORD_FRAME_BYTES;
        if (room < 0)
            break;
    }
    const std::string temporary = path + ".new";
    (void)unlink(temporary.c_str());  // left behind by a run that died; mostly there is none
    bool written = write_new_file(temporary, empty_comment_log(size), problem, &old);
    if (written) {
        written = CommentLog_Open(temporary.c_str()) == 0;
        for (std::size_t i = kept; written && i-- > 0;)  // oldest first
            written = CommentLog_Append(records[i].data(), records[i].size()) == 0;
        CommentLog_Close();
        if (!written)
            *problem = "cannot write " + temporary + ": " + strerror(errno);
    }
    if (written && rename(temporary.c_str(), path.c_str()) != 0) {
        *problem = "cannot put in place " + path + ": " + strerror(errno);
        written = false;
    }
    if (!written) {
        (void)unlink(temporary.c_str());
        return false;
    }
    printf("%s: %lld bytes, %s of %zu kept\n", comment_log_name(digit).c_str(), size,
           count(static_cast<long long>(kept), "record").c_str(), records.size());
    return true;
}

}  // namespace

int resize_command(const Arguments &arguments)
{
    const std::string &dir = arguments.dir();
    const std::string *given = arguments.value("--log-bytes");
    if (!given)
        return usage_error("resize needs --log-bytes N, the logs' new size");
    // Where no template bounds the records, a log still holds eight of them, of no content.
    const long long size = plain_number(*given), least = smallest_log(COMMENT_RECORD_FRAME_BYTES);
    if (size < least || size > MAX_LOG_BYTES)
        return usage_error(format("--log-bytes %s: a comment log has %lld to %lld bytes",
                                  given->c_str(), least, MAX_LOG_BYTES));
    // Every log's own template bounds its records; the size must hold eight of the largest.
    for (int digit = 1; digit <= COMMENT_LOGS; digit++) {
        std::string bytes;
        if (!read_whole_file(board_path(dir, record_template_name(digit)), &bytes))
            continue;  // its log gets no records
        const LargestRecord largest = largest_record(bytes);
        if (largest.bytes >= 0 && size < smallest_log(largest.bytes)) {
            message("--log-bytes %lld: %s can make records of %lld bytes, and a log that shows "
                    "%lld of them has at least %lld bytes; nothing was changed",
                    size, record_template_name(digit).c_str(), largest.bytes, RECORDS_PER_LOG,
                    smallest_log(largest.bytes));
            return EXIT_FAILED;
        }
    }
    const BoardLock lock(board_path(dir, LOCK_DIR).c_str());
    if (!lock_taken(lock, dir))
        return EXIT_FAILED;
    for (int digit = 1; digit <= COMMENT_LOGS; digit++) {
        std::string problem;
        struct stat st;
        if (lstat(board_path(dir, comment_log_name(digit)).c_str(), &st) != 0 && errno == ENOENT)
            continue;  // no log, no records: nothing to resize
        if (!resize_log(dir, digit, size, &problem)) {
            message("%s", problem.c_str());
            return EXIT_FAILED;
        }
    }
    return 0;
}
