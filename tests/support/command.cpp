#include "command.h"

#include <gtest/gtest.h>

#include "board.h"
#include "sjis.h"

#ifndef ZT_SOURCE_DIR
#error "ZT_SOURCE_DIR must name the source tree"
#endif

extern char **environ;

namespace zt_test {

CommandRun RunCommand(const std::vector<std::string> &argv, const std::string &input,
                      const std::vector<std::string> &environment, int timeout_seconds,
                      const std::function<void()> &in_child)
{
    std::vector<std::string> strings = environment;
    for (char **e = environ; *e; e++)
        strings.emplace_back(*e);
    RunOptions options({}, {}, input);
    options.timeout_seconds = timeout_seconds;
    options.in_child = in_child;
    return RunArgv(argv, strings, options);
}

CommandRun RunAdmin(const std::vector<std::string> &arguments,
                    const std::function<void()> &in_child)
{
    std::vector<std::string> argv = {ProgramPath("zt-admin")};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return RunCommand(argv, {}, {}, 60, in_child);
}

std::string SourcePath(const std::string &relative)
{
    return std::string(ZT_SOURCE_DIR) + "/" + relative;
}

std::string Sjis(const std::string &utf8)
{
    std::string sjis, problem;
    if (!utf8_to_sjis(utf8, &sjis, &problem))
        ADD_FAILURE() << problem;
    return sjis;
}

}  // namespace zt_test
