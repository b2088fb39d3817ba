// Render speed of the module player: a busy four-channel song (every voice
// on a looped sample, effects running) rendered for 60 s of 44100 Hz
// stereo in 1024-frame buffers as the audio device asks for them, reported
// as seconds of audio per CPU second ("x_realtime"); and the voice loop
// alone in output samples per second, one voice added (voice_mix) and a
// stereo side's two voices stored (voice_mix_side), each beside the
// straightforward one-sample-at-a-time loop it must equal (the Reference
// benchmarks, same arguments): the ratio of the two is the figure; and N
// voices (4, 8 and 32) mixed into the two planes as the player mixes them,
// pinned to their sides in pairs (a MOD's channels) or each to both sides
// at its gains (a panned song's), 8-bit or 16-bit.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "music/mod_player.h"
#include "music/voice_internal.h"
#include "support/music_modbuilder.h"
#include "support/music_reference.h"

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

// A voice on a looped 256-sample saw at volume 48 with the given step.
void looped_voice(Voice *voice, const std::vector<int8_t> &window, uint32_t step) {
    voice_init(voice, RATE_HZ);
    voice_set_source(voice, looped_source, const_cast<int8_t *>(window.data()));
    voice_set_volume(voice, 48);
    voice->step = step;
}

constexpr int MIX_SAMPLES = 4096;

// One voice added into a plane by `mix` (voice_mix or the reference).
// Arg: the step in 16.16 (12315 is period 428 at 44100 Hz, 65536 one
// source sample per output sample).
void voice_mix_bench(benchmark::State &state, void (*mix)(Voice *, int32_t *, int)) {
    std::vector<int8_t> window = modbuilder_saw(VOICE_WINDOW_SAMPLES, 64, 100);
    Voice voice;
    looped_voice(&voice, window, static_cast<uint32_t>(state.range(0)));
    std::vector<int32_t> out(MIX_SAMPLES, 0);
    for (auto _ : state) {
        mix(&voice, out.data(), MIX_SAMPLES);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * MIX_SAMPLES);
}

void BM_VoiceMix(benchmark::State &state) { voice_mix_bench(state, voice_mix); }
BENCHMARK(BM_VoiceMix)->Arg(12315)->Arg(65536);

void BM_VoiceMixReference(benchmark::State &state) { voice_mix_bench(state, reference_voice_mix); }
BENCHMARK(BM_VoiceMixReference)->Arg(12315)->Arg(65536);

// What voice_mix_side computes, done the straightforward way: clear the
// plane, then add one voice after the other.
void reference_mix_side(Voice *first, Voice *second, int32_t *out, int count) {
    memset(out, 0, sizeof(int32_t) * static_cast<size_t>(count));
    reference_voice_mix(first, out, count);
    reference_voice_mix(second, out, count);
}

// A side's two voices (periods 428 and 285 at 44100 Hz) stored into one
// plane by `mix`; items are voice samples (two per frame).
void voice_mix_side_bench(benchmark::State &state, void (*mix)(Voice *, Voice *, int32_t *, int)) {
    std::vector<int8_t> window = modbuilder_saw(VOICE_WINDOW_SAMPLES, 64, 100);
    Voice a, b;
    looped_voice(&a, window, 12315);
    looped_voice(&b, window, 18493);
    std::vector<int32_t> out(MIX_SAMPLES, 0);
    for (auto _ : state) {
        mix(&a, &b, out.data(), MIX_SAMPLES);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * 2 * MIX_SAMPLES);
}

void BM_VoiceMixSide(benchmark::State &state) { voice_mix_side_bench(state, voice_mix_side); }
BENCHMARK(BM_VoiceMixSide);

void BM_VoiceMixSideReference(benchmark::State &state) { voice_mix_side_bench(state, reference_mix_side); }
BENCHMARK(BM_VoiceMixSideReference);

int looped_wide_source(void *user, int16_t *buffer) {
    memcpy(buffer, user, VOICE_WINDOW_SAMPLES * sizeof(int16_t));
    return 0;
}

// N voices on looped saws at steps spread over the notes of two octaves
// (periods about 428 to 214 at 44100 Hz), 8-bit or 16-bit, with gains for
// a panning across the stereo field.
struct VoiceSet {
    std::vector<Voice> voices;
    std::vector<int8_t> narrow;
    std::vector<int16_t> wide;
    VoiceSet(int count, bool sixteen_bit) : voices(static_cast<size_t>(count)) {
        narrow = modbuilder_saw(VOICE_WINDOW_SAMPLES, 64, 100);
        for (int8_t v : narrow) wide.push_back(static_cast<int16_t>(v * 256 + 77));
        for (int i = 0; i < count; i++) {
            Voice *v = &voices[static_cast<size_t>(i)];
            looped_voice(v, narrow, 12315 + static_cast<uint32_t>(i) * 12315 / count);
            if (sixteen_bit) voice_set_wide_source(v, looped_wide_source, wide.data());
            voice_set_gains(v, 16384 * (count - i) / count, 16384 * i / count);
        }
    }
};

// Arg 0: the voices; arg 1: 16-bit (1) or 8-bit (0). Items: voice samples.
void BM_MixVoicesPinnedToSides(benchmark::State &state) {
    const int count = static_cast<int>(state.range(0));
    VoiceSet set(count, state.range(1) != 0);
    std::vector<int32_t> left(MIX_SAMPLES), right(MIX_SAMPLES);
    for (auto _ : state) {
        // Channels L R R L: voices 0 and 3 (then 4 and 7, ...) left.
        Voice *v = set.voices.data();
        for (int side = 0; side < 2; side++) {
            int32_t *plane = side == 0 ? left.data() : right.data();
            for (int first = 0; first < count; first += 4) {
                Voice *a = side == 0 ? &v[first] : &v[first + 1];
                Voice *b = side == 0 ? &v[first + 3] : &v[first + 2];
                if (first == 0) voice_mix_side(a, b, plane, MIX_SAMPLES);
                else voice_mix_side_add(a, b, plane, MIX_SAMPLES);
            }
        }
        benchmark::DoNotOptimize(left.data());
        benchmark::DoNotOptimize(right.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * count * MIX_SAMPLES);
}
BENCHMARK(BM_MixVoicesPinnedToSides)->Args({4, 0})->Args({8, 0})->Args({32, 0})->Args({4, 1})->Args({32, 1});

void BM_MixVoicesPanned(benchmark::State &state) {
    const int count = static_cast<int>(state.range(0));
    VoiceSet set(count, state.range(1) != 0);
    std::vector<int32_t> left(MIX_SAMPLES), right(MIX_SAMPLES);
    for (auto _ : state) {
        memset(left.data(), 0, sizeof(int32_t) * MIX_SAMPLES);
        memset(right.data(), 0, sizeof(int32_t) * MIX_SAMPLES);
        for (Voice &v : set.voices) voice_mix_stereo(&v, left.data(), right.data(), MIX_SAMPLES);
        benchmark::DoNotOptimize(left.data());
        benchmark::DoNotOptimize(right.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * count * MIX_SAMPLES);
}
BENCHMARK(BM_MixVoicesPanned)->Args({4, 0})->Args({8, 0})->Args({32, 0})->Args({4, 1})->Args({8, 1})->Args({32, 1});

}  // namespace
