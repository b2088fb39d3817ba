// Connects the module player to the sound: the render callback, and
// opening, pausing and closing through the audio sink in use.
#include "platform/audio_output.h"

#include <cstring>

#include "platform/audio_sink.h"
#include "platform/platform_start.h"

// The player writes native 16-bit samples into a stream SDL reads as
// little-endian.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "audio output assumes a little-endian host");

ModPlayer *music_player = nullptr;
int audio_device_frames = 0;

int audio_open(void (*callback)(void *userdata, Uint8 *stream, int len)) {
    platform_start();
    return audio_sink()->open(callback, nullptr);
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

void audio_unpause(void) { audio_sink()->pause(0); }

void audio_pause(void) { audio_sink()->pause(1); }

void audio_close(void) { audio_sink()->close(); }

void audio_lock(void) { audio_sink()->lock(); }

void audio_unlock(void) { audio_sink()->unlock(); }
