// zt-admin rollback: takes the text back to before a post, under the posting lock.
#include "admin.h"
#include "post.h"
#include "post_records.h"

namespace {

// What becomes of the theme when the rollback takes back a post that completed a page: that
// post removed the theme, and no copy of it is kept.
void say_theme(const std::string &dir, long long size, long long was)
{
    const long long page = page_being_written(size);
    if (was < page * TEXT_PAGE_BYTES)
        return;  // the page being written now was never full
    std::string theme;
    const bool shown = read_whole_file(board_path(dir, THEME_FILE), &theme);
    printf("the theme that page %lld had was removed when it filled, and is not kept: the board "
           "shows %s; put one in place with zt-admin theme\n",
           page,
           shown ? ("the theme in place, \"" + sjis_to_utf8(theme.substr(0, THEME_BYTES)) +
                    "\", which was put there after that")
                       .c_str()
                 : "its default theme");
}

}  // namespace

// Cuts the text back to (N-1)*8 bytes and blanks the records of the posts it removes, records
// first: a run cut short leaves the posts in the text, and a second run finishes the work.
int rollback_command(const Arguments &arguments)
{
    const std::string &dir = arguments.dir();
    const long long first = plain_number(arguments.operands[1]);
    if (first < 1)
        return usage_error(arguments.operands[1] + ": not a post's number");
    const LockedText text(dir);
    if (!text.held())
        return EXIT_FAILED;
    const std::string &bytes = text.bytes();
    const long long posts = text.posts();
    if (first > posts) {
        message("there is no post %lld: the text holds %s; nothing was changed", first,
                count(posts, "post").c_str());
        return EXIT_FAILED;
    }

    const long long size = (first - 1) * UNIT_BYTES;
    std::vector<long long> offsets;
    for (long long offset = size; offset < posts * UNIT_BYTES; offset += UNIT_BYTES)
        offsets.push_back(offset);
    const std::vector<LogBlanking> logs = blank_post_records(dir, bytes, offsets);
    if (!cut_text(text.fd(), size)) {
        message("cannot cut %s back to %lld bytes: %s; the posts are still there", TEXT_FILE,
                size, strerror(errno));
        return EXIT_FAILED;
    }
    for (const long long offset : offsets)
        printf("%s: removed\n", describe_post(bytes, offset).c_str());
    printf("removed %s, %lld to %lld: the text is %lld bytes and takes post %lld next; forms "
           "drawn before get code %d\n",
           count(posts - first + 1, "post").c_str(), first, posts, size, first, POST_STALE);
    print_blanking(logs);
    say_theme(dir, size, static_cast<long long>(bytes.size()));
    return 0;
}
