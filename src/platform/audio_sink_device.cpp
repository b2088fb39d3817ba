// The sound device: SDL 1.2's audio, its callback on SDL's audio thread.
#include <SDL/SDL.h>

#include <cstring>

#include "platform/audio_output.h"
#include "platform/audio_sink.h"

static int device_open(AudioCallback callback, void *userdata) {
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

static void device_pause(int paused) { SDL_PauseAudio(paused); }

static void device_close(void) {
    SDL_CloseAudio();
    audio_device_frames = 0;
}

static void device_lock(void) { SDL_LockAudio(); }

static void device_unlock(void) { SDL_UnlockAudio(); }

// SDL asks for a buffer while the device still plays the one before.
static int64_t device_frames_queued(int rate_hz) {
    (void)rate_hz;
    return audio_device_frames;
}

const AudioSink audio_device_sink = {device_open,  device_pause,         device_close, device_lock,
                                     device_unlock, device_frames_queued, false,        false};
