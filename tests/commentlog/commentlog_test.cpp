// The comment log over real files: placement and laps, limits, headers, and damaged files.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "board.h"
#include "commentlog.h"

using namespace std::string_literals;
using zt_test::FileSize;
using zt_test::ReadFile;
using zt_test::TempDir;
using zt_test::WriteFile;

namespace {

std::string Hex(unsigned long value, int digits)
{
    char text[16];
    snprintf(text, sizeof text, "%0*lx", digits, value);
    return text;
}

std::string Header(unsigned long head, unsigned long old_head)
{
    return Hex(head, 8) + "\n" + Hex(old_head, 8) + "\n";
}

const std::string FRESH = "00000012\n00000012\n";

std::string Tag(const char *prefix, int n)
{
    std::string tag = prefix;
    tag += std::to_string(n);
    return tag;
}

// A record as it lies in the file.
std::string Record(const std::string &content)
{
    return Hex(content.size() + 6, 4) + "\t" + content + "\n";
}

// Content of n bytes that starts with its tag, so that records are told apart.
std::string Content(const std::string &tag, std::size_t n)
{
    std::string c = tag;
    c.resize(n, '.');
    return c;
}

int Append(const std::string &content)
{
    return CommentLog_Append(content.data(), content.size());
}

std::string Print()
{
    return zt_test::Capture(CommentLog_Print);
}

// One run of each program: open, append or print, close.
int AppendTo(const std::string &path, const std::string &content)
{
    if (CommentLog_Open(path.c_str()) != 0)
        return -2;
    const int result = Append(content);
    CommentLog_Close();
    return result;
}

std::string PrintOf(const std::string &path)
{
    if (CommentLog_Open(path.c_str()) != 0)
        return "(not opened)";
    std::string out = Print();
    CommentLog_Close();
    return out;
}

// A freshly prepared log: the given header, then NUL bytes up to size.
std::string Prepared(const std::string &header, std::size_t size)
{
    std::string bytes = header;
    bytes.resize(size, '\0');
    return bytes;
}

void Place(std::string *file, std::size_t at, const std::string &bytes)
{
    file->replace(at, bytes.size(), bytes);
}

std::string Lines(const std::vector<std::string> &contents)
{
    std::string out;
    for (const std::string &c : contents)
        out += c + "\n";
    return out;
}

// A record area of 1000 bytes and six records of 300 bytes, from the fresh header.
TEST(CommentLog, RecordsOfEqualLengthLapAsInTheTable)
{
    struct Row {
        long head, old_head, placed;
        std::vector<int> shows;
    };
    const Row rows[] = {
        {718, 18, 718, {1}},
        {418, 18, 418, {2, 1}},
        {118, 18, 118, {3, 2, 1}},
        {718, 118, 718, {4, 3, 2}},
        {418, 118, 418, {5, 4, 3}},
        {118, 118, 118, {6, 5, 4}},
    };
    TempDir dir;
    const std::string path = dir / "zt-com1.txt";
    std::string expected = Prepared(FRESH, 1018);
    WriteFile(path, expected);
    auto content = [](int n) { return Content(Tag("<b>record ", n) + "</b>", 294); };
    for (int n = 1; n <= 6; n++) {
        SCOPED_TRACE(n);
        const Row &row = rows[n - 1];
        ASSERT_EQ(AppendTo(path, content(n)), 0);
        Place(&expected, 0, Header(row.head, row.old_head));
        Place(&expected, row.placed, Record(content(n)));
        ASSERT_EQ(Record(content(n)).size(), 300u);
        EXPECT_EQ(ReadFile(path), expected);
        std::vector<std::string> shown;
        for (int s : row.shows)
            shown.push_back(content(s));
        EXPECT_EQ(PrintOf(path), Lines(shown));
    }
}

// The same records written in one open, as a process that keeps its log open would.
TEST(CommentLog, OneOpenKeepsItsOffsets)
{
    TempDir dir;
    const std::string path = dir / "log";
    WriteFile(path, Prepared(FRESH, 1018));
    ASSERT_EQ(CommentLog_Open(path.c_str()), 0);
    for (int n = 1; n <= 4; n++)
        ASSERT_EQ(Append(Content(std::to_string(n), 294)), 0);
    EXPECT_EQ(Print(), Lines({Content("4", 294), Content("3", 294), Content("2", 294)}));
    CommentLog_Close();
    EXPECT_EQ(ReadFile(path).substr(0, 18), Header(718, 118));
}

// A rewrite changes the content of the one record it names, in place and of the same length,
// in either lap; anything that is not that record as the caller saw it is refused unchanged.
TEST(CommentLog, RewriteChangesOneRecordsContentInPlace)
{
    TempDir dir;
    const std::string path = dir / "log";
    WriteFile(path, Prepared(FRESH, 1018));
    const auto content = [](const char *tag) { return Content(tag, 294); };
    for (const char *tag : {"1", "2", "3", "4"})
        ASSERT_EQ(AppendTo(path, content(tag)), 0);
    std::string expected = ReadFile(path);  // 4 at 718 in the current lap; 3 at 118, 2 at 418
    const struct {
        long long offset;
        std::string was, now;
        int result;
    } cases[] = {
        {718, content("4"), content("four"), 0},
        {418, content("2"), content("two"), 0},       // the previous lap
        {718, content("4"), content("x"), -1},        // no longer what the caller saw
        {719, content("four").substr(1), content("x").substr(1), -1},  // inside a record
        {718, content("four").substr(0, 293), content("x").substr(0, 293), -1},  // another length
        {118, content("3"), content("a\nb"), -1},     // a LF would end the record early
        {1000, content("3"), content("x"), -1},       // past the end of the file
        {0, content("3"), content("x"), -1},          // the header
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.offset);
        CommentLog_State state;
        ASSERT_EQ(CommentLog_Edit(path.c_str(), &state), 0);
        EXPECT_EQ(CommentLog_Rewrite(c.offset, c.was.data(), c.now.data(), c.now.size()),
                  c.result);
        CommentLog_Close();
        if (c.result == 0)
            Place(&expected, c.offset + 5, c.now);
        EXPECT_EQ(ReadFile(path), expected);
    }
    EXPECT_EQ(PrintOf(path), Lines({content("four"), content("3"), content("two")}));

