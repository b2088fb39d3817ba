// The four stop signals (SIGINT, SIGQUIT, SIGHUP, SIGTERM) through which
// programs end with status 0, and SIGXFSZ, which must not end them. A stop signal that the program was started
// with ignored (nohup, a background job, a service manager) stays ignored:
// only signals at their default disposition get a handler.
#ifndef PLATFORM_EXIT_SIGNALS_H
#define PLATFORM_EXIT_SIGNALS_H

#include <csignal>

// Installs `handler` for each of SIGINT, SIGQUIT, SIGHUP and SIGTERM, in
// that order, that is not ignored: at the start of main that is each one
// at its default disposition (SIG_DFL), while one inherited as ignored
// (SIG_IGN) stays so. Programs call it first thing in main, so that a stop
// signal at any moment of their start-up ends them: SDL 1.2 leaves a
// signal that already has a handler, or is ignored, alone, so SDL_Init
// then puts none of its own in place (its SIGINT/SIGTERM handler only
// queues a quit event; its SIGQUIT one exits with a failure status).
void exit_signals_install(void (*handler)(int));

// The four signals' handlers as they were at exit_signals_claim.
struct ExitSignalHandlers {
    struct sigaction actions[4];
};

// Gives handle_exit_signal to each stop signal still at its default, keeps
// an ignored one ignored and a handler the program installed, and records
// what each signal then has in *handlers. video_init does this before
// SDL_Init and puts the record back with exit_signals_restore after it.
void exit_signals_claim(ExitSignalHandlers *handlers);
void exit_signals_restore(const ExitSignalHandlers *handlers);

// The handler of SIGINT, SIGQUIT, SIGHUP and SIGTERM: ends the process with
// status 0, with the SDL_Quit registered at exit running on the way out.
// Exiting is not safe inside a signal, so the handler only records it and
// the next fb_present exits; a second signal before then exits at once
// (exit_signal_again).
void handle_exit_signal(int signal_number);

// What a second stop signal does, inside the handler of a program that
// acts on the first at a moment of its own (handle_exit_signal, the frame
// loop): a capture being made ends as capture.h says; otherwise the process
// ends at once with status 0, without the clean-up. Does not return.
[[noreturn]] void exit_signal_again(void);

// True once an exit signal has arrived; for programs with loops of their
// own that do not present every frame.
bool exit_requested(void);

// Ignores SIGXFSZ (unless the program gave it a handler of its own): a
// write past the file-size limit (ulimit -f) then fails with EFBIG, which
// the writer reports like any other write error, where the signal would
// end the program without a word. Part of every program's start-up:
// exit_signals_install, exit_signals_claim and capture_start call it, and
// tools that write files call it first thing.
void ignore_file_size_signal(void);

#endif
