// Speed of the music output path: one SDL callback buffer (1024 frames) of
// the demo's module, the whole of "res/kevo.mod" rendered once with
// looping off the way modrender renders it (4096-frame chunks to signed
// 16-bit), and beside it the song's length found by the sequencer alone,
// which is what modrender runs instead of a second render. The modrender
// tool itself is measured with callgrind from the shell.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <vector>

#include "music/mod_player.h"
#include "platform/audio_output.h"

static std::vector<uint8_t> load_kevo() {
    std::vector<uint8_t> bytes;
    FILE *f = fopen(ENGINE_SOURCE_DIR "/res/kevo.mod", "rb");
    if (!f) return bytes;
    int c;
    while ((c = fgetc(f)) != EOF) bytes.push_back(static_cast<uint8_t>(c));
    fclose(f);
    return bytes;
}

static void BM_AudioCallback1024Frames(benchmark::State &state) {
    std::vector<uint8_t> module = load_kevo();
    music_player = mod_player_create(AUDIO_RATE_HZ, module.data(), static_cast<long>(module.size()));
    if (!music_player) {
        state.SkipWithError("res/kevo.mod not playable");
        return;
    }
    mod_player_set_loop(music_player, 1);
    std::vector<Uint8> stream(AUDIO_BUFFER_FRAMES * AUDIO_FRAME_BYTES);
    // Start a little into the song, where all four channels play.
    for (int i = 0; i < 700; i++) audio_callback(nullptr, stream.data(), static_cast<int>(stream.size()));
    for (auto _ : state) {
        audio_callback(nullptr, stream.data(), static_cast<int>(stream.size()));
        benchmark::DoNotOptimize(stream.data());
    }
    state.SetItemsProcessed(state.iterations() * AUDIO_BUFFER_FRAMES);
    mod_player_destroy(music_player);
    music_player = nullptr;
}
BENCHMARK(BM_AudioCallback1024Frames);

static void BM_RenderWholeKevo(benchmark::State &state) {
    std::vector<uint8_t> module = load_kevo();
    std::vector<int16_t> chunk(2 * 4096);
    long frames = 0;
    for (auto _ : state) {
        ModPlayer *player = mod_player_create(AUDIO_RATE_HZ, module.data(), static_cast<long>(module.size()));
        if (!player) {
            state.SkipWithError("res/kevo.mod not playable");
            return;
        }
        frames = 0;
        while (!mod_player_is_finished(player)) {
            mod_player_render_s16(player, chunk.data(), 4096);
            frames += 4096;
        }
        benchmark::DoNotOptimize(chunk.data());
        mod_player_destroy(player);
    }
    state.counters["song_frames"] = static_cast<double>(frames);
}
BENCHMARK(BM_RenderWholeKevo)->Unit(benchmark::kMillisecond);

static void BM_SongLengthKevo(benchmark::State &state) {
    std::vector<uint8_t> module = load_kevo();
    ModPlayer *player = mod_player_create(AUDIO_RATE_HZ, module.data(), static_cast<long>(module.size()));
    if (!player) {
        state.SkipWithError("res/kevo.mod not playable");
        return;
    }
    int64_t frames = 0;
    for (auto _ : state) {
        frames = mod_song_length(player, INT64_MAX, nullptr);
        benchmark::DoNotOptimize(frames);
    }
    state.counters["song_frames"] = static_cast<double>(frames);
    mod_player_destroy(player);
}
BENCHMARK(BM_SongLengthKevo)->Unit(benchmark::kMillisecond);
