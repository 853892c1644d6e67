// zt-admin unlock: removes a lock that no running zt program holds, and the directories that
// runs which died before they took the lock left beside it.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>

#include "admin.h"
#include "post.h"

namespace {

// The directories beside the lock that runs made to take it and left when they died before
// the rename (board_lock.h): those that no run holds. Removes them when remove is set; their
// number.
int leftovers(const std::string &dir, bool remove)
{
    const std::string parent = board_path(dir, LOCK_PARENT);
    const std::string prefix = std::string(LOCK_DIR).substr(std::string(LOCK_PARENT).size() + 1) + ".";
    DIR *entries = opendir(parent.c_str());
    if (!entries)
        return 0;
    int n = 0;
    while (const dirent *entry = readdir(entries)) {
        if (std::string_view(entry->d_name).rfind(prefix, 0) != 0)
            continue;
        const std::string path = parent + "/" + entry->d_name;
        const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        if (flock(fd, LOCK_EX | LOCK_NB) == 0 && (!remove || rmdir(path.c_str()) == 0))
            n++;
        (void)close(fd);
    }
    (void)closedir(entries);
    return n;
}

}  // namespace

std::string describe_lock(const std::string &dir, LockHolder *holder)
{
    struct stat st;
    if (stat(board_path(dir, LOCK_PARENT).c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        *holder = LOCK_UNKNOWN;
        return std::string(LOCK_PARENT) + "/ is missing: " + refused(POST_BUSY);
    }
    *holder = lock_holder(board_path(dir, LOCK_DIR).c_str(), &st);
    const long long age = std::max<long long>(0, time(nullptr) - st.st_mtime);
    const std::string since = format("since %s, %lld s ago", board_time(st.st_mtime).c_str(), age);
    std::string line;
    switch (*holder) {
    case LOCK_FREE:
        line = "free";
        break;
    case LOCK_LIVE:
        line = "held " + since + " by a post or zt-admin that runs";
        break;
    case LOCK_DEAD:
        line = "taken " + since + " by a run that died: the next post takes it over";
        break;
    case LOCK_UNKNOWN:
        line = S_ISDIR(st.st_mode)
                   ? "taken " + since + " by a program other than zt, or by a zt of an older "
                         "version: no post takes it over, and " + refused(POST_BUSY) +
                         " until it is removed"
                   : "not a directory but a file in its place: " + refused(POST_BUSY) +
                         " until it is removed";
        break;
    }
    if (const int n = leftovers(dir, false))
        line += format("; %s beside it, left by runs that died before they took it (harmless)",
                       count(n, "directory").c_str());
    return line;
}

int unlock_command(const Arguments &arguments)
{
    const std::string &dir = arguments.dir();
    LockHolder holder;
    const std::string lock = board_path(dir, LOCK_DIR);
    const std::string described = describe_lock(dir, &holder);
    const int removed = leftovers(dir, true);
    if (removed > 0)
        printf("removed %s that runs which died had left beside the lock\n",
               count(removed, "directory").c_str());
    struct stat st{};
    (void)lstat(lock.c_str(), &st);
    const long long age = std::max<long long>(0, time(nullptr) - st.st_mtime);
    switch (holder) {
    case LOCK_FREE:
        printf("the board is not locked\n");
        return 0;
    case LOCK_LIVE:
        message("the lock is %s: it is never removed while its holder runs", described.c_str());
        return EXIT_FAILED;
    case LOCK_DEAD: {
        // Taken over as a post would take it, and let go.
        const BoardLock taken(lock.c_str());
        if (!taken.held()) {
            message("a post took the lock meanwhile; nothing was changed");
            return EXIT_FAILED;
        }
        printf("removed the lock left by a run that died, taken at %s: the board takes posts "
               "again\n",
               board_time(st.st_mtime).c_str());
        return 0;
    }
    case LOCK_UNKNOWN:
        break;
    }
    if (age < LOCK_STALE_SECONDS && !arguments.has("--force")) {
        message("the lock is %s; whoever took it may still be writing. Try again in a minute, "
                "or use --force if nothing that takes it runs",
                described.c_str());
        return EXIT_FAILED;
    }
    if (rmdir(lock.c_str()) != 0) {
        message("cannot remove %s: %s", lock.c_str(), strerror(errno));
        return EXIT_FAILED;
    }
    printf("removed the lock taken at %s, %lld s ago: the board takes posts again\n",
           board_time(st.st_mtime).c_str(), age);
    return 0;
}
