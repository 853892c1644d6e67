#include <sys/stat.h>
#include <unistd.h>

#include "directory.h"

int Tolvak_MakeDir(const char *path)
{
    return mkdir(path, 0777) == 0 ? 0 : -1;
}

int Tolvak_RemoveDir(const char *path)
{
    return rmdir(path) == 0 ? 0 : -1;
}
