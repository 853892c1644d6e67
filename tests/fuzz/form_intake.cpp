// Fuzz target: the POST intake of zt-write, the whole road from CONTENT_LENGTH and standard
// input to the field index: the read, the split, the decoding, the code detection and the
// conversion in place. The first input byte chooses how CONTENT_LENGTH is announced against
// the body (exactly, shorter, longer, or spelt oddly); the rest is the body.
//
// Properties: the index holds names at even and values at odd entries, all inside the
// request buffer; every string ends (its NUL) before the next one begins, also after kana
// widened it; no string holds a CR, and the first CR is the sentinel right after the NUL that
// ends the data; lookups end.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "check.h"
#include "board_files.h"
#include "form.h"
#include "kanji.h"

namespace {

int body_fd()
{
    static int fd = -1;
    if (fd < 0) {
        fd = memfd_create("body", 0);
        FUZZ_CHECK(fd >= 0);
        FUZZ_CHECK(dup2(fd, STDIN_FILENO) == STDIN_FILENO);
    }
    return fd;
}

// length: where the raw data ended, at its first NUL or after the bytes that were read.
void check_index(std::size_t length)
{
    const char *data = Tolvak_Data;
    FUZZ_CHECK(Tolvak_DataCount % 2 == 0);
    FUZZ_CHECK(data[length] == '\0');
    const char *sentinel = static_cast<const char *>(memchr(data, '\r', length + 2));
    FUZZ_CHECK(sentinel == data + length + 1);

    // Pairs up to the end of the index, the first null name. Only the last name may lack its
    // value, and then it is not counted in Tolvak_DataCount.
    std::size_t entries = 0;
    while (Tolvak_DataIndex[entries])
        entries += 2;
    FUZZ_CHECK(entries == Tolvak_DataCount || entries == Tolvak_DataCount + 2u);
    for (std::size_t k = 0; k < entries; k++) {
        const char *s = Tolvak_DataIndex[k];
        if (!s) {
            FUZZ_CHECK(k + 1 == entries && entries == Tolvak_DataCount + 2u);
            continue;
        }
        FUZZ_CHECK(s >= data && s <= data + length);
        const char *next = k + 1 < entries && Tolvak_DataIndex[k + 1] ? Tolvak_DataIndex[k + 1]
                                                                      : data + length + 1;
        FUZZ_CHECK(next > s);
        const std::size_t n = strlen(s);
        FUZZ_CHECK(s + n < next);  // the string and its NUL stay in the slot
        FUZZ_CHECK(!memchr(s, '\r', n));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *input, std::size_t size)
{
    if (size == 0)
        return 0;
    const int fd = body_fd();
    const std::uint8_t mode = input[0];
    const std::string body(reinterpret_cast<const char *>(input) + 1, size - 1);
    FUZZ_CHECK(ftruncate(fd, 0) == 0);
    FUZZ_CHECK(pwrite(fd, body.data(), body.size(), 0) == static_cast<ssize_t>(body.size()));
    FUZZ_CHECK(lseek(fd, 0, SEEK_SET) == 0);

    std::size_t declared = body.size();
    switch (mode % 4) {
    case 1: declared = body.size() / 2; break;     // shorter: the rest is never read
    case 2: declared = body.size() + mode; break;  // longer: the body ends early
    default: break;
    }
    if (declared > MAX_POST_BYTES)
        declared = MAX_POST_BYTES;
    std::string spelt = std::to_string(declared);
    if (mode % 4 == 3)
        spelt = (mode & 0x10 ? " \t+" : "0") + spelt + (mode & 0x20 ? "abc" : " ");
    setenv("CONTENT_LENGTH", spelt.c_str(), 1);

    Tolvak_LastCode = KANJI_SJIS;  // as in a fresh process, so that every run repeats
    Tolvak_ReadPost(MAX_POST_BYTES);
    check_index(strnlen(body.c_str(), declared < body.size() ? declared : body.size()));
    for (const char *name : {"four", "prev", "namae", "confirm", ""}) {
        if (!Tolvak_Find(name))
            continue;
        for (std::size_t n = 0; Tolvak_FindNext(); n++)
            FUZZ_CHECK(n < MAX_POST_BYTES);
    }
    Tolvak_Free();
    return 0;
}
