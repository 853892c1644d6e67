/* The file-system floor of the posts: the file-system calls that the board's rules require of
 * a post and nothing else, followed by the response that bench/floor.c sends (the same prepared
 * file, read in one read and written in one write). It parses no form, expands no template and
 * builds no page, so a program's time over this one's is the program's own cost above what the
 * disk charges for the design; this one's time over the floor's is that charge. Static, as the
 * programs are. Run in a copy of a board (the working directory holds zt/ and lock/).
 *
 *   zt-fsfloor refused RESPONSE
 *   zt-fsfloor accepted RESPONSE L1 L2 L3 L4 L5 L6 L7 L8
 *
 * Both: mkdir lock/zt.lck; open zt/zt-jti.txt, read it, close it; open zt/zt-text.txt read-write
 * and take its size. A refused post (a stale prev) stops there. An accepted one goes on:
 *
 *   the text         the 8-byte unit written at its end; zt/zt-theme.txt removed when the
 *                    new size is a multiple of 2048 (no matter whether it exists); closed
 *   the last poster  zt/zt-jti.txt opened for writing, name LF address LF written over its old
 *                    bytes at once (the address from REMOTE_ADDR), cut to that length
 *   the rate         zt/zt-rate.txt opened read-write, read whole (one read), the post's
 *                    44-byte slot written in place (a slot that the clock picks, as a full file
 *                    of slots without a ceiling has one picked); closed
 *   each log d=1..8  zt/zt-com<d>.htm opened; zt/zt-com<d>.txt opened read-write; its 18-byte
 *                    header read; the template read (one read, as a post must read it to build
 *                    the record); the log's size taken; a record of Ld bytes written at the
 *                    place the log's own append gives it (below the head, or at the end of the
 *                    file when it fits no more above the head: a new lap), then the header
 *                    written; the log closed, then the template
 *
 * and the lock is removed (rmdir) in both cases. The records keep the log's format, so the
 * board stays valid for any number of runs. Any call that fails ends the run with status 1,
 * so that the harness stops rather than time a floor that did less than a post.
 */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

enum {
    UNIT_BYTES = 8, TEXT_PAGE_BYTES = 2048, LOG_HEADER_BYTES = 18, LOGS = 8,
    RATE_HEADER_BYTES = 18, RATE_SLOT_BYTES = 44,
};

/* Room for any response of the reference board, as in floor.c. */
static char response[1 << 20];
/* One read of a record template or the last-poster file, as a buffered stream reads it. */
static char buffer[4096];
/* A record: 4 hex digits of length, TAB, content, LF; at most 65530 bytes. */
static char record[65530];
/* The rate file: its header and at most 600 slots. */
static char rate_file[18 + 600 * 44];

static void fail(const char *what)
{
    perror(what);
    exit(1);
}

static void unusable(const char *what)
{
    fprintf(stderr, "zt-fsfloor: %s\n", what);
    exit(1);
}

/* The formatting is done by hand: the C library's printf would cost more instructions than
 * everything else this program runs besides the start-up, and none of it is the disk's. */
static void put_hex(char *out, unsigned long value, int digits)
{
    while (digits-- > 0) {
        out[digits] = "0123456789abcdef"[value & 15];
        value >>= 4;
    }
}

static long decimal(const char *s)
{
    long n = 0;
    for (; *s >= '0' && *s <= '9' && n < 1000000; s++)
        n = n * 10 + (*s - '0');
    return *s ? -1 : n;
}

static unsigned long header_offset(const char *hex)
{
    unsigned long n = 0;
    for (int i = 0; i < 8; i++) {
        const char c = hex[i];
        if (c >= '0' && c <= '9')
            n = n << 4 | (unsigned long)(c - '0');
        else if (c >= 'a' && c <= 'f')
            n = n << 4 | (unsigned long)(c - 'a' + 10);
        else
            unusable("a comment log's header is not in the form the logs write");
    }
    return n;
}

/* The record and header of one log, as its append places them. */
static void add_record(char digit, long length)
{
    char template_path[] = "zt/zt-com?.htm", path[] = "zt/zt-com?.txt";
    template_path[9] = path[9] = digit;
    const int page = open(template_path, O_RDONLY);
    if (page < 0)
        fail(template_path);
    const int log = open(path, O_RDWR);
    if (log < 0)
        fail(path);
    char header[LOG_HEADER_BYTES];
    if (pread(log, header, LOG_HEADER_BYTES, 0) != LOG_HEADER_BYTES)
        fail(path);
    if (read(page, buffer, sizeof buffer) <= 0)
        fail("a record template");
    struct stat st;
    if (fstat(log, &st) != 0)
        fail(path);

    const long size = (long)st.st_size;
    long head = (long)header_offset(header);
    long old_head = (long)header_offset(header + 9);
    if (head < LOG_HEADER_BYTES || head > size)
        unusable("a comment log's head offset lies outside the log");
    if (head - LOG_HEADER_BYTES < length) { /* no room above the head: a new lap */
        old_head = head;
        head = size - length;
    } else {
        head -= length;
    }
    put_hex(record, (unsigned long)length, 4);
    record[4] = '\t';
    memset(record + 5, '-', (size_t)length - 6);
    record[length - 1] = '\n';
    put_hex(header, (unsigned long)head, 8);
    put_hex(header + 9, (unsigned long)old_head, 8);
    if (pwrite(log, record, (size_t)length, head) != length ||
        pwrite(log, header, LOG_HEADER_BYTES, 0) != LOG_HEADER_BYTES)
        fail(path);
    close(log);
    close(page);
}

