// The write page: its three callbacks. Callback 0 runs the posting transaction where the
// template calls it and shows the completion part after the byte 0x02, or the template's
// error line for the refusal; callback 1 shows the tail of the page being written; callback 2
// the seconds that a post refused for its rate must wait, in that error line.
//
//   head of the page ... 0x01 (0) rest of the line LF
//   error line 1 LF        (code -1)
//   ...
//   error line 13 LF       (code -13, POST_LAST; a page made before the rate ends at -12)
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

// Writes the seconds to wait after a refusal for the rate, in digits.
void print_retry_seconds(Tolvak_TemplateStream *in, FILE *out);

// 0: print_post_result, 1: print_text_tail, 2: print_retry_seconds.
inline constexpr std::array<Tolvak_PageCallback, 3> write_page_callbacks = {
    print_post_result,
    print_text_tail,
    print_retry_seconds,
};

// What each reads from the template, in the table's order: callback 0 an error line for each
// of the post's result codes (a page made before the rate lacks the last).
inline constexpr std::array<Tolvak_CallbackContract, write_page_callbacks.size()>
    write_page_contract = {{
        {Tolvak_Argument::lines, "error line", nullptr, -POST_LAST_BEFORE_RATE, -POST_LAST},
        {},
        {},
    }};
