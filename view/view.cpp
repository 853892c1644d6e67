#include <fcntl.h>
#include <unistd.h>

#include "board_files.h"
#include "commentlog.h"
#include "output.h"
#include "text_file.h"
#include "view.h"

void print_current_page(FILE *, FILE *out)
{
    write_current_page(out, TEXT_PAGE_BYTES);
}

void print_comment_log(FILE *in, FILE *out)
{
    const int log = Tolvak_ReadByteArgument(in);
    if (log < 0)
        return;
    if (CommentLog_Open(Tolvak_Path(COMMENT_LOG, log)) != 0)
        return;
    CommentLog_Print(out);
    CommentLog_Close();
}

// The text's size, taken from the file system at the first call of a run: every callback
// that prints it (the form's prev, the units left) shows the same moment, and the file is
// examined once, however often the template asks.
static std::int64_t board_text_size()
{
    static bool known = false;
    static std::int64_t size;
    if (!known) {
        size = text_size();
        known = true;
    }
    return size;
}

void print_text_size(FILE *, FILE *out)
{
    const std::int64_t size = board_text_size();
    fprintf(out, "%lld", static_cast<long long>(size < 0 ? 0 : size));
}

void print_units_left(FILE *, FILE *out)
{
    const std::int64_t size = board_text_size();
    if (size >= 0)
        fprintf(out, "%lld", static_cast<long long>((TEXT_PAGE_BYTES - size % TEXT_PAGE_BYTES) / UNIT_BYTES));
}

void print_theme(FILE *in, FILE *out)
{
    const int fd = open(Tolvak_Path("%s", THEME_FILE), O_RDONLY);
    if (fd < 0) {
        Tolvak_CopySection(in, out);
        return;
    }
    char theme[THEME_BYTES];
    const ssize_t got = read(fd, theme, sizeof theme);
    if (got > 0)
        fwrite_unlocked(theme, 1, static_cast<std::size_t>(got), out);
    close(fd);
    Tolvak_CopySection(in, nullptr);
}
