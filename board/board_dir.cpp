// Preparing a board, reading and replacing its files, listing its comment logs.
#include "board_dir.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "template_check.h"
#include "template_source.h"

namespace {

std::string system_problem(const std::string &what, const std::string &path)
{
    return what + " " + path + ": " + strerror(errno);
}

// Writes a file that must not exist yet.
bool write_new_file(const std::string &path, std::string_view bytes, std::string *problem)
{
    FILE *file = fopen(path.c_str(), "wbxe");  // x: only a new file; e: closed on exec
    if (!file) {
        *problem = system_problem("cannot create", path);
        return false;
    }
    const bool written = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (fclose(file) != 0 || !written) {
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

// Clears away a staging directory after a failure, as far as it can: what stays behind is
// named .zt-init-PID and holds no board.
void remove_tree(const std::string &dir, const std::vector<std::string> &files)
{
    for (const auto &file : files)
        (void)unlink(board_path(dir, file).c_str());
    (void)rmdir(dir.c_str());
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

}  // namespace

static std::string digit_name(const char *pattern, int digit)
{
    char name[64];
    snprintf(name, sizeof name, pattern, '0' + digit);
    return name;
}

std::string comment_log_name(int digit)
{
    return digit_name(COMMENT_LOG, digit);
}

std::string record_template_name(int digit)
{
    return digit_name(RECORD_TEMPLATE, digit);
}

std::string board_path(const std::string &dir, const char *name)
{
    return dir + "/" + name;
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

bool replace_file(const std::string &path, std::string_view bytes, std::string *problem)
{
    const std::string temporary = path + ".new";
    (void)unlink(temporary.c_str());  // left behind by a run that died; mostly there is none
    if (!write_new_file(temporary, bytes, problem))
        return false;
    if (rename(temporary.c_str(), path.c_str()) != 0) {
        *problem = system_problem("cannot put in place", path);
        (void)unlink(temporary.c_str());  // the old file stays in place either way
        return false;
    }
    return true;
}

// The bytes of an empty comment log of that size.
static std::string empty_comment_log(long long bytes)
{
    std::string log(static_cast<std::size_t>(bytes), '\0');
    CommentLog_FormatHeader(log.data(), bytes, bytes);
    return log;
}

long long largest_default_record()
{
    long long largest = 0;
    for (const auto &source : default_templates()) {
        std::string bytes, why;
        TemplateKind kind;
        if (template_kind(source.name, &kind) && kind == TemplateKind::record &&
            template_to_board(source.source, &bytes, &why))
            largest = std::max(largest, largest_record(bytes).bytes);
    }
    return largest;
}

bool prepare_board(const std::string &dir, long long log_bytes, std::string *problem)
{
    const long long smallest = smallest_log(largest_default_record());
    if (log_bytes < smallest || log_bytes > MAX_LOG_BYTES) {
        *problem = "a comment log must have " + std::to_string(smallest) + " to " +
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
    // Named as under zt/, which the staging directory becomes.
    const auto in_zt = [](const std::string &name) { return name.substr(name.find('/') + 1); };
    files.emplace_back(in_zt(TEXT_FILE), "");
    files.emplace_back(in_zt(LAST_POSTER_FILE), NOBODY_LAST_POSTER);
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

// Collects a walk's pieces into whole records, without their LFs.
static void collect(const CommentLog_Piece &piece, void *context)
{
    auto *records = static_cast<std::vector<std::string> *>(context);
    if (piece.first)
        records->emplace_back();
    records->back().append(piece.bytes, piece.last ? piece.size - 1 : piece.size);
}

bool list_comment_log(const std::string &path, std::vector<std::string> *records,
                      CommentLog_State *state)
{
    records->clear();
    if (CommentLog_Inspect(path.c_str(), state) != 0)
        return false;
    CommentLog_Walk(collect, records);
    CommentLog_Close();
    return true;
}
