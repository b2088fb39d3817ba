// The stop signals' handler and its installation.
#include "platform/exit_signals.h"

#include <csignal>
#include <unistd.h>

#include "platform/capture.h"
#include "util/file_replace.h"

static const int EXIT_SIGNALS[] = {SIGINT, SIGQUIT, SIGHUP, SIGTERM};

static struct sigaction exit_action(void (*handler)(int)) {
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
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

void exit_signals_install(void (*handler)(int)) {
    ignore_file_size_signal();
    const struct sigaction action = exit_action(handler);
    struct sigaction current;
    for (int signal_number : EXIT_SIGNALS) {
        current_action(signal_number, &current);
        if (current.sa_handler != SIG_IGN) sigaction(signal_number, &action, nullptr);
    }
}

void exit_signals_claim(ExitSignalHandlers *handlers) {
    ignore_file_size_signal();
    for (int i = 0; i < 4; i++) {
        struct sigaction *action = &handlers->actions[i];
        current_action(EXIT_SIGNALS[i], action);
        if (action->sa_handler == SIG_DFL) {
            *action = exit_action(handle_exit_signal);
            sigaction(EXIT_SIGNALS[i], action, nullptr);
        }
    }
}

void exit_signals_restore(const ExitSignalHandlers *handlers) {
    for (int i = 0; i < 4; i++) sigaction(EXIT_SIGNALS[i], &handlers->actions[i], nullptr);
}

// Set by the signal handler, acted on by fb_present. exit() runs SDL_Quit
// and the C library's clean-up, which free memory and take locks: called
// from inside a signal that interrupted malloc or SDL, it could deadlock or
// corrupt the heap. So the handler only records the signal, and the next
// present (at most one frame later) exits from ordinary code. A second
// signal before that ends the process at once, as a capture being made
// says (it leaves complete files or none).
static volatile sig_atomic_t exit_signal_pending = 0;

void exit_signal_again(void) {
    capture_stop_again();
    file_replace_remove_pending();  // a picture half written
    _exit(0);
}

void handle_exit_signal(int signal_number) {
    (void)signal_number;
    if (exit_signal_pending) exit_signal_again();
    exit_signal_pending = 1;
}

bool exit_requested(void) { return exit_signal_pending != 0; }
