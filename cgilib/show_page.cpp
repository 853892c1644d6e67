// The run of a page program: the response header, then its page template expanded whole.
#include <cstdio>

#include "error.h"
#include "path.h"
#include "template.h"

// The page goes out in one write where it fits: a web server reads a CGI program's response
// through a pipe, and each write wakes it, which costs more than the write itself. glibc
// gives a pipe a 4 KiB buffer, so a page of 48 KB left in a dozen writes. A pipe holds
// 64 KiB; a longer page leaves in pieces of that size. Only the pages that a response fills
// are ever touched.
static char page_buffer[64 * 1024];

void Tolvak_ShowPage(const char *name, Tolvak_CallbackTable table)
{
    // Before any output this cannot fail; were it to, the page would go out in pieces.
    (void)setvbuf(stdout, page_buffer, _IOFBF, sizeof page_buffer);
    fputs_unlocked("Content-type: text/html\n\n", stdout);
    const char *path = Tolvak_Path("%s", name);
    Tolvak_TemplateStream page;
    if (Tolvak_OpenTemplate(path, &page) != 0)
        Tolvak_Error("Can't open %s", path);
    Tolvak_ExpandTemplate(&page, stdout, table, TOLVAK_TEMPLATE_END);
}
