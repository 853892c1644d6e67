#include "post_rate.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "board_files.h"

namespace {

constexpr char MAGIC[] = "zt-rate ";
constexpr std::size_t MOST_FILE_BYTES = RATE_HEADER_BYTES + std::size_t{RATE_MOST_BOARD} * RATE_SLOT_BYTES;
constexpr int SECOND_DIGITS = 10, KEY_DIGITS = 32;

// The file as a post reads it; one per process.
char file_bytes[MOST_FILE_BYTES];

bool read_digits(std::string_view s, std::int64_t *value)
{
    std::int64_t n = 0;
    for (const char c : s) {
        if (c < '0' || c > '9')
            return false;
        n = n * 10 + (c - '0');
    }
    *value = n;
    return true;
}

int hex_value(char c)
{
    return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// The posts that count against one allowance, by their seconds.
struct Counted {
    std::int64_t seconds[RATE_MOST_BOARD > RATE_LEAST_SLOTS ? RATE_MOST_BOARD : RATE_LEAST_SLOTS];
    int n = 0;

    // The seconds until fewer than limit of them count at now; 0 when fewer already do.
    int wait(int limit, std::int64_t now)
    {
        if (limit <= 0 || n < limit)
            return 0;
        std::int64_t *leaving = seconds + (n - limit);
        std::nth_element(seconds, leaving, seconds + n);
        return static_cast<int>(std::max<std::int64_t>(1, *leaving + RATE_WINDOW_SECONDS + 1 - now));
    }
};

}  // namespace

bool read_rate_header(std::string_view bytes, RateSetting *setting)
{
    std::int64_t per_address, board;
    if (bytes.size() < RATE_HEADER_BYTES || bytes.substr(0, 8) != MAGIC || bytes[12] != ' ' ||
        bytes[17] != '\n' || !read_digits(bytes.substr(8, 4), &per_address) ||
        !read_digits(bytes.substr(13, 4), &board))
        return false;
    *setting = {static_cast<int>(per_address), static_cast<int>(board)};
    return true;
}

void format_rate_file(char *out, const RateSetting &setting)
{
    char header[RATE_HEADER_BYTES + 1];
    snprintf(header, sizeof header, "%s%04u %04u\n", MAGIC,
             static_cast<unsigned>(std::clamp(setting.per_address, 0, 9999)),
             static_cast<unsigned>(std::clamp(setting.board, 0, 9999)));
    std::copy(header, header + RATE_HEADER_BYTES, out);
    for (int slot = 0; slot < rate_slots(setting.board); slot++)
        format_rate_slot(out + RATE_HEADER_BYTES + slot * RATE_SLOT_BYTES, RatePost{});
}

bool read_rate_slot(std::string_view slot, RatePost *post)
{
    if (slot.size() != RATE_SLOT_BYTES || slot[SECOND_DIGITS] != ' ' || slot.back() != '\n' ||
        !read_digits(slot.substr(0, SECOND_DIGITS), &post->second) || post->second == 0)
        return false;
    for (int i = 0; i < KEY_DIGITS; i += 2) {
        const int high = hex_value(slot[SECOND_DIGITS + 1 + i]);
        const int low = hex_value(slot[SECOND_DIGITS + 2 + i]);
        if (high < 0 || low < 0)
            return false;
        post->key[i / 2] = static_cast<std::uint8_t>(high << 4 | low);
    }
    return true;
}

void format_rate_slot(char *out, const RatePost &post)
{
    char slot[RATE_SLOT_BYTES + 1];
    int at = snprintf(slot, sizeof slot, "%010llu ",
                      static_cast<unsigned long long>(std::clamp<std::int64_t>(post.second, 0, 9999999999)));
    for (const std::uint8_t byte : post.key)
        at += snprintf(slot + at, sizeof slot - static_cast<std::size_t>(at), "%02x", byte);
    slot[RATE_SLOT_BYTES - 1] = '\n';
    std::copy(slot, slot + RATE_SLOT_BYTES, out);
}

RateVerdict judge_post(std::string_view file, const AddressKey &key, std::int64_t now)
{
    RateSetting setting;
    if (!read_rate_header(file, &setting) || setting.per_address <= 0)
        return {0, -1};
    static Counted mine, wider, all;
    mine.n = wider.n = all.n = 0;
    const int slots = static_cast<int>((file.size() - RATE_HEADER_BYTES) / RATE_SLOT_BYTES);
    int free = -1, oldest = -1;
    std::int64_t oldest_second = 0;
    for (int slot = 0; slot < slots && all.n < RATE_MOST_BOARD; slot++) {
        RatePost post;
        if (!read_rate_slot(file.substr(RATE_HEADER_BYTES + std::size_t(slot) * RATE_SLOT_BYTES,
                                        RATE_SLOT_BYTES),
                            &post) ||
            !rate_counts(post.second, now)) {
            if (free < 0)
                free = slot;
            continue;
        }
        all.seconds[all.n++] = post.second;
        if (oldest < 0 || post.second < oldest_second)
            oldest = slot, oldest_second = post.second;
        if (post.key == key)
            mine.seconds[mine.n++] = post.second;
        if (same_wider_block(post.key, key))
            wider.seconds[wider.n++] = post.second;
    }
    int wait = std::max(mine.wait(setting.per_address, now),
                        wider.wait(RATE_WIDER_FACTOR * setting.per_address, now));
    wait = std::max(wait, all.wait(setting.board, now));
    // Without a ceiling the oldest post is forgotten for the new one; with one, a board whose
    // every slot counts is at its ceiling, and waits for the oldest.
    const int slot = free >= 0 ? free : setting.board == 0 ? oldest : -1;
    if (slot < 0)
        wait = std::max(wait, all.wait(slots, now));
    return {wait, slot};
}

PostRate::PostRate(const char *path)
{
    std::int64_t size;
    fd_ = open_board_file(path, O_RDWR, &size);
    if (fd_ < 0) {
        error_ = errno == ENOENT ? 0 : errno;  // without the file there is no rate to keep
        return;
    }
    const std::size_t want = static_cast<std::size_t>(std::min<std::int64_t>(size, MOST_FILE_BYTES));
    while (size_ < want) {
        const ssize_t k = pread(fd_, file_bytes + size_, want - size_, static_cast<off_t>(size_));
        if (k > 0)
            size_ += static_cast<std::size_t>(k);
        else if (k == 0)
            break;  // the file is shorter now
        else if (errno != EINTR) {
            error_ = errno;
            break;
        }
    }
}

PostRate::~PostRate()
{
    if (fd_ >= 0)
        (void)close(fd_);  // written with pwrite, or not at all
}

int PostRate::wait(const char *address, std::int64_t now)
{
    if (fd_ < 0)
        return 0;
    post_ = {now, address_key(address)};
    verdict_ = judge_post({file_bytes, size_}, post_.key, now);
    return verdict_.wait;
}

bool PostRate::remember()
{
    if (error_ != 0) {
        errno = error_;
        return false;
    }
    if (fd_ < 0 || verdict_.slot < 0)
        return true;
    char slot[RATE_SLOT_BYTES];
    format_rate_slot(slot, post_);
    const off_t at = RATE_HEADER_BYTES + static_cast<off_t>(verdict_.slot) * RATE_SLOT_BYTES;
    ssize_t k;
    while ((k = pwrite(fd_, slot, sizeof slot, at)) < 0 && errno == EINTR) {
    }
    if (k == static_cast<ssize_t>(sizeof slot))
        return true;
    if (k >= 0)
        errno = ENOSPC;
    return false;
}
