// zt-view: renders the board page.
#include "board_files.h"
#include "template.h"
#include "view.h"

int main()
{
    Tolvak_ShowPage(VIEW_TEMPLATE, view_callbacks);
    return 0;
}
