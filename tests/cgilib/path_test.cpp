// The path builder and the directory calls.
#include <string>

#include <gtest/gtest.h>

#include "board.h"
#include "directory.h"
#include "path.h"

namespace {

TEST(Path, EveryCallOverwritesTheOneBuffer)
{
    const char *first = Tolvak_Path("zt/zt-com%c.txt", '3');
    EXPECT_STREQ(first, "zt/zt-com3.txt");
    const char *second = Tolvak_Path("%s", "lock/zt.lck");
    EXPECT_EQ(first, second);
    EXPECT_EQ(second, Tolvak_BaseDir);
    EXPECT_STREQ(first, "lock/zt.lck");
}

TEST(Path, TooLongIsRefusedAsTheEmptyPath)
{
    const std::string fits(TOLVAK_PATH_BYTES - 1, 'a');
    EXPECT_EQ(std::string(Tolvak_Path("%s", fits.c_str())), fits);
    EXPECT_STREQ(Tolvak_Path("%s", (fits + "b").c_str()), "");
    EXPECT_STREQ(Tolvak_Path("%s", "x"), "x");
}

TEST(DirectoryOperations, ReportOnlySuccessOrFailure)
{
    zt_test::TempDir dir;
    const std::string lock = dir / "zt.lck";
    EXPECT_EQ(Tolvak_MakeDir(lock.c_str()), 0);
    EXPECT_EQ(Tolvak_MakeDir(lock.c_str()), -1);
    EXPECT_EQ(Tolvak_RemoveDir(lock.c_str()), 0);
    EXPECT_EQ(Tolvak_RemoveDir(lock.c_str()), -1);
    EXPECT_EQ(Tolvak_MakeDir((dir / "missing/zt.lck").c_str()), -1);
    zt_test::WriteFile(dir / "file", "x");
    EXPECT_EQ(Tolvak_MakeDir((dir / "file").c_str()), -1);
    EXPECT_EQ(Tolvak_RemoveDir((dir / "file").c_str()), -1);
}

}  // namespace
