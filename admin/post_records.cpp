// A post's records: the template's first line read into pieces by the template engine, and a
// record read against those pieces.
#include "post_records.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "admin.h"
#include "encode.h"
#include "records.h"
#include "template_engine.h"

namespace {

// What the first line of a record template writes, in order: text as it stands, a value (a
// field's or an environment variable's, through the HTML or the URL encoder), a callback.
enum class Part { text, field, environment, callback };

struct Piece {
    Part part;
    bool url;           // a value written for a URL, not for HTML
    std::string bytes;  // text: its bytes; a value: its name
    long long number;   // callback: its number
};

// The pieces being read from a template. The engine writes the template's text into a memory
// stream; every value and callback cuts the text written since the last cut into a piece and
// becomes a piece of its own. The engine calls plain functions, so this is module state, for
// one template at a time.
struct PieceReader {
    FILE *out;
    char *bytes;
    std::size_t size;
    std::size_t cut;
    std::vector<Piece> pieces;
    char tag[32];  // a value's name, behind 'F' (a field) or 'E' (an environment variable)
};
PieceReader reader;

void cut_text()
{
    (void)fflush(reader.out);  // a memory stream: it updates bytes and size
    if (reader.size > reader.cut)
        reader.pieces.push_back(
            {Part::text, false, {reader.bytes + reader.cut, reader.size - reader.cut}, 0});
    reader.cut = reader.size;
}

const char *tag(char kind, const char *name)
{
    snprintf(reader.tag, sizeof reader.tag, "%c%s", kind, name);
    return reader.tag;
}

// Every field and variable is present, so that sections on namae, four and prev, which a post
// that adds records always has, are read as the post expanded them.
const char *find_field(const char *name)
{
    return tag('F', name);
}

const char *find_environment(const char *name)
{
    return tag('E', name);
}

void note_value(const char *value, bool url)
{
    cut_text();
    reader.pieces.push_back({value[0] == 'F' ? Part::field : Part::environment, url, value + 1, 0});
}

void note_url(const char *value, FILE *)
{
    note_value(value, true);
}

void note_html(const char *value, FILE *)
{
    note_value(value, false);
}

template <int n>
void note_callback(Tolvak_TemplateStream *, FILE *)
{
    cut_text();
    reader.pieces.push_back({Part::callback, false, {}, n});
}

constexpr Tolvak_TemplateVariant piece_reading = {find_field, find_environment, note_url,
                                                  note_html, '\0', true};
constexpr Tolvak_PageCallback piece_callbacks[] = {note_callback<0>, note_callback<1>};
static_assert(std::size(piece_callbacks) == comment_callbacks.size(), "one per record callback");

// The pieces of the record that template bytes make; false when there is no memory.
bool read_pieces(std::string_view bytes, std::vector<Piece> *pieces)
{
    std::string text(bytes);
    text.resize(Tolvak_TemplateText(text.data(), text.size()));
    Tolvak_TemplateStream in(text.data(), text.size());
    reader = {};
    reader.out = open_memstream(&reader.bytes, &reader.size);
    if (!reader.out)
        return false;
    Tolvak_ExpandWith(piece_reading, &in, reader.out, piece_callbacks, '\n');
    cut_text();
    const bool read = fclose(reader.out) == 0;
    free(reader.bytes);
    *pieces = std::move(reader.pieces);
    return read;
}

// What an encoder writes for value.
std::string encoded(std::string_view value, bool url)
{
    const std::string s(value);
    char *bytes = nullptr;
    std::size_t size = 0;
    FILE *out = open_memstream(&bytes, &size);
    if (!out)
        return {};
    (url ? Tolvak_UrlEncode : Tolvak_HtmlEscape)(s.c_str(), out);
    (void)fclose(out);
    std::string result(bytes, size);
    free(bytes);
    return result;
}

// The bytes that an encoder's output may hold: those it writes as they are, and the one that
// begins each replacement ('&' of "&#60;", '%' of "%3c"), whose other bytes it writes as they
// are too. No LF: a record holds none.
struct Encodable {
    std::array<bool, 256> html{}, url{};
    Encodable()
    {
        for (int c = 1; c < 256; c++) {
            const std::string byte(1, static_cast<char>(c));
            html[c] = encoded(byte, false) == byte || c == '&';
            url[c] = encoded(byte, true) == byte || c == '%';
        }
        html['\n'] = url['\n'] = false;
    }
    bool may_hold(unsigned char c, bool url_value) const { return url_value ? url[c] : html[c]; }
};

// The blank that takes the place of n stored bytes: in HTML full-width spaces, and a space for
// an odd byte; in a URL '-', which the URL encoder writes as it is.
constexpr std::string_view FULL_WIDTH_SPACE = "\x81\x40";
constexpr char URL_BLANK = '-';

std::string blank(std::size_t n, bool url)
{
    if (url)
        return std::string(n, URL_BLANK);
    std::string bytes;
    for (; bytes.size() + FULL_WIDTH_SPACE.size() <= n;)
        bytes += FULL_WIDTH_SPACE;
    bytes.resize(n, ' ');
    return bytes;
}

// The lengths of the blanks that begin at s, shortest first.
std::vector<std::size_t> blank_lengths(std::string_view s, bool url)
{
    std::vector<std::size_t> lengths;
    std::size_t n = 0;
    if (url) {
        while (n < s.size() && s[n] == URL_BLANK)
            lengths.push_back(++n);
        return lengths;
    }
    for (;; n += FULL_WIDTH_SPACE.size()) {
        if (n > 0)
            lengths.push_back(n);
        if (n < s.size() && s[n] == ' ')
            lengths.push_back(n + 1);
        if (!s.substr(n).starts_with(FULL_WIDTH_SPACE))
            return lengths;
    }
}

// A stretch of the record to blank.
struct Span {
    std::size_t from, to;
    bool url;
    bool operator==(const Span &) const = default;
};

// Reads a record against the pieces of its template, every way they fit, and keeps the
// stretches of the name and the four characters that the first reading found; a second reading
// that finds others makes the record ambiguous. Each reading fixes the name's bytes where it
// first meets them, for each encoder, and takes them so at every later place.
constexpr long long MAX_STEPS = 1000000;  // a hostile record against an odd template ends here
constexpr std::size_t MAX_PIECES = 1000;  // each piece is a level of the reading's recursion

class RecordReading {
public:
    RecordReading(const std::vector<Piece> &pieces, const Encodable &encodable,
                  std::string_view four, long long offset)
        : pieces_(pieces), encodable_(encodable),
          four_{encoded(four, false), encoded(four, true)}, offset_(std::to_string(offset))
    {
    }