    // Opened for reading only, the rewrite fails to write.
    CommentLog_State state;
    ASSERT_EQ(CommentLog_Inspect(path.c_str(), &state), 0);
    EXPECT_EQ(CommentLog_Rewrite(718, content("four").data(), content("4").data(), 294), -2);
    CommentLog_Close();
    EXPECT_EQ(ReadFile(path), expected);
}

// After a first record of 400 bytes the room above the head is 600 bytes.
TEST(CommentLog, ExactFitStaysInTheLapOneByteMoreStartsANewOne)
{
    struct Case {
        std::size_t length;
        long head, old_head;
        int shown;  // records printed
    };
    for (const Case &c : {Case{600, 18, 18, 2}, Case{601, 417, 618, 1}, Case{599, 19, 18, 2}}) {
        SCOPED_TRACE(c.length);
        TempDir dir;
        const std::string path = dir / "log";
        WriteFile(path, Prepared(FRESH, 1018));
        const std::string first = Content("first", 400 - 6);
        const std::string second = Content("second", c.length - 6);
        ASSERT_EQ(AppendTo(path, first), 0);
        ASSERT_EQ(ReadFile(path).substr(0, 18), Header(618, 18));
        ASSERT_EQ(AppendTo(path, second), 0);
        const std::string file = ReadFile(path);
        EXPECT_EQ(file.substr(0, 18), Header(c.head, c.old_head));
        EXPECT_EQ(file.substr(c.head, c.length), Record(second));
        EXPECT_EQ(PrintOf(path), c.shown == 2 ? Lines({second, first}) : Lines({second}));
    }
}

