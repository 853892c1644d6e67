#include "form.h"
#include "records.h"

void write_post_time(const std::tm &t, FILE *out)
{
    fprintf(out, "%02d/%d/%d %d:%02d:%02d", t.tm_year % 100, t.tm_mon + 1, t.tm_mday, t.tm_hour,
            t.tm_min, t.tm_sec);
}

void print_post_time(Tolvak_TemplateStream *, FILE *out)
{
    const std::time_t now = std::time(nullptr);
    std::tm t;
    if (localtime_r(&now, &t))
        write_post_time(t, out);
}

void print_poster_colour(Tolvak_TemplateStream *, FILE *out)
{
    const char *name = Tolvak_Find("namae");
    if (!name) {
        fputs_unlocked("black", out);
        return;
    }
    unsigned char x = 0;
    for (; *name; name++)
        x ^= static_cast<unsigned char>(*name);
    fputs_unlocked(poster_colours[(x >> 1) & 31], out);
}
