// The path builder. Tolvak_BaseDir itself is defined per configuration by the build: the full
// configuration's holds the build variable TOLVAK_BASE_DIR, the query-string one's is empty.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "path.h"

// Where the base ends in Tolvak_BaseDir; found on the first call.
static char *base_end;

const char *Tolvak_Path(const char *format, ...)
{
    if (!base_end)
        base_end = Tolvak_BaseDir + strlen(Tolvak_BaseDir);
    const std::size_t room = Tolvak_BaseDir + TOLVAK_PATH_BYTES - base_end;
    va_list args;
    va_start(args, format);
    const int length = vsnprintf(base_end, room, format, args);
    va_end(args);
    if (length < 0 || static_cast<std::size_t>(length) >= room)
        return "";
    return Tolvak_BaseDir;
}
