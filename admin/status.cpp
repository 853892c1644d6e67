// zt-admin status: the board's state, part by part.
#include <cstdlib>

#include "admin.h"
#include "log_size.h"
#include "post.h"
#include "post_records.h"
#include "template_check.h"
#include "template_source.h"

namespace {

void status_text(const std::string &dir)
{
    const long long size = text_size(board_path(dir, TEXT_FILE).c_str());
    if (size < 0) {
        printf("text         missing: %s\n", refused(POST_NO_TEXT).c_str());
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
        printf("             warning: not a whole number of %lld-byte posts\n",
               static_cast<long long>(UNIT_BYTES));
    std::string text;
    long long blank = 0;
    if (read_whole_file(board_path(dir, TEXT_FILE), &text))
        for (std::size_t at = 0; at + UNIT_BYTES <= text.size(); at += UNIT_BYTES)
            blank += std::string_view(text).substr(at, UNIT_BYTES) == BLANK_UNIT;
    if (blank > 0)
        printf("             %s four full-width spaces, as redact leaves a post\n",
               (count(blank, "post") + (blank == 1 ? " holds" : " hold")).c_str());
}

void status_theme(const std::string &dir)
{
    std::string theme;
    if (!read_whole_file(board_path(dir, THEME_FILE), &theme)) {
        printf("theme        none: the board shows its default theme\n");
        return;
    }
    const std::string shown = sjis_to_utf8(theme.substr(0, THEME_BYTES));
    const std::string cut = theme.size() > THEME_BYTES ? format(", the first %d shown", THEME_BYTES)
                                                       : "";
    printf("theme        \"%s\" (%zu bytes%s)\n", shown.c_str(), theme.size(), cut.c_str());
}

void status_last_poster(const std::string &dir)
{
    std::string bytes;
    if (!read_whole_file(board_path(dir, LAST_POSTER_FILE), &bytes)) {
        printf("last poster  missing: %s\n", refused(POST_NO_LAST_POSTER).c_str());
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
    LockHolder holder;
    printf("lock         %s\n", describe_lock(dir, &holder).c_str());
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
            printf("log %d        %lld bytes, %s\n", digit, log.size,
                   count(static_cast<long long>(records.size()), "record").c_str());
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
            printf("template     %s missing: %s\n", name.c_str(), without_template(kind));
            continue;
        }
        const auto problems = read_template(kind, bytes).problems;
        for (const auto &problem : problems)
            printf("template     %s %s\n", name.c_str(), problem.c_str());
        sound += problems.empty();
    }
    for (int digit = 1; digit <= COMMENT_LOGS; digit++)
        if (const std::string warning = unmarked_template_warning(dir, digit); !warning.empty())
            printf("template     %s\n", warning.c_str());
    printf("templates    %d of %zu sound\n", sound, default_templates().size());
}

}  // namespace

int status_command(const Arguments &arguments)
{
    const std::string &dir = arguments.dir();
    char *absolute = realpath(dir.c_str(), nullptr);
    printf("board        %s\n", absolute ? absolute : dir.c_str());
    free(absolute);
    status_text(dir);
    status_theme(dir);
    status_last_poster(dir);
    status_lock(dir);
    printf("rate         %s\n", describe_rate(dir).c_str());
    status_logs(dir);
    status_templates(dir);
    return 0;
}
