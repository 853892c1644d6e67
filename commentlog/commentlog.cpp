// The comment log: the current log's stream and offsets, the header, the append and the two
// walks of the print. The log is read and written at the descriptor level, at offsets named
// in each call: reads go through one fixed window of the file, out of which a print takes
// each record's line whole, and an append frames its record there and writes it at once.
// Nothing is allocated. Offsets are 64-bit here and checked against the file before they are used, so
// no header or length field, however damaged, moves a read or a write outside the file.
#include "commentlog.h"
#include "number.h"

#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace {

constexpr char HEX_DIGITS[] = "0123456789abcdef";
constexpr int OFFSET_DIGITS = 8;
constexpr int LENGTH_DIGITS = 4;

// The length field and the TAB before a record's content.
constexpr int LENGTH_FIELD_BYTES = LENGTH_DIGITS + 1;

// The bytes of a record beyond its content: length field, TAB, LF.
constexpr std::int64_t RECORD_FRAME_BYTES = LENGTH_FIELD_BYTES + 1;

// What the open reads for the header: the header and any white space a lenient header holds.
constexpr std::int64_t HEADER_READ_BYTES = 512;

// The header holds 32-bit offsets, so a larger file cannot be described.
constexpr std::int64_t MAX_LOG_BYTES = UINT32_MAX;

FILE *current;             // the current log, or null
std::int64_t head;         // offset of the newest record
std::int64_t old_head;     // offset of the previous lap's newest record
std::int64_t opened_size;  // the log's size when it was opened

// The bytes of the current log that were read last: [window_start, window_end) of the file,
// read at the descriptor level in one call. A print reads a log of up to WINDOW_BYTES in one
// read and takes whole lines out of it, rather than a byte at a time through the stream.
// Every write to the log empties it, so it never shows bytes that have changed.
constexpr std::int64_t WINDOW_BYTES = 64 * 1024;
char window[WINDOW_BYTES];
std::int64_t window_start;
std::int64_t window_end;

void forget_window()
{
    window_start = window_end = 0;
}

// Fills the window with what one read from offset from gives, at most to (and at most
// WINDOW_BYTES); false when it gives nothing.
bool fill_window(std::int64_t from, std::int64_t to)
{
    forget_window();
    const std::int64_t want = to - from < WINDOW_BYTES ? to - from : WINDOW_BYTES;
    if (want <= 0)
        return false;
    ssize_t got;
    do
        got = pread(fileno(current), window, static_cast<std::size_t>(want), from);
    while (got < 0 && errno == EINTR);
    if (got <= 0)
        return false;
    window_start = from;
    window_end = from + got;
    return true;
}

// Reads the current log from pos, counting where it stands, and reads nothing at or past
// limit: there it reports the end as EOF does, as it does at the end of the file. A read that
// leaves the window refills it from there, with at most chunk bytes.
//
// What a walk prints it gathers in the window itself: each line is moved down to the end of
// the lines before it, over the length fields already passed, and the gathered bytes go out
// in one write before the window is refilled and when the walk ends. That spoils the
// window's bytes from where the walk began; finish() drops them from the window.
struct Reader {
    std::int64_t pos;
    std::int64_t limit;
    std::int64_t chunk = WINDOW_BYTES;
    FILE *out = nullptr;
    char *gathered = nullptr;  // the lines gathered so far begin here
    char *gathered_end = nullptr;

    // Writes out what was gathered.
    void flush()
    {
        if (gathered != gathered_end)
            fwrite_unlocked(gathered, 1, static_cast<std::size_t>(gathered_end - gathered), out);
        gathered = gathered_end = nullptr;
    }

    // Makes the byte at pos readable; false at the end.
    bool ready()
    {
        if (pos >= limit)
            return false;
        if (pos >= window_start && pos < window_end)
            return true;
        flush();
        return fill_window(pos, pos + chunk < limit ? pos + chunk : limit);
    }

    int get()
    {
        if (!ready())
            return EOF;
        return static_cast<unsigned char>(window[pos++ - window_start]);
    }

