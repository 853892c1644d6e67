// The reading page: any text page by the number in the query parameter "wa", counted from 1
// and wrapping around at both ends, with the numbers of neighbouring pages for its links.
#pragma once

#include <array>
#include <cstdint>

#include "template.h"

// The number of text pages (never less than 1), and the index of the page shown, in
// 0 .. page_count - 1. Set once before the template is expanded.
extern std::int64_t page_count;
extern std::int64_t page_index;

// Sets page_count from the text's size and page_index from the request's "wa".
void choose_page();

void print_page_text(Tolvak_TemplateStream *in, FILE *out);
void print_page_number(Tolvak_TemplateStream *in, FILE *out);  // reads its offset: (-1) ...

inline constexpr std::array<Tolvak_PageCallback, 2> read_callbacks = {
    print_page_text,
    print_page_number,
};

// What each reads from the template, in the table's order.
inline constexpr std::array<Tolvak_CallbackContract, read_callbacks.size()> read_contract = {{
    {},
    {Tolvak_Argument::number, "page offset", "(-1)"},
}};
