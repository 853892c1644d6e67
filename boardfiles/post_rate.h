// The rate of posts: how often one address may post in a minute, its wider block twice as
// often, and the whole board as often as its ceiling says. The board's file zt/zt-rate.txt
// holds the setting and remembers the posts of the last minute in a fixed number of slots,
// so its size never changes whatever the traffic; zt-write reads it and writes one slot under
// the posting lock. A board without the file has no rate.
//
//   offset 0   "zt-rate" SP 4 digits: posts a minute from one address (0: no rate)
//              SP 4 digits: posts a minute on the whole board (0: no ceiling) LF   18 bytes
//          18  slots, 44 bytes each: 10 digits, the second of a post (since 1970), SP,
//              32 hex digits, the key of its address (address.h), LF. A slot whose post is
//              more than a minute old, or that holds anything else, is free.
//
// An address is its block (address.h: an IPv6 /64, an IPv4 address); the /48 of an IPv6 /64
// may post RATE_WIDER_FACTOR times as often, so that a holder of many /64s gains nothing by
// rotating through them. A ceiling of the board needs as many slots; without one, the file
// keeps RATE_LEAST_SLOTS, and beyond that many posts a minute the oldest are forgotten first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "address.h"

inline constexpr int RATE_WINDOW_SECONDS = 60;
inline constexpr int RATE_WIDER_FACTOR = 2;
inline constexpr int RATE_HEADER_BYTES = 18;
inline constexpr int RATE_SLOT_BYTES = 44;
inline constexpr int RATE_LEAST_SLOTS = 64;
inline constexpr int RATE_MOST_PER_ADDRESS = 30;  // with its /48 at twice that, within 64 slots
inline constexpr int RATE_MOST_BOARD = 600;       // slots read by every post: 26 KiB

// What zt-admin init sets: three visitors taking turns every 4 s (each every 12 s, 5 posts a
// minute) are never refused, and a flood from two addresses, or through the /64s of one /48,
// adds at most 12 posts in its first 20 s (and in any minute).
inline constexpr int RATE_DEFAULT_PER_ADDRESS = 6;
inline constexpr int RATE_DEFAULT_BOARD = 60;

struct RateSetting {
    int per_address;  // 0: no rate
    int board;        // 0: no ceiling
};

constexpr int rate_slots(int board)
{
    return board > RATE_LEAST_SLOTS ? board : RATE_LEAST_SLOTS;
}

// The header's setting; false when bytes begin with no header.
bool read_rate_header(std::string_view bytes, RateSetting *setting);

// The whole file for setting with every slot free, into out (rate_file_bytes bytes, no NUL).
constexpr std::size_t rate_file_bytes(const RateSetting &setting)
{
    return RATE_HEADER_BYTES + static_cast<std::size_t>(rate_slots(setting.board)) * RATE_SLOT_BYTES;
}
void format_rate_file(char *out, const RateSetting &setting);

// A slot's post; false when the slot holds none.
struct RatePost {
    std::int64_t second;
    AddressKey key;
};
bool read_rate_slot(std::string_view slot, RatePost *post);
void format_rate_slot(char *out, const RatePost &post);

// Whether a post of that second still counts at now: within the last minute (and not more
// than a minute ahead, where a clock set back would leave it). A slot keeps the whole second
// in which its post came, anywhere within it, so a post counts through the minute's last
// second after it: no 60 s then hold more than the allowance.
constexpr bool rate_counts(std::int64_t second, std::int64_t now)
{
    return second >= now - RATE_WINDOW_SECONDS && second <= now + RATE_WINDOW_SECONDS;
}

// What the rate says of a post from key at second now, against the file's bytes: the seconds
// to wait (0: it may post now), and the slot that remembers it once it is accepted (-1: none
// can be had, which only a board at its ceiling lacks).
struct RateVerdict {
    int wait;
    int slot;
};
RateVerdict judge_post(std::string_view file, const AddressKey &key, std::int64_t now);

// The rate file of a board, for one post under the lock: read once, one slot written when the
// post is accepted.
class PostRate {
public:
    // A file that is missing or cannot be read is no rate; remember() tells of the latter.
    explicit PostRate(const char *path);
    ~PostRate();
    PostRate(const PostRate &) = delete;
    PostRate &operator=(const PostRate &) = delete;

    // Seconds that address must wait at now; 0 when it may post, or there is no rate.
    int wait(const char *address, std::int64_t now);
    // Remembers the post that wait() let through. True when written, or there is no rate file;
    // false with errno set when it could not be written, or the file could not be read.
    bool remember();

private:
    int fd_ = -1;
    int error_ = 0;  // why the file could not be read
    std::size_t size_ = 0;
    RateVerdict verdict_{0, -1};
    RatePost post_{};
};