    void unget(int) { pos--; }

    // The readable bytes from pos on that the window holds, at least one unless at the end.
    std::int64_t run()
    {
        if (!ready())
            return 0;
        const std::int64_t end = window_end < limit ? window_end : limit;
        return end - pos;
    }

    char *here() const { return window + (pos - window_start); }

    // Takes the next length bytes, which the window holds, into what is printed.
    void gather(std::int64_t length)
    {
        char *from = here();
        if (!gathered)
            gathered = gathered_end = from;
        if (gathered_end != from)
            memmove(gathered_end, from, static_cast<std::size_t>(length));
        gathered_end += length;
        pos += length;
    }

    // Writes what is left and keeps of the window only the bytes below the walk's start at,
    // which the gathering did not touch.
    void finish(std::int64_t at)
    {
        flush();
        if (window_end > at)
            window_end = at;
        if (window_end <= window_start)
            forget_window();
    }
};

// Reads a number of 1 to max_digits hex digits, either case, after optional white space.
// The byte that ends a shorter number stays unread; nothing past a full one is read.
bool read_hex(Reader &in, int max_digits, std::int64_t *value)
{
    int c = in.get();
    while (Tolvak_IsSpace(c))
        c = in.get();
    std::int64_t v = 0;
    int digits = 0;
    // EOF, cast to a byte, is 0xFF: not a digit either.
    for (int d; digits < max_digits && (d = Tolvak_HexValue(static_cast<unsigned char>(c))) >= 0;) {
        v = v << 4 | d;
        c = ++digits < max_digits ? in.get() : EOF;
    }
    if (c != EOF)
        in.unget(c);
    *value = v;
    return digits > 0;
}

// Writes value as digits lowercase hex digits at to; returns the end.
char *put_hex(std::int64_t value, int digits, char *to)
{
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4)
        *to++ = HEX_DIGITS[value >> shift & 0xF];
    return to;
}

// Writes bytes at offset of the current log, all of them; false when a write fails or stores
// nothing.
bool write_at(const char *bytes, std::int64_t n, std::int64_t offset)
{
    while (n > 0) {
        const ssize_t k = pwrite(fileno(current), bytes, static_cast<std::size_t>(n), offset);
        if (k < 0 && errno == EINTR)
            continue;
        if (k <= 0)
            return false;
        bytes += k;
        n -= k;
        offset += k;
    }
    return true;
}

// The size of the open log, or -1.
std::int64_t log_size()
{
    struct stat st;
    if (fstat(fileno(current), &st) != 0)
        return -1;
    return st.st_size;
}

// Offsets that an append can build on: both inside the record area or at its end.
bool offsets_usable(std::int64_t h, std::int64_t o, std::int64_t size)
{
    return h >= COMMENT_HEADER_BYTES && h <= size && o >= COMMENT_HEADER_BYTES && o <= size;
}

// Writes the header at the start of the file, in one write that names its offset, so that
// no failed seek can put it on a record; false when the write failed.
bool write_header(std::int64_t h, std::int64_t o)
{
    forget_window();
    char header[COMMENT_HEADER_BYTES];
    char *end = put_hex(h, OFFSET_DIGITS, header);
    *end++ = '\n';
    end = put_hex(o, OFFSET_DIGITS, end);
    *end++ = '\n';
    return write_at(header, end - header, 0);
}

// Takes the rest of a line, its LF included, into what in prints; false at the end of what in
// may read, which ends a walk.
bool copy_line(Reader &in)
{
    for (;;) {
        const std::int64_t n = in.run();
        if (n == 0)
            return false;
        const char *from = in.here();
        const char *lf = static_cast<const char *>(memchr(from, '\n', static_cast<std::size_t>(n)));
        in.gather(lf ? lf - from + 1 : n);
        if (lf)
            return true;
    }
}

// Passes over n bytes; false when the end comes first.
bool skip(Reader &in, std::int64_t n)
{
    while (n > 0) {
        const std::int64_t run = in.run();
        if (run == 0)
            return false;
        const std::int64_t step = run < n ? run : n;
        in.pos += step;
        n -= step;
    }
    return true;
}

