// The template engine's main loop and directive reader.
#include <cstring>

#include "number.h"
#include "output.h"
#include "template_engine.h"

namespace {

// Names of the template format hold at most 19 bytes.
constexpr int NAME_BYTES = 20;

// Conditional sections nest by recursion; deeper ones are skipped so that no template can
// exhaust the stack.
constexpr int MAX_SECTION_DEPTH = 64;

constexpr int DIRECTIVE = 0x01;

// A name read from a directive, and the byte that ended it (a delimiter, or EOF).
struct Name {
    char text[NAME_BYTES];
    int length;     // bytes read, also past the buffer
    int end;

    // An empty name, or one longer than the format allows, names nothing.
    bool usable() const { return length > 0 && length < NAME_BYTES; }
};

// Reads a name up to its delimiter (or the other one, where a list allows two), which is
// consumed. A name too long for the buffer is read to its end all the same and names nothing.
void read_name(FILE *in, int delimiter, Name *name, int other = EOF)
{
    name->length = 0;
    for (;;) {
        const int c = Tolvak_GetByte(in);
        if (c == EOF || c == delimiter || c == other) {
            name->end = c;
            break;
        }
        if (name->length < NAME_BYTES - 1)
            name->text[name->length] = static_cast<char>(c);
        name->length++;
    }
    name->text[name->length < NAME_BYTES ? name->length : 0] = '\0';
}

// Takes the plain bytes that the stream holds read ahead, up to the first that needs a look
// (a, b, or CR and 0x1A, which Tolvak_GetByte does not simply hand on), and writes them to
// out unless out is null. glibc keeps the bytes read ahead between _IO_read_ptr and
// _IO_read_end, where getc_unlocked takes them from one at a time; taking a run of them at
// once reads the same bytes, and the stream goes on after them. Each of the four bytes is
// looked for with memchr, each search no further than the nearest found so far. Elsewhere
// nothing is taken, and every byte goes the byte-at-a-time way.
void take_plain_run(FILE *in, FILE *out, int a, int b)
{
#ifdef __GLIBC__
    char *const from = in->_IO_read_ptr;
    char *stop = in->_IO_read_end;
    for (const int c : {a, b, int{'\r'}, 0x1A}) {
        if (c < 0 || stop == from)
            continue;
        if (void *found = memchr(from, c, static_cast<std::size_t>(stop - from)))
            stop = static_cast<char *>(found);
    }
    if (stop == from)
        return;
    if (out)
        fwrite_unlocked(from, 1, static_cast<std::size_t>(stop - from), out);
    in->_IO_read_ptr = stop;
#else
    (void)in, (void)out, (void)a, (void)b;
#endif
}

// Reads up to and including the byte end, or to the end of the template, and copies what
// comes before it to out unless out is null.
void copy_until(FILE *in, FILE *out, int end)
{
    for (;;) {
        take_plain_run(in, out, end, end);
        const int c = Tolvak_GetByte(in);
        if (c == EOF || c == end)
            return;
        if (out)
            putc_unlocked(c, out);
    }
}

// Consumes the byte c when it comes next; any other byte stays unread.
bool expect(FILE *in, int c)
{
    const int got = Tolvak_GetByte(in);
    if (got == c)
        return true;
    if (got != EOF)
        ungetc(got, in);
    return false;
}

bool is_empty(const TemplateVariant &variant, const char *value)
{
    return *value == '\0' || *value == variant.value_end;
}

void query_string(const TemplateVariant &variant, FILE *in, FILE *out)
{
    bool first = true;
    Name name;
    for (;;) {
        read_name(in, '|', &name, ',');
        if (name.end == EOF || name.length == 0)
            return;
        const char *value = name.usable() ? variant.find(name.text) : nullptr;
        if (value && !is_empty(variant, value)) {
            putc_unlocked(first ? '?' : '&', out);
            first = false;
            fputs_unlocked(name.text, out);
            putc_unlocked('=', out);
            variant.write_url(value, out);
        }
        if (name.end == '|')
            return;
    }
}

void expand(const TemplateVariant &variant, FILE *in, FILE *out, Tolvak_CallbackTable table,
            int terminator, int depth);

void section(const TemplateVariant &variant, FILE *in, FILE *out, Tolvak_CallbackTable table,
             int depth)
{
    Name name;
    read_name(in, '/', &name);
    std::int64_t flag;
    if (name.end == EOF || !Tolvak_ReadNumber(in, &flag) || !expect(in, '/'))
        return;
    const int c = Tolvak_GetByte(in);
    if (c == EOF)
        return;
    expect(in, '/');  // a missing closing '/' is tolerated
    if (name.length == 0)
        return;  // the form is consumed and the body is plain text
    const bool present = name.usable() && variant.find(name.text);
    const bool skip = (flag == 1 && !present) || (flag == 0 && present);
    if (skip || depth >= MAX_SECTION_DEPTH)
        copy_until(in, nullptr, c);
    else
        expand(variant, in, out, table, c, depth + 1);
}

void expand(const TemplateVariant &variant, FILE *in, FILE *out, Tolvak_CallbackTable table,
            int terminator, int depth)
{
    terminator &= 0xFF;
    Name name;
    for (;;) {
        take_plain_run(in, out, DIRECTIVE, terminator);
        const int b = Tolvak_GetByte(in);
        if (b == EOF || b == terminator)
            return;
        if (b != DIRECTIVE) {
            putc_unlocked(b, out);
            continue;
        }
        const int selector = Tolvak_GetByte(in);
        switch (selector) {
        case EOF:
            return;
        case '%':
        case '{': {
            read_name(in, selector == '%' ? '%' : '}', &name);
            const char *value = name.usable() ? variant.find(name.text) : nullptr;
            if (value)
                (selector == '%' ? variant.write_url : variant.write_html)(value, out);
            break;
        }
        case '[': {
            if (!variant.environment)
                break;
            read_name(in, ']', &name);
            const char *value = name.usable() ? variant.environment(name.text) : nullptr;
            if (value)
                variant.write_html(value, out);
            break;
        }
        case '(': {
            std::int64_t n;
            if (!Tolvak_ReadNumber(in, &n))
                break;
            expect(in, ')');
            if (n >= 0 && static_cast<std::uint64_t>(n) < table.size() && table[n])
                table[n](in, out);
            break;
        }
        case '/':
            if (variant.sections)
                section(variant, in, out, table, depth);
            break;
        case '|':
            query_string(variant, in, out);
            break;
        default:
            break;  // not a selector: the 0x01 and this byte vanish
        }
    }
}

}  // namespace

