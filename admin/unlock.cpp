// zt-admin unlock: removes a lock left by a post that died.
#include "admin.h"

int unlock_command(const Arguments &arguments)
{
    const std::string lock = board_path(arguments.dir(), LOCK_DIR);
    struct stat st;
    if (lstat(lock.c_str(), &st) != 0) {
        printf("the board is not locked\n");
        return 0;
    }
    const long long age = static_cast<long long>(time(nullptr) - st.st_mtime);
    if (age < LOCK_STALE_SECONDS && !arguments.has("--force")) {
        message("the lock was taken %lld s ago: a post may still be running. Try again in a "
                "minute, or use --force if no post is running",
                age < 0 ? 0 : age);
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
