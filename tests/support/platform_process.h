// Test helpers that run the engine's real programs as child processes.
#ifndef TESTS_SUPPORT_PLATFORM_PROCESS_H
#define TESTS_SUPPORT_PLATFORM_PROCESS_H

#include <sys/types.h>

#include <string>
#include <vector>

struct ChildProcess {
    pid_t pid;
    int stderr_fd;       // read end of the child's standard error
    std::string stderr_text;  // everything read from it so far
};

// Starts `path` with `args` (not including argv[0]) in directory `cwd`
// (null: the current one), with `env` ("NAME=value"; "NAME=" alone unsets
// NAME) applied over this process's environment. Standard output goes to
// /dev/null, standard error is captured. 0 on success, -1 on failure.
int child_start(ChildProcess *child, const std::string &path, const std::vector<std::string> &args,
                const std::vector<std::string> &env, const char *cwd);

// Reads the child's standard error until `needle` has appeared `times`
// times in it or `timeout_ms` passed. True when it appeared.
bool child_wait_for(ChildProcess *child, const std::string &needle, int times, int timeout_ms);

// Waits up to `timeout_ms` for the child to end (killing it with SIGKILL
// after that) and returns its wait status, -1 on a timeout. Reads the rest
// of its standard error.
int child_wait_exit(ChildProcess *child, int timeout_ms);

// Runs a shell command and returns its exit status (-1 if it could not run).
int run_command(const std::string &command);

#endif
