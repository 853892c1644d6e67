// The comment log: the current log's descriptor and offsets, the header, the append and the
// walk of its records. The log is read and written at the descriptor level, at offsets named
// in each call. Three fixed buffers, each with one job: the read window, through which every
// read of the log goes; the print's gather area, in which the records of a walk collect before
// they go out in one write; and the append's frame, in which a record is laid out whole before
// it is written in one call. Offsets are 64-bit here and checked against the file before they
// are used, so no header or length field, however damaged, moves a read or a write outside
// the file.
#include "commentlog.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>

namespace {

constexpr char HEX_DIGITS[] = "0123456789abcdef";
constexpr int OFFSET_DIGITS = 8;
constexpr int LENGTH_DIGITS = 4;

// The length field and the TAB before a record's content.
constexpr int LENGTH_FIELD_BYTES = LENGTH_DIGITS + 1;

constexpr std::int64_t RECORD_FRAME_BYTES = COMMENT_RECORD_FRAME_BYTES;
static_assert(RECORD_FRAME_BYTES == LENGTH_FIELD_BYTES + 1, "length field, TAB, LF");

// What the open reads for the header: the header and any white space a lenient header holds.
constexpr std::int64_t HEADER_READ_BYTES = 512;

// The header holds 32-bit offsets, so a larger file cannot be described.
constexpr std::int64_t MAX_HEADER_OFFSET = UINT32_MAX;

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
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// hex_value of every byte as the digit at place i of a four-digit number (0 the first), that
// is shifted left by 4 * (3 - i) bits; -1 where it is no digit. Four digits read as
// HEX_PLACE[0][a] | HEX_PLACE[1][b] | HEX_PLACE[2][c] | HEX_PLACE[3][d], which is -1 unless all
// are digits: a record's length field reads without a branch.
constexpr std::array<std::array<std::int64_t, 256>, 4> hex_places()
{
    std::array<std::array<std::int64_t, 256>, 4> places{};
    for (int i = 0; i < 4; i++) {
        for (int c = 0; c < 256; c++) {
            const int v = hex_value(c);
            places[i][static_cast<std::size_t>(c)] = v < 0 ? -1 : std::int64_t{v} << 4 * (3 - i);
        }
    }
    return places;
}
constexpr std::array<std::array<std::int64_t, 256>, 4> HEX_PLACE = hex_places();

int current = -1;          // the current log's descriptor, or -1
std::int64_t head;         // offset of the newest record
std::int64_t old_head;     // offset of the previous lap's newest record
std::int64_t opened_size;  // the log's size when it was opened

// The print copies a record as the whole blocks of this size that cover it: a few wide moves
// instead of a call for each record. Such a copy reads and writes up to a block less one byte
// past the record, so the window and the print's gather area end in a block of spare room.
constexpr std::int64_t COPY_BLOCK = 64;

void copy_blocks(char *to, const char *from, std::int64_t n)
{
    memcpy(to, from, COPY_BLOCK);  // most records: one block, without a loop
    for (std::int64_t i = COPY_BLOCK; i < n; i += COPY_BLOCK)
        memcpy(to + i, from + i, COPY_BLOCK);
}

// The bytes of the current log that were read last: [window_start, window_end) of the file,
// read at the descriptor level in one call. A log of up to 64 KiB is read in one call, and a
// walk takes each record in one piece out of it. Every write to the log empties it, so it
// never shows bytes that have changed.
constexpr std::int64_t WINDOW_BYTES = 64 * 1024;
char window[WINDOW_BYTES + COPY_BLOCK];
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
        got = pread(current, window, static_cast<std::size_t>(want), from);
    while (got < 0 && errno == EINTR);
    if (got <= 0)
        return false;
    window_start = from;
    window_end = from + got;
    return true;
}

// Reads the current log from pos through the window, and reads nothing at or past limit:
// there it reports the end as EOF does, as it does at the end of the file. A read that leaves
// the window refills it from there, with at most chunk bytes.
struct Reader {
    std::int64_t pos;
    std::int64_t limit;
    std::int64_t chunk = WINDOW_BYTES;

    // Makes the byte at pos readable; false at the end.
    bool ready()
    {
        if (pos >= limit)
            return false;
        if (pos >= window_start && pos < window_end)
            return true;
        return fill_window(pos, pos + chunk < limit ? pos + chunk : limit);
    }

    int get()
    {
        if (!ready())
            return EOF;
        return static_cast<unsigned char>(window[pos++ - window_start]);
    }


