// The audio sink in use.
#include "platform/audio_sink.h"

static const AudioSink *sink_in_use = nullptr;

const AudioSink *audio_sink(void) { return sink_in_use ? sink_in_use : &audio_device_sink; }

void audio_sink_use(const AudioSink *sink) { sink_in_use = sink; }
