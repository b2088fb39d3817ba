// The list of functions run after each frame is shown.
#include "platform/frame_hooks.h"

static FrameHook hooks[FRAME_HOOKS_MAX];
static int hook_count = 0;

int frame_hook_add(FrameHook hook) {
    if (!hook || hook_count == FRAME_HOOKS_MAX) return -1;
    for (int i = 0; i < hook_count; i++)
        if (hooks[i] == hook) return -1;
    hooks[hook_count++] = hook;
    return 0;
}

void frame_hooks_run(void) {
    for (int i = 0; i < hook_count; i++) hooks[i]();
}
