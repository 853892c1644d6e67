// zt-read: shows one text page by its number.
#include "template.h"

static constexpr Tolvak_PageCallback read_callbacks[] = {nullptr};

int main()
{
    Tolvak_ShowPage("zt/zt-read.htm", read_callbacks);
    return 0;
}
