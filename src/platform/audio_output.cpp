// Connects the module player to the SDL audio device: the request, the
// render callback and unpausing.
#include "platform/audio_output.h"

#include <cstring>

#include "platform/capture.h"
#include "platform/web.h"

// The player writes native 16-bit samples into a stream SDL reads as
// little-endian.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "audio output assumes a little-endian host");
// A capture writes what the device would have played.
static_assert(CAPTURE_RATE_HZ == AUDIO_RATE_HZ, "the capture records at the device's rate");

ModPlayer *music_player = nullptr;
int audio_device_frames = 0;

#ifdef __EMSCRIPTEN__
// In the browser SDL asks for sound while the device is paused too, and
// drops it: the music would run on unheard. There the callback runs only
// unpaused.
static void (*device_callback)(void *userdata, Uint8 *stream, int len) = nullptr;

static void unpaused_callback(void *userdata, Uint8 *stream, int len) {
    if (web_audio_paused()) {
        if (stream && len > 0) memset(stream, 0, static_cast<size_t>(len));
        return;
    }
    device_callback(userdata, stream, len);
}
#endif

int audio_open(void (*callback)(void *userdata, Uint8 *stream, int len)) {
    // Opening the device is platform start-up: a capture asked for starts
    // here at the latest (capture.h), and then calls the callback itself, in
    // step with its clock, in place of a device.
    capture_start();
    if (capture_audio_open(callback, nullptr)) return 0;
    SDL_AudioSpec request;
    memset(&request, 0, sizeof request);
    request.freq = AUDIO_RATE_HZ;
    request.format = AUDIO_FORMAT_S16LSB;
    request.channels = AUDIO_CHANNELS;
    request.samples = AUDIO_BUFFER_FRAMES;
    request.callback = callback;
#ifdef __EMSCRIPTEN__
    device_callback = callback;
    request.callback = unpaused_callback;
#endif
    request.userdata = nullptr;
    // Opened before SDL_Init, SDL 1.2 brings its audio subsystem up itself.
    if (SDL_OpenAudio(&request, nullptr) < 0) return -1;
    // SDL writes the size of the device's own buffer back into the request.
    audio_device_frames = request.samples;
    return 0;
}

void audio_callback(void *userdata, Uint8 *stream, int len) {
    (void)userdata;
    if (!stream || len <= 0) return;
    const int frames = len / AUDIO_FRAME_BYTES;
    const int whole_bytes = frames * AUDIO_FRAME_BYTES;
    if (music_player && frames > 0) {
        // SDL allocates the stream, aligned for 16-bit samples.
        mod_player_render_s16(music_player, reinterpret_cast<int16_t *>(stream), frames);
    } else {
        memset(stream, 0, static_cast<size_t>(whole_bytes));
    }
    memset(stream + whole_bytes, 0, static_cast<size_t>(len - whole_bytes));
}

void audio_unpause(void) {
    if (!capture_audio_pause(0)) SDL_PauseAudio(0);
}

void audio_pause(void) {
    if (!capture_audio_pause(1)) SDL_PauseAudio(1);
}
