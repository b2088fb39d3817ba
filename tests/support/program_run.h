// Runs the project's real programs from tests: with arguments, extra
// environment variables and a working directory, capturing standard output
// and standard error; either to completion or for a while and then ended
// with a signal. Also small file helpers for the music tests.
#ifndef SUPPORT_PROGRAM_RUN_H
#define SUPPORT_PROGRAM_RUN_H

#include <cstdint>
#include <string>
#include <vector>

#include "support/test_files.h"

struct ProcessResult {
    int exited;          // 1 when the program exited (then `status` is its code)
    int status;          // exit code, or the signal that ended it
    std::string out;     // everything written to standard output
    std::string err;     // everything written to standard error
};

// Runs `program` with `args`, the environment plus `env` ("NAME=value"
// entries) in `cwd` (null: the current one). With run_ms < 0 it waits for
// the program to end (killing it after 60 s); otherwise it lets the program
// run run_ms milliseconds, sends `stop_signal` and waits for its end.
ProcessResult run_program(const std::string &program, const std::vector<std::string> &args,
                          const std::vector<std::string> &env, const char *cwd, int run_ms,
                          int stop_signal);

// 1 when `path` exists.
int file_exists(const std::string &path);

// Number of lines of `text` that contain `needle`.
int count_lines_with(const std::string &text, const std::string &needle);

#endif