    // 1 when one reading fits (its stretches in *spans), 0 when none, -1 when several do or
    // the reading took too long. The four characters are read as the text holds them and only
    // where they are not found so, as a blank of any length: a blank would fit the end of a
    // unit that ends in full-width spaces too.
    int read(std::string_view record, std::vector<Span> *spans)
    {
        if (pieces_.size() > MAX_PIECES)
            return -1;
        record_ = record;
        steps_ = 0;
        for (const bool blanks : {false, true}) {
            blanks_ = blanks;
            readings_ = 0;
            ambiguous_ = false;
            named_[0] = named_[1] = false;
            spans_.clear();
            next(0, 0);
            if (ambiguous_)
                return -1;
            if (readings_ > 0) {
                *spans = first_;
                return 1;
            }
        }
        return 0;
    }

private:
    void fitted()
    {
        if (readings_++ == 0)
            first_ = spans_;
        else if (spans_ != first_)
            ambiguous_ = true;
    }

    // Reads piece k at the byte at, then the rest, with the stretch [at, to) taken by piece k.
    void take(std::size_t k, std::size_t at, std::size_t to, bool blanked, bool url)
    {
        if (blanked)
            spans_.push_back({at, to, url});
        next(k + 1, to);
        if (blanked)
            spans_.pop_back();
    }

