// Where the sound the audio callback makes goes: the sound device (SDL
// 1.2's natively, Web Audio's in the browser: audio_sink_device.cpp or
// audio_sink_device_web.cpp) or, while a capture is being made, the
// capture's virtual clock, which runs the callback in step with the frames
// (capture.h). One sink is in use; the platform's start chooses it.
#ifndef PLATFORM_AUDIO_SINK_H
#define PLATFORM_AUDIO_SINK_H

#include <cstdint>

typedef void (*AudioCallback)(void *userdata, uint8_t *stream, int len);

struct AudioSink {
    // Takes the callback, paused. 0, or -1 (a device's reason is then in
    // SDL_GetError()).
    int (*open)(AudioCallback callback, void *userdata);
    // Stops (1) or lets (0) the callback run.
    void (*pause)(int paused);
    // Ends the sound: the callback is not called again.
    void (*close)(void);
    // Keeps the callback from running between the two (a device's thread),
    // so that the main thread may change what it renders.
    void (*lock)(void);
    void (*unlock)(void);
    // Frames the callback has made that are not heard yet, at `rate_hz`:
    // as of the callback's last run (natively, the device's buffer, which
    // it plays while asking for the next), or, with queue_now, now (Web
    // Audio's schedule ahead of its clock). 0 on the virtual clock.
    int64_t (*frames_queued)(int rate_hz);
    bool queue_now;   // frames_queued measures the queue now
    bool exact;       // the sound is rendered in step with the engine's clock:
                      // what is rendered is what is heard
};

// The sound device of this build.
extern const AudioSink audio_device_sink;

// The sink in use: audio_device_sink unless another was put in its place.
const AudioSink *audio_sink(void);

// Puts `sink` in use (null: the device again). Before the sound opens.
void audio_sink_use(const AudioSink *sink);

#endif
