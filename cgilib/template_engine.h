// The engine that both template variants share: the main loop, the directive reader and the
// stream readers of the callbacks. A variant is a small table of what differs: where a field's
// value comes from, how it is written, and whether '[' and '/' exist.
#pragma once

#include <cstdio>

#include "template.h"

struct TemplateVariant {
    const char *(*find)(const char *name);             // a field's value, or null when absent
    const char *(*environment)(const char *name);      // '[', or null where it does not exist
    void (*write_url)(const char *value, FILE *out);   // '%' and '|'
    void (*write_html)(const char *value, FILE *out);  // '{' and '['
    char value_end;  // a value that starts with this byte (or NUL) is empty
    bool sections;   // '/' (conditional sections) exists
};

void expand_template(const TemplateVariant &variant, FILE *in, FILE *out,
                     Tolvak_CallbackTable table, int terminator);
