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
// /dev/null, standard error is captured. The four stop signals start at
// their default disposition, whatever this process has, except those in
// `ignored`, which start ignored (as nohup, a shell's background job or a
// service manager leave them). Returns once the program has replaced the
// child (exec done): 0 on success, -1 on failure.
int child_start(ChildProcess *child, const std::string &path, const std::vector<std::string> &args,
                const std::vector<std::string> &env, const char *cwd, const std::vector<int> &ignored = {});

// In a child about to exec a program: SIGINT, SIGQUIT, SIGHUP and SIGTERM
// back to their default disposition, so that a test runner started under
// nohup or in the background passes none of them on as ignored.
void stop_signals_to_default(void);

// Whether the child ignores `signal_number` now (SigIgn in /proc).
bool child_ignores(const ChildProcess *child, int signal_number);

// Whether the child has ended (without collecting its status).
bool child_ended(const ChildProcess *child);

// Reads the child's standard error until `needle` has appeared `times`
// times in it or `timeout_ms` passed. True when it appeared.
bool child_wait_for(ChildProcess *child, const std::string &needle, int times, int timeout_ms);

// Waits up to `timeout_ms` for the child to end (killing it with SIGKILL
// after that) and returns its wait status, -1 on a timeout. Reads the rest
// of its standard error.
int child_wait_exit(ChildProcess *child, int timeout_ms);

// Waits until the child has a handler for at least one of SIGINT, SIGQUIT,
// SIGHUP and SIGTERM (read from /proc), polling without pause: the first
// moment a stop signal can be anything but fatal. True when it does within
// `timeout_ms`.
bool child_wait_catching_stop_signals(ChildProcess *child, int timeout_ms);

// Starts `path` again and again and sends each of SIGINT, SIGQUIT, SIGHUP
// and SIGTERM at several moments of its start-up (as soon as it handles a
// stop signal, then 2, 10, 50 and 200 ms later). Each run must end with
// status 0 within `exit_timeout_ms`. Returns one line per run that did
// not, "" when every one did.
std::string stop_signals_during_startup(const std::string &path, const std::vector<std::string> &args,
                                        const std::vector<std::string> &env, const char *cwd,
                                        int exit_timeout_ms);

// Starts `path` with each signal of `ignored` ignored, as nohup or a
// shell's background job starts a program. Once it has presented five
// frames ("FPS: " on standard error) it is sent each of them; it must
// still ignore them and present 30 frames more, and SIGTERM must then end
// it with status 0 within `exit_timeout_ms`. Returns one line per thing
// that went otherwise, "" when none did.
std::string ignored_stop_signals_outlived(const std::string &path, const std::vector<std::string> &args,
                                          const std::vector<std::string> &env, const char *cwd,
                                          const std::vector<int> &ignored, int exit_timeout_ms);

// Runs a shell command and returns its exit status (-1 if it could not run).
int run_command(const std::string &command);

#endif
