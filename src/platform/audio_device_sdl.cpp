// SDL 1.2's audio device, opened in the engine's format.
#include "platform/audio_device_sdl_internal.h"

#include <SDL/SDL.h>

#include <cstring>

#include "platform/audio_output.h"

int audio_device_sdl_open(AudioCallback callback, void *userdata) {
    SDL_AudioSpec request;
    memset(&request, 0, sizeof request);
    request.freq = AUDIO_RATE_HZ;
    request.format = AUDIO_FORMAT_S16LSB;
    request.channels = AUDIO_CHANNELS;
    request.samples = AUDIO_BUFFER_FRAMES;
    request.callback = callback;
    request.userdata = userdata;
    // Opened before SDL_Init, SDL 1.2 brings its audio subsystem up itself;
    // no obtained format: SDL converts for the device.
    if (SDL_OpenAudio(&request, nullptr) < 0) return -1;
    // SDL writes the size of the device's own buffer back into the request.
    audio_device_frames = request.samples;
    return 0;
}

void audio_device_sdl_pause(int paused) { SDL_PauseAudio(paused); }

void audio_device_sdl_close(void) {
    SDL_CloseAudio();
    audio_device_frames = 0;
}
