// The posting transaction: the one operation that changes the board. It checks the posted
// unit, takes the lock directory, refuses the last poster and a form rendered against an
// older text or too soon after the poster's last posts, appends the unit, clears the theme at
// each full page, remembers the poster and the post's time and adds one record to each comment
// log. The result code selects the write page's error line.
#pragma once

// What check_last_poster finds.
enum LastPosterCheck : int {
    LAST_POSTER_OTHER = 0,        // the poster is not the last one
    LAST_POSTER_SAME_NAME = -1,   // namae is line 1
    LAST_POSTER_SAME_ADDR = -2,   // REMOTE_ADDR is line 2's block (its /64; and the name differs)
    LAST_POSTER_UNREADABLE = -3,  // the file cannot be opened for reading
    LAST_POSTER_NO_NAME = -4,     // namae absent
    LAST_POSTER_NO_ADDR = -5,     // REMOTE_ADDR not set
};

enum PostResult : int {
    POST_OK = 0,               // accepted; or, with confirm, every check passed
    POST_NO_FOUR = -1,         // four absent or empty
    POST_BAD_LENGTH = -2,      // four is not exactly 8 bytes of whole characters
    POST_BAD_CHAR = -3,        // four holds '<' or '>'
    POST_NO_PREV = -4,         // prev absent
    POST_BUSY = -5,            // the lock directory could not be created
    POST_SAME_NAME = -6,       // namae is the last poster's name
    POST_SAME_ADDR = -7,       // REMOTE_ADDR is the last poster's address, or of its /64
    POST_NO_LAST_POSTER = -8,  // the last-poster file cannot be read
    POST_NO_NAME = -9,         // namae absent
    POST_NO_ADDR = -10,        // REMOTE_ADDR not set
    POST_NO_TEXT = -11,        // the text file cannot be opened, or the unit not stored whole
    POST_STALE = -12,          // prev differs from the text's size
    POST_TOO_FAST = -13,       // the address, its /48 or the board posted too often (post_rate.h)
    POST_LAST = POST_TOO_FAST, // the write page has an error line for each code, -1 to here
};

// A write page made before the rate holds the error lines up to POST_STALE; it shows the
// rate's refusal by the line of POST_BUSY, which asks the visitor to wait and post again.
inline constexpr int POST_LAST_BEFORE_RATE = POST_STALE;
constexpr int error_line_shown(int code, int lines)
{
    return -code <= lines ? code : code == POST_TOO_FAST ? POST_BUSY : 0;
}

// The last-poster check's refusals are the post's, five places on: run_post returns them so.
inline constexpr int LAST_POSTER_TO_POST = -5;
static_assert(POST_SAME_NAME == LAST_POSTER_SAME_NAME + LAST_POSTER_TO_POST);
static_assert(POST_SAME_ADDR == LAST_POSTER_SAME_ADDR + LAST_POSTER_TO_POST);
static_assert(POST_NO_LAST_POSTER == LAST_POSTER_UNREADABLE + LAST_POSTER_TO_POST);
static_assert(POST_NO_NAME == LAST_POSTER_NO_NAME + LAST_POSTER_TO_POST);
static_assert(POST_NO_ADDR == LAST_POSTER_NO_ADDR + LAST_POSTER_TO_POST);

// Runs the transaction once; reads the fields four, prev, confirm and namae and REMOTE_ADDR.
int run_post();

// After POST_TOO_FAST: the seconds until the poster may post again.
int post_retry_seconds();

// Who posts: the form's namae and REMOTE_ADDR, pointers into the field index and the
// environment, null when absent.
struct Poster {
    const char *name;
    const char *address;
};

// Compares the poster with the last-poster file at path (a LastPosterCheck).
int check_last_poster(const char *path, const Poster &poster);

// Adds one record to each comment log whose record template and log exist.
void add_comment_records();