TEST(CommentLog, RecordsTooLongForTheFormatOrTheFileAreRefusedUnchanged)
{
    struct Case {
        std::size_t area;
        std::size_t length;
        bool stored;
    };
    const Case cases[] = {
        {70000, 65530, true},  {70000, 65531, false}, {65530, 65530, true},
        {100, 100, true},      {100, 101, false},     {6, 6, true},
        {5, 6, false},         {0, 6, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.area) + " " + std::to_string(c.length));
        TempDir dir;
        const std::string path = dir / "log";
        const std::size_t size = 18 + c.area;
        const std::string before = Prepared(Header(size, size), size);
        WriteFile(path, before);
        const std::string content = Content("x", c.length - 6);
        if (c.stored) {
            ASSERT_EQ(AppendTo(path, content), 0);
            const std::string file = ReadFile(path);
            EXPECT_EQ(file.substr(0, 18), Header(size - c.length, size));
            EXPECT_EQ(file.substr(size - c.length), Record(content));
            EXPECT_EQ(PrintOf(path), Lines({content}));
        } else {
            EXPECT_EQ(AppendTo(path, content), -1);
            EXPECT_EQ(ReadFile(path), before);
        }
    }
}

TEST(CommentLog, EmptyLogFillsFromTheEnd)
{
    TempDir dir;
    const std::string path = dir / "log";
    WriteFile(path, Prepared(Header(1018, 1018), 1018));
    EXPECT_EQ(PrintOf(path), "");
    ASSERT_EQ(AppendTo(path, Content("a", 94)), 0);
    EXPECT_EQ(ReadFile(path).substr(0, 18), Header(918, 1018));
    ASSERT_EQ(AppendTo(path, Content("b", 94)), 0);
    EXPECT_EQ(ReadFile(path).substr(0, 18), Header(818, 1018));
    EXPECT_EQ(PrintOf(path), Lines({Content("b", 94), Content("a", 94)}));
}

