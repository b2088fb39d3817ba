// Render speed of the module player: a busy four-channel song (every voice
// on a looped sample, effects running) rendered for 60 s of 44100 Hz
// stereo in 1024-frame buffers as the audio device asks for them, reported
// as seconds of audio per CPU second ("x_realtime"); and voice_mix alone in
// output samples per second.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "music/mod_player.h"
#include "music/voice.h"
#include "support/music_modbuilder.h"

namespace {

constexpr int RATE_HZ = 44100;
constexpr int SECONDS = 60;
constexpr int BUFFER_FRAMES = 1024;

void BM_BusyModuleRender60s(benchmark::State &state) {
    ModBuilder b;
    modbuilder_busy_song(&b);
    std::vector<uint8_t> bytes = modbuilder_build(&b);
    ModPlayer *player = mod_player_create(RATE_HZ, bytes.data(), static_cast<long>(bytes.size()));
    if (!player) {
        state.SkipWithError("module refused");
        return;
    }
    mod_player_set_loop(player, 1);
    std::vector<int16_t> buffer(2 * BUFFER_FRAMES);
    const long total_frames = static_cast<long>(RATE_HZ) * SECONDS;
    for (auto _ : state) {
        for (long done = 0; done < total_frames; done += BUFFER_FRAMES) {
            mod_player_render_s16(player, buffer.data(), BUFFER_FRAMES);
        }
        benchmark::DoNotOptimize(buffer.data());
        benchmark::ClobberMemory();
    }
    state.counters["x_realtime"] = benchmark::Counter(
        static_cast<double>(SECONDS) * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    mod_player_destroy(player);
}
BENCHMARK(BM_BusyModuleRender60s)->Unit(benchmark::kMillisecond);

int looped_source(void *user, int8_t *buffer) {
    memcpy(buffer, user, VOICE_WINDOW_SAMPLES);
    return 0;
}

// Arg: the step in 16.16 (12315 is period 428 at 44100 Hz, 65536 one
// source sample per output sample).
void BM_VoiceMix(benchmark::State &state) {
    std::vector<int8_t> window = modbuilder_saw(VOICE_WINDOW_SAMPLES, 64, 100);
    Voice voice;
    voice_init(&voice, RATE_HZ);
    voice_set_source(&voice, looped_source, window.data());
    voice_set_volume(&voice, 48);
    voice.step = static_cast<uint32_t>(state.range(0));
    std::vector<int32_t> out(4096, 0);
    for (auto _ : state) {
        voice_mix(&voice, out.data(), static_cast<int>(out.size()));
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(out.size()));
}
BENCHMARK(BM_VoiceMix)->Arg(12315)->Arg(65536);

}  // namespace
