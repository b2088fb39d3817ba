// What runs after each frame is shown: a short list of functions that
// fb_present calls, in the order they were added, once the frame is on the
// screen and before the pacing. A capture adds its own (the frame recorded,
// the virtual clock moved on, the sound rendered up to it).
#ifndef PLATFORM_FRAME_HOOKS_H
#define PLATFORM_FRAME_HOOKS_H

// The most hooks a program keeps.
constexpr int FRAME_HOOKS_MAX = 4;

typedef void (*FrameHook)(void);

// Adds `hook` to the list. 0, or -1 (nothing added) for a null hook, one
// already there, or a full list.
int frame_hook_add(FrameHook hook);

// Calls every hook, in the order added. fb_present calls it.
void frame_hooks_run(void);

#endif
