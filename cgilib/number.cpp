#include "number.h"

std::int64_t Tolvak_Decimal(const char *s)
{
    while (Tolvak_IsSpace(static_cast<unsigned char>(*s)))
        s++;
    const bool negative = *s == '-';
    if (*s == '-' || *s == '+')
        s++;
    std::int64_t value = 0;
    for (; Tolvak_IsDigit(*s); s++)
        value = Tolvak_AddDigit(value, negative, *s - '0');
    return value;
}
