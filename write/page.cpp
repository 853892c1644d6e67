#include <cstdlib>

#include "board_files.h"
#include "page.h"
#include "path.h"
#include "post.h"

// The tail of the current page that the completion part shows: two units at most.
static constexpr std::int64_t TAIL_BYTES = 2 * UNIT_BYTES;

void print_post_result(Tolvak_TemplateStream *in, FILE *out)
{
    const int code = run_post();
    if (code == POST_OK) {
        (void)Tolvak_CopySection(in, nullptr);  // a template without 0x02 has no completion part
        return;
    }
    // Error line -code: a template with too few lines shows none rather than a piece of its
    // completion part.
    if (Tolvak_SkipLines(in, -code))
        Tolvak_ExpandTemplate(in, out, {}, '\n');
    fputs_unlocked("<hr></body></html>\n", out);
    exit(1);  // the response leaves with the exit's flush
}

void print_text_tail(Tolvak_TemplateStream *, FILE *out)
{
    write_text_tail(Tolvak_Path("%s", TEXT_FILE), TAIL_BYTES, out);
}
