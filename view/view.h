// The board page's callbacks: the page being written, a comment log, the text's size (the
// number the posting form sends back as prev), the units left until the page is full, and
// the theme or the template's default theme.
#pragma once

#include <array>

#include "board_files.h"
#include "template.h"

void print_current_page(Tolvak_TemplateStream *in, FILE *out);
void print_comment_log(Tolvak_TemplateStream *in, FILE *out);  // reads its log: (1) ...
void print_text_size(Tolvak_TemplateStream *in, FILE *out);
void print_units_left(Tolvak_TemplateStream *in, FILE *out);
void print_theme(Tolvak_TemplateStream *in, FILE *out);  // reads the default theme, to 0x02

inline constexpr std::array<Tolvak_PageCallback, 5> view_callbacks = {
    print_current_page, print_comment_log, print_text_size, print_units_left, print_theme,
};

// What each reads from the template, in the table's order.
inline constexpr std::array<Tolvak_CallbackContract, view_callbacks.size()> view_contract = {{
    {},
    {Tolvak_Argument::byte, "log's digit", "(1)", '1', '0' + COMMENT_LOGS},
    {},
    {},
    {Tolvak_Argument::section, "default theme"},
}};
