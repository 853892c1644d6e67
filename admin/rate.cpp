// zt-admin rate: shows the rate of posts, or sets it under the posting lock.
#include <arpa/inet.h>
#include <fcntl.h>

#include <algorithm>
#include <set>

#include "admin.h"
#include "post_rate.h"

namespace {

// The block a key stands for, as an operator reads it.
std::string block_text(const AddressKey &key)
{
    char text[INET6_ADDRSTRLEN];
    if (!in_wider_block(key) && key[0] == 0xff)
        return "(a text that is no address)";
    if (!in_wider_block(key))
        return inet_ntop(AF_INET, key.data() + 12, text, sizeof text) ? text : "?";
    return inet_ntop(AF_INET6, key.data(), text, sizeof text) ? std::string(text) + "/64" : "?";
}

}  // namespace

std::string describe_rate(const std::string &dir)
{
    const std::string path = board_path(dir, RATE_FILE);
    const std::string none = "every post is taken, however often";
    std::string bytes;
    RateSetting setting;
    if (!read_whole_file(path, &bytes))
        return (errno == ENOENT ? "none: " : std::string(RATE_FILE) + " cannot be read: ") + none;
    if (!read_rate_header(bytes, &setting))
        return std::string(RATE_FILE) + " holds no rate: " + none;
    if (setting.per_address == 0)
        return "off: " + none;
    std::string line = count(setting.per_address, "post") +
                       format(" a minute from one address (%d from its /48), ",
                              RATE_WIDER_FACTOR * setting.per_address);
    line += setting.board ? format("%d on the whole board", setting.board) : "no ceiling on the board";
    // The posts that count now, and the addresses that must wait.
    const std::int64_t now = time(nullptr);
    std::set<AddressKey> posters;
    int counted = 0;
    for (std::size_t at = RATE_HEADER_BYTES; at + RATE_SLOT_BYTES <= bytes.size(); at += RATE_SLOT_BYTES) {
        RatePost post;
        if (read_rate_slot(std::string_view(bytes).substr(at, RATE_SLOT_BYTES), &post) &&
            rate_counts(post.second, now)) {
            counted++;
            posters.insert(post.key);
        }
    }
    line += format("; %s in the last minute, from %zu address%s", count(counted, "post").c_str(),
                   posters.size(), posters.size() == 1 ? "" : "es");
    for (const AddressKey &key : posters)
        if (const int wait = judge_post(bytes, key, now).wait; wait > 0)
            line += format("; %s waits %d s", block_text(key).c_str(), wait);
    return line;
}

int rate_command(const Arguments &arguments)
{
    const std::string &dir = arguments.dir();
    if (arguments.operands.size() == 1 && !arguments.has("--board")) {
        printf("rate         %s\n", describe_rate(dir).c_str());
        return 0;
    }
    std::string bytes;
    const std::string path = board_path(dir, RATE_FILE);
    const bool exists = read_whole_file(path, &bytes);
    const bool missing = !exists && errno == ENOENT;
    RateSetting setting{RATE_DEFAULT_PER_ADDRESS, RATE_DEFAULT_BOARD};
    if (exists)
        (void)read_rate_header(bytes, &setting);  // a damaged header is written anew
    if (arguments.operands.size() == 2)
        setting.per_address = static_cast<int>(plain_number(arguments.operands[1]));
    if (const std::string *board = arguments.value("--board"))
        setting.board = static_cast<int>(plain_number(*board));
    if (setting.per_address < 0 || setting.per_address > RATE_MOST_PER_ADDRESS)
        return usage_error(format("a rate is 0 (none) to %d posts a minute from one address",
                                  RATE_MOST_PER_ADDRESS));
    if (setting.board < 0 || setting.board > RATE_MOST_BOARD)
        return usage_error(format("--board: 0 (no ceiling) to %d posts a minute", RATE_MOST_BOARD));

    const BoardLock lock(board_path(dir, LOCK_DIR).c_str());
    if (!lock_taken(lock, dir))
        return EXIT_FAILED;
    // The posts remembered so far go along, as many as the new slots hold.
    std::string image(rate_file_bytes(setting), '\0');
    format_rate_file(image.data(), setting);
    std::size_t kept = 0;
    for (std::size_t at = RATE_HEADER_BYTES;
         at + RATE_SLOT_BYTES <= bytes.size() && RATE_HEADER_BYTES + (kept + 1) * RATE_SLOT_BYTES <= image.size();
         at += RATE_SLOT_BYTES) {
        RatePost post;
        if (read_rate_slot(std::string_view(bytes).substr(at, RATE_SLOT_BYTES), &post))
            std::copy_n(bytes.begin() + static_cast<long>(at), RATE_SLOT_BYTES,
                        image.begin() + static_cast<long>(RATE_HEADER_BYTES + kept++ * RATE_SLOT_BYTES));
    }
    std::string problem;
    if (missing) {
        if (!write_new_file(path, image, &problem)) {
            message("%s", problem.c_str());
            return EXIT_FAILED;
        }
    } else {
        // Over the old bytes and cut to length, as the posts find it: the file itself, never
        // what a link in its place names.
        const BoardFile file(open_board_file(path.c_str(), O_RDWR));
        if (file.fd < 0 || pwrite(file.fd, image.data(), image.size(), 0) != static_cast<ssize_t>(image.size()) ||
            ftruncate(file.fd, static_cast<off_t>(image.size())) != 0) {
            message("cannot write %s: %s", path.c_str(), strerror(errno));
            return EXIT_FAILED;
        }
    }
    printf("rate         %s\n", describe_rate(dir).c_str());
    return 0;
}