void expand_template(const TemplateVariant &variant, FILE *in, FILE *out,
                     Tolvak_CallbackTable table, int terminator)
{
    expand(variant, in, out, table, terminator, 0);
}

// The page goes out in one write where it fits: a web server reads a CGI program's response
// through a pipe, and each write wakes it, which costs more than the write itself. glibc
// gives a pipe a 4 KiB buffer, so the board page left in a dozen writes. A pipe holds
// 64 KiB; a longer page leaves in pieces of that size. Only the pages that a response fills
// are ever touched.
static char page_buffer[64 * 1024];

void Tolvak_ShowPage(const char *name, Tolvak_CallbackTable table)
{
    setvbuf(stdout, page_buffer, _IOFBF, sizeof page_buffer);
    fputs_unlocked("Content-type: text/html\n\n", stdout);
    const char *path = Tolvak_Path("%s", name);
    FILE *page = fopen(path, "rb");
    if (!page)
        Tolvak_Error("Can't open %s", path);
    Tolvak_ExpandTemplate(page, stdout, table, TOLVAK_TEMPLATE_END);
    fclose(page);
}

bool Tolvak_ReadNumber(FILE *in, std::int64_t *value)
{
    int c;
    do
        c = Tolvak_GetByte(in);
    while (Tolvak_IsSpace(c));
    const bool negative = c == '-';
    if (c == '-' || c == '+')
        c = Tolvak_GetByte(in);
    if (!Tolvak_IsDigit(c)) {
        if (c != EOF)
            ungetc(c, in);
        return false;
    }
    std::int64_t n = 0;
    for (; Tolvak_IsDigit(c); c = Tolvak_GetByte(in))
        n = Tolvak_AddDigit(n, negative, c - '0');
    if (c != EOF)
        ungetc(c, in);
    *value = n;
    return true;
}

bool Tolvak_ReadNumberArgument(FILE *in, std::int64_t *value)
{
    if (!expect(in, '(') || !Tolvak_ReadNumber(in, value))
        return false;
    expect(in, ')');
    return true;
}

int Tolvak_ReadByteArgument(FILE *in)
{
    if (!expect(in, '('))
        return -1;
    const int c = Tolvak_GetByte(in);
    if (c == EOF)
        return -1;
    expect(in, ')');
    return c;
}

void Tolvak_CopySection(FILE *in, FILE *out)
{
    copy_until(in, out, TOLVAK_SECTION_END);
}

int Tolvak_SkipPast(FILE *in, int a, int b)
{
    for (;;) {
        take_plain_run(in, nullptr, a, b);
        const int c = Tolvak_GetByte(in);
        if (c == EOF || c == a || c == b)
            return c;
    }
}
