// How programs end: the four stop signals (SIGINT, SIGQUIT, SIGHUP,
// SIGTERM), which end them with status 0, and SIGXFSZ, which must not end
// them. One handler, handle_exit_signal, serves every program: it counts
// the stops and stamps their times, and the program's frame loop, which
// asks exit_requested() at each frame boundary, ends the program there.
// A second stop before then ends the process at once (exit_signal_again).
// The same signal again within EXIT_SAME_STOP_MS is the same stop, sent
// twice: `timeout`, for one, sends its signal to the program and then to
// its whole process group.
//
// A stop signal the program was started with ignored (nohup, a background
// job, a service manager) stays ignored: only signals at their default
// disposition get the handler.
#ifndef PLATFORM_EXIT_SIGNALS_H
#define PLATFORM_EXIT_SIGNALS_H

#include <csignal>

// The stop signals, in the order they are installed.
constexpr int EXIT_STOP_SIGNALS = 4;
extern const int exit_stop_signals[EXIT_STOP_SIGNALS];

// A stop signal repeated within this many milliseconds is one stop.
constexpr long EXIT_SAME_STOP_MS = 250;

// Installs handle_exit_signal for each stop signal that is not ignored: at
// the start of main that is each one at its default disposition, while one
// inherited as ignored stays so; and ignores SIGXFSZ. Programs call it
// first thing in main (the frame loop's start does), so that a stop signal
// at any moment of their start-up ends them: SDL 1.2 leaves a signal that
// already has a handler, or is ignored, alone, so SDL_Init then puts none
// of its own in place (its SIGINT/SIGTERM handler only queues a quit event;
// its SIGQUIT one exits with a failure status).
void exit_signals_install(void);

// The four signals' handlers as they were at exit_signals_claim.
struct ExitSignalHandlers {
    struct sigaction actions[EXIT_STOP_SIGNALS];
};

// Gives handle_exit_signal to each stop signal still at its default, keeps
// an ignored one ignored and a handler the program installed, and records
// what each signal then has in *handlers. video_init does this before
// SDL_Init and puts the record back with exit_signals_restore after it.
void exit_signals_claim(ExitSignalHandlers *handlers);
void exit_signals_restore(const ExitSignalHandlers *handlers);

// The handler of the stop signals: counts the stop (a repeat of the same
// signal within EXIT_SAME_STOP_MS does not count) and stamps its time.
// Ending the process is not safe inside a signal, so the first stop only
// sets what exit_requested() answers, and the frame loop ends the program
// at its next frame boundary; a second one ends it at once
// (exit_signal_again).
void handle_exit_signal(int signal_number);

// What a second stop does: the action registered with
// exit_signals_on_second_stop when there is one (a capture being made ends
// as capture.h says); otherwise the process ends at once with status 0,
// without the clean-up. Safe in a signal handler; does not return.
[[noreturn]] void exit_signal_again(void);

// Registers `action` (safe in a signal handler, or null for none) as what
// a second stop does before the process ends with status 0; an action may
// end the process itself with another status.
void exit_signals_on_second_stop(void (*action)(void));

// The frame loops' stop flag: true once a stop signal has arrived or
// exit_request has been called. Every loop that presents frames asks it at
// each frame boundary and ends the program when it is true.
bool exit_requested(void);

// Sets the stop flag without a signal: what a capture that has made its
// last frame does.
void exit_request(void);

// Stops counted so far, and the time of the last one on the monotonic
// clock in milliseconds (0 before any).
int exit_stop_count(void);
long exit_last_stop_ms(void);

// Blocks the stop signals (their previous mask in *old, when not null),
// and puts a mask back.
void exit_signals_block(sigset_t *old);
void exit_signals_restore_mask(const sigset_t *old);

// Ignores SIGXFSZ (unless the program gave it a handler of its own): a
// write past the file-size limit (ulimit -f) then fails with EFBIG, which
// the writer reports like any other write error, where the signal would
// end the program without a word. Part of every program's start-up:
// exit_signals_install, exit_signals_claim and the platform's start call
// it, and tools that write files call it first thing.
void ignore_file_size_signal(void);

#endif
