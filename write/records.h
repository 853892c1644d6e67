// The callbacks of the record templates: the time of the post, and a colour for the
// poster's name (the same name always gets the same colour).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <limits>
#include <string_view>

#include "template.h"

// Writes the local time as "yy/m/d h:mm:ss".
void print_post_time(Tolvak_TemplateStream *in, FILE *out);

// Writes t as print_post_time does.
void write_post_time(const std::tm &t, FILE *out);

// The length of the time that write_post_time writes at the start of s, or 0 when s does not
// begin with one: a reader of a record finds where its time ends. Each field takes its digits
// up to the byte that must follow it, so a time reads in one way only.
constexpr std::size_t post_time_length(std::string_view s)
{
    // yy / m / d SP h : mm : ss: the fewest and the most digits of each field, the byte after it.
    constexpr struct {
        int fewest, most;
        char after;
    } fields[] = {{2, 2, '/'}, {1, 2, '/'}, {1, 2, ' '}, {1, 2, ':'}, {2, 2, ':'}, {2, 2, 0}};
    std::size_t at = 0;
    for (const auto &field : fields) {
        int digits = 0;
        for (; digits < field.most && at < s.size() && s[at] >= '0' && s[at] <= '9'; at++)
            digits++;
        if (digits < field.fewest)
            return 0;
        if (field.after && (at == s.size() || s[at++] != field.after))
            return 0;
    }
    return at;
}

// Writes one of poster_colours chosen by the name's bytes, or "black" without a name.
void print_poster_colour(Tolvak_TemplateStream *in, FILE *out);

inline constexpr std::array<const char *, 32> poster_colours = {
    "#FF9966", "#FF66CC", "#FF3300", "#FF00FF", "#FF0099", "#CC99CC", "#CC9900", "#CC6699",
    "#CC00FF", "#CC0099", "#CC0000", "#99CC00", "#9999FF", "#9900CC", "#990066", "#990000",
    "#66CC99", "#66CC00", "#6600CC", "#660000", "#339999", "#3333CC", "#00CCFF", "#00CCCC",
    "#00CC66", "#0099CC", "#009966", "#006699", "#0000FF", "#0000CC", "olive",   "gray",
};

// 0: print_post_time, 1: print_poster_colour.
inline constexpr std::array<Tolvak_PageCallback, 2> comment_callbacks = {
    print_post_time,
    print_poster_colour,
};

// The widest text each writes, by which zt-admin bounds the records that a record template
// can make: the time "yy/m/d h:mm:ss" is at most 2+1+2+1+2+1+2+1+2+1+2 bytes; the colour is
// the longest name of the table, or "black".
inline constexpr std::array<Tolvak_CallbackContract, comment_callbacks.size()> comment_contract =
    {{
        {.widest = 17},
        {.widest = [] {
             std::size_t widest = std::string_view("black").size();
             for (const std::string_view colour : poster_colours)
                 widest = colour.size() > widest ? colour.size() : widest;
             return static_cast<int>(widest);
         }()},
    }};

// While a post's records are expanded, the field prev holds the post's offset in the text (the
// size of the text before it) in plain decimal digits, whatever the form spelt: a record
// template marks each record with the post it records so, and no visitor can make a record
// name another post. At most the digits of the largest 64-bit size.
inline constexpr const char *RECORD_OFFSET_FIELD = "prev";
inline constexpr int RECORD_OFFSET_DIGITS = std::numeric_limits<std::int64_t>::digits10 + 1;