    // The readable bytes from pos on that the window holds, at least one unless at the end.
    std::int64_t run()
    {
        if (!ready())
            return 0;
        const std::int64_t end = window_end < limit ? window_end : limit;
        return end - pos;
    }

    const char *here() const { return window + (pos - window_start); }
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
        in.pos--;  // unread
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

// The value of the four hex digits at p, or a negative number when they are not.
std::int64_t hex4(const char *p)
{
    static_assert(LENGTH_DIGITS == 4);
    const auto digit = [p](int i) { return HEX_PLACE[i][static_cast<unsigned char>(p[i])]; };
    return digit(0) | digit(1) | digit(2) | digit(3);
}

// The length that a record's field at p gives: four hex digits and a TAB, else negative.
std::int64_t length_field(const char *p)
{
    return p[LENGTH_DIGITS] == '\t' ? hex4(p) : -1;
}

// The offsets of a header exactly as CommentLog_FormatHeader writes it, at in's position,
// read by whole fields; false, with nothing read, when it is not such a header, which
// read_hex then reads leniently to the same offsets where it can.
bool exact_header(Reader &in, std::int64_t *h, std::int64_t *o)
{
    static_assert(OFFSET_DIGITS == 2 * LENGTH_DIGITS);
    if (in.run() < COMMENT_HEADER_BYTES)
        return false;
    const char *p = in.here();
    const std::int64_t hh = hex4(p) << 16 | hex4(p + 4);
    const std::int64_t oo = hex4(p + 9) << 16 | hex4(p + 13);
    if (hh < 0 || oo < 0 || p[8] != '\n' || p[17] != '\n')
        return false;
    *h = hh;
    *o = oo;
    return true;
}

// Writes bytes at offset of the current log, all of them; false when a write fails or stores
// nothing.
bool write_at(const char *bytes, std::int64_t n, std::int64_t offset)
{
    while (n > 0) {
        const ssize_t k = pwrite(current, bytes, static_cast<std::size_t>(n), offset);
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
    CommentLog_FormatHeader(header, h, o);
    return write_at(header, COMMENT_HEADER_BYTES, 0);
}

// Holds the current log with flock: shared while reading, exclusive while writing. Where the
// file system has no such locks the log is used without them, as before they were taken.
void hold(int how)
{
    (void)flock(current, how);
}

// Opens path for writing or only for reading and makes it current, reads its header and
// fills *state. The offsets a walk or an append starts from are the header's when it is
// sound, else the fresh header's.
int open_log(const char *path, bool write, CommentLog_State *state)
{
    CommentLog_Close();
    // Only a regular file is a log: a FIFO or a device could block the run or never end, so the
    // open does not wait, and a symbolic link is not followed, wherever it points.
    const int fd = open(path, (write ? O_RDWR : O_RDONLY) | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > MAX_HEADER_OFFSET) {
        (void)close(fd);  // nothing was written
        return -1;
    }
    current = fd;
    // Readers hold the log shared from here to the close, and an append holds it exclusively,
    // so that no print reads a record or a header that an append is writing. The lock goes
    // with the descriptor, also when a run dies.
    hold(LOCK_SH);
    forget_window();
    const std::int64_t size = opened_size = st.st_size;
    *state = {size, 0, 0, COMMENT_HEADER_SOUND};

    // The header, and the first records with it; a poster that only appends reads no more.
    Reader in{0, size, HEADER_READ_BYTES};
    std::int64_t h = 0, o = 0;
    if (size < COMMENT_HEADER_BYTES)
        state->header = COMMENT_HEADER_SHORT;
    else if (!exact_header(in, &h, &o) &&
             (!read_hex(in, OFFSET_DIGITS, &h) || !read_hex(in, OFFSET_DIGITS, &o)))
        state->header = COMMENT_HEADER_UNREADABLE;
    else if (!offsets_usable(h, o, size))
        state->header = COMMENT_HEADER_OUT_OF_RANGE;
    state->head = h;
    state->old_head = o;
    head = state->header == COMMENT_HEADER_SOUND ? h : COMMENT_HEADER_BYTES;
    old_head = state->header == COMMENT_HEADER_SOUND ? o : COMMENT_HEADER_BYTES;
    return 0;
}

// Hands the rest of a record's line, its LF included, to visit, in pieces as the window
// holds it; false when the end of what in may read comes first, which ends a walk.
template <class Visit>
bool visit_line(Reader &in, CommentLog_Piece piece, const Visit &visit)
{
    for (;;) {
        const std::int64_t n = in.run();
        if (n == 0)
            return false;
        const char *from = in.here();
        const char *lf = static_cast<const char *>(memchr(from, '\n', static_cast<std::size_t>(n)));
        piece.bytes = from;
        piece.size = static_cast<std::size_t>(lf ? lf - from + 1 : n);
        piece.last = lf != nullptr;
        visit(piece);
        in.pos += static_cast<std::int64_t>(piece.size);
        if (lf)
            return true;
        piece.first = false;
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

// The length of the record at p when the n bytes from p hold it whole: a length field of four
// hex digits and a TAB, a length with room for the frame that n covers, and a LF as its last
// byte. Otherwise 0, and the record is read line by line. Only that one byte is examined, not
// the content before it: the append stores every LF of a content as a space. p lies in the
// window, whose spare room lets the length field be read also where fewer bytes are left;
// their length then has no room.
std::int64_t whole_record(const char *p, std::int64_t n)
{
    const std::int64_t length = length_field(p);
    // One unsigned comparison takes a length from 1 to n; a negative one (no length field)
    // wraps past n. A length of 1 to 5 would end inside the length field and its TAB, which
    // hold no LF: the LF at the end asks for the frame's room as well.
    static_assert(RECORD_FRAME_BYTES == LENGTH_FIELD_BYTES + 1);
    return static_cast<std::uint64_t>(length - 1) < static_cast<std::uint64_t>(n) &&
                   p[length - 1] == '\n'
               ? length
               : 0;
}

// Hands visit the whole records that lie one after the other from in's position in the
// window, and moves in past them. previous marks them as the previous lap's.
template <class Visit>
void visit_whole_records(Reader &in, const Visit &visit, bool previous)
{
    const std::int64_t n = in.run();  // may refill the window: before here()
    if (n == 0)
        return;
    const char *const from = in.here();
    const char *const end = from + n;
    const char *p = from;
    while (const std::int64_t length = whole_record(p, end - p)) {
        visit({p + LENGTH_FIELD_BYTES, static_cast<std::size_t>(length - LENGTH_FIELD_BYTES),
               in.pos + (p - from), length, true, true, previous});
        p += length;
    }
    in.pos += p - from;
}

// The walk over the current lap: the records from the head offset to the end of the file.
// Each whole record is taken by its length, by whole (see walk); anything else is a line,
// less its first five bytes.
template <class Visit, class Whole>
void walk_current_lap(std::int64_t size, const Visit &visit, const Whole &whole)
{
    Reader in{head, size};
    for (;;) {
        whole(in, false);
        // A line that is no whole record, runs past the window or that the end of the file
        // cuts off.
        CommentLog_Piece piece{nullptr, 0, in.pos, -1, true, false, false};
        char field[LENGTH_FIELD_BYTES];
        for (char &c : field)
            c = static_cast<char>(in.get());
        piece.length = std::max(length_field(field), std::int64_t{-1});
        in.pos = piece.offset;
        if (!skip(in, LENGTH_FIELD_BYTES) || !visit_line(in, piece, visit))
            return;
    }
}

// The walk over the previous lap: its records from the old-head offset on, as long as they lie
// wholly below the head offset, where the current lap has not overwritten them. The lengths
// find that boundary, so they must describe the records: the walk stops after a line that
// does not end where its length says, and it never reads at or past the head offset. A whole
// record is taken out of the window by its length; any other is read byte by byte.
template <class Visit, class Whole>
void walk_previous_lap(std::int64_t size, const Visit &visit, const Whole &whole)
{
    const std::int64_t limit = head < size ? head : size;
    Reader in{old_head, limit};
    for (;;) {
        whole(in, true);
        const std::int64_t start = in.pos;
        std::int64_t length;
        if (!read_hex(in, LENGTH_DIGITS, &length) || in.get() == EOF)
            return;
        const std::int64_t end = start + length;
        if (end <= in.pos || end > limit)  // no room for the LF, or over the head
            return;
        if (!visit_line(in, {nullptr, 0, start, length, true, false, true}, visit) ||
            in.pos != end)
            return;
    }
}

// The walk of the current log, written once for any visitor: the print's own is inlined
// into it, and the function pointers of CommentLog_Walk are called through an adapter. whole
// takes the whole records that lie one after the other from a reader's position in the
// window and moves the reader past them, as visit_whole_records does, which hands them to
// visit one by one; the print takes them its own way. whole(in, previous): previous for the
// previous lap.
template <class Visit, class Whole>
void walk(const Visit &visit, const Whole &whole)
{
    if (current < 0)
        return;
    // No program changes a log's size, so the size the open found still holds; an append
    // takes it anew all the same, since it must never write past the end.
    const std::int64_t size = opened_size;
    if (size < COMMENT_HEADER_BYTES)
        return;
    // Both laps lie between the lower of the two offsets and the end of the file: one read
    // serves both walks of a log that fits the window. What it cannot read, they do not find.
    const std::int64_t from = head < old_head ? head : old_head;
    if (from < size)
        (void)fill_window(from, size);
    walk_current_lap(size, visit, whole);
    // An empty current lap above a previous one is the header that a new lap writes before its
    // first record (see CommentLog_Print).
    if (head < size || old_head >= size)
        walk_previous_lap(size, visit, whole);
}

template <class Visit>
void walk(const Visit &visit)
{
    walk(visit, [&visit](Reader &in, bool previous) { visit_whole_records(in, visit, previous); });
}

// What a print gathers: the records of a walk, less their length fields, moved out of the
// window into one area that goes out in one write to the page whenever it is full, and at the
// end. A page of memory is enough to make the writes few; a longer piece goes out on its own.
constexpr std::int64_t GATHER_BYTES = 4096;
char gathered[GATHER_BYTES + COPY_BLOCK];

char *const GATHER_END = gathered + GATHER_BYTES;

// Gathers the content and LF of each whole record from p on, before end, at *to, and moves *to
// past them; returns where it stopped: at end, at a record that is not whole, or at one that
// does not fit. A whole record costs its length field, the byte at its end and a copy of its
// content. Not inlined: on its own it keeps its pointers in registers, where inside the
// print's walk it costs one or two instructions a record more.
[[gnu::noinline]] const char *gather_whole_records(const char *p, const char *end, char **to)
{
    char *out = *to;
    // A record gathers fewer bytes than it has, so those that lie wholly before stop fit.
    const char *const stop = end - p <= GATHER_END - out ? end : p + (GATHER_END - out);
    std::int64_t left = stop - p;
    for (std::int64_t length; (length = whole_record(p, left)) != 0; p += length, left -= length) {
        const std::int64_t size = length - LENGTH_FIELD_BYTES;
        copy_blocks(out, p + LENGTH_FIELD_BYTES, size);
        out += size;
    }
    *to = out;
    return p;
}

}  // namespace

void CommentLog_FormatHeader(char *out, long long h, long long o)
{
    char *end = put_hex(h, OFFSET_DIGITS, out);
    *end++ = '\n';
    end = put_hex(o, OFFSET_DIGITS, end);
    *end = '\n';
}

int CommentLog_Open(const char *path)
{
    CommentLog_State state;
    if (open_log(path, true, &state) != 0)
        return -1;
    // Unreadable, or offsets that would put records into the header or past the end: the
    // fresh header. A file too short to hold a header is left as it is.
    if (state.header == COMMENT_HEADER_UNREADABLE || state.header == COMMENT_HEADER_OUT_OF_RANGE) {
        hold(LOCK_EX);
        // A header that cannot be written stays as it was; the next open tries again.
        (void)write_header(head, old_head);
    }
    return 0;
}

int CommentLog_Inspect(const char *path, CommentLog_State *state)
{
    return open_log(path, false, state);
}

int CommentLog_Edit(const char *path, CommentLog_State *state)
{
    return open_log(path, true, state);
}

int CommentLog_Rewrite(long long offset, const char *was, const char *now, std::size_t n)
{
    if (current < 0 || n > COMMENT_RECORD_MAX - RECORD_FRAME_BYTES || memchr(now, '\n', n))
        return -1;
    hold(LOCK_EX);  // held to the close
    const std::int64_t length = static_cast<std::int64_t>(n) + RECORD_FRAME_BYTES;
    if (offset < COMMENT_HEADER_BYTES || offset > opened_size - length)
        return -1;
    // The record as it stands: its length field, its content and the LF where the length says.
    static char record[COMMENT_RECORD_MAX];
    Reader in{offset, offset + length};
    for (std::int64_t i = 0; i < length; i++) {
        const int c = in.get();
        if (c == EOF)
            return -1;
        record[i] = static_cast<char>(c);
    }
    const char *content = record + LENGTH_FIELD_BYTES;
    if (length_field(record) != length || record[length - 1] != '\n' ||
        memcmp(content, was, n) != 0 || memchr(content, '\n', n))
        return -1;
    forget_window();
    return write_at(now, static_cast<std::int64_t>(n), offset + LENGTH_FIELD_BYTES) ? 0 : -2;
}

int CommentLog_Append(const char *content, std::size_t n)
{
    if (current < 0 || n > COMMENT_RECORD_MAX - RECORD_FRAME_BYTES)
        return -1;
    hold(LOCK_EX);  // held to the close
    struct stat st;
    if (fstat(current, &st) != 0)
        return -1;
    const std::int64_t size = st.st_size;
    const std::int64_t length = static_cast<std::int64_t>(n) + RECORD_FRAME_BYTES;
    if (length > size - COMMENT_HEADER_BYTES)
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

    // The record is framed whole and written in one write, before the header that points to
    // it, so a write that fails or is cut short leaves the header on the records that were
    // complete.
    static char frame[COMMENT_RECORD_MAX];
    forget_window();
    char *text = put_hex(length, LENGTH_DIGITS, frame);
    *text++ = '\t';
    memcpy(text, content, n);
    for (char *lf = text; (lf = static_cast<char *>(memchr(lf, '\n', text + n - lf)));)
        *lf = ' ';  // one line
    text[n] = '\n';
    if (!write_at(frame, length, h) || !write_header(h, o))
        return -1;
    head = h;
    old_head = o;
    return 0;
}

void CommentLog_Walk(CommentLog_Visitor visit, void *context)
{
    walk([&](const CommentLog_Piece &piece) { visit(piece, context); });
}

long long CommentLog_FirstFault(long long *length)
{
    // The record being read: where it begins, its length field and its bytes so far.
    std::int64_t next = head, field = -1, read = 0;
    bool whole = true, bad = false;
    walk([&](const CommentLog_Piece &piece) {
        if (piece.previous || bad)
            return;
        if (piece.first) {
            field = piece.length;
            read = LENGTH_FIELD_BYTES;
        }
        read += static_cast<std::int64_t>(piece.size);
        whole = piece.last;
        if (piece.last && (field < RECORD_FRAME_BYTES || read != field))
            bad = true;
        else if (piece.last)
            next += field;
    });
    if (!bad && whole && next >= opened_size)
        return -1;
    *length = field >= RECORD_FRAME_BYTES ? field : -1;
    return next;
}

void CommentLog_Print(FILE *out)
{
    char *to = gathered;  // the end of what is gathered
    const auto flush = [&] {
        fwrite_unlocked(gathered, 1, static_cast<std::size_t>(to - gathered), out);
        to = gathered;
    };
    // Gathers n bytes from bytes, or writes them on their own when they are more than it holds.
    const auto gather = [&](const char *bytes, std::size_t n) {
        if (static_cast<std::int64_t>(n) > GATHER_END - to) {
            flush();
            if (static_cast<std::int64_t>(n) > GATHER_BYTES) {
                fwrite_unlocked(bytes, 1, n, out);
                return;
            }
        }
        to = static_cast<char *>(mempcpy(to, bytes, n));
    };
    const auto whole = [&](Reader &in, bool) {
        const std::int64_t n = in.run();  // may refill the window: before here()
        if (n == 0)
            return;  // pos may lie outside the window: here() would point out of it
        const char *const from = in.here();
        const char *const end = from + n;
        const char *p = from;
        while (n > 0) {
            p = gather_whole_records(p, end, &to);
            // The record that stopped the gathering, when it is whole, did not fit after what
            // was gathered, or is longer than the gather area.
            const std::int64_t length = whole_record(p, end - p);
            if (length == 0)
                break;
            if (to != gathered) {
                flush();
                continue;
            }
            fwrite_unlocked(p + LENGTH_FIELD_BYTES, 1,
                            static_cast<std::size_t>(length - LENGTH_FIELD_BYTES), out);
            p += length;
        }
        in.pos += p - from;
    };
    walk([&](const CommentLog_Piece &piece) { gather(piece.bytes, piece.size); }, whole);
    if (to != gathered)
        flush();
}

void CommentLog_Close()
{
    if (current < 0)
        return;
    (void)close(current);  // every write is done, and the lock goes with the descriptor
    current = -1;
}