TEST(CommentLog, HeadersAreReadLenientlyOrReplacedByTheFreshOne)
{
    struct Case {
        const char *name;
        std::string header;
        bool fresh;
    };
    const std::string nul(18, '\0');
    const Case cases[] = {
        {"canonical", "000003fa\n000003fa\n", false},
        {"upper case and white space", "  3FA\r\n\t\v3Fa\n   ", false},
        {"at most 8 digits", "000003fa000003fa", false},
        {"NUL bytes", nul, true},
        {"no digits", "zzzzzzzz\nzzzzzzzz\n", true},
        {"one number", "000003fa\n", true},
        {"sign", "-00003fa\n000003fa\n", true},
        {"head past the end", "000003fb\n000003fa\n", true},
        {"head in the header", "00000011\n000003fa\n", true},
        {"head zero", "00000000\n000003fa\n", true},
        {"old head past the end", "000003fa\nffffffff\n", true},
        {"old head in the header", "000003fa\n00000000\n", true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string path = dir / "log";
        const std::string before = Prepared(c.header, 1018);
        WriteFile(path, before);
        ASSERT_EQ(CommentLog_Open(path.c_str()), 0);
        CommentLog_Close();
        std::string expected = before;
        if (c.fresh)
            Place(&expected, 0, FRESH);
        EXPECT_EQ(ReadFile(path), expected);
        // The offsets taken: an empty log fills from the end, a fresh one starts a lap.
        ASSERT_EQ(AppendTo(path, Content("r", 94)), 0);
        EXPECT_EQ(ReadFile(path).substr(0, 18), Header(918, c.fresh ? 18 : 1018));
    }
}

// Files shorter than the header: nothing is written, nothing is stored, nothing is printed.
TEST(CommentLog, ShortFilesStayAsTheyAre)
{
    for (const std::string &bytes : {""s, "x"s, "00000012\n0000001"s, std::string(17, '\0')}) {
        SCOPED_TRACE(bytes.size());
        TempDir dir;
        const std::string path = dir / "log";
        WriteFile(path, bytes);
        EXPECT_EQ(PrintOf(path), "");
        EXPECT_EQ(AppendTo(path, ""), -1);
        EXPECT_EQ(ReadFile(path), bytes);
    }
    // Exactly a header: it is written, and there is no room for any record.
    TempDir dir;
    const std::string path = dir / "log";
    WriteFile(path, std::string(18, '\0'));
    EXPECT_EQ(PrintOf(path), "");
    EXPECT_EQ(AppendTo(path, ""), -1);
    EXPECT_EQ(ReadFile(path), FRESH);
}

TEST(CommentLog, OnlyExistingRegularFilesOpen)
{
    TempDir dir;
    EXPECT_EQ(CommentLog_Open((dir / "missing").c_str()), -1);
    EXPECT_FALSE(zt_test::Exists(dir / "missing"));
    EXPECT_EQ(CommentLog_Open(dir.path().c_str()), -1);
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    EXPECT_EQ(CommentLog_Open((dir / "fifo").c_str()), -1);
    // Without a current log nothing is stored or printed.
    EXPECT_EQ(Append("x"), -1);
    EXPECT_EQ(Print(), "");
}

TEST(CommentLog, LogsAreHandledInTurn)
{
    TempDir dir;
    const std::string a = dir / "zt-com1.txt", b = dir / "zt-com2.txt";
    WriteFile(a, Prepared(Header(118, 118), 118));
    WriteFile(b, Prepared(Header(218, 218), 218));
    ASSERT_EQ(AppendTo(a, "in a"), 0);
    // An open while another log is current moves on to the new log.
    ASSERT_EQ(CommentLog_Open(a.c_str()), 0);
    ASSERT_EQ(CommentLog_Open(b.c_str()), 0);
    ASSERT_EQ(Append("in b"), 0);
    CommentLog_Close();
    EXPECT_EQ(PrintOf(a), "in a\n");
    EXPECT_EQ(PrintOf(b), "in b\n");
    EXPECT_EQ(ReadFile(b).substr(0, 18), Header(208, 218));
}

// A form value or an environment variable can bring line feeds into a record. Each is stored
// as a space: the record stays one line, its length true, and later laps still find it.
TEST(CommentLog, LineFeedsInContentBecomeSpaces)
{
    TempDir dir;
    const std::string path = dir / "log";
    WriteFile(path, Prepared(FRESH, 18 + 60));
    const std::string plain1 = Content("one", 14), plain2 = Content("three", 14);
    const std::string broken = "a\nb\n\nc\r\nd....\n";
    const std::string mended = "a b  c\r d.... ";
    ASSERT_EQ(broken.size(), 14u);
    ASSERT_EQ(AppendTo(path, plain1), 0);
    ASSERT_EQ(AppendTo(path, broken), 0);
    EXPECT_EQ(ReadFile(path).substr(38, 20), Record(mended));
    EXPECT_EQ(PrintOf(path), Lines({mended, plain1}));
    // A new lap over "one": the mended record is found by its length in the previous lap.
    ASSERT_EQ(AppendTo(path, Content("x", 14)), 0);
    ASSERT_EQ(AppendTo(path, plain2), 0);
    EXPECT_EQ(ReadFile(path).substr(0, 18), Header(58, 18));
    EXPECT_EQ(PrintOf(path), Lines({plain2, Content("x", 14), mended}));
}

// Records are bytes: no text-mode translation, and 0xFF ends nothing.
TEST(CommentLog, ContentBytesPassUnchanged)
{
    const std::string odd[] = {"a\rb\x1a" "c", "\x82\xa0<i>&amp;</i>", "nul\0byte"s, "", "\xff",
                               "name\xff\xff"};
    TempDir dir;
    const std::string path = dir / "log";
    WriteFile(path, Prepared(FRESH, 18 + 120));
    std::vector<std::string> newest_first;
    for (const std::string &c : odd) {
        ASSERT_EQ(AppendTo(path, c), 0);
        newest_first.insert(newest_first.begin(), c);
    }
    EXPECT_EQ(PrintOf(path), Lines(newest_first));
    // A new lap over the four oldest: the previous lap's records with 0xFF still show.
    const std::string big = Content("big", 45);
    ASSERT_EQ(AppendTo(path, big), 0);
    EXPECT_EQ(PrintOf(path), Lines({big, "name\xff\xff", "\xff"}));
}

// A log of 60 record bytes: the current lap holds C at 58, the previous lap P1 at 18 and P2 at
// 38, each 20 bytes. Damaged length fields end the previous lap's walk there.
TEST(CommentLog, DamagedLengthsEndThePreviousLap)
{
    struct Case {
        const char *name;
        std::string p1, p2;
        std::string shown;
    };
    const std::string c = "current......." "\n";
    const std::string p1 = "earlier1......" "\n", p2 = "earlier2......" "\n";
    const Case cases[] = {
        {"intact", "0014\t" + p1, "0014\t" + p2, c + p1 + p2},
        {"no digits", "zzzz\t" + p1, "0014\t" + p2, c},
        {"zero", "0000\t" + p1, "0014\t" + p2, c},
        {"below the frame", "0005\t" + p1, "0014\t" + p2, c},
        {"too short", "0010\t" + p1, "0014\t" + p2, c + p1},
        {"too long", "0015\t" + p1, "0014\t" + p2, c + p1},
        {"past the head", "0014\t" + p1, "ffff\t" + p2, c + p1},
        {"into the head", "0014\t" + p1, "0015\t" + p2, c + p1},
        {"white space", std::string(20, ' '), std::string(20, ' '), c},
        {"line into the head", "0014\t" + p1, "0014\t" + std::string(15, 'x'), c + p1 + std::string(15, 'x')},
        {"NUL", std::string(20, '\0'), "0014\t" + p2, c},
        // A record that ends where its length says is taken whole: its content is not read
        // for line ends, which the append never stores inside it.
        {"line feed inside", "0014\t" + p1, "0014\tearl\ner2......\n",
         c + p1 + "earl\ner2......\n"},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.name);
        TempDir dir;
        const std::string path = dir / "log";
        const std::string file = Header(58, 18) + k.p1 + k.p2 + "0014\t" + c;
        ASSERT_EQ(file.size(), 78u);
        WriteFile(path, file);
        EXPECT_EQ(PrintOf(path), k.shown);
        EXPECT_EQ(ReadFile(path), file);
    }
    // The same in the current lap.
    TempDir dir;
    const std::string path = dir / "log";
    const std::string inside = "cur\nent.......\n";
    WriteFile(path, Header(58, 18) + "0014\t" + p1 + "0014\t" + p2 + "0014\t" + inside);
    EXPECT_EQ(PrintOf(path), inside + p1 + p2);
}

