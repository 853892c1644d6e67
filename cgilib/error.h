// The error page: the one way to end a run that cannot go on. It carries its own header line,
// so it is a whole response also where a caller has already written a header.
#pragma once

// Writes the error page with the formatted message to standard output and ends the process
// with status 1.
[[noreturn]] void Tolvak_Error(const char *format, ...) __attribute__((format(printf, 1, 2)));
