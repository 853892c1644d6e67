// Fuzz target: a record read against a record template, as zt-admin redact and rollback read
// the records of a post, over a fuzzed template, unit and record. The first input byte gives
// the length of the template, which follows; then 8 bytes of the unit, a byte whose value
// times 8 is the post's offset, and the record.
//
// Properties: the reading ends; the record once blanked keeps its length, and differs from it
// only in bytes that a blank is made of (full-width spaces, a space, '-'); a record that no
// reading fits, or several, is given back untouched.
#include <cstdint>
#include <string>

#include "check.h"
#include "post_records.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *input, std::size_t size)
{
    if (size < 10)
        return 0;
    const std::string_view bytes(reinterpret_cast<const char *>(input), size);
    const std::size_t template_bytes = input[0] % (size - 9);
    const std::string_view page = bytes.substr(1, template_bytes);
    const std::string_view four = bytes.substr(1 + template_bytes, 8);
    const long long offset = 8LL * static_cast<unsigned char>(bytes[9 + template_bytes]);
    const std::string_view record = bytes.substr(10 + template_bytes);

    std::string blanked = "untouched";
    const int read = blank_record(page, record, four, offset, &blanked);
    FUZZ_CHECK(read >= -1 && read <= 1);
    if (read != 1) {
        FUZZ_CHECK(blanked == "untouched");
        return 0;
    }
    FUZZ_CHECK(blanked.size() == record.size());
    for (std::size_t i = 0; i < record.size(); i++)
        FUZZ_CHECK(blanked[i] == record[i] || blanked[i] == '\x81' || blanked[i] == '\x40' ||
                   blanked[i] == ' ' || blanked[i] == '-');
    return 0;
}
