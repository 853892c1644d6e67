// Fuzz target: the page arithmetic of zt-read: the page count from the text's size, the page
// that "wa" names, and the neighbouring pages' numbers from the template's offsets. The first
// eight input bytes give the size of the text (a sparse file, up to 4 TiB); the ninth chooses
// whether "wa=" is put before the query string, which follows up to a NUL; the rest is the
// template text of print_page_number's argument, "(offset)".
//
// The oracle counts with 128-bit integers: page n of the text is shown for "wa" n (the
// decimal rule, held to the int range), wrapped by floor modulo into 1 .. the page count, and
// an offset k names the page (shown + k) wrapped the same way.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <string>

#include "check.h"
#include "query.h"
#include "read.h"

namespace {

using Wide = __int128;

std::string board;  // the board directory, removed at exit

void leave_board()
{
    unlink((board + "/zt/zt-text.txt").c_str());
    rmdir((board + "/zt").c_str());
    rmdir(board.c_str());
}

// Makes a board directory with an empty text file and moves into it, once.
void enter_board()
{
    if (!board.empty())
        return;
    const char *directory = getenv("TMPDIR");
    board = std::string(directory && *directory ? directory : "/tmp") + "/zt-fuzz-XXXXXX";
    FUZZ_CHECK(mkdtemp(board.data()));
    atexit(leave_board);
    FUZZ_CHECK(chdir(board.c_str()) == 0);
    FUZZ_CHECK(mkdir("zt", 0700) == 0);
    const int fd = open("zt/zt-text.txt", O_CREAT | O_WRONLY, 0600);
    FUZZ_CHECK(fd >= 0);
    close(fd);
}

Wide floor_mod(Wide n, Wide m)
{
    const Wide r = n % m;
    return r < 0 ? r + m : r;
}

bool space(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// The decimal rule, without a bound: white space, a sign, digits.
bool decimal(const char *s, Wide *value, const char **end)
{
    while (space(*s))
        s++;
    const bool negative = *s == '-';
    if (*s == '-' || *s == '+')
        s++;
    Wide v = 0;
    bool digits = false;
    for (; *s >= '0' && *s <= '9'; s++, digits = true)
        if (v < (Wide{1} << 100))
            v = v * 10 + (*s - '0');
    *value = negative ? -v : v;
    *end = s;
    return digits;
}

Wide clamp(Wide v, Wide low, Wide high)
{
    return v < low ? low : v > high ? high : v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *input, std::size_t size)
{
    if (size < 9)
        return 0;
    enter_board();
    std::uint64_t bits;
    memcpy(&bits, input, sizeof bits);
    const std::int64_t text_bytes = static_cast<std::int64_t>(bits % (std::uint64_t{1} << 42));
    const std::string rest(reinterpret_cast<const char *>(input) + 9, size - 9);
    const std::size_t nul = rest.find('\0');
    const std::string query = (input[8] & 1 ? "wa=" : "") + rest.substr(0, nul);
    // The template as the engine reads it: CR bytes vanish, a byte 0x1A ends it.
    std::string offsets = nul == std::string::npos ? "" : rest.substr(nul + 1);
    offsets = offsets.substr(0, offsets.find('\x1a'));
    std::erase(offsets, '\r');

    FUZZ_CHECK(truncate("zt/zt-text.txt", text_bytes) == 0);
    setenv("QUERY_STRING", query.c_str(), 1);
    Tolvak_QueryString = nullptr;
    choose_page();

    const Wide pages = text_bytes == 0 ? 1 : (Wide{text_bytes} - 1) / 2048 + 1;
    FUZZ_CHECK(page_count == pages);
    Wide shown = 0;
    if (const char *wa = Tolvak_QueryFind("wa")) {
        Wide value;
        const char *end;
        decimal(wa, &value, &end);
        shown = floor_mod(clamp(value, INT_MIN, INT_MAX) - 1, pages);
    }
    FUZZ_CHECK(page_index == shown);

    // The page's text: one read of at most a page at its place.
    const std::string text = zt_fuzz::Capture([](FILE *out) { print_page_text(nullptr, out); });
    FUZZ_CHECK(static_cast<Wide>(text.size()) ==
               (shown + 1 < pages ? 2048 : Wide{text_bytes} - shown * 2048));

    // The neighbouring pages, as many offsets as the template gives: "(k)" each.
    Tolvak_TemplateStream in(offsets.data(), offsets.size());
    for (int i = 0; i < 64; i++) {
        const std::size_t before = static_cast<std::size_t>(in.next - offsets.data());
        const std::string printed = zt_fuzz::Capture([&](FILE *out) { print_page_number(&in, out); });
        if (printed.empty()) {
            if (in.next == offsets.data() + before && Tolvak_GetByte(&in) == EOF)
                break;
            continue;
        }
        const std::string argument = offsets.substr(before);
        FUZZ_CHECK(argument[0] == '(');
        Wide offset;
        const char *end;
        FUZZ_CHECK(decimal(argument.c_str() + 1, &offset, &end));
        offset = clamp(offset, INT64_MIN, INT64_MAX);
        FUZZ_CHECK(printed == std::to_string(static_cast<long long>(floor_mod(shown + offset, pages) + 1)));
    }
    return 0;
}
