// The record callbacks: the time stamp's format and the colour chosen from the name, and
// their widest text, by which zt-admin bounds a record.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "board_files.h"
#include "intake.h"
#include "records.h"

using zt_test::Capture;

namespace {

TEST(PostTime, TwoDigitYearMinuteSecondOthersWithoutLeadingZero)
{
    const struct {
        int year, month, day, hour, minute, second;
        const char *written;
    } cases[] = {
        {2007, 3, 5, 22, 5, 9, "07/3/5 22:05:09"},
        {2010, 1, 1, 9, 0, 0, "10/1/1 9:00:00"},
        {2026, 12, 31, 0, 59, 59, "26/12/31 0:59:59"},
        {2100, 10, 10, 10, 10, 10, "00/10/10 10:10:10"},
    };
    for (const auto &c : cases) {
        std::tm t{};
        t.tm_year = c.year - 1900;
        t.tm_mon = c.month - 1;
        t.tm_mday = c.day;
        t.tm_hour = c.hour;
        t.tm_min = c.minute;
        t.tm_sec = c.second;
        EXPECT_EQ(Capture([&](FILE *out) { write_post_time(t, out); }), c.written);
        // A reader of the record finds where the time ends, whatever follows it.
        EXPECT_EQ(post_time_length(std::string(c.written) + " 1 2:3"), strlen(c.written));
    }
    for (const char *no_time : {"7/3/5 22:05:09", "07/3/5 22:5:09", "07/3/5  22:05:09",
                                "07/3/123 1:00:00", "07/3/5 22:05:0", ""})
        EXPECT_EQ(post_time_length(no_time), 0u) << no_time;
}

TEST(PostTime, NowHasTheSameShape)
{
    const std::string now = Capture([](FILE *out) { print_post_time(nullptr, out); });
    EXPECT_TRUE(testing::internal::RE::FullMatch(now, "[0-9]{2}/[0-9]{1,2}/[0-9]{1,2} [0-9]{1,2}:[0-9]{2}:[0-9]{2}")) << now;
}

TEST(PosterColour, BitsOneToFiveOfTheNamesXor)
{
    const struct {
        const char *body;
        const char *colour;
    } cases[] = {
        {"namae=a", "#66CC99"},         // 0x61: index 16
        {"namae=", "#FF9966"},          // 0
        {"namae=abab", "#FF9966"},      // pairs cancel
        {"namae=ba", "#FF66CC"},        // 0x03: index 1
        {"namae=ab", "#FF66CC"},        // the order does not count
        {"namae=%80%01", "#FF9966"},    // 0x81: only bits 0 and 7
        {"namae=@", "#FF9966"},         // 0x40: only bit 6
        {"namae=%3E", "gray"},          // 0x3E: index 31
        {"x=1", "black"},
    };
    for (const auto &c : cases) {
        zt_test::Post(c.body);
        EXPECT_EQ(Capture([](FILE *out) { print_poster_colour(nullptr, out); }), c.colour) << c.body;
    }
}

TEST(RecordCallbacks, NeverWiderThanZtAdminReckons)
{
    std::tm widest{};
    widest.tm_year = 2099 - 1900;
    widest.tm_mon = 11;
    widest.tm_mday = 31;
    widest.tm_hour = 23;
    widest.tm_min = 59;
    widest.tm_sec = 60;  // a leap second
    const std::string time = Capture([&](FILE *out) { write_post_time(widest, out); });
    EXPECT_EQ(time.size(), static_cast<std::size_t>(comment_contract[0].widest)) << time;
    EXPECT_LE(Capture([](FILE *out) { print_post_time(nullptr, out); }).size(),
              static_cast<std::size_t>(comment_contract[0].widest));

    // A one-byte name 2k picks colour k; no name gives "black".
    std::vector<std::string> bodies = {"x=1"};
    for (int k = 0; k < 32; k++) {
        char body[16];
        snprintf(body, sizeof body, "namae=%%%02X", 2 * k);
        bodies.emplace_back(body);
    }
    std::size_t widest_colour = 0;
    for (const auto &body : bodies) {
        zt_test::Post(body);
        const std::string colour = Capture([](FILE *out) { print_poster_colour(nullptr, out); });
        EXPECT_LE(colour.size(), static_cast<std::size_t>(comment_contract[1].widest)) << body;
        widest_colour = std::max(widest_colour, colour.size());
    }
    EXPECT_EQ(widest_colour, static_cast<std::size_t>(comment_contract[1].widest));
}

}  // namespace
