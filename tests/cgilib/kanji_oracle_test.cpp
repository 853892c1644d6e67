// Every JIS X 0208 character, posted in EUC-JP and in JIS through the real intake, arrives as
// the Shift_JIS bytes that the C library's own converter gives for it. The converter (glibc
// iconv) is the test's oracle only; the programs never use it.
#include <iconv.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "board.h"
#include "board_files.h"
#include "form.h"
#include "intake.h"
#include "kanji.h"

using zt_test::FormBody;
using zt_test::Post;

namespace {

// The assigned characters of one row of JIS X 0208, in EUC-JP and in Shift_JIS as iconv
// writes them.
struct Row {
    int row;  // 1-94
    std::string euc;
    std::string sjis;
    int count = 0;
};

// Asks iconv, character by character, for every row and cell; a pair it refuses is no
// character of the set.
std::vector<Row> oracle_rows()
{
    std::vector<Row> rows;
    iconv_t cd = iconv_open("SHIFT_JIS", "EUC-JP");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        ADD_FAILURE() << "iconv cannot convert EUC-JP to SHIFT_JIS";
        return rows;
    }
    for (int row = 1; row <= 94; row++) {
        Row r{row, {}, {}};
        for (int cell = 1; cell <= 94; cell++) {
            char in[2] = {static_cast<char>(row + 0xA0), static_cast<char>(cell + 0xA0)};
            char out[8];
            char *from = in;
            char *to = out;
            std::size_t left = sizeof in;
            std::size_t room = sizeof out;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
            if (iconv(cd, &from, &left, &to, &room) == static_cast<std::size_t>(-1) || left != 0)
                continue;
            EXPECT_EQ(to - out, 2) << "row " << row << " cell " << cell;
            r.euc.append(in, 2);
            r.sjis.append(out, static_cast<std::size_t>(to - out));
            r.count++;
        }
        if (r.count > 0)
            rows.push_back(std::move(r));
    }
    iconv_close(cd);
    return rows;
}

const std::vector<Row> &rows()
{
    static const std::vector<Row> all = oracle_rows();
    return all;
}

int total(const std::vector<Row> &all)
{
    int sum = 0;
    for (const Row &r : all)
        sum += r.count;
    return sum;
}

TEST(Oracle, KnowsEveryCharacter)
{
    EXPECT_EQ(total(rows()), 6879);
}

using Fields = std::vector<std::pair<std::string, std::string>>;

// Posts the rows in as few requests as the intake's limit allows, one field per row behind
// the fields of lead, each row's value made by encode, and checks every row's value. Returns
// the number of characters checked.
template <typename Encode>
int post_in_batches(const Fields &lead, Encode encode, Tolvak_KanjiCode detected)
{
    int checked = 0;
    std::size_t next = 0;
    const std::vector<Row> &all = rows();
    while (next < all.size()) {
        Fields fields = lead;
        std::vector<const Row *> batch;
        std::string body = FormBody(fields);
        for (; next < all.size(); next++) {
            Fields more = fields;
            more.emplace_back("r" + std::to_string(all[next].row), encode(all[next].euc));
            std::string longer = FormBody(more);
            if (longer.size() > MAX_POST_BYTES)
                break;
            fields = std::move(more);
            body = std::move(longer);
            batch.push_back(&all[next]);
        }
        if (batch.empty()) {
            ADD_FAILURE() << "a row does not fit one request";
            return checked;
        }
        Tolvak_LastCode = KANJI_NONE;  // an undecided request would convert nothing
        Post(body);
        if (detected == KANJI_EUC) {
            EXPECT_EQ(Tolvak_LastCode, KANJI_EUC) << "batch from row " << batch.front()->row;
        }
        for (const Row *r : batch) {
            const char *value = Tolvak_Find(("r" + std::to_string(r->row)).c_str());
            if (!value) {
                ADD_FAILURE() << "row " << r->row << " missing";
                continue;
            }
            const std::string got = value;
            if (got != r->sjis) {
                ADD_FAILURE() << "row " << r->row << " differs from iconv";
                continue;
            }
            checked += r->count;
        }
    }
    return checked;
}

// The JIS form of EUC-JP text: one kanji segment, the high bits cleared.
std::string jis_segment(const std::string &euc, const char *close)
{
    std::string jis = "\x1B$B";
    for (char c : euc)
        jis += static_cast<char>(c & 0x7F);
    return jis + close;
}

TEST(Oracle, EveryCharacterFromEucJp)
{
    // 漢字 first: the decisive byte 0xFA comes early in every batch.
    const int checked = post_in_batches({{"k", "\xB4\xC1\xBB\xFA"}},
                                        [](const std::string &euc) { return euc; }, KANJI_EUC);
    EXPECT_EQ(checked, 6879);
}

TEST(Oracle, EveryCharacterFromJis)
{
    const int checked = post_in_batches(
        {}, [](const std::string &euc) { return jis_segment(euc, "\x1B(J"); }, KANJI_JIS);
    EXPECT_EQ(checked, 6879);
}

TEST(Oracle, EveryCharacterFromJisClosedByEscParenB)
{
    const int checked = post_in_batches(
        {}, [](const std::string &euc) { return jis_segment(euc, "\x1B(B"); }, KANJI_JIS);
    EXPECT_EQ(checked, 6879);
}

}  // namespace