TEST(CommentLog, HeadInsideARecordStaysInsideTheFile)
{
    TempDir dir;
    const std::string path = dir / "log";
    std::string file = Prepared(Header(40, 18), 18 + 60);
    Place(&file, 38, "0014\tabcdefghijklmn\n" "0014\tABCDEFGHIJKLMN\n");
    WriteFile(path, file);
    EXPECT_EQ(PrintOf(path), "cdefghijklmn\n" "ABCDEFGHIJKLMN\n");
    ASSERT_EQ(AppendTo(path, Content("new", 16)), 0);  // 22 bytes fit above 40
    EXPECT_EQ(ReadFile(path).substr(0, 18), Header(18, 18));
    EXPECT_EQ(FileSize(path), 78);
    EXPECT_EQ(PrintOf(path), Content("new", 16) + "\n" "cdefghijklmn\n" "ABCDEFGHIJKLMN\n");
}

// Records of random lengths on a clean log: every print shows the newest records, newest
// first, each once, and lets at most two records' worth of the area go unshown.
TEST(CommentLog, LapsShowTheNewestRecords)
{
    TempDir dir;
    const std::string path = dir / "log";
    const std::size_t area = 2000, longest = 300;
    WriteFile(path, Prepared(Header(18 + area, 18 + area), 18 + area));
    std::mt19937 random(7);
    std::vector<std::string> newest_first;
    for (int n = 0; n < 200; n++) {
        SCOPED_TRACE(n);
        const std::size_t length = 6 + random() % (longest - 5);
        newest_first.insert(newest_first.begin(), Content(Tag("#", n), length - 6));
        ASSERT_EQ(AppendTo(path, newest_first.front()), 0);
        const std::string shown = PrintOf(path);
        std::string expected;
        std::size_t count = 0, bytes = 0;
        while (count < newest_first.size() && expected.size() < shown.size()) {
            expected += newest_first[count] + "\n";
            bytes += newest_first[count].size() + 6;
            count++;
        }
        ASSERT_EQ(shown, expected);
        ASSERT_LE(bytes, area);
        if (count < newest_first.size()) {
            ASSERT_GT(bytes + 2 * longest, area);
        }
    }
    EXPECT_EQ(FileSize(path), static_cast<long long>(18 + area));
}

