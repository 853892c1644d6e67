// The path builder and the directory calls.
#include <string>

#include <gtest/gtest.h>

#include "board.h"
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

}  // namespace
