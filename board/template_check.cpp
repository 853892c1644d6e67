// A reader of the template format that follows the engine's parse and the callbacks' reads,
// and notes every place where the result would not be what the template's author meant.
#include "template_check.h"

#include <cstdarg>
#include <cstdio>

namespace {

constexpr int END = -1;  // the end of the bytes
constexpr int DIRECTIVE = 0x01;
constexpr int SECTION_END = 0x02;
constexpr int NAME_LIMIT = 19;
constexpr int ERROR_LINES = 12;  // result codes -1 to -12 of a post

// What may stand in a stretch of template.
struct Context {
    int callbacks;     // callback numbers 0 .. callbacks - 1 may be called
    bool single_line;  // a line end ends this stretch; a section inside it must not hold one
};

class Checker {
public:
    Checker(TemplateKind kind, std::string_view bytes, int first_line)
        : kind_(kind), bytes_(bytes), line_(first_line)
    {
    }

    std::vector<std::string> run();

private:
    bool full_variant() const
    {
        return kind_ == TemplateKind::write_page || kind_ == TemplateKind::record;
    }

    int get()
    {
        if (pos_ >= bytes_.size())
            return END;
        const unsigned char c = bytes_[pos_++];
        line_ += c == '\n';
        return c;
    }

    int peek() const
    {
        return pos_ < bytes_.size() ? static_cast<unsigned char>(bytes_[pos_]) : END;
    }

    void problem(int line, const char *format, ...) __attribute__((format(printf, 3, 4)));

    void text(int terminator, const Context &context, int depth);
    void directive(const Context &context, int depth, int line);
    bool name(int delimiter, const char *directive, int line, int other = END);
    bool number(long *value);
    void callback(long n, const Context &context, int depth, int line);
    void section(const Context &context, int depth, int line);
    void error_lines(int line);

