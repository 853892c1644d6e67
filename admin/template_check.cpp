// The template check: the engine reads the template, and the listener and the callbacks here
// note every place where the result would not be what the template's author meant.
#include "template_check.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "board_files.h"
#include "commentlog.h"
#include "encode.h"
#include "form.h"
#include "records.h"
#include "template_engine.h"

namespace {

constexpr int NAME_LIMIT = 19;
constexpr int ERROR_LINES = 12;  // result codes -1 to -12 of a post

// The reading in progress. The engine's listener and callbacks are plain functions, so it is
// module state, set up by read_template for one template at a time.
struct Reading {
    TemplateKind kind;
    const char *begin;        // the template's bytes
    int callbacks;            // callback numbers 0 .. callbacks - 1 can be called here
    bool in_error_line;       // reading one of the write page's error lines
    long long callback;       // the number of the callback directive read last
    int callback_depth;       // the sections around it
    int post_directives;      // callbacks 0 of the write page
    TemplateReading result;
};
Reading reading;

int line_of(const char *at)
{
    return 1 + static_cast<int>(std::count(reading.begin, at, '\n'));
}

std::size_t offset_of(const char *at)
{
    return static_cast<std::size_t>(at - reading.begin);
}

void problem(const char *at, const char *format, ...) __attribute__((format(printf, 2, 3)));
void problem(const char *at, const char *format, ...)
{
    char message[256];
    va_list args;
    va_start(args, format);
    vsnprintf(message, sizeof message, format, args);
    va_end(args);
    reading.result.problems.push_back("line " + std::to_string(line_of(at)) + ": " + message);
}

// What is missing, by the part that a directive lacks.
constexpr const char *missing[] = {
    "a callback directive without its number",
    "conditional section: no flag and '/' after the name",
    "conditional section: no section character",
    "conditional section: no '/' after the section character",
};

void listen(const TemplateNote &note)
{
    switch (note.event) {
    case TemplateEvent::text: {
        // A line end ends a record and an error line, but not inside a section.
        const bool one_line = reading.in_error_line || reading.kind == TemplateKind::record;
        for (const char *p = note.from; p < note.to; p++) {
            if (*p == TOLVAK_SECTION_END) {
                problem(p, "byte 0x02 where no callback reads it: it would be printed");
                if (!reading.in_error_line)
                    reading.result.printed_controls.push_back(offset_of(p));
            }
            if (*p == '\n' && one_line && note.depth > 0)
                problem(p, "a line end inside a conditional section of a one-line part");
        }
        break;
    }
    case TemplateEvent::no_directive:
        if (note.byte == EOF)
            problem(note.from, "the template ends in a directive");
        else if (note.byte == '[')
            problem(note.from, "'[' (an environment variable) exists only in zt-write's templates");
        else if (note.byte == '/')
            problem(note.from, "'/' (a conditional section) exists only in zt-write's templates");
        else
            problem(note.from, "0x01 followed by 0x%02X is no directive: both bytes would vanish",
                    note.byte);
        break;
    case TemplateEvent::name: {
        // The directive, by the delimiter that should close its name.
        const char *directive = note.value == '}'   ? "{"
                                : note.value == ']' ? "["
                                : note.value == '%' ? "%"
                                : note.value == '/' ? "/"
                                                    : "|";
        const long long length = note.to - note.from;
        if (note.byte == EOF)
            problem(note.from, "'%s' directive not closed", directive);
        else if (length == 0)
            problem(note.from, "'%s' directive with an empty name", directive);
        if (length > NAME_LIMIT)
            problem(note.from, "'%s' directive: a name of %lld bytes (at most %d)", directive,
                    length, NAME_LIMIT);
        if (memchr(note.from, '\n', static_cast<std::size_t>(length)))
            problem(note.from, "'%s' directive: the name holds a line end", directive);
        break;
    }
    case TemplateEvent::incomplete:
        problem(note.from, "%s", missing[note.value]);
        break;
    case TemplateEvent::callback: {
        const long long n = note.value;
        reading.callback = n;
        reading.callback_depth = note.depth;
        if (!reading.in_error_line)
            reading.result.callbacks.push_back({n, offset_of(note.to)});
        if (note.byte != ')')
            problem(note.from, "callback %lld: no ')' after the number", n);
        if (n < 0 || n >= reading.callbacks) {
            if (reading.callbacks == 0)
                problem(note.from, "callback %lld: no callback can be called here", n);
            else
                problem(note.from, "callback %lld: this template's program has callbacks 0 to %d",
                        n, reading.callbacks - 1);
        } else if (reading.kind == TemplateKind::write_page && n == 0) {
            if (++reading.post_directives > 1)
                problem(note.from, "callback 0 runs the post and may stand only once");
            else if (note.depth > 0)
                problem(note.from, "callback 0 inside a conditional section");
        }
        break;
    }
    case TemplateEvent::section: {
        const int c = note.byte;
        if (c <= ' ' || c >= 0x40)
            problem(note.from,
                    "section character 0x%02X: use a visible ASCII character below 0x40, which "
                    "no Shift_JIS character holds",
                    c);
        if (!note.value)
            problem(note.from, "a conditional section is not closed");
        // Skipping ends at the first c anywhere; expanding ends at the first c read as text.
        // Both must find the same one.
        const void *skip_end = memchr(note.from, c, static_cast<std::size_t>(note.to - note.from));
        if (skip_end && static_cast<const char *>(skip_end) + 1 != note.to)
            problem(note.from, "section character '%c' stands inside a directive of its own body",
                    c);
        break;
    }
    }
}

// Every field is present, and nothing is written anywhere that matters.
const char *any_field(const char *)
{
    return "";
}

void write_nothing(const char *, FILE *) {}

const TemplateVariant full_reading = {any_field, any_field, write_nothing, write_nothing,
                                      '\0', true, listen};
const TemplateVariant query_reading = {any_field, nullptr, write_nothing, write_nothing,
                                       '&', false, listen};

FILE *sink;

// After the write page's callback 0: the rest of its line, twelve error lines and the 0x02,
// each error line expanded as the post shows it for its code.
void read_error_lines(const Tolvak_TemplateStream *in)
{
    Tolvak_TemplateStream pieces(in->next, static_cast<std::size_t>(in->end - in->next));
    if (const int rest = Tolvak_SkipPast(&pieces, '\n', TOLVAK_SECTION_END); rest != '\n') {
        problem(in->next, rest == EOF
                              ? "the template ends on the line of callback 0"
                              : "byte 0x02 on the line of callback 0, before the error lines");
        return;
    }
    for (int k = 1; k <= ERROR_LINES; k++) {
        const char *line = pieces.next;
        if (Tolvak_SkipPast(&pieces, '\n', TOLVAK_SECTION_END) != '\n') {
            problem(line, "%d error lines before 0x02; twelve are needed (codes -1 to -12)",
                    k - 1);
            return;
        }
        Tolvak_TemplateStream shown(line, static_cast<std::size_t>(in->end - line));
        reading.in_error_line = true;
        reading.callbacks = 0;
        expand_template(full_reading, &shown, sink, {}, '\n');
        reading.in_error_line = false;
        reading.callbacks = 2;
    }
    if (pieces.next == pieces.end || *pieces.next != TOLVAK_SECTION_END)
        problem(pieces.next, "more than twelve error lines: 0x02 must follow the twelfth");
}

// The callbacks read what the programs' callbacks read, through the same readers.
void read_callback(Tolvak_TemplateStream *in, FILE *)
{
    const char *at = in->next;
    bool closed;
    switch (reading.kind) {
    case TemplateKind::write_page:
        if (reading.callback != 0)
            break;
        if (reading.post_directives == 1 && reading.callback_depth == 0)
            read_error_lines(in);
        (void)Tolvak_CopySection(in, nullptr);  // the page goes on as after an accepted post
        break;
    case TemplateKind::view_page:
        if (reading.callback == 1) {
            const int digit = Tolvak_ReadByteArgument(in, &closed);
            if (digit < 0)
                problem(at, "callback 1 needs its log's digit, as in (1)");
            else if (digit < '1' || digit > '8')
                problem(at, "callback 1: log '%c' is none of the board's logs 1 to 8", digit);
            if (digit >= 0 && !closed)
                problem(at, "callback 1: no ')' after the log's digit");
        } else if (reading.callback == 4) {
            // The default theme is copied byte for byte when there is no theme file.
            if (!Tolvak_CopySection(in, nullptr))
                problem(at, "callback 4: its default theme is not closed by 0x02");
            const char *directive = std::find(at, in->next, 0x01);
            if (directive != in->next)
                problem(directive, "callback 4: a directive in the default theme would be "
                                   "printed as it stands");
        }
        break;
    case TemplateKind::read_page:
        if (reading.callback == 1) {
            std::int64_t offset;
            if (!Tolvak_ReadNumberArgument(in, &offset, &closed))
                problem(at, "callback 1 needs its page offset, as in (-1)");
            else if (!closed)
                problem(at, "callback 1: no ')' after the offset");
        }
        break;
    case TemplateKind::record:
        break;
    }
}

constexpr Tolvak_PageCallback reading_callbacks[] = {read_callback, read_callback, read_callback,
                                                      read_callback, read_callback};

// The longest value a field can have in a post that adds records. A value decodes to no more
// bytes than it takes in the form, and such a post holds besides at least "four=" and its
// unit, "prev=", "namae=" and two '&': 26 bytes.
constexpr std::size_t LARGEST_VALUE_BYTES = MAX_POST_BYTES - 26;
const std::string largest_value(LARGEST_VALUE_BYTES, '&');
const std::string largest_four(UNIT_BYTES, '&');
std::string named_variable;  // an environment variable other than REMOTE_ADDR, met last

// zt-write gives prev, in the records, the post's offset as digits (records.h).
const std::string largest_offset(RECORD_OFFSET_DIGITS, '9');

const char *largest_field(const char *name)
{
    if (strcmp(name, RECORD_OFFSET_FIELD) == 0)
        return largest_offset.c_str();
    return strcmp(name, "four") == 0 ? largest_four.c_str() : largest_value.c_str();
}

const char *largest_environment(const char *name)
{
    if (strcmp(name, "REMOTE_ADDR") == 0)
        return LONGEST_ADDRESS.data();
    named_variable = name;
    return "";
}

template <int width>
void widest(Tolvak_TemplateStream *, FILE *out)
{
    fprintf(out, "%*s", width, "");
}

void see_everything(const TemplateNote &) {}

// Under a listener every section is shown, whatever its field.
const TemplateVariant largest_reading = {largest_field,    largest_environment, Tolvak_UrlEncode,
                                         Tolvak_HtmlEscape, '\0', true, see_everything};
constexpr Tolvak_PageCallback widest_callbacks[] = {widest<RECORD_TIME_BYTES>,
                                                     widest<RECORD_COLOUR_BYTES>};

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

TemplateReading read_template(TemplateKind kind, std::string_view bytes)
{
    reading = {};
    reading.kind = kind;
    // Bytes that the programs drop, or at which they stop reading.
    reading.begin = bytes.data();
    for (const char &c : bytes)
        if (c == '\r' || c == 0x1A || c == '\xFF')
            problem(&c, "byte 0x%02X: the programs drop it or stop reading there", c & 0xFF);
    std::string text(bytes);
    text.resize(Tolvak_TemplateText(text.data(), text.size()));
    reading.begin = text.data();
    Tolvak_TemplateStream in(text.data(), text.size());
    const bool record = kind == TemplateKind::record;
    reading.callbacks = kind == TemplateKind::view_page ? 5 : 2;
    // What the expansion writes goes nowhere.
    sink = fopen("/dev/null", "w");
    if (!sink) {
        reading.result.problems.push_back("cannot be checked: /dev/null cannot be opened");
        return std::move(reading.result);
    }
    const auto table = Tolvak_CallbackTable(reading_callbacks).first(reading.callbacks);
    const bool full = kind == TemplateKind::write_page || record;
    expand_template(full ? full_reading : query_reading, &in, sink, table,
                    record ? '\n' : TOLVAK_TEMPLATE_END);
    (void)fclose(sink);
    if (kind == TemplateKind::write_page && reading.post_directives == 0)
        problem(in.end, "no callback 0: the post would never run");
    reading.begin = nullptr;
    return std::move(reading.result);
}

std::vector<std::string> check_template(TemplateKind kind, std::string_view bytes)
{
    return read_template(kind, bytes).problems;
}

LargestRecord largest_record(std::string_view bytes)
{
    std::string text(bytes);
    text.resize(Tolvak_TemplateText(text.data(), text.size()));
    Tolvak_TemplateStream in(text.data(), text.size());
    char *record = nullptr;
    std::size_t size = 0;
    FILE *out = open_memstream(&record, &size);
    if (!out)
        return {-1, ""};
    named_variable.clear();
    expand_template(largest_reading, &in, out, widest_callbacks, '\n');
    const bool written = fclose(out) == 0;
    free(record);
    if (!named_variable.empty() || !written)
        return {-1, named_variable};
    return {static_cast<long long>(size) + COMMENT_RECORD_FRAME_BYTES, ""};
}
