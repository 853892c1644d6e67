// zt-admin: the operator's command. Prepares a board, puts its theme in place, shows its
// state, removes a lock that a dead run left behind, prints the text and the logs as UTF-8,
// and blanks abusive posts. It works on the board's files directly; the web server need not
// run.
//
// Each command is one row of the table in main.cpp and one function in a file of its own
// (init.cpp, status.cpp, ...). The preamble that they share runs first: the options the row
// names, the count of operands and, where the row asks, that DIR holds a board. Whatever the
// command printed must then be written, or the run fails. The helpers below (shared.cpp)
// read the board's files through the board-files and comment-log modules.
//
// Exit status: 0 done, 1 the command failed (the message says why), 2 wrong usage.
#pragma once

// What the commands use all round comes with this header.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "board_files.h"
#include "board_lock.h"
#include "commentlog.h"
#include "sjis.h"

inline constexpr int EXIT_FAILED = 1;
inline constexpr int EXIT_USAGE = 2;

// A lock younger than this may belong to a post that is still being written.
inline constexpr long LOCK_STALE_SECONDS = 60;

// The command line after the command name.
struct Arguments {
    std::vector<std::string> operands;                            // DIR first
    std::map<std::string, std::string, std::less<>> options;  // given: the last value of each

    const std::string &dir() const { return operands[0]; }
    bool has(std::string_view option) const { return value(option) != nullptr; }
    // The option's value ("" for one that takes none), or null when it was not given.
    const std::string *value(std::string_view option) const
    {
        const auto given = options.find(option);
        return given == options.end() ? nullptr : &given->second;
    }
};

// An option of a command: "--name", or, when it needs a value, "--name N" and "--name=N".
struct Option {
    const char *name;
    const char *needs;  // what its value is ("a number of bytes"), or null for none
};

struct Command {
    const char *name;
    std::string usage;            // its lines of the usage text
    std::vector<Option> options;
    const char *operands;         // what it takes, as "log takes ..." says when the count is wrong
    std::size_t least, most;      // how many operands, DIR included
    bool needs_board;             // the preamble refuses a DIR that holds no board
    int (*run)(const Arguments &arguments);
};

// The commands, each in its own file.
int init_command(const Arguments &arguments);
int theme_command(const Arguments &arguments);
int status_command(const Arguments &arguments);
int unlock_command(const Arguments &arguments);
int export_command(const Arguments &arguments);
int redact_command(const Arguments &arguments);
int resize_command(const Arguments &arguments);
int rollback_command(const Arguments &arguments);
int log_command(const Arguments &arguments);
int check_command(const Arguments &arguments);
int rate_command(const Arguments &arguments);

// The rate of posts of the board in dir and how it stands, in one line, as status and rate
// show it.
std::string describe_rate(const std::string &dir);

// The lock of the board in dir and who holds it, in one line, as status and unlock show it;
// *holder gets who.
std::string describe_lock(const std::string &dir, LockHolder *holder);

// Becomes the owner of the board in dir when run as root, before anything is touched: what
// zt-admin then creates belongs to the web server's user as the programs need, and no link
// planted in the board leads anywhere that user could not write. False, with the reason said,
// when that cannot be done.
bool become_board_owner(const std::string &dir);

// "zt-admin: " and the message, on standard error.
void message(const char *format, ...) __attribute__((format(printf, 1, 2)));

// The message and the usage text on standard error; EXIT_USAGE.
int usage_error(const std::string &text);

// The text that printf would write, up to 511 bytes.
std::string format(const char *pattern, ...) __attribute__((format(printf, 1, 2)));

// "every post is refused (code N)", of the post's result code (post.h).
std::string refused(int code);

// A whole decimal number without sign, or -1.
long long plain_number(const std::string &s);

// "1 post", "2 posts".
std::string count(long long n, const char *thing);

// A time with its zone named: in the zone of TZ when it is set, as the operator sets it for
// the board (TZ=JST-9 zt-admin status), else in UTC, never in the machine's zone, which need
// not be the board's.
std::string board_time(std::time_t t);

// dir + "/" + name.
std::string board_path(const std::string &dir, std::string_view name);

// The names of comment log digit and of its record template, as the programs name them.
std::string comment_log_name(int digit);
std::string record_template_name(int digit);

// Writes a file that must not exist yet; with like, gives it like's owner and mode first,
// through the descriptor, so that nothing put in the file's place meanwhile gets them. False,
// with *problem, on failure.
bool write_new_file(const std::string &path, std::string_view bytes, std::string *problem,
                    const struct stat *like = nullptr);

// Reads a whole file through the board-files module. False when it cannot be read or is no
// regular file.
bool read_whole_file(const std::string &path, std::string *bytes);

// The bytes of an empty comment log of that size: both offsets at its end, NUL bytes below.
std::string empty_comment_log(long long bytes);

// Puts bytes in place as the file path: written beside it and renamed over it, so that a
// reader sees the old file or the new one, never a part. False, with *problem, on failure.
bool replace_file(const std::string &path, std::string_view bytes, std::string *problem);

// Whether lock is held; otherwise says why not (a holder that runs, one of unknown origin, or
// the errno of the lock that could not be made) and that nothing was changed.
bool lock_taken(const BoardLock &lock, const std::string &dir);

// The text of the board in dir, held for a command that changes it: the posting lock taken as
// a post takes it, then the text opened for reading and writing and read whole. When held()
// is false, the reason has been said (a post holds the lock: the board is busy; or the lock or
// the text cannot be had) and nothing was changed.
class LockedText {
public:
    explicit LockedText(const std::string &dir);
    bool held() const { return text_.fd >= 0; }
    int fd() const { return text_.fd; }
    const std::string &bytes() const { return bytes_; }
    long long posts() const { return static_cast<long long>(bytes_.size()) / UNIT_BYTES; }

private:
    const BoardLock lock_;
    std::string bytes_;
    const BoardFile text_;
};

// "post 3 (page 1) \"あいうえ\"": the post at offset of text, for what a command says of it.
std::string describe_post(std::string_view text, long long offset);

// A record of the current comment log, as a walk meets it.
struct LogRecord {
    long long offset;     // where it begins: its length field
    std::string content;  // as stored, without its LF
    bool whole;           // its length field gives its length, and its LF ends it
};

// The records of the current comment log, newest first, as the board page lists them.
std::vector<LogRecord> walk_comment_log();

// The records of the comment log at path, newest first, exactly as the board page lists them
// (a header that the page would replace is taken as the fresh one), each without its LF.
// Reads only. False when the log cannot be opened; *state tells what its header holds.
bool list_comment_log(const std::string &path, std::vector<std::string> *records,
                      CommentLog_State *state);