// First walk, over the current lap: every line from the head offset to the end of the file
// is a record, shown without its first five bytes. Lengths are not examined. A line that the
// window holds whole is taken at once; one that runs past the window's end, or the end of
// the file, is taken in pieces.
void print_current_lap(std::int64_t size, FILE *out)
{
    if (head >= size)
        return;
    Reader in{head, size, WINDOW_BYTES, out};
    for (;;) {
        const std::int64_t n = in.run();  // may refill the window: before here()
        if (n > LENGTH_FIELD_BYTES) {
            const char *content = in.here() + LENGTH_FIELD_BYTES;
            const std::size_t rest = static_cast<std::size_t>(n - LENGTH_FIELD_BYTES);
            if (const char *lf = static_cast<const char *>(memchr(content, '\n', rest))) {
                in.pos += LENGTH_FIELD_BYTES;
                in.gather(lf - content + 1);
                continue;
            }
        }
        if (!skip(in, LENGTH_FIELD_BYTES) || !copy_line(in))
            break;
    }
    in.finish(head);
}

// The length of the record at p, when the n bytes from p hold it whole and sound: four hex
// digits, a byte, content without a LF, and the LF at the end of its length, which does not
// reach past what n covers. Otherwise 0, and the record is read the long way.
std::int64_t whole_record(const char *p, std::int64_t n)
{
    if (n < RECORD_FRAME_BYTES)
        return 0;
    std::int64_t length = 0;
    for (int i = 0; i < LENGTH_DIGITS; i++) {
        const int d = Tolvak_HexValue(static_cast<unsigned char>(p[i]));
        if (d < 0)
            return 0;
        length = length << 4 | d;
    }
    if (length < RECORD_FRAME_BYTES || length > n)
        return 0;
    const char *content = p + LENGTH_FIELD_BYTES;
    const std::size_t bytes = static_cast<std::size_t>(length - LENGTH_FIELD_BYTES);
    return memchr(content, '\n', bytes) == p + length - 1 ? length : 0;
}

// Second walk, over the previous lap: its records from the old-head offset on, as long as
// they lie wholly below the head offset, where the current lap has not overwritten them. The
// lengths find that boundary, so they must describe the records: the walk stops after a line
// that does not end where its length says, and it never reads at or past the head offset,
// so damaged lengths or white space cannot lead it into the first walk's lines. A sound
// record that the window holds whole is taken at once; any other is read byte by byte.
void print_previous_lap(std::int64_t size, FILE *out)
{
    const std::int64_t limit = head < size ? head : size;
    if (old_head >= limit)
        return;
    Reader in{old_head, limit, WINDOW_BYTES, out};
    for (;;) {
        const std::int64_t n = in.run();  // may refill the window: before here()
        if (const std::int64_t length = n > 0 ? whole_record(in.here(), n) : 0) {
            in.pos += LENGTH_FIELD_BYTES;
            in.gather(length - LENGTH_FIELD_BYTES);
            continue;
        }
        const std::int64_t start = in.pos;
        std::int64_t length;
        if (!read_hex(in, LENGTH_DIGITS, &length) || in.get() == EOF)
            break;
        const std::int64_t end = start + length;
        if (end <= in.pos || end > limit)  // no room for the LF, or over the head
            break;
        if (!copy_line(in) || in.pos != end)
            break;
    }
    in.finish(old_head);
}

}  // namespace

