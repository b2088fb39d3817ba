// The one stop-signal handler, its installation, and SIGXFSZ ignored.
#include "platform/exit_signals.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <ctime>

#include "util/file_replace.h"

const int exit_stop_signals[EXIT_STOP_SIGNALS] = {SIGINT, SIGQUIT, SIGHUP, SIGTERM};

constexpr long MS_PER_SECOND = 1000;
constexpr long NS_PER_MS = 1000000;

// Written by the handler, read by ordinary code. exit() runs SDL_Quit and
// the C library's clean-up, which free memory and take locks: called from
// inside a signal that interrupted malloc or SDL, it could deadlock or
// corrupt the heap. So the handler only counts, and the frame loop ends
// the program from ordinary code at its next frame boundary.
static volatile sig_atomic_t stop_count = 0;
static volatile sig_atomic_t end_requested = 0;
static volatile sig_atomic_t last_stop_signal = 0;
static volatile long last_stop_ms = 0;
static void (*volatile second_stop_action)(void) = nullptr;

static void stop_signal_set(sigset_t *set) {
    sigemptyset(set);
    for (int signal_number : exit_stop_signals) sigaddset(set, signal_number);
}

static struct sigaction exit_action(void (*handler)(int)) {
    struct sigaction action = {};
    action.sa_handler = handler;
    // One stop at a time: the count does not nest.
    stop_signal_set(&action.sa_mask);
    // Start-up reads files and waits on the display: let those calls go on.
    action.sa_flags = SA_RESTART;
    return action;
}

// `signal_number`'s disposition now, in *current. A signal the process
// was started with ignored (nohup, a background job of a shell without job
// control, a service manager) is the starter's wish that the program run
// through it, so an ignored one is never given a handler.
static void current_action(int signal_number, struct sigaction *current) {
    if (sigaction(signal_number, nullptr, current) != 0) *current = exit_action(SIG_DFL);
}

void ignore_file_size_signal(void) {
    struct sigaction current;
    if (sigaction(SIGXFSZ, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) signal(SIGXFSZ, SIG_IGN);
}

void exit_signals_install(void) {
    ignore_file_size_signal();
    const struct sigaction action = exit_action(handle_exit_signal);
    struct sigaction current;
    // The four handlers go in one after another: a stop that comes between
    // two waits until all are in, rather than meeting a default that ends
    // the process.
    sigset_t old;
    exit_signals_block(&old);
    for (int signal_number : exit_stop_signals) {
        current_action(signal_number, &current);
        if (current.sa_handler != SIG_IGN) sigaction(signal_number, &action, nullptr);
    }
    exit_signals_restore_mask(&old);
}

void exit_signals_claim(ExitSignalHandlers *handlers) {
    ignore_file_size_signal();
    sigset_t old;
    exit_signals_block(&old);
    for (int i = 0; i < EXIT_STOP_SIGNALS; i++) {
        struct sigaction *action = &handlers->actions[i];
        current_action(exit_stop_signals[i], action);
        if (action->sa_handler == SIG_DFL) {
            *action = exit_action(handle_exit_signal);
            sigaction(exit_stop_signals[i], action, nullptr);
        }
    }
    exit_signals_restore_mask(&old);
}

void exit_signals_restore(const ExitSignalHandlers *handlers) {
    for (int i = 0; i < EXIT_STOP_SIGNALS; i++) sigaction(exit_stop_signals[i], &handlers->actions[i], nullptr);
}

void exit_signals_on_second_stop(void (*action)(void)) {
    second_stop_action = action;
    std::atomic_signal_fence(std::memory_order_seq_cst);
}

void exit_signal_again(void) {
    void (*action)(void) = second_stop_action;
    if (action) action();
    file_replace_remove_pending();  // a picture half written
    _exit(0);
}

void handle_exit_signal(int signal_number) {
    const int saved_errno = errno;
    struct timespec now = {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const long now_ms = static_cast<long>(now.tv_sec) * MS_PER_SECOND + now.tv_nsec / NS_PER_MS;
    if (stop_count > 0 && signal_number == last_stop_signal && now_ms - last_stop_ms < EXIT_SAME_STOP_MS) {
        errno = saved_errno;
        return;
    }
    last_stop_signal = signal_number;
    last_stop_ms = now_ms;
    if (stop_count > 0) exit_signal_again();
    stop_count = stop_count + 1;
    errno = saved_errno;
}

bool exit_requested(void) { return stop_count != 0 || end_requested != 0; }

void exit_request(void) { end_requested = 1; }

int exit_stop_count(void) { return stop_count; }

long exit_last_stop_ms(void) { return last_stop_ms; }

void exit_signals_block(sigset_t *old) {
    sigset_t stops;
    stop_signal_set(&stops);
    sigprocmask(SIG_BLOCK, &stops, old);
}

void exit_signals_restore_mask(const sigset_t *old) { sigprocmask(SIG_SETMASK, old, nullptr); }
