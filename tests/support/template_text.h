// Test support: a template held in memory as the programs hold a template file, its text
// rules applied (CR bytes dropped, the end at the first 0x1A), with its stream.
#pragma once

#include <string>
#include <utility>

#include "template.h"

namespace zt_test {

struct TemplateText {
    std::string text;
    Tolvak_TemplateStream stream;

    explicit TemplateText(std::string page) : text(std::move(page))
    {
        text.resize(Tolvak_TemplateText(text.data(), text.size()));
        stream.next = text.data();
        stream.end = text.data() + text.size();
    }

    // What the stream has not read yet.
    std::string rest() const { return {stream.next, stream.end}; }
};

}  // namespace zt_test
