// Fuzz target: the query-string lookup and the query-string template variant. The input is a
// query string up to its first NUL (the environment holds no NUL), then a terminator byte and
// a template.
//
// Properties: a lookup points into QUERY_STRING, right behind "name=" at the start of a
// segment; the expansion ends, and no directive writes a quote, an apostrophe or an angle
// bracket: the page holds no more of them than the template's own text.
#include <cstdint>
#include <cstring>
#include <string>

#include "check.h"
#include "query.h"
#include "template.h"
#include "template_text.h"

namespace {

// Callbacks that read their arguments as the view and read pages' do, and write plain text.
void number_argument(Tolvak_TemplateStream *in, FILE *out)
{
    std::int64_t n;
    if (Tolvak_ReadArgument(in, {Tolvak_Argument::number}, &n) == 0)
        fprintf(out, "%lld", static_cast<long long>(n));
}

void byte_argument(Tolvak_TemplateStream *in, FILE *out)
{
    std::int64_t c;
    if (Tolvak_ReadArgument(in, {Tolvak_Argument::byte, "", "", '1', '8'}, &c) == 0)
        fputs("log", out);
}

void default_section(Tolvak_TemplateStream *in, FILE *out)
{
    Tolvak_CopySection(in, out);
}

void skipped_section(Tolvak_TemplateStream *in, FILE *)
{
    Tolvak_CopySection(in, nullptr);
}

constexpr Tolvak_PageCallback callbacks[] = {number_argument, byte_argument, default_section,
                                             skipped_section};

void check_lookup(const char *query, const char *name)
{
    const char *value = Tolvak_QueryFind(name);
    if (!value)
        return;
    const std::size_t length = strlen(name);
    FUZZ_CHECK(value >= query + length + 1 && value <= query + strlen(query));
    const char *start = value - length - 1;
    FUZZ_CHECK(start == query || start[-1] == '&');
    FUZZ_CHECK(strncmp(start, name, length) == 0 && start[length] == '=');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *input, std::size_t size)
{
    const std::string bytes(reinterpret_cast<const char *>(input), size);
    const std::size_t nul = bytes.find('\0');
    const std::string query = bytes.substr(0, nul);
    std::string page = nul == std::string::npos ? "" : bytes.substr(nul + 1);
    const int terminator = page.empty() ? 255 : static_cast<unsigned char>(page[0]);
    if (!page.empty())
        page.erase(0, 1);

    setenv("QUERY_STRING", query.c_str(), 1);
    Tolvak_QueryString = nullptr;  // as in a fresh process
    const char *environment = getenv("QUERY_STRING");
    for (const char *name : {"wa", "namae", "four", "", "a"})
        check_lookup(environment, name);

    zt_test::TemplateText in(page);
    const std::string out = zt_fuzz::Capture(
        [&](FILE *stream) { Tolvak_ExpandTemplate(&in.stream, stream, callbacks, terminator); });
    FUZZ_CHECK(zt_fuzz::MarkupCountsWithin(out, page));
    return 0;
}
