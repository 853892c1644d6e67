// zt-admin init: prepares a new board.
#include <fcntl.h>

#include <filesystem>

#include "admin.h"
#include "log_size.h"
#include "post_rate.h"
#include "template_source.h"

namespace {

std::string system_problem(const std::string &what, const std::string &path)
{
    return what + " " + path + ": " + strerror(errno);
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

// Prepares a board in dir (created if missing, parents included): zt/ with the default
// templates converted into the board's code, an empty text, a last-poster file that matches
// nobody, the default rate of posts, the comment logs at log_bytes each, and lock/. Refuses a directory that already
// holds zt/ or lock/. lock/ is made first and zt/ is built in a directory beside it and
// renamed into place last, so a failure at any step leaves no half-made board: lock/ is
// removed again. False, with *problem, on failure.
bool prepare_board(const std::string &dir, long long log_bytes, std::string *problem)
{
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
    // Named as under zt/, which the staging directory becomes.
    const auto in_zt = [](const std::string &name) { return name.substr(name.find('/') + 1); };
    files.emplace_back(in_zt(TEXT_FILE), "");
    files.emplace_back(in_zt(LAST_POSTER_FILE), NOBODY_LAST_POSTER);
    const RateSetting rate{RATE_DEFAULT_PER_ADDRESS, RATE_DEFAULT_BOARD};
    files.emplace_back(in_zt(RATE_FILE), std::string(rate_file_bytes(rate), '\0'));
    format_rate_file(files.back().second.data(), rate);
    for (int digit = 1; digit <= COMMENT_LOGS; digit++)
        files.emplace_back(in_zt(comment_log_name(digit)), empty_comment_log(log_bytes));

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
    if (mkdir(lock.c_str(), 0777) != 0) {
        *problem = system_problem("cannot create", lock);
        return false;
    }
    const std::string staging = board_path(dir, ".zt-init-" + std::to_string(getpid()));
    bool made = mkdir(staging.c_str(), 0777) == 0;
    if (!made)
        *problem = system_problem("cannot create", staging);
    for (std::size_t i = 0; made && i < files.size(); i++)
        made = write_new_file(board_path(staging, files[i].first), files[i].second, problem);
    if (made && !rename_new(staging, zt)) {
        *problem = system_problem("cannot create", zt);
        made = false;
    }
    if (!made) {
        // As far as it can: what stays behind is named .zt-init-PID and holds no board.
        std::error_code ignored;
        std::filesystem::remove_all(staging, ignored);
        (void)rmdir(lock.c_str());
    }
    return made;
}

}  // namespace

int init_command(const Arguments &arguments)
{
    long long log_bytes = DEFAULT_LOG_BYTES;
    if (const std::string *given = arguments.value("--log-bytes")) {
        log_bytes = plain_number(*given);
        const long long largest = largest_default_record();
        if (log_bytes < smallest_log(largest) || log_bytes > MAX_LOG_BYTES) {
            message("--log-bytes %s: a comment log has %lld to %lld bytes (the smallest shows %lld "
                    "of the largest records, %lld bytes, that a post can add)",
                    given->c_str(), smallest_log(largest), MAX_LOG_BYTES, RECORDS_PER_LOG,
                    largest);
            return EXIT_USAGE;
        }
    }
    const std::string &dir = arguments.dir();
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
