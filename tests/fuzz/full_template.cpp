// Fuzz target: the full template engine over a fuzzed template and fuzzed fields:
// every directive, nested conditional sections, the record callbacks. The input is a form
// (read by the full intake, as a query string, up to its first NUL), then a terminator byte
// and a template.
//
// Properties: the expansion ends; no directive writes a quote, an apostrophe or an angle
// bracket (the page holds no more of them than the template's own text), whatever the fields
// and the environment hold; and the end of the template is never written as a byte 0xFF.
#include <cstdint>
#include <cstring>
#include <string>

#include "check.h"
#include "board_files.h"
#include "form.h"
#include "kanji.h"
#include "records.h"
#include "template.h"
#include "template_text.h"

namespace {

void skipped_section(Tolvak_TemplateStream *in, FILE *)
{
    Tolvak_CopySection(in, nullptr);
}

constexpr Tolvak_PageCallback callbacks[] = {print_post_time, print_poster_colour,
                                             skipped_section};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *input, std::size_t size)
{
    const std::string bytes(reinterpret_cast<const char *>(input), size);
    const std::size_t nul = bytes.find('\0');
    const std::string form = bytes.substr(0, nul);
    if (form.size() > MAX_POST_BYTES)
        return 0;
    std::string page = nul == std::string::npos ? "" : bytes.substr(nul + 1);
    const int terminator = page.empty() ? 255 : static_cast<unsigned char>(page[0]);
    if (!page.empty())
        page.erase(0, 1);

    // The fields, and an environment variable that a template can name, both hostile.
    setenv("QUERY_STRING", form.c_str(), 1);
    setenv("REMOTE_ADDR", "\"><script>'&", 1);
    Tolvak_Free();
    Tolvak_LastCode = KANJI_SJIS;
    Tolvak_ReadGet(MAX_POST_BYTES);
    bool fields_hold_ff = false;
    for (std::size_t k = 0; Tolvak_DataIndex[k] || k % 2 == 1; k++)
        if (Tolvak_DataIndex[k] && strchr(Tolvak_DataIndex[k], '\xff'))
            fields_hold_ff = true;

    zt_test::TemplateText in(page);
    const std::string out = zt_fuzz::Capture(
        [&](FILE *stream) { Tolvak_ExpandTemplate(&in.stream, stream, callbacks, terminator); });
    Tolvak_Free();
    FUZZ_CHECK(zt_fuzz::MarkupCountsWithin(out, page));
    if (page.find('\xff') == std::string::npos && !fields_hold_ff)
        FUZZ_CHECK(out.find('\xff') == std::string::npos);
    return 0;
}
