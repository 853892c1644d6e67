// zt-admin theme: puts the theme in place, or removes it. The board page shows the theme
// file's first THEME_BYTES bytes as they are, so a longer theme is cut to the whole characters
// among them: the page never shows half a double-byte character.
#include "admin.h"
#include "kanji.h"

int theme_command(const Arguments &arguments)
{
    const bool clear = arguments.has("--clear");
    if (arguments.operands.size() != (clear ? 1 : 2))
        return usage_error(clear ? "theme --clear takes one directory"
                                 : "theme takes a directory and one text");
    const std::string path = board_path(arguments.dir(), THEME_FILE);
    if (clear) {
        if (unlink(path.c_str()) == 0) {
            printf("removed the theme: the board shows its default theme\n");
        } else if (errno == ENOENT) {
            printf("no theme was set: the board shows its default theme\n");
        } else {
            message("cannot remove %s: %s", path.c_str(), strerror(errno));
            return EXIT_FAILED;
        }
        return 0;
    }
    std::string sjis, problem;
    if (!utf8_to_sjis(arguments.operands[1], &sjis, &problem)) {
        message("the theme cannot be used: %s", problem.c_str());
        return EXIT_FAILED;
    }
    const std::size_t given = sjis.size();
    sjis.resize(Tolvak_SjisWhole(sjis.data(), sjis.size(), THEME_BYTES));
    if (!replace_file(path, sjis, &problem)) {
        message("%s", problem.c_str());
        return EXIT_FAILED;
    }
    printf("the theme is in place (%zu bytes)\n", sjis.size());
    if (sjis.empty())
        message("warning: an empty theme shows nothing; theme --clear brings back the default");
    if (given > sjis.size())
        message("warning: the theme has %zu bytes and the board shows %d at most: it is cut to "
                "\"%s\"",
                given, THEME_BYTES, sjis_to_utf8(sjis).c_str());
    return 0;
}
