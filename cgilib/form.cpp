// The full form of the intake: read, split, decode, convert, index.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "error.h"
#include "form.h"
#include "kanji.h"
#include "number.h"

char *Tolvak_Data;
std::uint16_t Tolvak_DataCount;
char **Tolvak_DataIndex;
char **Tolvak_Cursor;

// Ends the string that began at start and whose decoded text ends before w: line ends at its
// end are taken back, and every byte from there up to and including last becomes NUL.
static void end_string(std::size_t start, std::size_t w, std::size_t last)
{
    char *data = Tolvak_Data;
    while (w > start && (data[w - 1] == '\r' || data[w - 1] == '\n'))
        w--;
    memset(data + w, 0, last - w + 1);
}

// Parses the raw data in Tolvak_Data, which ends at its first NUL (at the latest at length),
// in place, then converts it to Shift_JIS.
static void parse(std::size_t length)
{
    char *data = Tolvak_Data;
    length = strnlen(data, length);

    // Count the separators: '=' and '&' alternate, and the one not expected is plain text.
    std::size_t separators = 0;
    char expected = '=';
    for (std::size_t r = 0; r < length; r++) {
        if (data[r] == expected) {
            separators++;
            expected = expected == '=' ? '&' : '=';
        }
    }
    const std::size_t entries = separators + 1;
    Tolvak_DataCount = static_cast<std::uint16_t>(entries & ~std::size_t{1});
    const std::size_t capacity = Tolvak_DataCount + 3;
    Tolvak_DataIndex = static_cast<char **>(calloc(capacity, sizeof(char *)));
    if (!Tolvak_DataIndex)
        Tolvak_Error("Can't allocate enough memory. (Tolvak_DataIndex)");

    // Decode in place. The write position w never passes the read position r.
    std::size_t entry = 0;
    std::size_t start = 0;
    std::size_t w = 0;
    Tolvak_DataIndex[entry++] = data;
    expected = '=';
    for (std::size_t r = 0; r < length; r++) {
        const unsigned char c = data[r];
        if (c == static_cast<unsigned char>(expected)) {
            expected = expected == '=' ? '&' : '=';
            end_string(start, w, r);
            start = w = r + 1;
            if (entry < capacity - 2)
                Tolvak_DataIndex[entry++] = data + start;
            continue;
        }
        int byte;
        if (c == '+') {
            byte = ' ';
        } else if (c == '%') {
            const int high = Tolvak_HexValue(data[r + 1]);
            const int low = high < 0 ? -1 : Tolvak_HexValue(data[r + 2]);
            if (low < 0)
                continue;  // a lone '%' writes nothing; what follows is plain data
            byte = high << 4 | low;
            r += 2;
        } else if (c >= 0x80) {
            continue;  // raw 8-bit bytes come from no well-formed form
        } else {
            byte = c;
        }
        data[w++] = static_cast<char>(byte);
        // Line ends: CR LF becomes LF, any other CR becomes LF.
        if (w - start >= 2 && data[w - 2] == '\r') {
            data[w - 2] = '\n';
            if (data[w - 1] == '\n')
                w--;
        }
    }
    end_string(start, w, length);
    data[length + 1] = '\r';

    Tolvak_ToSjis();
}

void Tolvak_ReadPost(std::size_t limit)
{
    limit = limit < TOLVAK_MOST_FORM_BYTES ? limit : TOLVAK_MOST_FORM_BYTES;
    const char *declared = getenv("CONTENT_LENGTH");
    if (!declared)
        Tolvak_Error("environmental value CONTENT_LENGTH is not defined.");
    const std::int64_t n = Tolvak_Decimal(declared);
    if (n < 0)
        Tolvak_Error("CONTENT_LENGTH is negative.");
    if (static_cast<std::uint64_t>(n) > limit)
        Tolvak_Error("The form is too large: CONTENT_LENGTH is over %zu bytes.", limit);
    const std::size_t length = static_cast<std::size_t>(n);
    Tolvak_Data = static_cast<char *>(malloc(length + 3));
    if (!Tolvak_Data)
        Tolvak_Error("Can't allocate enough memory (POST).");

    // A pipe delivers the body in pieces, and a client may send less than it announced.
    std::size_t got = 0;
    while (got < length) {
        const ssize_t k = read(STDIN_FILENO, Tolvak_Data + got, length - got);
        if (k > 0)
            got += static_cast<std::size_t>(k);
        else if (k < 0 && errno == EINTR)
            continue;
        else
            break;
    }
    Tolvak_Data[got] = '\0';
    parse(got);
}

void Tolvak_ReadGet(std::size_t limit)
{
    limit = limit < TOLVAK_MOST_FORM_BYTES ? limit : TOLVAK_MOST_FORM_BYTES;
    const char *query = getenv("QUERY_STRING");
    if (!query)
        query = "";
    const std::size_t length = strlen(query);
    if (length > limit)
        Tolvak_Error("The form is too large: QUERY_STRING is over %zu bytes.", limit);
    Tolvak_Data = static_cast<char *>(malloc(length + 3));
    if (!Tolvak_Data)
        Tolvak_Error("Can't allocate enough memory (GET).");
    memcpy(Tolvak_Data, query, length + 1);
    parse(length);
}

// Searches on from the cursor's pair for a name; the cursor rests on the match or the end.
static const char *find_from_cursor(const char *name)
{
    for (; *Tolvak_Cursor; Tolvak_Cursor += 2) {
        if (strcmp(*Tolvak_Cursor, name) == 0)
            return Tolvak_Cursor[1];
    }
    return nullptr;
}

const char *Tolvak_Find(const char *name)
{
    Tolvak_Cursor = Tolvak_DataIndex;
    if (!Tolvak_Cursor)
        return nullptr;
    return find_from_cursor(name);
}

const char *Tolvak_FindNext()
{
    if (!Tolvak_Cursor || !*Tolvak_Cursor)
        return nullptr;
    const char *name = *Tolvak_Cursor;
    Tolvak_Cursor += 2;
    return find_from_cursor(name);
}

void Tolvak_CutValue(const char *name, std::size_t n)
{
    if (!Tolvak_Find(name))
        return;
    char *value = Tolvak_Cursor[1];  // the cursor rests on the field found
    const std::size_t length = strlen(value);
    if (length > n)
        memset(value + n, 0, length - n);
}

bool Tolvak_SetValue(const char *name, const char *value)
{
    if (!Tolvak_Find(name))
        return false;
    Tolvak_Cursor[1] = const_cast<char *>(value);  // after the intake, nothing writes through it
    return true;
}

void Tolvak_Free()
{
    free(Tolvak_Data);
    free(Tolvak_DataIndex);
    Tolvak_Data = nullptr;
    Tolvak_DataIndex = nullptr;
    Tolvak_Cursor = nullptr;
    Tolvak_DataCount = 0;
}
