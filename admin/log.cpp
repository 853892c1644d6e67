// zt-admin log: a comment log's records as UTF-8, newest first, as the board page lists them.
#include "admin.h"

int log_command(const Arguments &arguments)
{
    const long long digit = plain_number(arguments.operands[1]);
    if (digit < 1 || digit > COMMENT_LOGS)
        return usage_error(arguments.operands[1] + ": the board's logs are 1 to " +
                           std::to_string(COMMENT_LOGS));
    const std::string path =
        board_path(arguments.dir(), comment_log_name(static_cast<int>(digit)));
    std::vector<std::string> records;
    CommentLog_State log;
    errno = 0;
    if (!list_comment_log(path, &records, &log)) {
        message("cannot read %s: %s", path.c_str(), errno ? strerror(errno) : "not a log");
        return EXIT_FAILED;
    }
    if (log.header == COMMENT_HEADER_UNREADABLE || log.header == COMMENT_HEADER_OUT_OF_RANGE)
        message("warning: %s: the header %s; the programs replace it with a fresh one, and "
                "list the log as below until a new lap begins",
                path.c_str(),
                log.header == COMMENT_HEADER_UNREADABLE ? "cannot be read" : "is out of range");
    for (const auto &record : records)
        printf("%s\n", sjis_to_utf8(record).c_str());
    return 0;
}
