// zt-read: shows one text page by its number.
#include "board_files.h"
#include "read.h"

int main()
{
    choose_page();
    Tolvak_ShowPage(READ_TEMPLATE, read_callbacks);
    return 0;
}
