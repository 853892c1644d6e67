// zt-admin redact: blanks abusive posts in the text, under the posting lock.
#include <fcntl.h>

#include <algorithm>

#include "admin.h"
#include "directory.h"

// Replaces posts with BLANK_UNIT: every number is checked before anything is written, so that
// a mistyped one changes nothing.
int redact_command(const Arguments &arguments)
{
    const std::string &dir = arguments.dir();
    std::vector<long long> numbers;
    for (std::size_t i = 1; i < arguments.operands.size(); i++) {
        const long long n = plain_number(arguments.operands[i]);
        if (n < 0)
            return usage_error(arguments.operands[i] + ": not a post's number");
        if (std::find(numbers.begin(), numbers.end(), n) != numbers.end())
            return usage_error(arguments.operands[i] + ": named twice");
        numbers.push_back(n);
    }
    const std::string lock_path = board_path(dir, LOCK_DIR);
    const BoardLock lock(lock_path.c_str(), {Tolvak_MakeDir, Tolvak_RemoveDir});
    if (!lock.held())
        return lock_refusal(lock_path);
    const std::string path = board_path(dir, TEXT_FILE);
    const BoardFile text(open_board_file(path.c_str(), O_RDWR));
    std::string bytes;
    if (text.fd < 0 || !read_whole_file(path, &bytes)) {
        message("cannot open %s: %s", path.c_str(), strerror(errno));
        return EXIT_FAILED;
    }
    const long long posts = static_cast<long long>(bytes.size()) / UNIT_BYTES;
    for (const long long n : numbers)
        if (n < 1 || n > posts) {
            message("there is no post %lld: the text holds %s; nothing was changed", n,
                    count(posts, "post").c_str());
            return EXIT_FAILED;
        }
    for (const long long n : numbers) {
        const std::int64_t offset = (n - 1) * UNIT_BYTES;
        if (!rewrite_unit(text.fd, BLANK_UNIT.data(), offset)) {
            message("cannot write post %lld into %s: %s", n, path.c_str(), strerror(errno));
            return EXIT_FAILED;
        }
        printf("post %lld (page %lld) was \"%s\": now four full-width spaces\n", n,
               static_cast<long long>(offset / TEXT_PAGE_BYTES + 1),
               sjis_to_utf8(std::string_view(bytes).substr(offset, UNIT_BYTES)).c_str());
    }
    return 0;
}
