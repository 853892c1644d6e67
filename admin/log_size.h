// The size of a comment log, by the records that its template can make. A log always shows at
// least RECORDS_PER_LOG of the largest records that its template can make (template_check.h),
// so that every post's record fits and one post pushes out at most an eighth of it, also at a
// new lap, which leaves the room above the head offset unused: for the default templates
// 9,692 bytes (log 1's records of up to 1,075 bytes, with a name of 64 characters). The
// default keeps the board page, which prints logs 1 to 3 whole, within 64 KiB with full logs.
// The board page prints its logs on every request, so a log of more than a few hundred
// kilobytes makes a slow page; the upper limit only keeps a typing error from filling the disk.
#pragma once

#include <string>

#include "commentlog.h"

inline constexpr long long DEFAULT_LOG_BYTES = 16 * 1024;
inline constexpr long long RECORDS_PER_LOG = 8;
inline constexpr long long MAX_LOG_BYTES = 16 * 1024 * 1024;

// How many records of largest bytes a log of size bytes always shows. A new lap begins when a
// record does not fit above the head offset, and leaves that room, less than a record, unused:
// the records of the previous lap begin below it. So the newest records fill the record area
// less almost one record, and a log that must show n of them needs n + 1 records' room, less
// a byte.
constexpr long long records_shown(long long size, long long largest)
{
    const long long room = size - COMMENT_HEADER_BYTES - (largest - 1);
    return room < 0 ? 0 : room / largest;
}

// The smallest log that always shows RECORDS_PER_LOG records of largest bytes.
constexpr long long smallest_log(long long largest)
{
    return COMMENT_HEADER_BYTES + (RECORDS_PER_LOG + 1) * largest - 1;
}
static_assert(records_shown(smallest_log(100), 100) == RECORDS_PER_LOG &&
              records_shown(smallest_log(100) - 1, 100) == RECORDS_PER_LOG - 1);

// The largest record that the default record templates can make.
long long largest_default_record();

// What is wrong with the size of comment log digit, of size bytes, for the records that its
// template in dir can make: that it holds fewer than RECORDS_PER_LOG of the largest, or that
// their size cannot be bounded. Empty when nothing is, or there is no template or log.
std::string log_size_warning(const std::string &dir, int digit, long long size);
