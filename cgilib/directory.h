// The two directory operations on which a lock can rest: creating a directory is atomic and
// fails when it exists, so whoever creates it holds the lock until it is removed.
#pragma once

// Creates one directory (no parents). 0 when created, -1 when not, for whatever reason: it
// exists, its parent is missing, access is denied.
int Tolvak_MakeDir(const char *path);

// Removes one empty directory. 0 when removed, -1 when not.
int Tolvak_RemoveDir(const char *path);
