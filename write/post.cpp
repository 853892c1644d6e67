// The posting transaction, in the order its checks must run: the cheap checks of the form
// first, without the lock; then, under the lock, the last poster, the text's size, and only
// then any write.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "board_files.h"
#include "board_lock.h"
#include "post_rate.h"
#include "commentlog.h"
#include "form.h"
#include "kanji.h"
#include "number.h"
#include "path.h"
#include "post.h"
#include "records.h"
#include "template.h"

namespace {

// The seconds that a post refused for its rate must wait.
int retry_seconds;

// Each record is expanded into one memory stream over a buffer with room for the largest
// record the log format holds and a byte more: a longer expansion fails the stream, or is
// refused by the log, and is not stored at all.
char record_buffer[COMMENT_RECORD_MAX + 1];

void add_record(FILE *record, int log)
{
    Tolvak_TemplateStream page;
    if (Tolvak_OpenTemplate(Tolvak_Path(RECORD_TEMPLATE, '0' + log), &page) != 0)
        return;
    if (CommentLog_Open(Tolvak_Path(COMMENT_LOG, '0' + log)) != 0)
        return;
    rewind(record);  // and forget a failure of the record before
    Tolvak_ExpandTemplate(&page, record, comment_callbacks, '\n');
    // A record that the log refuses is dropped: the post stands without it.
    const long n = fflush(record) == 0 && !ferror(record) ? ftell(record) : -1;
    if (n >= 0)
        (void)CommentLog_Append(record_buffer, static_cast<std::size_t>(n));
    CommentLog_Close();
}

// The steps that run under the lock, from the last-poster check on.
int post_locked(const char *four, const char *prev)
{
    const Poster poster = {Tolvak_Find("namae"), getenv("REMOTE_ADDR")};
    const int last = check_last_poster(Tolvak_Path("%s", LAST_POSTER_FILE), poster);
    if (last != LAST_POSTER_OTHER)
        return last + LAST_POSTER_TO_POST;

    std::int64_t size;
    const BoardFile text(open_board_file(Tolvak_Path("%s", TEXT_FILE), O_RDWR, &size));
    if (text.fd < 0)
        return POST_NO_TEXT;
    if (Tolvak_Decimal(prev) != size)
        return POST_STALE;
    PostRate rate(Tolvak_Path("%s", RATE_FILE));
    if ((retry_seconds = rate.wait(poster.address, time(nullptr))) > 0)
        return POST_TOO_FAST;

    if (Tolvak_Find("confirm"))
        return POST_OK;

    if (!append_unit(text.fd, four, size))
        return POST_NO_TEXT;
    if (current_page_bytes(size + UNIT_BYTES) == 0)
        (void)unlink(Tolvak_Path("%s", THEME_FILE));  // mostly there is no theme to remove

    // The post stands either way; the web server logs what the run writes to standard error,
    // since a poster not recorded may post again at once.
    if (!write_last_poster(Tolvak_Path("%s", LAST_POSTER_FILE), poster.name, poster.address))
        fprintf(stderr, "zt-write: the last poster was not recorded in %s: %s\n",
                Tolvak_Path("%s", LAST_POSTER_FILE), strerror(errno));
    if (!rate.remember())
        fprintf(stderr, "zt-write: the post was not counted in %s: %s\n",
                Tolvak_Path("%s", RATE_FILE), strerror(errno));
    // The records name the post by its offset as the text has it, not as the form spelt it
    // (" 16", "16abc" and "016" all pass the size check). It stays the field's value to the end
    // of the run.
    static char offset[RECORD_OFFSET_DIGITS + 1];
    snprintf(offset, sizeof offset, "%lld", static_cast<long long>(size));
    (void)Tolvak_SetValue(RECORD_OFFSET_FIELD, offset);  // prev is there: it was checked
    add_comment_records();
    return POST_OK;
}

}  // namespace

int run_post()
{
    // The name as the board takes it, from the last-poster check on: its first characters.
    if (const char *name = Tolvak_Find("namae"))
        Tolvak_CutValue("namae", Tolvak_SjisPrefix(name, strlen(name), NAME_CHARACTERS));
    const char *four = Tolvak_Find("four");
    if (!four || !*four)
        return POST_NO_FOUR;
    // A unit that ends in a lead byte would take the first byte of the next post as its
    // partner, and every page would show that character garbled.
    if (strlen(four) != UNIT_BYTES || Tolvak_SjisWhole(four, UNIT_BYTES, UNIT_BYTES) != UNIT_BYTES)
        return POST_BAD_LENGTH;
    if (strpbrk(four, "<>"))
        return POST_BAD_CHAR;
    const char *prev = Tolvak_Find("prev");
    if (!prev)
        return POST_NO_PREV;

    const BoardLock lock(Tolvak_Path("%s", LOCK_DIR));
    if (!lock.held())
        return POST_BUSY;
    return post_locked(four, prev);
}

int post_retry_seconds()
{
    return retry_seconds;
}

int check_last_poster(const char *path, const Poster &poster)
{
    std::size_t n;
    char *bytes = read_board_file(path, &n);
    if (!bytes)
        return LAST_POSTER_UNREADABLE;
    const LastPoster last = split_last_poster({bytes, n});
    int result = LAST_POSTER_OTHER;
    if (!poster.name)
        result = LAST_POSTER_NO_NAME;
    else if (!poster.address)
        result = LAST_POSTER_NO_ADDR;
    else if (last_poster_line_is(last.name, poster.name))
        result = LAST_POSTER_SAME_NAME;
    else if (last_poster_address_is(last.address, poster.address))
        result = LAST_POSTER_SAME_ADDR;
    free(bytes);
    return result;
}

void add_comment_records()
{
    // One stream for every log: the records are expanded one after the other.
    FILE *record = fmemopen(record_buffer, sizeof record_buffer, "w");
    if (!record)
        return;
    for (int log = 1; log <= COMMENT_LOGS; log++)
        add_record(record, log);
    (void)fclose(record);  // memory only
}
