// The callbacks of the record templates: the time of the post, and a colour for the
// poster's name (the same name always gets the same colour).
#pragma once

#include <array>
#include <ctime>
#include <string_view>

#include "template.h"

// Writes the local time as "yy/m/d h:mm:ss".
void print_post_time(Tolvak_TemplateStream *in, FILE *out);

// Writes t as print_post_time does.
void write_post_time(const std::tm &t, FILE *out);

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
