// zt-admin export: the whole text as UTF-8, page by page or post by post.
#include "admin.h"

int export_command(const Arguments &arguments)
{
    const std::string path = board_path(arguments.dir(), TEXT_FILE);
    std::string text;
    if (!read_whole_file(path, &text)) {
        message("cannot read %s: %s", path.c_str(), strerror(errno));
        return EXIT_FAILED;
    }
    const std::string_view all = text;
    if (arguments.has("--numbers")) {
        for (std::size_t start = 0; start < all.size(); start += UNIT_BYTES)
            printf("%zu\t%s\n", start / UNIT_BYTES + 1,
                   sjis_to_utf8(all.substr(start, UNIT_BYTES)).c_str());
        return 0;
    }
    for (std::size_t start = 0; start < all.size(); start += TEXT_PAGE_BYTES) {
        if (start > 0)
            fputs("\n\n", stdout);
        fputs(sjis_to_utf8(all.substr(start, TEXT_PAGE_BYTES)).c_str(), stdout);
    }
    if (!all.empty())
        fputc('\n', stdout);
    return 0;
}
