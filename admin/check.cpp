// zt-admin check: whether a board is whole, as an operator wants to know after a crash, a full
// disk, or a web server that killed a post halfway. It reads the files as the programs read
// them and names every place where a program would go wrong:
//
//   zt/zt-text.txt     present, readable and writable, a whole number of 8-byte posts
//   zt/zt-jti.txt      present and exactly two lines
//   zt/zt-com1.txt ..  present, a header the programs can read whose offsets lie in the file,
//                      and the current lap's records walking from the head offset to the end
//                      of the file, each ending where its length says
//   templates          every default template present
//   zt/zt-rate.txt     absent, or a rate header and the slots it needs
//   lock/zt.lck        absent, or held by a running program or left by a dead one (both said
//                      on standard error); lock/ present
//
// A log too small for its records, and a record template without the mark by which redact and
// rollback find a post's records, are warnings on standard error: the board works as it is.
//
// The previous lap of a log is not examined: a lap that is being overwritten is cut off by
// design, wherever the newest record ends.
#include <algorithm>

#include "admin.h"
#include "log_size.h"
#include "post.h"
#include "post_rate.h"
#include "post_records.h"
#include "template_check.h"
#include "template_source.h"

namespace {

using Problems = std::vector<std::string>;

// Whether the board file name is there as a regular file and, unless bytes is null, can be
// read into *bytes; otherwise the problem, with what follows from it.
bool present(const std::string &dir, const std::string &name, const std::string &when_missing,
             Problems *problems, std::string *bytes = nullptr)
{
    struct stat st;
    const bool there = lstat(board_path(dir, name).c_str(), &st) == 0;
    if (!there || !S_ISREG(st.st_mode)) {
        problems->push_back(name + (there ? ": not a regular file" : ": missing") + when_missing);
        return false;
    }
    if (bytes && !read_whole_file(board_path(dir, name), bytes)) {
        problems->push_back(name + ": cannot be read: " + strerror(errno));
        return false;
    }
    return true;
}

void check_text(const std::string &dir, Problems *problems)
{
    std::string text;
    if (!present(dir, TEXT_FILE, ": " + refused(POST_NO_TEXT), problems, &text))
        return;
    if (access(board_path(dir, TEXT_FILE).c_str(), W_OK) != 0)
        problems->push_back(std::string(TEXT_FILE) + ": cannot be written: " +
                            refused(POST_NO_TEXT));
    if (const std::size_t cut = text.size() % UNIT_BYTES; cut != 0)
        problems->push_back(format("%s: %zu bytes, not a whole number of %lld-byte posts: the "
                                   "last %zu bytes are part of a post",
                                   TEXT_FILE, text.size(), static_cast<long long>(UNIT_BYTES),
                                   cut));
}

void check_last_poster(const std::string &dir, Problems *problems)
{
    std::string bytes;
    if (!present(dir, LAST_POSTER_FILE, ": " + refused(POST_NO_LAST_POSTER), problems, &bytes))
        return;
    if (!split_last_poster(bytes).two_lines)
        problems->push_back(format("%s: not two lines (name and address, each ended by a line "
                                   "end) but %zu bytes holding %td line ends",
                                   LAST_POSTER_FILE, bytes.size(),
                                   std::count(bytes.begin(), bytes.end(), '\n')));
}

void check_log(const std::string &dir, int digit, Problems *problems)
{
    const std::string name = comment_log_name(digit);
    if (!present(dir, name, ": it gets no records", problems))
        return;
    CommentLog_State log;
    if (CommentLog_Inspect(board_path(dir, name).c_str(), &log) != 0) {
        problems->push_back(name + ": cannot be read: it gets no records");
        return;
    }
    // A log too small for its records is whole all the same: a warning, on standard error.
    if (const std::string warning = log_size_warning(dir, digit, log.size); !warning.empty())
        message("warning: %s (%lld bytes) %s", name.c_str(), log.size, warning.c_str());
    long long length = -1;
    const long long fault =
        log.header == COMMENT_HEADER_SOUND ? CommentLog_FirstFault(&length) : -1;
    CommentLog_Close();
    if (log.header == COMMENT_HEADER_SHORT)
        problems->push_back(format("%s: %lld bytes, too short for its header: it gets no records",
                                   name.c_str(), log.size));
    else if (log.header == COMMENT_HEADER_UNREADABLE)
        problems->push_back(name + ": the header cannot be read: the next post or page view "
                                   "writes a fresh one, and the records shown are garbage until "
                                   "a new lap begins");
    else if (log.header == COMMENT_HEADER_OUT_OF_RANGE)
        problems->push_back(format("%s: the header's offsets %lld and %lld do not both lie in "
                                   "%ld to %lld, the file's size",
                                   name.c_str(), log.head, log.old_head, COMMENT_HEADER_BYTES,
                                   log.size));
    else if (fault >= 0 && length >= 0)
        problems->push_back(format("%s: the record at offset %lld does not end where its length "
                                   "(%lld bytes) says",
                                   name.c_str(), fault, length));
    else if (fault >= 0)
        problems->push_back(format("%s: the record at offset %lld has no length field: the "
                                   "records from the head offset %lld do not reach the end of "
                                   "the file",
                                   name.c_str(), fault, log.head));
}

void check_templates(const std::string &dir, Problems *problems)
{
    for (const auto &source : default_templates()) {
        const std::string name = std::string(TEMPLATE_DIR) + "/" + source.name;
        TemplateKind kind;
        template_kind(source.name, &kind);
        present(dir, name, std::string(": ") + without_template(kind), problems);
    }
    // A record template without the mark works all the same: a warning, on standard error.
    for (int digit = 1; digit <= COMMENT_LOGS; digit++)
        if (const std::string warning = unmarked_template_warning(dir, digit); !warning.empty())
            message("warning: %s", warning.c_str());
}

// A lock that no post takes over is a problem; one that a run holds, or that a dead run left
// for the next post to take over, is said on standard error.
void check_lock(const std::string &dir, Problems *problems)
{
    struct stat st;
    if (stat(board_path(dir, LOCK_PARENT).c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        problems->push_back(std::string(LOCK_PARENT) + "/: missing: " + refused(POST_BUSY));
        return;
    }
    LockHolder holder;
    const std::string described = describe_lock(dir, &holder);
    if (holder == LOCK_UNKNOWN)
        problems->push_back(std::string(LOCK_DIR) + ": " + described);
    else if (holder != LOCK_FREE || described != "free")
        message("note: %s: %s", LOCK_DIR, described.c_str());
}

// The rate file, where there is one: a header the posts can read, and the slots it needs.
void check_rate(const std::string &dir, Problems *problems)
{
    std::string bytes;
    struct stat st;
    if (lstat(board_path(dir, RATE_FILE).c_str(), &st) != 0)
        return;  // no rate: posts are taken as before there was one
    RateSetting setting;
    if (!present(dir, RATE_FILE, ": posts are taken without a rate", problems, &bytes))
        return;
    if (!read_rate_header(bytes, &setting))
        problems->push_back(std::string(RATE_FILE) +
                            ": no rate header: posts are taken without a rate; zt-admin rate "
                            "writes the file anew");
    else if (bytes.size() != rate_file_bytes(setting))
        problems->push_back(format("%s: %zu bytes, not the %zu that its setting needs: zt-admin "
                                   "rate writes the file anew",
                                   RATE_FILE, bytes.size(), rate_file_bytes(setting)));
}

// The problems of the board in dir, each one line that begins with the file it concerns;
// empty when the board is sound.
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
    check_rate(dir, &problems);
    return problems;
}

}  // namespace

int check_command(const Arguments &arguments)
{
    const std::vector<std::string> problems = check_board(arguments.dir());
    for (const auto &problem : problems)
        printf("%s\n", problem.c_str());
    if (problems.empty())
        printf("the board in %s is sound\n", arguments.dir().c_str());
    return problems.empty() ? 0 : EXIT_FAILED;
}
