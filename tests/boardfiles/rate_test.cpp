// The rate of posts: what judge_post says of a post against the posts a rate file remembers.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "case_name.h"
#include "post_rate.h"

namespace {

constexpr std::int64_t NOW = 1800000000;

struct Judged {
    const char *name;
    RateSetting setting;
    std::vector<std::pair<std::string, int>> posts;  // address, seconds before NOW
    std::string address;
    int wait;
    int slot;  // the slot that remembers the post, -1 none
};

void PrintTo(const Judged &j, std::ostream *os) { *os << j.name; }

class Rate : public testing::TestWithParam<Judged> {};

TEST_P(Rate, WaitsAsTheAllowancesSay)
{
    const Judged &j = GetParam();
    std::string file(rate_file_bytes(j.setting), '\0');
    format_rate_file(file.data(), j.setting);
    for (std::size_t i = 0; i < j.posts.size(); i++)
        format_rate_slot(file.data() + RATE_HEADER_BYTES + i * RATE_SLOT_BYTES,
                         {NOW - j.posts[i].second, address_key(j.posts[i].first)});
    const RateVerdict verdict = judge_post(file, address_key(j.address), NOW);
    EXPECT_EQ(verdict.wait, j.wait);
    EXPECT_EQ(verdict.slot, j.slot);
}

// n addresses, prefix N suffix for N from 1, posting every step seconds from ago on.
std::vector<std::pair<std::string, int>> many(const std::string &prefix, const std::string &suffix, int n,
                                              int ago, int step)
{
    std::vector<std::pair<std::string, int>> posts;
    for (int i = 0; i < n; i++)
        posts.emplace_back(prefix + std::to_string(i + 1) + suffix, ago - i * step);
    return posts;
}

std::vector<std::pair<std::string, int>> from(const std::string &address, int n, int ago, int step)
{
    std::vector<std::pair<std::string, int>> posts;
    for (int i = 0; i < n; i++)
        posts.emplace_back(address, ago - i * step);
    return posts;
}

INSTANTIATE_TEST_SUITE_P(Posts, Rate, testing::Values(
    Judged{"rate off", {0, 60}, from("10.0.0.1", 9, 50, 1), "10.0.0.1", 0, -1},
    Judged{"under the allowance", {6, 60}, from("10.0.0.1", 5, 50, 10), "10.0.0.1", 0, 5},
    Judged{"at the allowance", {6, 60}, from("10.0.0.1", 6, 55, 10), "10.0.0.1", 6, 6},
    Judged{"the oldest a minute old to the second", {6, 60}, from("10.0.0.1", 6, 60, 10), "10.0.0.1", 1, 6},
    Judged{"the oldest more than a minute old", {6, 60}, from("10.0.0.1", 6, 61, 10), "10.0.0.1", 0, 0},
    Judged{"more than the allowance, set lower since", {2, 60}, from("10.0.0.1", 4, 40, 10), "10.0.0.1", 41, 4},
    Judged{"another address", {6, 60}, from("10.0.0.1", 6, 55, 10), "10.0.0.2", 0, 6},
    Judged{"the same IPv6 /64", {2, 60}, {{"2001:db8:1:2::1", 30}, {"2001:db8:1:2:ffff::9", 20}},
           "2001:db8:1:2::5", 31, 2},
    Judged{"an IPv4 address and its mapped form", {2, 60}, {{"::ffff:10.0.0.1", 30}, {"10.0.0.1", 20}},
           "10.0.0.1", 31, 2},
    Judged{"the /64s of one /48 at twice the allowance", {6, 60}, many("2001:db8:1:", "::1", 12, 30, 2),
           "2001:db8:1:ff::1", 31, 12},
    Judged{"another /48", {6, 60}, many("2001:db8:1:", "::1", 12, 30, 2), "2001:db8:2::1", 0, 12},
    Judged{"one IPv4 /24 counts no wider", {6, 60}, many("10.0.0.", "", 12, 30, 2), "10.0.0.99", 0, 12},
    Judged{"the board at its ceiling", {6, 60}, many("10.1.0.", "", 60, 50, 0), "10.2.0.1", 11, 60},
    Judged{"every slot counts: the board waits for the oldest", {6, 0}, many("10.1.0.", "", 64, 50, 0),
           "10.2.0.1", 0, 0},
    Judged{"a post ahead of the clock by more than a minute", {1, 60}, {{"10.0.0.1", -61}}, "10.0.0.1", 0, 0},
    Judged{"a post ahead of the clock by less", {1, 60}, {{"10.0.0.1", -30}}, "10.0.0.1", 91, 1},
    Judged{"text that is no address stands for itself", {1, 60}, {{"unix:/run/x", 30}}, "unix:/run/x", 31, 1},
    Judged{"and is another poster's than another text", {1, 60}, {{"unix:/run/x", 30}}, "unix:/run/y", 0, 1}),
    zt_test::CaseName{});

TEST(Rate, DamagedSlotsAreFreeAndADamagedHeaderIsNoRate)
{
    std::string file(rate_file_bytes({1, 0}), '\0');
    format_rate_file(file.data(), {1, 0});
    format_rate_slot(file.data() + RATE_HEADER_BYTES, {NOW - 10, address_key("10.0.0.1")});
    std::string damaged = file;
    damaged[RATE_HEADER_BYTES + 20] = 'x';
    EXPECT_EQ(judge_post(file, address_key("10.0.0.1"), NOW).wait, 51);
    EXPECT_EQ(judge_post(damaged, address_key("10.0.0.1"), NOW).wait, 0);
    EXPECT_EQ(judge_post(damaged, address_key("10.0.0.1"), NOW).slot, 0);
    damaged = file;
    damaged[7] = '_';
    EXPECT_EQ(judge_post(damaged, address_key("10.0.0.1"), NOW).wait, 0);
    // A file without a whole slot remembers nothing.
    EXPECT_EQ(judge_post(file.substr(0, RATE_HEADER_BYTES + 10), address_key("10.0.0.1"), NOW).slot, -1);
}

}  // namespace
