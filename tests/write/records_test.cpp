// The record callbacks: the time stamp's format and the colour chosen from the name.
#include <string>

#include <gtest/gtest.h>

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
    }
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

}  // namespace
