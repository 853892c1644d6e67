// zt-admin's reading of a comment log lists what the board page lists: the log module itself
// appends and prints, and the two listings are compared after every append.
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "board.h"
#include "board_dir.h"
#include "commentlog.h"

namespace {

std::string Printed(const std::string &path)
{
    EXPECT_EQ(CommentLog_Open(path.c_str()), 0);
    FILE *out = tmpfile();
    CommentLog_Print(out);
    CommentLog_Close();
    std::string bytes(static_cast<std::size_t>(ftell(out)), '\0');
    rewind(out);
    EXPECT_EQ(fread(bytes.data(), 1, bytes.size(), out), bytes.size());
    fclose(out);
    return bytes;
}

void Append(const std::string &path, const std::string &content)
{
    ASSERT_EQ(CommentLog_Open(path.c_str()), 0);
    FILE *record = tmpfile();
    fwrite(content.data(), 1, content.size(), record);
    CommentLog_Append(record);
    fclose(record);
    CommentLog_Close();
}

std::string Listed(const std::string &path, bool *readable)
{
    std::vector<std::string> records;
    *readable = read_comment_log(zt_test::ReadFile(path), &records);
    std::string joined;
    for (const auto &record : records)
        joined += record + "\n";
    return joined;
}

TEST(CommentLogReading, EmptyLogListsNothingAndStaysAsPrepared)
{
    zt_test::TempDir dir;
    for (long long size : {MIN_LOG_BYTES, DEFAULT_LOG_BYTES}) {
        const std::string path = dir / "log";
        const std::string empty = empty_comment_log(size);
        ASSERT_EQ(empty.size(), static_cast<std::size_t>(size));
        zt_test::WriteFile(path, empty);
        bool readable;
        EXPECT_EQ(Listed(path, &readable), "");
        EXPECT_TRUE(readable);
        EXPECT_EQ(Printed(path), "");
        EXPECT_EQ(zt_test::ReadFile(path), empty);  // the module found its header sound
    }
}

// Records of many lengths go round a small log several times; after each append both
// listings agree, and the newest record always comes first.
TEST(CommentLogReading, AgreesWithTheBoardPageLapAfterLap)
{
    zt_test::TempDir dir;
    const std::string path = dir / "log";
    zt_test::WriteFile(path, empty_comment_log(400));
    for (int i = 0; i < 60; i++) {
        const std::string content = "record " + std::to_string(i) + std::string(i * 7 % 53, 'x');
        Append(path, content);
        bool readable;
        const std::string listed = Listed(path, &readable);
        EXPECT_TRUE(readable);
        EXPECT_EQ(listed, Printed(path)) << "after append " << i;
        EXPECT_TRUE(listed.starts_with(content + "\n")) << "after append " << i;
    }
}

TEST(CommentLogReading, UnreadableHeader)
{
    for (const std::string &log :
         {std::string(300, '\0'), std::string("zzzzzzzz\n0000012c\n") + std::string(282, ' '),
          std::string("0000ffff\n0000012c\n") + std::string(282, ' '),  // head past the end
          std::string("00000011\n00000012\n") + std::string(282, ' ')}) {
        std::vector<std::string> records;
        EXPECT_FALSE(read_comment_log(log, &records));
        EXPECT_TRUE(records.empty());
    }
}

}  // namespace
