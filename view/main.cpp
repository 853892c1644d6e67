// zt-view: renders the board page.
#include "template.h"

static constexpr Tolvak_PageCallback view_callbacks[] = {nullptr};

int main()
{
    Tolvak_ShowPage("zt/zt-view.htm", view_callbacks);
    return 0;
}
