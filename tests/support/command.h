// Test support for the operator's side: runs a command (zt-admin, a tool script) with
// arguments and captures its output and exit status, and converts text as zt-admin does. Unlike RunProgram, standard error is
// part of the result: these commands speak there.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "board.h"

namespace zt_test {

using CommandRun = Run;

// Runs argv[0] (a path, or a name looked up in PATH) with this process's environment plus
// the given variables (NAME=VALUE). A command that does not end in time is killed and fails
// the test.
// in_child runs in the child before exec.
CommandRun RunCommand(const std::vector<std::string> &argv, const std::string &input = {},
                      const std::vector<std::string> &environment = {}, int timeout_seconds = 60,
                      const std::function<void()> &in_child = {});

// zt-admin of this build, with its arguments.
CommandRun RunAdmin(const std::vector<std::string> &arguments,
                    const std::function<void()> &in_child = {});

// A file of the source tree (tools/lighttpd-conf and so on).
std::string SourcePath(const std::string &relative);

// Text in the board's code, from UTF-8, as zt-admin converts it.
std::string Sjis(const std::string &utf8);

}  // namespace zt_test
