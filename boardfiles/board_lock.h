// The posting lock: the directory lock/zt.lck, which exists while one run writes the board
// (a post, or zt-admin changing the text). Other programs may take it with a plain mkdir
// too, and are waited for like any holder.
//
// zt's own lock directory is made under a name of its own beside the lock, with the sticky
// bit (mode 1700, which a umask cannot clear and no plain mkdir sets), opened and held with
// an exclusive flock, and only then renamed into the lock's name with RENAME_NOREPLACE: the
// lock never exists without its flock, and never replaces an empty directory that another
// program made. The kernel lets the flock go when the holder dies, however it dies, so:
//
//   lock/zt.lck absent                        free
//   marked, flock held                        live: never taken over, however long it is held
//   marked, flock free                        its holder died: the next taker takes it over
//   no mark (a plain mkdir), or not a         unknown: another program's lock, or a zt run
//   directory                                 of an older version; nobody can tell whether
//                                             its maker still writes, so only the operator
//                                             removes it (zt-admin unlock)
//
// A taker that gets the flock of a dead holder's lock holds the lock only if that directory
// is still the one named lock/zt.lck (the same inode, which cannot be reused while the taker
// keeps it open): of many takers of one dead lock exactly one wins. A run that dies before
// its rename leaves an empty directory beside the lock (lock/zt.lck.PID.N), which is no lock.
#pragma once

#include <limits.h>
#include <signal.h>
#include <sys/stat.h>

// Who holds the lock at path, as a taker or the operator finds it.
enum LockHolder : int {
    LOCK_FREE = 0,     // no lock
    LOCK_LIVE = -1,    // a running zt program holds it
    LOCK_DEAD = -2,    // a zt program that died left it: the next taker takes it over
    LOCK_UNKNOWN = -3, // a directory without zt's mark, or something else in the lock's place
};

// Finds who holds the lock at path, and its lstat in *st unless st is null (when it exists).
// A dead lock looked at this way is held for a moment, so that a post in that moment may be
// refused as busy.
LockHolder lock_holder(const char *path, struct stat *st = nullptr);

// The lock, held for the lifetime of the object when held() says so: taken at path (the
// board's LOCK_DIR), or taken over from a holder that died. While it is held, the signals with
// which a web server or a terminal ends a process are kept pending, so that a run is never
// ended between its first write and the lock's removal; a pending signal takes effect once
// the lock is gone.
class BoardLock {
public:
    explicit BoardLock(const char *path);
    ~BoardLock();
    BoardLock(const BoardLock &) = delete;
    BoardLock &operator=(const BoardLock &) = delete;

    bool held() const { return fd_ >= 0; }
    // Not held: LOCK_LIVE or LOCK_UNKNOWN when a holder has it, LOCK_FREE when the lock could
    // not be made (lock/ missing, no permission: error() tells the errno).
    LockHolder holder() const { return holder_; }
    int error() const { return error_; }

private:
    bool take();
    bool make_own(char (&name)[PATH_MAX]);

    char path_[PATH_MAX];
    int fd_ = -1;  // the lock directory, flocked, while held
    LockHolder holder_ = LOCK_FREE;
    int error_ = 0;
    sigset_t saved_;
};
