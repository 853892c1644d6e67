#include "board_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <initializer_list>

namespace {

// zt's mark on its lock directories: the sticky bit, which mkdir keeps whatever the umask.
constexpr mode_t LOCK_MODE = S_ISVTX | S_IRWXU;

// How often a taker tries again when the lock it found went away meanwhile.
constexpr int TAKE_ATTEMPTS = 3;

bool marked(const struct stat &st)
{
    return S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX);
}

int open_directory(const char *path)
{
    return open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
}

// Whether the directory open as fd (whose fstat is st) is still the one named path.
bool still_named(const char *path, const struct stat &st)
{
    struct stat now;
    return lstat(path, &now) == 0 && now.st_dev == st.st_dev && now.st_ino == st.st_ino;
}

}  // namespace

LockHolder lock_holder(const char *path, struct stat *st)
{
    struct stat named;
    if (lstat(path, &named) != 0)
        return LOCK_FREE;
    if (st)
        *st = named;
    if (!marked(named))
        return LOCK_UNKNOWN;
    const int fd = open_directory(path);
    if (fd < 0)
        return errno == ENOENT ? LOCK_FREE : LOCK_UNKNOWN;
    const LockHolder holder = flock(fd, LOCK_SH | LOCK_NB) == 0 ? LOCK_DEAD : LOCK_LIVE;
    (void)close(fd);  // lets the shared flock go
    return holder;
}

BoardLock::BoardLock(const char *path)
{
    if (snprintf(path_, sizeof path_, "%s", path) >= static_cast<int>(sizeof path_)) {
        error_ = ENAMETOOLONG;
        return;
    }
    // The signal calls cannot fail with these arguments.
    sigset_t stop;
    (void)sigemptyset(&stop);
    for (int signal : {SIGHUP, SIGINT, SIGTERM})
        (void)sigaddset(&stop, signal);
    (void)sigprocmask(SIG_BLOCK, &stop, &saved_);
    if (!take()) {
        error_ = errno;
        (void)sigprocmask(SIG_SETMASK, &saved_, nullptr);
    }
}

BoardLock::~BoardLock()
{
    if (fd_ < 0)
        return;
    // The directory goes first, the flock with the descriptor after it, so that no taker finds
    // the lock without its flock. A lock that cannot be removed is left with its flock free,
    // and the next taker takes it over.
    (void)rmdir(path_);
    (void)close(fd_);
    (void)sigprocmask(SIG_SETMASK, &saved_, nullptr);
}

// Makes this run's lock directory under a name beside the lock, marked and flocked; its
// descriptor goes into fd_. False when it cannot be made.
bool BoardLock::make_own(char (&name)[PATH_MAX])
{
    timespec now{};
    (void)clock_gettime(CLOCK_REALTIME, &now);
    // The process and the time make a name that nothing planted can foresee; whatever stands
    // there anyway is left alone, and another name tried.
    for (long n = now.tv_nsec, tries = 0; tries < TAKE_ATTEMPTS; n += 7919, tries++) {
        if (snprintf(name, sizeof name, "%s.%d.%lx", path_, static_cast<int>(getpid()), n) >=
            static_cast<int>(sizeof name)) {
            errno = ENAMETOOLONG;
            return false;
        }
        if (mkdir(name, LOCK_MODE) == 0)
            break;
        if (errno != EEXIST || tries + 1 == TAKE_ATTEMPTS)
            return false;
    }
    fd_ = open_directory(name);
    if (fd_ >= 0 && flock(fd_, LOCK_EX | LOCK_NB) == 0)
        return true;
    const int error = errno;
    if (fd_ >= 0)
        (void)close(fd_);
    fd_ = -1;
    (void)rmdir(name);
    errno = error;
    return false;
}

bool BoardLock::take()
{
    char own[PATH_MAX];
    if (!make_own(own))
        return false;
    for (int attempt = 0; attempt < TAKE_ATTEMPTS; attempt++) {
        if (renameat2(AT_FDCWD, own, AT_FDCWD, path_, RENAME_NOREPLACE) == 0)
            return true;
        if (errno == EINVAL || errno == ENOSYS) {
            // A file system that cannot rename without replacing: the lock is made as another
            // program makes it, unmarked, so that nobody ever takes it over.
            (void)rmdir(own);
            if (mkdir(path_, S_IRWXU | S_IRWXG | S_IRWXO) == 0)
                return true;  // fd_ keeps the flock of the directory just removed: harmless
            holder_ = errno == EEXIST ? LOCK_UNKNOWN : LOCK_FREE;
            break;
        }
        if (errno != EEXIST && errno != ENOTEMPTY)
            break;
        const int fd = open_directory(path_);
        struct stat st;
        if (fd < 0 || fstat(fd, &st) != 0 || !marked(st)) {
            holder_ = fd < 0 && errno == ENOENT ? LOCK_FREE : LOCK_UNKNOWN;
        } else if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            holder_ = LOCK_LIVE;
        } else if (still_named(path_, st)) {
            // The holder is dead and its lock is this run's now.
            (void)rmdir(own);
            (void)close(fd_);
            fd_ = fd;
            return true;
        } else {
            holder_ = LOCK_FREE;  // released meanwhile: try the rename again
        }
        if (fd >= 0)
            (void)close(fd);
        if (holder_ != LOCK_FREE)
            break;
    }
    const int error = holder_ == LOCK_FREE ? errno : EEXIST;
    (void)rmdir(own);
    (void)close(fd_);
    fd_ = -1;
    errno = error;
    return false;
}
