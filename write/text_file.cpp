#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "board_files.h"
#include "output.h"
#include "text_file.h"

std::int64_t text_size()
{
    struct stat st;
    if (stat(Tolvak_Path("%s", TEXT_FILE), &st) != 0)
        return -1;
    return st.st_size;
}

static int open_text()
{
    return open(Tolvak_Path("%s", TEXT_FILE), O_RDONLY);
}

// Writes what one read of up to length bytes (at most a page) at offset gives.
static void write_range(int fd, std::int64_t offset, std::int64_t length, FILE *out)
{
    char page[TEXT_PAGE_BYTES];
    if (length > TEXT_PAGE_BYTES)
        length = TEXT_PAGE_BYTES;
    if (length <= 0)
        return;
    const ssize_t got = pread(fd, page, static_cast<std::size_t>(length), offset);
    if (got > 0)
        fwrite_unlocked(page, 1, static_cast<std::size_t>(got), out);
}

void write_current_page(FILE *out, std::int64_t at_most)
{
    const int fd = open_text();
    if (fd < 0)
        return;
    struct stat st;
    if (fstat(fd, &st) == 0) {
        const std::int64_t in_page = st.st_size % TEXT_PAGE_BYTES;
        const std::int64_t length = in_page < at_most ? in_page : at_most;
        write_range(fd, st.st_size - length, length, out);
    }
    close(fd);
}

void write_text_page(FILE *out, std::int64_t index)
{
    const int fd = open_text();
    if (fd < 0)
        return;
    write_range(fd, index * TEXT_PAGE_BYTES, TEXT_PAGE_BYTES, out);
    close(fd);
}