    void next(std::size_t k, std::size_t at)
    {
        if (ambiguous_ || ++steps_ > MAX_STEPS) {
            ambiguous_ = true;
            return;
        }
        if (k == pieces_.size()) {
            if (at == record_.size())
                fitted();
            return;
        }
        const Piece &piece = pieces_[k];
        const std::string_view rest = record_.substr(at);
        switch (piece.part) {
        case Part::text:
            if (rest.starts_with(piece.bytes))
                take(k, at, at + piece.bytes.size(), false, false);
            return;
        case Part::callback:
            if (piece.number == 0) {
                if (const std::size_t n = post_time_length(rest))
                    take(k, at, at + n, false, false);
            } else {
                for (const std::string_view colour : poster_colours)
                    if (rest.starts_with(colour))
                        take(k, at, at + colour.size(), false, false);
            }
            return;
        case Part::environment:
            // An address holds no space; any other variable may hold what its encoder writes.
            any(k, at, false, false, piece.bytes == "REMOTE_ADDR");
            return;
        case Part::field:
            break;
        }
        if (piece.bytes == "four") {
            const std::string &four = four_[piece.url];
            if (rest.starts_with(four))
                take(k, at, at + four.size(), true, piece.url);
            if (blanks_)
                for (const std::size_t n : blank_lengths(rest, piece.url))
                    if (n != four.size() || !rest.starts_with(four))
                        take(k, at, at + n, true, piece.url);
        } else if (piece.bytes == RECORD_OFFSET_FIELD) {
            if (rest.starts_with(offset_))
                take(k, at, at + offset_.size(), false, false);
        } else if (piece.bytes == "namae" && named_[piece.url]) {
            if (rest.starts_with(name_[piece.url]))
                take(k, at, at + name_[piece.url].size(), true, piece.url);
        } else {
            any(k, at, piece.bytes == "namae", piece.url, false);
        }
    }

    // Piece k as any run of bytes that its encoder may write, shortest first; the name is
    // fixed by the run it takes.
    void any(std::size_t k, std::size_t at, bool name, bool url, bool no_space)
    {
        for (std::size_t to = at;; to++) {
            if (name) {
                name_[url] = record_.substr(at, to - at);
                named_[url] = true;
            }
            take(k, at, to, name, url);
            if (name)
                named_[url] = false;
            if (to == record_.size() || ambiguous_)
                return;
            const unsigned char c = static_cast<unsigned char>(record_[to]);
            if (!encodable_.may_hold(c, url) || (no_space && c == ' '))
                return;
        }
    }

    const std::vector<Piece> &pieces_;
    const Encodable &encodable_;
    const std::string four_[2];  // as HTML, as a URL
    const std::string offset_;
    std::string_view record_;
    long long readings_ = 0, steps_ = 0;
    bool blanks_ = false;
    bool ambiguous_ = false;
    std::string_view name_[2];
    bool named_[2] = {false, false};
    std::vector<Span> spans_, first_;
};

// The offset that the record's mark names, or -1 when it begins with none: the digits as
// zt-write writes them, without a sign, a space or a leading zero.
long long marked_offset(std::string_view record)
{
    if (!record.starts_with(RECORD_MARK_OPEN))
        return -1;
    record.remove_prefix(RECORD_MARK_OPEN.size());
    const std::size_t digits = std::min(record.find_first_not_of("0123456789"), record.size());
    if (digits == 0 || digits > static_cast<std::size_t>(RECORD_OFFSET_DIGITS) ||
        (digits > 1 && record[0] == '0') || !record.substr(digits).starts_with(RECORD_MARK_CLOSE))
        return -1;
    return strtoll(std::string(record.substr(0, digits)).c_str(), nullptr, 10);
}

// The record read against pieces, and blanked where one reading fits: RecordReading's result.
int read_record(const std::vector<Piece> &pieces, std::string_view record, std::string_view four,
                long long offset, std::string *blanked)
{
    static const Encodable encodable;
    RecordReading reading(pieces, encodable, four, offset);
    std::vector<Span> spans;
    const int read = reading.read(record, &spans);
    if (read != 1)
        return read;
    *blanked = record;
    for (const Span &span : spans)
        blanked->replace(span.from, span.to - span.from, blank(span.to - span.from, span.url));
    return 1;
}

// Blanks the posts' records in log digit, whose template's pieces are given.
void blank_log(const std::string &path, const std::vector<Piece> &pieces, std::string_view text,
               std::span<const long long> offsets, LogBlanking *log)
{
    CommentLog_State state;
    if (CommentLog_Edit(path.c_str(), &state) != 0) {
        log->skipped =
            errno == ENOENT ? "missing" : "cannot be opened (no regular file, or no access)";
        return;
    }
    if (state.header != COMMENT_HEADER_SOUND) {
        CommentLog_Close();
        log->skipped = "its header cannot be read";
        return;
    }
    for (const LogRecord &record : walk_comment_log()) {
        const long long offset = marked_offset(record.content);
        if (!record.whole || !std::binary_search(offsets.begin(), offsets.end(), offset) ||
            offset + UNIT_BYTES > static_cast<long long>(text.size()))
            continue;
        std::string blanked;
        if (read_record(pieces, record.content, text.substr(offset, UNIT_BYTES), offset,
                        &blanked) != 1) {
            log->unfit++;
            continue;
        }
        if (blanked == record.content)
            log->blank++;
        else if (CommentLog_Rewrite(record.offset, record.content.data(), blanked.data(),
                                    blanked.size()) == 0)
            log->blanked++;
        else
            log->failed++;
    }
    CommentLog_Close();
}

// The mark as a template writes it, its directive's 0x01 given.
std::string template_mark(std::string_view directive)
{
    return std::string(RECORD_MARK_OPEN) + std::string(directive) + "{" + RECORD_OFFSET_FIELD +
           "}" + std::string(RECORD_MARK_CLOSE);
}

}  // namespace

