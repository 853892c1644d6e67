// The engine that both template variants share: the main loop, the directive reader and the
// stream readers of the callbacks. A variant is a small table of what differs: where a field's
// value comes from, how it is written, and whether '[' and '/' exist.
//
// A variant may carry a listener, which the engine tells what it meets on its way through a
// template; the one grammar of the format is then also the one that checks a template. Under
// a listener every section body is expanded, whatever its field, so that the listener sees
// all of it. The programs' variants have none.
#pragma once

#include <cstdint>
#include <cstdio>

#include "template.h"

// The longest name that a directive holds.
inline constexpr int TOLVAK_NAME_BYTES = 19;

enum class Tolvak_TemplateEvent {
    text,          // [from, to) copied as text
    no_directive,  // 0x01 and the byte at from vanished (byte: that byte, or EOF at the end)
    name,          // a name [from, to); byte: what ended it (EOF at the end); value: the
                   // delimiter that should have
    incomplete,    // a part of a directive did not come at from; value: which (Tolvak_TemplatePart)
    callback,      // a callback directive, [from, to) its bytes; value: its number; byte: ')'
                   // when it was closed, else EOF
    section,       // a section body [from, to) with character byte; value 1 when byte ended it
};

// The parts of a directive whose absence `incomplete` tells.
enum Tolvak_TemplatePart : int {
    TOLVAK_PART_NUMBER,     // a callback's number
    TOLVAK_PART_FLAG,       // a section's flag, or the '/' after it
    TOLVAK_PART_CHARACTER,  // a section's character
    TOLVAK_PART_SECTION,    // the '/' after a section's character (tolerated)
};

struct Tolvak_TemplateNote {
    Tolvak_TemplateEvent event;
    const char *from;
    const char *to;
    int byte;
    std::int64_t value;
    int depth;  // sections around the place, 0 at the top
};

using Tolvak_TemplateListener = void (*)(const Tolvak_TemplateNote &note);

struct Tolvak_TemplateVariant {
    const char *(*find)(const char *name);             // a field's value, or null when absent
    const char *(*environment)(const char *name);      // '[', or null where it does not exist
    void (*write_url)(const char *value, FILE *out);   // '%' and '|'
    void (*write_html)(const char *value, FILE *out);  // '{' and '['
    char value_end;  // a value that starts with this byte (or NUL) is empty
    bool sections;   // '/' (conditional sections) exists
    Tolvak_TemplateListener listen = nullptr;
};

void Tolvak_ExpandWith(const Tolvak_TemplateVariant &variant, Tolvak_TemplateStream *in, FILE *out,
                     Tolvak_CallbackTable table, int terminator);
