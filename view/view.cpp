#include <charconv>

#include "board_files.h"
#include "commentlog.h"
#include "path.h"
#include "view.h"

void print_current_page(Tolvak_TemplateStream *, FILE *out)
{
    write_text_tail(Tolvak_Path("%s", TEXT_FILE), TEXT_PAGE_BYTES, out);
}

void print_comment_log(Tolvak_TemplateStream *in, FILE *out)
{
    std::int64_t log;
    if (Tolvak_ReadArgument(in, view_contract[1], &log) != 0 ||
        CommentLog_Open(Tolvak_Path(COMMENT_LOG, static_cast<int>(log))) != 0)
        return;
    CommentLog_Print(out);
    CommentLog_Close();
}

// The text's size, taken from the file system at the first call of a run: every callback
// that prints it (the form's prev, the units left) shows the same moment, and the file is
// examined once, however often the template asks.
static std::int64_t board_text_size()
{
    static std::int64_t size = -2;  // not taken yet; a missing text is -1
    if (size == -2)
        size = text_size(Tolvak_Path("%s", TEXT_FILE));
    return size;
}

// A number in decimal digits, without the formatted print that would cost more than the rest
// of the page's numbers and paths.
static void print_number(std::int64_t n, FILE *out)
{
    char digits[24];
    const auto end = std::to_chars(digits, std::end(digits), n).ptr;
    fwrite_unlocked(digits, 1, static_cast<std::size_t>(end - digits), out);
}

void print_text_size(Tolvak_TemplateStream *, FILE *out)
{
    const std::int64_t size = board_text_size();
    print_number(size < 0 ? 0 : size, out);
}

void print_units_left(Tolvak_TemplateStream *, FILE *out)
{
    const std::int64_t size = board_text_size();
    if (size >= 0)
        print_number(units_left(size), out);
}

void print_theme(Tolvak_TemplateStream *in, FILE *out)
{
    char theme[THEME_BYTES];
    const int got = read_theme(Tolvak_Path("%s", THEME_FILE), theme);
    if (got > 0)
        fwrite_unlocked(theme, 1, static_cast<std::size_t>(got), out);
    // The default theme, or past it; a template without its 0x02 ends the theme there.
    (void)Tolvak_CopySection(in, got < 0 ? out : nullptr);
}
