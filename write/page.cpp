#include <cstdlib>

#include "page.h"
#include "post.h"
#include "text_file.h"

// The tail of the current page that the completion part shows: two units at most.
static constexpr std::int64_t TAIL_BYTES = 16;

// Skips pieces of the template, each up to and including a LF or 0x02, so that the stream
// stands at the start of error line `line`. False when the error lines end first, at the
// 0x02 that closes them or at the end of the template: a template with too few lines then
// shows none rather than a piece of its completion part.
static bool skip_to_error_line(FILE *in, int line)
{
    for (int piece = 0; piece < line; piece++)
        if (Tolvak_SkipPast(in, '\n', TOLVAK_SECTION_END) != '\n')
            return false;
    const int next = Tolvak_GetByte(in);
    if (next == TOLVAK_SECTION_END || next == EOF)
        return false;
    ungetc(next, in);
    return true;
}

void print_post_result(FILE *in, FILE *out)
{
    const int code = run_post();
    if (code == POST_OK) {
        Tolvak_CopySection(in, nullptr);
        return;
    }
    if (skip_to_error_line(in, -code))
        Tolvak_ExpandTemplate(in, out, {}, '\n');
    fputs_unlocked("<hr></body></html>\n", out);
    fflush(out);
    exit(1);
}

void print_text_tail(FILE *, FILE *out)
{
    write_current_page(out, TAIL_BYTES);
}
