// zt-admin: the operator's command. Prepares a board, puts its theme in place, shows its
// state, removes a lock that a dead run left behind, prints the text and the logs as UTF-8,
// and blanks abusive posts. It works on the board's files directly; the web server need not
// run.
//
// Exit status: 0 done, 1 the command failed (the message says why), 2 wrong usage.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "board_dir.h"
#include "board_lock.h"
#include "check.h"
#include "kanji.h"
#include "sjis.h"
#include "template_check.h"
#include "template_source.h"

namespace {

constexpr int EXIT_FAILED = 1;
constexpr int EXIT_USAGE = 2;

// A lock younger than this may belong to a post that is still being written.
constexpr long LOCK_STALE_SECONDS = 60;

constexpr const char *USAGE =
    "usage: zt-admin COMMAND DIR ...\n"
    "  init DIR [--log-bytes N]  prepare a new board in DIR (comment logs of N bytes, "
    "default 49152)\n"
    "  theme DIR TEXT            put the theme in place (UTF-8, stored as Shift_JIS)\n"
    "  theme DIR --clear         remove the theme: the board shows its default theme\n"
    "  status DIR                show the text, theme, last poster, lock, logs and templates\n"
    "  unlock DIR [--force]      remove a lock left by a post that died (older than a minute)\n"
    "  export DIR [--numbers]    print the whole text as UTF-8, one text page per paragraph\n"
    "                            (--numbers: one post a line, after its number)\n"
    "  redact DIR N...           replace posts N... (from 1, as export --numbers shows) with\n"
    "                            four full-width spaces\n"
    "  log DIR D                 print comment log D (1 to 8) as UTF-8, newest first\n"
    "  check DIR                 verify the board's files after a crash or a full disk\n";

void message(const char *format, ...) __attribute__((format(printf, 1, 2)));
void message(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    fputs("zt-admin: ", stderr);
    vfprintf(stderr, format, args);
    fputc('\n', stderr);
    va_end(args);
}

int usage_error(const std::string &text)
{
    fprintf(stderr, "zt-admin: %s\n%s", text.c_str(), USAGE);
    return EXIT_USAGE;
}

// The command line after the command: operands, and the options the command knows.
struct Arguments {
    std::vector<std::string> operands;
    bool clear = false;
    bool force = false;
    bool numbers = false;
    bool has_log_bytes = false;
    std::string log_bytes;
};

// Splits argv. False, with a message given, for an option the command does not know.
bool parse(const std::string &command, int argc, char **argv, Arguments *arguments)
{
    bool options = true;
    for (int i = 2; i < argc; i++) {
        const std::string_view arg = argv[i];
        if (!options || arg.size() < 2 || !arg.starts_with("--")) {
            arguments->operands.emplace_back(arg);
        } else if (arg == "--") {
            options = false;
        } else if (command == "theme" && arg == "--clear") {
            arguments->clear = true;
        } else if (command == "unlock" && arg == "--force") {
            arguments->force = true;
        } else if (command == "export" && arg == "--numbers") {
            arguments->numbers = true;
        } else if (command == "init" && arg == "--log-bytes") {
            if (i + 1 == argc) {
                usage_error("--log-bytes needs a number of bytes");
                return false;
            }
            arguments->has_log_bytes = true;
            arguments->log_bytes = argv[++i];
        } else if (command == "init" && arg.starts_with("--log-bytes=")) {
            arguments->has_log_bytes = true;
            arguments->log_bytes = arg.substr(12);
        } else {
            usage_error(std::string(arg) + ": not an option of " + command);
            return false;
        }
    }
    return true;
}

// A whole decimal number without sign, or -1.
long long plain_number(const std::string &s)
{
    if (s.empty() || s.size() > 12 || s.find_first_not_of("0123456789") != std::string::npos)
        return -1;
    return strtoll(s.c_str(), nullptr, 10);
}

// True when dir holds a board; otherwise says so.
bool is_board(const std::string &dir)
{
    struct stat st;
    if (stat(board_path(dir, TEMPLATE_DIR).c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        return true;
    if (stat(dir.c_str(), &st) != 0)
        message("%s: no such directory", dir.c_str());
    else
        message("%s holds no board (there is no %s/zt/); prepare one with: zt-admin init %s",
                dir.c_str(), dir.c_str(), dir.c_str());
    return false;
}

// A time with its zone named. The records carry the zone that the web server gives the
// programs in TZ, which zt-admin cannot know: with TZ set, as the operator sets it for the
// board (TZ=JST-9 zt-admin status), the time is in that zone; without, in UTC, never in the
// machine's zone, which need not be the board's.
std::string board_time(time_t t)
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

// "1 post", "2 posts".
std::string count(long long n, const char *thing)
{
    return std::to_string(n) + " " + thing + (n == 1 ? "" : "s");
}

int init(const Arguments &arguments)
{
    if (arguments.operands.size() != 1)
        return usage_error("init takes one directory");
    long long log_bytes = DEFAULT_LOG_BYTES;
    if (arguments.has_log_bytes) {
        log_bytes = plain_number(arguments.log_bytes);
        const long long largest = largest_default_record();
        if (log_bytes < smallest_log(largest) || log_bytes > MAX_LOG_BYTES) {
            message("--log-bytes %s: a comment log has %lld to %lld bytes (the smallest holds %lld "
                    "of the largest records, %lld bytes, that a post can add)",
                    arguments.log_bytes.c_str(), smallest_log(largest), MAX_LOG_BYTES,
                    RECORDS_PER_LOG, largest);
            return EXIT_USAGE;
        }
    }
    const std::string &dir = arguments.operands[0];
    std::string problem;
    if (!prepare_board(dir, log_bytes, &problem)) {
        message("%s", problem.c_str());
        return EXIT_FAILED;
    }
    printf("prepared a board in %s (comment logs of %lld bytes)\n", dir.c_str(), log_bytes);
    printf("put zt-write, zt-view and zt-read into %s and let the web server run them there\n",
           dir.c_str());
    return 0;
}

int theme(const Arguments &arguments)
{
    const std::size_t wanted = arguments.clear ? 1 : 2;
    if (arguments.operands.size() != wanted)
        return usage_error(arguments.clear ? "theme --clear takes one directory"
                                           : "theme takes a directory and one text");
    const std::string &dir = arguments.operands[0];
    if (!is_board(dir))
        return EXIT_FAILED;
    const std::string path = board_path(dir, THEME_FILE);
    if (arguments.clear) {
        if (unlink(path.c_str()) == 0) {
            printf("removed the theme: the board shows its default theme\n");
        } else if (errno == ENOENT) {
            printf("no theme was set: the board shows its default theme\n");
        } else {
            message("cannot remove %s: %s", path.c_str(), strerror(errno));
            return EXIT_FAILED;
        }
        return 0;
    }
    std::string sjis, problem;
    if (!utf8_to_sjis(arguments.operands[1], &sjis, &problem)) {
        message("the theme cannot be used: %s", problem.c_str());
        return EXIT_FAILED;
    }
    if (!replace_file(path, sjis, &problem)) {
        message("%s", problem.c_str());
        return EXIT_FAILED;
    }
    printf("the theme is in place (%zu bytes)\n", sjis.size());
    if (sjis.empty())
        message("warning: an empty theme shows nothing; theme --clear brings back the default");
    if (sjis.size() > THEME_BYTES) {
        const std::size_t whole = Tolvak_SjisWhole(sjis.data(), sjis.size(), THEME_BYTES);
        message("warning: the theme has %zu bytes and the board shows only its first %d: "
                "\"%s\"%s",
                sjis.size(), THEME_BYTES, sjis_to_utf8(sjis.substr(0, whole)).c_str(),
                whole < THEME_BYTES ? ", and half of the character after it" : "");
    }
    return 0;
}

void status_text(const std::string &dir)
{
    const long long size = text_size(board_path(dir, TEXT_FILE).c_str());
    if (size < 0) {
        printf("text         missing: every post is refused (code -11)\n");
        return;
    }
    // Posts are numbered from 1, as export --numbers shows them and redact takes them.
    const long long posts = size / UNIT_BYTES, pages = text_page_count(size);
    const std::string numbered = posts == 0   ? ""
                                 : posts == 1 ? ", numbered 1"
                                              : ", numbered 1 to " + std::to_string(posts);
    const std::string page =
        size > 0 && current_page_bytes(size) == 0
            ? "full: the next post begins page " + std::to_string(page_being_written(size))
            : "page " + std::to_string(page_being_written(size)) + " is being written, " +
                  count(units_left(size), "post") + " left";
    printf("text         %lld bytes: %s%s; %s, %s\n", size, count(posts, "post").c_str(),
           numbered.c_str(), count(pages, "page").c_str(), page.c_str());
    if (size % UNIT_BYTES != 0)
        printf("             warning: not a whole number of 8-byte posts\n");
}

void status_theme(const std::string &dir)
{
    std::string theme;
    if (!read_whole_file(board_path(dir, THEME_FILE), &theme)) {
        printf("theme        none: the board shows its default theme\n");
        return;
    }
    const std::string shown = theme.substr(0, THEME_BYTES);
    printf("theme        \"%s\" (%zu bytes%s)\n", sjis_to_utf8(shown).c_str(), theme.size(),
           theme.size() > THEME_BYTES ? ", the first 60 shown" : "");
}

void status_last_poster(const std::string &dir)
{
    std::string bytes;
    if (!read_whole_file(board_path(dir, LAST_POSTER_FILE), &bytes)) {
        printf("last poster  missing: every post is refused (code -8)\n");
        return;
    }
    if (bytes == NOBODY_LAST_POSTER) {
        printf("last poster  nobody yet\n");
        return;
    }
    const LastPoster last = split_last_poster(bytes);
    printf("last poster  \"%s\" from %s\n", sjis_to_utf8(last.name).c_str(),
           sjis_to_utf8(last.address).c_str());
}

void status_lock(const std::string &dir)
{
    struct stat st;
    if (stat(board_path(dir, LOCK_PARENT).c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        printf("lock         lock/ is missing: every post is refused (code -5)\n");
        return;
    }
    if (lstat(board_path(dir, LOCK_DIR).c_str(), &st) != 0) {
        printf("lock         free\n");
        return;
    }
    const long long age = static_cast<long long>(time(nullptr) - st.st_mtime);
    printf("lock         held since %s, %lld s ago%s\n", board_time(st.st_mtime).c_str(), age,
           age >= LOCK_STALE_SECONDS
               ? ": every post is refused (code -5) until zt-admin unlock removes it"
               : "");
}

void status_logs(const std::string &dir)
{
    for (int digit = 1; digit <= COMMENT_LOGS; digit++) {
        std::vector<std::string> records;
        CommentLog_State log{};  // size 0 when the log is missing: no warning then
        if (!list_comment_log(board_path(dir, comment_log_name(digit)), &records, &log))
            printf("log %d        missing: gets no records\n", digit);
        else if (log.header == COMMENT_HEADER_SHORT)
            printf("log %d        %lld bytes, too short for its header: gets no records\n", digit,
                   log.size);
        else if (log.header != COMMENT_HEADER_SOUND)
            printf("log %d        %lld bytes, header %s: the programs will start it afresh\n",
                   digit, log.size,
                   log.header == COMMENT_HEADER_UNREADABLE ? "unreadable" : "out of range");
        else
            printf("log %d        %lld bytes, %zu record%s\n", digit, log.size, records.size(),
                   records.size() == 1 ? "" : "s");
        if (const std::string warning = log_size_warning(dir, digit, log.size); !warning.empty())
            printf("             warning: this log %s\n", warning.c_str());
    }
}

void status_templates(const std::string &dir)
{
    int sound = 0;
    for (const auto &source : default_templates()) {
        const std::string name = std::string(TEMPLATE_DIR) + "/" + source.name;
        std::string bytes;
        TemplateKind kind;
        template_kind(source.name, &kind);
        if (!read_whole_file(board_path(dir, name), &bytes)) {
            printf("template     %s missing%s\n", name.c_str(),
                   kind == TemplateKind::record ? ": its log gets no records"
                                                : ": its page shows an error");
            continue;
        }
        const auto problems = check_template(kind, bytes);
        for (const auto &problem : problems)
            printf("template     %s %s\n", name.c_str(), problem.c_str());
        sound += problems.empty();
    }
    printf("templates    %d of %zu sound\n", sound, default_templates().size());
}

int status(const Arguments &arguments)
{
    if (arguments.operands.size() != 1)
        return usage_error("status takes one directory");
    const std::string &dir = arguments.operands[0];
    if (!is_board(dir))
        return EXIT_FAILED;
    char *absolute = realpath(dir.c_str(), nullptr);
    printf("board        %s\n", absolute ? absolute : dir.c_str());
    free(absolute);
    status_text(dir);
    status_theme(dir);
    status_last_poster(dir);
    status_lock(dir);
    status_logs(dir);
    status_templates(dir);
    return 0;
}

int unlock(const Arguments &arguments)
{
    if (arguments.operands.size() != 1)
        return usage_error("unlock takes one directory");
    const std::string &dir = arguments.operands[0];
    if (!is_board(dir))
        return EXIT_FAILED;
    const std::string lock = board_path(dir, LOCK_DIR);
    struct stat st;
    if (lstat(lock.c_str(), &st) != 0) {
        printf("the board is not locked\n");
        return 0;
    }
    const long long age = static_cast<long long>(time(nullptr) - st.st_mtime);
    if (age < LOCK_STALE_SECONDS && !arguments.force) {
        message("the lock was taken %lld s ago: a post may still be running. Try again in a "
                "minute, or use --force if no post is running",
                age < 0 ? 0 : age);
        return EXIT_FAILED;
    }
    if (rmdir(lock.c_str()) != 0) {
        message("cannot remove %s: %s", lock.c_str(), strerror(errno));
        return EXIT_FAILED;
    }
    printf("removed the lock taken at %s, %lld s ago: the board takes posts again\n",
           board_time(st.st_mtime).c_str(), age);
    return 0;
}

int export_text(const Arguments &arguments)
{
    if (arguments.operands.size() != 1)
        return usage_error("export takes one directory");
    const std::string &dir = arguments.operands[0];
    if (!is_board(dir))
        return EXIT_FAILED;
    std::string text;
    if (!read_whole_file(board_path(dir, TEXT_FILE), &text)) {
        message("cannot read %s: %s", board_path(dir, TEXT_FILE).c_str(), strerror(errno));
        return EXIT_FAILED;
    }
    const std::string_view all = text;
    if (arguments.numbers) {
        for (std::size_t start = 0; start < all.size(); start += UNIT_BYTES)
            printf("%zu\t%s\n", start / UNIT_BYTES + 1,
                   sjis_to_utf8(all.substr(start, UNIT_BYTES)).c_str());
        return 0;
    }
    for (std::size_t start = 0; start < all.size(); start += TEXT_PAGE_BYTES) {
        if (start > 0)
            fputs("\n\n", stdout);
        fputs(sjis_to_utf8(all.substr(start, TEXT_PAGE_BYTES)).c_str(), stdout);
    }
    if (!all.empty())
        fputc('\n', stdout);
    return 0;
}

// Replaces posts with BLANK_UNIT under the posting lock: every number is checked before
// anything is written, so that a mistyped one changes nothing.
int redact(const Arguments &arguments)
{
    if (arguments.operands.size() < 2)
        return usage_error("redact takes a directory and the numbers of the posts to blank");
    const std::string &dir = arguments.operands[0];
    std::vector<long long> numbers;
    for (std::size_t i = 1; i < arguments.operands.size(); i++) {
        const long long n = plain_number(arguments.operands[i]);
        if (n < 0)
            return usage_error(arguments.operands[i] + ": not a post's number");
        if (std::find(numbers.begin(), numbers.end(), n) != numbers.end())
            return usage_error(arguments.operands[i] + ": named twice");
        numbers.push_back(n);
    }
    if (!is_board(dir))
        return EXIT_FAILED;
    const std::string lock_path = board_path(dir, LOCK_DIR);
    const BoardLock lock(lock_path.c_str());
    if (!lock.held()) {
        if (errno == EEXIST)
            message("the board is busy: a post holds the lock %s; nothing was changed. Try again "
                    "in a moment (a lock that stays was left by a post that died: zt-admin "
                    "status tells its age, zt-admin unlock removes it)",
                    lock_path.c_str());
        else
            message("cannot take the lock %s: %s; nothing was changed", lock_path.c_str(),
                    strerror(errno));
        return EXIT_FAILED;
    }
    const std::string path = board_path(dir, TEXT_FILE);
    const BoardFile text(open_board_file(path.c_str(), O_RDWR));
    std::string bytes;
    if (text.fd < 0 || !read_whole_file(path, &bytes)) {
        message("cannot open %s: %s", path.c_str(), strerror(errno));
        return EXIT_FAILED;
    }
    const long long posts = static_cast<long long>(bytes.size()) / UNIT_BYTES;
    for (const long long n : numbers)
        if (n < 1 || n > posts) {
            message("there is no post %lld: the text holds %s; nothing was changed", n,
                    count(posts, "post").c_str());
            return EXIT_FAILED;
        }
    for (const long long n : numbers) {
        const std::int64_t offset = (n - 1) * UNIT_BYTES;
        if (!rewrite_unit(text.fd, BLANK_UNIT.data(), offset)) {
            message("cannot write post %lld into %s: %s", n, path.c_str(), strerror(errno));
            return EXIT_FAILED;
        }
        printf("post %lld (page %lld) was \"%s\": now four full-width spaces\n", n,
               static_cast<long long>(offset / TEXT_PAGE_BYTES + 1),
               sjis_to_utf8(std::string_view(bytes).substr(offset, UNIT_BYTES)).c_str());
    }
    return 0;
}

int print_log(const Arguments &arguments)
{
    if (arguments.operands.size() != 2)
        return usage_error("log takes a directory and a log digit");
    const std::string &dir = arguments.operands[0];
    const long long digit = plain_number(arguments.operands[1]);
    if (digit < 1 || digit > COMMENT_LOGS)
        return usage_error(arguments.operands[1] + ": the board's logs are 1 to 8");
    if (!is_board(dir))
        return EXIT_FAILED;
    const std::string path = board_path(dir, comment_log_name(static_cast<int>(digit)));
    std::vector<std::string> records;
    CommentLog_State log;
    if (!list_comment_log(path, &records, &log)) {
        message("cannot read %s: %s", path.c_str(), errno ? strerror(errno) : "not a log");
        return EXIT_FAILED;
    }
    if (log.header == COMMENT_HEADER_UNREADABLE || log.header == COMMENT_HEADER_OUT_OF_RANGE)
        message("warning: %s: the header %s; the programs replace it with a fresh one, and "
                "list the log as below until a new lap begins",
                path.c_str(),
                log.header == COMMENT_HEADER_UNREADABLE ? "cannot be read" : "is out of range");
    for (const auto &record : records)
        printf("%s\n", sjis_to_utf8(record).c_str());
    return 0;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 2)
        return usage_error("no command");
    const std::string command = argv[1];
    if (command == "-h" || command == "--help" || command == "help") {
        fputs(USAGE, stdout);
        return 0;
    }
    Arguments arguments;
    if (!parse(command, argc, argv, &arguments))
        return EXIT_USAGE;
    if (command == "init")
        return init(arguments);
    if (command == "theme")
        return theme(arguments);
    if (command == "status")
        return status(arguments);
    if (command == "unlock")
        return unlock(arguments);
    if (command == "export")
        return export_text(arguments);
    if (command == "log")
        return print_log(arguments);
    if (command == "redact")
        return redact(arguments);
    if (command == "check")
        return check_command(arguments.operands);
    return usage_error(command + ": no such command");
}
