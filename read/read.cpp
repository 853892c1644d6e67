#include <climits>

#include "board_files.h"
#include "number.h"
#include "path.h"
#include "query.h"
#include "read.h"

std::int64_t page_count = 1;
std::int64_t page_index = 0;

void choose_page()
{
    page_count = text_page_count(text_size(Tolvak_Path("%s", TEXT_FILE)));
    const char *wa = Tolvak_QueryFind("wa");
    if (!wa) {
        page_index = 0;
        return;
    }
    // A page number is an int; beyond its range it saturates, and still names a page.
    std::int64_t number = Tolvak_Decimal(wa);
    number = number < INT_MIN ? INT_MIN : number > INT_MAX ? INT_MAX : number;
    page_index = wrap_page(number - 1, page_count);
}

void print_page_text(Tolvak_TemplateStream *, FILE *out)
{
    write_text_page(Tolvak_Path("%s", TEXT_FILE), page_index, out);
}

void print_page_number(Tolvak_TemplateStream *in, FILE *out)
{
    std::int64_t offset;
    if (Tolvak_ReadArgument(in, read_contract[1], &offset) != 0)
        return;
    // Reduced first, so that no offset, however large, overflows the sum.
    const std::int64_t page = wrap_page(page_index + offset % page_count, page_count);
    fprintf(out, "%lld", static_cast<long long>(page + 1));
}