/* The rate file: read whole, one slot written. The clock picks the slot, so that it needs no
 * state of its own; its bytes are a valid slot of the format. */
static void remember_post(void)
{
    const int rate = open("zt/zt-rate.txt", O_RDWR);
    struct stat st;
    if (rate < 0 || fstat(rate, &st) != 0 || st.st_size < RATE_HEADER_BYTES + RATE_SLOT_BYTES ||
        st.st_size > (off_t)sizeof rate_file || read(rate, rate_file, (size_t)st.st_size) != st.st_size)
        fail("zt/zt-rate.txt");
    const long slots = ((long)st.st_size - RATE_HEADER_BYTES) / RATE_SLOT_BYTES;
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    char slot[RATE_SLOT_BYTES];
    unsigned long second = (unsigned long)now.tv_sec;
    for (int i = 9; i >= 0; i--, second /= 10)
        slot[i] = (char)('0' + second % 10);
    slot[10] = ' ';
    memset(slot + 11, '0', 32);
    slot[RATE_SLOT_BYTES - 1] = '\n';
    const off_t at = RATE_HEADER_BYTES + (off_t)(now.tv_nsec / 1000 % slots) * RATE_SLOT_BYTES;
    if (pwrite(rate, slot, RATE_SLOT_BYTES, at) != RATE_SLOT_BYTES)
        fail("zt/zt-rate.txt");
    close(rate);
}

static void accept_post(int text, off_t size, const long *lengths)
{
    static const char unit[UNIT_BYTES] = "\x82\xa0\x82\xa2\x82\xa4\x82\xa6";
    if (pwrite(text, unit, UNIT_BYTES, size) != UNIT_BYTES)
        fail("zt/zt-text.txt");
    if ((size + UNIT_BYTES) % TEXT_PAGE_BYTES == 0)
        unlink("zt/zt-theme.txt");
    close(text);

    const char *address = getenv("REMOTE_ADDR");
    const size_t k = address ? strnlen(address, 64) : 0;
    memcpy(buffer, "fsfloor\n", 8);
    if (k > 0)
        memcpy(buffer + 8, address, k);
    buffer[8 + k] = '\n';
    const ssize_t n = (ssize_t)k + 9;
    const int last = open("zt/zt-jti.txt", O_WRONLY);
    if (last < 0 || pwrite(last, buffer, (size_t)n, 0) != n || ftruncate(last, n) != 0)
        fail("zt/zt-jti.txt");
    close(last);
    remember_post();

    for (int d = 0; d < LOGS; d++)
        add_record((char)('1' + d), lengths[d]);
}

int main(int argc, char **argv)
{
    const int accepted = argc == 3 + LOGS && strcmp(argv[1], "accepted") == 0;
    if (!accepted && !(argc == 3 && strcmp(argv[1], "refused") == 0)) {
        fprintf(stderr, "usage: zt-fsfloor refused RESPONSE\n"
                        "       zt-fsfloor accepted RESPONSE L1 ... L8\n");
        return 2;
    }
    long lengths[LOGS];
    for (int d = 0; accepted && d < LOGS; d++) {
        lengths[d] = decimal(argv[3 + d]);
        if (lengths[d] < 7 || lengths[d] > (long)sizeof record) {
            fprintf(stderr, "zt-fsfloor: a record is 7 to %zu bytes\n", sizeof record);
            return 2;
        }
    }

    if (mkdir("lock/zt.lck", 0777) != 0)
        fail("lock/zt.lck");
    const int last = open("zt/zt-jti.txt", O_RDONLY);
    if (last < 0 || read(last, buffer, sizeof buffer) < 0)
        fail("zt/zt-jti.txt");
    close(last);
    const int text = open("zt/zt-text.txt", O_RDWR);
    struct stat st;
    if (text < 0 || fstat(text, &st) != 0)
        fail("zt/zt-text.txt");
    if (accepted)
        accept_post(text, st.st_size, lengths);
    else
        close(text);
    if (rmdir("lock/zt.lck") != 0)
        fail("lock/zt.lck");

    const int fd = open(argv[2], O_RDONLY);
    if (fd < 0)
        return 1;
    const ssize_t n = read(fd, response, sizeof response);
    if (n < 0)
        return 1;
    return write(STDOUT_FILENO, response, (size_t)n) == n ? 0 : 1;
}
