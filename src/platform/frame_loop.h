// The frame loop of a program with a window, which the examples and the
// starter template share: its command line (--frames N, --shot FILE,
// --scale k and --help, beside one flag and one file name of the program's
// own), its window, its keys (Escape ends the loop, F and Alt-Enter toggle
// fullscreen, any other key goes to the program), closing the window, and
// the four stop signals (SIGINT, SIGQUIT, SIGHUP, SIGTERM). Each of those,
// and a capture that has made its last frame, ends the loop at the next
// frame boundary (the stop flag, exit_requested()), so that the program
// releases what it made and returns; a second stop signal before then ends
// the process at once with status 0 (a capture being made ends as
// capture.h says). A stop signal the program was started with ignored
// stays ignored.
//
//     static const FrameLoopSetup SETUP = {"name", "[model.obj]", "What it shows.\n"};
//     int main(int argc, char **argv) {
//         FrameLoop loop;
//         if (frame_loop_start(&loop, &SETUP, argc, argv) != 0) return loop.status;
//         ... load; start the music (before the window: SDL 1.2 then
//             brings its audio up by itself) ...
//         frame_loop_open(&loop);
//         while (frame_loop_next(&loop)) { draw frame number loop.drawn }
//         ... release ...
//         return loop.status;
//     }
//
// --frames N ends the loop after N frames and --shot FILE then saves the
// last one as PNG (status 1 when it cannot be written: fb_save_png says
// why). While capturing (capture.h) --shot is ignored, with one line, the
// capture's frames being the pictures, and --frames N still ends the loop
// when it comes before KEVO_CAPTURE_FRAMES.
//
// A program that sets headless_shots takes --frames N and --shot FILE
// together or not at all, and with them draws the frames without a window,
// SDL or pacing (frame_loop_next presents nothing); KEVO_CAPTURE is then
// ignored, with one line.
//
// Arguments the program cannot take: one line on standard error (the usage
// line, or what is wrong with a value) and status 2. --help: the usage line
// and the program's text on standard output, status 0.
#ifndef PLATFORM_FRAME_LOOP_H
#define PLATFORM_FRAME_LOOP_H

#include <SDL/SDL.h>

#include "platform/program_args.h"

// Most frames --frames takes: over a year at the paced rate.
constexpr long FRAME_LOOP_MAX_FRAMES = 2147483647;

// What a program takes and says, fixed for its life.
struct FrameLoopSetup {
    const char *name;      // the program's name: its window's title, its usage
                           // line, its messages ("NAME: ...")
    const char *args;      // its own arguments in the usage line, before the
                           // loop's ("[model.obj] [--wireframe]"; "" for none)
    const char *about;     // --help's text after the usage line, each line
                           // ending in a newline
    const char *flag;      // an option of its own without a value, or null
    bool takes_file;       // one plain argument (a file name) is taken
    bool headless_shots;   // --frames N --shot FILE draw without a window
    void (*on_key)(SDLKey key);  // keys the loop does not act on, or null
};

// One program's loop: what its command line said, and how far it is.
struct FrameLoop {
    const FrameLoopSetup *setup;
    long frames;            // frames to run; 0 runs until asked to stop
    const char *shot_path;  // PNG written after the last frame, or null
    const char *file;       // the plain argument, or null
    bool flag_given;        // setup->flag was among the arguments
    bool headless;          // drawing without a window (headless_shots)
    bool in_frame;          // frame_loop_next has handed out a frame not yet ended
    bool stopped;           // Escape or the window's close ended the loop
    long drawn;             // frames ended so far; the number of the one drawn
    int status;             // the status the program ends with
};

// First thing in main. Keeps descriptors 0-2 open, gives the four stop
// signals the loop's handler (so that one arriving while the program loads
// still ends it with status 0), and reads the command line into *loop,
// taking --scale k for the window. 0 when the program goes on (loop->status
// 0); -1 when it ends at once with loop->status: 0 after --help was
// answered, USAGE_ERROR_STATUS after one line about its arguments, 1 when
// descriptors 0-2 cannot be kept open. On the headless route the capture is
// declined here (capture_decline).
int frame_loop_start(FrameLoop *loop, const FrameLoopSetup *setup, int argc, char **argv);

// After the program has loaded (and started its music): opens the window
// named after the program (video_init: exits with status 1 when SDL cannot)
// and then, while capturing, drops --shot with one line; on the headless
// route only gives the framebuffer its storage.
void frame_loop_open(FrameLoop *loop);

// The loop's condition: ends the frame the program drew since the last call
// (presents it, advances frame_counter and loop->drawn; after the last of
// loop->frames writes the shot), then takes the window's events. True when
// the program should draw frame loop->drawn; false once the loop is over.
bool frame_loop_next(FrameLoop *loop);

#endif
