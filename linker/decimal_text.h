#pragma once

// Decimal number at the start of [text, end): leading blanks and a sign
// allowed, reading stops at the first other character, no digits give 0. Long
// digit runs are clamped so the result cannot overflow.
inline long long leadingNumber(const char *text, const char *end)
{
    const char *p = text;
    while (p < end
           && (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\f' || *p == '\v'))
        ++p;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    long long value = 0;
    for (; p < end && *p >= '0' && *p <= '9'; ++p) {
        if (value < 100000000000LL)
            value = value * 10 + (*p - '0');
    }
    return negative ? -value : value;
}
