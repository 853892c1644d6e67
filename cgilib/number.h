// Reading the numbers a request carries. Decimal numbers (CONTENT_LENGTH, a form's or a
// query string's values) follow one plain rule: leading white space, an optional sign, then
// decimal digits up to the first other byte; no digits give 0. Unlike atoi, a value beyond the
// range saturates instead of being undefined, so a hostile number is simply a very large one.
// Hex digits are those of %xx escapes.
#pragma once

#include <cstdint>

// White space as the C locale knows it: space, TAB, LF, VT, FF, CR.
constexpr bool Tolvak_IsSpace(int c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

constexpr bool Tolvak_IsDigit(int c)
{
    return c >= '0' && c <= '9';
}

// The value of a hex digit of either case, or -1.
constexpr int Tolvak_HexValue(unsigned char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Reads a number by the rule above from s, up to end at the latest, into *value (0 without
// digits); the value saturates at INT64_MIN and INT64_MAX. Returns where it stopped: after
// the digits, or, without digits, after the white space and the sign; *digits says which.
const char *Tolvak_ParseDecimal(const char *s, const char *end, std::int64_t *value,
                                bool *digits);

// The number at the start of the string s, by the rule above.
std::int64_t Tolvak_Decimal(const char *s);

// Adds one decimal digit to a value that saturates at the ends of the 64-bit range.
constexpr std::int64_t Tolvak_AddDigit(std::int64_t value, bool negative, int digit)
{
    if (negative)
        return value < (INT64_MIN + digit) / 10 ? INT64_MIN : value * 10 - digit;
    return value > (INT64_MAX - digit) / 10 ? INT64_MAX : value * 10 + digit;
}
