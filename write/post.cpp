// The posting transaction, in the order its checks must run: the cheap checks of the form
// first, without the lock; then, under the lock, the last poster, the text's size, and only
// then any write.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "board_files.h"
#include "commentlog.h"
#include "form.h"
#include "kanji.h"
#include "number.h"
#include "output.h"
#include "post.h"
#include "records.h"
#include "template.h"

// The poster, as check_last_poster found it; pointers into the field index and the
// environment, not copies.
static const char *poster_name;
static const char *poster_address;

namespace {

// The posting lock, held for the lifetime of the object when held() says so. While it is
// held, the signals with which a web server or a terminal ends a process are kept pending,
// so that a run is never ended between its first write and the lock's removal; a pending
// signal takes effect once the lock is gone.
class PostLock {
public:
    PostLock()
    {
        sigset_t stop;
        sigemptyset(&stop);
        for (int signal : {SIGHUP, SIGINT, SIGTERM})
            sigaddset(&stop, signal);
        sigprocmask(SIG_BLOCK, &stop, &saved_);
        held_ = Tolvak_MakeDir(Tolvak_Path("%s", LOCK_DIR)) == 0;
        if (!held_)
            sigprocmask(SIG_SETMASK, &saved_, nullptr);
    }

    ~PostLock()
    {
        if (!held_)
            return;
        Tolvak_RemoveDir(Tolvak_Path("%s", LOCK_DIR));
        sigprocmask(SIG_SETMASK, &saved_, nullptr);
    }

    PostLock(const PostLock &) = delete;
    PostLock &operator=(const PostLock &) = delete;

    bool held() const { return held_; }

private:
    sigset_t saved_;
    bool held_;
};

// A descriptor closed when it goes out of scope.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor()
    {
        if (fd_ >= 0)
            close(fd_);
    }
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;

    int get() const { return fd_; }

private:
    int fd_;
};

// The last-poster file holds one line per value, so a line feed inside a name or an address
// is stored, and compared, as a space.
int line_byte(char c)
{
    return c == '\n' ? ' ' : static_cast<unsigned char>(c);
}

// Reads one line of the last-poster file against s: true when the line equals s. The end of
// the file ends a line as its LF does. The file stands at the start of the next line after.
bool line_matches(FILE *file, const char *s)
{
    for (;; s++) {
        const int c = getc_unlocked(file);
        if (c == '\n' || c == EOF)
            return *s == '\0';
        if (*s == '\0' || c != line_byte(*s))
            break;
    }
    for (int c; (c = getc_unlocked(file)) != '\n' && c != EOF;) {
    }
    return false;
}

void put_line(const char *s, FILE *file)
{
    for (; *s; s++)
        putc_unlocked(line_byte(*s), file);
    putc_unlocked('\n', file);
}

// Whether the unit's last byte is a Shift_JIS lead byte without its second byte. Stored, it
// would pair with the first byte of the next post, and every page would show the next
// poster's first character garbled. Lead bytes inside the unit take the byte after them
// along, whatever it is, so only the last place matters.
bool ends_inside_a_character(const char *unit)
{
    std::int64_t i = 0;
    while (i < UNIT_BYTES) {
        const unsigned char c = unit[i];
        i += Tolvak_IsSjisLead(c) ? 2 : 1;
    }
    return i != UNIT_BYTES;
}

// Appends the unit at the end of the text, whose size is size. A unit stored in part (a
// full disk, a file-size limit) is cut off again: a partial unit would shift every later
// unit off the 8-byte grid.
bool append_unit(int fd, const char *unit, std::int64_t size)
{
    std::int64_t stored = 0;
    while (stored < UNIT_BYTES) {
        const ssize_t k = pwrite(fd, unit + stored, UNIT_BYTES - stored, size + stored);
        if (k > 0)
            stored += k;
        else if (k < 0 && errno == EINTR)
            continue;
        else
            break;
    }
    if (stored == UNIT_BYTES)
        return true;
    if (stored > 0)
        while (ftruncate(fd, size) != 0 && errno == EINTR) {
        }
    return false;
}

