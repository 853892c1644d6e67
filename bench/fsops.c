/* The cost of the file-system operations that a post makes, on the file system of a given
 * directory, so that the benchmark can show how much of a post's time the file system takes
 * rather than the program. Each operation is repeated and its mean wall time printed.
 *
 *   zt-fsops DIR [REPEATS]
 *
 * Output, one line per operation, in microseconds:
 *   lock       mkdir and rmdir of one directory (the posting lock as a plain mkdir takes it)
 *   flocklock  the posting lock as zt takes it: a directory made beside it, opened, flocked and
 *              renamed into place (RENAME_NOREPLACE), then removed and closed
 *   rewrite    create, write 17 bytes, close and rename over (the last-poster file)
 *   truncate   open truncating, write 17 bytes, close (the same file rewritten in place)
 *   inplace    open, write 15 or 17 bytes at offset 0, cut to that length, close (the same
 *              file rewritten over its old bytes, no block given back)
 *   append     open, write 8 bytes at the end, close (the text file)
 *   overwrite  open, write 18 bytes at offset 0, close (a comment log's header)
 */
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

static char lock_path[4096], own_path[4096], file_path[4096], fresh_path[4096], grown_path[4096];
static const char bytes[64] = "fsops\nfsops\nfsops\nfsops\n";

static double now_us(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1e6 + t.tv_nsec / 1e3;
}

static int lock_once(void)
{
    return mkdir(lock_path, 0777) == 0 && rmdir(lock_path) == 0;
}

static int flocklock_once(void)
{
    if (mkdir(own_path, 01700) != 0)
        return 0;
    const int fd = open(own_path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    const int ok = fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0 &&
                   renameat2(AT_FDCWD, own_path, AT_FDCWD, lock_path, RENAME_NOREPLACE) == 0 &&
                   rmdir(lock_path) == 0;
    return close(fd) == 0 && ok;
}

static int write_file(const char *path, int flags, const void *data, size_t n, off_t at)
{
    const int fd = open(path, flags, 0644);
    if (fd < 0)
        return 0;
    const int ok = (at < 0 ? write(fd, data, n) : pwrite(fd, data, n, at)) == (ssize_t)n;
    return close(fd) == 0 && ok;
}

static int rewrite_once(void)
{
    return write_file(fresh_path, O_WRONLY | O_CREAT | O_TRUNC, bytes, 17, -1) &&
           rename(fresh_path, file_path) == 0;
}

static int truncate_once(void)
{
    return write_file(file_path, O_WRONLY | O_TRUNC, bytes, 17, -1);
}

static int inplace_once(void)
{
    static size_t n = 15;
    n = n == 15 ? 17 : 15;
    const int fd = open(file_path, O_WRONLY);
    if (fd < 0)
        return 0;
    const int ok = pwrite(fd, bytes, n, 0) == (ssize_t)n && ftruncate(fd, (off_t)n) == 0;
    return close(fd) == 0 && ok;
}

static int append_once(void)
{
    return write_file(grown_path, O_WRONLY | O_APPEND, bytes, 8, -1);
}

static int overwrite_once(void)
{
    return write_file(file_path, O_WRONLY, bytes, 18, 0);
}

static const struct {
    const char *name;
    int (*once)(void);
} operations[] = {
    {"lock", lock_once},
    {"flocklock", flocklock_once},
    {"rewrite", rewrite_once},
    {"truncate", truncate_once},
    {"inplace", inplace_once},
    {"append", append_once},
    {"overwrite", overwrite_once},
};

int main(int argc, char **argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: zt-fsops DIR [REPEATS]\n");
        return 2;
    }
    const int repeats = argc > 2 ? atoi(argv[2]) : 2000;
    snprintf(lock_path, sizeof lock_path, "%s/fsops.lck", argv[1]);
    snprintf(own_path, sizeof own_path, "%s/fsops.lck.own", argv[1]);
    snprintf(file_path, sizeof file_path, "%s/fsops.txt", argv[1]);
    snprintf(fresh_path, sizeof fresh_path, "%s/fsops.txt.new", argv[1]);
    snprintf(grown_path, sizeof grown_path, "%s/fsops.grown", argv[1]);
    if (!write_file(file_path, O_WRONLY | O_CREAT | O_TRUNC, bytes, 24, -1) ||
        !write_file(grown_path, O_WRONLY | O_CREAT | O_TRUNC, bytes, 0, -1)) {
        fprintf(stderr, "zt-fsops: cannot write in %s\n", argv[1]);
        return 1;
    }
    int status = 0;
    for (size_t k = 0; k < sizeof operations / sizeof operations[0]; k++) {
        const double start = now_us();
        int i = 0;
        while (i < repeats && operations[k].once())
            i++;
        if (i < repeats) {
            fprintf(stderr, "zt-fsops: %s failed in %s\n", operations[k].name, argv[1]);
            status = 1;
            continue;
        }
        printf("%s %.1f\n", operations[k].name, (now_us() - start) / repeats);
    }
    unlink(file_path);
    unlink(fresh_path);
    unlink(grown_path);
    return status;
}
