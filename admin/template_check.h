// Checks that a template has the structure its program needs. The template engine never
// reports a fault: a directive it cannot read is dropped, a callback number outside the table
// calls nothing, and a write template whose error lines are miscounted shows the wrong
// message. These checks find such faults before a board is served: in the default templates
// (by the tests) and in the templates an operator has edited (by zt-admin status).
//
// The same reading bounds the records that a record template can make, by which zt-admin
// sizes the comment logs.
//
// The template is read by the template engine itself, with a listener that the engine tells
// what it meets and with callbacks that read their arguments through the contracts that the
// programs state beside their callback tables (page.h, view.h, read.h, records.h), which the
// programs' own callbacks read them through; so the check knows the format and each
// program's callbacks exactly as the programs do, and no count, range or width twice.
//
// What a template may hold: callbacks of its program's table only, each followed by what its
// contract says it reads (a byte in its range, a number, a section closed by 0x02, or, for
// the write page's callback 0, once and outside sections, the rest of its line, an error line
// for each result code and the 0x02; those lines hold no callback and every directive in them
// ends on its line). A record is the first line of its template, with no line end inside a
// conditional section. Every template: only known directives, names that are closed and not
// too long, section characters below 0x40 (no Shift_JIS trail byte can end a section early),
// no byte 0x02 where no callback reads it, and no byte CR, 0x1A or 0xFF, which end or vanish
// from a template as the programs read it. '[' and '/' exist only where zt-write expands.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "template.h"

enum class TemplateKind { write_page, view_page, read_page, record };

// How its program reads a kind of template: its callbacks' contract as the program states it,
// the engine's variant (full: zt-write's) and whether it expands the first line only.
struct TemplateUse {
    std::span<const Tolvak_CallbackContract> contract;
    bool full;
    bool one_line;
};
TemplateUse template_use(TemplateKind kind);

// What a board without its template of this kind does, after ": ".
inline const char *without_template(TemplateKind kind)
{
    return kind == TemplateKind::record ? "its log gets no records" : "its page shows an error";
}

// The kind of the board template with this file name (zt-write.htm, zt-com3.htm, ...);
// false for a name that is none of the board's eleven templates.
bool template_kind(std::string_view name, TemplateKind *kind);

// What a reading of a template found. Offsets count in the template as the programs read it
// (after its CR bytes are dropped and before its first 0x1A).
struct TemplateReading {
    std::vector<std::string> problems;  // each beginning "line N: "
    // The callback directives on the page's way (not those of error lines), in order: each
    // one's number and the offset right after it, where its callback reads on.
    std::vector<std::pair<long long, std::size_t>> callbacks;
    std::vector<std::size_t> printed_controls;  // the 0x02 bytes that go out as text
};

// Reads the template bytes; its problems are empty when it is sound.
TemplateReading read_template(TemplateKind kind, std::string_view bytes);

// The largest record that the record template bytes can add to its log, its 6 bytes of
// framing included: the first line expanded by the engine as zt-write expands it, every
// section shown, with the widest values of a post that adds records: four a unit, every other
// field as long as the form limit lets it be, all of it bytes that grow most when escaped
// ('&': five bytes as HTML, three in a URL), REMOTE_ADDR the longest address and the
// callbacks at their widest. bytes is -1 when the template names another environment
// variable (named in variable), whose length the request decides, or there is no memory.
struct LargestRecord {
    long long bytes;
    std::string variable;
};
LargestRecord largest_record(std::string_view bytes);
