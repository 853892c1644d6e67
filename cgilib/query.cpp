#include <cstdlib>
#include <cstring>

#include "query.h"

const char *Tolvak_QueryString;

const char *Tolvak_QueryFind(const char *name)
{
    if (!Tolvak_QueryString) {
        Tolvak_QueryString = getenv("QUERY_STRING");
        if (!Tolvak_QueryString)
            return nullptr;
    }
    const std::size_t length = strlen(name);
    for (const char *s = Tolvak_QueryString; *s;) {
        if (strncmp(s, name, length) == 0 && s[length] == '=')
            return s + length + 1;
        s = strchr(s + 1, '&');
        if (!s)
            break;
        s++;
    }
    return nullptr;
}
