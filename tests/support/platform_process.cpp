// Child processes for end-to-end tests: start, read standard error, wait.
#include "support/platform_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>

static long now_ms(void) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int child_start(ChildProcess *child, const std::string &path, const std::vector<std::string> &args,
                const std::vector<std::string> &env, const char *cwd) {
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0) return -1;
    pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        dup2(pipe_fds[1], 2);
        int null_fd = open("/dev/null", O_RDWR);
        dup2(null_fd, 1);
        dup2(null_fd, 0);
        close(pipe_fds[0]);
        close(pipe_fds[1]);
        for (const std::string &e : env) {
            size_t eq = e.find('=');
            std::string name = e.substr(0, eq);
            std::string value = e.substr(eq + 1);
            if (value.empty()) unsetenv(name.c_str());
            else setenv(name.c_str(), value.c_str(), 1);
        }
        if (cwd && chdir(cwd) != 0) _exit(126);
        std::vector<char *> argv;
        argv.push_back(const_cast<char *>(path.c_str()));
        for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execv(path.c_str(), argv.data());
        _exit(127);
    }
    close(pipe_fds[1]);
    fcntl(pipe_fds[0], F_SETFL, O_NONBLOCK);
    child->pid = pid;
    child->stderr_fd = pipe_fds[0];
    child->stderr_text.clear();
    return 0;
}

static size_t count_of(const std::string &text, const std::string &needle) {
    size_t n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + needle.size())) n++;
    return n;
}

// Reads what is available within `wait_ms`; false at end of file.
static bool read_some(ChildProcess *child, int wait_ms) {
    pollfd p = {child->stderr_fd, POLLIN, 0};
    if (poll(&p, 1, wait_ms) <= 0) return true;
    char buffer[4096];
    ssize_t n = read(child->stderr_fd, buffer, sizeof buffer);
    if (n > 0) child->stderr_text.append(buffer, static_cast<size_t>(n));
    return n != 0;
}

bool child_wait_for(ChildProcess *child, const std::string &needle, int times, int timeout_ms) {
    const long deadline = now_ms() + timeout_ms;
    while (count_of(child->stderr_text, needle) < static_cast<size_t>(times)) {
        if (now_ms() > deadline) return false;
        if (!read_some(child, 50)) return count_of(child->stderr_text, needle) >= static_cast<size_t>(times);
    }
    return true;
}

int child_wait_exit(ChildProcess *child, int timeout_ms) {
    const long deadline = now_ms() + timeout_ms;
    int status = 0;
    for (;;) {
        pid_t done = waitpid(child->pid, &status, WNOHANG);
        if (done == child->pid) break;
        if (now_ms() > deadline) {
            kill(child->pid, SIGKILL);
            waitpid(child->pid, &status, 0);
            status = -1;
            break;
        }
        read_some(child, 20);
    }
    char buffer[4096];
    ssize_t n;
    while ((n = read(child->stderr_fd, buffer, sizeof buffer)) > 0) child->stderr_text.append(buffer, static_cast<size_t>(n));
    close(child->stderr_fd);
    return status;
}

int run_command(const std::string &command) {
    int status = system(command.c_str());
    if (status == -1 || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}
