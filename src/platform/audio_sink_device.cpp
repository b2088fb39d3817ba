// The sound device: SDL 1.2's audio, its callback on SDL's audio thread.
#include <SDL/SDL.h>

#include "platform/audio_device_sdl_internal.h"
#include "platform/audio_output.h"

static void device_lock(void) { SDL_LockAudio(); }

static void device_unlock(void) { SDL_UnlockAudio(); }

// SDL asks for a buffer while the device still plays the one before.
static int64_t device_frames_queued(int rate_hz) {
    (void)rate_hz;
    return audio_device_frames;
}

const AudioSink audio_device_sink = {audio_device_sdl_open, audio_device_sdl_pause, audio_device_sdl_close,
                                     device_lock,           device_unlock,          device_frames_queued,
                                     false,                 false};
