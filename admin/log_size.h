// The size of a comment log, by the records that its template can make. A log holds at least
// RECORDS_PER_LOG of the largest records that its template can make (template_check.h), so
// that every post's record fits and one post overwrites at most an eighth of it: for the
// default templates 41,162 bytes (log 1's records of up to 5,143 bytes), which the default
// rounds up with room for some markup an operator adds. The board page prints its logs whole
// on every request, so a log of more than a few hundred kilobytes makes a slow page; the upper
// limit only keeps a typing error from filling the disk.
#pragma once

#include <string>

#include "commentlog.h"

inline constexpr long long DEFAULT_LOG_BYTES = 48 * 1024;
inline constexpr long long RECORDS_PER_LOG = 8;
inline constexpr long long MAX_LOG_BYTES = 16 * 1024 * 1024;

// The smallest log that holds RECORDS_PER_LOG records of largest bytes.
constexpr long long smallest_log(long long largest)
{
    return COMMENT_HEADER_BYTES + RECORDS_PER_LOG * largest;
}

// The largest record that the default record templates can make.
long long largest_default_record();

// What is wrong with the size of comment log digit, of size bytes, for the records that its
// template in dir can make: that it holds fewer than RECORDS_PER_LOG of the largest, or that
// their size cannot be bounded. Empty when nothing is, or there is no template or log.
std::string log_size_warning(const std::string &dir, int digit, long long size);
