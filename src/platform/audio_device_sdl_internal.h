// SDL 1.2's audio device as both builds open it (natively and over Web
// Audio): the engine's format, SDL converting for the device.
#ifndef PLATFORM_AUDIO_DEVICE_SDL_INTERNAL_H
#define PLATFORM_AUDIO_DEVICE_SDL_INTERNAL_H

#include "platform/audio_sink.h"

// Opens the device paused with `callback`; 0, or -1 with SDL_GetError()
// saying why. Sets audio_device_frames to the device's buffer.
int audio_device_sdl_open(AudioCallback callback, void *userdata);

// Stops (1) or lets (0) the device's callback run.
void audio_device_sdl_pause(int paused);

// Closes the device; audio_device_frames is 0 again.
void audio_device_sdl_close(void);

#endif
