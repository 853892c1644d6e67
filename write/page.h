// The write page: its two callbacks. Callback 0 runs the posting transaction where the
// template calls it and shows the completion part after the byte 0x02, or the template's
// error line for the refusal; callback 1 shows the tail of the page being written.
//
//   head of the page ... 0x01 (0) rest of the line LF
//   error line 1 LF        (code -1)
//   ...
//   error line 12 LF       (code -12, POST_LAST)
//   0x02
//   completion part, which may call 0x01 (1)
#pragma once

#include <array>

#include "post.h"
#include "template.h"

// Runs the transaction; on a refusal writes the error line and "<hr></body></html>", and
// ends the run with status 1.
void print_post_result(Tolvak_TemplateStream *in, FILE *out);

// Writes the last one or two units of the page being written.
void print_text_tail(Tolvak_TemplateStream *in, FILE *out);

// 0: print_post_result, 1: print_text_tail.
inline constexpr std::array<Tolvak_PageCallback, 2> write_page_callbacks = {
    print_post_result,
    print_text_tail,
};

// What each reads from the template, in the table's order: callback 0 an error line for each
// of the post's result codes.
inline constexpr std::array<Tolvak_CallbackContract, write_page_callbacks.size()>
    write_page_contract = {{
        {Tolvak_Argument::lines, "error line", nullptr, 0, -POST_LAST},
        {},
    }};