    TemplateKind kind_;
    std::string_view bytes_;
    std::size_t pos_ = 0;
    int line_;
    int post_directives_ = 0;  // callback 0 of the write page
    std::vector<std::string> problems_;
};

void Checker::problem(int line, const char *format, ...)
{
    char message[256];
    va_list args;
    va_start(args, format);
    vsnprintf(message, sizeof message, format, args);
    va_end(args);
    problems_.push_back("line " + std::to_string(line) + ": " + message);
}

std::vector<std::string> Checker::run()
{
    switch (kind_) {
    case TemplateKind::write_page:
        text(END, {2, false}, 0);
        if (post_directives_ == 0)
            problem(line_, "no callback 0: the post would never run");
        break;
    case TemplateKind::view_page:
        text(END, {5, false}, 0);
        break;
    case TemplateKind::read_page:
        text(END, {2, false}, 0);
        break;
    case TemplateKind::record:
        text('\n', {2, true}, 0);  // only the first line becomes a record
        break;
    }
    return problems_;
}

void Checker::text(int terminator, const Context &context, int depth)
{
    for (;;) {
        const int line = line_;
        const int c = get();
        if (c == terminator)
            return;
        switch (c) {
        case END:
            if (depth > 0)
                problem(line, "a conditional section is not closed");
            return;
        case DIRECTIVE:
            directive(context, depth, line);
            break;
        case SECTION_END:
            problem(line, "byte 0x02 where no callback reads it: it would be printed");
            break;
        case '\r':
        case 0x1A:
        case 0xFF:
            problem(line, "byte 0x%02X: the programs drop it or stop reading there", c);
            break;
        case '\n':
            if (context.single_line)
                problem(line, "a line end inside a conditional section of a one-line part");
            break;
        default:
            break;
        }
    }
}

void Checker::directive(const Context &context, int depth, int line)
{
    const int selector = get();
    switch (selector) {
    case '%':
        name('%', "%", line);
        break;
    case '{':
        name('}', "{", line);
        break;
    case '[':
        if (!full_variant()) {
            problem(line, "'[' (an environment variable) exists only in zt-write's templates");
            break;  // the rest of it is text there
        }
        name(']', "[", line);
        break;
    case '(': {
        long n;
        if (!number(&n)) {
            problem(line, "a callback directive without its number");
            break;
        }
        if (peek() == ')')
            get();
        else
            problem(line, "callback %ld: no ')' after the number", n);
        callback(n, context, depth, line);
        break;
    }
    case '/':
        if (!full_variant()) {
            problem(line, "'/' (a conditional section) exists only in zt-write's templates");
            break;
        }
        section(context, depth, line);
        break;
    case '|':
        for (;;) {
            if (!name('|', "|", line, ',') || bytes_[pos_ - 1] == '|')
                break;
        }
        break;
    case END:
        problem(line, "the template ends in a directive");
        break;
    default:
        problem(line, "0x01 followed by 0x%02X is no directive: both bytes would vanish", selector);
        break;
    }
}

// Reads a name up to its delimiter. False when the name is not closed or is empty.
bool Checker::name(int delimiter, const char *directive, int line, int other)
{
    int length = 0;
    bool line_end = false;
    for (;;) {
        const int c = get();
        if (c == END) {
            problem(line, "'%s' directive not closed", directive);
            return false;
        }
        if (c == delimiter || c == other)
            break;
        line_end |= c == '\n';
        length++;
    }
    if (length == 0) {
        problem(line, "'%s' directive with an empty name", directive);
        return false;
    }
    if (length > NAME_LIMIT)
        problem(line, "'%s' directive: a name of %d bytes (at most %d)", directive, length,
                NAME_LIMIT);
    if (line_end)
        problem(line, "'%s' directive: the name holds a line end", directive);
    return true;
}

bool Checker::number(long *value)
{
    while (peek() == ' ' || (peek() >= '\t' && peek() <= '\r'))
        get();
    bool negative = false;
    if (peek() == '-' || peek() == '+')
        negative = get() == '-';
    if (peek() < '0' || peek() > '9')
        return false;
    long n = 0;
    while (peek() >= '0' && peek() <= '9' && n < 100000000)
        n = n * 10 + (get() - '0');
    *value = negative ? -n : n;
    return true;
}

void Checker::callback(long n, const Context &context, int depth, int line)
{
    if (n < 0 || n >= context.callbacks) {
        if (context.callbacks == 0)
            problem(line, "callback %ld: no callback can be called here", n);
        else
            problem(line, "callback %ld: this template's program has callbacks 0 to %d", n,
                    context.callbacks - 1);
        return;
    }
    switch (kind_) {
    case TemplateKind::write_page:
        if (n == 0) {
            if (++post_directives_ > 1)
                problem(line, "callback 0 runs the post and may stand only once");
            else if (depth > 0)
                problem(line, "callback 0 inside a conditional section");
            else
                error_lines(line);
        }
        break;
    case TemplateKind::view_page:
        if (n == 1) {
            const int open = get();
            const int digit = get();
            if (open != '(' || digit == END) {
                problem(line, "callback 1 needs its log's digit, as in (1)");
                break;
            }
            if (digit < '1' || digit > '8')
                problem(line, "callback 1: log '%c' is none of the board's logs 1 to 8", digit);
            if (peek() == ')')
                get();
            else
                problem(line, "callback 1: no ')' after the log's digit");
        } else if (n == 4) {
            // The default theme is copied byte for byte when there is no theme file.
            for (;;) {
                const int c = get();
                if (c == SECTION_END)
                    break;
                if (c == END) {
                    problem(line, "callback 4: its default theme is not closed by 0x02");
                    break;
                }
                if (c == DIRECTIVE)
                    problem(line_, "callback 4: a directive in the default theme would be "
                                   "printed as it stands");
            }
        }
        break;
    case TemplateKind::read_page:
        if (n == 1) {
            long offset;
            if (get() != '(' || !number(&offset))
                problem(line, "callback 1 needs its page offset, as in (-1)");
            else if (peek() == ')')
                get();
            else
                problem(line, "callback 1: no ')' after the offset");
        }
        break;
    case TemplateKind::record:
        break;
    }
}

// 0x01 / name / flag / c / body c
void Checker::section(const Context &context, int depth, int line)
{
    if (!name('/', "/", line))
        return;
    long flag;
    if (!number(&flag) || get() != '/') {
        problem(line, "conditional section: no flag and '/' after the name");
        return;
    }
    const int c = get();
    if (c == END) {
        problem(line, "conditional section: no section character");
        return;
    }
    if (peek() == '/')
        get();
    else
        problem(line, "conditional section: no '/' after the section character");
    if (c <= ' ' || c >= 0x40)
        problem(line,
                "section character 0x%02X: use a visible ASCII character below 0x40, which no "
                "Shift_JIS character holds",
                c);
    // Skipping ends at the first c anywhere; expanding ends at the first c read as text.
    // Both must find the same one.
    const std::size_t raw_end = bytes_.find(static_cast<char>(c), pos_);
    text(c, context, depth + 1);
    if (raw_end != std::string_view::npos && raw_end + 1 != pos_)
        problem(line, "section character '%c' stands inside a directive of its own body", c);
}

// After the write page's callback 0: the rest of its line, twelve error lines, 0x02.
void Checker::error_lines(int line)
{
    for (int c; (c = get()) != '\n';) {
        if (c == END) {
            problem(line, "the template ends on the line of callback 0");
            return;
        }
        if (c == SECTION_END) {
            problem(line, "byte 0x02 on the line of callback 0, before the error lines");
            return;
        }
    }
    for (int k = 1; k <= ERROR_LINES; k++) {
        const int first_line = line_;
        const std::size_t start = pos_;
        const std::size_t end = bytes_.find_first_of(std::string_view("\n\x02", 2), start);
        if (end == std::string_view::npos || bytes_[end] == SECTION_END) {
            problem(first_line, "%d error lines before 0x02; twelve are needed (codes -1 to -12)",
                    k - 1);
            return;
        }
        Checker one(kind_, bytes_.substr(start, end - start), first_line);
        one.text(END, {0, true}, 0);
        problems_.insert(problems_.end(), one.problems_.begin(), one.problems_.end());
        pos_ = end + 1;
        line_++;
    }
    if (peek() != SECTION_END) {
        problem(line_, "more than twelve error lines: 0x02 must follow the twelfth");
        return;
    }
    get();
}

}  // namespace

bool template_kind(std::string_view name, TemplateKind *kind)
{
    if (name == "zt-write.htm")
        *kind = TemplateKind::write_page;
    else if (name == "zt-view.htm")
        *kind = TemplateKind::view_page;
    else if (name == "zt-read.htm")
        *kind = TemplateKind::read_page;
    else if (name.size() == 11 && name.starts_with("zt-com") && name.ends_with(".htm") &&
             name[6] >= '1' && name[6] <= '8')
        *kind = TemplateKind::record;
    else
        return false;
    return true;
}

std::vector<std::string> check_template(TemplateKind kind, std::string_view bytes)
{
    return Checker(kind, bytes, 1).run();
}
