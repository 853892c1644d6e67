// The full template variant: fields from the decoded field index, written through the URL
// and HTML encoders; '[' and '/' exist.
#include <cstdlib>

#include "form.h"
#include "encode.h"
#include "template_engine.h"

static const char *environment(const char *name)
{
    return getenv(name);
}

static constexpr Tolvak_TemplateVariant full_variant = {
    Tolvak_Find, environment, Tolvak_UrlEncode, Tolvak_HtmlEscape, '\0', true,
};

void Tolvak_ExpandTemplate(Tolvak_TemplateStream *in, FILE *out, Tolvak_CallbackTable table,
                           int terminator)
{
    Tolvak_ExpandWith(full_variant, in, out, table, terminator);
}
