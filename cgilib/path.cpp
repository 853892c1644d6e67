// The path builder. Tolvak_BaseDir itself is defined per configuration by the build: the full
// configuration's holds the build variable TOLVAK_BASE_DIR, the query-string one's is empty.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "path.h"

// Where the base ends in Tolvak_BaseDir; found on the first call.
static char *base_end;

// A path of names ("%s") and characters ("%c") and nothing else, which is every path the
// programs name, is put together here: a formatted print costs a page program more than all
// its other paths together. The length, or -1 for any other format.
static int put_names(char *to, std::size_t room, const char *format, va_list args)
{
    std::size_t n = 0;
    const auto put = [&](char c) {
        if (n < room)
            to[n] = c;
        n++;
    };
    for (const char *f = format; *f; f++) {
        if (*f != '%') {
            put(*f);
        } else if (*++f == 's') {
            const char *name = va_arg(args, const char *);
            const std::size_t size = strlen(name);
            if (n + size < room)
                memcpy(to + n, name, size);
            n += size;
        } else if (*f == 'c') {
            put(static_cast<char>(va_arg(args, int)));
        } else {
            return -1;
        }
    }
    put('\0');
    return static_cast<int>(n - 1);
}

const char *Tolvak_Path(const char *format, ...)
{
    if (!base_end)
        base_end = Tolvak_BaseDir + strlen(Tolvak_BaseDir);
    const std::size_t room = Tolvak_BaseDir + TOLVAK_PATH_BYTES - base_end;
    va_list args;
    va_start(args, format);
    int length = put_names(base_end, room, format, args);
    va_end(args);
    if (length < 0) {
        va_start(args, format);
        length = vsnprintf(base_end, room, format, args);
        va_end(args);
    }
    if (length < 0 || static_cast<std::size_t>(length) >= room)
        return "";
    return Tolvak_BaseDir;
}
