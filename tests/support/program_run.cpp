// Starting real programs for the music tests and collecting what they
// print; a few file helpers beside.
#include "support/program_run.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "support/platform_process.h"

extern char **environ;

constexpr int HARD_LIMIT_MS = 60000;

static long now_ms(void) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000L + ts.tv_nsec / 1000000L;
}

// Moves whatever is ready on `fd` into `text`; returns 0 at end of file.
static int drain(int fd, std::string *text) {
    char chunk[4096];
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n > 0) text->append(chunk, static_cast<size_t>(n));
    return n != 0;
}

ProcessResult run_program(const std::string &program, const std::vector<std::string> &args,
                          const std::vector<std::string> &env, const char *cwd, int run_ms,
                          int stop_signal) {
    ProcessResult result = {0, -1, "", ""};
    int out_pipe[2], err_pipe[2];
    if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0) return result;
    // Build argv and the environment before forking.
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(program.c_str()));
    for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    // The extra variables replace inherited ones of the same name (getenv
    // would find whichever comes first).
    std::vector<std::string> env_strings;
    for (char **e = environ; *e; e++) {
        const std::string entry(*e);
        const std::string name = entry.substr(0, entry.find('=') + 1);
        int replaced = 0;
        for (const std::string &x : env) replaced |= x.compare(0, name.size(), name) == 0;
        if (!replaced) env_strings.push_back(entry);
    }
    for (const std::string &e : env) env_strings.push_back(e);
    std::vector<char *> envp;
    for (std::string &e : env_strings) envp.push_back(const_cast<char *>(e.c_str()));
    envp.push_back(nullptr);

    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out_pipe[1], 1);
        dup2(err_pipe[1], 2);
        close(out_pipe[0]);
        close(err_pipe[0]);
        close(out_pipe[1]);
        close(err_pipe[1]);
        stop_signals_to_default();
        if (cwd && chdir(cwd) != 0) _exit(126);
        execve(program.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    close(out_pipe[1]);
    close(err_pipe[1]);
    if (pid < 0) {
        close(out_pipe[0]);
        close(err_pipe[0]);
        return result;
    }
    const long start = now_ms();
    int signalled = 0, out_open = 1, err_open = 1;
    while (out_open || err_open) {
        const long elapsed = now_ms() - start;
        if (!signalled && run_ms >= 0 && elapsed >= run_ms) {
            kill(pid, stop_signal);
            signalled = 1;
        }
        if (elapsed >= HARD_LIMIT_MS + (run_ms > 0 ? run_ms : 0)) {
            kill(pid, SIGKILL);
            break;
        }
        struct pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
        fds[0].fd = out_open ? out_pipe[0] : -1;
        fds[1].fd = err_open ? err_pipe[0] : -1;
        if (poll(fds, 2, 20) <= 0) continue;
        const short ready = POLLIN | POLLHUP;
        if (out_open && (fds[0].revents & ready)) out_open = drain(out_pipe[0], &result.out);
        if (err_open && (fds[1].revents & ready)) err_open = drain(err_pipe[0], &result.err);
    }
    close(out_pipe[0]);
    close(err_pipe[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status)) {
        result.exited = 1;
        result.status = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.status = WTERMSIG(status);
    }
    return result;
}

int file_exists(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

int count_lines_with(const std::string &text, const std::string &needle) {
    // Lines end with '\n' or, like the frame-rate line, with '\r'.
    int count = 0;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) end = text.size();
        if (text.substr(start, end - start).find(needle) != std::string::npos) count++;
        start = end + 1;
    }
    return count;
}
