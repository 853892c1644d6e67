#include "log_size.h"

#include <algorithm>

#include "admin.h"
#include "template_check.h"
#include "template_source.h"

long long largest_default_record()
{
    long long largest = 0;
    for (const auto &source : default_templates()) {
        std::string bytes, why;
        TemplateKind kind;
        if (template_kind(source.name, &kind) && kind == TemplateKind::record &&
            template_to_board(source.source, &bytes, &why))
            largest = std::max(largest, largest_record(bytes).bytes);
    }
    return largest;
}

std::string log_size_warning(const std::string &dir, int digit, long long size)
{
    const std::string name = record_template_name(digit);
    std::string bytes;
    if (size <= COMMENT_HEADER_BYTES || !read_whole_file(board_path(dir, name), &bytes))
        return "";
    const LargestRecord largest = largest_record(bytes);
    if (largest.bytes < 0)
        return largest.variable.empty()
                   ? ""
                   : format("may not hold %lld records of %s, which names the environment "
                            "variable %s, whose length the request decides",
                            RECORDS_PER_LOG, name.c_str(), largest.variable.c_str());
    if (largest.bytes > COMMENT_RECORD_MAX)
        return format("gets no record from a post with a long name: %s can make records of %lld "
                      "bytes, over the %ld that a log takes",
                      name.c_str(), largest.bytes, COMMENT_RECORD_MAX);
    const long long held = records_shown(size, largest.bytes);
    if (held >= RECORDS_PER_LOG)
        return "";
    return format("shows %lld of the largest records (%lld bytes) that %s can make, so one post "
                  "can push out more than an eighth of it%s; a log of %lld bytes shows %lld",
                  held, largest.bytes, name.c_str(),
                  size - COMMENT_HEADER_BYTES < largest.bytes ? " or leave no record" : "",
                  smallest_log(largest.bytes), RECORDS_PER_LOG);
}