bool record_template_marked(std::string_view bytes)
{
    std::string text(bytes);
    text.resize(Tolvak_TemplateText(text.data(), text.size()));
    return text.starts_with(template_mark("\x01"));
}

std::string unmarked_template_warning(const std::string &dir, int digit)
{
    const std::string name = record_template_name(digit);
    std::string bytes;
    if (!read_whole_file(board_path(dir, name), &bytes) || record_template_marked(bytes))
        return "";
    // The 0x01 as the default templates' sources picture it, U+2401.
    return name + " has no mark of the post it records (a first line that begins with " +
           template_mark("\xE2\x90\x81") +
           "): zt-admin redact and rollback leave its records as they are";
}

int blank_record(std::string_view template_bytes, std::string_view record, std::string_view four,
                 long long offset, std::string *blanked)
{
    std::vector<Piece> pieces;
    if (!read_pieces(template_bytes, &pieces))
        return 0;
    return read_record(pieces, record, four, offset, blanked);
}

std::vector<LogBlanking> blank_post_records(const std::string &dir, std::string_view text,
                                            std::span<const long long> offsets)
{
    std::vector<LogBlanking> logs(COMMENT_LOGS);
    for (int digit = 1; digit <= COMMENT_LOGS; digit++) {
        LogBlanking &log = logs[digit - 1];
        const std::string name = record_template_name(digit);
        std::string bytes;
        std::vector<Piece> pieces;
        if (!read_whole_file(board_path(dir, name), &bytes))
            log.skipped = name + ", by which its records are read, cannot be read";
        else if (!record_template_marked(bytes))
            log.skipped = name + " has no mark of the post it records";
        else if (!read_pieces(bytes, &pieces))
            log.skipped = name + " cannot be read: no memory";
        else
            blank_log(board_path(dir, comment_log_name(digit)), pieces, text, offsets, &log);
    }
    return logs;
}

void print_blanking(const std::vector<LogBlanking> &logs)
{
    for (std::size_t i = 0; i < logs.size(); i++) {
        const LogBlanking &log = logs[i];
        std::string said;
        const auto add = [&said](long long n, const std::string &what) {
            if (n > 0)
                said += (said.empty() ? "" : ", ") + what;
        };
        add(log.blanked, count(log.blanked, "record") + " blanked");
        add(log.blank, format("%s blank already", count(log.blank, "record").c_str()));
        add(log.unfit, format("%s left as they are: they fit their template in no one way",
                              count(log.unfit, "record").c_str()));
        add(log.failed, format("%s could not be written", count(log.failed, "record").c_str()));
        if (!log.skipped.empty())
            said = log.skipped + ": its records were left as they are";
        else if (said.empty())
            said = "no record of these posts is left in it";
        printf("log %zu: %s\n", i + 1, said.c_str());
    }
}
