#include <cstring>

#include "number.h"

const char *Tolvak_ParseDecimal(const char *s, const char *end, std::int64_t *value, bool *digits)
{
    while (s < end && Tolvak_IsSpace(static_cast<unsigned char>(*s)))
        s++;
    const bool negative = s < end && *s == '-';
    if (s < end && (*s == '-' || *s == '+'))
        s++;
    std::int64_t n = 0;
    *digits = s < end && Tolvak_IsDigit(*s);
    for (; s < end && Tolvak_IsDigit(*s); s++)
        n = Tolvak_AddDigit(n, negative, *s - '0');
    *value = n;
    return s;
}

std::int64_t Tolvak_Decimal(const char *s)
{
    std::int64_t value;
    bool digits;
    Tolvak_ParseDecimal(s, s + strlen(s), &value, &digits);
    return value;
}
