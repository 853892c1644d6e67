// zt-admin redact: blanks abusive posts in the text and in the comment logs, under the posting
// lock.
#include <algorithm>

#include "admin.h"
#include "post_records.h"

namespace {

// Posts first to last, as one operand named them.
struct Range {
    long long first, last;
};

}  // namespace

// Replaces posts with BLANK_UNIT, and their names and four characters in the logs with blanks:
// every number is checked before anything is written, so that a mistyped one changes nothing.
// The records go first, so that a run cut short leaves no post blank in the text whose records
// could no longer be found by its four characters; a second run finishes the work.
int redact_command(const Arguments &arguments)
{
    const std::string &dir = arguments.dir();
    std::vector<Range> ranges;
    for (std::size_t i = 1; i < arguments.operands.size(); i++) {
        const std::string &operand = arguments.operands[i];
        const std::size_t dash = operand.find('-');
        const long long first = plain_number(operand.substr(0, dash));
        const long long last =
            dash == std::string::npos ? first : plain_number(operand.substr(dash + 1));
        if (first < 0 || last < 0)
            return usage_error(operand + ": not a post's number or a range of them (N-M)");
        if (last < first)
            return usage_error(operand + ": a range goes from the lower number to the higher");
        ranges.push_back({first, last});
    }
    std::vector<Range> sorted = ranges;
    std::sort(sorted.begin(), sorted.end(),
              [](const Range &a, const Range &b) { return a.first < b.first; });
    for (long long reached = -1; const Range &range : sorted) {
        if (range.first <= reached)
            return usage_error(std::to_string(range.first) + ": named twice");
        reached = range.last;
    }

    const LockedText text(dir);
    if (!text.held())
        return EXIT_FAILED;
    const std::string &bytes = text.bytes();
    const long long posts = text.posts();
    for (const Range &range : sorted)
        if (range.first < 1 || range.last > posts) {
            message("there is no post %lld: the text holds %s; nothing was changed",
                    range.first < 1 ? range.first : range.last, count(posts, "post").c_str());
            return EXIT_FAILED;
        }

    std::vector<long long> offsets;
    for (const Range &range : sorted)
        for (long long n = range.first; n <= range.last; n++)
            offsets.push_back((n - 1) * UNIT_BYTES);
    const std::vector<LogBlanking> logs = blank_post_records(dir, bytes, offsets);
    for (const Range &range : ranges)
        for (long long n = range.first; n <= range.last; n++) {
            const std::int64_t offset = (n - 1) * UNIT_BYTES;
            if (write_at(text.fd(), BLANK_UNIT.data(), UNIT_BYTES, offset) != UNIT_BYTES) {
                message("cannot write post %lld into %s: %s", n, TEXT_FILE, strerror(errno));
                return EXIT_FAILED;
            }
            printf("%s: now four full-width spaces\n", describe_post(bytes, offset).c_str());
        }
    print_blanking(logs);
    return 0;
}
