// The template check: the engine reads the template, and the listener and the callbacks here
// note every place where the result would not be what the template's author meant.
#include "template_check.h"

#include <algorithm>
#include <cstdarg>
#include <cstdlib>

#include "admin.h"
#include "encode.h"
#include "kanji.h"
#include "page.h"
#include "read.h"
#include "records.h"
#include "template_engine.h"
#include "view.h"

namespace {

// The reading in progress. The engine's listener and callbacks are plain functions, so it is
// module state, set up by read_template for one template at a time.
struct Reading {
    TemplateUse use;          // use.contract: the callbacks that can be called here
    const char *begin;        // the template's bytes
    bool in_line;             // reading one of the lines that a callback reads
    long long callback;       // the number of the callback directive read last
    int callback_depth;       // the sections around it
    int once_directives;      // directives of the callback that reads lines and stands once
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

void listen(const Tolvak_TemplateNote &note)
{
    switch (note.event) {
    case Tolvak_TemplateEvent::text: {
        // A line end ends a record and an error line, but not inside a section.
        const bool one_line = reading.in_line || reading.use.one_line;
        for (const char *p = note.from; p < note.to; p++) {
            if (*p == TOLVAK_SECTION_END) {
                problem(p, "byte 0x02 where no callback reads it: it would be printed");
                if (!reading.in_line)
                    reading.result.printed_controls.push_back(offset_of(p));
            }
            if (*p == '\n' && one_line && note.depth > 0)
                problem(p, "a line end inside a conditional section of a one-line part");
        }
        break;
    }
    case Tolvak_TemplateEvent::no_directive:
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
    case Tolvak_TemplateEvent::name: {
        // The directive, by the delimiter that should close its name.
        const char directive[] = {
            note.value == '}' ? '{' : note.value == ']' ? '[' : static_cast<char>(note.value), '\0'};
        const long long length = note.to - note.from;
        if (note.byte == EOF)
            problem(note.from, "'%s' directive not closed", directive);
        else if (length == 0)
            problem(note.from, "'%s' directive with an empty name", directive);
        if (length > TOLVAK_NAME_BYTES)
            problem(note.from, "'%s' directive: a name of %lld bytes (at most %d)", directive,
                    length, TOLVAK_NAME_BYTES);
        if (memchr(note.from, '\n', static_cast<std::size_t>(length)))
            problem(note.from, "'%s' directive: the name holds a line end", directive);
        break;
    }
    case Tolvak_TemplateEvent::incomplete:
        problem(note.from, "%s", missing[note.value]);
        break;
    case Tolvak_TemplateEvent::callback: {
        const long long n = note.value;
        const auto count = static_cast<long long>(reading.use.contract.size());
        reading.callback = n;
        reading.callback_depth = note.depth;
        if (!reading.in_line)
            reading.result.callbacks.push_back({n, offset_of(note.to)});
        if (note.byte != ')')
            problem(note.from, "callback %lld: no ')' after the number", n);
        if (n < 0 || n >= count) {
            if (count == 0)
                problem(note.from, "callback %lld: no callback can be called here", n);
            else
                problem(note.from, "callback %lld: this template's program has callbacks 0 to %lld",
                        n, count - 1);
        } else if (const auto &c = reading.use.contract[n]; c.argument == Tolvak_Argument::lines) {
            if (++reading.once_directives > 1)
                problem(note.from, "callback %lld reads the %ss after it and may stand only once",
                        n, c.what);
            else if (note.depth > 0)
                problem(note.from, "callback %lld inside a conditional section", n);
        }
        break;
    }
    case Tolvak_TemplateEvent::section: {
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

const Tolvak_TemplateVariant full_reading = {any_field, any_field, write_nothing, write_nothing,
                                      '\0', true, listen};
const Tolvak_TemplateVariant query_reading = {any_field, nullptr, write_nothing, write_nothing,
                                       '&', false, listen};

FILE *sink;

void read_callback(Tolvak_TemplateStream *in, FILE *);

// After a callback that reads lines: the rest of its line, its lines and the 0x02, each line
// expanded as the program shows it.
void read_lines(const Tolvak_TemplateStream *in, const Tolvak_CallbackContract &c)
{
    const long long n = reading.callback;
    Tolvak_TemplateStream pieces(in->next, static_cast<std::size_t>(in->end - in->next));
    if (const int rest = Tolvak_SkipPast(&pieces, '\n', TOLVAK_SECTION_END); rest != '\n') {
        problem(in->next, rest == EOF ? "the template ends on the line of callback %lld"
                                      : "byte 0x02 on the line of callback %lld, before its lines",
                n);
        return;
    }
    const std::vector<Tolvak_PageCallback> callbacks(reading.use.contract.size(), read_callback);
    int k = 0;
    for (; k < c.high && pieces.next != pieces.end && *pieces.next != TOLVAK_SECTION_END; k++) {
        const char *line = pieces.next;
        if (Tolvak_SkipPast(&pieces, '\n', TOLVAK_SECTION_END) != '\n') {
            problem(line, "%s %d ends without a line end", c.what, k + 1);
            return;
        }
        Tolvak_TemplateStream shown(line, static_cast<std::size_t>(in->end - line));
        reading.in_line = true;
        Tolvak_ExpandWith(full_reading, &shown, sink, callbacks, '\n');
        reading.in_line = false;
    }
    if (k < c.low)
        problem(pieces.next, "%d %ss before 0x02; at least %d are needed", k, c.what, c.low);
    else if (pieces.next == pieces.end || *pieces.next != TOLVAK_SECTION_END)
        problem(pieces.next, "more than %d %ss: 0x02 must follow the last", c.high, c.what);
}

// The callbacks read what the programs' callbacks read, through their own contracts.
void read_callback(Tolvak_TemplateStream *in, FILE *)
{
    const long long n = reading.callback;
    const Tolvak_CallbackContract &c = reading.use.contract[n];
    const char *at = in->next;
    switch (c.argument) {
    case Tolvak_Argument::none:
        break;
    case Tolvak_Argument::byte:
    case Tolvak_Argument::number: {
        std::int64_t value;
        bool closed;
        const int got = Tolvak_ReadArgument(in, c, &value, &closed);
        if (got == TOLVAK_ARGUMENT_MISSING)
            problem(at, "callback %lld needs its %s, as in %s", n, c.what, c.example);
        else if (got == TOLVAK_ARGUMENT_OUTSIDE)
            problem(at, "callback %lld: its %s '%c' is none of '%c' to '%c'", n, c.what,
                    static_cast<int>(value), c.low, c.high);
        if (got != TOLVAK_ARGUMENT_MISSING && !closed)
            problem(at, "callback %lld: no ')' after its %s", n, c.what);
        break;
    }
    case Tolvak_Argument::section:
        // The section is copied or skipped byte for byte.
        if (!Tolvak_CopySection(in, nullptr))
            problem(at, "callback %lld: its %s is not closed by 0x02", n, c.what);
        if (const char *directive = std::find(at, in->next, TOLVAK_DIRECTIVE);
            directive != in->next)
            problem(directive, "callback %lld: a directive in the %s would be printed as it stands",
                    n, c.what);
        break;
    case Tolvak_Argument::lines:
        if (reading.once_directives == 1 && reading.callback_depth == 0)
            read_lines(in, c);
        (void)Tolvak_CopySection(in, nullptr);  // the page goes on as after an accepted post
        break;
    }
}

// The longest value a field can have in a post that adds records. A value decodes to no more
// bytes than it takes in the form, and such a post holds besides at least "four=" and its
// unit, "prev=", "namae=" and two '&': 26 bytes.
constexpr std::size_t LARGEST_VALUE_BYTES = MAX_POST_BYTES - 26;
const std::string largest_value(LARGEST_VALUE_BYTES, '&');
const std::string largest_four(UNIT_BYTES, '&');
// The widest name, which zt-write cuts to NAME_CHARACTERS characters: as many character
// references of the longest kind, the character that grows most when escaped ("&#1111111;",
// 14 bytes as HTML and 16 in a URL, where a double-byte character takes 2 and 6).
const std::string largest_name = [] {
    const std::string reference = "&#" + std::string(TOLVAK_REFERENCE_BYTES - 3, '1') + ";";
    std::string name;
    for (int i = 0; i < NAME_CHARACTERS; i++)
        name += reference;
    return name;
}();
std::string named_variable;  // an environment variable other than REMOTE_ADDR, met last

// zt-write gives prev, in the records, the post's offset as digits (records.h).
const std::string largest_offset(RECORD_OFFSET_DIGITS, '9');

const char *largest_field(const char *name)
{
    if (strcmp(name, RECORD_OFFSET_FIELD) == 0)
        return largest_offset.c_str();
    if (strcmp(name, "four") == 0)
        return largest_four.c_str();
    return strcmp(name, "namae") == 0 ? largest_name.c_str() : largest_value.c_str();
}

const char *largest_environment(const char *name)
{
    if (strcmp(name, "REMOTE_ADDR") == 0)
        return LONGEST_ADDRESS.data();
    named_variable = name;
    return "";
}

// Each record callback writes the widest text that its contract states.
long long widest_callback;
bool unbounded;

void note_callback(const Tolvak_TemplateNote &note)
{
    if (note.event == Tolvak_TemplateEvent::callback)
        widest_callback = note.value;
}

void write_widest(Tolvak_TemplateStream *, FILE *out)
{
    const int width = comment_contract[widest_callback].widest;
    unbounded = unbounded || width < 0;
    fprintf(out, "%*s", width, "");
}

// Under a listener every section is shown, whatever its field.
const Tolvak_TemplateVariant largest_reading = {
    largest_field, largest_environment, Tolvak_UrlEncode, Tolvak_HtmlEscape, '\0', true,
    note_callback};

}  // namespace

TemplateUse template_use(TemplateKind kind)
{
    static const TemplateUse uses[] = {{write_page_contract, true, false},  // in kind's order
                                       {view_contract, false, false},
                                       {read_contract, false, false},
                                       {comment_contract, true, true}};
    return uses[static_cast<int>(kind)];
}

bool template_kind(std::string_view name, TemplateKind *kind)
{
    std::vector<std::pair<std::string, TemplateKind>> templates = {
        {WRITE_TEMPLATE, TemplateKind::write_page},
        {VIEW_TEMPLATE, TemplateKind::view_page},
        {READ_TEMPLATE, TemplateKind::read_page}};
    for (int log = 1; log <= COMMENT_LOGS; log++)
        templates.emplace_back(record_template_name(log), TemplateKind::record);
    for (const auto &[path, its_kind] : templates)
        if (path == std::string(TEMPLATE_DIR) + "/" + std::string(name)) {
            *kind = its_kind;
            return true;
        }
    return false;
}

TemplateReading read_template(TemplateKind kind, std::string_view bytes)
{
    reading = {};
    reading.use = template_use(kind);
    // Bytes that the programs drop, or at which they stop reading.
    reading.begin = bytes.data();
    for (const char &c : bytes)
        if (c == '\r' || c == 0x1A || c == '\xFF')
            problem(&c, "byte 0x%02X: the programs drop it or stop reading there", c & 0xFF);
    std::string text(bytes);
    text.resize(Tolvak_TemplateText(text.data(), text.size()));
    reading.begin = text.data();
    Tolvak_TemplateStream in(text.data(), text.size());
    // What the expansion writes goes nowhere.
    sink = fopen("/dev/null", "w");
    if (!sink) {
        reading.result.problems.push_back("cannot be checked: /dev/null cannot be opened");
        return std::move(reading.result);
    }
    const std::vector<Tolvak_PageCallback> table(reading.use.contract.size(), read_callback);
    Tolvak_ExpandWith(reading.use.full ? full_reading : query_reading, &in, sink, table,
                      reading.use.one_line ? '\n' : TOLVAK_TEMPLATE_END);
    (void)fclose(sink);
    for (std::size_t n = 0; n < reading.use.contract.size(); n++)
        if (reading.use.contract[n].argument == Tolvak_Argument::lines && reading.once_directives == 0)
            problem(in.end, "no callback %zu: it must stand once, before its %ss", n,
                    reading.use.contract[n].what);
    reading.begin = nullptr;
    return std::move(reading.result);
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
    unbounded = false;
    const std::vector<Tolvak_PageCallback> table(comment_contract.size(), write_widest);
    Tolvak_ExpandWith(largest_reading, &in, out, table, '\n');
    const bool written = fclose(out) == 0;
    free(record);
    if (!named_variable.empty() || !written || unbounded)
        return {-1, named_variable};
    return {static_cast<long long>(size) + COMMENT_RECORD_FRAME_BYTES, ""};
}
