// The error page: the system's one way to end a run that cannot go on.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "error.h"

void Tolvak_Error(const char *format, ...)
{
    fputs("Content-type: text/html\n\n<HTML>\n<BODY>\n<H1>ERROR</H1>\n", stdout);
    va_list args;
    va_start(args, format);
    vfprintf(stdout, format, args);
    va_end(args);
    fputs("\n<p><hr>\n<small><i>Powered by Tolvak library</i></small>\n</BODY>\n</HTML>\n", stdout);
    exit(1);
}