int CommentLog_Open(const char *path)
{
    CommentLog_Close();
    FILE *log = fopen(path, "r+b");
    if (!log)
        return -1;
    // Only a regular file is a log: a FIFO or a device could block the run or never end.
    struct stat st;
    if (fstat(fileno(log), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > MAX_LOG_BYTES) {
        fclose(log);
        return -1;
    }
    current = log;
    // Readers hold the log shared from here to the close, and an append holds it exclusively,
    // so that no print reads a record or a header that an append is writing. The lock goes
    // with the descriptor, also when a run dies. Where the file system has no such locks, the
    // log is used without them.
    flock(fileno(log), LOCK_SH);
    forget_window();
    const std::int64_t size = opened_size = st.st_size;

    // The header, and the first records with it; a poster that only appends reads no more.
    Reader in{0, size, HEADER_READ_BYTES};
    if (read_hex(in, OFFSET_DIGITS, &head) && read_hex(in, OFFSET_DIGITS, &old_head) &&
        offsets_usable(head, old_head, size))
        return 0;
    // Unreadable, or offsets that would put records into the header or past the end: the
    // fresh header. A file too short to hold a header is left as it is.
    head = old_head = COMMENT_HEADER_BYTES;
    if (size >= COMMENT_HEADER_BYTES) {
        flock(fileno(log), LOCK_EX);
        write_header(head, old_head);
    }
    return 0;
}

int CommentLog_Append(FILE *record)
{
    if (!current || !record)
        return -1;
    flock(fileno(current), LOCK_EX);  // held to the close
    const std::int64_t content = ftello(record);
    const std::int64_t size = log_size();
    if (content < 0 || size < 0)
        return -1;
    const std::int64_t length = content + RECORD_FRAME_BYTES;
    if (length > COMMENT_RECORD_MAX || length > size - COMMENT_HEADER_BYTES)
        return -1;

    std::int64_t h = head;
    std::int64_t o = old_head;
    if (!offsets_usable(h, o, size))  // the file changed its size since the open
        h = o = COMMENT_HEADER_BYTES;
    const bool new_lap = h - COMMENT_HEADER_BYTES < length;  // no room above the head
    if (new_lap) {
        o = h;
        h = size - length;
    } else {
        h -= length;
    }
    // A new lap's record overwrites the oldest records of the current lap, which the header
    // still claims. So the header first says that the current lap is empty and those records
    // are the previous lap: no moment, and no run that dies or fails halfway, leaves a header
    // that claims a record being overwritten.
    if (new_lap) {
        if (!write_header(size, o))
            return -1;
        head = size;
        old_head = o;
    }
    if (fseeko(record, 0, SEEK_SET) != 0)
        return -1;

    // The record is framed in the window (it holds the longest one) and written in one
    // write, before the header that points to it, so a write that fails or is cut short
    // leaves the header on the records that were complete.
    static_assert(COMMENT_RECORD_MAX <= WINDOW_BYTES, "the window frames any record");
    forget_window();
    char *text = put_hex(length, LENGTH_DIGITS, window);
    *text++ = '\t';
    const std::size_t got = fread_unlocked(text, 1, static_cast<std::size_t>(content), record);
    memset(text + got, ' ', static_cast<std::size_t>(content) - got);  // exactly the length announced
    for (char *lf = text; (lf = static_cast<char *>(memchr(lf, '\n', text + content - lf)));)
        *lf = ' ';  // one line
    text[content] = '\n';
    if (!write_at(window, length, h) || !write_header(h, o))
        return -1;
    head = h;
    old_head = o;
    return 0;
}

void CommentLog_Print(FILE *out)
{
    if (!current)
        return;
    // No program changes a log's size, so the size the open found still holds; an append
    // takes it anew all the same, since it must never write past the end.
    const std::int64_t size = opened_size;
    if (size < COMMENT_HEADER_BYTES)
        return;
    // Both laps lie between the lower of the two offsets and the end of the file: one read
    // serves both walks of a log that fits the window.
    const std::int64_t from = head < old_head ? head : old_head;
    if (from < size)
        fill_window(from, size);
    print_current_lap(size, out);
    // An empty current lap above a previous one is the header that a new lap writes before its
    // first record: left behind by a run that died or failed there, it may have the previous
    // lap's newest records overwritten in part, so that lap shows again after the next append.
    if (head < size || old_head >= size)
        print_previous_lap(size, out);
}

void CommentLog_Close()
{
    if (!current)
        return;
    fclose(current);
    current = nullptr;
}
