#include <cstdlib>

#include "board_files.h"
#include "page.h"
#include "path.h"

// The tail of the current page that the completion part shows: two units at most.
static constexpr std::int64_t TAIL_BYTES = 2 * UNIT_BYTES;

void print_post_result(Tolvak_TemplateStream *in, FILE *out)
{
    static bool posted;  // an error line that calls this callback again posts nothing
    if (posted)
        return;
    posted = true;
    const int code = run_post();
    if (code == POST_OK) {
        (void)Tolvak_CopySection(in, nullptr);  // a template without 0x02 has no completion part
        return;
    }
    // Error line -code, or the line that stands in for it on a page made before it (post.h);
    // a template with too few lines shows none rather than a piece of its completion part.
    const char *const after_directive = in->next;
    bool found = Tolvak_SkipLines(in, -code);
    if (const int stand_in = error_line_shown(code, -POST_LAST_BEFORE_RATE);
        !found && stand_in != code && stand_in != 0) {
        in->next = after_directive;
        found = Tolvak_SkipLines(in, -stand_in);
    }
    if (found)
        Tolvak_ExpandTemplate(in, out, write_page_callbacks, '\n');
    fputs_unlocked("<hr></body></html>\n", out);
    exit(1);  // the response leaves with the exit's flush
}

void print_retry_seconds(Tolvak_TemplateStream *, FILE *out)
{
    fprintf(out, "%d", post_retry_seconds());
}

void print_text_tail(Tolvak_TemplateStream *, FILE *out)
{
    write_text_tail(Tolvak_Path("%s", TEXT_FILE), TAIL_BYTES, out);
}
