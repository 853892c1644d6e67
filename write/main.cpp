// zt-write: receives a post and answers with the write page, whose callback 0 runs the
// posting transaction.
#include <signal.h>

#include "board_files.h"
#include "form.h"
#include "page.h"

int main()
{
    // A closed output or a file-size limit must fail a write, not end the run halfway. With
    // these signals and handlers the calls cannot fail.
    (void)signal(SIGPIPE, SIG_IGN);
    (void)signal(SIGXFSZ, SIG_IGN);
    Tolvak_ReadPost(MAX_POST_BYTES);
    Tolvak_ShowPage(WRITE_TEMPLATE, write_page_callbacks);
    Tolvak_Free();
    return 0;
}
