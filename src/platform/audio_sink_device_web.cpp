// The sound device in the browser: emscripten's SDL 1.2 over Web Audio.
// There the callback runs on the main thread (from Web Audio's timers and
// inside each SDL_Delay), and what is not played yet is what Web Audio has
// scheduled ahead of its own clock.
#include <SDL/SDL.h>
#include <emscripten.h>

#include <cstring>

#include "platform/audio_device_sdl_internal.h"

// clang-format off
EM_JS(double, web_audio_queued_seconds_js, (), {
    if (typeof SDL == "undefined" || !SDL.audio || !SDL.audioContext || !SDL.audio.nextPlayTime) return 0;
    var ahead = SDL.audio.nextPlayTime - SDL.audioContext.currentTime;
    return ahead > 0 ? ahead : 0;
});

EM_JS(int, web_audio_paused_js, (), {
    return (typeof SDL != "undefined" && SDL.audio && SDL.audio.paused) ? 1 : 0;
});
// clang-format on

// emscripten's SDL asks for sound while the device is paused too, and
// drops it: the music would run on unheard. Here the callback runs only
// unpaused.
static AudioCallback device_callback = nullptr;

static void unpaused_callback(void *userdata, Uint8 *stream, int len) {
    if (web_audio_paused_js()) {
        if (stream && len > 0) memset(stream, 0, static_cast<size_t>(len));
        return;
    }
    device_callback(userdata, stream, len);
}

static int device_open(AudioCallback callback, void *userdata) {
    device_callback = callback;
    return audio_device_sdl_open(unpaused_callback, userdata);
}

// One thread: nothing to keep the callback from.
static void device_lock(void) {}

static void device_unlock(void) {}

static int64_t device_frames_queued(int rate_hz) {
    return static_cast<int64_t>(web_audio_queued_seconds_js() * rate_hz + 0.5);
}

const AudioSink audio_device_sink = {device_open,   audio_device_sdl_pause, audio_device_sdl_close,
                                     device_lock,   device_unlock,          device_frames_queued,
                                     true,          false};
