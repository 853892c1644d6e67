// zt-write: receives a post and answers with the write page.
#include "form.h"
#include "template.h"

static constexpr Tolvak_PageCallback write_page_callbacks[] = {nullptr};

int main()
{
    Tolvak_ReadPost();
    Tolvak_ShowPage("zt/zt-write.htm", write_page_callbacks);
    Tolvak_Free();
    return 0;
}