// The record of one comment log is expanded into a memory stream with room for the largest
// record the log format holds; an expansion that overflows it is not stored at all.
char record_buffer[COMMENT_RECORD_MAX + 1];

void add_record(char digit)
{
    FILE *page = fopen(Tolvak_Path(RECORD_TEMPLATE, digit), "rb");
    if (!page)
        return;
    if (CommentLog_Open(Tolvak_Path(COMMENT_LOG, digit)) == 0) {
        FILE *record = fmemopen(record_buffer, sizeof record_buffer, "w+");
        if (record) {
            Tolvak_ExpandTemplate(page, record, comment_callbacks, '\n');
            if (fflush(record) == 0 && !ferror(record))
                CommentLog_Append(record);
            fclose(record);
        }
        CommentLog_Close();
    }
    fclose(page);
}

// The steps that run under the lock, from the last-poster check on.
int post_locked(const char *four, const char *prev)
{
    const int last = check_last_poster(Tolvak_Path("%s", LAST_POSTER_FILE));
    if (last != 0)
        return last - 5;

    const FileDescriptor text(open(Tolvak_Path("%s", TEXT_FILE), O_RDWR));
    if (text.get() < 0)
        return POST_NO_TEXT;
    struct stat st;
    if (fstat(text.get(), &st) != 0)
        return POST_NO_TEXT;
    const std::int64_t size = st.st_size;
    if (Tolvak_Decimal(prev) != size)
        return POST_STALE;

    if (Tolvak_Find("confirm"))
        return POST_OK;

    if (!append_unit(text.get(), four, size))
        return POST_NO_TEXT;
    if ((size + UNIT_BYTES) % TEXT_PAGE_BYTES == 0)
        unlink(Tolvak_Path("%s", THEME_FILE));

    save_last_poster(Tolvak_Path("%s", LAST_POSTER_FILE));
    add_comment_records();
    return POST_OK;
}

}  // namespace

int run_post()
{
    const char *four = Tolvak_Find("four");
    if (!four || !*four)
        return POST_NO_FOUR;
    if (strlen(four) != UNIT_BYTES || ends_inside_a_character(four))
        return POST_BAD_LENGTH;
    if (strpbrk(four, "<>"))
        return POST_BAD_CHAR;
    const char *prev = Tolvak_Find("prev");
    if (!prev)
        return POST_NO_PREV;

    const PostLock lock;
    if (!lock.held())
        return POST_BUSY;
    return post_locked(four, prev);
}

int check_last_poster(const char *path)
{
    FILE *file = fopen(path, "rb");
    if (!file)
        return -3;
    int result = 0;
    poster_name = Tolvak_Find("namae");
    poster_address = getenv("REMOTE_ADDR");
    if (!poster_name)
        result = -4;
    else if (!poster_address)
        result = -5;
    else if (line_matches(file, poster_name))
        result = -1;
    else if (line_matches(file, poster_address))
        result = -2;
    fclose(file);
    return result;
}

void save_last_poster(const char *path)
{
    // Written beside the file and renamed over it, so that a full disk leaves the old two
    // lines in place rather than a cut-off file.
    if (!poster_name || !poster_address)
        return;
    char fresh[TOLVAK_PATH_BYTES];
    if (snprintf(fresh, sizeof fresh, "%s.new", path) >= static_cast<int>(sizeof fresh))
        return;
    FILE *file = fopen(fresh, "wb");
    if (!file)
        return;
    put_line(poster_name, file);
    put_line(poster_address, file);
    const bool written = !ferror(file);
    if (fclose(file) == 0 && written && rename(fresh, path) == 0)
        return;
    unlink(fresh);
}

void add_comment_records()
{
    for (char digit = '1'; digit <= '8'; digit++)
        add_record(digit);
}
