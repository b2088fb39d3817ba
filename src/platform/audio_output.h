// The edge between the module player and the SDL 1.2 audio device: the
// device request (44100 Hz, signed 16-bit little-endian stereo, 1024-frame
// buffers), the callback that renders the one player on SDL's audio thread,
// and unpausing. Nothing here reads files or creates the player; see
// platform/music_start.h for that.
#ifndef PLATFORM_AUDIO_OUTPUT_H
#define PLATFORM_AUDIO_OUTPUT_H

#include <SDL/SDL.h>
#include <cstdint>

#include "music/mod_player.h"

constexpr int AUDIO_RATE_HZ = 44100;
constexpr Uint16 AUDIO_FORMAT_S16LSB = AUDIO_S16LSB;  // signed 16-bit little-endian
constexpr int AUDIO_CHANNELS = 2;
constexpr int AUDIO_BUFFER_FRAMES = 1024;
constexpr int AUDIO_FRAME_BYTES = 4;            // left then right, 16 bits each

// The one player the callback renders; null while there is no music, and
// then the callback plays silence. Set before the device is unpaused and,
// from then on, touched only by the audio thread.
extern ModPlayer *music_player;

// Frames in one buffer of the opened device as SDL obtained it (it may
// differ from the 1024 asked for); 0 while no device is open.
extern int audio_device_frames;

// Opens the sound with `callback`: the audio sink in use (audio_sink.h),
// the device with the request above, asking for no obtained format so that
// SDL converts for the device itself. The sound stays paused. Opening it is
// platform start-up (platform_start: a capture asked for starts here at the
// latest, and its clock then takes the callback in place of a device).
// Returns 0 on success, -1 when SDL cannot open the device (SDL's reason is
// then in SDL_GetError()).
int audio_open(void (*callback)(void *userdata, Uint8 *stream, int len));

// The SDL audio callback: renders music_player into `stream` for len / 4
// frames with mod_player_render_s16, continuing the song where the previous
// buffer stopped. With no player the whole stream is silence (0); bytes
// past the last whole frame (len not a multiple of 4) are set to 0.
// `userdata` is ignored. Allocates nothing and takes no lock.
void audio_callback(void *userdata, Uint8 *stream, int len);

// Lets the device start pulling audio (SDL_PauseAudio(0)). Harmless when no
// device is open.
void audio_unpause(void);

// Stops the device pulling audio (SDL_PauseAudio(1)): the music stands
// where it is until audio_unpause. Harmless when no device is open.
void audio_pause(void);

// Closes the sound: the callback is not called again (a device's thread is
// joined). Harmless when none is open.
void audio_close(void);

// While the audio is locked the callback does not run (a device's thread
// waits), so that the main thread may change what it renders.
void audio_lock(void);
void audio_unlock(void);

#endif
