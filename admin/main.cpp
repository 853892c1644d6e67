// zt-admin's table of commands and the preamble they share.
#include <signal.h>

#include <algorithm>
#include <cstdint>

#include "admin.h"
#include "log_size.h"

namespace {

const Command commands[] = {
    {"init",
     "  init DIR [--log-bytes N]  prepare a new board in DIR (comment logs of N bytes, default " +
         std::to_string(DEFAULT_LOG_BYTES) + ")\n",
     {{"--log-bytes", "a number of bytes"}}, "one directory", 1, 1, false, init_command},
    {"theme",
     "  theme DIR TEXT            put the theme in place (UTF-8, stored as Shift_JIS)\n"
     "  theme DIR --clear         remove the theme: the board shows its default theme\n",
     {{"--clear", nullptr}}, "a directory and one text", 1, 2, true, theme_command},
    {"status",
     "  status DIR                show the text, theme, last poster, lock, logs and templates\n",
     {}, "one directory", 1, 1, true, status_command},
    {"unlock",
     "  unlock DIR [--force]      remove a lock that no running program holds (one that zt did\n"
     "                            not take: when older than a minute, or with --force)\n",
     {{"--force", nullptr}}, "one directory", 1, 1, true, unlock_command},
    {"rate",
     "  rate DIR [N] [--board M]  show the rate of posts, or set it: N posts a minute from one\n"
     "                            address (0: none), M on the whole board (0: no ceiling)\n",
     {{"--board", "a number of posts"}}, "a directory and a number of posts", 1, 2, true,
     rate_command},
    {"export",
     "  export DIR [--numbers]    print the whole text as UTF-8, one text page per paragraph\n"
     "                            (--numbers: one post a line, after its number)\n",
     {{"--numbers", nullptr}}, "one directory", 1, 1, true, export_command},
    {"redact",
     "  redact DIR N|N-M...       replace posts N... (from 1, as export --numbers shows) with\n"
     "                            four full-width spaces, and blank their records in the logs\n",
     {}, "a directory and the numbers of the posts to blank", 2, SIZE_MAX, true, redact_command},
    {"resize",
     "  resize DIR --log-bytes N  give every comment log N bytes, keeping its newest records\n",
     {{"--log-bytes", "a number of bytes"}}, "one directory", 1, 1, true, resize_command},
    {"rollback",
     "  rollback DIR N            take the text back to before post N: N and every later post\n"
     "                            are removed, their records in the logs blanked\n",
     {}, "a directory and the number of the first post to remove", 2, 2, true, rollback_command},
    {"log",
     "  log DIR D                 print comment log D (1 to " + std::to_string(COMMENT_LOGS) +
         ") as UTF-8, newest first\n",
     {}, "a directory and a log digit", 2, 2, true, log_command},
    {"check", "  check DIR                 verify the board's files after a crash or a full disk\n",
     {}, "one directory", 1, 1, false, check_command},
};

void print_usage(FILE *out)
{
    fputs("usage: zt-admin COMMAND DIR ...\n", out);
    for (const Command &command : commands)
        fputs(command.usage.c_str(), out);
}

// Splits the command line after the command into options and operands. 0, or EXIT_USAGE with
// the message given for an option the command does not know or one without its value.
int parse(const Command &command, int argc, char **argv, Arguments *arguments)
{
    bool options = true;
    for (int i = 2; i < argc; i++) {
        const std::string_view arg = argv[i];
        if (!options || arg.size() < 2 || !arg.starts_with("--")) {
            arguments->operands.emplace_back(arg);
            continue;
        }
        if (arg == "--") {
            options = false;
            continue;
        }
        const std::string_view name = arg.substr(0, arg.find('='));
        const auto option =
            std::find_if(command.options.begin(), command.options.end(), [&](const Option &o) {
                return name == o.name && (o.needs || name == arg);
            });
        if (option == command.options.end())
            return usage_error(std::string(arg) + ": not an option of " + command.name);
        if (option->needs && name == arg && i + 1 == argc)
            return usage_error(std::string(name) + " needs " + option->needs);
        arguments->options[std::string(name)] = name != arg       ? arg.substr(name.size() + 1)
                                                : option->needs ? argv[++i]
                                                                : "";
    }
    return 0;
}

// True when dir holds a board; otherwise says so.
bool is_board(const std::string &dir)
{
    struct stat st;
    if (stat(board_path(dir, TEMPLATE_DIR).c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        return true;
    if (stat(dir.c_str(), &st) != 0)
        message("%s: no such directory", dir.c_str());
    else
        message("%s holds no board (there is no %s/zt/); prepare one with: zt-admin init %s",
                dir.c_str(), dir.c_str(), dir.c_str());
    return false;
}

// The command's status, unless what it printed could not all be written: a full disk or a
// closed pipe fails the run, which would otherwise look done.
int finish(int status)
{
    if (fflush(stdout) == 0 && !ferror(stdout))
        return status;
    message("cannot write the output: %s", strerror(errno));
    return status == 0 ? EXIT_FAILED : status;
}

int run(int argc, char **argv)
{
    if (argc < 2)
        return usage_error("no command");
    const std::string_view name = argv[1];
    if (name == "-h" || name == "--help" || name == "help") {
        print_usage(stdout);
        return 0;
    }
    for (const Command &command : commands) {
        if (name != command.name)
            continue;
        Arguments arguments;
        if (const int wrong = parse(command, argc, argv, &arguments))
            return wrong;
        const std::size_t n = arguments.operands.size();
        if (n < command.least || n > command.most)
            return usage_error(std::string(name) + " takes " + command.operands);
        if (command.needs_board && !is_board(arguments.dir()))
            return EXIT_FAILED;
        if (command.run != init_command && !become_board_owner(arguments.dir()))
            return EXIT_FAILED;
        return command.run(arguments);
    }
    return usage_error(std::string(name) + ": no such command");
}

}  // namespace

int main(int argc, char **argv)
{
    // A reader that went away fails the write, which finish then reports, rather than ending
    // the run unheard.
    (void)signal(SIGPIPE, SIG_IGN);
    return finish(run(argc, argv));
}

int usage_error(const std::string &text)
{
    fprintf(stderr, "zt-admin: %s\n", text.c_str());
    print_usage(stderr);
    return EXIT_USAGE;
}