// A print gathers records in a small area and reads the log through a window of 64 KiB:
// records of every length around those sizes, and logs larger than the window, print whole
// and in order, in both laps.
TEST(CommentLog, RecordsAroundTheGatherAreaAndTheWindowPrintWhole)
{
    const std::size_t lengths[] = {6, 7, 63, 64, 65, 70, 4090, 4096, 4101, 4102, 9000, 65530};
    for (const std::size_t area : {std::size_t{70000}, std::size_t{200000}}) {
        SCOPED_TRACE(area);
        TempDir dir;
        const std::string path = dir / "log";
        WriteFile(path, Prepared(Header(18 + area, 18 + area), 18 + area));
        std::mt19937 random(area);
        std::vector<std::string> newest_first;
        std::size_t bytes = 0;
        for (int n = 0; bytes < 3 * area; n++) {
            const std::size_t length = n % 3 == 0 ? lengths[n / 3 % std::size(lengths)]
                                                  : 6 + random() % 200;
            newest_first.insert(newest_first.begin(), Content(Tag("#", n), length - 6));
            ASSERT_EQ(AppendTo(path, newest_first.front()), 0);
            bytes += length;
        }
        // The newest records as far as the print shows them, none cut short.
        const std::string shown = PrintOf(path);
        std::string expected;
        for (std::size_t i = 0; expected.size() < shown.size(); i++)
            expected += newest_first[i] + "\n";
        EXPECT_EQ(shown, expected);
        EXPECT_GT(shown.size(), 8192u);  // more than one gathering
    }
}

// Files of random bytes, with and without plausible headers: open, print and append keep to
// the file, end, and never change its size; a stored record is always the first one shown.
TEST(CommentLog, RandomFilesAreSurvived)
{
    const char alphabet[] = "0123456789abcdefF \t\n\n\n\x01\xff";
    std::mt19937 random(11);
    for (int round = 0; round < 300; round++) {
        SCOPED_TRACE(round);
        TempDir dir;
        const std::string path = dir / "log";
        const std::size_t size = random() % 1200;
        std::string bytes(size, '\0');
        for (char &b : bytes)
            b = round % 3 == 0 ? static_cast<char>(random()) : alphabet[random() % (sizeof alphabet - 1)];
        if (round % 2 == 0 && size >= 18)
            Place(&bytes, 0, Header(random() % (size + 20), random() % (size + 20)));
        WriteFile(path, bytes);
        for (int step = 0; step < 6; step++) {
            ASSERT_EQ(CommentLog_Open(path.c_str()), 0);
            const std::string shown = Print();
            EXPECT_LE(shown.size(), size);
            const std::string content = Content(Tag("r", step), random() % 200);
            const int stored = Append(content);
            EXPECT_EQ(stored, content.size() + 6 + 18 <= size ? 0 : -1);
            if (stored == 0) {
                EXPECT_EQ(Print().substr(0, content.size() + 1), content + "\n");
            }
            CommentLog_Close();
            ASSERT_EQ(FileSize(path), static_cast<long long>(size));
        }
    }
}

}  // namespace
