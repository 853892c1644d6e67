// The comment log: the current log's stream and offsets, the header, the append and the two
// walks of the print. Every transfer is a byte at a time through the stream buffers; nothing
// is allocated. Offsets are 64-bit here and checked against the file before they are used, so
// no header or length field, however damaged, moves a read or a write outside the file.
#include "commentlog.h"

#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>

namespace {

constexpr char HEX_DIGITS[] = "0123456789abcdef";
constexpr int OFFSET_DIGITS = 8;
constexpr int LENGTH_DIGITS = 4;

// The length field and the TAB before a record's content.
constexpr int LENGTH_FIELD_BYTES = LENGTH_DIGITS + 1;

// The bytes of a record beyond its content: length field, TAB, LF.
constexpr std::int64_t RECORD_FRAME_BYTES = LENGTH_FIELD_BYTES + 1;

// The header holds 32-bit offsets, so a larger file cannot be described.
constexpr std::int64_t MAX_LOG_BYTES = UINT32_MAX;

FILE *current;          // the current log, or null
std::int64_t head;      // offset of the newest record
std::int64_t old_head;  // offset of the previous lap's newest record

// White space as the C locale knows it: space, TAB, LF, VT, FF, CR.
constexpr bool is_space(int c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// The value of a hex digit of either case, or -1.
constexpr int hex_value(int c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Reads the log from the stream's position, counting where it stands, and reads nothing at
// or past limit: there it reports the end as EOF does.
struct Reader {
    FILE *file;
    std::int64_t pos;
    std::int64_t limit;

    int get()
    {
        if (pos >= limit)
            return EOF;
        const int c = getc_unlocked(file);
        if (c != EOF)
            pos++;
        return c;
    }

    void unget(int c)
    {
        ungetc(c, file);
        pos--;
    }
};

// Reads a number of 1 to max_digits hex digits, either case, after optional white space.
// The byte that ends a shorter number stays unread; nothing past a full one is read.
bool read_hex(Reader &in, int max_digits, std::int64_t *value)
{
    int c = in.get();
    while (is_space(c))
        c = in.get();
    std::int64_t v = 0;
    int digits = 0;
    for (int d; digits < max_digits && (d = hex_value(c)) >= 0;) {
        v = v << 4 | d;
        c = ++digits < max_digits ? in.get() : EOF;
    }
    if (c != EOF)
        in.unget(c);
    *value = v;
    return digits > 0;
}

void put_hex(std::int64_t value, int digits, FILE *out)
{
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4)
        putc_unlocked(HEX_DIGITS[value >> shift & 0xF], out);
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

// Writes the header and pushes it to the file; false when the write failed.
bool write_header(std::int64_t h, std::int64_t o)
{
    if (fseeko(current, 0, SEEK_SET) != 0)  // a header written where the stream stands
        return false;                       // would land on a record
    put_hex(h, OFFSET_DIGITS, current);
    putc_unlocked('\n', current);
    put_hex(o, OFFSET_DIGITS, current);
    putc_unlocked('\n', current);
    return fflush(current) == 0 && !ferror(current);
}

// Copies the rest of a line, its LF included, from in to out; false at the end of what in
// may read, which ends a walk.
bool copy_line(Reader &in, FILE *out)
{
    for (;;) {
        const int c = in.get();
        if (c == EOF)
            return false;
        putc_unlocked(c, out);
        if (c == '\n')
            return true;
    }
}

// First walk, over the current lap: every line from the head offset to the end of the file
// is a record, shown without its first five bytes. Lengths are not examined.
void print_current_lap(std::int64_t size, FILE *out)
{
    if (head >= size || fseeko(current, head, SEEK_SET) != 0)
        return;
    Reader in{current, head, size};
    for (;;) {
        for (int i = 0; i < LENGTH_FIELD_BYTES; i++)
            if (in.get() == EOF)
                return;
        if (!copy_line(in, out))
            return;
    }
}

// Second walk, over the previous lap: its records from the old-head offset on, as long as
// they lie wholly below the head offset, where the current lap has not overwritten them. The
// lengths find that boundary, so they must describe the records: the walk stops after a line
// that does not end where its length says, and it never reads at or past the head offset,
// so damaged lengths or white space cannot lead it into the first walk's lines.
void print_previous_lap(std::int64_t size, FILE *out)
{
    const std::int64_t limit = head < size ? head : size;
    if (old_head >= limit || fseeko(current, old_head, SEEK_SET) != 0)
        return;
    Reader in{current, old_head, limit};
    for (;;) {
        const std::int64_t start = in.pos;
        std::int64_t length;
        if (!read_hex(in, LENGTH_DIGITS, &length) || in.get() == EOF)
            return;
        const std::int64_t end = start + length;
        if (end <= in.pos || end > limit)  // no room for the LF, or over the head
            return;
        if (!copy_line(in, out) || in.pos != end)
            return;
    }
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
    const std::int64_t size = st.st_size;

    Reader in{log, 0, size};
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
        if (!write_header(size, o)) {
            clearerr(current);
            return -1;
        }
        head = size;
        old_head = o;
    }
    if (fseeko(record, 0, SEEK_SET) != 0 || fseeko(current, h, SEEK_SET) != 0)
        return -1;

    // The record goes to the file before the header that points to it, so a write that
    // fails or is cut short leaves the header on the records that were complete.
    put_hex(length, LENGTH_DIGITS, current);
    putc_unlocked('\t', current);
    for (std::int64_t i = 0; i < content; i++) {
        int c = getc_unlocked(record);
        if (c == '\n' || c == EOF)  // one line, and exactly the length announced
            c = ' ';
        putc_unlocked(c, current);
    }
    putc_unlocked('\n', current);
    if (fflush(current) != 0 || ferror(current) || !write_header(h, o)) {
        clearerr(current);
        return -1;
    }
    head = h;
    old_head = o;
    return 0;
}

void CommentLog_Print(FILE *out)
{
    if (!current)
        return;
    const std::int64_t size = log_size();
    if (size < COMMENT_HEADER_BYTES)
        return;
    print_current_lap(size, out);
    // An empty current lap above a previous one is the header that a new lap writes before its
    // first record: left behind by a run that died or failed there, it may have the previous
    // lap's newest records overwritten in part, so that lap shows again after the next append.
    if (head < size || old_head >= size)
        print_previous_lap(size, out);
    clearerr(current);
}

void CommentLog_Close()
{
    if (!current)
        return;
    fclose(current);
    current = nullptr;
}
