// Child processes for end-to-end tests: start, read standard error, wait.
#include "support/platform_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>

static long now_ms(void) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void stop_signals_to_default(void) {
    for (int signal_number : {SIGINT, SIGQUIT, SIGHUP, SIGTERM}) signal(signal_number, SIG_DFL);
}

int child_start(ChildProcess *child, const std::string &path, const std::vector<std::string> &args,
                const std::vector<std::string> &env, const char *cwd, const std::vector<int> &ignored) {
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0) return -1;
    // Closed by a successful exec; a failing child writes a byte first.
    int exec_fds[2];
    if (pipe2(exec_fds, O_CLOEXEC) != 0) {
        close(pipe_fds[0]);
        close(pipe_fds[1]);
        return -1;
    }
    pid_t pid = fork();
    if (pid < 0) {
        for (int fd : {pipe_fds[0], pipe_fds[1], exec_fds[0], exec_fds[1]}) close(fd);
        return -1;
    }
    if (pid == 0) {
        close(exec_fds[0]);
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
        stop_signals_to_default();
        for (int signal_number : ignored) signal(signal_number, SIG_IGN);
        const char failed = 1;
        if (cwd && chdir(cwd) != 0) {
            (void)!write(exec_fds[1], &failed, 1);
            _exit(126);
        }
        std::vector<char *> argv;
        argv.push_back(const_cast<char *>(path.c_str()));
        for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execv(path.c_str(), argv.data());
        (void)!write(exec_fds[1], &failed, 1);
        _exit(127);
    }
    close(pipe_fds[1]);
    close(exec_fds[1]);
    char failed = 0;
    ssize_t got;
    while ((got = read(exec_fds[0], &failed, 1)) < 0 && errno == EINTR) {
    }
    close(exec_fds[0]);
    if (got != 0) {
        close(pipe_fds[0]);
        waitpid(pid, nullptr, 0);
        return -1;
    }
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

// A signal mask of the child from /proc/PID/status ("SigCgt:" caught,
// "SigIgn:" ignored); 0 when unreadable.
static uint64_t signal_mask(pid_t pid, const char *field) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    const size_t length = strlen(field);
    while (std::getline(status, line))
        if (line.compare(0, length, field) == 0) return strtoull(line.c_str() + length, nullptr, 16);
    return 0;
}

static uint64_t caught_signals(pid_t pid) { return signal_mask(pid, "SigCgt:"); }

static uint64_t signal_bit(int signal_number) { return static_cast<uint64_t>(1) << (signal_number - 1); }

bool child_ignores(const ChildProcess *child, int signal_number) {
    return (signal_mask(child->pid, "SigIgn:") & signal_bit(signal_number)) != 0;
}

bool child_ended(const ChildProcess *child) {
    siginfo_t info = {};
    return waitid(P_PID, static_cast<id_t>(child->pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == child->pid;
}

bool child_wait_catching_stop_signals(ChildProcess *child, int timeout_ms) {
    const uint64_t stop_signals = signal_bit(SIGINT) | signal_bit(SIGQUIT) | signal_bit(SIGHUP) | signal_bit(SIGTERM);
    const long deadline = now_ms() + timeout_ms;
    while ((caught_signals(child->pid) & stop_signals) == 0)
        if (now_ms() > deadline) return false;
    return true;
}

std::string stop_signals_during_startup(const std::string &path, const std::vector<std::string> &args,
                                        const std::vector<std::string> &env, const char *cwd,
                                        int exit_timeout_ms) {
    std::string failures;
    for (int signal_number : {SIGINT, SIGQUIT, SIGHUP, SIGTERM})
        for (int delay_ms : {0, 2, 10, 50, 200}) {
            const std::string run = path + " signal " + std::to_string(signal_number) + " " +
                                    std::to_string(delay_ms) + " ms after its first handler: ";
            ChildProcess child;
            if (child_start(&child, path, args, env, cwd) != 0) {
                failures += run + "did not start\n";
                continue;
            }
            const bool handling = child_wait_catching_stop_signals(&child, 10000);
            if (delay_ms > 0) usleep(static_cast<useconds_t>(delay_ms) * 1000);
            kill(child.pid, signal_number);
            const int status = child_wait_exit(&child, exit_timeout_ms);
            if (!handling) failures += run + "never handled a stop signal\n";
            if (status == -1)
                failures += run + "still running after " + std::to_string(exit_timeout_ms) + " ms\n";
            else if (!WIFEXITED(status))
                failures += run + "killed by signal " + std::to_string(WTERMSIG(status)) + "\n";
            else if (WEXITSTATUS(status) != 0)
                failures += run + "exit status " + std::to_string(WEXITSTATUS(status)) + ": " +
                            child.stderr_text.substr(0, 200) + "\n";
        }
    return failures;
}

std::string ignored_stop_signals_outlived(const std::string &path, const std::vector<std::string> &args,
                                          const std::vector<std::string> &env, const char *cwd,
                                          const std::vector<int> &ignored, int exit_timeout_ms) {
    ChildProcess child;
    if (child_start(&child, path, args, env, cwd, ignored) != 0) return path + " did not start\n";
    std::string failures;
    if (!child_wait_for(&child, "FPS: ", 5, 10000)) failures += path + " presented no frames\n";
    for (int signal_number : ignored) {
        if (!child_ignores(&child, signal_number))
            failures += path + " does not ignore signal " + std::to_string(signal_number) + "\n";
        kill(child.pid, signal_number);
    }
    const int frames = static_cast<int>(count_of(child.stderr_text, "FPS: "));
    if (!child_wait_for(&child, "FPS: ", frames + 30, 10000)) failures += path + " stopped presenting\n";
    kill(child.pid, SIGTERM);
    const int status = child_wait_exit(&child, exit_timeout_ms);
    if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        failures += path + " did not end with status 0 on SIGTERM: wait status " + std::to_string(status) + "\n";
    return failures;
}

int run_command(const std::string &command) {
    int status = system(command.c_str());
    if (status == -1 || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}
