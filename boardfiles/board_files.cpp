#include "board_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

int open_board_file(const char *path, int flags, std::int64_t *size)
{
    // O_NONBLOCK: a FIFO opens at once and is refused below; on a regular file it changes
    // nothing.
    const int fd = open(path, flags | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat st;
    const int fault = fstat(fd, &st) != 0    ? errno
                      : S_ISREG(st.st_mode) ? 0
                      : S_ISDIR(st.st_mode) ? EISDIR
                                            : EINVAL;
    if (fault) {
        (void)close(fd);  // nothing was written through it
        errno = fault;    // the caller may say why
        return -1;
    }
    if (size)
        *size = st.st_size;
    return fd;
}

BoardFile::~BoardFile()
{
    if (fd >= 0)
        (void)close(fd);
}

std::size_t read_from_start(int fd, char *bytes, std::size_t n, int *error)
{
    std::size_t got = 0;
    *error = 0;
    while (got < n) {
        const ssize_t k = pread(fd, bytes + got, n - got, static_cast<off_t>(got));
        if (k > 0) {
            got += static_cast<std::size_t>(k);
        } else if (k == 0) {
            break;  // the file is shorter now
        } else if (errno != EINTR) {
            *error = errno;
            break;
        }
    }
    return got;
}

std::size_t write_at(int fd, const char *bytes, std::size_t n, std::int64_t offset)
{
    std::size_t done = 0;
    while (done < n) {
        const ssize_t k = pwrite(fd, bytes + done, n - done, offset + static_cast<off_t>(done));
        if (k > 0) {
            done += static_cast<std::size_t>(k);
        } else if (k == 0) {
            errno = ENOSPC;
            break;
        } else if (errno != EINTR) {
            break;
        }
    }
    return done;
}

char *read_board_file(const char *path, std::size_t *n)
{
    std::int64_t size;
    const BoardFile file(open_board_file(path, O_RDONLY, &size));
    const std::size_t want = file.fd < 0 ? 0 : static_cast<std::size_t>(size);
    char *bytes = file.fd < 0 ? nullptr : static_cast<char *>(malloc(want > 0 ? want : 1));
    int error = 0;
    *n = bytes ? read_from_start(file.fd, bytes, want, &error) : 0;
    if (error == 0)
        return bytes;
    free(bytes);
    return nullptr;
}

std::int64_t text_size(const char *path)
{
    struct stat st;
    if (lstat(path, &st) != 0 || !S_ISREG(st.st_mode))
        return -1;
    return st.st_size;
}

// Writes what one read of up to length bytes (at most a page) at offset of the open text
// gives.
static void write_range(int fd, std::int64_t offset, std::int64_t length, FILE *out)
{
    char page[TEXT_PAGE_BYTES];
    if (length <= 0 || length > TEXT_PAGE_BYTES)
        return;
    const ssize_t got = pread(fd, page, static_cast<std::size_t>(length), offset);
    if (got > 0)
        fwrite_unlocked(page, 1, static_cast<std::size_t>(got), out);
}

void write_text_tail(const char *path, std::int64_t at_most, FILE *out)
{
    std::int64_t size;
    const BoardFile text(open_board_file(path, O_RDONLY, &size));
    if (text.fd < 0)
        return;
    const std::int64_t in_page = current_page_bytes(size);
    const std::int64_t length = in_page < at_most ? in_page : at_most;
    write_range(text.fd, size - length, length, out);
}

void write_text_page(const char *path, std::int64_t index, FILE *out)
{
    const BoardFile text(open_board_file(path, O_RDONLY));
    if (text.fd >= 0)
        write_range(text.fd, index * TEXT_PAGE_BYTES, TEXT_PAGE_BYTES, out);
}

bool cut_text(int fd, std::int64_t size)
{
    int cut;
    do
        cut = ftruncate(fd, size);
    while (cut != 0 && errno == EINTR);
    return cut == 0;
}

bool append_unit(int fd, const char *unit, std::int64_t size)
{
    const std::size_t stored = write_at(fd, unit, UNIT_BYTES, size);
    if (stored == UNIT_BYTES)
        return true;
    // What did get stored goes again. Should even that fail, the post is still refused: the
    // text then ends inside a unit, which zt-admin check names.
    if (stored > 0)
        (void)cut_text(fd, size);
    return false;
}

int read_theme(const char *path, char (&theme)[THEME_BYTES])
{
    const BoardFile file(open_board_file(path, O_RDONLY));
    if (file.fd < 0)
        return -1;
    const ssize_t got = read(file.fd, theme, sizeof theme);
    return got > 0 ? static_cast<int>(got) : 0;
}

// The programs link no exceptions: the views are cut without substr, which may throw.
LastPoster split_last_poster(std::string_view bytes)
{
    LastPoster poster{};
    const std::size_t first = bytes.find('\n');
    poster.name = {bytes.data(), first == std::string_view::npos ? bytes.size() : first};
    if (first == std::string_view::npos)
        return poster;
    bytes.remove_prefix(first + 1);
    const std::size_t second = bytes.find('\n');
    poster.address = {bytes.data(), second == std::string_view::npos ? bytes.size() : second};
    poster.two_lines = second != std::string_view::npos;
    return poster;
}

// A value's byte as the last-poster file holds it.
static char line_byte(char c)
{
    return c == '\n' ? ' ' : c;
}

bool last_poster_line_is(std::string_view line, const char *value)
{
    const auto stored = [](char l, char v) { return l == line_byte(v); };
    return line.size() == strlen(value) && std::equal(line.begin(), line.end(), value, stored);
}

bool last_poster_address_is(std::string_view line, const char *address)
{
    return last_poster_line_is(line, address) || address_key(line) == address_key(address);
}

bool write_last_poster(const char *path, const char *name, const char *address)
{
    const BoardFile file(open_board_file(path, O_WRONLY));
    if (file.fd < 0)
        return false;
    // Both lines in one write, so that a run that dies leaves the old ones or the new ones.
    const std::size_t name_bytes = strlen(name), length = name_bytes + strlen(address) + 2;
    char *lines = static_cast<char *>(malloc(length));
    if (!lines)
        return false;
    std::transform(name, name + name_bytes, lines, line_byte);
    lines[name_bytes] = '\n';
    std::transform(address, address + length - name_bytes - 2, lines + name_bytes + 1, line_byte);
    lines[length - 1] = '\n';
    const bool written = write_at(file.fd, lines, length, 0) == length;
    free(lines);
    return written && cut_text(file.fd, static_cast<std::int64_t>(length));
}
