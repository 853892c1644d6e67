// The template engine's main loop, its directive reader and the template stream's readers.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "number.h"
#include "template_engine.h"

namespace {

// A name and its NUL.
constexpr int NAME_BUFFER = TOLVAK_NAME_BYTES + 1;

// Conditional sections nest by recursion; deeper ones are skipped so that no template can
// exhaust the stack.
constexpr int MAX_SECTION_DEPTH = 64;

// A name read from a directive, and the byte that ended it (a delimiter, or EOF).
struct Name {
    char text[NAME_BUFFER];
    int length;     // bytes read, also past the buffer
    int end;

    // An empty name, or one longer than the format allows, names nothing.
    bool usable() const { return length > 0 && length < NAME_BUFFER; }
};

void note(const Tolvak_TemplateVariant &variant, Tolvak_TemplateEvent event, const char *from,
          const char *to, int byte = 0, std::int64_t value = 0, int depth = 0)
{
    if (variant.listen)
        variant.listen({event, from, to, byte, value, depth});
}

// The first of the bytes a and b in [from, end), or end.
const char *find_either(const char *from, const char *end, int a, int b)
{
    const std::size_t n = static_cast<std::size_t>(end - from);
    const char *stop = static_cast<const char *>(memchr(from, a, n));
    if (!stop)
        stop = end;
    if (b != a)
        if (const void *other = memchr(from, b, static_cast<std::size_t>(stop - from)))
            stop = static_cast<const char *>(other);
    return stop;
}

// Reads a name up to its delimiter (or the other one, where a list allows two), which is
// consumed. A name too long for the buffer is read to its end all the same and names nothing.
void read_name(const Tolvak_TemplateVariant &variant, Tolvak_TemplateStream *in, int delimiter,
               Name *name, int other = EOF)
{
    const char *from = in->next;
    name->length = 0;
    for (;;) {
        const int c = Tolvak_GetByte(in);
        if (c == EOF || c == delimiter || c == other) {
            name->end = c;
            break;
        }
        if (name->length < NAME_BUFFER - 1)
            name->text[name->length] = static_cast<char>(c);
        name->length++;
    }
    name->text[name->length < NAME_BUFFER ? name->length : 0] = '\0';
    note(variant, Tolvak_TemplateEvent::name, from, from + name->length, name->end, delimiter);
}

// Consumes the byte c when it comes next; any other byte stays unread.
bool expect(Tolvak_TemplateStream *in, int c)
{
    if (in->next == in->end || static_cast<unsigned char>(*in->next) != c)
        return false;
    in->next++;
    return true;
}

bool is_empty(const Tolvak_TemplateVariant &variant, const char *value)
{
    return *value == '\0' || *value == variant.value_end;
}

void query_string(const Tolvak_TemplateVariant &variant, Tolvak_TemplateStream *in, FILE *out)
{
    bool first = true;
    Name name;
    for (;;) {
        read_name(variant, in, '|', &name, ',');
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

bool expand(const Tolvak_TemplateVariant &variant, Tolvak_TemplateStream *in, FILE *out,
            Tolvak_CallbackTable table, int terminator, int depth);

void section(const Tolvak_TemplateVariant &variant, Tolvak_TemplateStream *in, FILE *out,
             Tolvak_CallbackTable table, int depth)
{
    Name name;
    read_name(variant, in, '/', &name);
    if (name.end == EOF)
        return;
    std::int64_t flag;
    if (!Tolvak_ReadNumber(in, &flag) || !expect(in, '/')) {
        note(variant, Tolvak_TemplateEvent::incomplete, in->next, in->next, '/', TOLVAK_PART_FLAG);
        return;
    }
    const int c = Tolvak_GetByte(in);
    if (c == EOF) {
        note(variant, Tolvak_TemplateEvent::incomplete, in->next, in->next, '/',
             TOLVAK_PART_CHARACTER);
        return;
    }
    if (!expect(in, '/'))  // tolerated: the byte there is the body's first
        note(variant, Tolvak_TemplateEvent::incomplete, in->next, in->next, '/',
             TOLVAK_PART_SECTION);
    if (name.length == 0)
        return;  // the form is consumed and the body is plain text
    const bool present = name.usable() && variant.find(name.text);
    const bool skip = !variant.listen && ((flag == 1 && !present) || (flag == 0 && present));
    const char *body = in->next;
    const bool closed = skip || depth >= MAX_SECTION_DEPTH
                            ? Tolvak_SkipPast(in, c, c) != EOF
                            : expand(variant, in, out, table, c, depth + 1);
    note(variant, Tolvak_TemplateEvent::section, body, in->next, c, closed, depth);
}

// Expands until the terminator; true when the terminator ended the expansion, false at the
// end of the template.
bool expand(const Tolvak_TemplateVariant &variant, Tolvak_TemplateStream *in, FILE *out,
            Tolvak_CallbackTable table, int terminator, int depth)
{
    terminator &= 0xFF;
    Name name;
    for (;;) {
        // The plain run up to the next 0x01 or terminator goes out at once.
        const char *from = in->next;
        const char *stop = find_either(from, in->end, TOLVAK_DIRECTIVE, terminator);
        if (stop != from) {
            fwrite_unlocked(from, 1, static_cast<std::size_t>(stop - from), out);
            note(variant, Tolvak_TemplateEvent::text, from, stop, 0, 0, depth);
        }
        in->next = stop;
        const int b = Tolvak_GetByte(in);
        if (b == EOF)
            return false;
        if (b == terminator)
            return true;
        const int selector = Tolvak_GetByte(in);
        // '[' and '/' are selectors where the variant has them only.
        const bool known = (selector != '[' || variant.environment) &&
                           (selector != '/' || variant.sections);
        switch (known ? selector : 0) {
        case '%':
        case '{':
        case '[': {  // a value: a field's for a URL or for HTML, an environment variable's
            read_name(variant, in, selector == '%' ? '%' : selector == '{' ? '}' : ']', &name);
            const auto look_up = selector == '[' ? variant.environment : variant.find;
            if (const char *value = name.usable() ? look_up(name.text) : nullptr)
                (selector == '%' ? variant.write_url : variant.write_html)(value, out);
            break;
        }
        case '(': {
            std::int64_t n;
            if (!Tolvak_ReadNumber(in, &n)) {
                note(variant, Tolvak_TemplateEvent::incomplete, in->next, in->next, '(',
                     TOLVAK_PART_NUMBER);
                break;
            }
            const bool closed = expect(in, ')');
            note(variant, Tolvak_TemplateEvent::callback, stop, in->next, closed ? ')' : EOF, n,
                 depth);
            if (n >= 0 && static_cast<std::uint64_t>(n) < table.size() && table[n])
                table[n](in, out);
            break;
        }
        case '/':
            section(variant, in, out, table, depth);
            break;
        case '|':
            query_string(variant, in, out);
            break;
        default:  // not a selector, or the end: the 0x01 and this byte vanish
            note(variant, Tolvak_TemplateEvent::no_directive, stop, in->next, selector);
            if (selector == EOF)
                return false;
            break;
        }
    }
}

}  // namespace

void Tolvak_ExpandWith(const Tolvak_TemplateVariant &variant, Tolvak_TemplateStream *in, FILE *out,
                     Tolvak_CallbackTable table, int terminator)
{
    expand(variant, in, out, table, terminator, 0);
}

std::size_t Tolvak_TemplateText(char *bytes, std::size_t n)
{
    if (const void *end = memchr(bytes, 0x1A, n))
        n = static_cast<std::size_t>(static_cast<const char *>(end) - bytes);
    char *cr = static_cast<char *>(memchr(bytes, '\r', n));
    return cr ? static_cast<std::size_t>(std::remove(cr, bytes + n, '\r') - bytes) : n;
}

int Tolvak_OpenTemplate(const char *path, Tolvak_TemplateStream *in)
{
    // Only a regular file is a template: a directory reads as nothing, a FIFO could block (it
    // opens at once without a writer here, and is refused below), and a symbolic link is not
    // followed, wherever it points.
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat st;
    const bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    const std::size_t size = regular ? static_cast<std::size_t>(st.st_size) : 0;
    char *bytes = regular ? static_cast<char *>(malloc(size > 0 ? size : 1)) : nullptr;
    std::size_t n = 0;
    while (bytes && n < size) {
        const ssize_t k = read(fd, bytes + n, size - n);
        if (k > 0)
            n += static_cast<std::size_t>(k);
        else if (k < 0 && errno == EINTR)
            continue;
        else
            break;  // a read error ends the template there, as the end of the file would
    }
    (void)close(fd);  // read only: nothing is lost when the close fails
    if (!bytes)
        return -1;
    free(in->owned);
    in->owned = bytes;
    in->next = bytes;
    in->end = bytes + Tolvak_TemplateText(bytes, n);
    return 0;
}

bool Tolvak_ReadNumber(Tolvak_TemplateStream *in, std::int64_t *value)
{
    bool digits;
    std::int64_t n;
    in->next = Tolvak_ParseDecimal(in->next, in->end, &n, &digits);
    if (digits)
        *value = n;
    return digits;
}

int Tolvak_ReadArgument(Tolvak_TemplateStream *in, const Tolvak_CallbackContract &contract,
                        std::int64_t *value, bool *closed)
{
    const bool number = contract.argument == Tolvak_Argument::number;
    if (!expect(in, '(') || (number ? !Tolvak_ReadNumber(in, value)
                                    : (*value = Tolvak_GetByte(in)) == EOF))
        return TOLVAK_ARGUMENT_MISSING;
    const bool close = expect(in, ')');
    if (closed)
        *closed = close;
    return number || (*value >= contract.low && *value <= contract.high) ? 0
                                                                          : TOLVAK_ARGUMENT_OUTSIDE;
}

bool Tolvak_CopySection(Tolvak_TemplateStream *in, FILE *out)
{
    return Tolvak_SkipPast(in, TOLVAK_SECTION_END, TOLVAK_SECTION_END, out) != EOF;
}

int Tolvak_SkipPast(Tolvak_TemplateStream *in, int a, int b, FILE *out)
{
    const char *stop = find_either(in->next, in->end, a, b);
    if (out && stop != in->next)
        fwrite_unlocked(in->next, 1, static_cast<std::size_t>(stop - in->next), out);
    if (stop == in->end) {
        in->next = stop;
        return EOF;
    }
    in->next = stop + 1;
    return static_cast<unsigned char>(*stop);
}

bool Tolvak_SkipLines(Tolvak_TemplateStream *in, int n)
{
    for (int piece = 0; piece < n; piece++)
        if (Tolvak_SkipPast(in, '\n', TOLVAK_SECTION_END) != '\n')
            return false;
    return in->next != in->end && *in->next != TOLVAK_SECTION_END;
}
