// Fuzz target: the comment log over a fuzzed file image: open (which may write the fresh
// header), print, append a fuzzed record, print again. The first two input bytes give the
// length of the file image, which follows; the rest is the record's content.
//
// Properties: the file keeps its size; a print never shows more bytes than the file holds;
// a record is stored exactly when it fits the format and the record area, and is then the
// first one shown, its line feeds as spaces; the header then points inside the file.
#include <unistd.h>

#include <cstdint>
#include <string>

#include "check.h"
#include "commentlog.h"

namespace {

const std::string &log_path()
{
    static const std::string path = [] {
        const char *directory = getenv("TMPDIR");
        return std::string(directory && *directory ? directory : "/tmp") + "/zt-fuzz-log-" +
               std::to_string(getpid());
    }();
    return path;
}

std::string read_log()
{
    std::string bytes;
    FILE *file = fopen(log_path().c_str(), "rb");
    FUZZ_CHECK(file);
    char chunk[65536];
    for (std::size_t n; (n = fread(chunk, 1, sizeof chunk, file)) > 0;)
        bytes.append(chunk, n);
    fclose(file);
    return bytes;
}

std::string print_log()
{
    return zt_fuzz::Capture([](FILE *out) { CommentLog_Print(out); });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *input, std::size_t size)
{
    if (size < 2)
        return 0;
    const std::size_t image_bytes = (input[0] | input[1] << 8) % (size - 1);
    const std::string image(reinterpret_cast<const char *>(input) + 2, image_bytes);
    std::string content(reinterpret_cast<const char *>(input) + 2 + image_bytes,
                        size - 2 - image_bytes);

    FILE *file = fopen(log_path().c_str(), "wb");
    FUZZ_CHECK(file);
    fwrite(image.data(), 1, image.size(), file);
    fclose(file);
    const long long log_size = static_cast<long long>(image.size());

    FUZZ_CHECK(CommentLog_Open(log_path().c_str()) == 0);
    FUZZ_CHECK(print_log().size() <= image.size());

    const int stored = CommentLog_Append(content.data(), content.size());
    const long long length = static_cast<long long>(content.size()) + 6;
    const bool fits = length <= COMMENT_RECORD_MAX && length <= log_size - COMMENT_HEADER_BYTES;
    FUZZ_CHECK((stored == 0) == fits);
    if (stored == 0) {
        for (char &c : content)
            c = c == '\n' ? ' ' : c;
        FUZZ_CHECK(print_log().compare(0, content.size() + 1, content + "\n") == 0);
    }
    CommentLog_Close();

    const std::string after = read_log();
    FUZZ_CHECK(after.size() == image.size());
    if (stored == 0) {
        // Reopened, the log keeps the header the append wrote.
        const unsigned long head = std::stoul(after.substr(0, 8), nullptr, 16);
        FUZZ_CHECK(head >= COMMENT_HEADER_BYTES && head + length <= after.size() + 0ull);
        FUZZ_CHECK(CommentLog_Open(log_path().c_str()) == 0);
        FUZZ_CHECK(print_log().compare(0, content.size() + 1, content + "\n") == 0);
        CommentLog_Close();
    }
    unlink(log_path().c_str());
    return 0;
}
